// TThunder against a fake engine with scripted states: construction, the
// task record, Start/Stop, the polling loop's state table and destruction.
// The polling thread sleeps on a virtual clock: each pass is one step of the
// test, however loaded the machine.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/errors.h"
#include "common/text.h"
#include "download/tests/fake_xldl.h"
#include "download/tests/thunder_test_support.h"
#include "download/uThunder.h"
#include "platform/dynlib.h"
#include "tests/support/virtual_clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace corvane {
namespace {

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  ::SetEnvironmentVariableA(name, value);
#else
  ::setenv(name, value, 1);
#endif
}

// The fake library the wrapper loaded, reached through a second reference
// that is dropped before the wrapper unloads it.
class Script {
 public:
  explicit Script(const TThunder& t) {
    lib_ = plat::LoadLib(GetTempDir() + t.XlDir() + "\\xldl.dll");
    auto fn = reinterpret_cast<FakeXl_Control_t>(plat::LibSymbol(lib_, "FakeXl_Control"));
    ctl_ = fn ? fn() : nullptr;
  }
  ~Script() { plat::FreeLib(lib_); }
  FakeXlControl* operator->() { return ctl_; }
  bool ok() const { return ctl_ != nullptr; }

 private:
  plat::LibHandle lib_ = 0;
  FakeXlControl* ctl_ = nullptr;
};

struct Seen {
  std::atomic<int> progress{0}, complete{0}, error{0};
  std::atomic<bool> progressOnUi{true}, completeOnUi{false}, errorOnUi{false};
  std::atomic<uint8_t> errorCode{0};
  std::mutex mu;
  std::vector<std::string> states;
  int64_t total = 0, down = 0, srcTotal = 0, srcUsing = 0;
  int32_t speed = 0, p2s = 0, p2p = 0;
  float percent = 0;
};

// A clock per test that is never destroyed: a polling thread let go by a
// destruction on the UI thread may still sleep on it.
test::VirtualClock& NewClock() {
  static auto* clocks = new std::vector<std::unique_ptr<test::VirtualClock>>;
  clocks->push_back(std::make_unique<test::VirtualClock>());
  return *clocks->back();
}

class ThunderPollTest : public test::ThunderFixture {
 protected:
  void SetUp() override {
    ThunderFixture::SetUp();
    SetEnv("FAKE_XL_INIT", "1");
    SetEnv("FAKE_XL_CREATE", "1");
  }
  void TearDown() override {
    for (auto& t : made_) Destroy(t);
    ThunderFixture::TearDown();
  }
  TThunder& Make(bool resume = true) {
    made_.push_back(std::make_unique<TThunder>("http://example.test/img/Install.img",
                                               "C:\\Win10Data\\System\\Install.img", "http://example.test/",
                                               false, resume, clock_));
    TThunder& t = *made_.back();
    t.OnProgress = [this](int64_t a, int64_t b, int64_t c, int64_t d, int32_t e, int32_t f, int32_t g, float p,
                          const std::string& s) {
      std::lock_guard<std::mutex> lk(seen_.mu);
      seen_.total = a, seen_.down = b, seen_.srcTotal = c, seen_.srcUsing = d;
      seen_.speed = e, seen_.p2s = f, seen_.p2p = g, seen_.percent = p;
      seen_.states.push_back(s);
      if (!MainUi()->IsUiThread()) seen_.progressOnUi = false;
      ++seen_.progress;
    };
    t.OnComplete = [this] {
      seen_.completeOnUi = MainUi()->IsUiThread();
      ++seen_.complete;
    };
    t.OnError = [this](uint8_t code) {
      seen_.errorOnUi = MainUi()->IsUiThread();
      seen_.errorCode = code;
      ++seen_.error;
    };
    return t;
  }
  // Runs the polling thread's hand-overs until it pauses on the clock, its
  // pass complete (unless it is in a pause already). Only a broken wrapper
  // makes this give up.
  void AtPause() {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!atPause_ && clock_.SleepCalls() == pausesSeen_) {
      ui_->WaitAndRun(1);
      if (std::chrono::steady_clock::now() > giveUp) {
        ADD_FAILURE() << "the polling thread never paused";
        return;
      }
    }
    pausesSeen_ = clock_.SleepCalls();
    atPause_ = true;
  }
  // Ends the pause: the thread makes its next pass.
  void EndPause() {
    AtPause();
    atPause_ = false;
    clock_.Advance(100);
  }
  // Lets the polling thread make `n` more passes, to their end.
  void Poll(int n = 1) {
    for (int i = 0; i < n; ++i) EndPause();
    AtPause();
  }
  // Polls until pred holds after a pass; false after `passes` more.
  bool PollUntil(const std::function<bool()>& pred, int passes = 10) {
    for (int i = 0;; ++i) {
      AtPause();
      if (pred()) return true;
      if (i == passes) return false;
      EndPause();
    }
  }
  // Destroys a wrapper on a worker, as the stage does, while the UI runs and
  // the clock moves.
  void Destroy(std::unique_ptr<TThunder>& t) {
    std::atomic<bool> done{false};
    std::thread w([&] {
      t.reset();
      done = true;
    });
    while (!done.load()) {
      ui_->WaitAndRun(1);
      if (clock_.Sleepers() > 0) clock_.Advance(100);
    }
    w.join();
  }
  std::string LastState() {
    std::lock_guard<std::mutex> lk(seen_.mu);
    return seen_.states.empty() ? std::string() : seen_.states.back();
  }
  test::VirtualClock& clock_ = NewClock();
  int64_t pausesSeen_ = 0;
  bool atPause_ = false;
  std::vector<std::unique_ptr<TThunder>> made_;
  Seen seen_;
};

