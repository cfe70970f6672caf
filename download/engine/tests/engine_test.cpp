// The engine against a loopback server with faults: every case ends with the
// right file or in ERROR, never with a complete-looking wrong file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "download/engine/download_task.h"
#include "tests/support/fault_http_server.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace xldl {
namespace {

using corvane::test::FaultHttpServer;
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

  RateLimiter limiter_;
  std::string dir_, target_;
};

TEST_F(EngineTest, FetchesOverSeveralConnections) {
  const std::string content = PatternContent(3 << 20, 1);
  FaultHttpServer server(content);
  server.faults.throttle = 8 << 20;
  ExpectComplete(Run(server.Url(), false), content);
  EXPECT_GT(server.MaxConcurrent(), 1);
  EXPECT_LT(server.BytesSent(), static_cast<int64_t>(content.size()) * 3 / 2);
}

TEST_F(EngineTest, EmptyAndTinyFiles) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{70000}}) {
    const std::string content = PatternContent(size, 2);
    FaultHttpServer server(content);
    ExpectComplete(Run(server.Url(), false), content);
  }
}

// Each fault, switched on for the first few answers, ends in the right file.
struct Fault {
  const char* name;
  void (*arm)(corvane::test::FaultPlan&);
};

class EngineFaultTest : public EngineTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(EngineFaultTest, EndsWithTheRightFile) {
  const std::string content = PatternContent(2 << 20, 3);
  FaultHttpServer server(content);
  GetParam().arm(server.faults);
  ExpectComplete(Run(server.Url(), false), content);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EngineFaultTest,
    ::testing::Values(
        Fault{"DroppedConnections", [](auto& f) { f.dropAfter = 100000; f.dropCount = 3; }},
        Fault{"AlwaysDroppedAfterSomeBytes", [](auto& f) { f.dropAfter = 50000; f.dropCount = -1; }},
        Fault{"RangeIgnored", [](auto& f) { f.ignoreRange = -1; }},
        Fault{"RangeIgnoredOnce", [](auto& f) { f.ignoreRange = 2; }},
        Fault{"MisplacedContentRange", [](auto& f) { f.misplacedRange = 2; }},
        Fault{"AlwaysMisplacedFallsBackToTheWholeBody", [](auto& f) { f.misplacedRange = -1; }},
        Fault{"Refused416", [](auto& f) { f.refuse416 = 2; }},
        Fault{"NoContentLength", [](auto& f) { f.noContentLength = true; }},
        Fault{"NoContentLengthNoRanges", [](auto& f) { f.noContentLength = true; f.ignoreRange = -1; }},
        Fault{"ContentLengthTooSmall", [](auto& f) { f.lengthDelta = -1000; }},
        Fault{"ContentLengthTooLarge", [](auto& f) { f.lengthDelta = 1000; }},
        Fault{"ContentLengthTooSmallNoRanges", [](auto& f) { f.lengthDelta = -1000; f.ignoreRange = -1; }},
        Fault{"StalledConnections", [](auto& f) { f.stallAfter = 30000; f.stallCount = 2; }},
        Fault{"DroppedWithoutRanges", [](auto& f) { f.ignoreRange = -1; f.dropAfter = 50000; f.dropCount = 1; }},
        // Each node behind the address has its own ETag for the same file.
        Fault{"PerNodeEtags", [](auto& f) { f.perNodeEtag = true; }},
        Fault{"PerNodeWeakEtagsWithoutLastModified",
              [](auto& f) { f.perNodeEtag = true; f.weakEtag = true; f.noLastModified = true; }},
        Fault{"ChunkedBodies", [](auto& f) { f.chunked = -1; }},
        Fault{"ChunkedWithoutRanges", [](auto& f) { f.chunked = -1; f.ignoreRange = -1; }},
        Fault{"ChunkNotEndedByCrLf", [](auto& f) { f.badChunkEnd = 2; }},
        Fault{"BadStatusLine", [](auto& f) { f.malformedKind = corvane::test::kBadStatusLine; f.malformedHead = 2; }},
        Fault{"HugeHead", [](auto& f) { f.malformedKind = corvane::test::kHugeHead; f.malformedHead = 2; }},
        Fault{"GarbageHead", [](auto& f) { f.malformedKind = corvane::test::kGarbageHead; f.malformedHead = 2; }},
        Fault{"HeaderLinesWithoutColon",
              [](auto& f) { f.malformedKind = corvane::test::kLineWithoutColon; f.malformedHead = -1; }},
        Fault{"NegativeContentLength",
              [](auto& f) { f.malformedKind = corvane::test::kNegativeLength; f.malformedHead = -1; }},
        Fault{"TwoContentLengths", [](auto& f) { f.malformedKind = corvane::test::kTwoLengths; f.malformedHead = -1; }}),
    [](const auto& info) { return std::string(info.param.name); });

