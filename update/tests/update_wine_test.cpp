// The update's Windows seam under Wine: bodies as they arrive through
// WinINet, the replacer written and held while it starts, and Authenticode
// through WinVerifyTrust on programs signed by osslsigncode. What Wine's
// verifier cannot show is printed, not asserted (see the messages).
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/text.h"
#include "platform/code_signature.h"
#include "platform/http.h"
#include "platform/platform.h"
#include "platform/programs.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"
#include "update/Authenticity.h"

namespace corvane {
namespace {

using plat::SignatureState;

TEST(UpdateSeamWine, BodiesArriveInPiecesAndFailuresAreTold) {
  test::TestServer server;
  if (!server.Available()) GTEST_SKIP() << "no operator server";
  server.WriteFile("f/big.bin", std::string(200000, 'x'));
  int status = 0;
  int64_t length = -2;
  size_t got = 0, pieces = 0;
  plat::HttpStreamResult r = plat::HttpGetStream(
      server.Url("/f/big.bin"),
      [&](int s, int64_t l) {
        status = s;
        length = l;
        return true;
      },
      [&](const char*, size_t n) {
        got += n;
        ++pieces;
        return true;
      });
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(length, 200000);
  EXPECT_EQ(got, 200000u);
  EXPECT_GT(pieces, 1u);

  r = plat::HttpGetStream(server.Url("/f/missing.bin"), [](int, int64_t) { return false; },
                          [](const char*, size_t) { return true; });
  EXPECT_TRUE(r.replied);
  EXPECT_EQ(r.status, 404);
  EXPECT_FALSE(r.complete);

  server.Control("fault?path=/f/big.bin&close-after=5000");
  r = plat::HttpGetStream(server.Url("/f/big.bin"), [](int, int64_t) { return true; },
                          [](const char*, size_t) { return true; });
  EXPECT_FALSE(r.complete);
  r = plat::HttpGetStream("http://127.0.0.1:1/x", [](int, int64_t) { return true; }, [](const char*, size_t) { return true; });
  EXPECT_FALSE(r.replied);
}

std::string ReadAll(const std::string& path) {
  std::string s;
  plat::ReadWholeFile(path, s);
  return s;
}

TEST(UpdateSeamWine, TheReplacerIsHeldAgainstWritesAndDeletionUntilItsProcessExists) {
  const std::string image = ReadAll(UPGRADER_EXE);
  ASSERT_GT(image.size(), 1000u);
  const std::string dir = test::MakeTempDir("held");
  const std::string path = dir + "\\Upgrader4.exe";
  plat::WriteWholeFile(path, "a file someone prepared");
  bool checked = false;
  plat::SetBeforeProgramStartHook([&](const std::string& p) {
    checked = true;
    const std::wstring w = Widen(p);
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "opened for writing while held";
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    EXPECT_FALSE(::DeleteFileW(w.c_str()));
    EXPECT_FALSE(::MoveFileExW(w.c_str(), (w + L".away").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadAll(p), image);
  });
  // Arguments that let the replacer end at once: the program's file does not exist.
  EXPECT_TRUE(plat::WriteAndStartProgram(path, image, "\"" + path + "\" " + dir + "\\none\\x.exe +0"));
  plat::SetBeforeProgramStartHook(nullptr);
  EXPECT_TRUE(checked);
}

class SignaturesWine : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* d = std::getenv("CORVANE_SIGNED_DIR");
    if (!d) GTEST_SKIP() << "no signed files (run under tests/wine/with-signed-files)";
    dir_ = d;
  }
  std::string File(const char* name) const { return dir_ + "\\" + name; }
  // Trusts the test root on this (Wine) machine for the test's length.
  bool TrustRoot(bool on) {
    const std::string der = ReadAll(File("root.cer"));
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) return false;
    PCCERT_CONTEXT cert = nullptr;
    const BOOL ok = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                        reinterpret_cast<const BYTE*>(der.data()),
                                                        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                        &cert);
    if (ok && !on) ::CertDeleteCertificateFromStore(cert);  // frees cert
    else if (cert) ::CertFreeCertificateContext(cert);
    ::CertCloseStore(store, 0);
    return ok;
  }
  std::string dir_;
};

const char* Name(SignatureState s) {
  return s == SignatureState::Valid ? "valid" : s == SignatureState::Invalid ? "invalid" : "unsigned";
}

