// Looks at a running Corvaner.exe from the outside, under Wine:
//   wincheck count       number of top-level windows with the main class and caption
//   wincheck iconic      1 when the main window is minimised
//   wincheck minimize    minimises the main window
//   wincheck close       asks the main window to close
//   wincheck workfolder  "present" when <AppData>\Corvane\bcdedit.exe exists, else "absent"
//   wincheck tamper      "refused" when this (other) program can neither write, delete nor
//                        rename <AppData>\Corvane\bcdedit.exe nor rename its folder, else "changed"
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
  } else if (cmd == L"tamper") {
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path);
    const std::wstring folder = std::wstring(path) + L"\\Corvane", file = folder + L"\\bcdedit.exe";
    bool changed = false;
    HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      changed = true;
      ::CloseHandle(h);
    }
    changed = changed || ::MoveFileExW(file.c_str(), (file + L".old").c_str(), 0);
    changed = changed || ::DeleteFileW(file.c_str());
    changed = changed || ::MoveFileExW(folder.c_str(), (folder + L"-old").c_str(), 0);
    std::printf("%s\n", changed ? "changed" : "refused");
  } else {
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
