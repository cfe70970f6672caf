// What an elevated program does first: no system error dialogs, and no DLL
// from anywhere but the system folder. Windows 7 without the update that
// brought SetDefaultDllDirectories must still start, so it is looked up at
// run time.
#pragma once
#include <windows.h>

namespace plat::win32 {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

enum class DllSearch {
  SystemFolderOnly,    // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | ...USER_DIRS)
  CurrentFolderLeftOut,  // SetDllDirectoryW(L""): all a Windows 7 without the update offers
};

// Sets the error mode (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX: a
// log write to an empty drive fails quietly), narrows the DLL search, and
// makes every delay-loaded library come from the system folder.
// `setDefault` is SetDefaultDllDirectories, or nullptr where Windows lacks it.
DllSearch DefendProcess(SetDefaultDllDirectoriesFn setDefault);
// The same with SetDefaultDllDirectories looked up in kernel32.
DllSearch DefendProcess();

}  // namespace plat::win32
