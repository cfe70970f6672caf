// The screenshot gallery: the real main window, built from the same view
// code as the program, with one chosen panel in front and sample texts of
// the kind the stages write; or the about window. Nothing runs: no payload,
// no update check, no stage.
//
//   gallery.exe PnlHome | PnlCheckProgress | ... | PnlUpdate | Frm_About | Frm_Message [tip | menu | auto]
//   tip: a balloon over the panel; menu: the pop-up menu open; auto: the
//   auto-mode countdown running live on the panel's default button.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/text.h"
#include "shell/win32/main_window.h"
#include "shell/win32/message_box.h"

namespace {

using corvane::TFrm_Main;

// What the stages would show on their panels by the time the panel is in
// front, so that the picture shows texts of their real length.
void SampleTexts(TFrm_Main& f, const std::string& panel) {
  if (panel == "PnlCheckHrd") {
    f.lbl_PnlCheckHrd_Title1.SetCaption("您的计算机适合安装64位Win10。");
    f.lbl_PnlCheckHrd_CPUState.SetCaption("英特尔 64位 4核@3.40GHz");
    f.lbl_PnlCheckHrd_MemState.SetCaption("8.00GB");
    f.lbl_PnlCheckHrd_SysDiskSizeState.SetCaption("59.90GB");
    f.lbl_PnlCheckHrd_NetState.SetCaption("网络正常");
    f.lbl_PnlCheckHrd_DownDiskSizeState.SetCaption("D:(剩余：105.04GB)");
    for (auto* p : {&f.Pnl_PnlCheckHrd_CPUState, &f.Pnl_PnlCheckHrd_MemState, &f.Pnl_PnlCheckHrd_SysDiskSizeState,
                    &f.Pnl_PnlCheckHrd_NetState})
      p->SetPicture("PASS");
    f.Pnl_PnlCheckHrd_DownDiskSizeState.SetPicture("UNPASS");
    f.btnCheck2Next.SetCaption("下一步(6)");
  } else if (panel == "PnlBackup") {
    f.btnStartBak.SetCaption("开始备份(8)");
  } else if (panel == "PnlBackupInfo") {
    f.lblBackupInfo.SetCaption("正在备份“我的文档”，请稍后...");
    f.pbBackup.SetPosition(42);
  } else if (panel == "PnlDownload") {
    f.lblDownLoadInfo.SetCaption("下载安装镜像(1/2)：进度 37.52% 速度 1.50MB/s");
    f.pbDownLoad.SetPosition(37);
    f.lblDownLoadInfo.SetHint("文件大小：3.52GB       已下载：1.32GB\r\n资源总数：12             已使用：5");
    f.pbDownLoad.SetHint("当前进度：37.52%");
  } else if (panel == "PnlInstall") {
    f.lblInstallInfo.SetCaption("正在校验数据包，请耐心等待...");
  } else if (panel == "PnlUpdate") {
    f.lblUpdateInfo.SetCaption("正在升级到最新版(45% 1.20 MB/s)");
    f.pbUpdate.SetPosition(45);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const std::string what = argc > 1 ? corvane::Narrow(argv[1]) : "PnlHome";
  const std::wstring extra = argc > 2 ? argv[2] : L"";

  auto* window = new corvane::view::MainWindow();
  if (!window->Create(false)) return 1;
  TFrm_Main& f = window->Frm();
  if (what == "Frm_About") {
    window->Show(SW_SHOW);
    corvane::view::ShowAbout(window->View().Hwnd(), false);
  } else if (what == "Frm_Message") {
    window->Show(SW_SHOW);
    corvane::view::SkinnedMessageBox(window->View().Hwnd(), "在线升级", "恭喜你，当前已经是最新版本！",
                                     corvane::FormHost::MsgIcon::Success, false);
  } else {
    corvane::Control* panel = f.form.Find(what);
    if (!panel || !panel->Style().stacked) return 2;
    SampleTexts(f, what);
    f.form.BringToFront(*panel);
    window->Show(SW_SHOW);
    if (extra == L"tip") f.ShowTips(" 获取服务器数据失败，可能服务器维护中！", "", *panel, 0);
    if (extra == L"auto") {
      f.btnCheck2Next.SetCaption("下一步");
      f.btnStartBak.SetCaption("开始备份");
      f.vStep = what == "PnlBackup" ? corvane::TStep::Backup : corvane::TStep::Check;
      f.ArmAutoCountdown();
    }
    if (extra == L"menu") window->Ui().Post([&f] { f.btnMenuClick(); });
  }
  return window->Run();
}
