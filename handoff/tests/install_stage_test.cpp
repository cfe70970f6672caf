// The hand-off stage on the simulated machine with the virtual clock: started
// from the install button's "重试" on its own worker, its screen steps run on
// the test's UI thread, the usage event sent to a loopback operator server,
// the restart recorded by the machine.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "common/text.h"
#include "common/ui_thread.h"
#include "download/ServerUrl.h"
#include "handoff/tests/handoff_machine.h"
#include "inspection/uCommon.h"
#include "shell/F_Main.h"
#include "tests/support/op_server.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/no_host.h"

namespace corvane {
namespace {

const char* const kInstallImage = "D:\\Win10Data\\System\\Install.img";
const char* const kBootImage = "C:\\Boot\\Win8PE.iso";
const char* const kHandoffFile = "D:\\Win10Data\\Config.ini";
const char* const kSuccessInfo = "恭喜您，即将进入Windows10引导程序！";
const char* const kSuccessTip = " 引导成功，10秒后重启系统进入Windows安装程序！";
const char* const kFailureInfo = "糟糕，引导进入Windows10安装程序失败！";
const char* const kFailureTip = " 引导过程遭到安全软件拦截，请放行或者暂时退出安全软件！";

struct NoHost : test::NoHost {
  // The taskbar button's progress, "state done/total" (UI thread).
  std::vector<std::string> taskbar;
  void SetTaskbarProgress(TaskbarState s, uint64_t done, uint64_t total) override {
    taskbar.push_back(std::to_string(static_cast<int>(s)) + " " + std::to_string(done) + "/" + std::to_string(total));
  }
};

class InstallStage : public test::HandoffMachine {
 protected:
  void SetUp() override {
    HandoffMachine::SetUp();
    Patch({{"wmi",
            {{"Processor", {{{"ProcessorId", "BFEBFBFF000306A9"}}}},
             {"DiskDrive", {{{"SerialNumber", "WD-123"}}}}}}});
    server_ = std::make_unique<test::TestServer>();
    SetServerUrl(server_->Url("/corvane/"));
    MakeFile(kInstallImage, "the install image");
    MakeFile(kBootImage, "the boot image");
    frm_.vDataDriver = "D:";
    frm_.vPlatform = "X64";
    frm_.vExtractSize = "5573967872";
    frm_.vEsdKey = "KEY-7Q2";
    frm_.vEsdHash = GetFileSHA1(kInstallImage);
    frm_.vBootHash = GetFileSHA1(kBootImage);
    // Every text the install panel shows, in order.
    frm_.form.Observe([this](Control* c, Control::Change ch) {
      if (!c || ch != Control::Change::Caption || (c != &frm_.lblInstallInfo && c != &frm_.btnInstall)) return;
      if (rows_.empty()) {  // what the first step had done by then
        frontAtFirstRow_ = frm_.form.FrontPanel();
        tipsHiddenAtFirstRow_ = frm_.TipsInfo.DisplayTime() == 1;
      }
      rows_.push_back(c->Caption());
    });
  }
  void TearDown() override {
    WaitForWorker();
    SetServerUrl(kDefaultServerUrl);
    server_.reset();
    HandoffMachine::TearDown();
  }

  // Presses "重试" and runs the UI thread until the stage ends or waits on
  // the clock (true: it waits).
  bool Start() {
    frm_.btnInstall.SetCaption("重试");
    rows_.clear();
    frm_.btnInstall.Click();
    return RunUntilWaitOrEnd();
  }
  bool RunUntilWaitOrEnd() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      ui_.WaitAndRun(1);
      if (clock_.Sleepers() > 0) return true;
      if (frm_.LiveWorkers() == 0) {
        ui_.RunPending();
        return false;
      }
    }
    ADD_FAILURE() << "the stage neither ended nor waited";
    return false;
  }
  // After the wait: runs the UI thread until the stage has ended.
  void RunToEnd() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (frm_.LiveWorkers() > 0 && std::chrono::steady_clock::now() < deadline) ui_.WaitAndRun(1);
    ui_.RunPending();
    EXPECT_EQ(frm_.LiveWorkers(), 0) << "the stage did not end";
  }
  void WaitForWorker() {
    for (int i = 0; i < 600 && frm_.LiveWorkers() > 0; ++i) {
      if (clock_.Sleepers() > 0) clock_.Advance(10000);
      ui_.WaitAndRun(100);
    }
    ASSERT_EQ(frm_.LiveWorkers(), 0);
  }
  static int Restarts() {
    int n = 0;
    for (const auto& e : plat::sim::Events()) n += e == "restart";
    return n;
  }
  std::vector<std::string> Tips() const {
    std::vector<std::string> out;
    for (const auto& b : frm_.TipsInfo.Showing()) out.push_back(b.anchor + ":" + b.title + ":" + b.info);
    return out;
  }
  // Everything the window shows: captions of every control and the tips.
  std::string AllTexts() {
    std::string all;
    for (const auto& name : {"lblInstallInfo", "btnInstall", "MlSkinLabel2"}) all += frm_.form[name].Caption() + "\n";
    for (const auto& t : Tips()) all += t + "\n";
    return all;
  }
  void ExpectNothingHandedOff() {
    EXPECT_FALSE(plat::FileExists(kHandoffFile));
    EXPECT_TRUE(server_->StatQueries().empty());
    EXPECT_EQ(Restarts(), 0);
  }

  test::VirtualClock clock_;
  TaskQueueUiThread ui_;
  NoHost host_;
  TFrm_Main frm_{ui_, clock_, host_};
  std::unique_ptr<test::TestServer> server_;
  std::vector<std::string> rows_;
  Control* frontAtFirstRow_ = nullptr;
  bool tipsHiddenAtFirstRow_ = false;
};