TEST_F(ThunderPollTest, FillsTheTaskRecordAsLaidOut) {
  for (bool resume : {true, false}) {
    TThunder& t = Make(resume);
    Script s(t);
    ASSERT_TRUE(s.ok());
    const TDownTaskParam& p = s->param;
    EXPECT_EQ(Utf16ToUtf8(p.szTaskUrl), "http://example.test/img/Install.img");
    EXPECT_EQ(Utf16ToUtf8(p.szRefUrl), "http://example.test/");
    EXPECT_EQ(Utf16ToUtf8(p.szFilename), "Install.img");
    const std::string folder = plat::HostPath("C:\\Win10Data\\System\\Install.img");
    EXPECT_EQ(Utf16ToUtf8(p.szSavePath), folder.substr(0, folder.size() - 11));
    EXPECT_EQ(p.IsResume, resume ? -1 : 0);
    // Nothing else is set.
    TDownTaskParam rest = p;
    std::memset(rest.szTaskUrl, 0, sizeof rest.szTaskUrl);
    std::memset(rest.szRefUrl, 0, sizeof rest.szRefUrl);
    std::memset(rest.szFilename, 0, sizeof rest.szFilename);
    std::memset(rest.szSavePath, 0, sizeof rest.szSavePath);
    rest.IsResume = 0;
    static const TDownTaskParam zero{};
    EXPECT_EQ(std::memcmp(&rest, &zero, sizeof zero), 0);
  }
}

TEST_F(ThunderPollTest, DownloadStateFillsTheSnapshotAndReportsOnTheUiThread) {
  TThunder& t = Make();
  Script s(t);
  s->stat = TSC_DOWNLOAD;
  s->total = 1000, s->down = 250, s->srcTotal = 8, s->srcUsing = 5;
  s->speed = 1536, s->speedP2S = 1000, s->speedP2P = 536, s->percent = 0.25f;
  ASSERT_TRUE(t.Start());
  EXPECT_TRUE(t.Downloading());
  ASSERT_TRUE(PollUntil([&] { return seen_.progress.load() > 0; }, 0)) << "reported in the first pass";
  const TProgressInfo p = t.Progress();
  EXPECT_EQ(p.State, "DOWNLOAD");
  EXPECT_EQ(p.TotalSize, 1000);
  EXPECT_EQ(p.DownSize, 250);
  EXPECT_EQ(p.SrcTotal, 8);
  EXPECT_EQ(p.SrcUsing, 5);
  EXPECT_EQ(p.Speed, 1536);
  EXPECT_EQ(p.SpeedP2S, 1000);
  EXPECT_EQ(p.SpeedP2P, 536);
  EXPECT_FLOAT_EQ(p.Percent, 0.25f);
  EXPECT_TRUE(seen_.progressOnUi.load());
  {
    std::lock_guard<std::mutex> lk(seen_.mu);
    EXPECT_EQ(seen_.srcUsing, 5);
    EXPECT_EQ(seen_.p2p, 536);
  }
  EXPECT_EQ(s->lastStarted.load(), XL_HANDLE{0x5A5A});
  ASSERT_TRUE(t.Stop(false));
  EXPECT_FALSE(t.Downloading());
  EXPECT_EQ(s->delTemps.load(), 0);
  // The loop ends after its pause: no report after the stop.
  const int reports = seen_.progress.load();
  EndPause();
  Destroy(made_.back());
  EXPECT_EQ(seen_.progress.load(), reports);
}

