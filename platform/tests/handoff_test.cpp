// The hand-off lock: many items passed both ways through a small ring
// between two threads, with every wait on the condition, lose no wake-up
// (a lost one hangs the test) and no item; and waiting without the lock is
// refused rather than undefined.
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <thread>

#include "platform/handoff.h"

namespace {

TEST(HandOff, ItemsGoRoundASmallRingWithoutLossOrHang) {
  constexpr int kItems = 20000;
  constexpr size_t kRing = 2;
  plat::HandOff handOff;
  std::deque<int> full, empty{0, 0};
  long long consumed = 0;
  std::thread producer([&] {
    for (int i = 1; i <= kItems; ++i) {
      std::unique_lock<plat::HandOff> held(handOff);
      handOff.Wait(held, [&] { return !empty.empty(); });
      empty.pop_front();
      full.push_back(i);
      held.unlock();
      handOff.NotifyAll();
    }
  });
  for (int expected = 1; expected <= kItems; ++expected) {
    int item;
    {
      std::unique_lock<plat::HandOff> held(handOff);
      handOff.Wait(held, [&] { return !full.empty(); });
      item = full.front();
      full.pop_front();
      EXPECT_LE(full.size() + empty.size(), kRing);
      empty.push_back(0);
    }
    handOff.NotifyAll();
    EXPECT_EQ(item, expected);  // goes on either way: the producer must finish
    consumed += item;
  }
  producer.join();
  EXPECT_EQ(consumed, static_cast<long long>(kItems) * (kItems + 1) / 2);
  EXPECT_EQ(empty.size(), kRing);
}

TEST(HandOff, WaitingWithoutHoldingTheLockIsRefused) {
  plat::HandOff handOff, other;
  std::unique_lock<plat::HandOff> none(handOff, std::defer_lock);
  EXPECT_THROW(handOff.WaitOnce(none), std::logic_error);
  std::unique_lock<plat::HandOff> wrong(other);
  EXPECT_THROW(handOff.WaitOnce(wrong), std::logic_error);
  // The lock is still usable afterwards.
  std::unique_lock<plat::HandOff> held(handOff);
  EXPECT_TRUE(held.owns_lock());
}

}  // namespace
