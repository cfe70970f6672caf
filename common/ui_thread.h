// The one way into the UI thread. A worker reaches the screen only by handing
// a step to the UI thread and waiting until it has run.
#pragma once
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace corvane {

class UiThread {
 public:
  virtual ~UiThread() = default;
  // Runs fn on the UI thread and waits for it; an exception thrown by fn is
  // rethrown here. Called on the UI thread itself, fn runs at once.
  virtual void Sync(const std::function<void()>& fn) = 0;
  // Queues fn for the UI thread and returns at once.
  virtual void Post(std::function<void()> fn) = 0;
  virtual bool IsUiThread() const = 0;
};

// A UI thread made of a task queue: the owning thread drains it with
// RunPending() (tests) or whenever Wake() tells it to (the Win32 view posts a
// window message from Wake()). After Shutdown() nothing runs and Sync()
// returns at once, so a worker never waits for a window that is gone.
class TaskQueueUiThread : public UiThread {
 public:
  TaskQueueUiThread();
  void Sync(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  bool IsUiThread() const override;

  // Runs every queued task; returns how many ran. Call on the UI thread.
  int RunPending();
  // Waits up to timeoutMs for a task and runs what is queued.
  int WaitAndRun(int timeoutMs);
  void Shutdown();
  // Called (on any thread) after a task was queued.
  std::function<void()> Wake;
  // Makes the calling thread the UI thread.
  void AdoptCurrentThread();

 private:
  struct Task {
    std::function<void()> fn;
    std::shared_ptr<struct SyncState> sync;
  };
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Task> queue_;
  bool shutdown_ = false;
  std::thread::id owner_;
};

// The program's one UI thread, for code that has no window at hand (the
// engine wrapper's polling thread, the console runner's events). Set once by
// the window (or a test) before any worker starts.
UiThread* MainUi();
void SetMainUi(UiThread* ui);

}  // namespace corvane
