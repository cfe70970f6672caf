#include "common/clock.h"

#include <chrono>
#include <thread>

namespace corvane {
namespace {
class RealClock final : public Clock {
 public:
  int64_t NowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void SleepMs(int64_t ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};
}  // namespace

Clock& SystemClock() {
  // Never destroyed: detached workers (a stage, a polling thread let go)
  // may still sleep on it while the process exits.
  static RealClock* clock = new RealClock;
  return *clock;
}

}  // namespace corvane
