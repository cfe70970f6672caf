#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

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

// The boot loader pair lands beside the editor byte for byte as the build
// made it (the boot entry copies these two to the system drive).
TEST_F(StartupTest, PayloadCarriesTheBootLoaderPairAsBuilt) {
  const char* build = std::getenv("CORVANE_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  plat::ForceDirectories("C:\\Users\\User\\AppData\\Roaming");
  ASSERT_TRUE(UnpackPayload());
  for (const std::string name : {"qxldr", "qxldr.mbr"}) {
    std::ifstream built(std::string(build) + "/resources/loader/" + name, std::ios::binary);
    ASSERT_TRUE(built) << name;
    const std::string expected{std::istreambuf_iterator<char>(built), std::istreambuf_iterator<char>()};
    std::string unpacked;
    ASSERT_TRUE(plat::ReadWholeFile(WorkFolder() + "\\" + name, unpacked)) << name;
    EXPECT_EQ(unpacked.size(), expected.size()) << name;
    EXPECT_TRUE(unpacked == expected) << name;
  }
  RemoveWorkFolder();
}

TEST_F(StartupTest, UnpackingWithoutAnAppDataFolderFailsQuietly) {
  Patch({{"shellFolders", {{"AppData", "Q:\\Missing"}}}});
  EXPECT_FALSE(UnpackPayload());
}
