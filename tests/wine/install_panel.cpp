// The install panel of the real main window under Wine, for the screenshots
// of tests/wine/install_screens.sh: the main window as the program builds it,
// the payload unpacked into the work folder as at start-up, then on a worker
// what the end of a download does: the edition configuration fetched from
// the server base address given, and the hand-off stage on the images
// already on disk. The work folder is removed when the window closes.
//   installpanel.exe SERVER_URL DATA_DRIVE
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <thread>

#include "common/text.h"
#include "download/RunConfig.h"
#include "download/ServerUrl.h"
#include "shell/startup.h"
#include "shell/win32/main_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argc < 3) return 2;
  auto* window = new corvane::view::MainWindow();  // lives until the process ends
  if (!window->Create(false)) return 1;
  corvane::TFrm_Main& f = window->Frm();
  if (!corvane::UnpackPayload()) return 3;
  corvane::SetServerUrl(corvane::Narrow(argv[1]));
  f.vPlatform = "X64";
  f.vDataDriver = corvane::Narrow(argv[2]);
  window->Show(SW_SHOW);
  std::thread([&f] {
    try {
      corvane::FetchRunConfig(f);
      f.Thrd_Install();
    } catch (...) {
    }
  }).detach();
  window->Run();
  corvane::RemoveWorkFolder();
  ::ExitProcess(0);
}
