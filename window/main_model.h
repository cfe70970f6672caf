// The model of the main window that the stage methods work on: its screens,
// the run state of one upgrade run and the few services a stage needs from
// the window (tips, the auto-mode countdown, the taskbar progress, running a
// further stage on its own worker). Everything here is portable; the window
// itself, TFrm_Main (shell/F_Main.h), adds the wizard's handlers and the
// workers, and the Win32 view (shell/win32/) draws the model.
//
// Threads: the tips and the timer run on the UI thread. Each stage runs on a
// worker of its own and reaches the controls only through ui.Sync(...).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/ui_thread.h"
#include "window/F_Main_controls.h"
#include "window/form_host.h"
#include "window/form_model.h"
#include "window/tips_model.h"

namespace corvane {

class TThunder;
class TUpdater;

inline constexpr const char* kMainClassName = "TFrm_Main";
inline constexpr const char* kAppTitle = "QuilloWin10升级助理";

// The wizard step whose default button the auto mode counts down on.
enum class TStep : uint8_t { Home = 0, Check = 1, Backup = 2, Download = 3 };

// The stages a handler can start on a worker.
enum class Stage : uint8_t { CheckHardware, Backup, Download, Install, CheckUpdate };

// The version-information component: FileVersion of the program's version
// resource.
struct TVerInfo {
  std::string FileVersion() const;
};

class TMainModel {
 public:
  TMainModel(UiThread& ui, Clock& clock, FormHost& host);
  virtual ~TMainModel();
  TMainModel(const TMainModel&) = delete;
  TMainModel& operator=(const TMainModel&) = delete;

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
  // The update component (update/Updater.h), made and given its events by
  // the window; its events run UpdaterProgress, close the window after the
  // hand-over and open a web page. The deleter comes with the component, so
  // that the model needs no more of it than its name.
  std::unique_ptr<TUpdater, void (*)(TUpdater*)> Updater{nullptr, nullptr};

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
  // The update component's progress event (UI thread).            update/
  void UpdaterProgress(void* Sender, const std::string& FileURL, int32_t FileSize, int32_t BytesRead,
                       int32_t ElapsedTime, int32_t EstimatedTimeLeft, uint8_t PercentsDone,
                       uint8_t TotalPercentsDone, float TransferRate);

  // Taskbar progress while the hand-off hashes the images, from its worker:
  // the listener for GetFileSHA1 of a file that begins `base` bytes into the
  // `total` bytes to hash. The taskbar hears of it when the shown thousandth
  // changes. ClearTaskbarProgress (from a worker) takes the progress away.
  std::function<void(int64_t bytesHashed)> VerifyProgress(int64_t base, int64_t total);
  void ClearTaskbarProgress();

  // Arms the auto-mode countdown when the switch is on: vTimeout := 10 and
  // tmrAuto enabled (the check arms it with vStep = Check).
  void ArmAutoCountdown();
  void SetAutoTimer(bool on) { tmrAuto.SetEnabled(on, clock.NowMs()); }

 protected:
  // Runs the stage's method on the calling worker: a stage goes on to the
  // next one through it (the window runs the method; tests replace it to
  // observe the hand-overs).
  virtual void RunStage(Stage s) = 0;

  // The computer has been asked to restart since the hand-off succeeded:
  // by "立刻重启" (UI thread) or at the end of the hand-off's wait (worker).
  std::atomic<bool> restartDone_{false};
};

// Builds the main window's controls with their places, looks and texts.
void BuildMainLayout(Form& form);

}  // namespace corvane
