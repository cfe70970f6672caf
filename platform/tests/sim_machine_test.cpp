#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "tests/support/test_support.h"

using corvane::test::SimMachineTest;

TEST_F(SimMachineTest, PathsResolveWithoutRegardToLetterCase) {
  MakeFile("D:\\Win10Data\\Config.ini", "[Config]");
  Patch({{"drives", {{"C", 3}, {"D", 3}}}});
  EXPECT_TRUE(plat::FileExists("d:\\WIN10DATA\\config.INI"));
  EXPECT_EQ(Host("D:\\WIN10DATA\\x"), root_ + "/D/Win10Data/x");
  EXPECT_TRUE(plat::ForceDirectories("D:\\WIN10DATA\\资料备份\\我的文档"));
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/D/Win10Data/资料备份/我的文档"));
}

TEST_F(SimMachineTest, DrivesAndTypesComeFromTheProfile) {
  Patch({{"drives", {{"E", 5}, {"C", 3}, {"D", 3}}}});
  EXPECT_EQ(plat::LogicalDriveStrings(), (std::vector<std::string>{"C:\\", "D:\\", "E:\\"}));
  EXPECT_EQ(plat::DriveType("E:\\"), plat::kDriveCdrom);
  EXPECT_EQ(plat::DriveType("Z:\\"), plat::kDriveNoRootDir);
}

TEST_F(SimMachineTest, ReadOnlyFilesRefuseChangesAsOnWindows) {
  MakeFile("C:\\Boot.ini", "[boot loader]");
  ASSERT_TRUE(plat::SetAttributes("C:\\Boot.ini", plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem));
  EXPECT_FALSE(plat::WriteWholeFile("C:\\Boot.ini", "x"));
  EXPECT_FALSE(plat::RemoveFile("C:\\Boot.ini"));
  EXPECT_EQ(plat::FileAttributes("C:\\Boot.ini"), plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem);
  EXPECT_TRUE(plat::CopyFileTo("C:\\Boot.ini", "C:\\Boot.ini.bak", false));
  ASSERT_TRUE(plat::SetAttributes("C:\\Boot.ini", plat::kAttrNormal));
  EXPECT_TRUE(plat::RemoveFile("C:\\Boot.ini"));
}

TEST_F(SimMachineTest, AnsiCodePageFollowsTheProfile) {
  EXPECT_EQ(plat::Utf8ToAnsi("备份"), "备份");
  Patch({{"codepage", "GBK"}});
  EXPECT_EQ(plat::Utf8ToAnsi("备份"), "\xB1\xB8\xB7\xDD");
  EXPECT_EQ(plat::AnsiToUtf8("\xB1\xB8\xB7\xDD"), "备份");
}

TEST_F(SimMachineTest, CurrentDirectoryResolvesRelativePaths) {
  MakeFile("C:\\Users\\User\\AppData\\Roaming\\Corvane\\bcdedit.exe");
  EXPECT_FALSE(plat::SetCurrentDir("C:\\nowhere"));
  ASSERT_TRUE(plat::SetCurrentDir("c:\\users\\user\\appdata\\roaming\\corvane"));
  EXPECT_TRUE(plat::FileExists("bcdedit.exe"));
  EXPECT_TRUE(plat::FileExists("\\Users\\User\\AppData\\Roaming\\Corvane\\bcdedit.exe"));
}
