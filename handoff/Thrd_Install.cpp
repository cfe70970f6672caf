#include "shell/F_Main.h"

namespace corvane {

void TFrm_Main::Thrd_Install() {
  // The verification and hand-off. Built by a later change; nothing runs here yet.
}

}  // namespace corvane
