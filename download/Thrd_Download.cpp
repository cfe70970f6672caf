#include "shell/F_Main.h"

namespace corvane {

void TFrm_Main::Thrd_Download() {
  // The download stage. Built by a later change; nothing runs here yet.
}

}  // namespace corvane