TEST_F(InstallStage, GoodImagesEndInTheRestartTenSecondsLater) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(frontAtFirstRow_, &frm_.PnlInstall);
  EXPECT_TRUE(tipsHiddenAtFirstRow_);
  EXPECT_EQ(rows_, (std::vector<std::string>{"正在校验系统镜像，请耐心等待...", "校验中...", "引导系统中，请稍后...",
                                             "引导中...", kSuccessInfo, "立刻重启"}));
  EXPECT_EQ(Tips(), std::vector<std::string>{std::string("PnlInstall::") + kSuccessTip});
  EXPECT_EQ(Text(kHandoffFile), "[Config]\r\nPlatform=X64\r\nExtractSize=5573967872\r\nKey=KEY-7Q2\r\n");
  EXPECT_EQ(server_->StatQueries(),
            std::vector<std::string>{"type=1&mid=" + GetMachineId() + "&cliver=" + frm_.VerInfo.FileVersion()});
  EXPECT_EQ(Store()["entries"]["{9dea862c-5cdd-4e70-acc1-f32b344d4795}"]["elements"]["default"],
            "{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}");
  // The wait is ten seconds of the window's clock.
  clock_.Advance(9999);
  EXPECT_TRUE(RunUntilWaitOrEnd());
  EXPECT_EQ(Restarts(), 0);
  clock_.Advance(1);
  RunToEnd();
  EXPECT_EQ(Restarts(), 1);
  EXPECT_TRUE(plat::FileExists(kInstallImage));
  EXPECT_TRUE(plat::FileExists(kBootImage));
}

// While the images are hashed the taskbar button shows the bytes done of
// both (17 + 14 here, each in one block); nothing once the check is over.
TEST_F(InstallStage, VerificationShowsTheBytesHashedOnTheTaskbarButton) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(host_.taskbar, (std::vector<std::string>{"2 17/31", "2 31/31", "0 0/0"}));
  host_.taskbar.clear();
  clock_.Advance(10000);
  RunToEnd();
  EXPECT_TRUE(host_.taskbar.empty());

  // A wrong install image: its bytes, then nothing.
  plat::RemoveFile(kHandoffFile);
  frm_.vEsdHash = "0000000000000000000000000000000000000000";
  EXPECT_FALSE(Start());
  EXPECT_EQ(host_.taskbar, (std::vector<std::string>{"2 17/31", "0 0/0"}));
}

TEST_F(InstallStage, RestartNowDuringTheWaitRestartsOnce) {
  ASSERT_TRUE(Start());
  clock_.Advance(3000);
  ui_.RunPending();
  frm_.btnInstall.Click();  // "立刻重启"
  EXPECT_EQ(Restarts(), 1);
  clock_.Advance(7000);
  RunToEnd();
  EXPECT_EQ(Restarts(), 1) << "the end of the wait asks for no second restart";
}

TEST_F(InstallStage, ExpectedHashesInLowerCaseMatch) {
  frm_.vEsdHash = LowerAscii(frm_.vEsdHash);
  frm_.vBootHash = LowerAscii(frm_.vBootHash);
  ASSERT_TRUE(Start());
  EXPECT_EQ(frm_.btnInstall.Caption(), "立刻重启");
}

