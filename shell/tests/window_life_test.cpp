// The main window's life on the simulated machine: what creation and
// destruction leave behind.
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "shell/startup.h"
#include "shell/tests/window_fixture.h"
#include "tests/support/test_support.h"

namespace corvane::test {
namespace {

class WindowLife : public SimMachineTest {
 protected:
  void TearDown() override {
    for (int i = 0; i < 12000 && frm.LiveWorkers() > 0; ++i) ui.WaitAndRun(5);
    SimMachineTest::TearDown();
  }
  VirtualClock clock;
  TaskQueueUiThread ui;
  RecordingHost host;
  RecordingFrm frm{ui, clock, host};
};

bool Has(const std::vector<std::string>& events, const std::string& e) {
  return std::find(events.begin(), events.end(), e) != events.end();
}

TEST_F(WindowLife, FirstStateAfterCreation) {
  frm.FormCreate();
  EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlHome);
  EXPECT_TRUE(frm.swBtnAuto.Checked());
  EXPECT_FALSE(frm.tmrAuto.Enabled());  // the switch raised no change event
  EXPECT_EQ(frm.vStep, TStep::Home);
  EXPECT_TRUE(frm.vSilentCheck);
  EXPECT_FALSE(frm.chkBakMyDoc.Checked());
  EXPECT_FALSE(frm.chkBakDesktop.Checked());
  EXPECT_FALSE(frm.chkBakIEFav.Checked());
  EXPECT_TRUE(frm.chkBakADSL.Checked());
  for (Control* pb : {&frm.pbBackup, &frm.pbDownLoad, &frm.pbUpdate}) EXPECT_EQ(pb->Position(), 0) << pb->Name();
  EXPECT_EQ(frm.btnCheck2Next.Caption(), "下一步");
  EXPECT_EQ(frm.btnPause.Caption(), "暂停");
  EXPECT_EQ(frm.btnCancel.Caption(), "取消");
  EXPECT_EQ(frm.btnInstall.Caption(), "安装中...");
  for (int i = 0; i < 12000 && frm.LiveWorkers() > 0; ++i) ui.WaitAndRun(5);
  EXPECT_EQ(frm.Started(Stage::CheckUpdate), 1);  // the silent update check
}

TEST_F(WindowLife, CreationUnpacksAndHoldsOffIdleDestructionCleansUp) {
  plat::ForceDirectories(GetAppDataDir());
  frm.FormCreate();
  EXPECT_TRUE(plat::FileExists(WorkFolder() + "\\bcdedit.exe"));
  auto events = plat::sim::Events();
  EXPECT_TRUE(Has(events, "screensaver off"));
  EXPECT_TRUE(Has(events, "execution state 0x80000003"));
  frm.FormClose();
  frm.FormDestroy();
  EXPECT_FALSE(plat::DirectoryExists(WorkFolder()));
  EXPECT_TRUE(Has(plat::sim::Events(), "screensaver on"));  // as it was found
}

TEST_F(WindowLife, AScreenSaverFoundOffStaysOff) {
  Patch({{"screenSaver", false}});
  frm.FormCreate();
  frm.FormDestroy();
  EXPECT_FALSE(Has(plat::sim::Events(), "screensaver on"));
}

TEST_F(WindowLife, CreationWithoutAnAppDataFolderStillShowsTheHomePanel) {
  Patch({{"shellFolders", {{"AppData", "Q:\\Missing"}}}});
  EXPECT_NO_THROW(frm.FormCreate());
  EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlHome);
  EXPECT_NO_THROW(frm.FormDestroy());
}

TEST_F(WindowLife, RestartNowRestartsAtOnce) {
  frm.btnInstall.SetCaption("立刻重启");
  frm.btnInstall.Click();
  EXPECT_TRUE(Has(plat::sim::Events(), "restart"));
  EXPECT_EQ(frm.LiveWorkers(), 0);  // on the spot, no stage
}

TEST_F(WindowLife, BusyInstallCaptionsRestartNothing) {
  frm.btnInstall.Click();  // "安装中..."
  EXPECT_FALSE(Has(plat::sim::Events(), "restart"));
}

}  // namespace
}  // namespace corvane::test
