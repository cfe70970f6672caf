#include "shell/F_About.h"

#include "platform/session.h"
#include "window/layout_kit.h"
#include "shell/window_rules.h"

namespace corvane {

using namespace layout;

void BuildAboutLayout(Form& f) {
  f.background = kTitleBlue;
  f.font = Font{"Tahoma", 11};
  f.Add("mlTitleBar", Panel("", 380, 30).Fill(kTitleBlue), 0, -30);
  f.Add("mlTitle", LabelOf("mlTitleBar", Font{"Tahoma", 11}).Colour(0xFFFFFF), 8, 8, "关于我们");
  f.Add("btnClose", TitleButtonOf("mlTitleBar"), 380 - 39, -1).SetPicture("TitleClose");
  f.Add("MlSkinPanel1", Panel("", 380, 73).Transparent(), 0, 0);
  f.Add("Image1", PictureOf("MlSkinPanel1", 57, 49), 22, 4).SetPicture("HomeLogo");
  f.Add("MlSkinLabel1", LabelOf("MlSkinPanel1", Font{"Tahoma", 21}).Colour(0xFFFFFF), 85, 23, "QuilloWin10升级助理");
  f.Add("MlSkinPanel2", Panel("", 380, 162).Fill(kPanelLight), 0, 73);
  f.Add("lblAboutVersion", LabelOf("MlSkinPanel2", Font{"Tahoma", 11}), 22, 16, "当前版本：");
  f.Add("MlSkinLabel3", LabelOf("MlSkinPanel2", Font{"Tahoma", 11}), 22, 42,
        "一次引导，把您的电脑升级到微软原版Windows 10。");
  f.Add("MlSkinLabel4", LabelOf("MlSkinPanel2", Font{"Tahoma", 11}), 22, 68,
        "升级前可备份文档、桌面、收藏夹和宽带帐号。");
  f.Add("MlSkinLabel5", LabelOf("MlSkinPanel2", Font{"Tahoma", 11}), 22, 92, "官方网站：");
  f.Add("lblWebsite", LabelOf("MlSkinPanel2", Font{"Tahoma", 11}).Colour(0x0090ED).Hand(), 85, 92, CORVANE_HOMEPAGE);
  f.Add("btnExit", ButtonOf("MlSkinPanel2", 81, 28, 13), 285, 121, "关闭");
}

TFrm_About::TFrm_About()
    : form("Frm_About", "关于我们", 380, 235, BuildAboutLayout),
      btnClose(form["btnClose"]),
      MlSkinPanel1(form["MlSkinPanel1"]),
      Image1(form["Image1"]),
      MlSkinLabel1(form["MlSkinLabel1"]),
      MlSkinPanel2(form["MlSkinPanel2"]),
      lblAboutVersion(form["lblAboutVersion"]),
      MlSkinLabel3(form["MlSkinLabel3"]),
      MlSkinLabel4(form["MlSkinLabel4"]),
      MlSkinLabel5(form["MlSkinLabel5"]),
      lblWebsite(form["lblWebsite"]),
      btnExit(form["btnExit"]) {
  btnClose.OnClick = [this] { btnExitClick(); };
  btnExit.OnClick = [this] { btnExitClick(); };
  lblWebsite.OnClick = [this] { lblWebsiteClick(); };
}

void TFrm_About::FormCreate() { lblAboutVersion.SetCaption("当前版本：" + plat::FileVersionText()); }

bool TFrm_About::FormCanResize(int, int) const { return false; }

void TFrm_About::btnExitClick() {
  if (close) close();
}

void TFrm_About::lblWebsiteClick() {
  if (shellOpen) shellOpen(lblWebsite.Caption());
}

bool TFrm_About::WndProc(uint32_t msg, uintptr_t wParam) { return DropsMessage(msg, wParam); }

}  // namespace corvane
