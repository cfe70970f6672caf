// Program entry of Corvaner.exe: one running copy, the main window, the
// message loop.
#include <windows.h>

#include "common/text.h"
#include "shell/startup.h"

namespace {

using corvane::Widen;

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NCLBUTTONDBLCLK:
      return 0;  // a double click on the title bar does nothing
    case WM_SYSCOMMAND:
      if (wp == SC_MAXIMIZE) return 0;  // the window is never maximised
      break;
    case WM_DESTROY:
      corvane::RemoveWorkFolder();
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void FormCreate() {
  corvane::UnpackPayload();
  ::SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);
  ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int show) {
  // An elevated program must not load DLLs planted beside it.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);

  const std::wstring className = Widen(corvane::kMainClassName);
  const std::wstring title = Widen(corvane::kAppTitle);
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Widen(corvane::kMutexName).c_str());
  if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    if (HWND other = ::FindWindowW(className.c_str(), title.c_str()))
      ::PostMessageW(other, WM_SYSCOMMAND, SC_RESTORE, 0);
    return 0;
  }

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainWndProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = ::CreateSolidBrush(RGB(0x00, 0x90, 0xED));
  wc.lpszClassName = className.c_str();
  ::RegisterClassExW(&wc);

  RECT r{0, 0, 350, 330};
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  ::AdjustWindowRectEx(&r, style, FALSE, WS_EX_APPWINDOW);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HWND hwnd = ::CreateWindowExW(WS_EX_APPWINDOW, className.c_str(), title.c_str(), style,
                                (::GetSystemMetrics(SM_CXSCREEN) - w) / 2, (::GetSystemMetrics(SM_CYSCREEN) - h) / 2,
                                w, h, nullptr, nullptr, inst, nullptr);
  if (!hwnd) return 0;
  FormCreate();
  ::ShowWindow(hwnd, show);
  ::UpdateWindow(hwnd);

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
