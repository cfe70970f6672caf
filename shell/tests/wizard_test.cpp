// The wizard: auto-mode countdowns on the virtual clock, the captions as the
// state of the download and install panels, the menu, the tips, and the
// hand-over of each stage to a worker of its own.
#include <atomic>
#include <thread>

#include "shell/tests/window_fixture.h"

namespace corvane::test {
namespace {

class AutoMode : public WindowTest {
 protected:
  // What the environment check does when every item passed.
  void CheckPassed() {
    frm.form.BringToFront(frm.PnlCheckHrd);
    frm.btnCheck2Next.SetCaption("下一步");
    frm.vStep = TStep::Check;
    frm.ArmAutoCountdown();
  }
};

TEST_F(AutoMode, CountsDownOnTheResultThenOnTheBackupAndStartsIt) {
  CheckPassed();
  Seconds(1);
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步(9)");
  Seconds(9);
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步(0)");
  EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlCheckHrd);
  Seconds(1);  // the eleventh tick presses it
  EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlBackup);
  EXPECT_EQ(frm.vStep, TStep::Backup);
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步(0)");
  Seconds(1);
  EXPECT_EQ(frm.btnStartBak.Caption(), "开始备份(9)");
  Seconds(9);
  EXPECT_EQ(frm.btnStartBak.Caption(), "开始备份(0)");
  EXPECT_EQ(frm.Started(Stage::Backup), 0);
  Seconds(1);
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::Backup), 1);
  EXPECT_FALSE(frm.tmrAuto.Enabled());
  EXPECT_EQ(frm.btnStartBak.Caption(), "开始备份(0)");  // left as it was
}

TEST_F(AutoMode, SwitchingOffFreezesTheCaptionAndOnCountsFromNineAgain) {
  CheckPassed();
  Seconds(4);
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步(6)");
  frm.swBtnAuto.Click();
  EXPECT_FALSE(frm.swBtnAuto.Checked());
  EXPECT_FALSE(frm.tmrAuto.Enabled());
  Seconds(20);
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步(6)");
  EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlCheckHrd);
  frm.swBtnAuto.Click();
  Seconds(1);
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步(9)");
}

TEST_F(AutoMode, PressByHandKeepsTheNumberAndStartsTheBackupCountdownAtOnce) {
  CheckPassed();
  Seconds(3);
  frm.btnCheck2Next.Click();
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步(7)");
  EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlBackup);
  Seconds(1);
  EXPECT_EQ(frm.btnStartBak.Caption(), "开始备份(9)");
}

TEST_F(AutoMode, WithTheSwitchOffNothingIsArmed) {
  frm.swBtnAuto.Click();
  CheckPassed();
  EXPECT_FALSE(frm.tmrAuto.Enabled());
  frm.btnCheck2Next.Click();
  EXPECT_EQ(frm.vStep, TStep::Check);  // only the auto mode moves it on
  Seconds(15);
  EXPECT_EQ(frm.btnStartBak.Caption(), "开始备份");
  EXPECT_EQ(frm.Started(Stage::Backup), 0);
}

TEST_F(AutoMode, HomeCountsInSilenceAndPressesNothing) {
  frm.form.BringToFront(frm.PnlHome);
  ASSERT_EQ(frm.vStep, TStep::Home);
  frm.swBtnAuto.Click();
  frm.swBtnAuto.Click();
  EXPECT_TRUE(frm.tmrAuto.Enabled());
  Seconds(12);
  EXPECT_FALSE(frm.tmrAuto.Enabled());  // the eleventh tick ended it
  EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlHome);
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步");
  EXPECT_EQ(frm.btnStartBak.Caption(), "开始备份");
  EXPECT_EQ(frm.Started(Stage::CheckHardware), 0);
}

TEST_F(AutoMode, AFailedCheckIsNotCountedDown) {
  frm.form.BringToFront(frm.PnlCheckHrd);
  frm.btnCheck2Next.SetCaption("重新检测");
  frm.vStep = TStep::Check;  // from an earlier, passed run
  frm.swBtnAuto.Click();
  frm.swBtnAuto.Click();
  Seconds(12);
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "重新检测");
  EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlCheckHrd);
  frm.btnCheck2Next.Click();
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::CheckHardware), 1);
}

