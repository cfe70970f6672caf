// The window's server requests and the configuration step, with the
// program's own HTTP client (libcurl natively, WinINet under Wine) against
// the loopback operator server.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/errors.h"
#include "common/ui_thread.h"
#include "download/DownloadConfig.h"
#include "download/RunConfig.h"
#include "download/ServerUrl.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "shell/tests/window_fixture.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"

namespace corvane {
namespace {

#ifdef _WIN32
using MachineTest = ::testing::Test;
#else
using MachineTest = test::SimMachineTest;  // the temporary folder lives on the simulated machine
#endif

class ServerStageTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    if (!server.Available()) GTEST_SKIP() << "no operator server (run under tests/wine/with-opserver)";
    SetServerUrl(server.Url("/corvane/"));
    plat::ForceDirectories(GetTempDir());  // a fresh simulated machine has none yet
  }
  void TearDown() override {
    for (int i = 0; i < 5000 && frm.LiveWorkers() > 0; ++i) ui.WaitAndRun(1);
    SetServerUrl(kDefaultServerUrl);
    SetDirectoryPageUrl(CORVANE_DIRECTORY_URL);
    plat::RemoveFile(LocalCopy());
    MachineTest::TearDown();
  }

  // Runs fn on a worker of the window, as the stages run, serving the
  // hand-overs meanwhile.
  void OnWorker(std::function<void()> fn) {
    frm.body = [fn](Stage) { fn(); };
    ASSERT_TRUE(frm.StartStage(Stage::CheckUpdate));
    for (int i = 0; i < 20000 && frm.LiveWorkers() > 0; ++i) ui.WaitAndRun(1);
    ASSERT_EQ(frm.LiveWorkers(), 0);
  }
  void FetchDirectory(const std::string& page) {
    server.WriteFile("blog/directory.html", page);
    SetDirectoryPageUrl(server.Url("/blog/directory.html"));
    OnWorker([this] { frm.Thrd_GetServerInfo(); });
  }
  static std::string LocalCopy() { return GetTempDir() + "config.ini"; }
  bool Requested(const std::string& line) const {
    auto r = server.Requests();
    return std::find(r.begin(), r.end(), line) != r.end();
  }

  test::TestServer server;
  test::VirtualClock clock;
  TaskQueueUiThread ui;
  test::RecordingHost host;
  test::RecordingFrm frm{ui, clock, host};
};

TEST_F(ServerStageTest, NoticeIsABalloonOverTheHomePanel) {
  FetchDirectory("<div>[QX]{\"server\":\"\",\"status\":\"OK\",\"msg\":\"今日维护\"}[/QX]</div>");
  EXPECT_EQ(ServerUrl(), server.Url("/corvane/"));  // an empty "server" moves nothing
  ASSERT_EQ(frm.TipsInfo.Showing().size(), 1u);
  const auto& b = frm.TipsInfo.Showing()[0];
  EXPECT_EQ(b.info, "今日维护");
  EXPECT_EQ(b.title, "");
  EXPECT_EQ(b.anchor, "PnlHome");
  EXPECT_EQ(frm.TipsInfo.DisplayTime(), 0);  // stays until closed
}

TEST_F(ServerStageTest, MovedAddressWithoutSlashIsUsedAsItIs) {
  FetchDirectory("[QX]{\"server\":\"" + server.Url("/corvane") + "\",\"status\":\"ok\",\"msg\":\"x\"}[/QX]");
  EXPECT_TRUE(frm.TipsInfo.Showing().empty());
  EXPECT_EQ(ServerUrl(), server.Url("/corvane"));
  server.WriteFile("corvanex64.ini", "[Config]\nesdurl=http://h/a.esd\n");
  frm.vPlatform = "X64";
  EXPECT_EQ(FetchRunConfig(frm).esdUrl, "http://h/a.esd");
  EXPECT_TRUE(Requested("GET /corvanex64.ini -> 200"));
}

