// The rule behind plat::IsAdminOnlyDir on Windows, apart for its tests.
#pragma once
#include <windows.h>

namespace plat {

// Owner Administrators or SYSTEM, a protected access list (nothing inherited
// from above), and every entry that grants access is for one of the two.
bool AdminOnlyDescriptor(PSECURITY_DESCRIPTOR sd);

}  // namespace plat
