// The main window TFrm_Main: the model of its screens, the run state of one
// upgrade run, the wizard's handlers and the stage methods. Everything here
// is portable; the Win32 view (shell/win32/) draws the model and turns the
// user's input into the handler calls below.
//
// Threads: handlers, the timer and the tips run on the UI thread. Each stage
// runs on a worker of its own, started by StartStage, which frees itself and
// is never waited for; a worker reaches the controls only through
// ui.Sync(...).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/ui_thread.h"
#include "shell/F_Main_controls.h"
#include "shell/form_host.h"
#include "shell/form_model.h"
#include "shell/tips_model.h"

namespace corvane {

class TThunder;

// The wizard step whose default button the auto mode counts down on.
enum class TStep : uint8_t { Home = 0, Check = 1, Backup = 2, Download = 3 };

// The stages a handler can start on a worker.
enum class Stage : uint8_t { CheckHardware, Backup, Download, Install, CheckUpdate };

// The version-information component: FileVersion of the program's version
// resource.
struct TVerInfo {
  std::string FileVersion() const;
};

class TFrm_Main {
 public:
  TFrm_Main(UiThread& ui, Clock& clock, FormHost& host);
  virtual ~TFrm_Main();
  TFrm_Main(const TFrm_Main&) = delete;
  TFrm_Main& operator=(const TFrm_Main&) = delete;

  UiThread& ui;
  Clock& clock;
  FormHost& host;

  // ---- the screens -------------------------------------------------------
  Form form;  // every control below lives in it
#define CORVANE_DECLARE_CONTROL(n) Control& n;
  CORVANE_MAIN_CONTROLS(CORVANE_DECLARE_CONTROL)
#undef CORVANE_DECLARE_CONTROL
  Timer tmrAuto{"tmrAuto", 1000};
  TipsModel TipsInfo;
  std::vector<MenuItem> PopMenus;
  TVerInfo VerInfo;

  // ---- run state (all start empty, 0 or false) ---------------------------
  // Written by the environment check inside its hand-overs to the UI thread;
  // read by the later stages, which start after it.
  std::string vDataDriver;
  // UI thread only.
  TStep vStep = TStep::Home;
  int32_t vTimeout = 0;
  // Written by the check (vPlatform) and the download stage, read by the
  // stages that run after them on the same or a later worker.
  std::string vPlatform;
  std::string vExtractSize;
  std::string vEsdKey;
  std::string vEsdHash;
  std::string vBootHash;
  // Written on the UI thread, read by the backup worker.
  std::atomic<bool> vStopBackup{false};
  // Written on the UI thread before CheckUpdate's worker starts; read there.
  std::atomic<bool> vSilentCheck{false};
  // Stage-private state kept on the window.
  std::vector<std::string> vFileList;  // backup: files of the part being copied
  TThunder* vThunder = nullptr;        // download: the wrapper of the file in progress

  // ---- window life ---------------------------------------------------------
  void FormCreate();
  void FormClose();
  void FormDestroy();
  // The message rules of the window procedure: true when the message is
  // dropped (result 0); otherwise it gets the default processing.
  bool WndProc(uint32_t msg, uintptr_t wParam);
  // After the default activation handling.
  void WMActivate(uintptr_t wParam);
  // Runs the due timer events and the tips' periodic check; the view calls
  // it about every 50 ms, tests after each step of the virtual clock.
  void Pump();

  // ---- handlers (UI thread) ----------------------------------------------
  void btnStartClick();
  void btnCheck2NextClick();
  void btnStartBakClick();
  void btnCancelBackupClick();
  void btnPauseClick();
  void btnCancelClick();
  void btnInstallClick();
  void btnMenuClick();
  void menuBtnHomepageClick();
  void menuBtnFeedbackClick();
  void menuBtnCheckUpdateClick();
  void menuAboutClick();
  void swBtnAutoChanged();
  void tmrAutoTimer();

  // ---- tips (UI thread) ----------------------------------------------------
  // pTimeout in seconds; 0 means the balloons stay until hidden or closed.
  void ShowTips(const std::string& pInfo, const std::string& pTitle, Control& pParent, int32_t pTimeout);
  void HideTips();

  // ---- stages (each on its worker; bodies in their modules) ----------------
  void Thrd_CheckHardware();                                   // inspection/
  void Thrd_GetServerInfo();                                   // download/
  void Statistics(const std::string& pMID, const std::string& pClientVer, int32_t pType);  // download/
  void Thrd_Backup();                                          // backup/
  void Thrd_Download();                                        // download/
  void Thrd_Install();                                         // handoff/
  bool MakeBoot(const std::string& pTitle, int32_t pTimeout);  // handoff/
  void CheckUpdate();                                          // update/

  // Arms the auto-mode countdown when the switch is on: vTimeout := 10 and
  // tmrAuto enabled (the check arms it with vStep = Check).
  void ArmAutoCountdown();
  void SetAutoTimer(bool on) { tmrAuto.SetEnabled(on, clock.NowMs()); }

  // Starts a stage on a new self-freeing worker. The run's stages (check,
  // backup, download, install) share one slot: a press that would start one
  // while another of them runs is ignored (returns false).
  bool StartStage(Stage s);
  // Workers still running (tests wait for 0 before the window goes).
  int LiveWorkers() const { return liveWorkers_.load(); }
  bool RunStageBusy() const { return runBusy_.load(); }

 protected:
  // Runs the stage's method; tests replace it to observe the hand-overs.
  virtual void RunStage(Stage s);

 private:
  void InitMenu();
  void BindHandlers();

  bool screenSaverWasOn_ = false;
  // The computer has been asked to restart since the hand-off succeeded:
  // by "立刻重启" (UI thread) or at the end of the hand-off's wait (worker).
  std::atomic<bool> restartDone_{false};
  std::atomic<int> liveWorkers_{0};
  std::atomic<bool> runBusy_{false};
};

// Builds the main window's controls with their places, looks and texts.
void BuildMainLayout(Form& form);

}  // namespace corvane
