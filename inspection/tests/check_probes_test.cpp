// The data-drive choice and the boot entry test on the simulated machine.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "inspection/environment_check.h"
#include "tests/support/test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kLimit = 5'294'967'296;

class ChooseDataDriveTest : public test::SimMachineTest {
 protected:
  // drives: letter -> {type, free bytes (-1: no LogicalDisk instance)}
  void Machine(const std::vector<std::tuple<std::string, int, int64_t>>& drives) {
    nlohmann::json types = nlohmann::json::object(), disks = nlohmann::json::array();
    for (const auto& [letter, type, free] : drives) {
      types[letter] = type;
      if (free >= 0) disks.push_back({{"Caption", letter + ":"}, {"Size", free + 1000}, {"FreeSpace", free}});
    }
    Patch({{"drives", types}, {"wmi", {{"LogicalDisk", disks}}}});
  }
};

TEST_F(ChooseDataDriveTest, OnlyTheSystemDiskGivesNoDataDrive) {
  Machine({{"C", 3, 900'000'000'000}, {"E", 5, 900'000'000'000}, {"F", 2, 900'000'000'000}});
  EXPECT_EQ(ChooseDataDrive("C:"), "");
  EXPECT_EQ(ChooseDataDrive("c:"), "");  // the system drive is compared in upper case
}

TEST_F(ChooseDataDriveTest, FreeSpaceLimitAndTies) {
  Machine({{"C", 3, 900'000'000'000}, {"D", 3, kLimit - 1}, {"E", 3, kLimit}});
  EXPECT_EQ(ChooseDataDrive("C:"), "E:");
  Machine({{"C", 3, 0}, {"D", 3, kLimit - 1}});
  EXPECT_EQ(ChooseDataDrive("C:"), "");

  // Equal drives: the earlier letter stays; more space later still wins.
  Machine({{"C", 3, 0}, {"D", 3, 8'000'000'000}, {"E", 3, 8'000'000'000}});
  EXPECT_EQ(ChooseDataDrive("C:"), "D:");
  Machine({{"C", 3, 0}, {"D", 3, 8'000'000'000}, {"E", 3, 8'000'000'001}, {"G", 3, -1}});
  EXPECT_EQ(ChooseDataDrive("C:"), "E:");
  // A system drive elsewhere than C: is skipped like C: is.
  EXPECT_EQ(ChooseDataDrive("E:"), "D:");
}

TEST_F(ChooseDataDriveTest, AnEarlierRunsHandOffFileWinsAtOnce) {
  Machine({{"C", 3, 0}, {"D", 3, 100}, {"E", 3, 900'000'000'000}});
  MakeFile("D:\\Win10Data\\Config.ini", "[Config]\r\n");
  EXPECT_EQ(ChooseDataDrive("C:"), "D:");

  // After a bigger drive too, and only on a fixed disk other than the system's.
  fs::remove_all(Host("D:\\Win10Data"));
  Machine({{"C", 3, 0}, {"D", 3, 900'000'000'000}, {"E", 2, 10}, {"F", 3, 10}});
  MakeFile("C:\\WIN10DATA\\Config.ini");
  MakeFile("E:\\WIN10DATA\\Config.ini");
  MakeFile("F:\\WIN10DATA\\Config.ini");
  EXPECT_EQ(ChooseDataDrive("C:"), "F:");
}

TEST_F(ChooseDataDriveTest, AMachineWithoutWmiGivesNoDrive) {
  Machine({{"C", 3, 0}, {"D", 3, 900'000'000'000}});
  Patch({{"wmi", nullptr}});  // every size query fails and reads -1
  EXPECT_EQ(ChooseDataDrive("C:"), "");
}

// The stand-in editor as the work folder's bcdedit.exe.
class CheckBootEntryTest : public test::SimMachineTest {
 protected:
  void Install(const std::string& appData = "C:\\Users\\User\\AppData\\Roaming") {
    Patch({{"shellFolders", {{"AppData", appData}}}});
    const fs::path editor = Host(appData + "\\Corvane\\bcdedit.exe");
    fs::create_directories(editor.parent_path());
    fs::copy_file(BCDEDIT_STANDIN, editor, fs::copy_options::overwrite_existing);
    store_ = editor.parent_path() / "bcdstore.json";
  }
  void Firmware(const std::string& kind) {
    // What the stand-in itself writes for "/standin-init": a fresh store,
    // or an empty file for a machine without boot configuration data.
    fs::remove(store_);
    if (kind == "none") {
      std::ofstream(store_).flush();
    } else if (kind == "uefi") {
      ::setenv("CORVANE_BCD_FIRMWARE", "uefi", 1);
      CheckBootEntry();  // creates the store
      ::unsetenv("CORVANE_BCD_FIRMWARE");
    }
  }
  fs::path store_;
};

TEST_F(CheckBootEntryTest, PassesOnlyForTheBiosLoader) {
  Install();
  EXPECT_TRUE(CheckBootEntry());  // a fresh store: started through winload.exe
  EXPECT_TRUE(fs::exists(store_));
  Firmware("uefi");
  EXPECT_FALSE(CheckBootEntry());
  Firmware("none");
  EXPECT_FALSE(CheckBootEntry());
  fs::remove(store_.parent_path() / "bcdedit.exe");
  EXPECT_FALSE(CheckBootEntry());  // the command cannot run
}

TEST_F(CheckBootEntryTest, AnApplicationDataFolderWithABlankStillWorks) {
  Install("C:\\Users\\John Smith\\AppData\\Roaming");
  EXPECT_TRUE(CheckBootEntry());
}

}  // namespace
}  // namespace corvane
