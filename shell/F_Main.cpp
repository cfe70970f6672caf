#include "shell/F_Main.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "platform/session.h"
#include "shell/Log.h"
#include "shell/startup.h"
#include "shell/window_rules.h"
#include "update/Updater.h"

namespace corvane {

std::string TVerInfo::FileVersion() const { return plat::FileVersionText(); }

#define CORVANE_BIND_CONTROL(n) n(form[#n]),

TFrm_Main::TFrm_Main(UiThread& ui_, Clock& clock_, FormHost& host_)
    : ui(ui_),
      clock(clock_),
      host(host_),
      form("Frm_Main", kAppTitle, 350, 330, BuildMainLayout),
      CORVANE_MAIN_CONTROLS(CORVANE_BIND_CONTROL) VerInfo() {
  form.BindUiThread(&ui);
  TUpdater::Events events;
  events.OnProgress = [this](const UpdateProgress& p) {
    UpdaterProgress(Updater.get(), p.FileURL, p.FileSize, p.BytesRead, p.ElapsedTime, p.EstimatedTimeLeft,
                    p.PercentsDone, p.TotalPercentsDone, p.TransferRate);
  };
  events.OnRestart = [this] { host.CloseMainWindow(); };
  events.OnOpenWebPage = [this](const std::string& url) { host.ShellOpen(url); };
  events.Log = [](const std::string& line) { Log(line); };
  Updater = std::make_unique<TUpdater>(ui, clock, std::move(events));
  InitMenu();
  BindHandlers();
  TipsInfo.OnChange = [this] { form.NotifyAll(nullptr, Control::Change::Visible); };
}

#undef CORVANE_BIND_CONTROL

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

void TFrm_Main::ShowTips(const std::string& pInfo, const std::string& pTitle, Control& pParent, int32_t pTimeout) {
  TipsInfo.SetDisplayTime(static_cast<int64_t>(pTimeout) * 1000);
  TipsInfo.Show(pInfo, pTitle, pParent.Name(), clock.NowMs());
}

// Every balloon showing closes at its next check; the value stays until the
// next ShowTips.
void TFrm_Main::HideTips() { TipsInfo.SetDisplayTime(1); }

std::function<void(int64_t)> TFrm_Main::VerifyProgress(int64_t base, int64_t total) {
  auto shown = std::make_shared<int64_t>(-1);  // thousandths
  return [this, base, total, shown](int64_t hashed) {
    if (total <= 0) return;
    const int64_t done = std::clamp<int64_t>(base + hashed, 0, total);
    const auto thousandths = static_cast<int64_t>(static_cast<double>(done) / static_cast<double>(total) * 1000.0);
    if (thousandths == *shown) return;
    *shown = thousandths;
    ui.Sync([&] {
      host.SetTaskbarProgress(FormHost::TaskbarState::Normal, static_cast<uint64_t>(done), static_cast<uint64_t>(total));
    });
  };
}

void TFrm_Main::ClearTaskbarProgress() {
  ui.Sync([this] { host.SetTaskbarProgress(FormHost::TaskbarState::None, 0, 0); });
}

namespace {
bool IsRunStage(Stage s) { return s != Stage::CheckUpdate; }
}  // namespace

bool TFrm_Main::StartStage(Stage s) {
  if (IsRunStage(s) && runBusy_.exchange(true)) return false;  // one already runs
  ++liveWorkers_;
  try {
    std::thread([this, s] {
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
    }).detach();
  } catch (...) {  // no thread could be made
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
