// The backup stage over a given tree, timed: TFrm_Main::Thrd_Backup with only
// the documents box checked and the documents folder set to the tree, its
// screen steps run on this thread and its pauses skipped (a clock that does
// not wait), from the press of the button to the hand-over to the download.
//
//   native:  backup_bench [--cancel] --machine DIR SOURCE   (SOURCE a host
//            folder; the simulated machine in DIR, its documents folder a
//            link to SOURCE, the copies on its drive D:, i.e. DIR/D).
//            --cancel presses the cancel button once a file larger than two
//            chunks is being copied and prints how long the stage took from
//            the press to the hand-over to the download ("cancel_ms=").
//   Windows: backup_bench SOURCE DRIVE           (SOURCE a Windows folder,
//            the copies on DRIVE, e.g. D:; the documents folder of the
//            current user is pointed at SOURCE for the run and set back)
//
// Prints "seconds=<s> files=<files listed>"; exit code 1 when the stage did
// not reach the download.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/clock.h"
#include "common/ui_thread.h"
#include "platform/file_copy.h"
#include "platform/platform.h"
#include "shell/F_Main.h"
#include "tests/support/no_host.h"

#ifdef _WIN32
#include <windows.h>
#undef MessageBox  // the window host's method, not the Windows macro

#include "common/text.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/sim_machine.h"
#endif

namespace {

using namespace corvane;

// The stage's pauses are there for the reader, not for the copying: they are
// skipped, and otherwise time runs as on the window's clock (so the bar is
// brought up to date as often as in the program).
class NoWaitClock final : public Clock {
 public:
  int64_t NowMs() override {
    const auto real = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(real).count() + skipped_.load();
  }
  void SleepMs(int64_t ms) override { skipped_ += ms; }

 private:
  std::atomic<int64_t> skipped_{0};
};

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class BenchFrm : public TFrm_Main {
 public:
  using TFrm_Main::TFrm_Main;
  std::atomic<int64_t> endNs{0};

 protected:
  void RunStage(Stage s) override {
    if (s == Stage::Download) {
      endNs = NowNs();
      return;
    }
    TFrm_Main::RunStage(s);
  }
};

#ifdef _WIN32
const wchar_t* kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Points the documents folder at `dir`; gives back the value it had.
std::wstring SetPersonal(const std::wstring& dir) {
  HKEY key;
  std::wstring old;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
    return old;
  wchar_t buf[1024] = {};
  DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
  if (::RegQueryValueExW(key, L"Personal", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS)
    old = buf;
  ::RegSetValueExW(key, L"Personal", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                   static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  return old;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::string source, drive = "D:";
#ifdef _WIN32
  if (argc != 3) {
    std::fprintf(stderr, "usage: backup_bench SOURCE DRIVE\n");
    return 2;
  }
  source = argv[1];
  drive = argv[2];
  const std::wstring oldPersonal = SetPersonal(Widen(source));
#else
  const bool cancel = argc == 5 && std::string(argv[1]) == "--cancel";
  if (cancel) {
    --argc;
    ++argv;
  }
  if (argc != 4 || std::string(argv[1]) != "--machine") {
    std::fprintf(stderr, "usage: backup_bench [--cancel] --machine DIR SOURCE\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const std::string machine = argv[2];
  fs::create_directories(machine + "/C/Users/User");
  fs::create_directories(machine + "/D");
  fs::remove(machine + "/C/Users/User/Documents");
  fs::create_directory_symlink(fs::absolute(argv[3]), machine + "/C/Users/User/Documents");
  plat::sim::SetMachineRoot(machine);
  nlohmann::json profile = plat::sim::DefaultProfile();
  profile["drives"] = {{"C", 3}, {"D", 3}};
  plat::sim::WriteProfile(profile);
#endif

  TaskQueueUiThread ui;
  ui.AdoptCurrentThread();
  SetMainUi(&ui);
  NoWaitClock clock;
  test::NoHost host;
  BenchFrm frm(ui, clock, host);
  frm.vDataDriver = drive;
  frm.chkBakMyDoc.SetChecked(true);
  frm.chkBakADSL.SetChecked(false);

#ifndef _WIN32
  // Inside a large file: its first chunk is copied and more are to come.
  std::atomic<bool> insideLarge{false};
  if (cancel)
    plat::sim::SetCopyChunkObserver([&](const std::string& from, int64_t copied) {
      if (copied == plat::kCopyChunkBytes && plat::FileSize(from) > 2 * plat::kCopyChunkBytes) insideLarge = true;
    });
#endif
  int64_t pressed = 0;
  const int64_t t0 = NowNs();
  frm.btnStartBak.Click();
  while (frm.LiveWorkers() > 0) {
    ui.WaitAndRun(1);
#ifndef _WIN32
    if (insideLarge && !pressed) {
      frm.btnCancelBackup.Click();
      pressed = NowNs();
    }
#endif
  }
  ui.RunPending();
  const int64_t end = frm.endNs.load();
  if (pressed)
    std::printf("cancel_ms=%.1f\n", (end - pressed) / 1e6);
  else
    std::printf("seconds=%.3f files=%d\n", ((end ? end : NowNs()) - t0) / 1e9, frm.pbBackup.Max());
#ifdef _WIN32
  if (!oldPersonal.empty()) SetPersonal(oldPersonal);
#endif
  // The window is not taken down: as in the program, nothing waits for the
  // worker thread's very end.
  std::fflush(stdout);
  std::_Exit(end ? 0 : 1);
}