TEST_F(ThunderPollTest, PauseAndPendingStatesKeepTheLoopRunning) {
  TThunder& t = Make();
  Script s(t);
  s->total = 4000, s->down = 1000, s->percent = 0.25f, s->speed = 77, s->srcUsing = 3;
  s->stat = TSC_STARTPENDING;
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(PollUntil([&] { return LastState() == "STARTPENDING"; }, 0));
  EXPECT_EQ(t.Progress().TotalSize, 0);
  EXPECT_EQ(t.Progress().State, "STARTPENDING");
  {
    std::lock_guard<std::mutex> lk(seen_.mu);
    EXPECT_EQ(seen_.total, 0);
  }

  s->stat = TSC_PAUSE;
  ASSERT_TRUE(PollUntil([&] { return LastState() == "PAUSE"; }, 1));
  TProgressInfo p = t.Progress();
  EXPECT_EQ(p.State, "PAUSE");
  EXPECT_EQ(p.TotalSize, 4000);
  EXPECT_EQ(p.DownSize, 1000);
  EXPECT_FLOAT_EQ(p.Percent, 0.25f);
  EXPECT_EQ(p.Speed, 0);
  EXPECT_EQ(p.SrcUsing, 0);
  const int queries = s->queries.load();
  Poll(3);
  EXPECT_EQ(s->queries.load(), queries + 3);
  EXPECT_TRUE(t.Downloading()) << "the engine's pause does not end the loop";

  s->stat = TSC_STOPPENDING;
  ASSERT_TRUE(PollUntil([&] { return LastState() == "STOPPENDING"; }, 1));
  p = t.Progress();
  EXPECT_EQ(p.State, "STOPPENDING");
  EXPECT_EQ(p.TotalSize, 0);
  {
    std::lock_guard<std::mutex> lk(seen_.mu);
    EXPECT_EQ(seen_.total, 4000);  // the notification carries the sizes
    EXPECT_EQ(seen_.down, 1000);
    EXPECT_EQ(seen_.speed, 0);
  }
  EXPECT_TRUE(seen_.progressOnUi.load());
  EXPECT_TRUE(t.Stop(false));
}

TEST_F(ThunderPollTest, CompletionEndsTheLoopOnThePollingThread) {
  TThunder& t = Make();
  Script s(t);
  s->stat = TSC_COMPLETE;
  s->total = 10;
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(PollUntil([&] { return !t.Downloading() && seen_.complete.load() == 1; }, 0));
  EXPECT_FALSE(seen_.completeOnUi.load());
  EXPECT_EQ(t.Progress().State, "COMPLETE");
  EXPECT_EQ(t.Progress().TotalSize, 0);
  // After its pause the loop ends: the engine is asked no more.
  const int queries = s->queries.load();
  EndPause();
  Destroy(made_.back());
  EXPECT_EQ(seen_.complete.load(), 1);
  EXPECT_EQ(s->queries.load(), queries);
}

TEST_F(ThunderPollTest, ErrorPassesTheFailureKindOn) {
  TThunder& t = Make();
  Script s(t);
  s->stat = TSC_ERROR;
  s->failCode = TASK_ERROR_DISK_WRITE;
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(PollUntil([&] { return seen_.error.load() == 1; }, 0));
  EXPECT_FALSE(t.Downloading());
  EXPECT_FALSE(seen_.errorOnUi.load());
  EXPECT_EQ(seen_.errorCode.load(), TASK_ERROR_DISK_WRITE);
  EXPECT_EQ(t.Progress().State, "ERROR");
}

