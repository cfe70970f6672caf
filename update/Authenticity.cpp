#include "update/Authenticity.h"

#include "common/text.h"

namespace corvane {

bool IsWindowsProgram(std::string_view head, std::string_view targetPath) {
  if (head.size() >= 2 && head[0] == 'M' && head[1] == 'Z') return true;
  for (const char* ext : {".exe", ".dll", ".sys", ".com", ".scr", ".cpl", ".ocx", ".drv", ".efi", ".msi", ".bat",
                          ".cmd"})
    if (EndsWithNoCase(targetPath, ext)) return true;
  return false;
}

std::string AuthenticityProblem(const plat::CodeSignature& own, const std::vector<SignedFile>& programs) {
  if (own.signer.empty()) return "the program's own signer cannot be read";
  for (const SignedFile& f : programs) {
    switch (f.signature.state) {
      case plat::SignatureState::Unsigned:
        return f.target + " carries no signature";
      case plat::SignatureState::Invalid:
        return f.target + " carries a signature that does not hold (" + f.signature.detail + ")";
      case plat::SignatureState::Valid:
        if (f.signature.signer != own.signer) return f.target + " is signed by another publisher";
        break;
    }
  }
  return {};
}

}  // namespace corvane
