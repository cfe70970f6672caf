// The real windows under Wine: class names and captions, the client area,
// the message rules, activation and the tips, the about window's fixed size
// and version, and the keyboard on the backup panel. Every length is checked
// at the display's scale (the suite runs at 96, 144 and 192 DPI), and a
// window moved to a display of another scale is drawn anew at that scale.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/text.h"
#include "shell/startup.h"
#include "shell/win32/dpi.h"
#include "shell/win32/gdi_kit.h"
#include "shell/win32/main_window.h"
#include "shell/win32/message_box.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace corvane::view {
namespace {

BOOL CALLBACK FindVersionLabel(HWND h, LPARAM lp) {
  wchar_t t[128];
  ::GetWindowTextW(h, t, 128);
  if (Narrow(t) == "当前版本：3.3.30.180") *reinterpret_cast<bool*>(lp) = true;
  return TRUE;
}

void PumpMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// The scale the suite was started at (tests/wine/at-dpi), else 96.
int AskedDpi() {
  const char* v = std::getenv("CORVANE_WINE_DPI");
  return v && *v ? std::atoi(v) : kLayoutDpi;
}

TEST(Display, TheWindowsTakeTheScaleOfTheDisplay) {
  // Otherwise the suite at 144 or 192 DPI would quietly run at 96.
  EXPECT_EQ(SystemDpi(), AskedDpi());
}

class MainView : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window.Create(false));
    window.Show(SW_SHOW);
    PumpMessages();
    hwnd = window.View().Hwnd();
    dpi = window.View().Dpi();
  }
  RECT WindowRectNow() {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    return r;
  }
  // A control's child window in client coordinates.
  RECT ChildRect(const char* name) {
    RECT r{};
    ::GetWindowRect(window.View().ChildOf(name), &r);
    ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  int Px(int v) const { return view::Px(v, dpi); }
  MainWindow window;
  HWND hwnd = nullptr;
  int dpi = kLayoutDpi;
};

TEST_F(MainView, FoundByClassAndCaptionWithItsClientArea) {
  EXPECT_EQ(dpi, WindowDpi(hwnd));
  EXPECT_EQ(dpi, AskedDpi());
  EXPECT_EQ(::FindWindowW(L"TFrm_Main", Widen(kAppTitle).c_str()), hwnd);
  RECT c;
  ::GetClientRect(hwnd, &c);
  EXPECT_EQ(c.right, Px(350));
  EXPECT_EQ(c.bottom, Px(330));
  const RECT w = WindowRectNow();
  // The skin's title bar and a frame of whole pixels.
  EXPECT_EQ(w.bottom - w.top, Px(330) + Px(30) + 2 * Hairline(dpi));
  EXPECT_EQ(w.right - w.left, Px(350) + 2 * Hairline(dpi));
  EXPECT_TRUE(::GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
}

TEST_F(MainView, ControlsArePlacedAtTheDisplaysScale) {
  TFrm_Main& f = window.Frm();
  const RECT start = ChildRect("btnStart");
  EXPECT_EQ(start.left, Px(113));
  EXPECT_EQ(start.top, Px(199));
  EXPECT_EQ(start.right, Px(113 + 124));
  EXPECT_EQ(start.bottom, Px(199 + 38));
  // A click in the middle of the layout's button reaches it.
  EXPECT_EQ(::ChildWindowFromPoint(hwnd, POINT{Px(175), Px(218)}), window.View().ChildOf("btnStart"));
  // The model keeps its layout; only the view multiplies.
  EXPECT_EQ(f.btnStart.Left(), 113);
  f.form.BringToFront(f.PnlDownload);
  f.btnCancel.SetLeft(141);
  EXPECT_EQ(ChildRect("btnCancel").left, Px(141));
  EXPECT_EQ(ChildRect("btnCancel").right, Px(141 + 69));
  // Fixed labels keep their scaled width; labels sized to their text are at
  // least one line of the scaled font high.
  const RECT info = ChildRect("lblDownLoadInfo");
  EXPECT_EQ(info.left, Px(23));
  EXPECT_EQ(info.right, Px(23 + 305));
  const RECT auto_ = ChildRect("lbl_PnlFoot_Title1");
  EXPECT_EQ(auto_.left, Px(54));
  EXPECT_GE(auto_.bottom - auto_.top, Px(12));
}

TEST_F(MainView, FollowsTheWindowToADisplayOfAnotherScale) {
  TFrm_Main& f = window.Frm();
  const int start = dpi;
  for (const int to : {192, 120, start}) {
    SIZE asked{};
    ASSERT_TRUE(::SendMessageW(hwnd, WM_GETDPISCALEDSIZE, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&asked)));
    // The system suggests where the window goes on the other display.
    RECT suggested{40, 30, 40 + asked.cx, 30 + asked.cy};
    ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    PumpMessages();
    dpi = to;
    EXPECT_EQ(window.View().Dpi(), to);
    RECT c;
    ::GetClientRect(hwnd, &c);
    EXPECT_EQ(c.right, Px(350)) << to;
    EXPECT_EQ(c.bottom, Px(330)) << to;
    const RECT w = WindowRectNow();
    EXPECT_EQ(w.left, 40);
    EXPECT_EQ(w.top, 30);
    EXPECT_EQ(w.right - w.left, asked.cx);
    EXPECT_EQ(w.bottom - w.top, asked.cy);
    EXPECT_EQ(ChildRect("btnStart").left, Px(113)) << to;
    EXPECT_EQ(ChildRect("btnStart").bottom, Px(199 + 38)) << to;
    // The title bar's caption and buttons at the new scale.
    EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + Px(150), w.top + Px(15))), HTCAPTION);
    EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.right - Px(25), w.top + Px(10))), HTBORDER);
    EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + Px(150), w.top + Px(40))), HTCLIENT);
  }
  EXPECT_EQ(f.btnStart.Left(), 113);
  EXPECT_EQ(f.form.ClientWidth(), 350);
}

