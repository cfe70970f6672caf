#include "shell/win32/form_view.h"

#include <commctrl.h>
#include <windowsx.h>

#include <set>

#include "common/text.h"
#include "shell/win32/dpi.h"
#include "shell/win32/gdi_kit.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace corvane::view {

namespace {

constexpr int kFirstChildId = 100;

bool IsButtonKind(ControlKind k) {
  return k == ControlKind::ColourButton || k == ControlKind::CheckBox || k == ControlKind::Switch;
}

bool NeedsWindow(const Control& c) {
  switch (c.Kind()) {
    case ControlKind::ColourButton:
    case ControlKind::CheckBox:
    case ControlKind::Switch:
    case ControlKind::Label:
    case ControlKind::ProgressBar:
      // The title bar's controls live in the non-client area.
      return c.Style().parent != "mlTitleBar";
    default:
      return false;
  }
}

void RegisterOnce(const std::wstring& name, WNDPROC proc) {
  static std::set<std::wstring> done;
  if (done.count(name)) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = ::LoadIconW(wc.hInstance, L"MAINICON");
  const int small = ::GetSystemMetrics(SM_CXSMICON);
  wc.hIconSm = static_cast<HICON>(::LoadImageW(wc.hInstance, L"MAINICON", IMAGE_ICON, small, small, 0));
  wc.lpszClassName = name.c_str();
  ::RegisterClassExW(&wc);
  done.insert(name);
}

}  // namespace

void FormView::RegisterClasses() { StartGdiPlus(); }

FormView::FormView(Form& form, Options options) : form_(form), options_(std::move(options)), scene_(form) {
  form_.Observe([this](Control* c, Control::Change ch) { OnModelChange(c, ch); });
}

FormView::~FormView() {
  if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  if (sceneBmp_) ::DeleteObject(sceneBmp_);
}

RECT FormView::CentringArea() const {
  RECT area{};
  if (options_.centreOnOwner && options_.owner) {
    ::GetWindowRect(options_.owner, &area);
  } else if (hwnd_) {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &mi)) area = mi.rcWork;
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  return area;
}

HWND FormView::Create() {
  StartGdiPlus();
  RegisterOnce(options_.className, WndProc);
  // The DPI of where the window will be; checked again once it exists.
  scene_.SetDpi(options_.owner ? WindowDpi(options_.owner) : SystemDpi());
  const SIZE size = scene_.WindowSize();
  const int w = size.cx, h = size.cy;
  const RECT area = CentringArea();
  const int x = area.left + (area.right - area.left - w) / 2;
  const int y = area.top + (area.bottom - area.top - h) / 2;
  DWORD style = WS_POPUP | WS_SYSMENU | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  if (options_.appWindow) style |= WS_MINIMIZEBOX;
  const DWORD ex = (options_.appWindow ? WS_EX_APPWINDOW : 0) | (options_.topmost ? WS_EX_TOPMOST : 0) |
                   WS_EX_CONTROLPARENT;
  hwnd_ = ::CreateWindowExW(ex, options_.className.c_str(), Widen(form_.Caption()).c_str(), style, x, y, w, h,
                            options_.owner, nullptr, ::GetModuleHandleW(nullptr), this);
  if (!hwnd_) return nullptr;
  // The frame changed after creation: let the non-client area be measured.
  ::SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  CreateChildren();
  if (const int dpi = WindowDpi(hwnd_); dpi != scene_.Dpi()) ChangeDpi(dpi, nullptr);
  if (options_.pump) ::SetTimer(hwnd_, kPumpTimer, 50, nullptr);
  return hwnd_;
}

