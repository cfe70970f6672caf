// The main window TFrm_Main: the model of its screens and run state
// (window/main_model.h, whose stage methods live in their modules), the
// wizard's handlers and the workers the stages run on. Everything here is
// portable; the Win32 view (shell/win32/) draws the model and turns the
// user's input into the handler calls below.
//
// Threads: handlers, the timer and the tips run on the UI thread. Each stage
// runs on a worker of its own, started by StartStage, which frees itself and
// is never waited for; a worker reaches the controls only through
// ui.Sync(...).
#pragma once
#include <atomic>
#include <cstdint>

#include "window/main_model.h"

namespace corvane {

class TFrm_Main : public TMainModel {
 public:
  TFrm_Main(UiThread& ui, Clock& clock, FormHost& host);
  ~TFrm_Main() override;

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

  // Starts a stage on a new self-freeing worker. The run's stages (check,
  // backup, download, install) share one slot: a press that would start one
  // while another of them runs is ignored (returns false).
  bool StartStage(Stage s);
  // Workers still running (tests wait for 0 before the window goes).
  int LiveWorkers() const { return liveWorkers_.load(); }
  bool RunStageBusy() const { return runBusy_.load(); }

 protected:
  // Runs the stage's method; tests replace it to observe the hand-overs.
  void RunStage(Stage s) override;

 private:
  void InitMenu();
  void BindHandlers();

  bool screenSaverWasOn_ = false;
  std::atomic<int> liveWorkers_{0};
  std::atomic<bool> runBusy_{false};
};

}  // namespace corvane