// The handlers place the menu by the layout: window left + width - 95,
// top + 19; its owner-drawn items are measured at the window's scale.
TEST_F(MainView, TheMenuOpensUnderItsButtonAtTheDisplaysScale) {
  RECT menu{};
  std::thread closer([&menu] {
    for (int i = 0; i < 200; ++i) {
      if (HWND m = ::FindWindowW(L"#32768", nullptr); m && ::IsWindowVisible(m)) {
        ::GetWindowRect(m, &menu);
        ::PostMessageW(m, WM_KEYDOWN, VK_ESCAPE, 0);
        return;
      }
      ::Sleep(25);
    }
  });
  window.Frm().btnMenuClick();  // returns when the menu closes
  closer.join();
  const RECT w = WindowRectNow();
  EXPECT_NEAR(menu.left, w.right - Px(95), 1 + Hairline(dpi));
  EXPECT_NEAR(menu.top, w.top + Px(19), 1);
  // Four items and a separator.
  EXPECT_GE(menu.bottom - menu.top, 4 * Px(26) + Px(7));
  EXPECT_GE(menu.right - menu.left, Px(90));
}

TEST_F(MainView, NeverMaximisedNorResizedByTheTitleBar) {
  const RECT before = WindowRectNow();
  ::SendMessageW(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  ::SendMessageW(hwnd, WM_NCLBUTTONDBLCLK, HTCAPTION, MAKELPARAM(before.left + 100, before.top + 10));
  PumpMessages();
  const RECT after = WindowRectNow();
  EXPECT_FALSE(::IsZoomed(hwnd));
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
}

TEST_F(MainView, TheTitleBarIsACaptionAndItsButtonsAreNot) {
  const RECT w = WindowRectNow();
  EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + Px(150), w.top + Px(15))), HTCAPTION);
  // Close, minimise and menu, 39, 67 and 95 pixels left of the right edge.
  for (int left : {39, 67, 95})
    EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.right - Px(left - 14), w.top + Px(10))), HTBORDER)
        << left;
  EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.right - Px(110), w.top + Px(10))), HTCAPTION);
  EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + Px(150), w.top + Px(150))), HTCLIENT);
}

