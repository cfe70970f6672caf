#include "shell/win32/gdi_kit.h"

#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <cstring>
#include <map>
#include <tuple>
#include <mutex>
#include <string_view>

#include "common/text.h"
#include "platform/platform.h"
#include "shell/win32/dpi.h"

namespace corvane::view {

void StartGdiPlus() {
  static ULONG_PTR token = 0;
  if (token) return;
  Gdiplus::GdiplusStartupInput in;
  Gdiplus::GdiplusStartup(&token, &in, nullptr);
}

COLORREF Rgb(Colour c) { return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

namespace {
Gdiplus::Color GpColour(Colour c, int alpha = 255) {
  return Gdiplus::Color(static_cast<BYTE>(alpha), (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

bool HasCjk(const std::wstring& s) {
  for (wchar_t ch : s)
    if (ch >= 0x2E80) return true;
  return false;
}
}  // namespace

HFONT FontFor(const Font& f) {
  static std::map<std::tuple<std::string, int, bool>, HFONT> cache;
  auto key = std::make_tuple(f.family, f.px, f.bold);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  HFONT font = ::CreateFontW(-f.px, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                             Widen(f.family).c_str());
  cache[key] = font;
  return font;
}

Font AtDpi(const Font& f, int dpi) { return Font{f.family, Px(f.px, dpi), f.bold}; }

HFONT FontForText(const Font& f, const std::wstring& text) {
  if (f.family != kYaHei && HasCjk(text)) return FontFor(Font{kYaHei, f.px, f.bold});
  return FontFor(f);
}

namespace {

// The pictures drawn at build time: display DPI and resource-name suffix.
struct Drawn {
  int dpi;
  const char* suffix;
};
constexpr Drawn kDrawn[] = {{96, ""}, {144, "_150"}, {192, "_200"}};

// A PNG resource decoded by GDI+, which reads from its stream for as long
// as the bitmap lives.
struct Decoded {
  IStream* stream = nullptr;
  std::unique_ptr<Gdiplus::Bitmap> bmp;
  Decoded() = default;
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;
  ~Decoded() {
    bmp.reset();
    if (stream) stream->Release();
  }
  explicit operator bool() const { return bmp && bmp->GetLastStatus() == Gdiplus::Ok; }
};

std::unique_ptr<Decoded> DecodePng(const std::string& resource) {
  std::string_view data;
  if (!plat::FindResourceData("PNG", resource, data)) return nullptr;
  auto d = std::make_unique<Decoded>();
  d->stream = ::SHCreateMemStream(reinterpret_cast<const BYTE*>(data.data()), static_cast<UINT>(data.size()));
  if (!d->stream) return nullptr;
  d->bmp = std::make_unique<Gdiplus::Bitmap>(d->stream);
  return *d ? std::move(d) : nullptr;
}

// Copies a decoded picture into a premultiplied DIB section.
Picture ToPicture(Gdiplus::Bitmap& bmp) {
  Picture p;
  const int w = static_cast<int>(bmp.GetWidth()), h = static_cast<int>(bmp.GetHeight());
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  Gdiplus::BitmapData bd{};
  Gdiplus::Rect rect(0, 0, w, h);
  if (dib && bmp.LockBits(&rect, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &bd) == Gdiplus::Ok) {
    for (int y = 0; y < h; ++y)
      std::memcpy(static_cast<BYTE*>(bits) + y * w * 4, static_cast<BYTE*>(bd.Scan0) + y * bd.Stride, w * 4);
    bmp.UnlockBits(&bd);
    p.bitmap = dib;
    p.width = w;
    p.height = h;
  } else if (dib) {
    ::DeleteObject(dib);
  }
  return p;
}

// Reduces a strip cell by cell to cells x cellWidth by height, smoothly.
std::unique_ptr<Gdiplus::Bitmap> Reduce(Gdiplus::Bitmap& src, int cells, int cellWidth, int height) {
  auto out = std::make_unique<Gdiplus::Bitmap>(cells * cellWidth, height, PixelFormat32bppPARGB);
  Gdiplus::Graphics g(out.get());
  g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
  Gdiplus::ImageAttributes edges;  // no dark fringe from outside the cell
  edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  const int srcCell = static_cast<int>(src.GetWidth()) / cells;
  for (int i = 0; i < cells; ++i)
    g.DrawImage(&src, Gdiplus::Rect(i * cellWidth, 0, cellWidth, height), i * srcCell, 0, srcCell,
                static_cast<int>(src.GetHeight()), Gdiplus::UnitPixel, &edges);
  return out;
}

Picture MakePicture(const std::string& name, int dpi, int cells) {
  if (dpi == kLayoutDpi) {
    auto png = DecodePng(name);
    return png ? ToPicture(*png->bmp) : Picture{};
  }
  // The layout size, from the picture drawn at 100 %.
  const Picture* base = LoadPicture(name, kLayoutDpi, 1);
  if (!base) return {};
  cells = std::max(cells, 1);
  const int cellWidth = Px(base->width / cells, dpi), height = Px(base->height, dpi);
  // The smallest drawn picture not smaller than the display needs.
  const Drawn* pick = nullptr;
  for (const Drawn& d : kDrawn)
    if (d.dpi >= dpi) {
      pick = &d;
      break;
    }
  if (!pick) pick = &kDrawn[std::size(kDrawn) - 1];
  auto png = DecodePng(name + pick->suffix);
  if (!png) png = DecodePng(name);  // a picture drawn at 100 % only
  if (!png) return {};
  Gdiplus::Bitmap& bmp = *png->bmp;
  if (static_cast<int>(bmp.GetWidth()) == cells * cellWidth && static_cast<int>(bmp.GetHeight()) == height)
    return ToPicture(bmp);
  auto reduced = Reduce(bmp, cells, cellWidth, height);
  return ToPicture(*reduced);
}

}  // namespace

const Picture* LoadPicture(const std::string& name, int dpi, int cells) {
  static std::map<std::tuple<std::string, int, int>, Picture> cache;
  if (name.empty()) return nullptr;
  const auto key = std::make_tuple(name, dpi, dpi == kLayoutDpi ? 1 : cells);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, MakePicture(name, dpi, std::get<2>(key))).first;
  return it->second.bitmap ? &it->second : nullptr;
}

void DrawPicture(HDC dc, const Picture& p, int x, int y, const RECT* src, int alpha) {
  RECT s = src ? *src : RECT{0, 0, p.width, p.height};
  HDC mem = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(mem, p.bitmap);
  BLENDFUNCTION bf{AC_SRC_OVER, 0, static_cast<BYTE>(alpha), AC_SRC_ALPHA};
  ::GdiAlphaBlend(dc, x, y, s.right - s.left, s.bottom - s.top, mem, s.left, s.top, s.right - s.left,
                  s.bottom - s.top, bf);
  ::SelectObject(mem, old);
  ::DeleteDC(mem);
}

namespace {
void RoundPath(Gdiplus::GraphicsPath& path, Gdiplus::RectF r, float radius) {
  if (radius <= 0) {
    path.AddRectangle(r);
    return;
  }
  const float d = radius * 2;
  path.AddArc(r.X, r.Y, d, d, 180, 90);
  path.AddArc(r.X + r.Width - d, r.Y, d, d, 270, 90);
  path.AddArc(r.X + r.Width - d, r.Y + r.Height - d, d, d, 0, 90);
  path.AddArc(r.X, r.Y + r.Height - d, d, d, 90, 90);
  path.CloseFigure();
}
}  // namespace

void FillRoundRect(HDC dc, const RECT& r, int radius, Colour fill, int alpha) {
  Gdiplus::Graphics g(dc);
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  Gdiplus::GraphicsPath path;
  RoundPath(path, Gdiplus::RectF(float(r.left), float(r.top), float(r.right - r.left), float(r.bottom - r.top)),
            float(radius));
  Gdiplus::SolidBrush b(GpColour(fill, alpha));
  g.FillPath(&b, &path);
}

void FrameRoundRect(HDC dc, const RECT& r, int radius, Colour line, float width) {
  Gdiplus::Graphics g(dc);
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  Gdiplus::GraphicsPath path;
  const float h = width / 2;
  RoundPath(path,
            Gdiplus::RectF(r.left + h, r.top + h, float(r.right - r.left) - width, float(r.bottom - r.top) - width),
            float(radius));
  Gdiplus::Pen pen(GpColour(line), width);
  g.DrawPath(&pen, &path);
}

void FillRect(HDC dc, const RECT& r, Colour fill, int alpha) {
  if (alpha >= 255) {
    HBRUSH b = ::CreateSolidBrush(Rgb(fill));
    ::FillRect(dc, &r, b);
    ::DeleteObject(b);
    return;
  }
  Gdiplus::Graphics g(dc);
  Gdiplus::SolidBrush b(GpColour(fill, alpha));
  g.FillRectangle(&b, static_cast<INT>(r.left), static_cast<INT>(r.top), static_cast<INT>(r.right - r.left), static_cast<INT>(r.bottom - r.top));
}

void Line(HDC dc, int x0, int y0, int x1, int y1, Colour c) {
  HPEN pen = ::CreatePen(PS_SOLID, 1, Rgb(c));
  HGDIOBJ old = ::SelectObject(dc, pen);
  ::MoveToEx(dc, x0, y0, nullptr);
  ::LineTo(dc, x1, y1);
  ::SelectObject(dc, old);
  ::DeleteObject(pen);
}

void Cross(HDC dc, const RECT& r, Colour c, float width) {
  Gdiplus::Graphics g(dc);
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  Gdiplus::Pen pen(GpColour(c), width);
  const float l = r.left + 0.5f, t = r.top + 0.5f, rr = r.right - 0.5f, b = r.bottom - 0.5f;
  g.DrawLine(&pen, l, t, rr, b);
  g.DrawLine(&pen, rr, t, l, b);
}

void Text(HDC dc, const std::wstring& text, const Font& f, Colour c, RECT r, UINT flags) {
  HGDIOBJ old = ::SelectObject(dc, FontForText(f, text));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, Rgb(c));
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags | DT_NOPREFIX);
  ::SelectObject(dc, old);
}

SIZE MeasureText(const std::wstring& text, const Font& f, UINT flags, int width) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, FontForText(f, text.empty() ? L"x" : text));
  RECT r{0, 0, width, 0};
  const std::wstring t = text.empty() ? L" " : text;
  ::DrawTextW(dc, t.c_str(), static_cast<int>(t.size()), &r, flags | DT_CALCRECT | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return SIZE{text.empty() ? 0 : r.right - r.left, r.bottom - r.top};
}

int LineHeight(const Font& f) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, FontFor(f));
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return tm.tmHeight;
}

}  // namespace corvane::view
