// The one owner of a kernel handle (file, process, thread, ...) in the
// Win32 seam: closed when the owner goes. Both failure values of the API,
// INVALID_HANDLE_VALUE (CreateFile, ReOpenFile) and null (OpenProcess,
// CreateEvent, ...), count as no handle.
#pragma once
#include <windows.h>

#include <utility>

namespace plat {

class WinHandle {
 public:
  WinHandle() = default;
  explicit WinHandle(HANDLE handle) : h(handle) {}
  ~WinHandle() { Close(); }
  WinHandle(const WinHandle&) = delete;
  WinHandle& operator=(const WinHandle&) = delete;
  WinHandle(WinHandle&& o) noexcept : h(std::exchange(o.h, INVALID_HANDLE_VALUE)) {}
  WinHandle& operator=(WinHandle&& o) noexcept {
    if (this != &o) {
      Close();
      h = std::exchange(o.h, INVALID_HANDLE_VALUE);
    }
    return *this;
  }

  bool ok() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  // Closes the handle now; false when CloseHandle failed (a write that only
  // the close reports, for instance). Without a handle: true.
  bool Close() {
    if (!ok()) {
      h = INVALID_HANDLE_VALUE;
      return true;
    }
    const bool closed = ::CloseHandle(h) != 0;
    h = INVALID_HANDLE_VALUE;
    return closed;
  }

  HANDLE h = INVALID_HANDLE_VALUE;
};

}  // namespace plat
