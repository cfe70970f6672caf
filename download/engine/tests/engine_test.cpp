// The engine against the loopback operator server with faults: every case
// ends with the right file or in ERROR, never with a complete-looking wrong
// file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "download/engine/download_task.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace xldl {
namespace {

using corvane::test::PatternContent;

std::string ReadAll(const std::string& path) {
  std::ifstream f(std::filesystem::u8path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool Exists(const std::string& path) { return std::filesystem::exists(std::filesystem::u8path(path)); }

Tuning FastTuning() {
  Tuning t;
  t.maxConnections = 4;
  t.minSplit = 64 << 10;
  t.stallMs = 400;
  t.connectMs = 1000;
  t.retryBaseMs = 5;
  t.maxFailures = 4;
  t.checkpointMs = 50;
  t.bufferBytes = 64 << 10;
  return t;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Available()) << "no operator server";
    dir_ = corvane::test::MakeTempDir("engine");
    target_ = dir_ + "/image.img";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::u8path(dir_), ec);
  }
  // Runs one task to its end; returns the final state.
  TDownTaskInfo Run(const std::string& url, bool resume, const Tuning& t = FastTuning()) {
    DownloadTask task(TaskParams{url, "", "", target_, resume}, limiter_, t);
    EXPECT_TRUE(task.Start());
    TDownTaskInfo info{};
    for (int i = 0; i < 3000; ++i) {
      task.Query(info);
      if (info.stat == TSC_COMPLETE || info.stat == TSC_ERROR || info.stat == TSC_PAUSE) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    task.Join();
    task.Query(info);
    return info;
  }
  // Starts a task and stops it once `bytes` are reported.
  void RunAndStopAfter(const std::string& url, int64_t bytes, bool resume = false) {
    DownloadTask task(TaskParams{url, "", "", target_, resume}, limiter_, FastTuning());
    ASSERT_TRUE(task.Start());
    TDownTaskInfo info{};
    for (int i = 0; i < 2000; ++i) {
      task.Query(info);
      if (info.nTotalDownload >= bytes || info.stat == TSC_COMPLETE) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(info.stat, TSC_COMPLETE) << "too fast to stop";
    EXPECT_TRUE(task.Stop());
    task.Query(info);
    EXPECT_TRUE(info.stat == TSC_STOPPENDING || info.stat == TSC_PAUSE);
    task.Join();
    task.Query(info);
    EXPECT_EQ(info.stat, TSC_PAUSE);
  }
  // Every byte the record claims matches the source.
  void ExpectRecordHonest(const std::string& source) {
    std::string text;
    ASSERT_TRUE(ReadSmallFile(RecordPath(target_), text));
    ResumeRecord r;
    ASSERT_TRUE(ParseRecord(text, r));
    EXPECT_FALSE(r.done.empty()) << "the record claims nothing";
    const std::string part = ReadAll(PartPath(target_));
    for (const Span& s : r.done) {
      ASSERT_LE(s.end, static_cast<int64_t>(part.size()));
      EXPECT_EQ(part.compare(static_cast<size_t>(s.begin), static_cast<size_t>(s.end - s.begin), source,
                             static_cast<size_t>(s.begin), static_cast<size_t>(s.end - s.begin)),
                0)
          << "claimed span " << s.begin << "-" << s.end;
    }
  }
  void ExpectComplete(const TDownTaskInfo& info, const std::string& content) {
    EXPECT_EQ(info.stat, TSC_COMPLETE) << "fail code " << int(info.fail_code);
    EXPECT_TRUE(ReadAll(target_) == content) << "wrong content";
    EXPECT_FALSE(Exists(PartPath(target_)));
    EXPECT_FALSE(Exists(RecordPath(target_)));
    EXPECT_EQ(info.nTotalDownload, static_cast<int64_t>(content.size()));
    EXPECT_EQ(info.fPercent, 1.0f);
  }

  // Serves `content` as the file of Url().
  void Serve(const std::string& content) { server_.WriteFile("file.bin", content); }
  std::string Url() const { return server_.Url("/file.bin"); }
  // Replaces the fault rules with these ("key=value&...", one rule each).
  void Faults(std::initializer_list<std::string> rules) {
    server_.Control("clear");
    for (const auto& r : rules) server_.AddFault(r);
  }

  corvane::test::TestServer server_;
  RateLimiter limiter_;
  std::string dir_, target_;
};

TEST_F(EngineTest, FetchesOverSeveralConnections) {
  const std::string content = PatternContent(3 << 20, 1);
  Serve(content);
  Faults({"throttle=8388608"});
  ExpectComplete(Run(Url(), false), content);
  EXPECT_GT(server_.MaxConcurrent(), 1);
  EXPECT_LT(server_.BytesSent(), static_cast<int64_t>(content.size()) * 3 / 2);
}

TEST_F(EngineTest, EmptyAndTinyFiles) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{70000}}) {
    const std::string content = PatternContent(size, 2);
    Serve(content);
    ExpectComplete(Run(Url(), false), content);
  }
}

