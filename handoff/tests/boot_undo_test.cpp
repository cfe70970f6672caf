// The way back from the boot entry on the simulated machine: the record kept
// before the first change, and /undoboot putting the boot store (compared
// whole), Boot.ini and the drives back as they were. The payload's stand-in
// editor keeps its store in one file for the attempts and the undo alike.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "common/text.h"
#include "common/ui_thread.h"
#include "handoff/boot_record.h"
#include "handoff/boot_undo.h"
#include "handoff/tests/handoff_machine.h"
#include "inspection/uCommon.h"
#include "platform/admin_folder.h"
#include "shell/F_Main.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/no_host.h"

namespace corvane {
namespace {

using nlohmann::json;
const char* const kId = "{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}";
const char* const kBootMgr = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
const char* const kLoader = "{5f1c2a8e-3b7d-4c61-9a0e-2d4b6f8c1e37}";
const uint32_t kRhs = plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem;

using test::NoHost;

// Every file of the drives (work folder aside, the store is compared on its
// own) with its bytes and attributes, and every folder.
using Tree = std::map<std::string, std::pair<std::string, uint32_t>>;

class BootUndo : public test::HandoffMachine {
 protected:
  void SetUp() override {
    test::HandoffMachine::SetUp();
#ifndef PAYLOAD_HAS_STANDIN
    GTEST_SKIP() << "the payload carries the forwarder, not the stand-in editor";
#endif
    // The program's attempts and the undo's own copy of the editor share
    // one store.
    ::setenv("CORVANE_BCD_STORE", Host(Work("bcdstore.json")).c_str(), 1);
    ASSERT_TRUE(plat::ForceDirectories("C:\\ProgramData"));
    // What a run leaves besides the boot entry: the images and a backup.
    MakeFile("D:\\Win10Data\\System\\Install.img", "install image");
    MakeFile("D:\\WIN10DATA\\资料备份\\Documents\\a.doc", "backed up");
    MakeFile("C:\\Boot\\Win8PE.iso", "boot image");
    frm_.vDataDriver = "D:";
  }
  void TearDown() override {
    ::unsetenv("CORVANE_BCD_STORE");
    test::HandoffMachine::TearDown();
  }

  // An attempt as the hand-off makes it: the entry, then the hand-off file.
  void Make() {
    ASSERT_TRUE(frm_.MakeBoot("升级到Windows10系统", 10));
    ASSERT_TRUE(plat::WriteProfileText(frm_.vDataDriver + "\\Win10Data\\Config.ini", "Config", "Platform", "X64"));
  }
  void InitStore() { RunAndCapture("bcdedit.exe /enum", WorkFolder()); }

