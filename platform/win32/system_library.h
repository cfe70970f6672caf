// Libraries that are not Known DLLs are loaded by their full path in the
// system folder, never by name: an elevated program started from the user's
// Downloads must not pick up a copy planted beside it.
#pragma once
#include <windows.h>

namespace plat::win32 {

// Loads <system folder>\<name>; its own dependencies are looked up from
// there too. nullptr when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

}  // namespace plat::win32
