// Held files and folders: extracted files checked against the archive and
// held; fresh folders made anew without following links; and under Wine,
// nobody else can write, delete or rename what is held.
#include <gtest/gtest.h>

#include "common/errors.h"
#include "common/text.h"
#include "platform/held.h"
#include "platform/platform.h"
#include "platform/unzip.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
class HeldTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = corvane::test::MakeTempDir("held"); }
  void TearDown() override { plat::RemoveTree(dir_); }
  std::string dir_;
};
#else
class HeldTest : public corvane::test::SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    dir_ = "C:\\Held";
    plat::ForceDirectories(dir_);
  }
  std::string dir_;
};
#endif

TEST_F(HeldTest, AFileIsHeldOnlyWithTheContentItWasWrittenWith) {
  const std::string f = dir_ + "\\a.bin";
  ASSERT_TRUE(plat::WriteWholeFile(f, "written"));
  plat::Holds holds;
  EXPECT_FALSE(holds.HoldFile(f, "swapped")) << "a file changed before it was held";
  EXPECT_FALSE(holds.HoldFile(f, "writ"));
  EXPECT_TRUE(holds.HoldFile(f, "written"));
  EXPECT_FALSE(holds.HoldFile(dir_ + "\\missing", ""));
  // A new file is never written over one that is there.
  EXPECT_FALSE(plat::WriteNewFile(f, "other"));
  EXPECT_TRUE(plat::WriteNewFile(dir_ + "\\b.bin", "b"));
}

TEST_F(HeldTest, HeldExtractionHoldsEveryFolderAndFileAndRefusesTakenNames) {
  const std::string zip = corvane::test::ZipBuilder().Add("x.exe", "program").Add("sub/y.dll", "library").Bytes();
  const std::string into = dir_ + "\\work";
  ASSERT_TRUE(plat::MakeFreshFolder(into));
  plat::Holds holds;
  ASSERT_TRUE(holds.HoldFolder(into));
  corvane::ExtractZipDataHeld(zip, into + "\\", holds);
  EXPECT_EQ(holds.Count(), 4u);  // the folder, x.exe, sub, sub\y.dll
  std::string got;
  ASSERT_TRUE(plat::ReadWholeFile(into + "\\sub\\y.dll", got));
  EXPECT_EQ(got, "library");
  holds.ReleaseAll();

  // A name taken in the folder before the extraction (a planted file, or a
  // link that would carry the writing elsewhere) stops it.
  ASSERT_TRUE(plat::MakeFreshFolder(into));
  ASSERT_TRUE(plat::WriteWholeFile(into + "\\x.exe", "planted"));
  ASSERT_TRUE(holds.HoldFolder(into));
  EXPECT_THROW(corvane::ExtractZipDataHeld(zip, into + "\\", holds), corvane::Exception);
  ASSERT_TRUE(plat::ReadWholeFile(into + "\\x.exe", got));
  EXPECT_EQ(got, "planted");
}

TEST_F(HeldTest, AFreshFolderReplacesWhatWasThere) {
  const std::string work = dir_ + "\\work";
  ASSERT_TRUE(plat::ForceDirectories(work + "\\deep"));
  ASSERT_TRUE(plat::WriteWholeFile(work + "\\deep\\planted.dll", "x"));
  ASSERT_TRUE(plat::MakeFreshFolder(work));
  std::vector<plat::DirEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(work, entries));
  EXPECT_TRUE(entries.empty());
  // A file of that name goes too.
  ASSERT_TRUE(plat::RemoveTree(work));
  ASSERT_TRUE(plat::WriteWholeFile(work, "a file"));
  EXPECT_TRUE(plat::MakeFreshFolder(work));
  EXPECT_TRUE(plat::DirectoryExists(work));
}

#ifndef _WIN32
// A link in the folder's place is removed itself: what it points to stays
// whole, and nothing is written there.
TEST_F(HeldTest, AFolderLinkIsRemovedNotFollowed) {
  MakeFile("C:\\Windows\\System32\\important.dll", "system");
  ASSERT_EQ(::symlink(Host("C:\\Windows\\System32").c_str(), Host(dir_ + "\\work").c_str()), 0);
  plat::Holds holds;
  EXPECT_FALSE(holds.HoldFolder(dir_ + "\\work")) << "a link is never held";
  ASSERT_TRUE(plat::MakeFreshFolder(dir_ + "\\work"));
  EXPECT_TRUE(plat::FileExists("C:\\Windows\\System32\\important.dll"));
  EXPECT_TRUE(holds.HoldFolder(dir_ + "\\work"));
  EXPECT_FALSE(plat::FileExists(dir_ + "\\work\\important.dll"));
}
#endif

#ifdef _WIN32
// What the program holds, another program can read but not change.
TEST_F(HeldTest, HeldFilesAndFoldersCannotBeChangedFromOutside) {
  const std::string zip = corvane::test::ZipBuilder().Add("bcdedit.exe", "editor").Bytes();
  const std::string work = dir_ + "\\work";
  ASSERT_TRUE(plat::MakeFreshFolder(work));
  plat::Holds holds;
  ASSERT_TRUE(holds.HoldFolder(work));
  corvane::ExtractZipDataHeld(zip, work + "\\", holds);
  const std::wstring file = corvane::Widen(work + "\\bcdedit.exe"), folder = corvane::Widen(work);

  HANDLE w = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(w, INVALID_HANDLE_VALUE) << "opened for writing";
  if (w != INVALID_HANDLE_VALUE) ::CloseHandle(w);
  EXPECT_FALSE(::DeleteFileW(file.c_str()));
  EXPECT_FALSE(::MoveFileExW(file.c_str(), (file + L".old").c_str(), 0));
  EXPECT_FALSE(::MoveFileExW(folder.c_str(), (folder + L"-old").c_str(), 0)) << "the folder was renamed";
  EXPECT_FALSE(::RemoveDirectoryW(folder.c_str()));
  std::string got;
  ASSERT_TRUE(plat::ReadWholeFile(work + "\\bcdedit.exe", got)) << "others may still read";
  EXPECT_EQ(got, "editor");

  holds.ReleaseAll();
  w = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(w, INVALID_HANDLE_VALUE) << "still refused after the release";
  if (w != INVALID_HANDLE_VALUE) ::CloseHandle(w);
}
#endif

}  // namespace
