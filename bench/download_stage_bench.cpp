// The download stage headless on a simulated machine, on the real clock,
// with our engine from the program's resources (see bench/download-stage):
//
//   download_stage_bench memory MACHINE_DIR SERVER_URL
//     runs the stage once (configuration, install image, boot image) and
//     prints the process's peak resident memory and the time it took;
//   download_stage_bench pause MACHINE_DIR SERVER_URL ROUNDS
//     presses "暂停" at a random moment of a running download, ROUNDS times
//     (each round resumed with "继续"), and prints for each press the time
//     until the display step stopped the engine and until the end step
//     (engine stopped and unloaded, "下载已暂停！"); then cancels.
//
// The UI thread is this program's main thread, pumped every 50 ms as the
// window's view does.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/ui_thread.h"
#include "download/ServerUrl.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "shell/F_Main.h"
#include "tests/support/no_host.h"

using namespace corvane;
using Ms = std::chrono::duration<double, std::milli>;

namespace {

long PeakRssKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Bench {
  TaskQueueUiThread ui;
  test::NoHost host;
  TFrm_Main frm{ui, SystemClock(), host};

  Bench(const std::string& machine, const std::string& url) {
    plat::sim::SetMachineRoot(machine);
    auto profile = plat::sim::DefaultProfile();
    profile["drives"] = {{"C", 3}, {"D", 3}};
    plat::sim::WriteProfile(profile);
    plat::ForceDirectories("D:\\");
    plat::ForceDirectories(GetTempDir());
    ui.AdoptCurrentThread();
    SetMainUi(&ui);
    SetServerUrl(url);
    frm.vPlatform = "X64";
    frm.vDataDriver = "D:";
  }
  ~Bench() {
    ui.Shutdown();
    SetMainUi(nullptr);
  }
  // The view's pump: tasks as they come, timers every 50 ms.
  template <class Pred>
  void PumpUntil(Pred done) {
    while (!done()) {
      ui.WaitAndRun(50);
      frm.Pump();
    }
  }
  bool Downloading() { return frm.lblDownLoadInfo.Caption().rfind("下载安装镜像(1/2)：进度", 0) == 0; }
};

int Memory(const std::string& machine, const std::string& url) {
  Bench b(machine, url);
  // The downloads are over when the hand-off begins to verify the images.
  long downloadPeakKb = 0;
  double downloadSeconds = 0;
  const auto t0 = std::chrono::steady_clock::now();
  b.frm.form.Observe([&](Control* c, Control::Change ch) {
    if (c == &b.frm.lblInstallInfo && ch == Control::Change::Caption && downloadPeakKb == 0) {
      downloadPeakKb = PeakRssKb();
      downloadSeconds = Ms(std::chrono::steady_clock::now() - t0).count() / 1000;
    }
  });
  if (!b.frm.StartStage(Stage::Download)) return 1;
  b.PumpUntil([&] { return b.frm.LiveWorkers() == 0; });
  const double seconds = Ms(std::chrono::steady_clock::now() - t0).count() / 1000;
  const int64_t size = plat::FileSize("D:\\Win10Data\\System\\Install.img");
  std::printf("install_image_bytes=%lld\n", static_cast<long long>(size));
  std::printf("download_seconds=%.1f download_MBps=%.0f\n", downloadSeconds, size / 1048576.0 / downloadSeconds);
  std::printf("with_verification_seconds=%.1f\n", seconds);
  std::printf("install_panel=%s\n", b.frm.lblInstallInfo.Caption().c_str());
  std::printf("peak_rss_MB_with_verification=%.1f\n", PeakRssKb() / 1024.0);
  std::printf("peak_rss_MB=%.1f\n", downloadPeakKb / 1024.0);
  return size > 0 && downloadPeakKb > 0 ? 0 : 1;
}

int Pause(const std::string& machine, const std::string& url, int rounds) {
  Bench b(machine, url);
  std::mt19937 rng(16);
  std::vector<double> toStop, toEnd;
  using Clock = std::chrono::steady_clock;
  Clock::time_point pressed, stopped, ended;
  b.frm.form.Observe([&](Control* c, Control::Change ch) {
    if (c != &b.frm.lblDownLoadInfo || ch != Control::Change::Caption) return;
    if (c->Caption() == "正在暂停下载线程...") stopped = Clock::now();
    if (c->Caption() == "下载已暂停！") ended = Clock::now();
  });
  if (!b.frm.StartStage(Stage::Download)) return 1;
  for (int i = 0; i < rounds; ++i) {
    b.PumpUntil([&] { return b.Downloading() || b.frm.LiveWorkers() == 0; });
    if (b.frm.LiveWorkers() == 0) {
      std::fprintf(stderr, "the download ended before round %d: %s\n", i, b.frm.lblDownLoadInfo.Caption().c_str());
      return 1;
    }
    const auto wait = Clock::now() + Ms(std::uniform_int_distribution<int>(300, 1300)(rng));
    b.PumpUntil([&] { return Clock::now() >= wait; });
    pressed = Clock::now();
    b.frm.btnPause.Click();
    b.PumpUntil([&] { return b.frm.LiveWorkers() == 0; });
    toStop.push_back(Ms(stopped - pressed).count());
    toEnd.push_back(Ms(ended - pressed).count());
    std::printf("press %d: engine stopped after %.0f ms, stage ended after %.0f ms\n", i + 1, toStop.back(),
                toEnd.back());
    b.frm.btnPause.Click();  // 继续
  }
  b.PumpUntil([&] { return b.Downloading(); });
  b.frm.btnCancel.Click();
  b.PumpUntil([&] { return b.frm.LiveWorkers() == 0; });
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("pause_to_stop_ms median=%.0f max=%.0f\n", median(toStop), *std::max_element(toStop.begin(), toStop.end()));
  std::printf("pause_to_end_ms median=%.0f max=%.0f\n", median(toEnd), *std::max_element(toEnd.begin(), toEnd.end()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "memory") return Memory(argv[2], argv[3]);
  if (argc >= 5 && std::string(argv[1]) == "pause") return Pause(argv[2], argv[3], std::stoi(argv[4]));
  std::fprintf(stderr, "usage: download_stage_bench memory|pause MACHINE_DIR SERVER_URL [ROUNDS]\n");
  return 2;
}
