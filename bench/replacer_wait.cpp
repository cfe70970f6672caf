// The replacer's wait for the old program's file, measured under Wine (see
// bench/replacer-wait, which drives this program and reads the CPU times).
//   replacer_wait.exe hold DIR UPGRADER_EXE   the replacer waits
//   replacer_wait.exe hold DIR peer           the 1 ms loop of this file waits
//   replacer_wait.exe peer PROGRAM            (the 1 ms loop itself)
// "hold" makes DIR\Corvaner.exe and its ".uTMP", holds the first open
// (denying writes, as a running program does), starts the waiter, prints
// "ready", and on a line on its input lets go and prints how long the
// waiter took to move the new file in place. It runs as administrator, as
// the program does, so that it may start the replacer.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool WriteText(const std::wstring& path, const char* text) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  ::WriteFile(h, text, static_cast<DWORD>(strlen(text)), &n, nullptr);
  ::CloseHandle(h);
  return true;
}

std::string ReadText(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  char buf[64];
  DWORD n = 0;
  ::ReadFile(h, buf, sizeof buf, &n, nullptr);
  ::CloseHandle(h);
  return std::string(buf, n);
}

// The wait as first designed: lowest priority, sleep 1 ms, handle messages,
// try to open for writing.
int Peer(const std::wstring& program) {
  const int saved = ::GetThreadPriority(::GetCurrentThread());
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE);
  for (;;) {
    ::Sleep(1);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    HANDLE h = ::CreateFileW(program.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      break;
    }
  }
  ::SetThreadPriority(::GetCurrentThread(), saved);
  ::MoveFileExW((program + L".uTMP").c_str(), program.c_str(), MOVEFILE_REPLACE_EXISTING);
  return 0;
}

int Hold(const std::wstring& dir, const std::wstring& waiter) {
  ::CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring program = dir + L"\\Corvaner.exe";
  if (!WriteText(program, "old") || !WriteText(program + L".uTMP", "new")) return 1;
  HANDLE hold = ::CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (hold == INVALID_HANDLE_VALUE) return 1;
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring app = waiter == L"peer" ? std::wstring(self) : waiter;
  std::wstring line = L"\"" + app + L"\" " + (waiter == L"peer" ? L"peer \"" + program + L"\"" : L"\"" + program + L"\" +/x0");
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(app.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("CreateProcess failed: %lu\n", ::GetLastError());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  char buf[64];
  if (!std::fgets(buf, sizeof buf, stdin)) return 1;
  LARGE_INTEGER f, t0, t1;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&t0);
  ::CloseHandle(hold);
  for (;;) {
    if (ReadText(program) == "new") break;
    ::Sleep(1);  // a busy loop here would starve the waiter, which runs at the lowest priority
  }
  ::QueryPerformanceCounter(&t1);
  std::printf("latency_ms=%.1f\n", (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart);
  std::fflush(stdout);
  ::WaitForSingleObject(pi.hProcess, 10000);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"peer") return Peer(argv[2]);
  if (argc >= 4 && std::wstring(argv[1]) == L"hold") return Hold(argv[2], argv[3]);
  std::fprintf(stderr, "usage: replacer_wait hold DIR (UPGRADER_EXE|peer)\n");
  return 2;
}