// Once the backup runs, the switch can no longer start a second one.
TEST_F(AutoMode, DisarmedOnceTheBackupHasStarted) {
  CheckPassed();
  frm.btnCheck2Next.Click();
  frm.btnStartBak.Click();
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::Backup), 1);
  frm.swBtnAuto.Click();
  frm.swBtnAuto.Click();
  Seconds(15);
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::Backup), 1);
  EXPECT_EQ(frm.btnStartBak.Caption(), "开始备份");
}

using Captions = WindowTest;

TEST_F(Captions, PauseAskedOnceThenResumedOnANewWorker) {
  std::atomic<std::thread::id> worker{};
  frm.body = [&](Stage) { worker = std::this_thread::get_id(); };
  frm.btnPause.Click();
  EXPECT_EQ(frm.btnPause.Caption(), "暂停中");
  frm.btnPause.Click();  // a second press does nothing
  EXPECT_EQ(frm.btnPause.Caption(), "暂停中");
  EXPECT_EQ(frm.Started(Stage::Download), 0);
  frm.btnPause.SetCaption("继续");  // the stage ended after the pause
  frm.btnPause.Click();
  EXPECT_EQ(frm.btnPause.Caption(), "暂停");
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::Download), 1);
  EXPECT_NE(worker.load(), std::this_thread::get_id());
}

TEST_F(Captions, CancelAskedOnceThenExitCloses) {
  frm.btnCancel.Click();
  EXPECT_EQ(frm.btnCancel.Caption(), "取消中");
  frm.btnCancel.Click();
  EXPECT_EQ(frm.btnCancel.Caption(), "取消中");
  EXPECT_EQ(host.closes, 0);
  frm.btnCancel.SetCaption("退出");
  frm.btnCancel.Click();
  EXPECT_EQ(host.closes, 1);
}

TEST_F(Captions, CancelDuringAPauseClosesAtOnce) {
  frm.btnPause.SetCaption("继续");
  frm.btnCancel.Click();
  EXPECT_EQ(host.closes, 1);
  EXPECT_EQ(frm.btnCancel.Caption(), "取消");
  EXPECT_EQ(frm.Started(Stage::Download), 0);
}

TEST_F(Captions, InstallButtonActsOnItsCaption) {
  for (const char* busy : {"安装中...", "校验中...", "引导中..."}) {
    frm.btnInstall.SetCaption(busy);
    frm.btnInstall.Click();
  }
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::Install) + frm.Started(Stage::Download), 0);
  frm.btnInstall.SetCaption("重试");
  frm.btnInstall.Click();
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::Install), 1);
  frm.btnInstall.SetCaption("重新下载");
  frm.btnInstall.Click();
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::Download), 1);
}

TEST_F(Captions, CancelBackupSetsTheFlagTheWorkerReads) {
  std::atomic<bool> sawStop{false};
  frm.body = [&](Stage) {
    // What the backup does: read the flag between files.
    for (int i = 0; i < 2000 && !frm.vStopBackup; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sawStop = frm.vStopBackup.load();
  };
  frm.btnStartBak.Click();
  frm.btnCancelBackup.Click();
  WaitForWorkers();
  EXPECT_TRUE(sawStop);
}

using Stages = WindowTest;

// A press that would start a stage of the run while one runs is ignored.
TEST_F(Stages, SecondPressWhileTheCheckRunsIsIgnored) {
  std::atomic<bool> release{false};
  frm.body = [&](Stage) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  frm.btnStart.Click();
  frm.btnStart.Click();
  frm.btnCheck2Next.SetCaption("重新检测");
  frm.btnCheck2Next.Click();
  frm.btnPause.SetCaption("继续");
  frm.btnPause.Click();
  EXPECT_EQ(frm.btnPause.Caption(), "继续");  // not pretending to resume
  release = true;
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::CheckHardware), 1);
  EXPECT_EQ(frm.Started(Stage::Download), 0);
  frm.btnStart.Click();
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::CheckHardware), 2);
}

// A worker reaches the controls only through the UI thread.
TEST_F(Stages, WorkersHandTheirStepsToTheUiThread) {
  frm.body = [&](Stage) {
    for (int i = 0; i <= 100; i += 10)
      ui.Sync([&] {
        frm.pbDownLoad.SetPosition(i);
        frm.lblDownLoadInfo.SetCaption("进度 " + std::to_string(i));
      });
  };
  frm.btnPause.SetCaption("继续");
  frm.btnPause.Click();
  WaitForWorkers();
  EXPECT_EQ(frm.pbDownLoad.Position(), 100);
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "进度 100");
}

