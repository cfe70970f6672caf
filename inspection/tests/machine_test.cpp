// Machine queries and system actions: on the simulated machine natively, on
// Wine's Windows in the win32 build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "common/errors.h"
#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/digest.h"
#include "platform/exclusive_file.h"
#include "platform/platform.h"
#include "platform/system_actions.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fstream>
#endif

using namespace corvane;

namespace {

[[maybe_unused]] const char* kUnknownId = "696B031073E74BF2CB98E5EF201D4AA3";  // MD5 of "UNKNOWN"

#ifdef _WIN32
class Machine : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempDir("machine") + "\\"; }
  void TearDown() override { plat::RemoveTree(dir_); }
  std::string Path(const std::string& name) const { return dir_ + name; }
  std::string dir_;
};
#else
class Machine : public test::SimMachineTest {
 protected:
  std::string Path(const std::string& name) const { return "C:\\" + name; }
  void Wmi(const nlohmann::json& wmi) { Patch({{"wmi", wmi}}); }
};
#endif

// ---- size texts --------------------------------------------------------------

TEST(FormatByteSize, UnitBoundariesAndTheUnknownSize) {
  const std::pair<int64_t, const char*> table[] = {
      {0, "0.00B"},
      {1, "1.00B"},
      {1024, "1024.00B"},
      {1025, "1.00KB"},
      {1048576, "1024.00KB"},
      {1048577, "1.00MB"},
      {1073741824, "1024.00MB"},
      {1073741825, "1.00GB"},
      {3435973837, "3.20GB"},
      {2199023255552, "2048.00GB"},  // no unit above GB
      {-1, "未知容量"},
      {-2, "-2.00B"},
      {INT64_MIN, "-9223372036854775808.00B"},
  };
  for (const auto& [size, text] : table) EXPECT_EQ(FormatByteSize(size), text) << size;
}

// ---- downloads (the loopback operator server on both builds) -----------------

TEST_F(Machine, DownloadWritesTheBodyOfASuccessfulReply) {
  test::TestServer server;
  ASSERT_TRUE(server.Available());
  server.WriteFile("x64.ini", "[Config]\r\nesdurl=http://x/\r\n");
  const std::string file = Path("config.ini");
  ASSERT_TRUE(DownloadToFile(server.Url("/x64.ini"), file));
  std::string got;
  ASSERT_TRUE(plat::ReadWholeFile(file, got));
  EXPECT_EQ(got, "[Config]\r\nesdurl=http://x/\r\n");
  EXPECT_TRUE(StartsWith(server.LastRequest(), "GET /x64.ini HTTP/1.1\r\n")) << server.LastRequest();
  // An empty body is a download too.
  server.WriteFile("empty", "");
  ASSERT_TRUE(DownloadToFile(server.Url("/empty"), file));
  EXPECT_EQ(plat::FileSize(file), 0);
}

TEST_F(Machine, FailedDownloadsLeaveNoFileEvenAnOldOne) {
  test::TestServer server;
  ASSERT_TRUE(server.Available());
  server.AddFault("path=/moved&status=302&location=%2Fx64.ini");
  server.WriteFile("x64.ini", "target of the redirect");
  // The connection breaks after part of the body.
  server.WriteFile("cut", "partial" + std::string(93, '.'));
  server.AddFault("path=/cut&close-after=7");
  const std::string file = Path("config.ini");
  for (const std::string url : {server.Url("/missing"), server.Url("/moved"), server.Url("/cut"),
                                std::string("http://127.0.0.1:1/x64.ini")}) {
    ASSERT_TRUE(plat::WriteWholeFile(file, "old"));
    EXPECT_FALSE(DownloadToFile(url, file)) << url;
    EXPECT_FALSE(plat::FileExists(file)) << url;
  }
  EXPECT_EQ(server.Requests().size(), 3u);  // the redirect was not followed
}

#ifndef _WIN32
TEST_F(Machine, DownloadGoesDirectWhateverTheProxySettings) {
  test::TestServer server;
  server.WriteFile("a", "direct");
  ::setenv("http_proxy", "http://127.0.0.1:1", 1);
  ::setenv("HTTP_PROXY", "http://127.0.0.1:1", 1);
  const bool ok = DownloadToFile(server.Url("/a"), Path("a.txt"));
  ::unsetenv("http_proxy");
  ::unsetenv("HTTP_PROXY");
  EXPECT_TRUE(ok);
}
#endif

// ---- file digests -------------------------------------------------------------

