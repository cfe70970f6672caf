// Which downloaded files must be signed, and whether their signatures let
// the update go on. A program that carries a signature takes only programs
// signed by the same publisher: the signer's certificate must be the same.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_signature.h"

namespace corvane {

// A Windows program: content that starts like one ("MZ"), or a name that
// Windows runs or loads.
bool IsWindowsProgram(std::string_view head, std::string_view targetPath);

struct SignedFile {
  std::string target;
  plat::CodeSignature signature;
};

// Empty when every program may be put in place; otherwise why the update is
// refused. `own` is the running program's signature and is not Unsigned
// (an unsigned program does not check).
std::string AuthenticityProblem(const plat::CodeSignature& own, const std::vector<SignedFile>& programs);

}  // namespace corvane
