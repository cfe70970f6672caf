// Digests through OpenSSL (whose SHA-1 uses the SHA extensions where present).
#include <openssl/evp.h>

#include <optional>

#include "platform/digest.h"
#include "platform/sha1_shani.h"

namespace plat {

struct Sha1::Impl {
  EVP_MD_CTX* ctx = nullptr;
  std::optional<shani::Sha1State> own;
};

Sha1::Sha1(Sha1Engine engine) : impl_(std::make_unique<Impl>()) {
  if (engine == Sha1Engine::ShaNi && shani::Supported()) {
    impl_->own.emplace();
    return;
  }
  impl_->ctx = EVP_MD_CTX_new();
  if (!impl_->ctx || EVP_DigestInit_ex(impl_->ctx, EVP_sha1(), nullptr) != 1) {
    if (impl_->ctx) EVP_MD_CTX_free(impl_->ctx);
    throw DigestError("EVP_DigestInit_ex failed");
  }
}

Sha1::~Sha1() {
  if (impl_->ctx) EVP_MD_CTX_free(impl_->ctx);
}

void Sha1::Update(const void* data, size_t n) {
  if (impl_->own)
    impl_->own->Update(static_cast<const uint8_t*>(data), n);
  else if (EVP_DigestUpdate(impl_->ctx, data, n) != 1)
    throw DigestError("EVP_DigestUpdate failed");
}

std::array<uint8_t, 20> Sha1::Final() {
  if (impl_->own) return impl_->own->Final();
  std::array<uint8_t, 20> out{};
  unsigned len = 0;
  if (EVP_DigestFinal_ex(impl_->ctx, out.data(), &len) != 1 || len != out.size())
    throw DigestError("EVP_DigestFinal_ex failed");
  return out;
}

const char* Sha1::EngineName() const { return impl_->own ? "sha-ni" : "openssl"; }

bool CpuHasShaNi() { return shani::Supported(); }

std::array<uint8_t, 16> Md5(std::string_view data) {
  std::array<uint8_t, 16> out{};
  unsigned len = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_md5(), nullptr) != 1 || len != out.size())
    throw DigestError("EVP_Digest failed");
  return out;
}

}  // namespace plat