// The hand-off's hashing shows on the taskbar button as the bytes hashed of
// both images, handed over only when the shown thousandth moves.
TEST_F(Stages, VerificationProgressReachesTheTaskbarFromTheWorker) {
  frm.body = [&](Stage) {
    auto install = frm.VerifyProgress(0, 3000);
    for (int64_t n : {1, 2, 1000, 2000}) install(n);
    auto boot = frm.VerifyProgress(2000, 3000);
    for (int64_t n : {500, 1000, 1500}) boot(n);  // past the total: held at the end
    frm.ClearTaskbarProgress();
  };
  frm.btnInstall.SetCaption("重试");
  frm.btnInstall.Click();
  WaitForWorkers();
  std::vector<std::string> shown;
  for (const auto& t : host.taskbar)
    shown.push_back(std::to_string(static_cast<int>(t.state)) + ":" + std::to_string(t.done) + "/" +
                    std::to_string(t.total));
  EXPECT_EQ(shown, (std::vector<std::string>{"2:1/3000", "2:1000/3000", "2:2000/3000", "2:2500/3000", "2:3000/3000",
                                             "0:0/0"}));
}

TEST_F(Stages, StartClickHidesTheTips) {
  frm.ShowTips("notice", "", frm.PnlHome, 0);
  frm.btnStart.Click();
  EXPECT_EQ(frm.TipsInfo.DisplayTime(), 1);
  Advance(600);
  EXPECT_TRUE(frm.TipsInfo.Showing().empty());
}

using Menu = WindowTest;

TEST_F(Menu, OpensUnderTheMenuButtonWithItsItems) {
  frm.btnMenu.Click();
  ASSERT_EQ(host.menus.size(), 1u);
  EXPECT_EQ(host.menus[0], std::make_pair(200 + 352 - 95, 100 + 19));
  std::vector<std::string> captions;
  for (auto& item : frm.PopMenus) captions.push_back(item.caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"官方主页", "问题反馈", "检测升级", "-", "关于我们"}));
  EXPECT_TRUE(frm.PopMenus[3].Separator());
}

TEST_F(Menu, ItemsOpenTheHomepageTheMailboxTheCheckAndTheAbout) {
  frm.vSilentCheck = true;
  for (auto& item : frm.PopMenus)
    if (item.onClick) item.onClick();
  ASSERT_EQ(host.opened.size(), 2u);
  EXPECT_EQ(host.opened[0], CORVANE_HOMEPAGE);
  EXPECT_EQ(host.opened[1].rfind("mailto:", 0), 0u);
  EXPECT_FALSE(frm.vSilentCheck);
  EXPECT_EQ(host.abouts, 1);
  WaitForWorkers();
  EXPECT_EQ(frm.Started(Stage::CheckUpdate), 1);
}

using Tips = WindowTest;

TEST_F(Tips, BalloonsStackAndHideTipsClosesEveryOne) {
  frm.ShowTips("one", "", frm.PnlDownload, 0);
  frm.ShowTips("two", "", frm.PnlDownload, 0);
  Seconds(30);
  ASSERT_EQ(frm.TipsInfo.Showing().size(), 2u);  // 0: no time limit
  frm.HideTips();
  Advance(50);
  EXPECT_EQ(frm.TipsInfo.Showing().size(), 2u);  // fading
  Advance(500);
  EXPECT_TRUE(frm.TipsInfo.Showing().empty());
  EXPECT_EQ(frm.TipsInfo.DisplayTime(), 1);  // until the next ShowTips
}

TEST_F(Tips, TheDisplayTimeIsSharedByEveryBalloon) {
  frm.ShowTips("timed", "", frm.PnlInstall, 2);
  Seconds(1);
  frm.ShowTips("untimed", "", frm.PnlInstall, 0);  // lifts the limit of both
  Seconds(5);
  EXPECT_EQ(frm.TipsInfo.Showing().size(), 2u);
  frm.ShowTips("timed again", "", frm.PnlInstall, 3);
  Seconds(3);
  Advance(550);
  EXPECT_TRUE(frm.TipsInfo.Showing().empty());
}

TEST_F(Tips, TheUserClosesOneBalloon) {
  frm.ShowTips("one", "", frm.PnlHome, 0);
  frm.ShowTips("two", "", frm.PnlHome, 0);
  frm.TipsInfo.Close(frm.TipsInfo.Showing()[0].id);
  ASSERT_EQ(frm.TipsInfo.Showing().size(), 1u);
  EXPECT_EQ(frm.TipsInfo.Showing()[0].info, "two");
}

}  // namespace
}  // namespace corvane::test