void FormView::CreateChildren() {
  int id = kFirstChildId;
  for (auto& up : form_.Controls()) {
    Control& c = *up;
    if (!NeedsWindow(c)) continue;
    const bool button = IsButtonKind(c.Kind());
    DWORD style = WS_CHILD;
    if (button) {
      style |= BS_OWNERDRAW;
      if (c.Style().tabStop) style |= WS_TABSTOP;
    } else {
      style |= SS_OWNERDRAW;
      // Clickable labels and those with a hint need the mouse.
      if (c.Style().handCursor || c.Style().showHint) style |= SS_NOTIFY;
    }
    HWND h = ::CreateWindowExW(0, button ? L"BUTTON" : L"STATIC", Widen(c.Caption()).c_str(), style, 0, 0, 1, 1,
                               hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                               ::GetModuleHandleW(nullptr), nullptr);
    if (!h) continue;
    ::SetPropW(h, L"CorvaneView", this);
    oldProcs_[h] = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ChildProc)));
    children_[&c] = h;
    byHwnd_[h] = &c;
  }
  CreateHints();
  SyncChildren();
}

void FormView::CreateHints() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);
  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
  if (!tooltip_) return;
  ScaleHints();
  for (auto& [c, h] : children_) {
    if (!c->Style().showHint) continue;
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(h);
    ti.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

// The hints in the skin's Chinese font at the window's scale; two lines fit.
void FormView::ScaleHints() {
  if (!tooltip_) return;
  ::SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(AtDpi(Font{kYaHei, 12}, Dpi()))), FALSE);
  ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, Px(400));
}

