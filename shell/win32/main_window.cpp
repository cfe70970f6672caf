#include "shell/win32/main_window.h"

#include <shellapi.h>

#include "common/text.h"
#include "shell/startup.h"
#include "shell/win32/dpi.h"
#include "shell/win32/gdi_kit.h"
#include "shell/win32/message_box.h"

namespace corvane::view {

namespace {
constexpr UINT kFirstMenuId = 1;
const Font kMenuFont{"Tahoma", 11};
constexpr Colour kMenuHighlight = 0x229EED;
}  // namespace

MainWindow::MainWindow() {
  frm_ = new TFrm_Main(ui_, SystemClock(), *this);
  SetMainUi(&ui_);
  FormView::Options o;
  o.className = Widen(kMainClassName);
  o.appWindow = true;
  o.quitOnDestroy = true;
  o.pump = true;
  view_ = std::make_unique<FormView>(frm_->form, o);
  tips_ = std::make_unique<TipsView>(frm_->TipsInfo, *view_, [] { return SystemClock().NowMs(); });
  frm_->TipsInfo.OnChange = [this] { tips_->Sync(); };
}

MainWindow::~MainWindow() {
  frm_->TipsInfo.OnChange = nullptr;
  ui_.Shutdown();
  if (MainUi() == &ui_) SetMainUi(nullptr);
}

bool MainWindow::Create(bool runFormCreate) {
  FormView& v = *view_;
  v.dropsMessage = [this](UINT msg, WPARAM wp) { return frm_->WndProc(msg, wp); };
  v.onActivate = [this](WPARAM wp) { frm_->WMActivate(wp); };
  v.onClose = [this] { frm_->FormClose(); };
  v.onDestroy = [this] {
    frm_->FormDestroy();
    // Workers waiting for a hand-over are released; nothing runs after this.
    ui_.Shutdown();
  };
  v.onPump = [this] { frm_->Pump(); };
  v.onRunTasks = [this] { ui_.RunPending(); };
  v.onMoved = [this] { tips_->Sync(); };
  v.measureMenu = [this](MEASUREITEMSTRUCT* m) { return MeasureMenu(m); };
  v.drawMenu = [this](DRAWITEMSTRUCT* d) { return DrawMenu(d); };
  if (!v.Create()) return false;
  HWND hwnd = v.Hwnd();
  ui_.Wake = [hwnd] { ::PostMessageW(hwnd, kRunUiTasks, 0, 0); };
  if (runFormCreate)
    frm_->FormCreate();
  else
    frm_->form.BringToFront(frm_->PnlHome);
  return true;
}

void MainWindow::Show(int cmd) {
  ::ShowWindow(view_->Hwnd(), cmd);
  ::UpdateWindow(view_->Hwnd());
}

int MainWindow::Run() {
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (view_->PreTranslate(msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}

void MainWindow::ShellOpen(const std::string& target) {
  ::ShellExecuteW(view_->Hwnd(), L"open", Widen(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// Posted, so that the handler that asked for it returns before the window goes.
void MainWindow::CloseMainWindow() { ::PostMessageW(view_->Hwnd(), WM_CLOSE, 0, 0); }

// The handlers place things by the layout's pixels: the window's corner is
// where it is on the screen, its size and every offset from the corner are
// in layout pixels, multiplied here again.
FormHost::Rect MainWindow::WindowRect() {
  RECT r{};
  ::GetWindowRect(view_->Hwnd(), &r);
  const int dpi = view_->Dpi();
  return Rect{r.left, r.top, Unpx(r.right - r.left, dpi), Unpx(r.bottom - r.top, dpi)};
}

void MainWindow::PopupMenu(int layoutX, int layoutY) {
  RECT r{};
  ::GetWindowRect(view_->Hwnd(), &r);
  const int x = r.left + view_->Px(layoutX - r.left), y = r.top + view_->Px(layoutY - r.top);
  HMENU menu = ::CreatePopupMenu();
  const auto& items = frm_->PopMenus;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].Separator())
      ::AppendMenuW(menu, MF_SEPARATOR | MF_OWNERDRAW, 0, nullptr);
    else
      ::AppendMenuW(menu, MF_OWNERDRAW, kFirstMenuId + i, reinterpret_cast<LPCWSTR>(i));
  }
  const UINT cmd = ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_NONOTIFY, x, y, 0,
                                    view_->Hwnd(), nullptr);
  ::DestroyMenu(menu);
  if (cmd >= kFirstMenuId && cmd < kFirstMenuId + items.size() && items[cmd - kFirstMenuId].onClick)
    items[cmd - kFirstMenuId].onClick();
}

// The menu's items at the window's DPI.
bool MainWindow::MeasureMenu(MEASUREITEMSTRUCT* mis) {
  const FormView& v = *view_;
  if (mis->itemID == 0) {  // the separator
    mis->itemWidth = v.Px(90);
    mis->itemHeight = v.Px(7);
    return true;
  }
  const auto& item = frm_->PopMenus.at(mis->itemData);
  const SIZE sz = MeasureText(Widen(item.caption), AtDpi(kMenuFont, v.Dpi()));
  mis->itemWidth = std::max<int>(sz.cx + v.Px(36), v.Px(90));
  mis->itemHeight = v.Px(26);
  return true;
}

bool MainWindow::DrawMenu(DRAWITEMSTRUCT* dis) {
  const FormView& v = *view_;
  const RECT r = dis->rcItem;
  const bool hot = (dis->itemState & ODS_SELECTED) != 0;
  FillRect(dis->hDC, r, hot ? kMenuHighlight : 0xFFFFFF);
  if (dis->itemID == 0) {
    const int hair = Hairline(v.Dpi()), y = (r.top + r.bottom - hair) / 2;
    FillRect(dis->hDC, RECT{r.left + v.Px(8), y, r.right - v.Px(8), y + hair}, 0xDCE6EF);
    return true;
  }
  const auto& item = frm_->PopMenus.at(dis->itemData);
  RECT t{r.left + v.Px(18), r.top, r.right - v.Px(8), r.bottom};
  Text(dis->hDC, Widen(item.caption), AtDpi(kMenuFont, v.Dpi()), hot ? 0xFFFFFF : 0x333333, t,
       DT_SINGLELINE | DT_VCENTER);
  return true;
}

void MainWindow::ShowAboutModal() { ShowAbout(view_->Hwnd(), true); }

void MainWindow::MessageBox(const std::string& caption, const std::string& text, MsgIcon icon) {
  SkinnedMessageBox(view_->Hwnd(), caption, text, icon);
}

void ShowAbout(HWND owner, bool modal) {
  // Created by the menu with the main window as owner, destroyed when it
  // closes (modal) or with the process (gallery).
  static TFrm_About* galleryAbout = nullptr;
  auto about = std::make_unique<TFrm_About>();
  FormView::Options o;
  o.className = L"TFrm_About";
  o.owner = owner;
  o.centreOnOwner = owner != nullptr;
  auto view = std::make_unique<FormView>(about->form, o);
  FormView* v = view.get();
  v->dropsMessage = [a = about.get()](UINT msg, WPARAM wp) { return a->WndProc(msg, wp); };
  v->canResize = [a = about.get()](int w, int h) { return a->FormCanResize(w, h); };
  about->close = [v] { ::PostMessageW(v->Hwnd(), WM_CLOSE, 0, 0); };
  about->shellOpen = [v](const std::string& s) {
    ::ShellExecuteW(v->Hwnd(), L"open", Widen(s).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  };
  if (!v->Create()) return;
  about->FormCreate();
  if (modal) {
    v->RunModal();
    return;  // view and model go here
  }
  ::ShowWindow(v->Hwnd(), SW_SHOW);
  galleryAbout = about.release();
  view.release();
}

}  // namespace corvane::view
