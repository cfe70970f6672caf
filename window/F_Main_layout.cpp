// The main window's screens: every control with its place, size, font,
// colours and first text. Places are relative to the parent; the title bar
// lies above the 350 x 330 client area (top -30).
#include <string>

#include "window/main_model.h"
#include "window/layout_kit.h"

namespace corvane {

namespace {

using namespace layout;

void TitleBar(Form& f) {
  f.Add("mlTitleBar", Panel("", 350, 30).Fill(kTitleBlue), 0, -30);
  f.Add("mlIcon", PictureOf("mlTitleBar", 24, 24), 2, 2).SetPicture("AppIcon24");
  f.Add("mlTitle", LabelOf("mlTitleBar", Font{"Tahoma", 11}).Colour(0xFFFFFF), 27, 8, "QuilloWin10升级助理 3.3");
  // Placed from the right edge: left edges 39, 67 and 95 pixels left of it.
  f.Add("btnClose", TitleButtonOf("mlTitleBar"), 350 - 39, -1).SetPicture("TitleClose");
  f.Add("btnMin", TitleButtonOf("mlTitleBar"), 350 - 67, -1).SetPicture("TitleMin");
  f.Add("btnMenu", TitleButtonOf("mlTitleBar"), 350 - 95, -1).SetPicture("TitleMenu");
}

// A header bar 350 x 58 with a line along its bottom edge.
void Header(Form& f, const char* panel, const char* name) {
  f.Add(name, Panel(panel, 350, 58).Fill(0xFFFFFF).BottomLine(), 0, 0);
}

void Home(Form& f) {
  f.Add("PnlHome", ContentPanel().Transparent().BottomLine(false), 0, 0);
  f.Add("Pnl_Img_PnlHome_Logo", Panel("PnlHome", 57, 49).Transparent(), 75, 62).SetPicture("HomeLogo");
  f.Add("lbl_PnlHome_Title1", LabelOf("PnlHome", Font{"Tahoma", 24}).Colour(0xFFFFFF), 138, 76, "Windows 10");
  f.Add("lbl_PnlHome_Title2", LabelOf("PnlHome", Font{kYaHei, 32}).Colour(0xFFFFFF), 111, 117, "免费升级");
  f.Add("btnStart", ButtonOf("PnlHome", 124, 38, 21).Fill(0x63B8EF, 0x48ADEE).SquareFrame(), 113, 199, "一键升级");
  f.Add("lbl_PnlHome_Title3",
        LabelOf("PnlHome", Font{kYaHei, 13}).Colour(0xFFFFFF).Fixed(287, 14).Align(HAlign::Centre), 32, 257,
        "微软官方原版无精简、全功能Win10系统！");
}

void CheckProgress(Form& f) {
  f.Add("PnlCheckProgress", ContentPanel(), 0, 0);
  f.Add("imgCheck", PictureOf("PnlCheckProgress", 128, 113), 111, 44).SetPicture("CheckComputer");
  f.Add("lbl_PnlCheckProgress_Info",
        LabelOf("PnlCheckProgress", Font{kYaHei, 14}).Fixed(307, 24).Align(HAlign::Centre), 22, 183,
        "正在检测硬件是否符合要求...");
}

void CheckResult(Form& f) {
  f.Add("PnlCheckHrd", ContentPanel(), 0, 0);
  Header(f, "PnlCheckHrd", "mlPnlCheckBar");
  f.Add("Pnl_PnlCheckHrd_Logo", Panel("mlPnlCheckBar", 44, 42).Transparent(), 16, 9).SetPicture("OK");
  f.Add("lbl_PnlCheckHrd_Title1", LabelOf("mlPnlCheckBar", Font{kYaHei, 14}), 66, 19, "硬件检测完成！");
  struct Row {
    const char* item;
    const char* icon;
    const char* caption;
    int y, valueLeft, valueWidth;
  };
  const Row rows[] = {
      {"CPU", "IconCPU", "CPU信息", 74, 111, 184},
      {"Mem", "IconMem", "内存大小", 108, 160, 135},
      {"SysDiskSize", "IconDisk", "系统盘大小", 141, 160, 135},
      {"Net", "IconNet", "网络环境", 178, 160, 135},
      {"DownDiskSize", "IconDownDisk", "下载磁盘空间", 211, 160, 135},
  };
  for (const Row& r : rows) {
    const std::string item = r.item;
    f.Add("Pnl_PnlCheckHrd_" + item, Panel("PnlCheckHrd", 21, 19).Transparent(), 20, r.y).SetPicture(r.icon);
    f.Add("lbl_PnlCheckHrd_" + item, LabelOf("PnlCheckHrd", Font{kYaHei, 13}), 52, r.y, r.caption);
    f.Add("lbl_PnlCheckHrd_" + item + "State",
          LabelOf("PnlCheckHrd", Font{kYaHei, 13}).Fixed(r.valueWidth, 19).Align(HAlign::Right), r.valueLeft, r.y);
    f.Add("Pnl_PnlCheckHrd_" + item + "State", Panel("PnlCheckHrd", 20, 18).Transparent(), 301, r.y);
  }
  f.Add("btnCheck2Next", ButtonOf("PnlCheckHrd", 103, 33, 15), 124, 248, "下一步");
}

void BackupChoice(Form& f) {
  f.Add("PnlBackup", ContentPanel(), 0, 0);
  Header(f, "PnlBackup", "PnlBackupBar");
  f.Add("Pnl_PnlBackup_Logo", Panel("PnlBackupBar", 44, 42).Transparent(), 16, 9).SetPicture("Question");
  f.Add("lblBackupTitle1", LabelOf("PnlBackupBar", Font{kYaHei, 14}), 66, 6, "选择您要备份的资料！");
  f.Add("lblBackupTitle2", LabelOf("PnlBackupBar", Font{kYaHei, 12}).Colour(0x808080), 66, 30,
        "注意：备份我的文档、办公文档可能耗时较久。");
  const char* icons[][2] = {{"Pnl_PnlBackup_MyDoc", "BakMyDoc"},
                            {"Pnl_PnlBackup_Desktop", "BakDesktop"},
                            {"Pnl_PnlBackup_IEFav", "BakIEFav"},
                            {"Pnl_PnlBackup_ADSL", "BakADSL"}};
  const int iconTops[] = {69, 113, 155, 197};
  for (int i = 0; i < 4; ++i)
    f.Add(icons[i][0], Panel("PnlBackup", 35, 33).Transparent(), 19, iconTops[i]).SetPicture(icons[i][1]);
  // The tab order of this panel is the order of creation.
  f.Add("chkBakMyDoc", CheckBoxOf("PnlBackup", 250, 17), 66, 78, " 我的文档   （存放收藏的照片等资料）");
  f.Add("chkBakDesktop", CheckBoxOf("PnlBackup", 250, 17), 66, 120, " 我的桌面   （可能有资料存放在桌面）");
  f.Add("chkBakIEFav", CheckBoxOf("PnlBackup", 250, 17), 66, 161, " IE收藏夹   （浏览器收藏的重要网址）");
  f.Add("chkBakADSL", CheckBoxOf("PnlBackup", 250, 17), 66, 203, " 宽带密码   （用于上网拨号帐号密码）")
      .SetChecked(true);
  f.Add("btnStartBak", ButtonOf("PnlBackup", 103, 33, 15), 124, 243, "开始备份");
}

void BackupProgress(Form& f) {
  f.Add("PnlBackupInfo", ContentPanel(), 0, 0);
  f.Add("Image12", PictureOf("PnlBackupInfo", 97, 103), 126, 48).SetPicture("BackupDrive");
  f.Add("lblBackupInfo", LabelOf("PnlBackupInfo", Font{kYaHei, 14}).Fixed(270, 24).Align(HAlign::Centre), 40, 164,
        "正在检索备份的文件...");
  f.Add("pbBackup", ProgressOf("PnlBackupInfo", 270, 16), 43, 201);
  f.Add("btnCancelBackup", ButtonOf("PnlBackupInfo", 103, 33, 15), 124, 238, "取消");
}

void Download(Form& f) {
  f.Add("PnlDownload", ContentPanel(), 0, 0);
  Header(f, "PnlDownload", "mlPnlDownloadBar");
  f.Add("Image14", PictureOf("mlPnlDownloadBar", 49, 46), 12, 4).SetPicture("Gear48");
  f.Add("MlSkinLabel1", LabelOf("mlPnlDownloadBar", Font{kYaHei, 14}), 64, 17, "下载微软原版Windows 10 系统镜像！");
  f.Add("Image13", PictureOf("PnlDownload", 98, 100), 126, 69).SetPicture("LaptopDownload");
  f.Add("lblDownLoadInfo", LabelOf("PnlDownload", Font{kYaHei, 12}).Fixed(305, 17).ShowHint(), 23, 180);
  f.Add("pbDownLoad", ProgressOf("PnlDownload", 311, 17).ShowHint(), 20, 206);
  f.Add("btnPause", ButtonOf("PnlDownload", 69, 33, 15), 98, 236, "暂停");
  f.Add("btnCancel", ButtonOf("PnlDownload", 69, 33, 15), 184, 236, "取消");
}

void Install(Form& f) {
  f.Add("PnlInstall", ContentPanel(), 0, 0);
  Header(f, "PnlInstall", "PnlInstallBar");
  f.Add("Image2", PictureOf("PnlInstallBar", 49, 46), 12, 4).SetPicture("Gear48");
  f.Add("MlSkinLabel2", LabelOf("PnlInstallBar", Font{kYaHei, 14}), 64, 17, "引导系统进入Windows10 安装过程！");
  f.Add("MlSkinPanel1", Panel("PnlInstall", 126, 126).Transparent(), 112, 69).SetPicture("GearLarge");
  f.Add("lblInstallInfo", LabelOf("PnlInstall", Font{kYaHei, 14}).Fixed(259, 20).Align(HAlign::Centre), 46, 199,
        "正在校验数据包，请耐心等待...");
  f.Add("btnInstall", ButtonOf("PnlInstall", 103, 33, 15), 124, 232, "安装中...");
}

void Update(Form& f) {
  f.Add("PnlUpdate", ContentPanel(), 0, 0);
  Header(f, "PnlUpdate", "PnlUpdateBar");
  f.Add("MlSkinPanel4", Panel("PnlUpdateBar", 44, 42).Transparent(), 16, 9).SetPicture("Question");
  f.Add("MlSkinLabel3", LabelOf("PnlUpdateBar", Font{kYaHei, 14}), 67, 17, "注意！有新的版本需要升级！");
  f.Add("PnlUpdateImg", Panel("PnlUpdate", 98, 98).Transparent(), 126, 83).SetPicture("UpdateMonitor");
  f.Add("lblUpdateInfo", LabelOf("PnlUpdate", Font{kYaHei, 13}).Fixed(253, 13).VCentre(), 52, 202, "准备进行升级...");
  f.Add("pbUpdate", ProgressOf("PnlUpdate", 262, 17), 44, 225);
}

// "http://www.corvane.net/" -> "www.corvane.net"
std::string HomepageHost() {
  std::string s = CORVANE_HOMEPAGE;
  if (auto p = s.find("://"); p != std::string::npos) s = s.substr(p + 3);
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

void Footer(Form& f) {
  f.Add("PnlFoot", Panel("", 350, 30).Fill(0xE8F4FD), 0, 300);
  // On when the window opens; set before any change handler is bound, so
  // creating the window raises no change event.
  f.Add("swBtnAuto", SwitchOf("PnlFoot", 34, 18), 14, 6).SetChecked(true);
  f.Add("lbl_PnlFoot_Title1", LabelOf("PnlFoot", Font{"Tahoma", 12}).Colour(0x229EED), 54, 6, "自动模式");
  f.Add("lblQQqun", LabelOf("PnlFoot", Font{"Tahoma", 12}).Colour(0x229EED).Fixed(120, 14).Align(HAlign::Right),
        202, 6, HomepageHost());
}

}  // namespace

void BuildMainLayout(Form& f) {
  f.background = kTitleBlue;
  f.font = Font{"Tahoma", 11};
  TitleBar(f);
  // The eight content panels lie on top of each other; PnlHome is brought to
  // the front by FormCreate.
  Home(f);
  CheckProgress(f);
  CheckResult(f);
  BackupChoice(f);
  BackupProgress(f);
  Download(f);
  Install(f);
  Update(f);
  Footer(f);
}

}  // namespace corvane