void FormView::ChangeDpi(int dpi, const RECT* suggested) {
  scene_.SetDpi(dpi);
  if (sceneBmp_) ::DeleteObject(sceneBmp_);
  sceneBmp_ = nullptr;
  dirty_ = true;
  const SIZE size = scene_.WindowSize();
  int x, y;
  if (suggested) {
    x = suggested->left;
    y = suggested->top;
  } else {
    const RECT area = CentringArea();
    x = area.left + (area.right - area.left - size.cx) / 2;
    y = area.top + (area.bottom - area.top - size.cy) / 2;
  }
  rescaling_ = true;
  ::SetWindowPos(hwnd_, nullptr, x, y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  rescaling_ = false;
  SyncChildren();
  ScaleHints();
  Invalidate(true);
  if (onMoved) onMoved();
}

// An empty hint shows nothing.
void FormView::SyncHint(const Control& c) {
  auto it = children_.find(&c);
  if (!tooltip_ || it == children_.end() || !c.Style().showHint) return;
  std::wstring text = Widen(c.Hint());
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.hwnd = hwnd_;
  ti.uId = reinterpret_cast<UINT_PTR>(it->second);
  ti.lpszText = text.data();
  ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

// Places, shows and names every child window as the model says.
void FormView::SyncChildren() {
  HWND focus = ::GetFocus();
  bool focusLost = false;
  for (auto& [c, h] : children_) {
    const bool shown = scene_.Shown(*c);
    const RECT r = scene_.Box(*c);
    ::SetWindowPos(h, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    ::EnableWindow(h, c->Enabled());
    wchar_t buf[512];
    ::GetWindowTextW(h, buf, 512);
    const std::wstring text = Widen(c->Caption());
    if (text != buf) ::SetWindowTextW(h, text.c_str());
    if (h == focus && !shown) focusLost = true;
  }
  if (focusLost) ::SetFocus(hwnd_);
}

void FormView::OnModelChange(Control* c, Control::Change ch) {
  dirty_ = true;
  if (!hwnd_) return;
  if (c && ch == Control::Change::Hint) {
    SyncHint(*c);
    return;
  }
  if (c && (ch == Control::Change::Caption || ch == Control::Change::Visible || ch == Control::Change::Enabled ||
            ch == Control::Change::Place || ch == Control::Change::Order))
    SyncChildren();
  const bool title = c && (c->Style().parent == "mlTitleBar" || c->Name() == "mlTitleBar");
  Invalidate(title);
}

void FormView::Invalidate(bool frame) {
  if (!hwnd_) return;
  ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | (frame ? RDW_FRAME : 0));
}

void FormView::EnsureScene() {
  if (!sceneBmp_) {
    HDC screen = ::GetDC(nullptr);
    sceneBmp_ = ::CreateCompatibleBitmap(screen, scene_.ClientWidth(), scene_.ClientHeight());
    ::ReleaseDC(nullptr, screen);
    dirty_ = true;
  }
  if (!dirty_) return;
  HDC mem = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(mem, sceneBmp_);
  scene_.PaintClient(mem);
  ::SelectObject(mem, old);
  ::DeleteDC(mem);
  dirty_ = false;
}

void FormView::PaintNonClient() {
  RECT wr;
  ::GetWindowRect(hwnd_, &wr);
  const int w = wr.right - wr.left, h = wr.bottom - wr.top;
  HDC dc = ::GetWindowDC(hwnd_);
  HDC mem = ::CreateCompatibleDC(dc);
  HBITMAP bmp = ::CreateCompatibleBitmap(dc, w, h);
  HGDIOBJ old = ::SelectObject(mem, bmp);
  scene_.PaintTitleBar(mem, w, h);
  const int frame = scene_.Frame(), top = frame + scene_.TitleHeight();
  ::ExcludeClipRect(dc, frame, top, w - frame, h - frame);
  ::BitBlt(dc, 0, 0, w, h, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteObject(bmp);
  ::DeleteDC(mem);
  ::ReleaseDC(hwnd_, dc);
}

void FormView::SetLook(const Control& c, ControlLook look) {
  ControlLook& cur = scene_.looks[&c];
  if (cur.hover == look.hover && cur.pressed == look.pressed && cur.focus == look.focus) return;
  cur = look;
  dirty_ = true;
  if (c.Style().parent == "mlTitleBar") {
    PaintNonClient();
    return;
  }
  auto it = children_.find(&c);
  if (it != children_.end()) ::InvalidateRect(it->second, nullptr, FALSE);
}

Control* FormView::TitleButtonAt(POINT p) const {
  for (Control* c : form_.Children("mlTitleBar")) {
    if (c->Kind() != ControlKind::TitleButton || !c->Visible()) continue;
    RECT r = scene_.Box(*c);
    ::OffsetRect(&r, scene_.Frame(), scene_.Frame() + scene_.TitleHeight());
    if (::PtInRect(&r, p)) return c;
  }
  return nullptr;
}

void FormView::TitleButtonAction(Control& b) {
  if (b.Name() == "btnMin") {
    ::ShowWindow(hwnd_, SW_MINIMIZE);
    return;
  }
  b.Click();
}

HWND FormView::ChildOf(const std::string& name) const {
  Control* c = form_.Find(name);
  auto it = c ? children_.find(c) : children_.end();
  return it == children_.end() ? nullptr : it->second;
}

RECT FormView::ScreenBox(const Control& c) const {
  RECT r = scene_.Box(c);
  POINT o{0, 0};
  ::ClientToScreen(hwnd_, &o);
  ::OffsetRect(&r, o.x, o.y);
  return r;
}

bool FormView::PreTranslate(MSG& msg) {
  if (!hwnd_ || !::IsWindow(hwnd_)) return false;
  if (msg.message == WM_KEYDOWN && onKey && (msg.hwnd == hwnd_ || ::IsChild(hwnd_, msg.hwnd)) && onKey(msg.wParam))
    return true;
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
    auto it = byHwnd_.find(msg.hwnd);
    if (it != byHwnd_.end() && IsButtonKind(it->second->Kind())) {
      ::SendMessageW(msg.hwnd, BM_CLICK, 0, 0);
      return true;
    }
  }
  return ::IsDialogMessageW(hwnd_, &msg) != FALSE;
}

void FormView::RunModal() {
  HWND owner = options_.owner;
  if (owner) ::EnableWindow(owner, FALSE);
  ::ShowWindow(hwnd_, SW_SHOW);
  ::UpdateWindow(hwnd_);
  MSG msg;
  bool quit = false;
  while (::IsWindow(hwnd_)) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      quit = true;
      break;
    }
    if (PreTranslate(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (owner) {
    ::EnableWindow(owner, TRUE);
    ::SetActiveWindow(owner);
  }
  if (quit) ::PostQuitMessage(static_cast<int>(msg.wParam));
}

LRESULT CALLBACK FormView::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  FormView* self = reinterpret_cast<FormView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    self = static_cast<FormView*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  }
  if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);
  return self->Handle(msg, wp, lp);
}

