#include "shell/F_Main.h"

namespace corvane {

void TFrm_Main::Thrd_GetServerInfo() {
  // The server directory fetch. Built by a later change; nothing runs here yet.
}

}  // namespace corvane

namespace corvane {

void TFrm_Main::Statistics(const std::string& /*pMID*/, const std::string& /*pClientVer*/, int32_t /*pType*/) {
  // The usage report. Built by a later change; nothing is sent yet.
}

}  // namespace corvane