// Faults that never end: ERROR, and no file under the final name.
class EngineHopelessTest : public EngineTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(EngineHopelessTest, EndsInErrorWithoutAFile) {
  const std::string content = PatternContent(1 << 20, 4);
  FaultHttpServer server(content);
  GetParam().arm(server.faults);
  const TDownTaskInfo info = Run(server.Url(), false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_FALSE(Exists(target_));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EngineHopelessTest,
    ::testing::Values(
        Fault{"AlwaysDroppedAtOnce", [](auto& f) { f.dropAfter = 0; f.dropCount = -1; }},
        Fault{"AlwaysStalledAtOnce", [](auto& f) { f.stallAfter = 0; f.stallCount = -1; }},
        Fault{"TooLongLengthWithoutRanges", [](auto& f) { f.lengthDelta = 1000; f.ignoreRange = -1; }},
        Fault{"ChunksNeverEndedByCrLf", [](auto& f) { f.badChunkEnd = -1; }},
        Fault{"AlwaysABadStatusLine",
              [](auto& f) { f.malformedKind = corvane::test::kBadStatusLine; f.malformedHead = -1; }},
        // Without a Last-Modified, differing strong ETags mean another file.
        Fault{"PerNodeStrongEtagsWithoutLastModified", [](auto& f) { f.perNodeEtag = true; f.noLastModified = true; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, StoppedTaskResumesWhereItStopped) {
  const std::string content = PatternContent(4 << 20, 5);
  FaultHttpServer server(content);
  server.faults.throttle = 2 << 20;
  RunAndStopAfter(server.Url(), 1 << 20);
  EXPECT_FALSE(Exists(target_));
  ASSERT_TRUE(Exists(PartPath(target_)));
  ExpectRecordHonest(content);
  const int64_t before = server.BytesSent();
  // Throttled, the server sends little more than what is read.
  server.faults.throttle = 8 << 20;
  ExpectComplete(Run(server.Url(), true), content);
  EXPECT_LT(server.BytesSent() - before, static_cast<int64_t>(content.size()) - (512 << 10)) << "started over";
}

TEST_F(EngineTest, WithoutResumeTheOldPartStartsOver) {
  const std::string content = PatternContent(2 << 20, 6);
  FaultHttpServer server(content);
  server.faults.throttle = 1 << 20;
  RunAndStopAfter(server.Url(), 300000);
  server.faults.throttle = 0;
  const int64_t before = server.BytesSent();
  ExpectComplete(Run(server.Url(), false), content);
  EXPECT_GE(server.BytesSent() - before, static_cast<int64_t>(content.size()));
}

// A part file that no record claims is never trusted, whether it is empty
// (left alone, not cut again) or holds other data, on a server with or
// without ranges, asked to resume or not.
TEST_F(EngineTest, PartWithoutRecordNeverShowsThrough) {
  const std::string content = PatternContent(300000, 14);
  FaultHttpServer server(content);
  for (const size_t leftover : {size_t{0}, size_t{100000}, size_t{500000}}) {
    for (const bool ranges : {true, false}) {
      for (const bool resume : {true, false}) {
        SCOPED_TRACE(testing::Message() << leftover << " bytes left over, ranges " << ranges << ", resume " << resume);
        std::ofstream(std::filesystem::u8path(PartPath(target_)), std::ios::binary)
            << PatternContent(leftover, 15);
        server.faults.ignoreRange = ranges ? 0 : -1;
        ExpectComplete(Run(server.Url(), resume), content);
        std::filesystem::remove(std::filesystem::u8path(target_));
      }
    }
  }
}

TEST_F(EngineTest, FileChangedBetweenStopAndResumeStartsFromZero) {
  for (const bool lastModified : {true, false}) {
    SCOPED_TRACE(lastModified ? "new Last-Modified" : "no Last-Modified, new strong ETag");
    const std::string v1 = PatternContent(2 << 20, 7), v2 = PatternContent(2 << 20, 8);
    FaultHttpServer server(v1);
    server.faults.noLastModified = !lastModified;
    server.faults.throttle = 128 << 10;  // per connection: slow enough to stop on a loaded machine
    RunAndStopAfter(server.Url(), 400000);
    server.SetContent(v2, "\"v2\"");
    server.faults.throttle = 0;
    ExpectComplete(Run(server.Url(), true), v2);
  }
}

TEST_F(EngineTest, PerNodeEtagsDoNotRestartAResume) {
  const std::string content = PatternContent(4 << 20, 14);
  FaultHttpServer server(content);
  server.faults.throttle = 2 << 20;
  RunAndStopAfter(server.Url(), 1 << 20);
  ExpectRecordHonest(content);
  server.faults.perNodeEtag = true;
  server.faults.throttle = 8 << 20;
  const int64_t before = server.BytesSent();
  ExpectComplete(Run(server.Url(), true), content);
  EXPECT_LT(server.BytesSent() - before, static_cast<int64_t>(content.size()) - (512 << 10)) << "started over";
}

TEST_F(EngineTest, RedirectsToAnotherServerAndRefusesHttps) {
  const std::string content = PatternContent(300000, 15);
  FaultHttpServer server(content);
  const std::string origin = server.Url("").substr(5, server.Url("").size() - 6);  // "//127.0.0.1:port"
  server.SetRedirect("moved", origin + "/file.bin");
  ExpectComplete(Run(server.Url("moved"), false), content);
  std::filesystem::remove(std::filesystem::u8path(target_));
  server.SetRedirect("secure", "https:" + origin + "/file.bin");
  const TDownTaskInfo info = Run(server.Url("secure"), false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_DOWN_INVALID);
  EXPECT_FALSE(Exists(target_));
}

TEST_F(EngineTest, ResumeAgainstAServerThatNowIgnoresRangesRewritesFromZero) {
  const std::string content = PatternContent(2 << 20, 9);
  FaultHttpServer server(content);
  server.faults.throttle = 1 << 20;
  RunAndStopAfter(server.Url(), 400000);
  server.faults.throttle = 0;
  server.faults.ignoreRange = -1;
  ExpectComplete(Run(server.Url(), true), content);
}

TEST_F(EngineTest, UnwritableFolderIsADiskError) {
  const std::string content = PatternContent(100000, 10);
  FaultHttpServer server(content);
  std::ofstream(std::filesystem::u8path(dir_ + "/blocker")) << "a file, not a folder";
  target_ = dir_ + "/blocker/image.img";
  const TDownTaskInfo info = Run(server.Url(), false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_DISK_CREATE);
}

TEST_F(EngineTest, UnreachableServerIsATimeoutAndBadAddressInvalid) {
  FaultHttpServer server("x");
  const std::string url = server.Url();
  std::string dead;
  {
    FaultHttpServer gone("x");
    dead = gone.Url();
  }
  TDownTaskInfo info = Run(dead, false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_TIMEOUT);
  info = Run("ftp://127.0.0.1/file", false);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_DOWN_INVALID);
}

TEST_F(EngineTest, SpeedLimitIsHonoured) {
  const std::string content = PatternContent(1 << 20, 11);
  FaultHttpServer server(content);
  limiter_.SetLimit(1 << 20);
  const auto t0 = std::chrono::steady_clock::now();
  ExpectComplete(Run(server.Url(), false), content);
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
  FaultHttpServer server(content);
  server.faults.throttle = 1 << 20;
  EXPECT_EQ(RunDriver({"--quiet", "--die-after", "2500000", server.Url(), target_}), 128 + SIGKILL);
  EXPECT_FALSE(Exists(target_));
  ExpectRecordHonest(content);
  server.faults.throttle = 8 << 20;
  const int64_t before = server.BytesSent();
  ExpectComplete(Run(server.Url(), true), content);
  EXPECT_LT(server.BytesSent() - before, static_cast<int64_t>(content.size()) - (512 << 10));
}

TEST_F(EngineTest, FullDiskIsADiskError) {
  const std::string content = PatternContent(2 << 20, 13);
  FaultHttpServer server(content);
  EXPECT_EQ(RunDriver({"--quiet", "--fsize-limit", "500000", server.Url(), target_}), 2);
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
