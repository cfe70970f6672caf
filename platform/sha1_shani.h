// Our own SHA-1 over the x86 SHA extensions, with the block buffering and
// padding around it. Internal to the digest code of both builds.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace plat::shani {

bool Supported();

class Sha1State {
 public:
  void Update(const uint8_t* data, size_t n);
  std::array<uint8_t, 20> Final();

 private:
  uint32_t h_[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  uint8_t block_[64] = {};
  size_t used_ = 0;
  uint64_t total_ = 0;
};

}  // namespace plat::shani
