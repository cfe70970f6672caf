// Drawing helpers of the Win32 view: fonts by (family, pixel height),
// pictures decoded from the program's PNG resources, text with a CJK
// fallback, anti-aliased shapes through GDI+.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "window/form_model.h"

namespace corvane::view {

// Starts GDI+ once for the process.
void StartGdiPlus();

COLORREF Rgb(Colour c);

// A font of the family and pixel (character) height; cached, never freed.
HFONT FontFor(const Font& f);
// The font of the layout at a display's DPI: the same family, its height
// multiplied.
Font AtDpi(const Font& f, int dpi);
// Tahoma carries no Chinese glyphs: texts with CJK characters are drawn in
// the CJK family at the same size, as font linking does on a Chinese system.
HFONT FontForText(const Font& f, const std::wstring& text);

// A picture resource (type "PNG") as a 32-bit premultiplied bitmap, at the
// size for a display's DPI; null when missing. Cached, never freed.
//
// Each picture is drawn at 100, 150 and 200 % (resources NAME, NAME_150,
// NAME_200). At 96, 144 and 192 DPI that picture is taken as it is; between
// them the next larger one is reduced, so no picture is ever enlarged below
// 200 %. A strip of `cells` equal cells side by side is reduced cell by cell
// so that every cell keeps a whole width.
struct Picture {
  HBITMAP bitmap = nullptr;
  int width = 0, height = 0;
};
const Picture* LoadPicture(const std::string& name, int dpi = 96, int cells = 1);

// Draws (part of) a picture with its alpha at x, y; src is the part's
// rectangle inside the picture (whole picture when null). alpha 0..255.
void DrawPicture(HDC dc, const Picture& p, int x, int y, const RECT* src = nullptr, int alpha = 255);

// Anti-aliased shapes.
void FillRoundRect(HDC dc, const RECT& r, int radius, Colour fill, int alpha = 255);
void FrameRoundRect(HDC dc, const RECT& r, int radius, Colour line, float width = 1.0f);
void FillRect(HDC dc, const RECT& r, Colour fill, int alpha = 255);
void Line(HDC dc, int x0, int y0, int x1, int y1, Colour c);
// The two diagonals of r (a close button's cross), through pixel centres.
void Cross(HDC dc, const RECT& r, Colour c, float width);

// Text in a rectangle with GDI (DrawTextW flags), in the given colour.
void Text(HDC dc, const std::wstring& text, const Font& f, Colour c, RECT r, UINT flags);
SIZE MeasureText(const std::wstring& text, const Font& f, UINT flags = DT_SINGLELINE, int width = 0);
// Line height (cell height) of a font.
int LineHeight(const Font& f);

}  // namespace corvane::view
