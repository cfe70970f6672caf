#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/errors.h"
#include "common/ui_thread.h"

using namespace corvane;

TEST(UiThread, SyncRunsOnTheUiThreadAndCarriesErrorsBack) {
  TaskQueueUiThread ui;
  std::atomic<bool> done{false};
  std::thread::id ranOn;
  bool caught = false;
  std::thread worker([&] {
    ui.Sync([&] { ranOn = std::this_thread::get_id(); });
    try {
      ui.Sync([] { throw Exception("boom"); });
    } catch (const Exception& e) {
      caught = std::string(e.what()) == "boom";
    }
    done = true;
  });
  while (!done) ui.WaitAndRun(10);
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_TRUE(caught);
}

TEST(UiThread, ShutdownReleasesWaitingWorkers) {
  TaskQueueUiThread ui;
  std::atomic<int> stage{0};
  std::thread worker([&] {
    stage = 1;
    ui.Sync([] {});  // never run: the UI goes away
    stage = 2;
  });
  while (stage == 0) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ui.Shutdown();
  worker.join();
  EXPECT_EQ(stage, 2);
  ui.Post([] { FAIL() << "nothing runs after shutdown"; });
  EXPECT_EQ(ui.RunPending(), 0);
}
