#include "download/engine/rate_limiter.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace xldl {

namespace {
int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

void RateLimiter::SetLimit(int64_t bytesPerSecond) {
  std::lock_guard<std::mutex> g(mu_);
  rate_.store(std::max<int64_t>(bytesPerSecond, 0));
  tokens_ = 0;
  lastUs_ = NowUs();
}

int64_t RateLimiter::Acquire(int64_t want, const std::atomic<bool>& cancel) {
  for (;;) {
    if (cancel.load(std::memory_order_relaxed)) return 0;
    const int64_t rate = rate_.load(std::memory_order_relaxed);
    if (rate <= 0) return want;
    int64_t waitUs = 0;
    {
      std::lock_guard<std::mutex> g(mu_);
      const int64_t now = NowUs();
      // A quarter of a second's worth at most, so bursts stay small.
      const double cap = std::max(16384.0, rate / 4.0);
      tokens_ = std::min(cap, tokens_ + (now - lastUs_) * static_cast<double>(rate) / 1e6);
      lastUs_ = now;
      // Wait for a useful amount rather than hand out a few bytes at a time.
      const double useful = std::min<double>(static_cast<double>(want), std::max(4096.0, rate / 50.0));
      if (tokens_ >= useful) {
        const int64_t grant = std::min<int64_t>(want, static_cast<int64_t>(tokens_));
        tokens_ -= static_cast<double>(grant);
        return grant;
      }
      waitUs = static_cast<int64_t>((useful - tokens_) * 1e6 / rate) + 1000;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(std::min<int64_t>(waitUs, 100000)));
  }
}

}  // namespace xldl
