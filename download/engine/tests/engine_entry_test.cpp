// The engine through its entry points, with a thread of it held or failing
// at a fault point: a stop that deletes returns while the task is still in
// its last flush, and no exception leaves a thread or an entry point.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "download/engine/download_task.h"
#include "download/engine/engine_text.h"
#include "download/engine/fault_points.h"
#include "download/engine/xldl_records.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"

extern "C" {
int32_t XLDL_CALL XL_Init();
int32_t XLDL_CALL XL_UnInit();
XL_HANDLE XLDL_CALL XL_CreateTask(TDownTaskParam*);
int32_t XLDL_CALL XL_StartTask(XL_HANDLE);
int32_t XLDL_CALL XL_StopTask(XL_HANDLE);
int32_t XLDL_CALL XL_DelTempFile(TDownTaskParam*);
int32_t XLDL_CALL XL_QueryTaskInfoEx(XL_HANDLE, TDownTaskInfo*);
}

namespace xldl {
namespace {

using corvane::test::PatternContent;

bool Exists(const std::string& path) { return std::filesystem::exists(std::filesystem::u8path(path)); }

void Put(char16_t* field, const std::string& text) {
  const std::u16string u = Utf8ToUtf16(text);
  std::memcpy(field, u.data(), u.size() * sizeof(char16_t));
}

// A thread that reaches the fault point waits there until the test lets it
// go. Should the test never do so (a stop that waits for the task it holds),
// the thread goes on after a minute, and the test sees what happened first.
struct Hold {
  std::mutex mu;
  std::condition_variable cv;
  bool armed = false, entered = false, released = false;
  bool returnedWhileHeld = false;

