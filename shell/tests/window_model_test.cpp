// The window model: the first state, the message rules, the tips.
#include "shell/F_About.h"
#include "shell/startup.h"
#include "shell/tests/window_fixture.h"
#include "shell/window_rules.h"

namespace corvane::test {
namespace {

using MainWindow = WindowTest;

TEST_F(MainWindow, ClassCaptionAndGeometry) {
  EXPECT_EQ(frm.form.Caption(), "QuilloWin10升级助理");
  EXPECT_EQ(std::string(kMainClassName), "TFrm_Main");
  EXPECT_EQ(frm.form.ClientWidth(), 350);
  EXPECT_EQ(frm.form.ClientHeight(), 330);
  EXPECT_EQ(frm.mlTitle.Caption(), "QuilloWin10升级助理 3.3");
  int stacked = 0;
  for (auto& c : frm.form.Controls()) {
    if (!c->Style().stacked) continue;
    ++stacked;
    EXPECT_EQ(c->Left(), 0);
    EXPECT_EQ(c->Top(), 0);
    EXPECT_EQ(c->Width(), 350);
    EXPECT_EQ(c->Height(), 300);
  }
  EXPECT_EQ(stacked, 8);
  EXPECT_EQ(frm.PnlFoot.Top(), 300);
  // The title-bar buttons: 39, 67 and 95 pixels left of the right edge.
  EXPECT_EQ(350 - frm.btnClose.Left(), 39);
  EXPECT_EQ(350 - frm.btnMin.Left(), 67);
  EXPECT_EQ(350 - frm.btnMenu.Left(), 95);
}

TEST_F(MainWindow, BackupPanelTabOrder) {
  std::vector<std::string> order;
  for (Control* c : frm.form.Children("PnlBackup"))
    if (c->Style().tabStop) order.push_back(c->Name());
  EXPECT_EQ(order, (std::vector<std::string>{"chkBakMyDoc", "chkBakDesktop", "chkBakIEFav", "chkBakADSL", "btnStartBak"}));
}

TEST_F(MainWindow, MessageRulesDropDoubleClickAndMaximise) {
  EXPECT_TRUE(frm.WndProc(kWmNcLButtonDblClk, 2));
  EXPECT_TRUE(frm.WndProc(kWmSysCommand, kScMaximize));
  EXPECT_FALSE(frm.WndProc(kWmSysCommand, kScMaximize + 2));  // exactly SC_MAXIMIZE only
  EXPECT_FALSE(frm.WndProc(kWmSysCommand, kScRestore));
  TFrm_About about;
  EXPECT_TRUE(about.WndProc(kWmNcLButtonDblClk, 2));
  EXPECT_TRUE(about.WndProc(kWmSysCommand, kScMaximize));
  EXPECT_FALSE(about.FormCanResize(500, 300));
}

TEST_F(MainWindow, DeactivationHidesTipsAndMinimisingDoesNot) {
  frm.ShowTips("a", "", frm.PnlHome, 0);
  frm.WMActivate(0x00200000);  // WA_INACTIVE with the minimised flag
  Seconds(2);
  EXPECT_EQ(frm.TipsInfo.Showing().size(), 1u);
  frm.WMActivate(0);
  Advance(250);
  ASSERT_EQ(frm.TipsInfo.Showing().size(), 1u);  // fading out over 500 ms
  EXPECT_LT(TipsModel::Alpha(frm.TipsInfo.Showing()[0], clock.NowMs()), 255);
  Advance(300);
  EXPECT_TRUE(frm.TipsInfo.Showing().empty());
}

TEST(AboutWindow, CaptionAndVersion) {
  TFrm_About about;
  about.FormCreate();
  EXPECT_EQ(about.form.Caption(), "关于我们");
  EXPECT_EQ(about.form.ClientWidth(), 380);
  EXPECT_EQ(about.form.ClientHeight(), 235);
  EXPECT_EQ(about.lblAboutVersion.Caption(), "当前版本：3.3.30.180");
  std::string opened;
  about.shellOpen = [&](const std::string& s) { opened = s; };
  about.lblWebsite.Click();
  EXPECT_EQ(opened, CORVANE_HOMEPAGE);
}

}  // namespace
}  // namespace corvane::test