LRESULT FormView::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (dropsMessage && dropsMessage(msg, wp)) return 0;
  // WM_NCDESTROY forgets hwnd_ before the default handling, which still
  // needs the window to free what belongs to it.
  const HWND hwnd = hwnd_;
  // Every message belongs to one group at most, which answers it (true) or,
  // having seen it, leaves it to the default handling.
  LRESULT result = 0;
  if (HandleFrame(msg, wp, lp, result) || HandleTitleButtons(msg, lp, result) || HandleTitlePress(msg, lp, result) ||
      HandleDrawing(msg, lp, result) || HandlePlacement(msg, wp, lp, result) || HandleLife(msg, wp, lp, result))
    return result;
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

bool FormView::HandleFrame(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_NCCALCSIZE: {
      RECT* r = wp ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lp)->rgrc[0] : reinterpret_cast<RECT*>(lp);
      const int frame = scene_.Frame();
      r->left += frame;
      r->right -= frame;
      r->top += frame + scene_.TitleHeight();
      r->bottom -= frame;
      result = 0;
      return true;
    }
    case WM_NCPAINT:
      PaintNonClient();
      result = 0;
      return true;
    case WM_NCACTIVATE:
      PaintNonClient();
      result = TRUE;
      return true;
    case WM_NCHITTEST:
      result = HitTest(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
      return true;
    default:
      return false;
  }
}

LRESULT FormView::HitTest(POINT screen) const {
  RECT wr;
  ::GetWindowRect(hwnd_, &wr);
  const POINT p{screen.x - wr.left, screen.y - wr.top};
  if (p.x < 0 || p.y < 0 || p.x >= wr.right - wr.left || p.y >= wr.bottom - wr.top) return HTNOWHERE;
  if (TitleButtonAt(p)) return HTBORDER;  // pressed and released by us (HandleTitleButtons)
  const int frame = scene_.Frame();
  if (p.y < frame + scene_.TitleHeight()) return p.y < frame ? HTBORDER : HTCAPTION;
  if (p.x < frame || p.x >= wr.right - wr.left - frame || p.y >= wr.bottom - wr.top - frame) return HTBORDER;
  return HTCLIENT;
}

POINT FormView::InWindow(LPARAM screenPt) const {
  RECT wr;
  ::GetWindowRect(hwnd_, &wr);
  return POINT{GET_X_LPARAM(screenPt) - wr.left, GET_Y_LPARAM(screenPt) - wr.top};
}

POINT FormView::ClientToWindow(LPARAM clientPt) const {
  return POINT{GET_X_LPARAM(clientPt) + scene_.Frame(), GET_Y_LPARAM(clientPt) + scene_.Frame() + scene_.TitleHeight()};
}

