// The update's pure rules: reading the information file, comparing versions,
// the targets of its entries, the progress values and their label.
#include <gtest/gtest.h>

#include "update/UpdateInfo.h"
#include "update/UpdateProgress.h"
#include "update/UpdateTargets.h"

namespace corvane {
namespace {

TEST(UpdateInfoReading, KeysAreFoundAnywhereWithoutRegardToLetterCase) {
  const std::string text =
      "junk #Version=8\r\n#URL=http://h/Corvaner.exe\r\n#message={line one\r\nline two}\r\n#method=1x\r\n";
  const UpdateInfo info = ReadUpdateInfo(text);
  EXPECT_EQ(info.version, "8");
  EXPECT_EQ(info.method, "1x");
  EXPECT_EQ(info.message, "line one\r\nline two");
  EXPECT_EQ(info.entries, (std::vector<std::string>{"http://h/Corvaner.exe"}));
  EXPECT_EQ(UpdateMethodDigit(info), '1');
  // The first occurrence counts; the value keeps its case and ends at a
  // control character (a tab too).
  EXPECT_EQ(UpdateInfoValue("#date=A\tB\r\n#date=C\r\n", "#DATE"), "A");
  EXPECT_EQ(UpdateInfoValue("#version=8\r\n", "#date"), "");
  // "#message" needs its brace.
  EXPECT_EQ(UpdateInfoValue("#message=plain\r\n", "#message"), "");
}

TEST(UpdateInfoReading, TheLastTwoCharactersNeverBelongToAValue) {
  EXPECT_EQ(UpdateInfoValue("#version=8\r\n", "#version"), "8");
  EXPECT_EQ(UpdateInfoValue("#version=8.10", "#version"), "8.");  // no line end: loses "10"
  EXPECT_EQ(UpdateInfoValue("#version=8", "#version"), "");
  // Characters, not bytes.
  EXPECT_EQ(UpdateInfoValue("#date=2024年1月", "#date"), "2024年");
  EXPECT_EQ(UpdateInfoValue("#message={note}", "#message"), "not");
}

TEST(UpdateInfoReading, UrlNumberingContinuesAfterTheEntriesFound) {
  auto urls = [](const std::string& text) { return ReadUpdateInfo(text).entries; };
  EXPECT_EQ(urls("#url0=http://h/a\r\n#url1=http://h/b\r\n"), (std::vector<std::string>{"http://h/a"}));
  EXPECT_EQ(urls("#url1=http://h/a\r\n#url2=http://h/b\r\n"), (std::vector<std::string>{"http://h/a", "http://h/b"}));
  EXPECT_EQ(urls("#url=http://h/a\r\n#url0=http://h/b\r\n#url2=http://h/c\r\n#url3=http://h/d\r\n#url5=x\r\n"),
            (std::vector<std::string>{"http://h/a", "http://h/b", "http://h/d"}));
  EXPECT_EQ(urls("#url2=http://h/a\r\n"), std::vector<std::string>{});
  EXPECT_EQ(urls("#url11=http://h/k\r\n#url1=http://h/a\r\n"), (std::vector<std::string>{"http://h/a"}));
}

TEST(UpdateVersions, ComparedByNumberWithTextAsTheFallBack) {
  EXPECT_FALSE(IsNewerVersion("7", "7"));
  EXPECT_TRUE(IsNewerVersion("8", "7"));
  EXPECT_TRUE(IsNewerVersion("7.1", "7"));
  EXPECT_TRUE(IsNewerVersion("10", "7"));  // by number: "10" < "7" as text
  EXPECT_TRUE(IsNewerVersion("7a", "7"));  // not a number: as text
  EXPECT_FALSE(IsNewerVersion("6.9.9.9", "7"));
  EXPECT_FALSE(IsNewerVersion("7.0.0.0.9", "7"));  // after the fourth "." ignored
  EXPECT_FALSE(IsNewerVersion("", "7"));
  EXPECT_FALSE(IsNewerVersion("07", "7"));
  EXPECT_TRUE(IsNewerVersion("7.", "7"));  // an empty part is no number: "7." > "7" as text
  EXPECT_EQ(CompareVersions("3.3.30.180", "3.3.30.99"), 1);
  EXPECT_EQ(CompareVersions("99999999999", "7"), 1);  // too big for a number: as text
  // A newer version without entries is no update.
  EXPECT_FALSE(OffersUpdate(ReadUpdateInfo("#version=8\r\n"), "7"));
  EXPECT_TRUE(OffersUpdate(ReadUpdateInfo("#version=8\r\n#url=http://h/x\r\n"), "7"));
}

MarkerFolders Folders() {
  MarkerFolders f;
  f.current = "C:\\Program Files\\Corvane\\";
  f.desktop = "C:\\Users\\U\\Desktop";
  f.appData = "C:\\Users\\U\\AppData\\Roaming";
  f.windows = "C:\\Windows";
  f.system = "C:\\Windows\\System32\\";
  f.temp = "C:\\Users\\U\\AppData\\Local\\Temp\\";
  DeriveWindowsMarkers(f);
  return f;
}

TEST(UpdateTargets, EntriesMarkersAndRelativePaths) {
  const MarkerFolders f = Folders();
  auto target = [&](const std::string& entry) { return ResolveTarget(SplitEntry(entry), f); };
  Target t = target("http://h/dl/Corvaner.exe");
  EXPECT_EQ(t.path, "C:\\Program Files\\Corvane\\Corvaner.exe");
  EXPECT_FALSE(t.explicitLocal);
  EXPECT_EQ(t.problem, "");
  t = target("http://h/x.dll=%SYSTEM%x.dll");
  EXPECT_EQ(t.path, "C:\\Windows\\System32\\x.dll");
  EXPECT_TRUE(t.explicitLocal);
  EXPECT_EQ(t.problem, "");
  EXPECT_EQ(target("http://h/a=%programfiles%Q\\a.txt").path, "C:\\Program Files\\Q\\a.txt");
  EXPECT_EQ(target("http://h/a=%Help%a.chm").path, "C:\\Windows\\HELP\\a.chm");
  EXPECT_EQ(target("http://h/a=%desktop%a.lnk").path, "C:\\Users\\U\\Desktop\\a.lnk");
  EXPECT_EQ(target("http://h/a=sub\\a.dat").path, "C:\\Program Files\\Corvane\\sub\\a.dat");
  EXPECT_EQ(target("http://h/a=D:\\a.dat").path, "D:\\a.dat");
  // Every occurrence of a marker is replaced.
  EXPECT_NE(target("http://h/a=%current%x\\%CURRENT%").problem.find("stream"), std::string::npos);
  // A marker this machine has no folder for is refused.
  EXPECT_NE(target("http://h/a=%mypictures%a.jpg").problem, "");
}

TEST(UpdateTargets, HostilePathsAreRefusedAfterTheirMarkers) {
  const MarkerFolders f = Folders();
  for (const char* entry : {
           "http://h/a=%windows%..\\boot.ini",
           "http://h/a=..\\..\\Windows\\evil.dll",
           "http://h/a=%current%..\\x.exe",
           "http://h/a=\\\\.\\PhysicalDrive0",
           "http://h/a=\\\\?\\C:\\Windows\\evil.dll",
           "http://h/a=\\\\server\\share\\evil.exe",
           "http://h/a=//server/share/evil.exe",
           "http://h/a=\\??\\C:\\evil.exe",
           "http://h/a=%system%kernel32.dll:payload",
           "http://h/a=C:\\Windows\\x.exe::$DATA",
           "http://h/a=%desktop%CON",
           "http://h/a=%current%nul.txt",
           "http://h/a=C:\\x\\COM1.dll",
           "http://h/a=%temp%LPT1",
           "http://h/a=%current%Corvaner.exe.",
           "http://h/a=C:x.exe",
           "http://h/..",
           "http://h/",
       }) {
    EXPECT_NE(ResolveTarget(SplitEntry(entry), f).problem, "") << entry;
  }
}

TEST(UpdateProgressValues, PercentsEstimateRateAndRoundingHalvesToEven) {
  UpdateProgress p = ComputeProgress("u", 1000, 125, 2500, 0, 1);
  EXPECT_EQ(p.ElapsedTime, 2);
  EXPECT_EQ(p.PercentsDone, 12);  // 12.5 rounds to 12
  EXPECT_EQ(p.TotalPercentsDone, 12);
  EXPECT_EQ(p.EstimatedTimeLeft, 14);  // 1000/125*2 = 16, minus 2
  EXPECT_FLOAT_EQ(p.TransferRate, 125 / 1024.0f / 2);
  EXPECT_EQ(ComputeProgress("u", 1000, 135, 0, 0, 1).PercentsDone, 14);  // 13.5 rounds to 14
  // Several files: this file's part plus the share of those before it.
  EXPECT_EQ(ComputeProgress("u", 100, 100, 0, 2, 3).TotalPercentsDone, 100);  // 33 + round(66.67)
  EXPECT_EQ(ComputeProgress("u", 100, 50, 0, 1, 8).TotalPercentsDone, 6 + 12);   // 12.5 rounds to 12
  EXPECT_EQ(ComputeProgress("u", 100, 50, 0, 3, 8).TotalPercentsDone, 6 + 38);   // 37.5 rounds to 38
  // Unknown size, nothing read yet, no time passed.
  p = ComputeProgress("u", -1, 0, 0, 0, 2);
  EXPECT_EQ(p.PercentsDone, 0);
  EXPECT_EQ(p.EstimatedTimeLeft, 0);
  EXPECT_FLOAT_EQ(p.TransferRate, 0);
  EXPECT_FLOAT_EQ(ComputeProgress("u", 0, 2048, 0, 0, 1).TransferRate, 2.0f);  // elapsed 0: not divided
}

TEST(UpdateProgressValues, LabelSwitchesToMegabytesAtExactly1024) {
  EXPECT_EQ(UpdateProgressText(37, 1024.0f, "."), "正在升级到最新版(37% 1.00 MB/s)");
  EXPECT_EQ(UpdateProgressText(37, 1023.5f, "."), "正在升级到最新版(37% 1023.50 KB/s)");
  EXPECT_EQ(UpdateProgressText(100, 2560.0f, ","), "正在升级到最新版(100% 2,50 MB/s)");
  EXPECT_EQ(UpdateProgressText(0, 0.0f, ","), "正在升级到最新版(0% 0,00 KB/s)");
}

}  // namespace
}  // namespace corvane
