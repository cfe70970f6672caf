#include <gtest/gtest.h>

#include "common/local_path.h"

namespace corvane {
namespace {

TEST(LocalPath, PlainFilePathsOnADrivePass) {
  for (const char* p : {"C:\\Program Files\\Corvane\\Corvaner.exe", "d:/a/b.dll", "C:\\Windows\\System32\\x.dll",
                        "C:\\a\\\\b.txt", "C:\\a\\file.name.ext", "C:\\中文目录\\升级.exe", "C:\\a\\CONSOLE.txt",
                        "C:\\a\\COM10", "C:\\a\\.config", "C:\\LPT\\x", "C:\\a b\\c d.exe"})
    EXPECT_EQ(LocalPathProblem(p), "") << p;
}

TEST(LocalPath, HostileFormsAreRefusedWithTheirReason) {
  struct Case {
    const char* path;
    const char* reason;  // a piece of the reason
  } cases[] = {
      {"C:\\a\\..\\..\\Windows\\x.exe", "relative component"},
      {"C:\\a\\.\\b.exe", "relative component"},
      {"C:\\a\\...\\b.exe", "relative component"},
      {"C:\\a\\ \\b.exe", "relative component"},
      {"..\\x.exe", "not an absolute path"},
      {"\\Windows\\x.exe", "not an absolute path"},
      {"C:x.exe", "not an absolute path"},
      {"1:\\x.exe", "not an absolute path"},
      {"C:", "not an absolute path"},
      {"", "empty"},
      {"\\\\.\\PhysicalDrive0", "device or network"},
      {"\\\\?\\C:\\x.exe", "device or network"},
      {"\\??\\C:\\x.exe", "device or network"},
      {"\\\\server\\share\\x.exe", "device or network"},
      {"//server/share/x.exe", "device or network"},
      {"C:\\a\\b.exe:evil", "stream"},
      {"C:\\a\\b.exe::$DATA", "stream"},
      {"C:\\a\\CON", "reserved device"},
      {"C:\\a\\nul.txt", "reserved device"},
      {"C:\\a\\Com1.dll", "reserved device"},
      {"C:\\a\\lpt9", "reserved device"},
      {"C:\\a\\AUX .txt", "reserved device"},
      {"C:\\a\\CONOUT$", "reserved device"},
      {"C:\\a\\COM\xC2\xB9", "reserved device"},
      {"C:\\prn\\x.exe", "reserved device"},
      {"C:\\a\\b.exe.", "ending in a dot"},
      {"C:\\a\\b.exe ", "ending in a dot"},
      {"C:\\a\\", "no file name"},
      {"C:\\a\\b?.exe", "not allowed"},
      {"C:\\a\\*.exe", "not allowed"},
      {"C:\\a\\b\n.exe", "control character"},
  };
  for (const auto& c : cases) {
    const std::string why = LocalPathProblem(c.path);
    EXPECT_NE(why.find(c.reason), std::string::npos) << "\"" << c.path << "\" gave \"" << why << "\"";
  }
}

}  // namespace
}  // namespace corvane