bool FormView::HandleTitleButtons(UINT msg, LPARAM lp, LRESULT& result) {
  result = 0;
  switch (msg) {
    case WM_NCMOUSEMOVE: {
      Control* over = TitleButtonAt(InWindow(lp));
      if (over != hotTitle_) {
        if (hotTitle_) SetLook(*hotTitle_, {});
        hotTitle_ = over;
        if (over) SetLook(*over, {true, false, false});
      }
      if (!trackingNc_) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE | TME_NONCLIENT, hwnd_, 0};
        trackingNc_ = ::TrackMouseEvent(&t) != FALSE;
      }
      return false;
    }
    case WM_NCMOUSELEAVE:
      trackingNc_ = false;
      if (hotTitle_ && !pressedTitle_) {
        SetLook(*hotTitle_, {});
        hotTitle_ = nullptr;
      }
      return true;
    case WM_NCLBUTTONDOWN:
      if (Control* b = TitleButtonAt(InWindow(lp))) {
        pressedTitle_ = b;
        SetLook(*b, {true, true, false});
        ::SetCapture(hwnd_);
        return true;
      }
      return false;
    default:
      return false;
  }
}

bool FormView::HandleTitlePress(UINT msg, LPARAM lp, LRESULT& result) {
  // While a title button is pressed the mouse is captured: the client
  // area's messages follow it.
  result = 0;
  switch (msg) {
    case WM_MOUSEMOVE: {
      if (!pressedTitle_) return false;
      const bool over = TitleButtonAt(ClientToWindow(lp)) == pressedTitle_;
      SetLook(*pressedTitle_, {over, over, false});
      return true;
    }
    case WM_LBUTTONUP: {
      if (!pressedTitle_) return false;
      Control* b = pressedTitle_;
      pressedTitle_ = nullptr;
      ::ReleaseCapture();
      SetLook(*b, {});
      hotTitle_ = nullptr;
      if (TitleButtonAt(ClientToWindow(lp)) == b) TitleButtonAction(*b);
      return true;
    }
    case WM_CAPTURECHANGED:
      if (pressedTitle_ && reinterpret_cast<HWND>(lp) != hwnd_) {
        SetLook(*pressedTitle_, {});
        pressedTitle_ = nullptr;
      }
      return false;
    default:
      return false;
  }
}

void FormView::CopyScene(HDC to, const RECT& from) {
  EnsureScene();
  HDC mem = ::CreateCompatibleDC(to);
  HGDIOBJ old = ::SelectObject(mem, sceneBmp_);
  ::BitBlt(to, 0, 0, from.right - from.left, from.bottom - from.top, mem, from.left, from.top, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteDC(mem);
}

bool FormView::DrawChild(DRAWITEMSTRUCT& dis) {
  auto it = byHwnd_.find(dis.hwndItem);
  if (it == byHwnd_.end()) return false;
  Control& c = *it->second;
  if (IsButtonKind(c.Kind())) {
    // The button's state as the system sees it, into the picture.
    ControlLook look = scene_.looks[&c];
    look.pressed = (dis.itemState & ODS_SELECTED) != 0;
    look.focus = (dis.itemState & ODS_FOCUS) != 0 && !(dis.itemState & ODS_NOFOCUSRECT);
    ControlLook& cur = scene_.looks[&c];
    if (cur.pressed != look.pressed || cur.focus != look.focus) {
      cur = look;
      dirty_ = true;
    }
  }
  RECT r;
  ::GetWindowRect(dis.hwndItem, &r);
  ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
  CopyScene(dis.hDC, r);
  return true;
}

bool FormView::HandleDrawing(UINT msg, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(hwnd_, &ps);
      CopyScene(dc, RECT{0, 0, scene_.ClientWidth(), scene_.ClientHeight()});
      ::EndPaint(hwnd_, &ps);
      result = 0;
      return true;
    }
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      if (dis->CtlType == ODT_MENU) {
        result = drawMenu && drawMenu(dis) ? TRUE : FALSE;
        return true;
      }
      if (!DrawChild(*dis)) return false;
      result = TRUE;
      return true;
    }
    case WM_MEASUREITEM: {
      auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
      if (mis->CtlType != ODT_MENU || !measureMenu || !measureMenu(mis)) return false;
      result = TRUE;
      return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      result = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
      return true;
    default:
      return false;
  }
}

