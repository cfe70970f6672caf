// Digests on Windows: CNG, and our own SHA-NI SHA-1 where the processor has
// the SHA extensions (bench/sha1 compares the two; SHA-NI is the faster).
// Every CNG call is checked: a failure raises, it never yields a digest.
#include <windows.h>
#include <bcrypt.h>

#include <atomic>
#include <optional>

#include "platform/digest.h"
#include "platform/sha1_shani.h"
#include "platform/win32/cng.h"
#include "platform/win32/system_library.h"

namespace plat {
namespace {

std::atomic<const CngCalls*> g_testCalls{nullptr};

const CngCalls* SystemCng() {
  static const CngCalls* calls = []() -> const CngCalls* {
    HMODULE lib = win32::LoadSystemLibrary("bcrypt.dll");
    if (!lib) return nullptr;
    static CngCalls c;
    bool all = true;
    auto get = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
          reinterpret_cast<void*>(::GetProcAddress(lib, name)));
      all = all && fn;
    };
    get(c.openAlgorithm, "BCryptOpenAlgorithmProvider");
    get(c.closeAlgorithm, "BCryptCloseAlgorithmProvider");
    get(c.createHash, "BCryptCreateHash");
    get(c.hashData, "BCryptHashData");
    get(c.finishHash, "BCryptFinishHash");
    get(c.destroyHash, "BCryptDestroyHash");
    return all ? &c : nullptr;
  }();
  return calls;
}

// A CNG hash object of one algorithm.
class CngHash {
 public:
  explicit CngHash(LPCWSTR algorithm) : cng_(Cng()) {
    if (!cng_) throw DigestError("CNG is not available");
    if (!BCRYPT_SUCCESS(cng_->openAlgorithm(&alg_, algorithm, nullptr, 0))) {
      alg_ = nullptr;
      throw DigestError("BCryptOpenAlgorithmProvider failed");
    }
    if (!BCRYPT_SUCCESS(cng_->createHash(alg_, &hash_, nullptr, 0, nullptr, 0, 0))) {
      hash_ = nullptr;
      cng_->closeAlgorithm(alg_, 0);
      throw DigestError("BCryptCreateHash failed");
    }
  }
  ~CngHash() {
    if (hash_) cng_->destroyHash(hash_);
    if (alg_) cng_->closeAlgorithm(alg_, 0);
  }
  CngHash(const CngHash&) = delete;
  CngHash& operator=(const CngHash&) = delete;
  void Update(const void* data, size_t n) {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (n) {
      const ULONG chunk = static_cast<ULONG>(std::min<size_t>(n, 1u << 30));
      if (!BCRYPT_SUCCESS(cng_->hashData(hash_, p, chunk, 0))) throw DigestError("BCryptHashData failed");
      p += chunk;
      n -= chunk;
    }
  }
  void Final(unsigned char* out, ULONG size) {
    if (!BCRYPT_SUCCESS(cng_->finishHash(hash_, out, size, 0))) throw DigestError("BCryptFinishHash failed");
  }

 private:
  const CngCalls* cng_;
  BCRYPT_ALG_HANDLE alg_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

const CngCalls* Cng() {
  if (const CngCalls* t = g_testCalls.load()) return t;
  return SystemCng();
}

void SetCngForTest(const CngCalls* calls) { g_testCalls.store(calls); }

struct Sha1::Impl {
  std::optional<CngHash> cng;
  std::optional<shani::Sha1State> own;
};

Sha1::Sha1(Sha1Engine engine) : impl_(std::make_unique<Impl>()) {
  if (engine != Sha1Engine::Platform && shani::Supported() && !g_testCalls.load())
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
