#include "shell/win32/tips_view.h"

#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "shell/win32/dpi.h"
#include "shell/win32/gdi_kit.h"

namespace corvane::view {

namespace {
constexpr Colour kBack = 0xFFF1B0, kFrame = 0xE6B00A, kText = 0xF26D00, kTitle = 0xE34551;
const Font kTextFont{"Tahoma", 12};
const Font kTitleFont{"Tahoma", 13, true};
constexpr int kStem = 9;      // height of the pointer above the body
constexpr int kStemX = 22;    // where the pointer meets the anchor
constexpr int kPad = 10;
constexpr int kClose = 14;    // the close button's square
constexpr int kMaxText = 240;
constexpr int kGap = 4;
constexpr int kCorner = 8;    // the body's rounded corners
constexpr int kStemHalf = 8;  // half the pointer's base
}  // namespace

RECT TipsView::CloseBox(int width) const {
  return RECT{width - Px(kPad + kClose - 4), Px(kStem + 5), width - Px(kPad - 4), Px(kStem + 5 + kClose)};
}

TipsView::TipsView(TipsModel& tips, FormView& owner, std::function<int64_t()> now)
    : tips_(tips), owner_(owner), now_(std::move(now)) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = L"CorvaneTip";
  ::RegisterClassExW(&wc);
}

TipsView::~TipsView() {
  for (auto& [id, w] : windows_)
    if (::IsWindow(w.hwnd)) ::DestroyWindow(w.hwnd);
}

SIZE TipsView::Measure(const TipsModel::Balloon& b) const {
  const int dpi = owner_.Dpi();
  const SIZE t = MeasureText(Widen(b.info), AtDpi(kTextFont, dpi), DT_WORDBREAK, Px(kMaxText));
  int w = std::max<int>(t.cx, Px(60)), h = t.cy;
  if (!b.title.empty()) {
    const SIZE tt = MeasureText(Widen(b.title), AtDpi(kTitleFont, dpi));
    w = std::max<int>(w, tt.cx);
    h += tt.cy + Px(4);
  }
  return SIZE{w + Px(2 * kPad + kClose), h + Px(2 * kPad + kStem)};
}

const TipsModel::Balloon* TipsView::ModelOf(HWND h) const {
  for (auto& [id, w] : windows_)
    if (w.hwnd == h)
      for (auto& b : tips_.Showing())
        if (b.id == id) return &b;
  return nullptr;
}

