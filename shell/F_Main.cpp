#include "shell/F_Main.h"

#include <thread>

#include "platform/detached_thread.h"
#include "platform/session.h"
#include "shell/startup.h"
#include "shell/window_rules.h"
#include "update/Updater.h"
#include "window/Log.h"

namespace corvane {

TFrm_Main::TFrm_Main(UiThread& ui_, Clock& clock_, FormHost& host_) : TMainModel(ui_, clock_, host_) {
  TUpdater::Events events;
  events.OnProgress = [this](const UpdateProgress& p) {
    UpdaterProgress(Updater.get(), p.FileURL, p.FileSize, p.BytesRead, p.ElapsedTime, p.EstimatedTimeLeft,
                    p.PercentsDone, p.TotalPercentsDone, p.TransferRate);
  };
  events.OnRestart = [this] { host.CloseMainWindow(); };
  events.OnOpenWebPage = [this](const std::string& url) { host.ShellOpen(url); };
  events.Log = [](const std::string& line) { Log(line); };
  Updater = decltype(Updater)(new TUpdater(ui, clock, std::move(events)), [](TUpdater* u) { delete u; });
  InitMenu();
  BindHandlers();
  TipsInfo.OnChange = [this] { form.NotifyAll(nullptr, Control::Change::Visible); };
}

// Workers that still run hold `this`; the program never destroys its main
// window before the process ends, and tests wait for LiveWorkers() == 0.
TFrm_Main::~TFrm_Main() = default;

void TFrm_Main::InitMenu() {
  PopMenus = {
      {"menuBtnHomepage", "官方主页", [this] { menuBtnHomepageClick(); }},
      {"menuBtnFeedback", "问题反馈", [this] { menuBtnFeedbackClick(); }},
      {"menuBtnCheckUpdate", "检测升级", [this] { menuBtnCheckUpdateClick(); }},
      {"N3", "-", nullptr},
      {"menuAbout", "关于我们", [this] { menuAboutClick(); }},
  };
}

void TFrm_Main::BindHandlers() {
  btnClose.OnClick = [this] { host.CloseMainWindow(); };
  btnMenu.OnClick = [this] { btnMenuClick(); };
  btnStart.OnClick = [this] { btnStartClick(); };
  btnCheck2Next.OnClick = [this] { btnCheck2NextClick(); };
  btnStartBak.OnClick = [this] { btnStartBakClick(); };
  btnCancelBackup.OnClick = [this] { btnCancelBackupClick(); };
  btnPause.OnClick = [this] { btnPauseClick(); };
  btnCancel.OnClick = [this] { btnCancelClick(); };
  btnInstall.OnClick = [this] { btnInstallClick(); };
  swBtnAuto.OnChange = [this] { swBtnAutoChanged(); };
  tmrAuto.OnTimer = [this] { tmrAutoTimer(); };
  // btnMin is the view's business: it minimises the window.
}

void TFrm_Main::FormCreate() {
  form.BringToFront(PnlHome);
  vSilentCheck = true;
  vStep = TStep::Home;
  TUpdater::DeleteLeftoverReplacer();
  StartStage(Stage::CheckUpdate);
  UnpackPayload();  // swallows every error
  screenSaverWasOn_ = plat::ScreenSaverActive();
  plat::SetScreenSaverActive(false);
  plat::KeepSystemAwake();
}

// Closing always ends the program, whatever a worker is doing.
void TFrm_Main::FormClose() { HideTips(); }

// The screen saver gets back the state found at start-up; the request to
// stay awake ends with the process.
void TFrm_Main::FormDestroy() {
  RemoveWorkFolder();
  if (screenSaverWasOn_) plat::SetScreenSaverActive(true);
}

bool TFrm_Main::WndProc(uint32_t msg, uintptr_t wParam) { return DropsMessage(msg, wParam); }

void TFrm_Main::WMActivate(uintptr_t wParam) {
  // 0 is WA_INACTIVE of a window that is not minimised; minimising passes
  // the minimised flag in the high word and keeps the balloons.
  if (wParam == 0) HideTips();
}

void TFrm_Main::Pump() {
  const int64_t now = clock.NowMs();
  tmrAuto.RunIfDue(now);
  TipsInfo.Check(now);
}

namespace {
bool IsRunStage(Stage s) { return s != Stage::CheckUpdate; }
}  // namespace

bool TFrm_Main::StartStage(Stage s) {
  if (IsRunStage(s) && runBusy_.exchange(true)) return false;  // one already runs
  ++liveWorkers_;
  const bool started = plat::StartDetachedThread([this, s] {
    try {
      RunStage(s);
    } catch (const std::exception& e) {
      // Stages catch their own errors; this keeps a stray one from ending
      // the process.
      Log(std::string("Worker Error:") + e.what());
    } catch (...) {
      Log("Worker Error:");
    }
    if (IsRunStage(s)) runBusy_ = false;
    --liveWorkers_;
  });
  if (!started) {  // no thread could be made
    if (IsRunStage(s)) runBusy_ = false;
    --liveWorkers_;
    return false;
  }
  return true;
}

void TFrm_Main::RunStage(Stage s) {
  switch (s) {
    case Stage::CheckHardware: Thrd_CheckHardware(); break;
    case Stage::Backup: Thrd_Backup(); break;
    case Stage::Download: Thrd_Download(); break;
    case Stage::Install: Thrd_Install(); break;
    case Stage::CheckUpdate: CheckUpdate(); break;
  }
}

}  // namespace corvane
