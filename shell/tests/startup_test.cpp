#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <unistd.h>

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

// The work folder is made anew: nothing planted in an older one stays
// beside the editor, and a link in its place is replaced, not followed.
TEST_F(StartupTest, TheWorkFolderIsMadeAnew) {
  MakeFile("C:\\Users\\User\\AppData\\Roaming\\Corvane\\version.dll", "planted");
  ASSERT_TRUE(UnpackPayload());
  EXPECT_FALSE(plat::FileExists(WorkFolder() + "\\version.dll"));
  EXPECT_TRUE(plat::FileExists(WorkFolder() + "\\bcdedit.exe"));
  RemoveWorkFolder();

  MakeFile("C:\\Windows\\System32\\bcdedit.exe", "the system's");
  ASSERT_EQ(::symlink(Host("C:\\Windows\\System32").c_str(),
                      (Host("C:\\Users\\User\\AppData\\Roaming") + "/Corvane").c_str()),
            0);
  ASSERT_TRUE(UnpackPayload());
  std::string system;
  ASSERT_TRUE(plat::ReadWholeFile("C:\\Windows\\System32\\bcdedit.exe", system));
  EXPECT_TRUE(system == "the system's") << "written through the link";
  RemoveWorkFolder();
  EXPECT_TRUE(plat::FileExists("C:\\Windows\\System32\\bcdedit.exe")) << "removed through the link";
}

TEST_F(StartupTest, UnpackingWithoutAnAppDataFolderFailsQuietly) {
  Patch({{"shellFolders", {{"AppData", "Q:\\Missing"}}}});
  EXPECT_FALSE(UnpackPayload());
}
