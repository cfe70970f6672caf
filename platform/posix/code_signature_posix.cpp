// Authenticode on the simulated machine, checked with OpenSSL: the file's
// digest against the one its signature carries, the signer's signature over
// that, and the signer's chain to one of the machine's trusted roots.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <memory>

#include "platform/code_signature.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"

namespace plat {
namespace {

template <typename T, void (*F)(T*)>
struct Deleter {
  void operator()(T* p) const { F(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using SigPtr = std::unique_ptr<X509_SIG, Deleter<X509_SIG, X509_SIG_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;

uint32_t U32(const std::string& d, size_t off) {
  uint32_t v = 0;
  std::memcpy(&v, d.data() + off, 4);
  return v;
}
uint16_t U16(const std::string& d, size_t off) {
  uint16_t v = 0;
  std::memcpy(&v, d.data() + off, 2);
  return v;
}

// Where a PE image keeps its checksum, its certificate-table entry and the
// table itself.
struct PeLayout {
  size_t checksum = 0, securityEntry = 0;
  uint32_t tableOffset = 0, tableSize = 0;
};

bool ReadLayout(const std::string& d, PeLayout& pe) {
  if (d.size() < 0x40 || d[0] != 'M' || d[1] != 'Z') return false;
  const size_t nt = U32(d, 0x3C);
  if (nt > d.size() || d.size() - nt < 24 + 2 || d.compare(nt, 4, std::string("PE\0\0", 4)) != 0) return false;
  const size_t opt = nt + 24;
  const uint16_t magic = U16(d, opt);
  const size_t dirs = magic == 0x10B ? opt + 96 : magic == 0x20B ? opt + 112 : 0;
  if (dirs == 0 || dirs + 5 * 8 > d.size()) return false;
  if (U32(d, dirs - 4) < 5) return false;  // fewer data directories than the security one
  pe.checksum = opt + 64;
  pe.securityEntry = dirs + 4 * 8;
  pe.tableOffset = U32(d, pe.securityEntry);
  pe.tableSize = U32(d, pe.securityEntry + 4);
  return true;
}

// Length of a DER element's header (tag and length) and of its content.
bool DerHeader(const unsigned char* p, size_t avail, size_t& header, size_t& length) {
  if (avail < 2) return false;
  size_t n = p[1];
  header = 2;
  if (n & 0x80) {
    const size_t bytes = n & 0x7F;
    if (bytes == 0 || bytes > 4 || avail < 2 + bytes) return false;
    n = 0;
    for (size_t i = 0; i < bytes; ++i) n = (n << 8) | p[2 + i];
    header += bytes;
  }
  length = n;
  return header + length <= avail;
}

std::string Der(X509* cert) {
  unsigned char* out = nullptr;
  const int n = i2d_X509(cert, &out);
  if (n <= 0) return {};
  std::string s(reinterpret_cast<char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return s;
}

// The machine's trusted roots (the profile's "trustedRoots", PEM).
StorePtr MachineStore() {
  StorePtr store(X509_STORE_new());
  const auto profile = sim::Profile();
  if (!profile.contains("trustedRoots") || !profile["trustedRoots"].is_array()) return store;
  for (const auto& r : profile["trustedRoots"]) {
    if (!r.is_string()) continue;
    const std::string pem = r.get<std::string>();
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
      X509_STORE_add_cert(store.get(), cert);
      X509_free(cert);
    }
  }
  return store;
}

CodeSignature Invalid(CodeSignature s, const std::string& why) {
  s.state = SignatureState::Invalid;
  s.detail = why;
  return s;
}

}  // namespace

CodeSignature ReadCodeSignature(const std::string& path) {
  CodeSignature result;
  std::string file;
  PeLayout pe;
  if (!ReadWholeFile(path, file) || !ReadLayout(file, pe) || pe.tableSize == 0) return result;
  result.state = SignatureState::Invalid;
  if (pe.tableOffset < pe.securityEntry + 8 || pe.tableOffset > file.size() ||
      file.size() - pe.tableOffset < pe.tableSize || pe.tableSize < 8)
    return Invalid(result, "damaged certificate table");
  const uint32_t certLength = U32(file, pe.tableOffset);
  if (certLength < 8 || certLength > pe.tableSize || U16(file, pe.tableOffset + 6) != 2 /* PKCS#7 signed data */)
    return Invalid(result, "no signature in the certificate table");

  const unsigned char* der = reinterpret_cast<const unsigned char*>(file.data()) + pe.tableOffset + 8;
  Pkcs7Ptr p7(d2i_PKCS7(nullptr, &der, certLength - 8));
  if (!p7 || !PKCS7_type_is_signed(p7.get())) return Invalid(result, "unreadable signature");
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
  X509* signer = signers && sk_X509_num(signers) > 0 ? sk_X509_value(signers, 0) : nullptr;
  sk_X509_free(signers);
  if (!signer) return Invalid(result, "no signer certificate");
  result.signer = Der(signer);

  // The signed content: Authenticode's indirect data, whose digest of the
  // file comes second; its signature covers the content without its outer
  // tag and length.
  PKCS7* content = p7->d.sign->contents;
  char oid[80] = {};
  if (!content || OBJ_obj2txt(oid, sizeof oid, content->type, 1) <= 0 ||
      std::strcmp(oid, "1.3.6.1.4.1.311.2.1.4") != 0 || !content->d.other || content->d.other->type != V_ASN1_SEQUENCE)
    return Invalid(result, "not an Authenticode signature");
  const ASN1_STRING* seq = content->d.other->value.sequence;
  const unsigned char* c = ASN1_STRING_get0_data(seq);
  size_t avail = static_cast<size_t>(ASN1_STRING_length(seq)), h = 0, n = 0;
  if (!DerHeader(c, avail, h, n)) return Invalid(result, "damaged indirect data");
  const unsigned char* inner = c + h;
  const size_t innerLength = n;
  size_t h1 = 0, n1 = 0;
  if (!DerHeader(inner, innerLength, h1, n1)) return Invalid(result, "damaged indirect data");
  const unsigned char* digestInfo = inner + h1 + n1;
  SigPtr sig(d2i_X509_SIG(nullptr, &digestInfo, static_cast<long>(innerLength - h1 - n1)));
  if (!sig) return Invalid(result, "damaged indirect data");
  const X509_ALGOR* alg = nullptr;
  const ASN1_OCTET_STRING* signedDigest = nullptr;
  X509_SIG_get0(sig.get(), &alg, &signedDigest);
  const EVP_MD* md = EVP_get_digestbyobj(alg->algorithm);
  if (!md) return Invalid(result, "unknown digest");

  // The file's digest: everything before the certificate table except the
  // checksum and the table's own directory entry.
  MdCtxPtr ctx(EVP_MD_CTX_new());
  EVP_DigestInit_ex(ctx.get(), md, nullptr);
  const char* f = file.data();
  EVP_DigestUpdate(ctx.get(), f, pe.checksum);
  EVP_DigestUpdate(ctx.get(), f + pe.checksum + 4, pe.securityEntry - pe.checksum - 4);
  EVP_DigestUpdate(ctx.get(), f + pe.securityEntry + 8, pe.tableOffset - pe.securityEntry - 8);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &digestLength);
  if (static_cast<int>(digestLength) != ASN1_STRING_length(signedDigest) ||
      std::memcmp(digest, ASN1_STRING_get0_data(signedDigest), digestLength) != 0)
    return Invalid(result, "the file was changed after it was signed");

  PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
  const EVP_MD* siMd = si ? EVP_get_digestbyobj(si->digest_alg->algorithm) : nullptr;
  if (!siMd) return Invalid(result, "unknown signer digest");
  BioPtr mdBio(BIO_new(BIO_f_md()));
  BIO_set_md(mdBio.get(), siMd);
  BIO_push(mdBio.get(), BIO_new(BIO_s_null()));
  BIO_write(mdBio.get(), inner, static_cast<int>(innerLength));
  if (PKCS7_signatureVerify(mdBio.get(), p7.get(), si, signer) != 1) return Invalid(result, "bad signature");

  StorePtr store = MachineStore();
  StoreCtxPtr verify(X509_STORE_CTX_new());
  if (!X509_STORE_CTX_init(verify.get(), store.get(), signer, p7->d.sign->cert) ||
      X509_verify_cert(verify.get()) != 1)
    return Invalid(result, std::string("untrusted signer: ") +
                               X509_verify_cert_error_string(X509_STORE_CTX_get_error(verify.get())));
  if ((X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) && !(X509_get_extended_key_usage(signer) & XKU_CODE_SIGN))
    return Invalid(result, "the signer may not sign code");
  result.state = SignatureState::Valid;
  return result;
}

}  // namespace plat