  void Walk(const std::string& dir, Tree& tree) {
    std::vector<plat::DirEntry> entries;
    plat::ListDirectory(dir, entries);
    for (const auto& e : entries) {
      const std::string path = dir + "\\" + e.name;
      if (EqualsNoCase(path, WorkFolder())) continue;
      if (e.attrs & plat::kAttrDirectory) {
        tree[path + "\\"] = {"", e.attrs};
        Walk(path, tree);
      } else {
        tree[path] = {Text(path), plat::FileAttributes(path)};
      }
    }
  }
  Tree Drives() {
    Tree tree;
    Walk("C:", tree);
    Walk("D:", tree);
    return tree;
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string text = Text("D:\\corvane.txt"), line;
    for (char c : text) {
      if (c == '\n') {
        lines.push_back(Trim(line));
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  }

  test::VirtualClock clock_;
  TaskQueueUiThread ui_;
  NoHost host_;
  TFrm_Main frm_{ui_, clock_, host_};
};

TEST_F(BootUndo, MakeThenUndoLeavesTheStoreAndTheDrivesAsBefore) {
  InitStore();
  const json store = Store();
  const Tree drives = Drives();
  Make();
  ASSERT_NE(Store(), store);
  const auto record = LoadBootRecord();
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->previousDefault, kLoader);
  EXPECT_EQ(record->previousTimeout, "30");
  EXPECT_EQ(record->dataDrives, std::vector<std::string>{"D:"});
  EXPECT_TRUE(plat::IsAdminOnlyDir(BootRecordFolder()));

  EXPECT_EQ(UndoBoot(), 0);
  EXPECT_EQ(Store(), store);
  // The loader files, the hand-off file and the record are gone; the images
  // and the backup stay; no log without /D when nothing failed.
  EXPECT_EQ(Drives(), drives);
  // Once more: nothing left to undo.
  EXPECT_EQ(UndoBoot(), 0);
  EXPECT_EQ(Store(), store);
  EXPECT_EQ(Drives(), drives);
}

TEST_F(BootUndo, TwoAttemptsThenOneUndoRestoreTheFirstState) {
  InitStore();
  ASSERT_TRUE(plat::ForceDirectories("C:\\Win10Data"));
  const json store = Store();
  const Tree drives = Drives();
  Make();
  // The second attempt finds our entry as the default: the record keeps what
  // the first one found.
  frm_.vDataDriver = "C:";
  Make();
  const auto record = LoadBootRecord();
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->previousDefault, kLoader);
  EXPECT_EQ(record->previousTimeout, "30");
  EXPECT_EQ(record->dataDrives, (std::vector<std::string>{"D:", "C:"}));
  EXPECT_EQ(UndoBoot(), 0);
  EXPECT_EQ(Store(), store);
  EXPECT_EQ(Drives(), drives);
}

TEST_F(BootUndo, WithNothingMadeNothingChanges) {
  InitStore();
  const json store = Store();
  const std::string storeBytes = Text(Work("bcdstore.json"));
  const Tree drives = Drives();
  EXPECT_EQ(UndoBoot(), 0);
  EXPECT_EQ(Text(Work("bcdstore.json")), storeBytes);
  EXPECT_EQ(Drives(), drives);
  // And on a machine with Boot.ini of its own.
  MakeFile("C:\\Boot.ini", "[boot loader]\r\ntimeout=30\r\n");
  const Tree withBootIni = Drives();
  EXPECT_EQ(UndoBoot(), 0);
  EXPECT_EQ(Drives(), withBootIni);
}

// The Boot.ini branch from three starting roots: Boot.ini alone, Boot.ini
// with a backup of the user's own, and neither Boot.ini nor bootmgr. Two
// attempts, then one undo: the root byte for byte as it was, attributes
// included, although the second attempt backed up the edited Boot.ini.
class BootIniUndo : public BootUndo, public ::testing::WithParamInterface<int> {};

TEST_P(BootIniUndo, RoundTripIsByteForByte) {
  const std::string original =
      "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n\r\n"
      "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP\" /fastdetect\r\n";
  if (GetParam() == 2) {
    plat::RemoveFile("C:\\bootmgr");
  } else {
    MakeFile("C:\\Boot.ini", original);
    plat::SetAttributes("C:\\Boot.ini", kRhs | plat::kAttrArchive);
  }
  if (GetParam() == 1) {
    MakeFile("C:\\Boot.ini.bak", "the user's own backup");
    plat::SetAttributes("C:\\Boot.ini.bak", plat::kAttrHidden);
  }
  const Tree drives = Drives();
  Make();
  Make();
  EXPECT_NE(Text("C:\\Boot.ini"), original);
  const auto record = LoadBootRecord();
  ASSERT_TRUE(record.has_value());
  EXPECT_TRUE(record->bootIni);
  EXPECT_EQ(record->savedBootIniBak.existed, GetParam() == 1) << "Boot.ini.bak is ours unless it was there";
  EXPECT_FALSE(plat::FileExists(Work("bcdstore.json"))) << "the editor did not run";

  EXPECT_EQ(UndoBoot(), 0);
  EXPECT_EQ(Drives(), drives);
}

INSTANTIATE_TEST_SUITE_P(Roots, BootIniUndo, ::testing::Values(0, 1, 2));

TEST_F(BootUndo, FailingEditorCommandIsReportedAndTheRestStillUndone) {
  InitStore();
  Make();
  // The Windows entry that was the default is gone by the time of the undo:
  // restoring it as the default fails.
  json changed = Store();
  changed["entries"].erase(kLoader);
  plat::WriteWholeFile(Work("bcdstore.json"), changed.dump(2));

  EXPECT_EQ(UndoBoot(), 1);
  const json store = Store();
  EXPECT_FALSE(store["entries"].contains(kId));
  EXPECT_EQ(store["entries"][kBootMgr]["elements"]["timeout"], "30");
  for (const char* file : {"C:\\qxldr", "C:\\qxldr.mbr", "D:\\Win10Data\\Config.ini"})
    EXPECT_FALSE(plat::FileExists(file)) << file;
  EXPECT_TRUE(plat::FileExists("D:\\Win10Data\\System\\Install.img"));
  // One line, for the one step that failed, without "/D".
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u) << testing::PrintToString(lines);
  EXPECT_NE(lines[0].find(std::string("UndoBoot Error:restore default entry ") + kLoader +
                          ": bcdedit /default " + kLoader + ": An error occurred"),
            std::string::npos)
      << lines[0];
  // The record stays, so that the undo can be run again once the entry is
  // back; with "/D" the steps done are written too.
  ASSERT_TRUE(LoadBootRecord().has_value());
  json back = Store();
  back["entries"][kLoader] = json::parse(R"({"type": "osloader", "elements": {"description": "Windows 7"}})");
  plat::WriteWholeFile(Work("bcdstore.json"), back.dump(2));
  Patch({{"args", {"/D", "/undoboot"}}});
  EXPECT_EQ(UndoBoot(), 0);
  EXPECT_EQ(Store()["entries"][kBootMgr]["elements"]["default"], kLoader);
  EXPECT_FALSE(LoadBootRecord().has_value());
  EXPECT_FALSE(plat::DirectoryExists(BootRecordFolder()));
  const std::vector<std::string> after = LogLines();
  ASSERT_EQ(after.size(), 2u) << testing::PrintToString(after);
  EXPECT_NE(after[1].find(std::string("UndoBoot:restore default entry ") + kLoader), std::string::npos) << after[1];
}

TEST_F(BootUndo, EntryMadeWithoutARecordGivesTheDefaultBackToTheRunningWindows) {
  InitStore();
  Make();
  ForgetBootRecord();  // as after an attempt of a version that kept none
  Make();
  const auto record = LoadBootRecord();
  ASSERT_TRUE(record.has_value());
  EXPECT_FALSE(record->previousDefault.has_value()) << "our own entry is never the previous default";
  EXPECT_EQ(UndoBoot(), 0);
  const json store = Store();
  const json& bm = store["entries"][kBootMgr]["elements"];
  EXPECT_EQ(bm["default"], kLoader);
  EXPECT_EQ(bm["timeout"], "10") << "the time-out found then was ours; it is not guessed";
  EXPECT_EQ(bm["displayorder"], json::array({kLoader}));
}

TEST_F(BootUndo, BootIniWithTheStubButNoRecordIsReported) {
  plat::RemoveFile("C:\\bootmgr");
  Make();
  ForgetBootRecord();
  const std::string edited = Text("C:\\Boot.ini");
  EXPECT_EQ(UndoBoot(), 1);
  EXPECT_EQ(Text("C:\\Boot.ini"), edited) << "nothing to restore it from";
  EXPECT_FALSE(plat::FileExists("C:\\qxldr.mbr"));
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_NE(LogLines()[0].find("UndoBoot Error:restore C:\\Boot.ini: it starts qxldr.mbr"), std::string::npos);
}

TEST_F(BootUndo, RecordFolderMadeByAnotherUserIsSetAsideAndNotBelieved) {
  InitStore();
  const json store = Store();
  // A folder in its place, with a record that would make the undo set a
  // default of someone else's choosing.
  MakeFile("C:\\ProgramData\\Corvane\\boot-undo.json",
           R"({"systemDrive": "C:", "dataDrives": [],)"
           R"( "bootStore": {"default": "{ffffffff-0000-0000-0000-000000000000}"}})");
  EXPECT_FALSE(LoadBootRecord().has_value());
  Make();
  EXPECT_TRUE(plat::IsAdminOnlyDir(BootRecordFolder()));
  EXPECT_EQ(LoadBootRecord()->previousDefault, kLoader);
  EXPECT_TRUE(plat::FileExists("C:\\ProgramData\\Corvane.untrusted0\\boot-undo.json")) << "set aside, not emptied";
  EXPECT_EQ(UndoBoot(), 0);
  EXPECT_EQ(Store(), store);
}

TEST_F(BootUndo, AttemptThatCannotKeepTheRecordChangesNothing) {
  InitStore();
  const json store = Store();
  plat::RemoveDir("C:\\ProgramData");
  MakeFile("C:\\ProgramData", "a file where the folder belongs");
  const Tree drives = Drives();
  EXPECT_FALSE(frm_.MakeBoot("升级到Windows10系统", 10));
  EXPECT_EQ(Store(), store);
  EXPECT_EQ(Drives(), drives);
}

TEST(UndoBootSwitch, AnyPositionAnyLetterCase) {
  EXPECT_TRUE(UndoBootRequested({"/undoboot"}));
  EXPECT_TRUE(UndoBootRequested({"/D", "/UndoBoot"}));
  EXPECT_FALSE(UndoBootRequested({}));
  EXPECT_FALSE(UndoBootRequested({"/undo", "undoboot", "/undoboot2"}));
}

TEST(BootManagerOutput, DefaultAndTimeOutAreReadFromTheBootManagersLines) {
  const std::string english =
      "\r\nWindows Boot Manager\r\n--------------------\r\n"
      "identifier              {9dea862c-5cdd-4e70-acc1-f32b344d4795}\r\n"
      "device                  partition=C:\r\ndefault                 {5F1C2A8E-3B7D-4C61-9A0E-2D4B6F8C1E37}\r\n"
      "displayorder            {5f1c2a8e-3b7d-4c61-9a0e-2d4b6f8c1e37}\r\ntimeout                 30\r\n";
  const BootManagerState s = ParseBootManager(english);
  EXPECT_TRUE(s.known);
  EXPECT_EQ(s.defaultEntry, kLoader);
  EXPECT_EQ(s.timeout, "30");
  // A Chinese editor names the identifier row in Chinese; a boot manager
  // without default or time-out has neither.
  const BootManagerState zh =
      ParseBootManager("Windows 启动管理器\r\n--------------------\r\n标识符                  {bootmgr}\r\n");
  EXPECT_TRUE(zh.known);
  EXPECT_EQ(zh.defaultEntry, "");
  EXPECT_EQ(zh.timeout, "");
  // A store that cannot be opened tells nothing.
  EXPECT_FALSE(ParseBootManager("The boot configuration data store could not be opened.\r\n"
                                "default {5f1c2a8e-3b7d-4c61-9a0e-2d4b6f8c1e37}\r\n")
                   .known);
}

TEST(BootRecordText, RecordReadsBackAndRefusesWhatTheEditorMustNotBeGiven) {
  BootRecord r;
  r.systemDrive = "C:";
  r.dataDrives = {"D:"};
  r.bootStore = true;
  r.previousDefault = "";
  r.previousTimeout = "30";
  r.bootIni = true;
  r.savedBootIni = {true, 0x27};
  const auto back = BootRecordFromJson(BootRecordToJson(r));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->previousDefault, "");
  EXPECT_EQ(back->previousTimeout, "30");
  EXPECT_EQ(back->savedBootIni.attributes, 0x27u);
  EXPECT_FALSE(back->savedBootIniBak.existed);
  // Values that are no identifier or count are not passed to the editor.
  const auto odd = BootRecordFromJson(
      R"({"systemDrive": "C:", "dataDrives": ["D:", "..\\x"],)"
      R"( "bootStore": {"default": "{a} & del x", "timeout": "5 /f"}})");
  ASSERT_TRUE(odd.has_value());
  EXPECT_EQ(odd->dataDrives, std::vector<std::string>{"D:"});
  EXPECT_FALSE(odd->previousDefault.has_value());
  EXPECT_FALSE(odd->previousTimeout.has_value());
  EXPECT_FALSE(BootRecordFromJson("{").has_value());
  EXPECT_FALSE(BootRecordFromJson(R"({"systemDrive": "C:\\Windows", "dataDrives": []})").has_value());
}

}  // namespace
}  // namespace corvane
