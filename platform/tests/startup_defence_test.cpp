// The first steps of the program under Wine: the error mode, the DLL search
// on Windows with and without SetDefaultDllDirectories, and delay-loaded
// libraries taken from the system folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <string>

#include "platform/win32/startup_defence.h"

namespace {

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

TEST(StartupDefence, NoSystemDialogForADriveWithoutADisk) {
  ::SetErrorMode(0);
  plat::win32::DefendProcess();
  const UINT mode = ::GetErrorMode();
  EXPECT_TRUE(mode & SEM_FAILCRITICALERRORS);
  EXPECT_TRUE(mode & SEM_NOOPENFILEERRORBOX);
}

TEST(StartupDefence, WithoutSetDefaultDllDirectoriesTheCurrentFolderIsLeftOut) {
  ASSERT_TRUE(::SetDllDirectoryW(L"C:\\windows"));
  EXPECT_EQ(plat::win32::DefendProcess(nullptr), plat::win32::DllSearch::CurrentFolderLeftOut);
  wchar_t dir[MAX_PATH] = L"x";
  EXPECT_EQ(::GetDllDirectoryW(MAX_PATH, dir), 0u);
  EXPECT_STREQ(dir, L"");
  // Where Windows has it, it is found at run time and used.
  EXPECT_EQ(plat::win32::DefendProcess(), plat::win32::DllSearch::SystemFolderOnly);
}

TEST(StartupDefence, DelayLoadedLibrariesComeFromTheSystemFolder) {
  plat::win32::DefendProcess();
  wchar_t self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  // version.dll is bound on first use (it is not in the import table).
  EXPECT_GT(::GetFileVersionInfoSizeW(self, nullptr), 0u);
  HMODULE version = ::GetModuleHandleW(L"version.dll");
  ASSERT_NE(version, nullptr);
  wchar_t path[MAX_PATH], sys[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameW(version, path, MAX_PATH), 0u);
  ASSERT_GT(::GetSystemDirectoryW(sys, MAX_PATH), 0u);
  EXPECT_EQ(Lower(path), Lower(std::wstring(sys) + L"\\version.dll"));
}

}  // namespace
