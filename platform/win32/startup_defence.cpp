#include "platform/win32/startup_defence.h"

#include <delayimp.h>

#include "platform/win32/system_library.h"

namespace plat::win32 {
namespace {

// Delay-loaded libraries (see corvane_delay_imports) come from the system
// folder. Should that fail, the program's own module stands in, so that the
// call fails as a missing function instead of the loader taking a copy from
// anywhere else.
FARPROC WINAPI LoadFromSystemFolder(unsigned notify, PDelayLoadInfo info) {
  if (notify != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
  HMODULE lib = LoadSystemLibrary(info->szDll);
  return reinterpret_cast<FARPROC>(lib ? lib : ::GetModuleHandleW(nullptr));
}

}  // namespace

DllSearch DefendProcess(SetDefaultDllDirectoriesFn setDefault) {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  __pfnDliNotifyHook2 = LoadFromSystemFolder;
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS))
    return DllSearch::SystemFolderOnly;
  ::SetDllDirectoryW(L"");
  return DllSearch::CurrentFolderLeftOut;
}

DllSearch DefendProcess() {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto fn = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
  return DefendProcess(fn);
}

}  // namespace plat::win32