TEST_F(MainView, DeactivationHidesTheTipsAndMinimisingDoesNot) {
  TFrm_Main& f = window.Frm();
  f.ShowTips("notice", "", f.PnlHome, 0);
  PumpMessages();
  ::SendMessageW(hwnd, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0);  // minimised
  EXPECT_EQ(f.TipsInfo.DisplayTime(), 0);
  ::SendMessageW(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_EQ(f.TipsInfo.DisplayTime(), 1);
  // The balloon window goes after its fade.
  for (int i = 0; i < 40 && !f.TipsInfo.Showing().empty(); ++i) {
    ::Sleep(50);
    PumpMessages();
  }
  EXPECT_TRUE(f.TipsInfo.Showing().empty());
  EXPECT_FALSE(::FindWindowW(L"CorvaneTip", nullptr));
}

TEST_F(MainView, ControlsAreChildWindowsThatFollowTheFrontPanel) {
  TFrm_Main& f = window.Frm();
  HWND start = window.View().ChildOf("btnStart");
  HWND startBak = window.View().ChildOf("btnStartBak");
  ASSERT_TRUE(start && startBak);
  EXPECT_TRUE(::IsWindowVisible(start));
  EXPECT_FALSE(::IsWindowVisible(startBak));
  f.form.BringToFront(f.PnlBackup);
  EXPECT_FALSE(::IsWindowVisible(start));
  EXPECT_TRUE(::IsWindowVisible(startBak));
  wchar_t text[64];
  ::GetWindowTextW(startBak, text, 64);
  EXPECT_EQ(Narrow(text), "开始备份");  // what a screen reader reads
  f.btnStartBak.SetCaption("开始备份(7)");
  ::GetWindowTextW(startBak, text, 64);
  EXPECT_EQ(Narrow(text), "开始备份(7)");
}

TEST_F(MainView, BackupPanelTabOrderAndKeys) {
  TFrm_Main& f = window.Frm();
  f.form.BringToFront(f.PnlBackup);
  FormView& v = window.View();
  HWND h = v.ChildOf("chkBakMyDoc");
  ::SetFocus(h);
  std::vector<std::string> order{"chkBakMyDoc"};
  for (int i = 0; i < 4; ++i) {
    h = ::GetNextDlgTabItem(hwnd, h, FALSE);
    for (auto* name : {"chkBakMyDoc", "chkBakDesktop", "chkBakIEFav", "chkBakADSL", "btnStartBak", "swBtnAuto"})
      if (v.ChildOf(name) == h) order.push_back(name);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"chkBakMyDoc", "chkBakDesktop", "chkBakIEFav", "chkBakADSL", "btnStartBak"}));

  // Space presses the focused check box.
  HWND desk = v.ChildOf("chkBakDesktop");
  ::SetFocus(desk);
  ::SendMessageW(desk, WM_KEYDOWN, VK_SPACE, 0);
  ::SendMessageW(desk, WM_KEYUP, VK_SPACE, 0xC0000000);
  PumpMessages();
  EXPECT_TRUE(f.chkBakDesktop.Checked());

  // Enter presses the focused button.
  HWND bak = v.ChildOf("btnStartBak");
  ::SetFocus(bak);
  MSG enter{bak, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  EXPECT_TRUE(v.PreTranslate(enter));
  EXPECT_EQ(f.vStep, TStep::Download);  // the backup started and disarmed the auto mode
  for (int i = 0; i < 12000 && f.LiveWorkers() > 0; ++i) ::Sleep(5);
}

TEST_F(MainView, HintsOfTheDownloadPanelAreTooltips) {
  TFrm_Main& f = window.Frm();
  f.form.BringToFront(f.PnlDownload);
  f.pbDownLoad.SetHint("当前进度：50.00%");
  HWND bar = window.View().ChildOf("pbDownLoad");
  wchar_t text[256] = {};
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.hwnd = hwnd;
  ti.uId = reinterpret_cast<UINT_PTR>(bar);
  ti.lpszText = text;
  ::SendMessageW(window.View().Tooltip(), TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&ti));
  EXPECT_EQ(Narrow(text), "当前进度：50.00%");
}

