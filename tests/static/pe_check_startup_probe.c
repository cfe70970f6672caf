/* Imports what a program must not import at start-up on purpose: version.dll
   (not a Known DLL, so Windows looks for it beside the program first) and
   SetDefaultDllDirectories (missing on Windows 7 SP1 without updates). The
   static check must refuse both. */
#include <windows.h>

int main(void) {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return GetFileVersionInfoSizeW(L"kernel32.dll", NULL) > 0 ? 0 : 1;
}
