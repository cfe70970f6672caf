// The win32 side of the seam, run for real under Wine.
#include <gtest/gtest.h>
#include <set>
#include <windows.h>

#include "common/errors.h"
#include "common/text.h"
#include "common/zip.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "platform/unzip.h"
#include "shell/startup.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

using namespace corvane;

TEST(Win32Seam, ShellFoldersComeFromTheRegistry) {
  const std::string appData = GetAppDataDir();
  ASSERT_FALSE(appData.empty());
  EXPECT_NE(appData.back(), '\\');
  EXPECT_TRUE(plat::DirectoryExists(appData)) << appData;
  EXPECT_FALSE(GetPersonalDir().empty());
  EXPECT_EQ(GetShellFolder("NoSuchValueHere"), "");
}

TEST(Win32Seam, DriveListHasTheSystemDriveInUpperCase) {
  const auto drives = GetDriveList();
  const std::string sys = GetWinDir().substr(0, 2);
  bool found = false;
  for (const auto& d : drives) {
    EXPECT_EQ(d.size(), 2u) << d;
    found |= d == UpperAscii(sys);
  }
  EXPECT_TRUE(found) << sys;
  EXPECT_EQ(plat::DriveType(sys + "\\"), plat::kDriveFixed);
  EXPECT_EQ(GetWinDir().back(), '\\');
  EXPECT_EQ(GetTempDir().back(), '\\');
}

TEST(Win32Seam, PayloadResourceIsAZipWithTheEditorAndTheBootLoaderPair) {
  std::string_view data;
  ASSERT_TRUE(plat::FindResourceData("zip", "res", data));
  ZipReader zip(data);
  std::set<std::string> names;
  for (const auto& e : zip.Entries()) names.insert(e.name);
  EXPECT_EQ(names, (std::set<std::string>{"bcdedit.exe", "qxldr", "qxldr.mbr"}));
  EXPECT_THROW(ExtractResToFile("ZIP", "NoSuchResource", GetTempDir() + "x.zip"), Exception);
}

TEST(Win32Seam, UnpackingFillsTheWorkFolderAndRemovalEmptiesIt) {
  ASSERT_TRUE(UnpackPayload());
  EXPECT_TRUE(plat::FileExists(WorkFolder() + "\\bcdedit.exe"));
  EXPECT_FALSE(plat::FileExists(GetAppDataDir() + "\\res.zip"));
  RemoveWorkFolder();
  EXPECT_FALSE(plat::DirectoryExists(WorkFolder()));
}

// While the program runs, another program of the user can neither change
// the files it runs and copies from the work folder nor swap the folder.
TEST(Win32Seam, ThePayloadCannotBeChangedFromOutsideWhileUnpacked) {
  ASSERT_TRUE(UnpackPayload());
  for (const char* name : {"bcdedit.exe", "qxldr", "qxldr.mbr"}) {
    const std::wstring file = Widen(WorkFolder() + "\\" + name);
    HANDLE w = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(w, INVALID_HANDLE_VALUE) << name << " opened for writing";
    if (w != INVALID_HANDLE_VALUE) ::CloseHandle(w);
    EXPECT_FALSE(::DeleteFileW(file.c_str())) << name;
    EXPECT_FALSE(::MoveFileExW(file.c_str(), (file + L".old").c_str(), 0)) << name;
  }
  const std::wstring folder = Widen(WorkFolder());
  EXPECT_FALSE(::MoveFileExW(folder.c_str(), (folder + L"-old").c_str(), 0)) << "the folder was renamed";
  RemoveWorkFolder();
  EXPECT_FALSE(plat::DirectoryExists(WorkFolder()));
}

TEST(Win32Seam, ExtractionWritesNestedFoldersWithChineseNames) {
  const std::string dir = test::MakeTempDir("zip");
  const std::string zip = test::ZipBuilder().Add("资料/子目录/a.txt", "abc").Add("b.bin", std::string(70000, 'b')).Bytes();
  ExtractZipData(zip, dir);
  std::string got;
  ASSERT_TRUE(plat::ReadWholeFile(dir + "\\资料\\子目录\\a.txt", got));
  EXPECT_EQ(got, "abc");
  EXPECT_EQ(plat::FileSize(dir + "\\b.bin"), 70000);
  const std::string evil = test::ZipBuilder().Add("../evil.txt", "x").Bytes();
  EXPECT_THROW(ExtractZipData(evil, dir + "\\inner"), Exception);
  EXPECT_FALSE(plat::FileExists(dir + "\\evil.txt"));
  plat::RemoveTree(dir);
}

TEST(Win32Seam, NamedMutexSeesTheSecondCreation) {
  HANDLE a = ::CreateMutexW(nullptr, FALSE, L"QL_CORVANE_TEST");
  ASSERT_NE(a, nullptr);
  HANDLE b = ::CreateMutexW(nullptr, FALSE, L"QL_CORVANE_TEST");
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ::CloseHandle(b);
  ::CloseHandle(a);
}