void TipsView::Sync() {
  HWND owner = owner_.Hwnd();
  // Windows of balloons that are gone.
  for (auto it = windows_.begin(); it != windows_.end();) {
    const bool alive = std::any_of(tips_.Showing().begin(), tips_.Showing().end(),
                                   [&](const TipsModel::Balloon& b) { return b.id == it->first; });
    if (alive) {
      ++it;
      continue;
    }
    if (::IsWindow(it->second.hwnd)) ::DestroyWindow(it->second.hwnd);
    it = windows_.erase(it);
  }
  if (!owner || !::IsWindow(owner)) return;
  std::map<std::string, int> stackBelow;  // next free top per anchor
  for (const auto& b : tips_.Showing()) {
    Balloon& w = windows_[b.id];
    const SIZE sz = Measure(b);
    if (!w.hwnd) {
      w.hwnd = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"CorvaneTip", L"",
                                 WS_POPUP, 0, 0, sz.cx, sz.cy, owner, nullptr, ::GetModuleHandleW(nullptr), this);
      if (!w.hwnd) continue;
      ::SetWindowLongPtrW(w.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    // Anchor: a panel's balloon points below its header; other controls'
    // balloons point at their bottom edge. Later balloons stack below.
    Control* anchor = owner_.Model().Find(b.anchor);
    RECT ar = anchor ? owner_.ScreenBox(*anchor) : RECT{};
    const bool panel = anchor && anchor->Kind() == ControlKind::Panel;
    const int ax = (ar.left + ar.right) / 2;
    int ay = panel ? ar.top + Px(60) : ar.bottom;
    auto found = stackBelow.find(b.anchor);
    if (found != stackBelow.end()) ay = found->second;
    stackBelow[b.anchor] = ay + sz.cy + Px(kGap);
    // The body stays inside the window where it can; the pointer keeps
    // pointing at the anchor.
    RECT owr;
    ::GetWindowRect(owner, &owr);
    int left = std::min<int>(ax - Px(kStemX), owr.right - Px(6) - sz.cx);
    left = std::max<int>(left, owr.left + Px(6));
    const int stemX = std::clamp<int>(ax - left, Px(12), sz.cx - Px(12));
    if (stemX != w.stemX || sz.cx != w.width || sz.cy != w.height || owner_.Dpi() != w.dpi) {
      // The body with rounded corners and the pointer on top.
      const int stem = Px(kStem), half = Px(kStemHalf), corner = Px(kCorner);
      HRGN body = ::CreateRoundRectRgn(0, stem, sz.cx + 1, sz.cy + 1, corner, corner);
      POINT pointer[3] = {{stemX - half, stem + 1}, {stemX, 0}, {stemX + half, stem + 1}};
      HRGN tip = ::CreatePolygonRgn(pointer, 3, WINDING);
      ::CombineRgn(body, body, tip, RGN_OR);
      ::DeleteObject(tip);
      ::SetWindowRgn(w.hwnd, body, TRUE);
      w.stemX = stemX;
      w.dpi = owner_.Dpi();
    }
    w.width = sz.cx;
    w.height = sz.cy;
    const int alpha = TipsModel::Alpha(b, now_());
    ::SetLayeredWindowAttributes(w.hwnd, 0, static_cast<BYTE>(alpha), LWA_ALPHA);
    ::SetWindowPos(w.hwnd, HWND_TOP, left, ay, sz.cx, sz.cy,
                   SWP_NOACTIVATE | (::IsIconic(owner) ? SWP_HIDEWINDOW : SWP_SHOWWINDOW));
    ::InvalidateRect(w.hwnd, nullptr, FALSE);
  }
}

void TipsView::Paint(HWND h, const TipsModel::Balloon& b, const Balloon& w) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(h, &ps);
  HDC mem = ::CreateCompatibleDC(dc);
  HBITMAP bmp = ::CreateCompatibleBitmap(dc, w.width, w.height);
  HGDIOBJ old = ::SelectObject(mem, bmp);
  FillRect(mem, RECT{0, 0, w.width, w.height}, kBack);
  // The frame along the region's outline.
  const int dpi = owner_.Dpi(), hair = Hairline(dpi);
  HRGN rgn = ::CreateRectRgn(0, 0, 0, 0);
  if (::GetWindowRgn(h, rgn) != ERROR) {
    HBRUSH frame = ::CreateSolidBrush(Rgb(kFrame));
    ::FrameRgn(mem, rgn, frame, hair, hair);
    ::DeleteObject(frame);
  }
  ::DeleteObject(rgn);
  const int pad = Px(kPad);
  int y = Px(kStem) + pad;
  if (!b.title.empty()) {
    const std::wstring t = Widen(b.title);
    const Font font = AtDpi(kTitleFont, dpi);
    const SIZE tt = MeasureText(t, font);
    Text(mem, t, font, kTitle, RECT{pad, y, w.width - pad - Px(kClose), y + tt.cy}, DT_SINGLELINE);
    y += tt.cy + Px(4);
  }
  Text(mem, Widen(b.info), AtDpi(kTextFont, dpi), kText, RECT{pad, y, pad + Px(kMaxText), w.height - pad},
       DT_WORDBREAK);
  // The close button: a small cross, red while the mouse is over it.
  const RECT cb = CloseBox(w.width);
  if (w.closeHot) FillRoundRect(mem, cb, Px(2), 0xF6D36A);
  const Colour x = w.closeHot ? kTitle : 0xC08A00;
  const int in = Px(4);
  Cross(mem, RECT{cb.left + in, cb.top + in, cb.right - in, cb.bottom - in}, x, static_cast<float>(hair));
  ::BitBlt(dc, 0, 0, w.width, w.height, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteObject(bmp);
  ::DeleteDC(mem);
  ::EndPaint(h, &ps);
}

LRESULT CALLBACK TipsView::Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<TipsView*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(h, msg, wp, lp);
  const TipsModel::Balloon* b = self->ModelOf(h);
  Balloon* w = nullptr;
  for (auto& [id, win] : self->windows_)
    if (win.hwnd == h) w = &win;
  switch (msg) {
    case WM_PAINT:
      if (b && w) {
        self->Paint(h, *b, *w);
        return 0;
      }
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_MOUSEMOVE:
      if (w) {
        const RECT cb = self->CloseBox(w->width);
        const bool hot = ::PtInRect(&cb, POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)}) != FALSE;
        if (hot != w->closeHot) {
          w->closeHot = hot;
          ::InvalidateRect(h, nullptr, FALSE);
          TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, h, 0};
          ::TrackMouseEvent(&t);
        }
      }
      return 0;
    case WM_MOUSELEAVE:
      if (w && w->closeHot) {
        w->closeHot = false;
        ::InvalidateRect(h, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONUP:
      if (w && b) {
        const RECT cb = self->CloseBox(w->width);
        if (::PtInRect(&cb, POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)})) self->tips_.Close(b->id);
      }
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(h, msg, wp, lp);
}

}  // namespace corvane::view
