// Display scale of the Win32 view. The window models are laid out in pixels
// of a 96-DPI display; the view multiplies every length by the window's DPI
// over 96 and draws fonts and pictures made for that scale.
//
// The per-monitor functions exist only on Windows 10; they are looked up at
// run time so that the program still starts on Windows 7, where the view
// uses the system DPI.
#pragma once
#include <windows.h>

#include <algorithm>

namespace corvane::view {

inline constexpr int kLayoutDpi = 96;

// A length of the layout at a DPI; half pixels round away from zero, so
// that a scaled edge lands where the scaled neighbour's edge lands.
constexpr int Px(int v, int dpi) { return (v * dpi + (v >= 0 ? kLayoutDpi / 2 : -kLayoutDpi / 2)) / kLayoutDpi; }
// And back, for positions a user points at.
constexpr int Unpx(int v, int dpi) { return (v * kLayoutDpi + (v >= 0 ? dpi / 2 : -dpi / 2)) / dpi; }
// The thickness of a 1-pixel line: whole pixels only, so lines stay sharp.
constexpr int Hairline(int dpi) { return std::max(1, dpi / kLayoutDpi); }

// The DPI of the primary display (LOGPIXELSX), which is what every window
// gets on Windows before 10.
int SystemDpi();
// The DPI of the display a window is on (GetDpiForWindow where it exists).
int WindowDpi(HWND hwnd);

}  // namespace corvane::view