TEST_F(SignaturesWine, WhatWinVerifyTrustShowsUnderWine) {
  ASSERT_TRUE(TrustRoot(true));
  const plat::CodeSignature unsignedSig = plat::ReadCodeSignature(File("unsigned.exe"));
  const plat::CodeSignature a = plat::ReadCodeSignature(File("a.exe"));
  const plat::CodeSignature a2 = plat::ReadCodeSignature(File("a2.exe"));
  const plat::CodeSignature b = plat::ReadCodeSignature(File("b.exe"));
  const plat::CodeSignature stray = plat::ReadCodeSignature(File("stray.exe"));
  const plat::CodeSignature altered = plat::ReadCodeSignature(File("altered.exe"));
  TrustRoot(false);
  const plat::CodeSignature untrustedA = plat::ReadCodeSignature(File("a.exe"));
  for (const auto& [name, s] : {std::pair{"unsigned", unsignedSig}, std::pair{"a", a}, std::pair{"a2", a2},
                                std::pair{"b", b}, std::pair{"stray", stray}, std::pair{"altered", altered},
                                std::pair{"a-noroot", untrustedA}})
    std::printf("wine verdict: %-8s %-8s signer %zu bytes %s\n", name, Name(s.state), s.signer.size(), s.detail.c_str());

  // What Wine shows: a file without a signature; a valid signature and its
  // signer; the same signer for two files of one publisher and another for
  // the second; a file changed after signing (TRUST_E_BAD_DIGEST).
  EXPECT_EQ(unsignedSig.state, SignatureState::Unsigned);
  EXPECT_EQ(a.state, SignatureState::Valid) << a.detail;
  EXPECT_FALSE(a.signer.empty());
  EXPECT_EQ(a.signer, a2.signer);
  EXPECT_NE(a.signer, b.signer);
  EXPECT_EQ(altered.state, SignatureState::Invalid);
  EXPECT_NE(altered.detail.find("0x80096010"), std::string::npos) << altered.detail;
  EXPECT_EQ(altered.signer, a.signer);
  // What it does not: a chain to a root nobody trusts passes its verifier
  // (Windows answers CERT_E_UNTRUSTEDROOT); the simulated machine's verifier
  // shows that case. The same-publisher rule still refuses it, since its
  // signer certificate (same name as A's) is another one.
  if (stray.state == SignatureState::Valid || untrustedA.state == SignatureState::Valid)
    std::printf("wine verdict: Wine does not refuse an untrusted root (stray: %s, a without its root: %s)\n",
                Name(stray.state), Name(untrustedA.state));
  EXPECT_NE(stray.signer, a.signer);

  // The update's rule on Wine's verdicts: A takes A only.
  EXPECT_EQ(AuthenticityProblem(a, {{"a2.exe", a2}}), "");
  EXPECT_NE(AuthenticityProblem(a, {{"b.exe", b}}), "");
  EXPECT_NE(AuthenticityProblem(a, {{"unsigned.exe", unsignedSig}}), "");
  EXPECT_NE(AuthenticityProblem(a, {{"stray.exe", stray}}), "");
  EXPECT_NE(AuthenticityProblem(a, {{"altered.exe", altered}}), "");
}

// The product's HTTP stack (WinINet) with an HTTPS address and a server
// certificate from the trusted test root: the whole body arrives. The server
// is named "localhost": Wine compares the certificate's names only, not its
// IP addresses (error 12038 for https://127.0.0.1, which Windows accepts).
// That a server without a trusted root is refused is shown on the simulated
// machine: under Wine, once the root had been trusted in the process,
// WinINet went on fetching from the server after it was removed again.
TEST_F(SignaturesWine, HttpsBodiesThroughWinInetWithATrustedServerCertificate) {
  const char* tls = std::getenv("CORVANE_OPSERVER_TLS_URL");
  test::TestServer server;
  if (!tls || !server.Available()) GTEST_SKIP() << "no HTTPS operator server (run under tests/wine/with-opserver)";
  std::string url = tls;
  url.replace(url.find("127.0.0.1"), 9, "localhost");
  url += "/tls/update.bin";
  const std::string body(150000, 's');
  server.WriteFile("tls/update.bin", body);
  std::string got;
  int status = 0;
  ASSERT_TRUE(TrustRoot(true));
  const plat::HttpStreamResult r = plat::HttpGetStream(
      url,
      [&](int s, int64_t) {
        status = s;
        return true;
      },
      [&](const char* d, size_t n) {
        got.append(d, n);
        return true;
      });
  TrustRoot(false);
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(status, 200);
  EXPECT_TRUE(got == body) << got.size() << " bytes";
}

}  // namespace
}  // namespace corvane
