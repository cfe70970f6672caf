#include <windows.h>

#include <stdexcept>

#include "platform/handoff.h"

namespace plat {

struct HandOff::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE cond = CONDITION_VARIABLE_INIT;
};

HandOff::HandOff() : impl_(std::make_unique<Impl>()) {}
HandOff::~HandOff() = default;

void HandOff::lock() { ::AcquireSRWLockExclusive(&impl_->lock); }
void HandOff::unlock() { ::ReleaseSRWLockExclusive(&impl_->lock); }

void HandOff::WaitOnce(std::unique_lock<HandOff>& held) {
  if (held.mutex() != this || !held.owns_lock()) throw std::logic_error("HandOff::WaitOnce without its lock");
  // Without a time-out it fails only on misuse; it returns with the lock
  // held in every case.
  if (!::SleepConditionVariableSRW(&impl_->cond, &impl_->lock, INFINITE, 0))
    throw std::runtime_error("SleepConditionVariableSRW failed");
}

void HandOff::NotifyAll() { ::WakeAllConditionVariable(&impl_->cond); }

}  // namespace plat
