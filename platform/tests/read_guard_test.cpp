// Guarded reads of memory that faults, as a mapped view does when its disk
// fails.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <thread>

#include "platform/win32/read_guard.h"

namespace {

// Memory whose first page is readable and whose second one faults.
struct HalfReadable {
  HalfReadable() {
    SYSTEM_INFO si;
    ::GetSystemInfo(&si);
    page = si.dwPageSize;
    base = static_cast<char*>(::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE, PAGE_READWRITE));
    ::VirtualAlloc(base, page, MEM_COMMIT, PAGE_READWRITE);
    ::memset(base, 7, page);
  }
  ~HalfReadable() { ::VirtualFree(base, 0, MEM_RELEASE); }
  size_t page = 0;
  char* base = nullptr;
};

void Sum(void* total, const char* data, size_t size) {
  const volatile char* c = data;
  for (size_t i = 0; i < size; ++i) *static_cast<size_t*>(total) += static_cast<unsigned char>(c[i]);
}

TEST(ReadGuard, AFaultInTheRangeEndsTheCallAndTheThreadGoesOn) {
  HalfReadable mem;
  ASSERT_NE(mem.base, nullptr);
  size_t total = 0;
  EXPECT_TRUE(plat::ReadGuarded(mem.base, mem.page, Sum, &total));
  EXPECT_EQ(total, 7 * mem.page);

  // Many times over, on two threads at once: each fault ends its own call.
  auto faulting = [&mem] {
    int falses = 0;
    for (int i = 0; i < 200; ++i) {
      size_t t = 0;
      if (!plat::ReadGuarded(mem.base, 2 * mem.page, Sum, &t)) ++falses;
    }
    return falses;
  };
  int other = 0;
  std::thread t([&] { other = faulting(); });
  EXPECT_EQ(faulting(), 200);
  t.join();
  EXPECT_EQ(other, 200);

  total = 0;
  EXPECT_TRUE(plat::ReadGuarded(mem.base, mem.page, Sum, &total));
  EXPECT_EQ(total, 7 * mem.page);
}

TEST(ReadGuard, ExceptionsPassThroughAndLeaveNoGuardBehind) {
  HalfReadable mem;
  auto thrower = [](void*, const char*, size_t) { throw std::runtime_error("digest failed"); };
  EXPECT_THROW(plat::ReadGuarded(mem.base, mem.page, thrower, nullptr), std::runtime_error);
  // An inner guard over good memory, inside an outer one over the whole
  // range: the outer one still catches the fault after the inner has ended.
  struct Nest {
    HalfReadable* mem;
    bool inner = false;
  } nest{&mem};
  auto outer = [](void* n, const char* data, size_t size) {
    auto* self = static_cast<Nest*>(n);
    size_t t = 0;
    self->inner = plat::ReadGuarded(data, self->mem->page, Sum, &t);
    Sum(&t, data, size);
  };
  EXPECT_FALSE(plat::ReadGuarded(mem.base, 2 * mem.page, outer, &nest));
  EXPECT_TRUE(nest.inner);
}

}  // namespace
