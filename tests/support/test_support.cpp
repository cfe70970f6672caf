#include "tests/support/test_support.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace corvane::test {

namespace {
std::atomic<int> counter{0};
}

std::string PatternContent(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

std::string MakeTempDir(const std::string& tag) {
#ifdef _WIN32
  wchar_t buf[MAX_PATH];
  ::GetTempPathW(MAX_PATH, buf);
  std::filesystem::path p = std::filesystem::path(buf) /
                            ("cvt-" + tag + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(p);
  return p.string();
#else
  std::filesystem::path p = std::filesystem::temp_directory_path() /
                            ("cvt-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
#endif
}

#ifndef _WIN32
void SimMachineTest::SetUp() {
  root_ = MakeTempDir("machine");
  std::filesystem::create_directories(root_ + "/C");
  plat::sim::SetMachineRoot(root_);
  plat::sim::WriteProfile(plat::sim::DefaultProfile());
}

void SimMachineTest::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void SimMachineTest::Patch(const nlohmann::json& patch) {
  nlohmann::json p = plat::sim::Profile();
  for (auto it = patch.begin(); it != patch.end(); ++it) p[it.key()] = it.value();
  plat::sim::WriteProfile(p);
  if (p.contains("drives"))
    for (auto it = p["drives"].begin(); it != p["drives"].end(); ++it)
      std::filesystem::create_directories(root_ + "/" + it.key());
}

std::string SimMachineTest::Host(const std::string& winPath) const { return plat::HostPath(winPath); }

void SimMachineTest::MakeFile(const std::string& winPath, const std::string& content) {
  std::string folder = winPath.substr(0, winPath.find_last_of('\\'));
  plat::ForceDirectories(folder);
  ASSERT_TRUE(plat::WriteWholeFile(winPath, content)) << winPath;
}
#endif

}  // namespace corvane::test
