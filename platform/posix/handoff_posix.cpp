#include <condition_variable>
#include <stdexcept>

#include "platform/handoff.h"

namespace plat {

struct HandOff::Impl {
  std::mutex mutex;
  std::condition_variable cond;
};

HandOff::HandOff() : impl_(std::make_unique<Impl>()) {}
HandOff::~HandOff() = default;

void HandOff::lock() { impl_->mutex.lock(); }
void HandOff::unlock() { impl_->mutex.unlock(); }

void HandOff::WaitOnce(std::unique_lock<HandOff>& held) {
  if (held.mutex() != this || !held.owns_lock()) throw std::logic_error("HandOff::WaitOnce without its lock");
  // The caller's hold stands for this mutex's: adopt it for the wait and
  // give it back held.
  std::unique_lock<std::mutex> inner(impl_->mutex, std::adopt_lock);
  impl_->cond.wait(inner);
  inner.release();
}

void HandOff::NotifyAll() { impl_->cond.notify_all(); }

}  // namespace plat
