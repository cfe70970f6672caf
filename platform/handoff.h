// A lock with one condition, for handing work between threads on each
// system's own primitives. On Windows these are the slim reader/writer lock
// and the condition variable of the system (Windows Vista and later), which
// wait and wake in user mode where they can; the C++ library's mutex and
// condition variable of this toolchain are built on kernel semaphores, a
// system call per wake-up, which under Wine is a round trip to its server.
// Elsewhere they are the C++ library's own.
//
// Meets BasicLockable, so std::unique_lock and std::lock_guard hold it.
#pragma once

#include <memory>
#include <mutex>

namespace plat {

class HandOff {
 public:
  HandOff();
  ~HandOff();
  HandOff(const HandOff&) = delete;
  HandOff& operator=(const HandOff&) = delete;

  void lock();
  void unlock();

  // With the lock held (by `held`): releases it, sleeps until a NotifyAll,
  // holds it again. May wake without a NotifyAll; Wait(held, ready) loops.
  void WaitOnce(std::unique_lock<HandOff>& held);
  template <class Ready>
  void Wait(std::unique_lock<HandOff>& held, Ready ready) {
    while (!ready()) WaitOnce(held);
  }
  void NotifyAll();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