TEST_F(InstallStage, WrongInstallImageIsDeletedAndAsksForANewDownload) {
  frm_.vEsdHash = "0000000000000000000000000000000000000000";
  EXPECT_FALSE(Start());
  EXPECT_EQ(frm_.lblInstallInfo.Caption(), "安装包损坏，请重新下载！");
  EXPECT_EQ(frm_.btnInstall.Caption(), "重新下载");
  EXPECT_FALSE(plat::FileExists(kInstallImage));
  EXPECT_TRUE(plat::FileExists(kBootImage));
  EXPECT_FALSE(plat::FileExists("C:\\qxldr.mbr")) << "no boot entry was made";
  ExpectNothingHandedOff();
}

TEST_F(InstallStage, WrongBootImageWithAGoodInstallImageDeletesOnlyTheBootImage) {
  frm_.vBootHash = "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709";
  EXPECT_FALSE(Start());
  EXPECT_EQ(frm_.lblInstallInfo.Caption(), "引导组件损坏，请重新下载！");
  EXPECT_EQ(frm_.btnInstall.Caption(), "重新下载");
  EXPECT_TRUE(plat::FileExists(kInstallImage));
  EXPECT_FALSE(plat::FileExists(kBootImage));
  ExpectNothingHandedOff();
}

TEST_F(InstallStage, AnImageThatCannotBeHashedNeverPassesEvenAgainstAnEmptyHash) {
  frm_.vEsdHash = "";
  frm_.vBootHash = "";
  plat::RemoveFile(kInstallImage);
  EXPECT_FALSE(Start());
  EXPECT_EQ(frm_.lblInstallInfo.Caption(), "安装包损坏，请重新下载！");
  // A boot image held open by another program cannot be hashed either.
  MakeFile(kInstallImage, "the install image");
  frm_.vEsdHash = GetFileSHA1(kInstallImage);
  {
    std::ifstream holder(Host(kBootImage));
    ASSERT_TRUE(holder.is_open());
    EXPECT_FALSE(Start());
  }
  EXPECT_EQ(frm_.lblInstallInfo.Caption(), "引导组件损坏，请重新下载！");
  ExpectNothingHandedOff();
}

TEST_F(InstallStage, LeftoverHandoffFileSkipsTheHashingAndIsRewrittenInPlace) {
  MakeFile(kHandoffFile, "[Config]\r\nPlatform=X86\r\nExtractSize=1\r\nKey=OLD\r\nNote=kept\r\n");
  frm_.vEsdHash = frm_.vBootHash = "wrong";  // would fail the check
  ASSERT_TRUE(Start());
  EXPECT_EQ(rows_, (std::vector<std::string>{"引导系统中，请稍后...", "引导中...", kSuccessInfo, "立刻重启"}));
  EXPECT_TRUE(plat::FileExists(kInstallImage));
  EXPECT_TRUE(plat::FileExists(kBootImage));
  EXPECT_EQ(Text(kHandoffFile), "[Config]\r\nPlatform=X64\r\nExtractSize=5573967872\r\nKey=KEY-7Q2\r\nNote=kept\r\n");
  clock_.Advance(10000);
  RunToEnd();
  EXPECT_EQ(Restarts(), 1);
}

TEST_F(InstallStage, BootEntryFailureShowsRetryAndHandsNothingOff) {
  ScriptedEditor("echo 'Access is denied. Success'");
  EXPECT_FALSE(Start());
  EXPECT_EQ(rows_.back(), "重试");
  EXPECT_EQ(frm_.lblInstallInfo.Caption(), kFailureInfo);
  EXPECT_EQ(Tips(), std::vector<std::string>{std::string("PnlInstall::") + kFailureTip});
  EXPECT_EQ(AllTexts().find("配置引导区失败"), std::string::npos) << "the failure text reaches no screen";
  EXPECT_EQ(AllTexts().find("Access is denied"), std::string::npos);
  ExpectNothingHandedOff();
  // "重试" runs the whole stage again, from the hashing.
  ScriptedEditor("echo 'The operation completed successfully.'");
  ASSERT_TRUE(Start());
  EXPECT_EQ(rows_.front(), "正在校验系统镜像，请耐心等待...");
  EXPECT_EQ(frm_.btnInstall.Caption(), "立刻重启");
}

TEST_F(InstallStage, HandoffFileThatCannotBeWrittenEndsOnTheFailureScreen) {
  MakeFile(kHandoffFile, "[Config]\r\n");
  plat::SetAttributes(kHandoffFile, plat::kAttrReadOnly);
  EXPECT_FALSE(Start());
  EXPECT_EQ(frm_.lblInstallInfo.Caption(), kFailureInfo);
  EXPECT_EQ(frm_.btnInstall.Caption(), "重试");
  EXPECT_TRUE(server_->StatQueries().empty());
  EXPECT_EQ(Restarts(), 0);
}

}  // namespace
}  // namespace corvane
