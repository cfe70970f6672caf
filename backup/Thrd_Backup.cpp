#include "shell/F_Main.h"

namespace corvane {

void TFrm_Main::Thrd_Backup() {
  // The backup stage. Built by a later change; nothing runs here yet.
}

}  // namespace corvane
