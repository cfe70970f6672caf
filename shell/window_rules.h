// Message rules shared by the main window and the about window: a double
// click on the title bar does nothing and the window is never maximised.
#pragma once
#include <cstdint>

namespace corvane {

inline constexpr uint32_t kWmActivate = 0x0006;
inline constexpr uint32_t kWmNcLButtonDblClk = 0x00A3;
inline constexpr uint32_t kWmSysCommand = 0x0112;
inline constexpr uintptr_t kScMaximize = 0xF030;
inline constexpr uintptr_t kScRestore = 0xF120;

// True when the window procedure drops the message (its result is 0).
inline bool DropsMessage(uint32_t msg, uintptr_t wParam) {
  if (msg == kWmNcLButtonDblClk) return true;
  if (msg == kWmSysCommand && wParam == kScMaximize) return true;
  return false;
}

}  // namespace corvane
