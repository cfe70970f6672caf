// Authenticode signatures of program files.
//
// win32: WinVerifyTrust (wintrust.dll, loaded from the system folder) for the
// verdict, the signer's certificate from the embedded signature (crypt32).
// posix: the simulated machine checks the signature itself (OpenSSL): the
// signed digest of the file, the signer's signature over it, and a chain to
// one of the machine profile's "trustedRoots".
#pragma once
#include <string>

namespace plat {

enum class SignatureState {
  Unsigned,  // the file carries no signature
  Invalid,   // it carries one that does not hold (altered file, untrusted or broken chain, ...)
  Valid,
};

struct CodeSignature {
  SignatureState state = SignatureState::Unsigned;
  std::string signer;  // the signer's certificate (DER), also for an invalid signature when it can be read
  std::string detail;  // why the signature does not hold
};

CodeSignature ReadCodeSignature(const std::string& path);

}  // namespace plat
