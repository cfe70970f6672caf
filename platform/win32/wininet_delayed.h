// <wininet.h> for code that calls WinINet, which is delay-loaded (it is not
// a Known DLL; see corvane_delay_imports). The i686 toolchain's delay-import
// libraries bind a call only when it goes to the function's own thunk, not
// through the __imp_ pointer that a dllimport declaration calls (that
// pointer stays null), so the declarations are made without dllimport.
#pragma once
#include <windows.h>

#pragma push_macro("DECLSPEC_IMPORT")
#undef DECLSPEC_IMPORT
#define DECLSPEC_IMPORT
#include <wininet.h>
#pragma pop_macro("DECLSPEC_IMPORT")
