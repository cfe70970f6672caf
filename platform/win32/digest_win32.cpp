// Digests on Windows: CNG, and our own SHA-NI SHA-1 where the processor has
// the SHA extensions (bench/sha1 compares the two; SHA-NI is the faster).
#include <windows.h>
#include <bcrypt.h>

#include <optional>

#include "platform/digest.h"
#include "platform/sha1_shani.h"

namespace plat {
namespace {

// A CNG hash object of one algorithm.
class CngHash {
 public:
  explicit CngHash(LPCWSTR algorithm) {
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&alg_, algorithm, nullptr, 0))) {
      alg_ = nullptr;
      return;
    }
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(alg_, &hash_, nullptr, 0, nullptr, 0, 0))) hash_ = nullptr;
  }
  ~CngHash() {
    if (hash_) ::BCryptDestroyHash(hash_);
    if (alg_) ::BCryptCloseAlgorithmProvider(alg_, 0);
  }
  void Update(const void* data, size_t n) {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (hash_ && n) {
      const ULONG chunk = static_cast<ULONG>(std::min<size_t>(n, 1u << 30));
      ::BCryptHashData(hash_, p, chunk, 0);
      p += chunk;
      n -= chunk;
    }
  }
  void Final(unsigned char* out, ULONG size) {
    if (hash_) ::BCryptFinishHash(hash_, out, size, 0);
  }

 private:
  BCRYPT_ALG_HANDLE alg_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

struct Sha1::Impl {
  std::optional<CngHash> cng;
  std::optional<shani::Sha1State> own;
};

Sha1::Sha1(Sha1Engine engine) : impl_(std::make_unique<Impl>()) {
  if (engine != Sha1Engine::Platform && shani::Supported())
    impl_->own.emplace();
  else
    impl_->cng.emplace(BCRYPT_SHA1_ALGORITHM);
}

Sha1::~Sha1() = default;

void Sha1::Update(const void* data, size_t n) {
  if (impl_->own)
    impl_->own->Update(static_cast<const uint8_t*>(data), n);
  else
    impl_->cng->Update(data, n);
}

std::array<uint8_t, 20> Sha1::Final() {
  if (impl_->own) return impl_->own->Final();
  std::array<uint8_t, 20> out{};
  impl_->cng->Final(out.data(), static_cast<ULONG>(out.size()));
  return out;
}

const char* Sha1::EngineName() const { return impl_->own ? "sha-ni" : "cng"; }

bool CpuHasShaNi() { return shani::Supported(); }

std::array<uint8_t, 16> Md5(std::string_view data) {
  std::array<uint8_t, 16> out{};
  CngHash h(BCRYPT_MD5_ALGORITHM);
  h.Update(data.data(), data.size());
  h.Final(out.data(), static_cast<ULONG>(out.size()));
  return out;
}

}  // namespace plat