TEST_F(ServerStageTest, UnreachableDirectoryKeepsTheAddress) {
  SetDirectoryPageUrl("http://127.0.0.1:1/directory.html");
  OnWorker([this] { frm.Thrd_GetServerInfo(); });
  server.Control("fault?path=/blog/&status=404");
  FetchDirectory("[QX]{\"server\":\"http://x/\",\"status\":\"no\",\"msg\":\"m\"}[/QX]");
  EXPECT_EQ(ServerUrl(), server.Url("/corvane/"));
  EXPECT_TRUE(frm.TipsInfo.Showing().empty());
}

TEST_F(ServerStageTest, StatisticsAsksForTheExactQuery) {
  OnWorker([this] { frm.Statistics("0123456789ABCDEF0123456789ABCDEF", "3.3.30.180", 1); });
  EXPECT_EQ(server.StatQueries(),
            std::vector<std::string>{"type=1&mid=0123456789ABCDEF0123456789ABCDEF&cliver=3.3.30.180"});
  SetServerUrl("http://127.0.0.1:1/corvane/");
  OnWorker([this] { frm.Statistics("M", "V", 0); });  // returns, reports nothing
  EXPECT_EQ(server.StatQueries().size(), 1u);
}

TEST_F(ServerStageTest, ConfigurationWithOnlyTheAddressesOverwritesTheFields) {
  server.WriteFile("corvane/x64.ini", "[Config]\r\nesdurl=http://h/x64.esd\r\nbooturl=http://h/pe.iso\r\n");
  frm.vPlatform = "X64";
  frm.vExtractSize = "1";
  frm.vEsdKey = frm.vEsdHash = frm.vBootHash = "earlier";
  ImageAddresses a = FetchRunConfig(frm);
  EXPECT_EQ(a.esdUrl, "http://h/x64.esd");
  EXPECT_EQ(a.bootUrl, "http://h/pe.iso");
  EXPECT_EQ(frm.vExtractSize, "5573967872");
  EXPECT_EQ(frm.vEsdKey, "");
  EXPECT_EQ(frm.vEsdHash, "");
  EXPECT_EQ(frm.vBootHash, "");
  EXPECT_FALSE(plat::FileExists(LocalCopy()));
}

TEST_F(ServerStageTest, LowerCaseX64ChoosesTheX86File) {
  server.WriteFile("corvane/x86.ini", "[Config]\nesdurl=http://h/x86.esd\nKey=K\nEsdHash=aa\nBootHash=bb\n");
  frm.vPlatform = "x64";
  EXPECT_EQ(FetchRunConfig(frm).esdUrl, "http://h/x86.esd");
  EXPECT_EQ(frm.vEsdKey, "K");
  EXPECT_EQ(frm.vBootHash, "bb");
  EXPECT_TRUE(Requested("GET /corvane/x86.ini -> 200"));
}

TEST_F(ServerStageTest, StaleCopyIsRemovedWhetherOrNotTheRequestSucceeds) {
  frm.vPlatform = "X86";
  frm.vEsdKey = "earlier";
  // Failing: no x86.ini on the server.
  ASSERT_TRUE(plat::WriteWholeFile(LocalCopy(), "[Config]\nKey=stale\n"));
  try {
    FetchRunConfig(frm);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "下载配置文件错误！");
  }
  EXPECT_FALSE(plat::FileExists(LocalCopy()));
  EXPECT_EQ(frm.vEsdKey, "earlier");  // a failed fetch keeps the earlier values

  // A server error and a dropped connection fail the same way.
  server.WriteFile("corvane/x86.ini", "[Config]\nKey=new\n");
  server.Control("fault?status=500&times=1");
  EXPECT_THROW(FetchRunConfig(frm), Exception);
  server.Control("fault?close-after=5&times=1");
  EXPECT_THROW(FetchRunConfig(frm), Exception);

  // Succeeding.
  ASSERT_TRUE(plat::WriteWholeFile(LocalCopy(), "[Config]\nKey=stale\n"));
  FetchRunConfig(frm);
  EXPECT_EQ(frm.vEsdKey, "new");
  EXPECT_FALSE(plat::FileExists(LocalCopy()));
}

}  // namespace
}  // namespace corvane
