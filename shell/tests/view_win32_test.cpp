// The real windows under Wine: class names and captions, the client area,
// the message rules, activation and the tips, the about window's fixed size
// and version, and the keyboard on the backup panel.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "shell/startup.h"

#include "shell/win32/main_window.h"
#include "shell/win32/message_box.h"

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

class MainView : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window.Create(false));
    window.Show(SW_SHOW);
    PumpMessages();
    hwnd = window.View().Hwnd();
  }
  RECT WindowRectNow() {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    return r;
  }
  MainWindow window;
  HWND hwnd = nullptr;
};

TEST_F(MainView, FoundByClassAndCaptionWithItsClientArea) {
  EXPECT_EQ(::FindWindowW(L"TFrm_Main", Widen(kAppTitle).c_str()), hwnd);
  RECT c;
  ::GetClientRect(hwnd, &c);
  EXPECT_EQ(c.right, 350);
  EXPECT_EQ(c.bottom, 330);
  const RECT w = WindowRectNow();
  EXPECT_EQ(w.bottom - w.top, 330 + 30 + 2);  // the skin's title bar and frame
  EXPECT_TRUE(::GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
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
  EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + 150, w.top + 15)), HTCAPTION);
  EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.right - 25, w.top + 10)), HTBORDER);
  EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + 150, w.top + 150)), HTCLIENT);
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

// Records what the window asks of the shell's taskbar interface.
class FakeTaskbarList final : public ITaskbarList3 {
 public:
  std::vector<std::string> calls;
  HWND hwnd = nullptr;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND h, ULONGLONG done, ULONGLONG total) override {
    hwnd = h;
    calls.push_back("value " + std::to_string(done) + "/" + std::to_string(total));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND h, TBPFLAG flags) override {
    hwnd = h;
    calls.push_back("state " + std::to_string(static_cast<int>(flags)));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }

 private:
  ULONG refs_ = 1;
};

// The stage's taskbar states reach the shell as its progress flags, with a
// value where the state has one; the shell making the button again (after
// a restart of the shell) brings the last state back.
TEST_F(MainView, TaskbarProgressReachesTheShellsInterface) {
  using S = FormHost::TaskbarState;
  FakeTaskbarList fake;
  window.Taskbar()->UseList(&fake);
  FormHost& host = window;
  host.SetTaskbarProgress(S::Indeterminate, 0, 10000);
  host.SetTaskbarProgress(S::Normal, 2500, 10000);
  host.SetTaskbarProgress(S::Paused, 2500, 10000);
  host.SetTaskbarProgress(S::Error, 10000, 10000);
  host.SetTaskbarProgress(S::Normal, 7000, 5000);  // held at the end
  host.SetTaskbarProgress(S::None, 0, 0);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"state 1", "state 2", "value 2500/10000", "state 8",
                                                   "value 2500/10000", "state 4", "value 10000/10000", "state 2",
                                                   "value 5000/5000", "state 0"}));
  EXPECT_EQ(fake.hwnd, hwnd);
  host.SetTaskbarProgress(S::Paused, 40, 100);
  fake.calls.clear();
  ::SendMessageW(hwnd, ::RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"state 8", "value 40/100"}));
  window.Taskbar()->UseList(nullptr);
}

// Wine's shell: the interface is asked for on first use; with or without
// it nothing fails.
TEST_F(MainView, TaskbarProgressWithTheShellOfTheSystem) {
  FormHost& host = window;
  host.SetTaskbarProgress(FormHost::TaskbarState::Normal, 1, 2);
  host.SetTaskbarProgress(FormHost::TaskbarState::None, 0, 0);
  PumpMessages();
  EXPECT_TRUE(::IsWindow(hwnd));
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
  RECT before;
  ::GetWindowRect(about, &before);
  RECT c;
  ::GetClientRect(about, &c);
  EXPECT_EQ(c.right, 380);
  EXPECT_EQ(c.bottom, 235);
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
  ::DestroyWindow(about);
}

}  // namespace
}  // namespace corvane::view
