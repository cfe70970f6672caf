// SHA-1 and MD5 digests.
//
// SHA-1 comes from the fastest source at hand: OpenSSL natively; on Windows
// our own SHA-NI code on processors that have the SHA extensions (measured
// faster than CNG there) and CNG elsewhere.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace plat {

// The platform's digest failed: there is no digest to give.
class DigestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Sha1Engine {
  Best,      // what the program uses
  Platform,  // OpenSSL natively, CNG on Windows
  ShaNi,     // our own SHA-NI code; Platform on a processor without SHA-NI
};

// Construction, Update and Final raise DigestError when the platform's
// digest fails; a failure never yields a digest.
class Sha1 {
 public:
  explicit Sha1(Sha1Engine engine = Sha1Engine::Best);
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;
  void Update(const void* data, size_t n);
  std::array<uint8_t, 20> Final();
  // "openssl", "cng" or "sha-ni": the engine actually in use.
  const char* EngineName() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// True when the processor has the SHA extensions (and SSE4.1).
bool CpuHasShaNi();

// Raises DigestError when the platform's digest fails.
std::array<uint8_t, 16> Md5(std::string_view data);

}  // namespace plat
