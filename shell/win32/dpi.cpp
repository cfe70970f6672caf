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

// Windows 8.1 has per-monitor DPI only in shcore.dll, taken from the system
// folder alone (where that search flag is unknown, the load fails and the
// system DPI stands).
int MonitorDpi(HWND hwnd) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto getDpiForMonitor = [] {
    HMODULE shcore = ::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return shcore ? reinterpret_cast<GetDpiForMonitorFn>(
                        reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")))
                  : nullptr;
  }();
  UINT x = 0, y = 0;
  constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
  if (!getDpiForMonitor ||
      FAILED(getDpiForMonitor(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x, &y)))
    return 0;
  return static_cast<int>(x);
}

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
  if (!hwnd) return SystemDpi();
  if (getDpiForWindow) {
    const int d = static_cast<int>(getDpiForWindow(hwnd));
    if (Sane(d)) return d;
  } else if (const int d = MonitorDpi(hwnd); Sane(d)) {
    return d;
  }
  return SystemDpi();
}

}  // namespace corvane::view