TEST_F(Machine, FileSha1OverBlocksAndItsSentinels) {
  const std::string small = Path("abc.txt");
  ASSERT_TRUE(plat::WriteWholeFile(small, "abc"));
  EXPECT_EQ(GetFileSHA1(small), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  ASSERT_TRUE(plat::WriteWholeFile(small, ""));
  EXPECT_EQ(GetFileSHA1(small), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(GetFileSHA1(Path("missing.img")), "");
  EXPECT_EQ(GetFileSHA1(Path("")), "");  // a folder

  // More blocks than the reading thread has in flight, so that every block
  // is used again, and not a multiple of one.
  std::string big((plat::ExclusiveFile::BlocksAhead() + 2) * plat::ExclusiveFile::BlockSize() + 77, '\0');
  std::mt19937 rng(3);
  for (auto& c : big) c = static_cast<char>(rng());
  const std::string bigFile = Path("Install.img");
  ASSERT_TRUE(plat::WriteWholeFile(bigFile, big));
  plat::Sha1 reference(plat::Sha1Engine::Platform);
  reference.Update(big.data(), big.size());
  const auto want = reference.Final();
  EXPECT_EQ(GetFileSHA1(bigFile), HexUpper(want.data(), want.size()));
}

TEST_F(Machine, FileSha1TellsTheBytesHashedAfterEachBlock) {
  const int64_t block = static_cast<int64_t>(plat::ExclusiveFile::BlockSize());
  const std::string file = Path("Install.img");
  ASSERT_TRUE(plat::WriteWholeFile(file, std::string(static_cast<size_t>(2 * block + 5), 'x')));
  const std::string plain = GetFileSHA1(file);
  std::vector<int64_t> heard;
  EXPECT_EQ(GetFileSHA1(file, [&](int64_t n) { heard.push_back(n); }), plain);
  EXPECT_EQ(heard, (std::vector<int64_t>{block, 2 * block, 2 * block + 5}));
  // A listener that fails is not asked again and the digest still comes.
  int calls = 0;
  EXPECT_EQ(GetFileSHA1(file, [&](int64_t) {
              ++calls;
              throw Exception("gone");
            }),
            plain);
  EXPECT_EQ(calls, 1);
  heard.clear();
  EXPECT_EQ(GetFileSHA1(Path("missing.img"), [&](int64_t n) { heard.push_back(n); }), "");
  EXPECT_TRUE(heard.empty());
}

TEST_F(Machine, FileInUseGivesAnEmptyDigest) {
  const std::string file = Path("Win8PE.iso");
  ASSERT_TRUE(plat::WriteWholeFile(file, "boot image"));
  {
#ifdef _WIN32
    HANDLE other = ::CreateFileW(Widen(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSHA1(file), "");
    ::CloseHandle(other);
#else
    std::ifstream other(Host(file));
    ASSERT_TRUE(other.is_open());
    EXPECT_EQ(GetFileSHA1(file), "");
#endif
  }
  EXPECT_EQ(GetFileSHA1(file).size(), 40u);
}

// ---- console capture ----------------------------------------------------------

TEST_F(Machine, RunAndCaptureSentinels) {
  EXPECT_EQ(RunAndCapture(""), "#");
  EXPECT_EQ(RunAndCapture("C:\\NoSuchFolder\\bcdedit.exe /enum"), "#");
}

// ---- firewall -----------------------------------------------------------------

TEST_F(Machine, FirewallActsOnlyOnPrograms) {
  const int before = plat::FirewallCallCount();
  AddFirewallApp("迅雷下载模块", Path("readme.txt"));
  RemoveFirewallApp("", Path("Program"));
  EXPECT_EQ(plat::FirewallCallCount(), before);
  AddFirewallApp("迅雷下载模块", Path("Thunder\\MiniThunderPlatform.EXE"));
  RemoveFirewallApp("ignored", Path("Thunder\\MiniThunderPlatform.EXE"));
  AddFirewallApp("x", Path("tool.Com"));
  AddFirewallApp("x", Path("driver.icd"));
  EXPECT_EQ(plat::FirewallCallCount(), before + 4);
#ifndef _WIN32
  EXPECT_EQ(plat::sim::Events(),
            (std::vector<std::string>{"firewall add 迅雷下载模块|C:\\Thunder\\MiniThunderPlatform.EXE",
                                      "firewall remove C:\\Thunder\\MiniThunderPlatform.EXE",
                                      "firewall add x|C:\\tool.Com", "firewall add x|C:\\driver.icd"}));
#endif
}

#ifdef _WIN32

// ---- Wine's Windows ------------------------------------------------------------

TEST_F(Machine, WmiAnswersFromTheSystem) {
  int64_t v = 0;
  EXPECT_TRUE(TryParseInt64(GetWmiValue("Processor", "NumberOfCores"), v) && v >= 1);
  EXPECT_TRUE(TryParseInt64(GetWmiValue("ComputerSystem", "TotalPhysicalMemory"), v) && v > 0);
  const std::string width = GetWmiValue("Processor", "DataWidth");
  EXPECT_TRUE(width == "32" || width == "64") << width;
  EXPECT_EQ(GetWmiValue("LogicalDisk Where Caption='Q:'", "Size"), "");
  EXPECT_THROW(GetWmiValue("Processor", "NoSuchProperty"), Exception);
}

TEST_F(Machine, DriveSizesOfTheSystemDrive) {
  const std::string sys = GetWinDir();
  const int64_t total = GetDriveTotalSize(sys);  // a path on the drive names the drive
  const int64_t free = GetDriveFreeSize(sys.substr(0, 2));
  EXPECT_GT(total, 0);
  EXPECT_GE(free, 0);
  EXPECT_LE(free, total);
  EXPECT_EQ(GetDriveTotalSize("Q:"), -1);
  EXPECT_EQ(FormatByteSize(GetDriveTotalSize("Q:")), "未知容量");
}

TEST_F(Machine, MachineIdIsThirtyTwoUpperHexDigits) {
  const std::string id = GetMachineId();
  ASSERT_EQ(id.size(), 32u);
  EXPECT_EQ(id, UpperAscii(id));
  EXPECT_EQ(GetMachineId(), id);
}

TEST_F(Machine, RunAndCaptureThroughCmd) {
  EXPECT_EQ(RunAndCapture("cmd.exe /c \"echo one& echo two\""), "one\r\ntwo\r\n");
}

#else

// ---- the simulated machine -------------------------------------------------------

TEST_F(Machine, WmiTakesTheFirstNonNullValueTrimmed) {
  Wmi({{"DiskDrive", {{{"SerialNumber", nullptr}}, {{"SerialNumber", " \tSN-9  "}}, {{"SerialNumber", "later"}}}},
       {"ComputerSystem", {{{"TotalPhysicalMemory", 8589934592}}}},
       {"Processor", nlohmann::json::array()}});
  EXPECT_EQ(GetWmiValue("DiskDrive", "SerialNumber"), "SN-9");
  EXPECT_EQ(GetWmiValue("ComputerSystem", "TotalPhysicalMemory"), "8589934592");
  EXPECT_EQ(GetWmiValue("Processor", "MaxClockSpeed"), "");  // no instances
  EXPECT_EQ(GetWmiValue("VideoController", "Name"), "");
  EXPECT_THROW(GetWmiValue("DiskDrive", "NoSuchProperty"), Exception);
  Patch({{"wmi", nullptr}});  // no working WMI
  EXPECT_THROW(GetWmiValue("DiskDrive", "SerialNumber"), Exception);
}

TEST_F(Machine, DriveSizesComeFromTheLogicalDiskOfTheDrive) {
  Wmi({{"LogicalDisk",
        {{{"Caption", "C:"}, {"Size", "85899345920"}, {"FreeSpace", "21474836480"}},
         {{"Caption", "D:"}, {"Size", nullptr}, {"FreeSpace", "abc"}},
         {{"Caption", "E:"}, {"Size", "-5"}, {"FreeSpace", 12}}}}});
  EXPECT_EQ(GetDriveTotalSize("C:\\Windows"), 85899345920);
  EXPECT_EQ(GetDriveFreeSize("C:"), 21474836480);
  EXPECT_EQ(GetDriveTotalSize("D:"), -1);  // null
  EXPECT_EQ(GetDriveFreeSize("D:"), -1);   // not a number
  EXPECT_EQ(GetDriveTotalSize("E:"), -1);  // never a negative count but -1
  EXPECT_EQ(GetDriveFreeSize("E:"), 12);
  EXPECT_EQ(GetDriveTotalSize("F:"), -1);  // no such disk
  EXPECT_EQ(FormatByteSize(GetDriveTotalSize("F:")), "未知容量");
  Patch({{"wmi", nullptr}});
  EXPECT_EQ(GetDriveTotalSize("C:"), -1);
}

TEST_F(Machine, MachineIdIsTheMd5OfProcessorAndDiskIds) {
  Wmi({{"Processor", {{{"ProcessorId", "BFEBFBFF000906EA "}}}},
       {"DiskDrive", {{{"SerialNumber", nullptr}}, {{"SerialNumber", "  S3Z9NB0K你12"}}}}});
  // "BFEBFBFF000906EA" + "S3Z9NB0K?12": the non-ASCII character becomes "?".
  EXPECT_EQ(GetMachineId(), "D6021555A84D2EF5F19607601F6C4FC3");
  Wmi(nlohmann::json::object());
  EXPECT_EQ(GetMachineId(), "D41D8CD98F00B204E9800998ECF8427E");  // both empty: MD5 of ""
  Patch({{"wmi", nullptr}});
  EXPECT_EQ(GetMachineId(), kUnknownId);
}

TEST_F(Machine, RunAndCaptureJoinsLinesWithCrLf) {
  EXPECT_EQ(RunAndCapture("printf \"a\\r\\nb\\nc\""), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(RunAndCapture("true"), "");
}

TEST_F(Machine, RestartIsRecordedNotPerformed) {
  RestartComputer();
  EXPECT_EQ(plat::sim::Events(), (std::vector<std::string>{"restart"}));
}

#endif

}  // namespace
