// GetFileSHA1 over one file, timed; or, with --engines, each SHA-1 engine
// over a buffer in memory. Used by bench/sha1.
//
//   sha1_bench FILE        prints "<digest> <seconds> <MB/s> <cpu> <cpu-hashing>": wall
//                          time, then the CPU seconds of the whole process and
//                          of the hashing (calling) thread alone
//   sha1_bench --engines   prints "<engine> <MB/s> <CPU seconds per GiB>" per engine,
//                          each the best of three runs over 256 MiB
//
// Natively FILE is a host path (made reachable as drive C: of a scratch
// simulated machine); on Windows it is a Windows path.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/digest.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/sim_machine.h"
#endif

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU seconds (user + kernel) of the process and of the calling thread.
void CpuSeconds(double& process, double& thread) {
#ifdef _WIN32
  auto secs = [](const FILETIME& k, const FILETIME& u) {
    auto v = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 1e7; };
    return v(k) + v(u);
  };
  FILETIME c, e, k, u;
  process = ::GetProcessTimes(::GetCurrentProcess(), &c, &e, &k, &u) ? secs(k, u) : 0;
  thread = ::GetThreadTimes(::GetCurrentThread(), &c, &e, &k, &u) ? secs(k, u) : 0;
#else
  auto secs = [](const rusage& r) {
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
  };
  rusage r{};
  process = ::getrusage(RUSAGE_SELF, &r) == 0 ? secs(r) : 0;
  thread = ::getrusage(RUSAGE_THREAD, &r) == 0 ? secs(r) : 0;
#endif
}

int Engines() {
  std::vector<char> buf(256u << 20, '\x5a');
  for (auto e : {plat::Sha1Engine::Platform, plat::Sha1Engine::ShaNi}) {
    double best = 1e9, bestCpu = 1e9;
    std::string name;
    for (int run = 0; run < 3; ++run) {
      plat::Sha1 sha(e);
      name = sha.EngineName();
      double p0, c0, p1, c1;
      CpuSeconds(p0, c0);
      const auto t0 = std::chrono::steady_clock::now();
      sha.Update(buf.data(), buf.size());
      sha.Final();
      best = std::min(best, Seconds(t0));
      CpuSeconds(p1, c1);
      bestCpu = std::min(bestCpu, c1 - c0);
    }
    std::printf("%s %.0f %.3f\n", name.c_str(), buf.size() / 1048576.0 / best, bestCpu * (1u << 30) / buf.size());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sha1_bench FILE | --engines\n");
    return 2;
  }
  if (std::string(argv[1]) == "--engines") return Engines();
  std::string path = argv[1];
#ifndef _WIN32
  namespace fs = std::filesystem;
  const fs::path host = fs::absolute(path);
  const fs::path machine = fs::temp_directory_path() / ("corvane-sha1-machine-" + std::to_string(::getpid()));
  fs::create_directories(machine);
  fs::create_directory_symlink(host.parent_path(), machine / "C");
  plat::sim::SetMachineRoot(machine.string());
  path = "C:\\" + host.filename().string();
#endif
  const int64_t size = plat::FileSize(path);
  double cpu0 = 0, thread0 = 0, cpu1 = 0, thread1 = 0;
  CpuSeconds(cpu0, thread0);
  const auto t0 = std::chrono::steady_clock::now();
  const std::string digest = corvane::GetFileSHA1(path);
  const double s = Seconds(t0);
  CpuSeconds(cpu1, thread1);
#ifndef _WIN32
  fs::remove_all(machine);
#endif
  if (digest.empty() || size < 0) {
    std::fprintf(stderr, "sha1_bench: cannot hash %s\n", argv[1]);
    return 1;
  }
  std::printf("%s %.3f %.0f %.3f %.3f\n", corvane::LowerAscii(digest).c_str(), s, size / 1048576.0 / s, cpu1 - cpu0,
              thread1 - thread0);
  return 0;
}
