// bcdedit.exe of the payload: forwards its arguments, unchanged, to the
// system's own boot configuration editor and passes its output and exit
// code through. A 32-bit process on 64-bit Windows reaches the real editor
// through %windir%\Sysnative (the System32 it sees is the 32-bit one).
#ifdef _WIN32
#include <windows.h>

#include <string>

namespace {

// The command line after the program name, exactly as given.
const wchar_t* ArgumentsOf(const wchar_t* cmd) {
  const wchar_t* p = cmd;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  return p;  // keeps the blank that separates the arguments
}

std::wstring EditorPath() {
  wchar_t win[MAX_PATH] = {};
  ::GetWindowsDirectoryW(win, MAX_PATH);
  std::wstring base = win;
  if (!base.empty() && base.back() != L'\\') base += L'\\';
  const std::wstring sysnative = base + L"Sysnative\\bcdedit.exe";
  if (::GetFileAttributesW(sysnative.c_str()) != INVALID_FILE_ATTRIBUTES) return sysnative;
  return base + L"System32\\bcdedit.exe";
}

}  // namespace

int wmain() {
  const std::wstring editor = EditorPath();
  std::wstring cmd = L"\"" + editor + L"\"" + ArgumentsOf(::GetCommandLineW());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(editor.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    const DWORD err = ::GetLastError();
    const char msg[] = "The boot configuration data store could not be opened.\r\n";
    DWORD w = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), msg, sizeof msg - 1, &w, nullptr);
    return static_cast<int>(err ? err : 1);
  }
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}
#else
#include <cstdio>
// The native build has no boot store of its own to forward to.
int main() {
  std::fputs("The boot configuration data store could not be opened.\n", stdout);
  return 1;
}
#endif
