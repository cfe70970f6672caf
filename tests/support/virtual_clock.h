// A clock for tests: time moves only when the test advances it, so a
// ten-second countdown takes milliseconds. Workers that sleep on it wake
// when the time they wait for is reached.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <iterator>
#include <limits>
#include <mutex>
#include <set>

#include "common/clock.h"

namespace corvane::test {

class VirtualClock final : public Clock {
 public:
  int64_t NowMs() override {
    std::lock_guard<std::mutex> g(mu_);
    ++reads_;
    return now_;
  }
  void SleepMs(int64_t ms) override {
    std::unique_lock<std::mutex> lk(mu_);
    const int64_t until = now_ + (ms > 0 ? ms : 0);
    ++sleepers_;
    const auto mine = wakes_.insert(until);
    ++sleepCalls_;
    cv_.notify_all();
    cv_.wait(lk, [&] { return now_ >= until; });
    wakes_.erase(mine);
    --sleepers_;
  }
  void Advance(int64_t ms) {
    {
      std::lock_guard<std::mutex> g(mu_);
      now_ += ms;
    }
    cv_.notify_all();
  }
  // Threads sleeping on this clock right now.
  int Sleepers() {
    std::lock_guard<std::mutex> g(mu_);
    return sleepers_;
  }
  // Sleepers whose time has not come yet (one whose time has come stops
  // counting at once, before it has run again), so that a test can move the
  // time on only once every thread has finished its pass.
  int Waiting() {
    std::lock_guard<std::mutex> g(mu_);
    return static_cast<int>(std::distance(wakes_.upper_bound(now_), wakes_.end()));
  }
  // Milliseconds until the first sleeper wakes; the largest value when none
  // sleeps.
  int64_t UntilNextWake() {
    std::lock_guard<std::mutex> g(mu_);
    return wakes_.empty() ? std::numeric_limits<int64_t>::max() : *wakes_.begin() - now_;
  }
  // Sleeps begun on this clock so far (a thread that sleeps once per pass
  // has finished as many passes).
  int64_t SleepCalls() {
    std::lock_guard<std::mutex> g(mu_);
    return sleepCalls_;
  }
  // Times the clock was read so far (a thread that reads it every pass has
  // looked at the time since a step once this has grown enough).
  int64_t Reads() {
    std::lock_guard<std::mutex> g(mu_);
    return reads_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int64_t now_ = 1'000'000;
  int sleepers_ = 0;
  std::multiset<int64_t> wakes_;
  int64_t sleepCalls_ = 0;
  int64_t reads_ = 0;
};

}  // namespace corvane::test
