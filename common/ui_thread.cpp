#include "common/ui_thread.h"

#include <atomic>
#include <chrono>

namespace corvane {

namespace {
std::atomic<UiThread*> g_mainUi{nullptr};
}

UiThread* MainUi() { return g_mainUi.load(std::memory_order_acquire); }
void SetMainUi(UiThread* ui) { g_mainUi.store(ui, std::memory_order_release); }

struct SyncState {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  std::exception_ptr error;
};

TaskQueueUiThread::TaskQueueUiThread() : owner_(std::this_thread::get_id()) {}

void TaskQueueUiThread::AdoptCurrentThread() {
  std::lock_guard<std::mutex> g(mu_);
  owner_ = std::this_thread::get_id();
}

bool TaskQueueUiThread::IsUiThread() const { return std::this_thread::get_id() == owner_; }

void TaskQueueUiThread::Post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (shutdown_) return;
    queue_.push_back(Task{std::move(fn), nullptr});
  }
  cv_.notify_all();
  if (Wake) Wake();
}

void TaskQueueUiThread::Sync(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  auto st = std::make_shared<SyncState>();
  {
    std::lock_guard<std::mutex> g(mu_);
    if (shutdown_) return;
    queue_.push_back(Task{fn, st});
  }
  cv_.notify_all();
  if (Wake) Wake();
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lk(st->mu);
    st->cv.wait(lk, [&] { return st->done; });
    // Take the error out under the lock: from here on only this thread
    // touches the exception object.
    error = std::move(st->error);
  }
  if (error) std::rethrow_exception(error);
}

int TaskQueueUiThread::RunPending() {
  int ran = 0;
  for (;;) {
    Task t;
    {
      std::lock_guard<std::mutex> g(mu_);
      if (queue_.empty()) return ran;
      t = std::move(queue_.front());
      queue_.pop_front();
    }
    std::exception_ptr err;
    try {
      t.fn();
    } catch (...) {
      err = std::current_exception();
    }
    ++ran;
    if (t.sync) {
      std::lock_guard<std::mutex> g(t.sync->mu);
      t.sync->error = std::move(err);
      t.sync->done = true;
      t.sync->cv.notify_all();
    }
  }
}

int TaskQueueUiThread::WaitAndRun(int timeoutMs) {
  {
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return !queue_.empty() || shutdown_; });
  }
  return RunPending();
}

void TaskQueueUiThread::Shutdown() {
  std::deque<Task> dropped;
  {
    std::lock_guard<std::mutex> g(mu_);
    shutdown_ = true;
    dropped.swap(queue_);
  }
  // Release every worker that waits for a dropped step.
  for (auto& t : dropped) {
    if (!t.sync) continue;
    std::lock_guard<std::mutex> g(t.sync->mu);
    t.sync->done = true;
    t.sync->cv.notify_all();
  }
  cv_.notify_all();
}

}  // namespace corvane
