#include "shell/F_Main.h"

namespace corvane {

bool TFrm_Main::MakeBoot(const std::string& /*pTitle*/, int32_t /*pTimeout*/) {
  // The boot entry. Built by a later change; nothing runs here yet.
  return false;  // no entry was made
}

}  // namespace corvane