bool FormView::HandlePlacement(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_GETDPISCALEDSIZE: {
      // The window's size at the new DPI is not its size multiplied: the
      // frame stays whole pixels.
      const int now = scene_.Dpi();
      scene_.SetDpi(LOWORD(wp));
      *reinterpret_cast<SIZE*>(lp) = scene_.WindowSize();
      scene_.SetDpi(now);
      result = TRUE;
      return true;
    }
    case WM_DPICHANGED:
      ChangeDpi(LOWORD(wp), reinterpret_cast<const RECT*>(lp));
      result = 0;
      return true;
    case WM_WINDOWPOSCHANGING: {
      auto* wpos = reinterpret_cast<WINDOWPOS*>(lp);
      if (canResize && !rescaling_ && !(wpos->flags & SWP_NOSIZE)) {
        RECT wr;
        ::GetWindowRect(hwnd_, &wr);
        if ((wpos->cx != wr.right - wr.left || wpos->cy != wr.bottom - wr.top) && !canResize(wpos->cx, wpos->cy))
          wpos->flags |= SWP_NOSIZE;
      }
      return false;
    }
    case WM_MOVE:
    case WM_SIZE:  // also minimising and restoring: the balloons follow
      if (onMoved) onMoved();
      return false;
    default:
      return false;
  }
}

bool FormView::HandleLife(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  result = 0;
  switch (msg) {
    case WM_COMMAND: {
      auto it = byHwnd_.find(reinterpret_cast<HWND>(lp));
      if (it == byHwnd_.end() || (HIWORD(wp) != BN_CLICKED && HIWORD(wp) != STN_CLICKED)) return false;
      it->second->Click();
      return true;
    }
    case WM_TIMER:
      if (wp != kPumpTimer) return false;
      if (onPump) onPump();
      return true;
    case kRunUiTasks:
      if (onRunTasks) onRunTasks();
      return true;
    case WM_ACTIVATE:
      result = ::DefWindowProcW(hwnd_, msg, wp, lp);
      if (onActivate) onActivate(wp);
      return true;
    case WM_CLOSE:
      if (onClose) onClose();
      ::DestroyWindow(hwnd_);
      return true;
    case WM_DESTROY:
      ::KillTimer(hwnd_, kPumpTimer);
      if (onDestroy) onDestroy();
      if (options_.quitOnDestroy) ::PostQuitMessage(0);
      return true;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      return false;
    default:
      return false;
  }
}

LRESULT CALLBACK FormView::ChildProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = static_cast<FormView*>(::GetPropW(h, L"CorvaneView"));
  auto it = self ? self->byHwnd_.find(h) : decltype(self->byHwnd_)::iterator{};
  if (!self || it == self->byHwnd_.end()) return ::DefWindowProcW(h, msg, wp, lp);
  return self->HandleChild(h, *it->second, msg, wp, lp);
}

LRESULT FormView::HandleChild(HWND h, Control& c, UINT msg, WPARAM wp, LPARAM lp) {
  WNDPROC old = oldProcs_[h];
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEMOVE: {
      ControlLook look = scene_.looks[&c];
      if (!look.hover) {
        look.hover = true;
        SetLook(c, look);
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, h, 0};
        ::TrackMouseEvent(&t);
      }
      break;
    }
    case WM_MOUSELEAVE: {
      ControlLook look = scene_.looks[&c];
      look.hover = false;
      SetLook(c, look);
      break;
    }
    case WM_SETCURSOR:
      if (c.Style().handCursor) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_LBUTTONDBLCLK:
      // A quick second click is a second press, not a double click.
      msg = WM_LBUTTONDOWN;
      break;
    case WM_NCDESTROY:
      ::RemovePropW(h, L"CorvaneView");
      byHwnd_.erase(h);
      oldProcs_.erase(h);
      ::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
      return ::CallWindowProcW(old, h, msg, wp, lp);
    default:
      break;
  }
  return ::CallWindowProcW(old, h, msg, wp, lp);
}

}  // namespace corvane::view
