// The rule that tells an admin-only folder by its security descriptor,
// checked on descriptors written out (Wine keeps no access lists on files,
// so a real folder cannot show it there).
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "platform/win32/admin_folder_win32.h"

namespace {

bool AdminOnly(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) {
    ADD_FAILURE() << "bad descriptor text";
    return false;
  }
  const bool ok = plat::AdminOnlyDescriptor(sd);
  ::LocalFree(sd);
  return ok;
}

TEST(AdminOnlyDescriptor, OnlyAdministratorsAndSystemOwnOrGetIn) {
  // What MakeAdminOnlyDir gives a folder; owned by SYSTEM as well.
  EXPECT_TRUE(AdminOnly(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
  EXPECT_TRUE(AdminOnly(L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
  // Refusing someone changes nothing.
  EXPECT_TRUE(AdminOnly(L"O:BAD:P(D;OICI;FA;;;WD)(A;OICI;FA;;;BA)"));
  // A folder the user made: the user owns it and may change its list.
  EXPECT_FALSE(AdminOnly(L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
  // Entries inherited from the folder above (ProgramData lets users in).
  EXPECT_FALSE(AdminOnly(L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
  // Anyone else let in, even only to read.
  EXPECT_FALSE(AdminOnly(L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"));
  EXPECT_FALSE(AdminOnly(L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)"));
  // No access list at all lets everyone in.
  EXPECT_FALSE(AdminOnly(L"O:BAD:NO_ACCESS_CONTROL"));
}

}  // namespace
