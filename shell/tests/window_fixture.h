// A main window for tests: the virtual clock, a task-queue UI thread owned
// by the test thread, a host that records what the handlers ask of the view,
// and stages replaced by recorders (the stages have their own tests).
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/ui_thread.h"
#include "shell/F_Main.h"
#include "tests/support/virtual_clock.h"

namespace corvane::test {

struct RecordingHost : FormHost {
  std::vector<std::string> opened;
  int closes = 0, abouts = 0;
  std::vector<std::pair<int, int>> menus;
  Rect rect{200, 100, 352, 362};
  void ShellOpen(const std::string& t) override { opened.push_back(t); }
  void CloseMainWindow() override { ++closes; }
  Rect WindowRect() override { return rect; }
  void PopupMenu(int x, int y) override { menus.emplace_back(x, y); }
  void ShowAboutModal() override { ++abouts; }
  void MessageBox(const std::string&, const std::string&, MsgIcon) override {}
  // The taskbar button's progress, every call in order (UI thread).
  struct TaskbarShown {
    TaskbarState state;
    uint64_t done, total;
  };
  std::vector<TaskbarShown> taskbar;
  void SetTaskbarProgress(TaskbarState s, uint64_t done, uint64_t total) override {
    taskbar.push_back({s, done, total});
  }
};

class RecordingFrm : public TFrm_Main {
 public:
  using TFrm_Main::TFrm_Main;
  std::atomic<int> started[5] = {};
  int Started(Stage s) const { return started[static_cast<int>(s)].load(); }
  // A stage body for a test; runs on the worker.
  std::function<void(Stage)> body;

 protected:
  void RunStage(Stage s) override {
    ++started[static_cast<int>(s)];
    if (body) body(s);
  }
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() : frm(ui, clock, host) {}
  ~WindowTest() override { WaitForWorkers(); }

  // Lets the workers finish, running their hand-overs meanwhile.
  void WaitForWorkers() {
    // A deadline rather than a count of passes: under Wine on a loaded
    // machine a worker thread can take seconds to be scheduled.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (frm.LiveWorkers() > 0 && std::chrono::steady_clock::now() < deadline) ui.WaitAndRun(5);
    ASSERT_EQ(frm.LiveWorkers(), 0) << "a worker did not end";
  }
  // Moves the virtual time on in 50 ms steps, as the view's pump does.
  void Advance(int64_t ms) {
    for (int64_t t = 0; t < ms; t += 50) {
      clock.Advance(50);
      ui.RunPending();
      frm.Pump();
    }
  }
  void Seconds(int n) { Advance(int64_t{n} * 1000); }

  VirtualClock clock;
  TaskQueueUiThread ui;
  RecordingHost host;
  RecordingFrm frm;
};

}  // namespace corvane::test
