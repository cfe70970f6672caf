// The wizard: button and menu handlers, auto mode. The captions of
// btnCheck2Next, btnPause, btnCancel and btnInstall are the state that the
// handlers and the stages exchange; a handler decides by the current
// caption (exact comparison, containment for btnCheck2Next).
#include <string>

#include "common/text.h"
#include "inspection/uCommon.h"
#include "shell/F_Main.h"

namespace corvane {

void TFrm_Main::btnStartClick() {
  HideTips();
  StartStage(Stage::CheckHardware);
}

void TFrm_Main::btnCheck2NextClick() {
  if (Contains(btnCheck2Next.Caption(), "重新检测")) {
    StartStage(Stage::CheckHardware);
    return;
  }
  form.BringToFront(PnlBackup);
  if (swBtnAuto.Checked()) {
    vStep = TStep::Backup;
    ArmAutoCountdown();
  }
}

void TFrm_Main::btnStartBakClick() {
  vTimeout = 10;
  SetAutoTimer(false);
  if (StartStage(Stage::Backup)) {
    // The auto mode has done its work for this run: with vStep still on
    // Backup, switching it off and on would press the hidden backup button
    // again and start a second backup. Download is the step it ignores.
    vStep = TStep::Download;
  }
}

void TFrm_Main::btnCancelBackupClick() { vStopBackup = true; }

void TFrm_Main::btnCancelClick() {
  const std::string cancel = btnCancel.Caption();
  if (cancel == "取消") {
    if (btnPause.Caption() == "继续")
      host.CloseMainWindow();  // paused, no stage runs: the program ends
    else
      btnCancel.SetCaption("取消中");  // read by the download stage
  } else if (cancel == "退出") {
    host.CloseMainWindow();
  }
  // "取消中": the request is already made.
}

void TFrm_Main::btnPauseClick() {
  const std::string pause = btnPause.Caption();
  if (pause == "暂停") {
    btnPause.SetCaption("暂停中");  // read by the download stage
  } else if (pause == "继续") {
    if (RunStageBusy()) return;  // the stage is still winding down
    btnPause.SetCaption("暂停");
    StartStage(Stage::Download);  // resumes the interrupted download
  }
  // "暂停中": the request is already made.
}

void TFrm_Main::btnInstallClick() {
  const std::string caption = btnInstall.Caption();
  if (caption == "重试")
    StartStage(Stage::Install);
  else if (caption == "重新下载")
    StartStage(Stage::Download);
  else if (caption == "立刻重启") {
    // At once, without waiting for the hand-off's own restart, which then
    // asks for no second one. Each press asks again (another program may
    // have refused the first).
    restartDone_ = true;
    RestartComputer();
  }
  // "安装中...", "校验中...", "引导中...": busy, nothing to do.
}

void TFrm_Main::btnMenuClick() {
  // Under the menu button: its left edge lies 95 pixels left of the window's
  // right edge, its top at -1; the menu opens 20 pixels below that.
  const FormHost::Rect r = host.WindowRect();
  host.PopupMenu(r.left + r.width - 95, r.top + 19);
}

void TFrm_Main::menuBtnHomepageClick() { host.ShellOpen(CORVANE_HOMEPAGE); }

void TFrm_Main::menuBtnFeedbackClick() { host.ShellOpen(CORVANE_FEEDBACK_MAIL); }

void TFrm_Main::menuBtnCheckUpdateClick() {
  vSilentCheck = false;
  StartStage(Stage::CheckUpdate);
}

void TFrm_Main::menuAboutClick() { host.ShowAboutModal(); }

// The countdown captions already written stay as they are.
void TFrm_Main::swBtnAutoChanged() {
  vTimeout = 10;
  SetAutoTimer(swBtnAuto.Checked());
}

void TFrm_Main::tmrAutoTimer() {
  const bool onCheck = vStep == TStep::Check && Contains(btnCheck2Next.Caption(), "下一步");
  if (vTimeout == 0) {
    vTimeout = 10;
    SetAutoTimer(false);
    if (onCheck)
      btnCheck2NextClick();
    else if (vStep == TStep::Backup)
      btnStartBakClick();
    return;  // Home and Download count in silence
  }
  --vTimeout;
  if (onCheck)
    btnCheck2Next.SetCaption("下一步(" + std::to_string(vTimeout) + ")");
  else if (vStep == TStep::Backup)
    btnStartBak.SetCaption("开始备份(" + std::to_string(vTimeout) + ")");
}

}  // namespace corvane
