#include <gtest/gtest.h>

#include "platform/platform.h"
#include "shell/startup.h"
#include "tests/support/test_support.h"

using namespace corvane;
using StartupTest = test::SimMachineTest;

TEST_F(StartupTest, PayloadIsUnpackedIntoTheWorkFolderAndRemovedAtTheEnd) {
  plat::ForceDirectories("C:\\Users\\User\\AppData\\Roaming\\Corvane");
  MakeFile("C:\\Users\\User\\AppData\\Roaming\\Corvane\\bcdedit.exe", "old");
  ASSERT_TRUE(UnpackPayload());
  EXPECT_EQ(WorkFolder(), "C:\\Users\\User\\AppData\\Roaming\\Corvane");
  std::string editor;
  ASSERT_TRUE(plat::ReadWholeFile("C:\\Users\\User\\AppData\\Roaming\\Corvane\\bcdedit.exe", editor));
  EXPECT_NE(editor, "old") << "an older file is overwritten";
  EXPECT_FALSE(plat::FileExists("C:\\Users\\User\\AppData\\Roaming\\res.zip"));
  RemoveWorkFolder();
  EXPECT_FALSE(plat::DirectoryExists(WorkFolder()));
  EXPECT_NO_THROW(RemoveWorkFolder());
}

TEST_F(StartupTest, UnpackingWithoutAnAppDataFolderFailsQuietly) {
  Patch({{"shellFolders", {{"AppData", "Q:\\Missing"}}}});
  EXPECT_FALSE(UnpackPayload());
}
