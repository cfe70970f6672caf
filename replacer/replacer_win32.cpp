// Upgrader4.exe on Windows: a window-less GUI program. It links nothing of
// the program but the replacer's rules and the path check, and imports only
// libraries that Windows keeps in its system folder.
#include <windows.h>
#include <shellapi.h>

#include "replacer/Replacer.h"

namespace {

using corvane::replacer::ReplacerSystem;

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

class Win32System final : public ReplacerSystem {
 public:
  bool FileExists(const std::string& path) override {
    const DWORD a = ::GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
  }

  bool CanOpenForWriting(const std::string& path) override {
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
  }

  void SetLowPriority(bool low) override {
    if (low) {
      saved_ = ::GetThreadPriority(::GetCurrentThread());
      ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE);
    } else {
      ::SetThreadPriority(::GetCurrentThread(), saved_);
    }
  }

  void Pause() override {
    // Wakes for a message as well, so the thread's messages are handled
    // without delay.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, corvane::replacer::kPollMs, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }

  std::string TempFolder() override {
    wchar_t buf[MAX_PATH + 1];
    DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH) return {};
    std::wstring path(buf, n);
    wchar_t longBuf[32768];
    const DWORD m = ::GetLongPathNameW(path.c_str(), longBuf, 32768);
    if (m > 0 && m < 32768) path.assign(longBuf, m);
    if (path.empty() || path.back() != L'\\') path += L'\\';
    return Utf8(path);
  }

  bool ReadFile(const std::string& path, std::string& bytes) override {
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char buf[8192];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ::ReadFile(h, buf, sizeof buf, &got, nullptr) != 0) && got > 0) bytes.append(buf, got);
    ::CloseHandle(h);
    return ok;
  }

  std::string AnsiToUtf8(const std::string& bytes) override {
    if (bytes.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(), n);
    return Utf8(w);
  }

  bool MoveReplacing(const std::string& from, const std::string& to) override {
    return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }

  bool SetAttributes(const std::string& path, uint32_t attrs) override {
    return ::SetFileAttributesW(Wide(path).c_str(), attrs) != 0;
  }

  bool DeleteFile(const std::string& path) override { return ::DeleteFileW(Wide(path).c_str()) != 0; }

  std::vector<std::string> FileNames(const std::string& folder) override {
    std::vector<std::string> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(Wide(folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(Utf8(fd.cFileName));
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    return names;
  }

  bool Start(const std::string& program, const std::string& params) override {
    std::wstring line = Wide(corvane::replacer::ProgramCommandLine(program, params));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    // The program is named on its own as well: no search along a path
    // with blanks.
    if (!::CreateProcessW(Wide(program).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return false;
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
  }

  void ShowInformation(const std::string& caption, const std::string& text) override {
    ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
  }

 private:
  int saved_ = THREAD_PRIORITY_NORMAL;
};

// The replacer runs from the user's temporary folder: libraries that the
// system loads later on its behalf must come from the system folder, never
// from beside it. SetDefaultDllDirectories is looked up, since Windows 7
// without its update lacks it.
void LoadLibrariesFromSystemOnly() {
  using SetDefaultFn = BOOL(WINAPI*)(DWORD);
  HMODULE k32 = ::GetModuleHandleW(L"kernel32.dll");
  auto setDefault = k32 ? reinterpret_cast<SetDefaultFn>(
                              reinterpret_cast<void*>(::GetProcAddress(k32, "SetDefaultDllDirectories")))
                        : nullptr;
  if (!setDefault || !setDefault(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */)) ::SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  LoadLibrariesFromSystemOnly();
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv && i < argc; ++i) args.push_back(Utf8(argv[i]));
  if (argv) ::LocalFree(argv);
  Win32System sys;
  corvane::replacer::Run(sys, args);
  return 0;
}
