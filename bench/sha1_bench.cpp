// GetFileSHA1 over one file, timed; or, with --engines, each SHA-1 engine
// over a buffer in memory. Used by bench/sha1.
//
//   sha1_bench FILE        prints "<digest> <seconds> <MB/s>"
//   sha1_bench --engines   prints "<engine> <MB/s>" per engine
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

#ifndef _WIN32
#include <unistd.h>

#include <filesystem>

#include "platform/posix/sim_machine.h"
#endif

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

int Engines() {
  std::vector<char> buf(256u << 20, '\x5a');
  for (auto e : {plat::Sha1Engine::Platform, plat::Sha1Engine::ShaNi}) {
    double best = 1e9;
    std::string name;
    for (int run = 0; run < 3; ++run) {
      plat::Sha1 sha(e);
      name = sha.EngineName();
      const auto t0 = std::chrono::steady_clock::now();
      sha.Update(buf.data(), buf.size());
      sha.Final();
      best = std::min(best, Seconds(t0));
    }
    std::printf("%s %.0f\n", name.c_str(), buf.size() / 1048576.0 / best);
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
  const auto t0 = std::chrono::steady_clock::now();
  const std::string digest = corvane::GetFileSHA1(path);
  const double s = Seconds(t0);
#ifndef _WIN32
  fs::remove_all(machine);
#endif
  if (digest.empty() || size < 0) {
    std::fprintf(stderr, "sha1_bench: cannot hash %s\n", argv[1]);
    return 1;
  }
  std::printf("%s %.3f %.0f\n", corvane::LowerAscii(digest).c_str(), s, size / 1048576.0 / s);
  return 0;
}
