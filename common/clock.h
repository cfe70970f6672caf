// Time is injected: every pause and poll of the program goes through a Clock
// so that tests can run it virtually.
#pragma once
#include <cstdint>

namespace corvane {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic scale.
  virtual int64_t NowMs() = 0;
  // Blocks the calling thread for ms milliseconds of this clock's time.
  virtual void SleepMs(int64_t ms) = 0;
};

// The real clock.
Clock& SystemClock();

}  // namespace corvane
