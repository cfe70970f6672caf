#include "shell/F_Main.h"

namespace corvane {

void TFrm_Main::Thrd_CheckHardware() {
  // The environment check. Built by a later change; nothing runs here yet.
}

}  // namespace corvane
