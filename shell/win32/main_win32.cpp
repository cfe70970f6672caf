// Program entry of Corvaner.exe: one running copy, the main window, the
// message loop.
#include <windows.h>

#include "common/text.h"
#include "handoff/boot_undo.h"
#include "platform/platform.h"
#include "platform/win32/startup_defence.h"
#include "shell/startup.h"
#include "shell/win32/main_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int show) {
  // An elevated program must not load DLLs planted beside it, nor show a
  // system dialog for a drive without a disk.
  plat::win32::DefendProcess();

  // The way back from the boot entry: no window, and neither held back by
  // a running copy nor bothering it.
  if (corvane::UndoBootRequested(plat::CommandLineArgs())) return corvane::UndoBoot();

  using corvane::Widen;
  // The mutex stays open until the process ends; Windows releases it.
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Widen(corvane::kMutexName).c_str());
  if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    const std::wstring className = Widen(corvane::kMainClassName);
    const std::wstring title = Widen(corvane::kAppTitle);
    if (HWND other = ::FindWindowW(className.c_str(), title.c_str()))
      ::PostMessageW(other, WM_SYSCOMMAND, SC_RESTORE, 0);
    return 0;
  }

  // Lives until the process ends (see MainWindow).
  auto* window = new corvane::view::MainWindow();
  if (!window->Create(true)) return 0;
  window->Show(show);
  window->Run();
  // Workers still running end with the process; nothing is awaited.
  ::ExitProcess(0);
}
