// TFrm_Main's update check, on its worker: silent at start-up (with the
// server directory and the start-up event), with a message from the menu.
#include "download/ServerUrl.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "window/main_model.h"
#include "update/Updater.h"

namespace corvane {

void TMainModel::CheckUpdate() {
  try {
    // Read once: a menu check started meanwhile must not turn this
    // start-up check into a menu check half-way.
    const bool silent = vSilentCheck;
    clock.SleepMs(800);
    if (silent) Thrd_GetServerInfo();
    Updater->SetInfoFileURL(ServerUrl() + "update.inf");
    if (Updater->CheckUpdate(true)) {
      ui.Sync([this] {
        form.BringToFront(PnlUpdate);
        lblUpdateInfo.SetCaption("有新版本，3秒后进行升级...");
        pbUpdate.SetPosition(0);
      });
      clock.SleepMs(3000);
      Updater->CheckUpdate(false);
    } else if (silent) {
      Statistics(GetMachineId(), VerInfo.FileVersion(), 0);
    } else {
      ui.Sync([this] { host.MessageBox("在线升级", "恭喜你，当前已经是最新版本！", FormHost::MsgIcon::Success); });
    }
  } catch (...) {
    // A background check ends silently.
  }
}

void TMainModel::UpdaterProgress(void*, const std::string&, int32_t, int32_t, int32_t, int32_t, uint8_t,
                                uint8_t TotalPercentsDone, float TransferRate) {
  lblUpdateInfo.SetCaption(UpdateProgressText(TotalPercentsDone, TransferRate, plat::DecimalSeparator()));
  pbUpdate.SetPosition(TotalPercentsDone);
}

}  // namespace corvane
