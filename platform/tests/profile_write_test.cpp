// Writing profile (INI) files: the same cases over the simulated machine's
// writer and, under Wine, Windows' own WritePrivateProfileString, and what
// the program's INI reader then reads.
#include <gtest/gtest.h>

#include <string>

#include "download/IniFile.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace {

#ifdef _WIN32
class ProfileWrite : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = corvane::test::MakeTempDir("ini"); }
  std::string dir_;
};
#else
class ProfileWrite : public corvane::test::SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    plat::ForceDirectories("C:\\ini");
  }
  std::string dir_ = "C:\\ini";
};
#endif

std::string Read(const std::string& file) {
  std::string s;
  plat::ReadWholeFile(file, s);
  return s;
}

// The text without its blank lines: Windows keeps them, Wine's profile
// functions drop them when they rewrite a file.
std::string WithoutBlankLines(std::string s) {
  for (size_t p; (p = s.find("\r\n\r\n")) != std::string::npos;) s.erase(p, 2);
  return s;
}

TEST_F(ProfileWrite, NewFileGetsItsSectionsInTheOrderWritten) {
  const std::string f = dir_ + "\\Config.ini";
  ASSERT_TRUE(plat::WriteProfileText(f, "Config", "Platform", "X64"));
  ASSERT_TRUE(plat::WriteProfileText(f, "Config", "ExtractSize", "5573967872"));
  ASSERT_TRUE(plat::WriteProfileText(f, "Config", "Key", "K"));
  ASSERT_TRUE(plat::WriteProfileText(f, "Other", "a", "1"));
  EXPECT_EQ(Read(f), "[Config]\r\nPlatform=X64\r\nExtractSize=5573967872\r\nKey=K\r\n[Other]\r\na=1\r\n");
}

TEST_F(ProfileWrite, ExistingKeyIsReplacedInPlaceWhateverItsLetterCase) {
  const std::string f = dir_ + "\\boot.ini";
  ASSERT_TRUE(plat::WriteWholeFile(f, "[Boot Loader]\r\nTimeOut=30\r\ndefault=x\r\n\r\n[operating systems]\r\nx=\"XP\"\r\n"));
  ASSERT_TRUE(plat::WriteProfileText(f, "boot loader", "timeout", "10"));
  EXPECT_EQ(WithoutBlankLines(Read(f)), "[Boot Loader]\r\nTimeOut=10\r\ndefault=x\r\n[operating systems]\r\nx=\"XP\"\r\n");
  const corvane::IniFile ini(Read(f));
  EXPECT_EQ(ini.ReadString("boot loader", "timeout", ""), "10");
}

TEST_F(ProfileWrite, NewKeyFollowsTheLastEntryOfItsSection) {
  const std::string f = dir_ + "\\boot.ini";
  ASSERT_TRUE(plat::WriteWholeFile(f, "[boot loader]\r\ntimeout=30\r\n\r\n[operating systems]\r\nx=\"XP\"\r\n"));
  ASSERT_TRUE(plat::WriteProfileText(f, "boot loader", "default", "C:\\qxldr.mbr"));
  ASSERT_TRUE(plat::WriteProfileText(f, "operating systems", "C:\\qxldr.mbr", "\"升级\""));
  EXPECT_EQ(WithoutBlankLines(Read(f)), "[boot loader]\r\ntimeout=30\r\ndefault=C:\\qxldr.mbr\r\n[operating systems]\r\nx=\"XP\"\r\n" +
                                          plat::Utf8ToAnsi("C:\\qxldr.mbr=\"升级\"") + "\r\n");
  // In the ANSI code page (where it has no such characters: question marks).
  const corvane::IniFile ini(plat::AnsiToUtf8(Read(f)));
  EXPECT_EQ(ini.ReadString("operating systems", "c:\\QXLDR.MBR", ""), plat::AnsiToUtf8(plat::Utf8ToAnsi("升级")));
}

TEST_F(ProfileWrite, FileWithoutAFinalLineBreakGetsTheNewSectionOnItsOwnLine) {
  const std::string f = dir_ + "\\a.ini";
  ASSERT_TRUE(plat::WriteWholeFile(f, "[a]\r\nx=1"));
  ASSERT_TRUE(plat::WriteProfileText(f, "b", "y", "2"));
  const corvane::IniFile ini(Read(f));
  EXPECT_EQ(ini.ReadString("a", "x", ""), "1");
  EXPECT_EQ(ini.ReadString("b", "y", ""), "2");
}

TEST_F(ProfileWrite, ReadOnlyFileOrMissingFolderFails) {
  EXPECT_FALSE(plat::WriteProfileText(dir_ + "\\missing\\b.ini", "a", "x", "1"));
#ifndef _WIN32  // Wine run by root writes read-only files (root ignores the mode bits)
  const std::string f = dir_ + "\\ro.ini";
  ASSERT_TRUE(plat::WriteWholeFile(f, "[a]\r\nx=1\r\n"));
  ASSERT_TRUE(plat::SetAttributes(f, plat::kAttrReadOnly));
  EXPECT_FALSE(plat::WriteProfileText(f, "a", "x", "2"));
  EXPECT_EQ(Read(f), "[a]\r\nx=1\r\n");
#endif
}

}  // namespace
