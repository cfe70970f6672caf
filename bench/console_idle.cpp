// CPU time spent watching a console child that stays silent for 10 s:
// TDosCommand's watch loop, and side by side a loop that peeks and sleeps
// 1 ms per pass. The child is this program itself, started with --child N.
//
//   console_idle [seconds]   prints "<loop> cpu_ms=<n> wall_ms=<n>" twice
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "console/uDosCommand.h"
#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/sim_machine.h"
#endif

namespace {

double CpuMs() {
#ifdef _WIN32
  FILETIME c, e, k, u;
  ::GetProcessTimes(::GetCurrentProcess(), &c, &e, &k, &u);
  auto ms = [](FILETIME f) { return ((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e4; };
  return ms(k) + ms(u);
#else
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);  // this process only: the child is not counted
  return ru.ru_utime.tv_sec * 1e3 + ru.ru_utime.tv_usec / 1e3 + ru.ru_stime.tv_sec * 1e3 + ru.ru_stime.tv_usec / 1e3;
#endif
}

std::string SelfPath(const char* argv0) {
#ifdef _WIN32
  wchar_t buf[MAX_PATH];
  ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::string s;
  for (wchar_t* p = buf; *p; ++p) s += static_cast<char>(*p);
  return "\"" + s + "\"";
#else
  (void)argv0;
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
#endif
}

template <class F>
void Measure(const char* name, F run) {
  const double c0 = CpuMs();
  const auto t0 = std::chrono::steady_clock::now();
  run();
  const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%s cpu_ms=%.0f wall_ms=%.0f\n", name, CpuMs() - c0, wall);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--child") {
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[2])));
    return 0;
  }
  const int seconds = argc == 2 ? std::atoi(argv[1]) : 10;
#ifndef _WIN32
  // A scratch simulated machine, removed at the end.
  const auto machine =
      std::filesystem::temp_directory_path() / ("corvane-idle-machine-" + std::to_string(::getpid()));
  std::filesystem::create_directories(machine / "C");
  plat::sim::SetMachineRoot(machine.string());
  struct Cleanup {
    std::filesystem::path p;
    ~Cleanup() { std::filesystem::remove_all(p); }
  } cleanup{machine};
#endif
  const std::string child = SelfPath(argv[0]) + " --child " + std::to_string(seconds);

  Measure("TDosCommand", [&] {
    corvane::TDosCommand cmd;
    cmd.SetCommandLine(child);
    cmd.Execute();
    // Poll rarely so that the caller's own cost stays out of the figure.
    while (cmd.IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  });

  Measure("peek+sleep1ms", [&] {
    plat::ChildProcess p;
    if (p.Start(child, plat::kNormalPriorityClass) != plat::ChildProcess::StartResult::Started) return;
    char buf[1024];
    while (p.ExitCode() == plat::kStillActive) {
      if (p.Available()) p.Read(buf, sizeof buf);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  return 0;
}
