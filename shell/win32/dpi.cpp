#include "shell/win32/dpi.h"

namespace corvane::view {

namespace {

// user32 is in the import table, so it is loaded already, from the system
// folder; nothing is loaded here.
FARPROC User32(const char* name) {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return user32 ? ::GetProcAddress(user32, name) : nullptr;
}

template <typename F>
F Lookup(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(User32(name)));
}

bool Sane(int dpi) { return dpi >= 48 && dpi <= 960; }

}  // namespace

int SystemDpi() {
  static const int dpi = [] {
    HDC screen = ::GetDC(nullptr);
    const int d = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : kLayoutDpi;
    if (screen) ::ReleaseDC(nullptr, screen);
    return Sane(d) ? d : kLayoutDpi;
  }();
  return dpi;
}

int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = Lookup<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow && hwnd) {
    const int d = static_cast<int>(getDpiForWindow(hwnd));
    if (Sane(d)) return d;
  }
  return SystemDpi();
}

}  // namespace corvane::view
