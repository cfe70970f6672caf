// The download stage on the real main window under Wine, for
// tests/wine/download_screens.sh and the memory measurement: the program's
// main window with its creation handler (payload, idle prevention, the
// update check), the server base address and the data drive given, then
// the download stage on a worker of the run, as the install panel's
// "重新下载" starts it. The work folder is removed when the window closes.
//   downloadpanel.exe SERVER_URL DATA_DRIVE
#include <windows.h>
#include <shellapi.h>

#include "common/text.h"
#include "download/ServerUrl.h"
#include "shell/startup.h"
#include "shell/win32/main_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argc < 3) return 2;
  auto* window = new corvane::view::MainWindow();  // lives until the process ends
  if (!window->Create(true)) return 1;
  corvane::TFrm_Main& f = window->Frm();
  corvane::SetServerUrl(corvane::Narrow(argv[1]));
  f.vPlatform = "X64";
  f.vDataDriver = corvane::Narrow(argv[2]);
  window->Show(SW_SHOW);
  if (!f.StartStage(corvane::Stage::Download)) return 3;
  window->Run();
  corvane::RemoveWorkFolder();
  ::ExitProcess(0);
}
