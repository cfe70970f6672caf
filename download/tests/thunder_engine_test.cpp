// TThunder with our engine from the program's resources, against a loopback
// server: stop and resume across two wrappers, stop deleting partial data.
#include <filesystem>
#include <fstream>

#include <cstdlib>

#include "download/tests/thunder_test_support.h"
#include "download/uThunder.h"
#include "tests/support/op_server.h"

namespace corvane {
namespace {

class ThunderEngineTest : public test::ThunderFixture {
 protected:
  void SetUp() override {
    ThunderFixture::SetUp();
    // Quick retries, so that a hopeless download gives up within a second.
#ifdef _WIN32
    ::_putenv("CORVANE_XLDL_RETRY_MS=10");
#else
    ::setenv("CORVANE_XLDL_RETRY_MS", "10", 1);
#endif
#ifdef _WIN32
    dir_ = test::MakeTempDir("thunder");
    target_ = dir_ + "\\Install.img";
#else
    dir_ = "C:\\Win10Data\\System";
    plat::ForceDirectories(dir_);
    target_ = dir_ + "\\Install.img";
#endif
    // A folder of an earlier run may come back under the same name.
    for (const char* tail : {"", ".cvdl", ".cvdl.rec"}) plat::RemoveFile(target_ + tail);
  }
  void TearDown() override {
#ifdef _WIN32
    plat::RemoveTree(dir_);
#endif
    ThunderFixture::TearDown();
  }
  std::string Host(const std::string& p) const { return plat::HostPath(p); }
  std::string Read(const std::string& p) const {
    std::ifstream f(std::filesystem::u8path(Host(p)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  // Starts a wrapper and stops it after `bytes`; returns Stop's result.
  bool DownloadThenStop(const std::string& url, int64_t bytes, bool delTemp) {
    TThunder t(url, target_, "", true, true);
    EXPECT_TRUE(t.Start());
    EXPECT_TRUE(PumpUntil([&] { return t.Progress().DownSize >= bytes || !t.Downloading(); }, 20000));
    EXPECT_TRUE(t.Downloading()) << "finished before it could be stopped";
    EXPECT_EQ(t.Progress().State, "DOWNLOAD");
    EXPECT_GT(t.Progress().SrcUsing, 0);
    const bool ok = t.Stop(delTemp);
    EXPECT_FALSE(t.Downloading());
    return ok;
  }
  std::string dir_, target_;
};

TEST_F(ThunderEngineTest, StopAndResumeInANewWrapperEndsWithTheRightFile) {
  const std::string content = test::PatternContent(6 << 20, 21);
  test::TestServer server;
  ASSERT_TRUE(server.Available());
  server.WriteFile("file.bin", content);
  server.AddFault("throttle=1048576");
  const std::string url = server.Url("/file.bin");
  ASSERT_TRUE(DownloadThenStop(url, 1 << 20, false));
  EXPECT_FALSE(plat::FileExists(target_));
  EXPECT_TRUE(plat::FileExists(target_ + ".cvdl"));
  EXPECT_EQ(EngineFolders(), 0);

  server.Control("clear");
  TThunder t(url, target_, "", true, true);
  std::atomic<int> completed{0};
  t.OnComplete = [&] { ++completed; };
  ASSERT_TRUE(t.Start());
  // Downloading turns false before OnComplete runs on the polling thread, so
  // wait for the event itself (or the end of an error).
  ASSERT_TRUE(PumpUntil([&] { return completed.load() > 0 || t.Progress().State == "ERROR"; }, 60000));
  EXPECT_EQ(completed.load(), 1);
  EXPECT_EQ(t.Progress().State, "COMPLETE");
  EXPECT_TRUE(Read(target_) == content) << "wrong content";
  EXPECT_FALSE(plat::FileExists(target_ + ".cvdl"));
}

TEST_F(ThunderEngineTest, StopWithDelTempRemovesThePartialData) {
  const std::string content = test::PatternContent(4 << 20, 22);
  test::TestServer server;
  ASSERT_TRUE(server.Available());
  server.WriteFile("file.bin", content);
  server.AddFault("throttle=1048576");
  ASSERT_TRUE(DownloadThenStop(server.Url("/file.bin"), 500000, true));
  EXPECT_FALSE(plat::FileExists(target_));
  EXPECT_FALSE(plat::FileExists(target_ + ".cvdl"));
  EXPECT_FALSE(plat::FileExists(target_ + ".cvdl.rec"));
}

TEST_F(ThunderEngineTest, EngineFailureIsReportedAsError) {
  const std::string url = test::ClosedPortUrl("/file.bin");
  TThunder t(url, target_, "", false, true);
  std::atomic<int> code{-1};
  t.OnError = [&](uint8_t c) { code = c; };
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(PumpUntil([&] { return !t.Downloading(); }, 120000));
  EXPECT_EQ(t.Progress().State, "ERROR");
  EXPECT_EQ(code.load(), TASK_ERROR_TIMEOUT);
  EXPECT_FALSE(plat::FileExists(target_));
}

}  // namespace
}  // namespace corvane
