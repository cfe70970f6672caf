#include "shell/F_Main.h"

namespace corvane {

void TFrm_Main::CheckUpdate() {
  // The self-update check. Built by a later change; nothing runs here yet.
}

}  // namespace corvane
