// The boot entry on the simulated machine: the payload's editor run through
// the command interpreter with the work folder as its own current folder, the
// choice between the boot store and Boot.ini, and repeated attempts.
#include <gtest/gtest.h>

#include "common/clock.h"
#include "common/ui_thread.h"
#include "console/uDosCommand.h"
#include "handoff/tests/handoff_machine.h"
#include "inspection/uCommon.h"
#include "shell/F_Main.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/no_host.h"

namespace corvane {
namespace {

using nlohmann::json;
const char* const kId = "{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}";
const char* const kBootMgr = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
const char* const kTitle = "升级到Windows10系统";

using test::NoHost;

class BootEntry : public test::HandoffMachine {
 protected:
  bool MakeBoot() { return frm_.MakeBoot(kTitle, 10); }
  uint32_t Attrs(const std::string& path) { return plat::FileAttributes(path); }
  int Count(const json& list, const std::string& id) {
    int n = 0;
    for (const auto& v : list) n += v == id;
    return n;
  }

  test::VirtualClock clock_;
  TaskQueueUiThread ui_;
  NoHost host_;
  TFrm_Main frm_{ui_, clock_, host_};
};

TEST_F(BootEntry, BootStoreEntryStartsTheStubByDefault) {
  plat::SetCurrentDir("C:\\Users");
  ASSERT_TRUE(MakeBoot());
  const json store = Store();
  const json& entry = store["entries"][kId];
  EXPECT_EQ(entry["type"], "bootsector");
  EXPECT_EQ(entry["elements"]["description"], kTitle);
  EXPECT_EQ(entry["elements"]["device"], "boot");
  EXPECT_EQ(entry["elements"]["path"], "\\qxldr.mbr");
  const json& bm = store["entries"][kBootMgr]["elements"];
  EXPECT_EQ(bm["default"], kId);
  EXPECT_EQ(bm["displayorder"].back(), kId);
  EXPECT_EQ(bm["timeout"], "10");
  // The commands found the editor in the work folder without the process
  // moving there.
  EXPECT_EQ(plat::GetCurrentDir(), "C:\\Users");
  // The loader files at the root, hidden and system.
  for (const char* name : {"qxldr", "qxldr.mbr"}) {
    EXPECT_EQ(Text(std::string("C:\\") + name), Text(Work(name))) << name;
    EXPECT_EQ(Attrs(std::string("C:\\") + name), plat::kAttrHidden | plat::kAttrSystem) << name;
  }
  EXPECT_FALSE(plat::FileExists("C:\\Boot.ini"));
}

TEST_F(BootEntry, SecondAttemptLeavesOneEntryAndReplacesProtectedLoaderFiles) {
  ASSERT_TRUE(MakeBoot());
  // Read-only copies left behind are replaced too.
  plat::SetAttributes("C:\\qxldr", plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem);
  MakeFile(Work("qxldr"), "a newer loader");
  ASSERT_TRUE(MakeBoot());
  const json store = Store();
  int ours = 0;
  for (auto& [id, e] : store["entries"].items()) ours += e["type"] == "bootsector";
  EXPECT_EQ(ours, 1);
  EXPECT_TRUE(store["entries"].contains(kId));
  EXPECT_EQ(Count(store["entries"][kBootMgr]["elements"]["displayorder"], kId), 1);
  EXPECT_EQ(Text("C:\\qxldr"), "a newer loader");
  EXPECT_EQ(Attrs("C:\\qxldr"), plat::kAttrHidden | plat::kAttrSystem);
}

TEST_F(BootEntry, ChineseEditorOutputInCodePage936IsUnderstood) {
  ChineseMachine();
  // The editor really answers in code page 936 bytes.
  const std::string raw = RunAndCapture("bcdedit.exe /timeout 5", WorkFolder());
  EXPECT_EQ(raw, "操作成功完成。\r\n");
  ASSERT_TRUE(MakeBoot());
  EXPECT_EQ(Store()["entries"][kBootMgr]["elements"]["default"], kId);
}

TEST_F(BootEntry, OutputIsReadInTheConsoleCodePageNotTheAnsiOne) {
  // A machine whose consoles write code page 936 while its ANSI code page is
  // another one: only the console's code page reads "成功".
  Patch({{"codepage", "UTF-8"}, {"oemcodepage", "CP936"}, {"uiLanguage", "zh-CN"}});
  TDosCommand ansi;  // read in the ANSI code page: the raw bytes, no "成功"
  ansi.SetCommandLine("bcdedit.exe /timeout 5");
  ansi.SetCurrentDirectory(WorkFolder());
  ansi.Execute();
  while (ansi.IsRunning()) SystemClock().SleepMs(1);
  ASSERT_EQ(ansi.Lines().size(), 1u);
  EXPECT_EQ(ansi.Lines()[0], plat::Utf8ToConsole("操作成功完成。"));
  EXPECT_FALSE(ReportsSuccess(ansi.Lines()[0]));
  EXPECT_EQ(RunAndCapture("bcdedit.exe /timeout 5", WorkFolder()), "操作成功完成。\r\n");
  EXPECT_TRUE(MakeBoot());
}

TEST_F(BootEntry, OnlyLowerCaseSuccessOrChineseSuccessPasses) {
  EXPECT_TRUE(ReportsSuccess("The operation completed successfully.\r\n"));
  EXPECT_TRUE(ReportsSuccess("操作成功完成。\r\n"));
  EXPECT_FALSE(ReportsSuccess("Success\r\n"));
  EXPECT_FALSE(ReportsSuccess("#"));

  ScriptedEditor("echo 'The operation completed. Success'");
  EXPECT_FALSE(MakeBoot());
  // The first tested command failed: nothing after it ran. Before the
  // first change, the boot manager was read for the record.
  EXPECT_EQ(EditorCalls(), std::string("/enum {bootmgr} /v\n") + "/delete {8EF5A46A-844E-42C0-82E7-9AED7BA9A7A1}\n" +
                               "/create {8EF5A46A-844E-42C0-82E7-9AED7BA9A7A1} /d " + kTitle +
                               " /application bootsector\n");
}

TEST_F(BootEntry, FirstUnsuccessfulCommandEndsTheBranchWithItsOutput) {
  ScriptedEditor("case \"$1\" in /displayorder) echo 'The display order could not be changed.';;"
                 " *) echo 'The operation completed successfully.';; esac");
  std::string failure;
  EXPECT_FALSE(MakeBootStoreEntry(CurrentBootPlaces(), kTitle, 10, failure));
  EXPECT_EQ(failure, "配置引导区失败:The display order could not be changed.\r\n");
  EXPECT_EQ(EditorCalls().find("/default"), std::string::npos);
  EXPECT_EQ(EditorCalls().find("/timeout"), std::string::npos);
}

TEST_F(BootEntry, CommandThatCannotStartFails) {
  std::filesystem::remove(Host("C:\\Windows\\System32\\cmd.exe"));
  std::string failure;
  EXPECT_FALSE(MakeBootStoreEntry(CurrentBootPlaces(), kTitle, 10, failure));
  EXPECT_EQ(failure, "配置引导区失败:#");
  EXPECT_FALSE(MakeBoot());
}

TEST_F(BootEntry, MissingWorkFolderChangesNothing) {
  RemoveWorkFolder();
  EXPECT_FALSE(MakeBoot());
  EXPECT_FALSE(plat::FileExists("C:\\qxldr"));
  EXPECT_FALSE(plat::FileExists("C:\\qxldr.mbr"));
  EXPECT_FALSE(plat::FileExists("C:\\Boot.ini"));
}

TEST_F(BootEntry, BranchFollowsBootIniAndBootmgr) {
  EXPECT_TRUE(UsesBootStore("C:"));  // bootmgr only
  MakeFile("C:\\Boot.ini", "[boot loader]\r\n");
  EXPECT_FALSE(UsesBootStore("C:"));  // both
  plat::RemoveFile("C:\\bootmgr");
  EXPECT_FALSE(UsesBootStore("C:"));  // Boot.ini only
  plat::RemoveFile("C:\\Boot.ini");
  EXPECT_FALSE(UsesBootStore("C:"));  // neither
}

TEST_F(BootEntry, BootIniGetsTheStubAsDefaultAndKeepsABackup) {
  const std::string original =
      "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n\r\n"
      "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional\" "
      "/noexecute=optin /fastdetect\r\n";
  MakeFile("C:\\Boot.ini", original);
  plat::SetAttributes("C:\\Boot.ini", plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem);
  ASSERT_TRUE(MakeBoot());  // bootmgr is there too: Boot.ini wins
  const std::string edited =
      "[boot loader]\r\ntimeout=10\r\ndefault=C:\\qxldr.mbr\r\n\r\n"
      "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional\" "
      "/noexecute=optin /fastdetect\r\nC:\\qxldr.mbr=\"升级到Windows10系统\"\r\n";
  EXPECT_EQ(Text("C:\\Boot.ini"), edited);
  EXPECT_EQ(Attrs("C:\\Boot.ini"), plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem);
  EXPECT_EQ(Text("C:\\Boot.ini.bak"), original);
  EXPECT_FALSE(plat::FileExists(Work("bcdstore.json"))) << "the editor did not run";
  // A second attempt overwrites the keys: one line for the stub.
  ASSERT_TRUE(MakeBoot());
  EXPECT_EQ(Text("C:\\Boot.ini"), edited);
}

TEST_F(BootEntry, WithoutBootIniOrBootmgrANewBootIniHoldsTheThreeEntries) {
  plat::RemoveFile("C:\\bootmgr");
  ASSERT_TRUE(MakeBoot());
  EXPECT_EQ(Text("C:\\Boot.ini"),
            "[operating systems]\r\nC:\\qxldr.mbr=\"升级到Windows10系统\"\r\n"
            "[boot loader]\r\ntimeout=10\r\ndefault=C:\\qxldr.mbr\r\n");
  EXPECT_FALSE(plat::FileExists("C:\\Boot.ini.bak"));
}

TEST_F(BootEntry, BootIniTitleIsWrittenInTheAnsiCodePage) {
  ChineseMachine();
  plat::RemoveFile("C:\\bootmgr");
  ASSERT_TRUE(MakeBoot());
  EXPECT_NE(Text("C:\\Boot.ini").find(plat::Utf8ToAnsi("C:\\qxldr.mbr=\"升级到Windows10系统\"")), std::string::npos);
  EXPECT_EQ(Text("C:\\Boot.ini").find(kTitle), std::string::npos) << "not UTF-8";
}

}  // namespace
}  // namespace corvane
