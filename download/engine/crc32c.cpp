#include "download/engine/crc32c.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <nmmintrin.h>
#define XLDL_X86 1
#endif

namespace xldl {
namespace {

constexpr uint32_t kPoly = 0x82F63B78u;  // reflected Castagnoli polynomial

// Slicing-by-8 tables for the portable version, and two operators of the
// hardware version that stand for appending a run of zero bytes.
struct Tables {
  uint32_t slice[8][256];
  Tables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (kPoly & (0u - (c & 1)));
      slice[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (int t = 1; t < 8; ++t) slice[t][i] = (slice[t - 1][i] >> 8) ^ slice[0][slice[t - 1][i] & 0xFF];
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

// The raw register (no inversions) over n bytes.
uint32_t PortableUpdate(uint32_t reg, const uint8_t* p, size_t n) {
  const auto& s = T().slice;
  while (n >= 8) {
    uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + 4, 4);
    lo ^= reg;  // little-endian byte order, as on every target we build for
    reg = s[7][lo & 0xFF] ^ s[6][(lo >> 8) & 0xFF] ^ s[5][(lo >> 16) & 0xFF] ^ s[4][lo >> 24] ^ s[3][hi & 0xFF] ^
          s[2][(hi >> 8) & 0xFF] ^ s[1][(hi >> 16) & 0xFF] ^ s[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) reg = (reg >> 8) ^ s[0][(reg ^ *p++) & 0xFF];
  return reg;
}

#ifdef XLDL_X86

// Three independent streams keep the crc32 instruction busy (latency 3,
// one per cycle); their registers are then joined by shifting the earlier
// ones over the bytes that follow them.
constexpr size_t kStripe = 1024;

// The register after `bytes` zero bytes, as a table per byte of the register.
struct ZeroShift {
  uint32_t t[4][256];
  explicit ZeroShift(size_t bytes) {
    uint32_t basis[32];
    for (int bit = 0; bit < 32; ++bit) {
      uint32_t reg = 1u << bit;
      for (size_t i = 0; i < bytes; ++i) reg = (reg >> 8) ^ T().slice[0][reg & 0xFF];
      basis[bit] = reg;
    }
    for (int k = 0; k < 4; ++k)
      for (uint32_t v = 0; v < 256; ++v) {
        uint32_t r = 0;
        for (int b = 0; b < 8; ++b)
          if (v & (1u << b)) r ^= basis[8 * k + b];
        t[k][v] = r;
      }
  }
  uint32_t operator()(uint32_t reg) const {
    return t[0][reg & 0xFF] ^ t[1][(reg >> 8) & 0xFF] ^ t[2][(reg >> 16) & 0xFF] ^ t[3][reg >> 24];
  }
};

struct Shifts {
  ZeroShift one{kStripe}, two{2 * kStripe};
};

const Shifts& S() {
  static const Shifts shifts;
  return shifts;
}

bool HasSse42() {
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 20)) != 0;
}

#define XLDL_SSE42 __attribute__((target("sse4.2")))

#ifdef __x86_64__
using Word = uint64_t;
XLDL_SSE42 inline uint32_t Step(uint32_t reg, const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return static_cast<uint32_t>(_mm_crc32_u64(reg, w));
}
#else
using Word = uint32_t;
XLDL_SSE42 inline uint32_t Step(uint32_t reg, const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return _mm_crc32_u32(reg, w);
}
#endif

XLDL_SSE42 uint32_t HardwareUpdate(uint32_t reg, const uint8_t* p, size_t n) {
  while (n && (reinterpret_cast<uintptr_t>(p) & (sizeof(Word) - 1))) {
    reg = _mm_crc32_u8(reg, *p++);
    --n;
  }
  if (n >= 3 * kStripe) {
    const Shifts& shift = S();
    do {
      uint32_t a = reg, b = 0, c = 0;
      for (size_t i = 0; i < kStripe; i += sizeof(Word)) {
        a = Step(a, p + i);
        b = Step(b, p + kStripe + i);
        c = Step(c, p + 2 * kStripe + i);
      }
      reg = shift.two(a) ^ shift.one(b) ^ c;
      p += 3 * kStripe;
      n -= 3 * kStripe;
    } while (n >= 3 * kStripe);
  }
  for (; n >= sizeof(Word); n -= sizeof(Word), p += sizeof(Word)) reg = Step(reg, p);
  while (n--) reg = _mm_crc32_u8(reg, *p++);
  return reg;
}

const bool kHardware = HasSse42();

#endif

}  // namespace

uint32_t Crc32cPortable(uint32_t crc, const void* data, size_t n) {
  return ~PortableUpdate(~crc, static_cast<const uint8_t*>(data), n);
}

bool Crc32cInHardware() {
#ifdef XLDL_X86
  return kHardware;
#else
  return false;
#endif
}

uint32_t Crc32c(uint32_t crc, const void* data, size_t n) {
#ifdef XLDL_X86
  if (kHardware) return ~HardwareUpdate(~crc, static_cast<const uint8_t*>(data), n);
#endif
  return Crc32cPortable(crc, data, n);
}

}  // namespace xldl