TEST_F(ThunderPollTest, NoItemAndFailedQueriesAreNoNews) {
  TThunder& t = Make();
  Script s(t);
  s->stat = TSC_DOWNLOAD;
  s->queryResult = 0;
  ASSERT_TRUE(t.Start());
  Poll(2);
  EXPECT_EQ(s->queries.load(), 3);
  s->queryResult = 1;
  s->stat = NOITEM;
  Poll(3);
  EXPECT_EQ(s->queries.load(), 6);
  EXPECT_EQ(seen_.progress.load(), 0);
  EXPECT_EQ(t.Progress().State, "");
  EXPECT_TRUE(t.Downloading());
  t.Stop(false);
}

TEST_F(ThunderPollTest, StopRefusedKeepsDownloadingAndStopWithDelTempPassesTheSameRecord) {
  TThunder& t = Make();
  Script s(t);
  s->stat = TSC_DOWNLOAD;
  ASSERT_TRUE(t.Start());
  s->stopResult = 0;
  EXPECT_FALSE(t.Stop(true));
  EXPECT_TRUE(t.Downloading());
  EXPECT_EQ(s->delTemps.load(), 0);
  s->stopResult = 1;
  EXPECT_TRUE(t.Stop(true));
  EXPECT_FALSE(t.Downloading());
  EXPECT_EQ(s->delTemps.load(), 1);
  EXPECT_EQ(s->deletedWith.load(), s->createdWith.load());
}

TEST_F(ThunderPollTest, StartAfterAZeroTaskHandleDoesNothing) {
  SetEnv("FAKE_XL_CREATE", "0");
  TThunder& t = Make();
  Script s(t);
  EXPECT_FALSE(t.Start());
  EXPECT_FALSE(t.Downloading());
  EXPECT_FALSE(t.Stop(true));
  // The polling thread would only be started after the engine's start.
  EXPECT_EQ(s->starts.load(), 0);
  EXPECT_EQ(s->stops.load(), 0);
}

TEST_F(ThunderPollTest, EngineRefusingToStartStartsNoThread) {
  TThunder& t = Make();
  Script s(t);
  s->startResult = 0;
  EXPECT_FALSE(t.Start());
  EXPECT_FALSE(t.Downloading());
  EXPECT_EQ(s->starts.load(), 1);
  EXPECT_EQ(clock_.Sleepers(), 0);
  EXPECT_EQ(s->queries.load(), 0);
}

TEST_F(ThunderPollTest, FailedInitialisationRaisesAndCleansUp) {
  SetEnv("FAKE_XL_INIT", "0");
  try {
    Make();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "初始化迅雷引擎失败！");
  }
  EXPECT_EQ(EngineFolders(), 0);
}

#ifndef _WIN32
TEST_F(ThunderPollTest, EngineThatCannotBeUnpackedIsTheWrongInterface) {
  Patch({{"temp", "Q:\\Temp\\"}});  // a drive that does not exist
  try {
    Make();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "迅雷引擎接口不正确！");
  }
}
#endif

TEST_F(ThunderPollTest, TwoWrappersUseTwoFoldersAndDestroyOnlyTheirOwn) {
  Make();
  Make();
  EXPECT_NE(made_[0]->XlDir(), made_[1]->XlDir());
  EXPECT_EQ(made_[0]->XlDir().size(), 32u);
  EXPECT_EQ(EngineFolders(), 2);
  Destroy(made_[0]);
  EXPECT_EQ(EngineFolders(), 1);
  EXPECT_TRUE(plat::FileExists(GetTempDir() + made_[1]->XlDir() + "\\xldl.dll"));
  Destroy(made_[1]);
  EXPECT_EQ(EngineFolders(), 0);
  EXPECT_FALSE(plat::FileExists(GetTempDir() + "Thunder.zip"));
}

TEST_F(ThunderPollTest, DestroyStopsTheTaskAndUninitialises) {
  TThunder& t = Make();
  auto s = std::make_unique<Script>(t);  // keeps the fake loaded to read its counters
  (*s)->stat = TSC_DOWNLOAD;
  ASSERT_TRUE(t.Start());
  ASSERT_TRUE(PollUntil([&] { return seen_.progress.load() > 0; }, 0));
  Destroy(made_.back());  // on a worker, while the UI keeps running
  EXPECT_EQ((*s)->lastStopped.load(), XL_HANDLE{0x5A5A});
  EXPECT_EQ((*s)->uninits.load(), 1);
  const int q = (*s)->queries.load();
  clock_.Advance(1000);
  ui_->RunPending();
  EXPECT_EQ((*s)->queries.load(), q) << "polling after destruction";
  // Windows keeps a loaded library's file, and so its folder, until the last
  // reference goes.
  s.reset();
  std::vector<plat::DirEntry> entries;
  plat::ListDirectory(GetTempDir(), entries);
  for (const auto& e : entries)
    if (e.name.size() == 32 && e.name.find_first_not_of("0123456789ABCDEF") == std::string::npos)
      plat::RemoveTree(GetTempDir() + e.name);
}