// Each fault, switched on for the first few answers, ends in the right file.
// The rules go to the server in order; a request takes the first that fits.
struct Fault {
  const char* name;
  std::vector<std::string> rules;
};

class EngineFaultTest : public EngineTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(EngineFaultTest, EndsWithTheRightFile) {
  const std::string content = PatternContent(2 << 20, 3);
  Serve(content);
  for (const std::string& rule : GetParam().rules) server_.AddFault(rule);
  ExpectComplete(Run(Url(), false), content);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EngineFaultTest,
    ::testing::Values(
        Fault{"DroppedConnections", {"close-after=100000&times=3"}},
        Fault{"AlwaysDroppedAfterSomeBytes", {"close-after=50000"}},
        Fault{"RangeIgnored", {"ignore-range=1"}},
        Fault{"RangeIgnoredOnce", {"ignore-range=1&times=2"}},
        Fault{"MisplacedContentRange", {"misplace-range=1&times=2"}},
        Fault{"AlwaysMisplacedFallsBackToTheWholeBody", {"misplace-range=1"}},
        Fault{"Refused416", {"refuse-range=1&times=2"}},
        Fault{"NoContentLength", {"no-length=1"}},
        Fault{"NoContentLengthNoRanges", {"no-length=1&ignore-range=1"}},
        Fault{"ContentLengthTooSmall", {"length-delta=-1000"}},
        Fault{"ContentLengthTooLarge", {"length-delta=1000"}},
        Fault{"ContentLengthTooSmallNoRanges", {"length-delta=-1000&ignore-range=1"}},
        Fault{"StalledConnections", {"stall-after=30000&times=2"}},
        Fault{"DroppedWithoutRanges", {"ignore-range=1&close-after=50000&times=1", "ignore-range=1"}},
        // Each node behind the address has its own ETag for the same file.
        Fault{"PerNodeEtags", {"changing-etag=1"}},
        Fault{"PerNodeWeakEtagsWithoutLastModified", {"changing-etag=1&weak-etag=1&no-last-modified=1"}},
        Fault{"ChunkedBodies", {"chunked=1"}},
        Fault{"ChunkedWithoutRanges", {"chunked=1&ignore-range=1"}},
        Fault{"ChunkNotEndedByCrLf", {"bad-chunk=1&times=2"}},
        Fault{"BadStatusLine", {"bad-head=status-line&times=2"}},
        Fault{"HugeHead", {"bad-head=huge&times=2"}},
        Fault{"GarbageHead", {"bad-head=garbage&times=2"}},
        Fault{"HeaderLinesWithoutColon", {"bad-head=no-colon"}},
        Fault{"NegativeContentLength", {"bad-head=negative-length"}},
        Fault{"TwoContentLengths", {"bad-head=two-lengths"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Faults that never end: ERROR, and no file under the final name.
class EngineHopelessTest : public EngineTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(EngineHopelessTest, EndsInErrorWithoutAFile) {
  const std::string content = PatternContent(1 << 20, 4);
  Serve(content);
  for (const std::string& rule : GetParam().rules) server_.AddFault(rule);
  const TDownTaskInfo info = Run(Url(), false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_FALSE(Exists(target_));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EngineHopelessTest,
    ::testing::Values(
        Fault{"AlwaysDroppedAtOnce", {"close-after=0"}},
        Fault{"AlwaysStalledAtOnce", {"stall-after=0"}},
        Fault{"TooLongLengthWithoutRanges", {"length-delta=1000&ignore-range=1"}},
        Fault{"ChunksNeverEndedByCrLf", {"bad-chunk=1"}},
        Fault{"AlwaysABadStatusLine", {"bad-head=status-line"}},
        // Without a Last-Modified, differing strong ETags mean another file.
        Fault{"PerNodeStrongEtagsWithoutLastModified", {"changing-etag=1&no-last-modified=1"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, StoppedTaskResumesWhereItStopped) {
  const std::string content = PatternContent(4 << 20, 5);
  Serve(content);
  Faults({"throttle=2097152"});
  RunAndStopAfter(Url(), 1 << 20);
  EXPECT_FALSE(Exists(target_));
  ASSERT_TRUE(Exists(PartPath(target_)));
  ExpectRecordHonest(content);
  const int64_t before = server_.BytesSent();
  // Throttled, the server sends little more than what is read.
  Faults({"throttle=8388608"});
  ExpectComplete(Run(Url(), true), content);
  EXPECT_LT(server_.BytesSent() - before, static_cast<int64_t>(content.size()) - (512 << 10)) << "started over";
}

TEST_F(EngineTest, WithoutResumeTheOldPartStartsOver) {
  const std::string content = PatternContent(2 << 20, 6);
  Serve(content);
  Faults({"throttle=1048576"});
  RunAndStopAfter(Url(), 300000);
  Faults({});
  const int64_t before = server_.BytesSent();
  ExpectComplete(Run(Url(), false), content);
  EXPECT_GE(server_.BytesSent() - before, static_cast<int64_t>(content.size()));
}

// A part file that no record claims is never trusted, whether it is empty
// (left alone, not cut again) or holds other data, on a server with or
// without ranges, asked to resume or not.
TEST_F(EngineTest, PartWithoutRecordNeverShowsThrough) {
  const std::string content = PatternContent(300000, 14);
  Serve(content);
  for (const size_t leftover : {size_t{0}, size_t{100000}, size_t{500000}}) {
    for (const bool ranges : {true, false}) {
      for (const bool resume : {true, false}) {
        SCOPED_TRACE(testing::Message() << leftover << " bytes left over, ranges " << ranges << ", resume " << resume);
        std::ofstream(std::filesystem::u8path(PartPath(target_)), std::ios::binary)
            << PatternContent(leftover, 15);
        if (ranges) Faults({});
        else Faults({"ignore-range=1"});
        ExpectComplete(Run(Url(), resume), content);
        std::filesystem::remove(std::filesystem::u8path(target_));
      }
    }
  }
}

TEST_F(EngineTest, FileChangedBetweenStopAndResumeStartsFromZero) {
  for (const bool lastModified : {true, false}) {
    SCOPED_TRACE(lastModified ? "new Last-Modified" : "no Last-Modified, new strong ETag");
    const std::string v1 = PatternContent(2 << 20, 7), v2 = PatternContent(2 << 20, 8);
    Serve(v1);
    const std::string noLastModified = lastModified ? "" : "&no-last-modified=1";
    // Per connection: slow enough to stop on a loaded machine.
    Faults({"throttle=131072" + noLastModified});
    RunAndStopAfter(Url(), 400000);
    // The new version, an hour younger (a new ETag and Last-Modified).
    const auto v1Time = std::filesystem::last_write_time(std::filesystem::u8path(server_.Path("file.bin")));
    Serve(v2);
    std::filesystem::last_write_time(std::filesystem::u8path(server_.Path("file.bin")), v1Time + std::chrono::hours(1));
    if (lastModified) Faults({});
    else Faults({"no-last-modified=1"});
    ExpectComplete(Run(Url(), true), v2);
  }
}

TEST_F(EngineTest, PerNodeEtagsDoNotRestartAResume) {
  const std::string content = PatternContent(4 << 20, 14);
  Serve(content);
  Faults({"throttle=2097152"});
  RunAndStopAfter(Url(), 1 << 20);
  ExpectRecordHonest(content);
  Faults({"changing-etag=1&throttle=8388608"});
  const int64_t before = server_.BytesSent();
  ExpectComplete(Run(Url(), true), content);
  EXPECT_LT(server_.BytesSent() - before, static_cast<int64_t>(content.size()) - (512 << 10)) << "started over";
}

TEST_F(EngineTest, RedirectsToAnotherServerAndRefusesHttps) {
  const std::string content = PatternContent(300000, 15);
  Serve(content);
  // "%2F%2F127.0.0.1:port%2Ffile.bin", as a query value
  std::string origin = server_.Url("").substr(5) + "/file.bin";
  for (size_t at; (at = origin.find('/')) != std::string::npos;) origin.replace(at, 1, "%2F");
  server_.AddFault("path=/moved&status=302&location=http:" + origin);
  server_.AddFault("path=/secure&status=302&location=https:" + origin);
  ExpectComplete(Run(server_.Url("/moved"), false), content);
  std::filesystem::remove(std::filesystem::u8path(target_));
  const TDownTaskInfo info = Run(server_.Url("/secure"), false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_DOWN_INVALID);
  EXPECT_FALSE(Exists(target_));
}

TEST_F(EngineTest, ResumeAgainstAServerThatNowIgnoresRangesRewritesFromZero) {
  const std::string content = PatternContent(2 << 20, 9);
  Serve(content);
  Faults({"throttle=1048576"});
  RunAndStopAfter(Url(), 400000);
  Faults({"ignore-range=1"});
  ExpectComplete(Run(Url(), true), content);
}

TEST_F(EngineTest, UnwritableFolderIsADiskError) {
  const std::string content = PatternContent(100000, 10);
  Serve(content);
  std::ofstream(std::filesystem::u8path(dir_ + "/blocker")) << "a file, not a folder";
  target_ = dir_ + "/blocker/image.img";
  const TDownTaskInfo info = Run(Url(), false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_DISK_CREATE);
}

TEST_F(EngineTest, UnreachableServerIsATimeoutAndBadAddressInvalid) {
  TDownTaskInfo info = Run(corvane::test::ClosedPortUrl("/file.bin"), false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_TIMEOUT);
  info = Run("ftp://127.0.0.1/file", false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_DOWN_INVALID);
}

TEST_F(EngineTest, SpeedLimitIsHonoured) {
  const std::string content = PatternContent(1 << 20, 11);
  Serve(content);
  limiter_.SetLimit(1 << 20);
  const auto t0 = std::chrono::steady_clock::now();
  ExpectComplete(Run(Url(), false), content);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GT(secs, 0.7);
  limiter_.SetLimit(0);
}

#ifndef _WIN32
// The driver program: a process that can die mid-download or hit a full disk.
int RunDriver(const std::vector<std::string>& args) {
  const std::string exe = std::string(std::getenv("CORVANE_BUILD_DIR")) + "/download/engine/xldl_get";
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::setenv("CORVANE_XLDL_CHECKPOINT_MS", "50", 1);
    ::setenv("CORVANE_XLDL_MIN_SPLIT", "65536", 1);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(EngineTest, KilledProcessLeavesAnHonestRecordAndANewTaskResumes) {
  const std::string content = PatternContent(4 << 20, 12);
  Serve(content);
  Faults({"throttle=1048576"});
  EXPECT_EQ(RunDriver({"--quiet", "--die-after", "2500000", Url(), target_}), 128 + SIGKILL);
  EXPECT_FALSE(Exists(target_));
  ExpectRecordHonest(content);
  Faults({"throttle=8388608"});
  const int64_t before = server_.BytesSent();
  ExpectComplete(Run(Url(), true), content);
  EXPECT_LT(server_.BytesSent() - before, static_cast<int64_t>(content.size()) - (512 << 10));
}

TEST_F(EngineTest, FullDiskIsADiskError) {
  const std::string content = PatternContent(2 << 20, 13);
  Serve(content);
  EXPECT_EQ(RunDriver({"--quiet", "--fsize-limit", "500000", Url(), target_}), 2);
  EXPECT_FALSE(Exists(target_));
}
#endif

// The partial data is set to its full size and written at offsets spread
// over it: the bytes between must not be filled in first.
TEST(DiskFileTest, APreSizedFileIsSparse) {
  const std::string dir = corvane::test::MakeTempDir("sparse");
  const std::string path = dir + "/image.img.cvdl";
  DiskFile f;
  ASSERT_TRUE(f.Open(path));
  EXPECT_TRUE(f.Sparse()) << "the file was not marked sparse";
  const int64_t size = int64_t{1} << 30;
  ASSERT_TRUE(f.SetSize(size));
  const std::string tail = PatternContent(4096, 16);
  ASSERT_TRUE(f.WriteAt(size - 4096, tail.data(), tail.size()));
  ASSERT_TRUE(f.Sync());
  EXPECT_EQ(f.Size(), size);
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_LT(int64_t{st.st_blocks} * 512, int64_t{1} << 20) << "zeros were written";
#endif
  f.Close();
  EXPECT_FALSE(f.Sparse());
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::u8path(dir), ec);
}

TEST(ResumeRecordTest, RoundTripAndStrictness) {
  ResumeRecord r{"http://h/f", 1000, "\"e\"", "Tue", {{0, 10}, {20, 1000}}};
  const std::string text = SerializeRecord(r);
  ResumeRecord back;
  ASSERT_TRUE(ParseRecord(text, back));
  EXPECT_EQ(back.done, r.done);
  EXPECT_EQ(back.etag, r.etag);
  // Cut short anywhere, it is refused.
  for (size_t n = 0; n + 1 < text.size(); ++n) EXPECT_FALSE(ParseRecord(text.substr(0, n), back)) << n;
  r.done = {{0, 1001}};
  EXPECT_FALSE(ParseRecord(SerializeRecord(r), back)) << "beyond the size";
}

TEST(RangePlanTest, IdleWorkerTakesOverHalfOfTheLargestRange) {
  RangePlan plan;
  plan.Reset(1 << 20, {{0, 4096}}, 65536);
  int a = -1, b = -1;
  ASSERT_TRUE(plan.Acquire(0, a));
  int64_t from = 0, to = 0;
  plan.Cursor(a, from, to);
  EXPECT_EQ(from, 4096);
  ASSERT_TRUE(plan.Acquire(1, b));
  int64_t from2 = 0, to2 = 0;
  plan.Cursor(b, from2, to2);
  plan.Cursor(a, from, to);
  EXPECT_EQ(to, from2);
  EXPECT_EQ(to2, 1 << 20);
  // The first worker cannot write past the split point.
  EXPECT_EQ(plan.Reserve(a, 1 << 20), to - 4096);
  plan.Commit(a, to - 4096);
  EXPECT_EQ(plan.Reserve(b, 1 << 20), (1 << 20) - from2);
  plan.Commit(b, (1 << 20) - from2);
  EXPECT_TRUE(plan.Complete());
  EXPECT_EQ(plan.Done(), (std::vector<Span>{{0, 1 << 20}}));
}

}  // namespace
}  // namespace xldl
