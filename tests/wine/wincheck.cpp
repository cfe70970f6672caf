// Looks at a running Corvaner.exe from the outside, under Wine:
//   wincheck count       number of top-level windows with the main class and caption
//   wincheck iconic      1 when the main window is minimised
//   wincheck minimize    minimises the main window
//   wincheck close       asks the main window to close
//   wincheck workfolder  "present" when <AppData>\Corvane\bcdedit.exe exists, else "absent"
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {
const wchar_t* kClass = L"TFrm_Main";
const wchar_t* kCaption = L"QuilloWin10\u5347\u7EA7\u52A9\u7406";

int count = 0;
BOOL CALLBACK Counter(HWND h, LPARAM) {
  wchar_t cls[64] = {}, text[128] = {};
  ::GetClassNameW(h, cls, 64);
  ::GetWindowTextW(h, text, 128);
  if (std::wcscmp(cls, kClass) == 0 && std::wcscmp(text, kCaption) == 0) ++count;
  return TRUE;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring cmd = argv[1];
  HWND main = ::FindWindowW(kClass, kCaption);
  if (cmd == L"count") {
    ::EnumWindows(Counter, 0);
    std::printf("%d\n", count);
  } else if (cmd == L"iconic") {
    std::printf("%d\n", main && ::IsIconic(main) ? 1 : 0);
  } else if (cmd == L"minimize") {
    if (!main) return 1;
    ::ShowWindow(main, SW_MINIMIZE);
  } else if (cmd == L"close") {
    if (!main) return 1;
    ::PostMessageW(main, WM_CLOSE, 0, 0);
  } else if (cmd == L"workfolder") {
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path);
    std::wstring file = std::wstring(path) + L"\\Corvane\\bcdedit.exe";
    std::printf("%s\n", ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES ? "present" : "absent");
  } else {
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