TEST_F(ThunderPollTest, DestroyOnTheUiThreadDoesNotHang) {
  std::atomic<bool> handOver{false};
  ui_->Wake = [&] { handOver = true; };
  TThunder& t = Make();
  {
    Script s(t);
    s->stat = TSC_DOWNLOAD;
    ASSERT_TRUE(t.Start());
    // The first pass hands its report over to the UI thread and waits.
    while (!handOver.load()) std::this_thread::yield();
  }
  made_.back().reset();  // the polling thread, waiting for the UI, is let go
  ui_->RunPending();     // the waiting hand-over runs, and reports nothing
  EXPECT_EQ(seen_.progress.load(), 0);
  EndPause();  // the thread ends after its pause
  ui_->Wake = nullptr;
}

#ifndef _WIN32
TEST_F(ThunderPollTest, WithoutAGuidNoWrapperIsMadeAndTheTemporaryFolderStays) {
  MakeFile(GetTempDir() + "keep.txt", "the user's");
  Patch({{"guid", ""}});
  try {
    Make();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "迅雷引擎接口不正确！");
  }
  EXPECT_TRUE(plat::FileExists(GetTempDir() + "keep.txt"));
  EXPECT_FALSE(plat::FileExists(GetTempDir() + "xldl.dll"));
}

TEST_F(ThunderPollTest, AFolderThatWasThereIsNeitherUsedNorRemoved) {
  const std::string guid = "0123456789ABCDEF0123456789ABCDEF";
  MakeFile(GetTempDir() + guid + "\\download\\mine.txt", "someone else's");
  Patch({{"guid", guid}});
  try {
    Make();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "迅雷引擎接口不正确！");
  }
  EXPECT_TRUE(plat::FileExists(GetTempDir() + guid + "\\download\\mine.txt"));
  EXPECT_FALSE(plat::FileExists(GetTempDir() + guid + "\\xldl.dll"));
}
#endif

#ifdef _WIN32
// The temporary folder is the user's: while the wrapper lives, another
// program can neither change the engine it loads nor swap its folder.
TEST_F(ThunderPollTest, TheEngineCannotBeChangedFromOutside) {
  TThunder& t = Make();
  const std::wstring dll = Widen(GetTempDir() + t.XlDir() + "\\xldl.dll");
  const std::wstring folder = Widen(GetTempDir() + t.XlDir());
  HANDLE w = ::CreateFileW(dll.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(w, INVALID_HANDLE_VALUE) << "opened for writing";
  if (w != INVALID_HANDLE_VALUE) ::CloseHandle(w);
  EXPECT_FALSE(::DeleteFileW(dll.c_str()));
  EXPECT_FALSE(::MoveFileExW(folder.c_str(), (folder + L"-old").c_str(), 0)) << "the folder was renamed";
  Destroy(made_.back());
  EXPECT_EQ(EngineFolders(), 0);
}
#endif

TEST(ThunderByte2StrTest, Table) {
  EXPECT_EQ(TThunder::Byte2Str(0), "0B");
  EXPECT_EQ(TThunder::Byte2Str(1023), "1023B");
  EXPECT_EQ(TThunder::Byte2Str(1024), "1.00KB");
  EXPECT_EQ(TThunder::Byte2Str(1536), "1.50KB");
  EXPECT_EQ(TThunder::Byte2Str(1048575), "1024.00KB");
  EXPECT_EQ(TThunder::Byte2Str(1048576), "1.00MB");
  EXPECT_EQ(TThunder::Byte2Str(1073741823), "1024.00MB");
  EXPECT_EQ(TThunder::Byte2Str(1073741824), "1.00GB");
  EXPECT_EQ(TThunder::Byte2Str(-5), "-5B");
  EXPECT_EQ(TThunder::Byte2Str(5LL << 40), "5120.00GB");
}

}  // namespace
}  // namespace corvane
