#include "platform/sha1_shani.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define CORVANE_X86 1
#endif

namespace plat::shani {

#ifdef CORVANE_X86
namespace {

#define SHANI_FN __attribute__((target("sha,ssse3,sse4.1"), always_inline)) inline

// Four rounds; G is the group (rounds 4G..4G+3). W holds the message schedule
// of the last four groups; the schedule of group G is made from them first.
template <int G>
SHANI_FN void Group(__m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&w)[4]) {
  if constexpr (G >= 4)
    w[G % 4] = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w[G % 4], w[(G + 1) % 4]), w[(G + 2) % 4]),
                                  w[(G + 3) % 4]);
  __m128i& cur = (G % 2 == 0) ? e0 : e1;
  __m128i& next = (G % 2 == 0) ? e1 : e0;
  if constexpr (G == 0)
    cur = _mm_add_epi32(cur, w[0]);
  else
    cur = _mm_sha1nexte_epu32(cur, w[G % 4]);
  next = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, cur, G / 5);
}

template <int... G>
SHANI_FN void AllGroups(__m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&w)[4],
                        std::integer_sequence<int, G...>) {
  (Group<G>(abcd, e0, e1, w), ...);
}

__attribute__((target("sha,ssse3,sse4.1"))) void Blocks(uint32_t state[5], const uint8_t* data, size_t blocks) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; blocks; --blocks, data += 64) {
    const __m128i abcdSave = abcd;
    const __m128i eSave = e0;
    __m128i e1;
    __m128i w[4];
    for (int i = 0; i < 4; ++i)
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), mask);
    AllGroups(abcd, e0, e1, w, std::make_integer_sequence<int, 20>{});
    // After group 19, e0 holds the state before it: its A gives the new E.
    e0 = _mm_sha1nexte_epu32(e0, eSave);
    abcd = _mm_add_epi32(abcd, abcdSave);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace

bool Supported() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool sse41 = (c & (1u << 19)) != 0, ssse3 = (c & (1u << 9)) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return sse41 && ssse3 && (b & (1u << 29)) != 0;
}
#else
namespace {
void Blocks(uint32_t*, const uint8_t*, size_t) {}
}  // namespace
bool Supported() { return false; }
#endif

void Sha1State::Update(const uint8_t* data, size_t n) {
  total_ += n;
  if (used_) {
    const size_t take = std::min(n, sizeof block_ - used_);
    std::memcpy(block_ + used_, data, take);
    used_ += take;
    data += take;
    n -= take;
    if (used_ < sizeof block_) return;
    Blocks(h_, block_, 1);
    used_ = 0;
  }
  if (n >= 64) {
    Blocks(h_, data, n / 64);
    data += n / 64 * 64;
    n %= 64;
  }
  std::memcpy(block_, data, n);
  used_ = n;
}

std::array<uint8_t, 20> Sha1State::Final() {
  const uint64_t bits = total_ * 8;
  uint8_t pad[72] = {0x80};
  const size_t padLen = (used_ < 56 ? 56 - used_ : 120 - used_);
  for (int i = 0; i < 8; ++i) pad[padLen + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  const uint64_t keep = total_;
  Update(pad, padLen + 8);
  total_ = keep;
  std::array<uint8_t, 20> out{};
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(h_[i] >> (24 - 8 * j));
  return out;
}

}  // namespace plat::shani
