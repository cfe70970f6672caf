// The engine-wide speed limit, shared by all connections of all tasks: a
// token bucket refilled at the set rate. 0 means no limit.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

namespace xldl {

class RateLimiter {
 public:
  void SetLimit(int64_t bytesPerSecond);
  // How many of `want` bytes the caller may read now; waits (in short steps,
  // watching `cancel`) until at least one is allowed. 0 only when cancelled.
  int64_t Acquire(int64_t want, const std::atomic<bool>& cancel);

 private:
  std::atomic<int64_t> rate_{0};
  std::mutex mu_;
  double tokens_ = 0;
  int64_t lastUs_ = 0;
};

}  // namespace xldl