  void Enter() {
    std::unique_lock<std::mutex> lk(mu);
    if (!armed || released) return;
    entered = true;
    cv.notify_all();
    cv.wait_for(lk, std::chrono::minutes(1), [&] { return released; });
  }
  void WaitEntered() {
    std::unique_lock<std::mutex> lk(mu);
    cv.wait(lk, [&] { return entered; });
  }
  void Release() {
    std::lock_guard<std::mutex> g(mu);
    released = true;
    cv.notify_all();
  }
};
Hold* g_hold = nullptr;
faults::Point g_throwAt = faults::Point::Sync;

class EngineEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = corvane::test::MakeTempDir("entry");
    std::memset(&param_, 0, sizeof param_);
    Put(param_.szFilename, "image.img");
#ifdef _WIN32
    Put(param_.szSavePath, dir_ + "\\");
    target_ = dir_ + "\\image.img";
#else
    Put(param_.szSavePath, dir_ + "/");
    target_ = dir_ + "/image.img";
#endif
    // Flushes the data before every record, every 50 ms, and several
    // connections even for a small file.
#ifdef _WIN32
    ::_putenv("CORVANE_XLDL_CHECKPOINT_MS=50");
    ::_putenv("CORVANE_XLDL_FLUSH_MB=0");
    ::_putenv("CORVANE_XLDL_MIN_SPLIT=65536");
#else
    ::setenv("CORVANE_XLDL_CHECKPOINT_MS", "50", 1);
    ::setenv("CORVANE_XLDL_FLUSH_MB", "0", 1);
    ::setenv("CORVANE_XLDL_MIN_SPLIT", "65536", 1);
#endif
    ASSERT_EQ(XL_Init(), 1);
  }
  void TearDown() override {
    XL_UnInit();
    // The other tests of this program keep the engine's own flush policy.
#ifdef _WIN32
    ::_putenv("CORVANE_XLDL_FLUSH_MB=");
#else
    ::unsetenv("CORVANE_XLDL_FLUSH_MB");
#endif
    faults::SetHook(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::u8path(dir_), ec);
  }
  XL_HANDLE StartTask(const std::string& url) {
    Put(param_.szTaskUrl, url);
    const XL_HANDLE h = XL_CreateTask(&param_);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(XL_StartTask(h), 1);
    return h;
  }
  // Waits for the task to report `bytes` or to end.
  TDownTaskInfo WaitFor(XL_HANDLE h, int64_t bytes) {
    TDownTaskInfo info{};
    for (;;) {
      XL_QueryTaskInfoEx(h, &info);
      if (info.nTotalDownload >= bytes || info.stat == TSC_ERROR || info.stat == TSC_COMPLETE ||
          info.stat == TSC_PAUSE)
        return info;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  std::string dir_, target_;
  TDownTaskParam param_;
};

TEST_F(EngineEntryTest, StopWithDeletionReturnsWhileTheTaskIsInItsLastFlush) {
  const std::string content = PatternContent(4 << 20, 31);
  corvane::test::TestServer server;
  ASSERT_TRUE(server.Available());
  server.WriteFile("file.bin", content);
  server.AddFault("throttle=1048576");
  const XL_HANDLE h = StartTask(server.Url("/file.bin"));
  ASSERT_EQ(WaitFor(h, 300000).stat, TSC_DOWNLOAD);

  Hold hold;
  g_hold = &hold;
  faults::SetHook([](faults::Point p) {
    if (p == faults::Point::Sync) g_hold->Enter();
  });
  {
    std::lock_guard<std::mutex> g(hold.mu);
    hold.armed = true;
  }
  EXPECT_EQ(XL_StopTask(h), 1);
  EXPECT_EQ(XL_DelTempFile(&param_), 1);
  // Here already, with the task held in a flush: nothing waited for it.
  hold.WaitEntered();
  EXPECT_TRUE(Exists(PartPath(target_))) << "deleted under the running task, or only after it had ended";
  hold.Release();
  EXPECT_EQ(XL_UnInit(), 1);  // every task has ended
  EXPECT_FALSE(Exists(PartPath(target_)));
  EXPECT_FALSE(Exists(RecordPath(target_)));
  EXPECT_FALSE(Exists(target_));
}

TEST_F(EngineEntryTest, DeletionWithoutARunningTaskHappensAtOnce) {
  std::filesystem::create_directories(std::filesystem::u8path(dir_));
  for (const std::string& p : {PartPath(target_), RecordPath(target_)}) {
    std::FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  EXPECT_EQ(XL_DelTempFile(&param_), 1);
  EXPECT_FALSE(Exists(PartPath(target_)));
  EXPECT_FALSE(Exists(RecordPath(target_)));
}

// An exception raised inside a worker or the controller ends the task in
// ERROR; the process goes on.
class EngineThrowTest : public EngineEntryTest, public ::testing::WithParamInterface<faults::Point> {};

TEST_P(EngineThrowTest, AnExceptionInAThreadEndsTheTaskInError) {
  const std::string content = PatternContent(2 << 20, 32);
  corvane::test::TestServer server;
  ASSERT_TRUE(server.Available());
  server.WriteFile("file.bin", content);
  server.AddFault("throttle=4194304");
  g_throwAt = GetParam();
  faults::SetHook([](faults::Point p) {
    if (p == g_throwAt) throw std::runtime_error("fault point");
  });
  const XL_HANDLE h = StartTask(server.Url("/file.bin"));
  const TDownTaskInfo info = WaitFor(h, int64_t{1} << 40);
  EXPECT_EQ(info.stat, TSC_ERROR);
  EXPECT_EQ(info.fail_code, TASK_ERROR_UNKNOWN);
  EXPECT_FALSE(Exists(target_));
}

INSTANTIATE_TEST_SUITE_P(Threads, EngineThrowTest,
                         ::testing::Values(faults::Point::Write,  // a worker
                                           faults::Point::Sync),  // the controller, workers running
                         [](const auto& info) { return info.param == faults::Point::Write ? "Worker" : "Controller"; });

TEST_F(EngineEntryTest, AnExceptionInAnEntryPointIsAFailedCall) {
  faults::SetHook([](faults::Point p) {
    if (p == faults::Point::Remove) throw std::runtime_error("fault point");
  });
  EXPECT_EQ(XL_DelTempFile(&param_), 0);
}

}  // namespace
}  // namespace xldl