TEST(MessageBoxView, ModalOnTopAndClosedByEscape) {
  std::thread closer([] {
    for (int i = 0; i < 200; ++i) {
      if (HWND box = ::FindWindowW(L"TMlSkinMessage", L"在线升级")) {
        EXPECT_TRUE(::GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST);
        ::PostMessageW(box, WM_KEYDOWN, VK_ESCAPE, 0);
        return;
      }
      ::Sleep(25);
    }
  });
  SkinnedMessageBox(nullptr, "在线升级", "恭喜你，当前已经是最新版本！", FormHost::MsgIcon::Success);
  closer.join();
  EXPECT_FALSE(::FindWindowW(L"TMlSkinMessage", nullptr));
}

TEST(AboutView, FixedSizeCaptionClassAndVersion) {
  ShowAbout(nullptr, false);
  HWND about = ::FindWindowW(L"TFrm_About", L"关于我们");
  ASSERT_TRUE(about);
  const int dpi = WindowDpi(about);
  RECT before;
  ::GetWindowRect(about, &before);
  RECT c;
  ::GetClientRect(about, &c);
  EXPECT_EQ(c.right, Px(380, dpi));
  EXPECT_EQ(c.bottom, Px(235, dpi));
  ::SetWindowPos(about, nullptr, 0, 0, 600, 500, SWP_NOMOVE | SWP_NOZORDER);
  ::SendMessageW(about, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  RECT after;
  ::GetWindowRect(about, &after);
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
  // The version label is a child window with the text of the version resource.
  bool found = false;
  ::EnumChildWindows(about, FindVersionLabel, reinterpret_cast<LPARAM>(&found));
  EXPECT_TRUE(found);
  // It refuses every resize, but not the one to a display of another scale.
  RECT suggested{before.left, before.top, before.right, before.bottom};
  ::SendMessageW(about, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  ::GetClientRect(about, &c);
  EXPECT_EQ(c.right, Px(380, 192));
  EXPECT_EQ(c.bottom, Px(235, 192));
  ::DestroyWindow(about);
}

// The pixels of a picture as loaded.
std::vector<unsigned char> Pixels(const Picture& p) {
  DIBSECTION ds{};
  if (::GetObjectW(p.bitmap, sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits) return {};
  const auto* bits = static_cast<const unsigned char*>(ds.dsBm.bmBits);
  return std::vector<unsigned char>(bits, bits + static_cast<size_t>(ds.dsBm.bmWidthBytes) * ds.dsBm.bmHeight);
}

TEST(Pictures, DrawnForTheScaleNeverEnlarged) {
  StartGdiPlus();
  // At 150 and 200 % the picture drawn for that scale, pixel for pixel.
  for (const auto& [dpi, drawn] : {std::pair{144, "OK_150"}, std::pair{192, "OK_200"}}) {
    const Picture* p = LoadPicture("OK", dpi);
    const Picture* own = LoadPicture(drawn, kLayoutDpi);
    ASSERT_TRUE(p && own);
    EXPECT_EQ(p->width, Px(40, dpi));
    EXPECT_EQ(p->height, Px(40, dpi));
    EXPECT_EQ(Pixels(*p), Pixels(*own)) << dpi;
  }
  // An odd size at 150 %: half pixels round up, as the artwork does.
  const Picture* pass = LoadPicture("PASS", 144);
  ASSERT_TRUE(pass);
  EXPECT_EQ(pass->width, 29);
  EXPECT_EQ(pass->height, 23);
  // Between the drawn scales the next larger picture is reduced; a strip
  // keeps cells of equal whole widths.
  const Picture* box = LoadPicture("CheckBox", 120, 4);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->width, 4 * Px(14, 120));
  EXPECT_EQ(box->height, Px(14, 120));
  const Picture* sw = LoadPicture("SwitchOn", 168, 3);
  ASSERT_TRUE(sw);
  EXPECT_EQ(sw->width, 3 * Px(34, 168));
  EXPECT_EQ(sw->height, Px(18, 168));
  EXPECT_FALSE(LoadPicture("NoSuchPicture", 144));
}

}  // namespace
}  // namespace corvane::view
