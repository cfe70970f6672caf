// The whole update on the simulated machine: the check at start-up and from
// the menu, the downloads with their progress, the hand-over to the native
// replacer, and what is refused.
#include "update/tests/update_test_support.h"

namespace corvane::test {
namespace {

std::string Info(const std::string& version, const std::vector<std::string>& urls) {
  std::string text = "#version=" + version + "\r\n";
  for (size_t i = 0; i < urls.size(); ++i) text += "#url" + std::to_string(i + 1) + "=" + urls[i] + "\r\n";
  return text;
}

TEST_F(UpdateOnMachine, StartUpCheckFindsVersion8ReplacesTheProgramAndRestartsIt) {
  server.WriteFile("files/Corvaner.exe", kStandIn);
  Offer(Info("8", {server.Url("/files/Corvaner.exe")}));
  Check(true);
  EXPECT_EQ(frm.form.FrontPanel()->Name(), "PnlUpdate");
  EXPECT_NE(std::find(captions.begin(), captions.end(), "有新版本，3秒后进行升级..."), captions.end());
  EXPECT_EQ(frm.lblUpdateInfo.Caption().rfind("正在升级到最新版(100% ", 0), 0u) << frm.lblUpdateInfo.Caption();
  EXPECT_EQ(frm.pbUpdate.Position(), 100);
  EXPECT_EQ(host.closes, 1);
  EXPECT_TRUE(server.StatQueries().empty());  // no start-up event after a found update
  // The replacer moved the file and started it again with the restart parameter.
  EXPECT_EQ(Read(kProg), kStandIn);
  EXPECT_EQ(Read(kProg + ".args"), "/afterupgrade\n");
  EXPECT_TRUE(TmpFilesIn(kFolder).empty());
  EXPECT_FALSE(plat::FileExists(kTemp + "UpgraderQueue.txt"));  // no local paths given
  bool started = false;
  for (auto& e : plat::sim::Events())
    started |= e == "replacer starts \"" + kProg + "\" /afterupgrade";
  EXPECT_TRUE(started);
}

TEST_F(UpdateOnMachine, NothingNewerSendsTheStartUpEventOrTellsTheMenuUser) {
  for (const std::string& v : {"7", "", "6.99"}) {
    Offer(Info(v, {server.Url("/files/Corvaner.exe")}));
    Check(true);
  }
  EXPECT_EQ(server.StatQueries().size(), 3u);
  EXPECT_EQ(server.StatQueries()[0].rfind("type=0&mid=", 0), 0u);
  EXPECT_TRUE(host.boxes.empty());
  Check(false);
  EXPECT_EQ(host.boxes, std::vector<std::string>{"在线升级|恭喜你，当前已经是最新版本！|success"});
  EXPECT_EQ(server.StatQueries().size(), 3u);
  EXPECT_EQ(frm.form.FrontPanel()->Name(), "PnlHome");
  EXPECT_EQ(Read(kProg), "old version");
}

TEST_F(UpdateOnMachine, AMenuCheckWithTheServerUnreachableSaysTheProgramIsCurrent) {
  SetServerUrl("http://127.0.0.1:1/corvane/");
  Check(false);
  EXPECT_EQ(host.boxes, std::vector<std::string>{"在线升级|恭喜你，当前已经是最新版本！|success"});
  Check(true);  // silent: only the event (which cannot arrive either)
  EXPECT_EQ(host.boxes.size(), 1u);
}

TEST_F(UpdateOnMachine, ProgressShowsTheLocalesSeparatorAndEveryFileLandsBesideItsTarget) {
  Patch({{"decimalSeparator", ","}, {"shellFolders", {{"AppData", "C:\\Users\\User\\AppData\\Roaming"}}}});
  server.WriteFile("files/Corvaner.exe", kStandIn);
  server.WriteFile("files/engine.dll", std::string(300000, 'e'));
  server.WriteFile("files/data.bin", "data");
  server.WriteFile("files/notes.txt", "notes");
  Offer(Info("7.1", {server.Url("/files/Corvaner.exe"), server.Url("/files/engine.dll"),
                     server.Url("/files/data.bin") + "=%APPDATA%Corvane\\data.bin",
                     server.Url("/files/notes.txt") + "=D:\\Notes\\notes.txt"}));
  Check(true);
  EXPECT_EQ(frm.lblUpdateInfo.Caption(), "正在升级到最新版(100% 0,00 KB/s)");  // no virtual time passed
  EXPECT_EQ(Read(kFolder + "engine.dll").size(), 300000u);
  EXPECT_EQ(Read("C:\\Users\\User\\AppData\\Roaming\\Corvane\\data.bin"), "data");
  EXPECT_EQ(Read("D:\\Notes\\notes.txt"), "notes");
  EXPECT_EQ(plat::FileAttributes(kFolder + "engine.dll"), plat::kAttrArchive);
  EXPECT_FALSE(plat::FileExists(kTemp + "UpgraderQueue.txt"));  // the replacer deleted it
  EXPECT_EQ(Read(kProg + ".args"), "/afterupgrade\n");
}

TEST_F(UpdateOnMachine, OnlyTheUrl0EntryIsReadWhenUrl1Follows) {
  server.WriteFile("files/a.txt", "a");
  server.WriteFile("files/b.txt", "b");
  Offer("#version=8\r\n#url0=" + server.Url("/files/a.txt") + "\r\n#url1=" + server.Url("/files/b.txt") + "\r\n");
  Update();
  EXPECT_EQ(Read(kFolder + "a.txt"), "a");
  EXPECT_FALSE(plat::FileExists(kFolder + "b.txt"));
  EXPECT_EQ(host.closes, 1);
}

TEST_F(UpdateOnMachine, FifteenAndMoreHostileLocalPathsWriteNothing) {
  server.WriteFile("files/evil.bin", "payload");
  const std::vector<std::string> hostile = {
      "%windows%..\\boot.ini", "..\\..\\Windows\\evil.dll", "%current%..\\evil.exe", "\\\\.\\PhysicalDrive0",
      "\\\\?\\C:\\Windows\\evil.dll", "\\\\server\\share\\evil.exe", "//server/share/evil.exe", "\\??\\C:\\evil.exe",
      "%system%kernel32.dll:payload", "C:\\Windows\\evil.exe::$DATA", "%desktop%CON", "%current%nul.txt",
      "C:\\evil\\COM1.dll", "%temp%LPT1", "%current%Corvaner.exe.", "C:evil.exe", "%mydocuments%AUX.txt",
      "%current%sub\\..\\..\\evil.dll"};
  const std::vector<std::string> before = MachineFiles();
  auto refusals = [&] {
    size_t n = 0;
    const std::string log = LogText();
    for (size_t at = log.find("Update Error: refused target"); at != std::string::npos;
         at = log.find("Update Error: refused target", at + 1))
      ++n;
    return n;
  };
  size_t logged = 0;
  for (const std::string& path : hostile) {
    // A harmless entry first: nothing at all is written when any is refused.
    Offer(Info("8", {server.Url("/files/evil.bin") + "=%current%fine.bin", server.Url("/files/evil.bin") + "=" + path}));
    Update();
    EXPECT_EQ(MachineFiles(), before) << path;
    EXPECT_EQ(refusals(), ++logged) << path;  // one log line for each
  }
  EXPECT_EQ(host.closes, 0);
  EXPECT_EQ(frm.form.FrontPanel()->Name(), "PnlHome");  // the update alone brings no panel
  for (const std::string& r : server.Requests()) EXPECT_EQ(r.find("evil.bin"), std::string::npos) << r;
}

TEST_F(UpdateOnMachine, AnHttpErrorRemovesEveryTempFileOfTheProgramFolder) {
  MakeFile(kFolder + "left.dll.uTMP", "from an earlier update");
  server.WriteFile("files/a.txt", "a");
  Offer(Info("8", {server.Url("/files/a.txt"), server.Url("/files/missing.txt"),
                   server.Url("/files/a.txt") + "=D:\\x.txt"}));
  Check(true);
  EXPECT_TRUE(TmpFilesIn(kFolder).empty());
  EXPECT_EQ(host.closes, 0);
  EXPECT_EQ(frm.form.FrontPanel()->Name(), "PnlUpdate");  // stays with its last text
  EXPECT_NE(LogText().find("Update Error: download of " + server.Url("/files/missing.txt") + " failed"),
            std::string::npos);
  EXPECT_EQ(Read(kProg), "old version");
}

TEST_F(UpdateOnMachine, ALostConnectionRemovesOnlyThisUpdatesPartialFiles) {
  MakeFile(kFolder + "left.dll.uTMP", "from an earlier update");
  server.WriteFile("files/big.bin", std::string(400000, 'b'));
  server.Control("fault?path=/files/big.bin&close-after=1000");
  Offer(Info("8", {server.Url("/files/big.bin")}));
  Update();
  EXPECT_EQ(TmpFilesIn(kFolder), std::vector<std::string>{"left.dll.uTMP"});
  EXPECT_EQ(host.closes, 0);
}

TEST_F(UpdateOnMachine, MethodTwoOpensOnlyAWebAddressInTheBrowser) {
  Offer("#version=8\r\n#method=2\r\n#url=www.corvane.example/new\r\n");
  Update();
  Offer("#version=8\r\n#method=2\r\n#url=file:///C:/Windows/System32/calc.exe\r\n");
  Update();
  EXPECT_EQ(host.opened, std::vector<std::string>{"http://www.corvane.example/new"});
  EXPECT_NE(LogText().find("Update Error: refused to open file:///"), std::string::npos);
  EXPECT_EQ(host.closes, 0);
}

TEST_F(UpdateOnMachine, MethodOneRunsTheSetupThenTheProgram) {
  server.WriteFile("files/setup.exe", kStandIn);
  Offer("#version=8\r\n#method=1\r\n#url=" + server.Url("/files/setup.exe") + "\r\n");
  Update();
  EXPECT_EQ(Read(kFolder + "setup.exe.args"), "/afterupgrade\n");
  EXPECT_FALSE(plat::FileExists(kFolder + "setup.exe"));  // deleted once it ended
  bool program = false;
  for (auto& e : plat::sim::Events()) program |= e == "replacer starts \"" + kProg + "\" /afterupgrade";
  EXPECT_TRUE(program);
}

TEST_F(UpdateOnMachine, TheReplacerIsHeldUnchangeableUntilItsProcessExists) {
  server.WriteFile("files/a.txt", "a");
  Offer(Info("8", {server.Url("/files/a.txt")}));
  std::string replacer;
  bool writeRefused = false, moveRefused = false, deleteRefused = false;
  plat::SetBeforeProgramStartHook([&](const std::string& path) {
    replacer = path;
    writeRefused = !plat::WriteWholeFile(path, "swapped");
    moveRefused = !plat::MoveFileTo(path, path + ".away", true) && !plat::MoveFileTo(kFolder + "a.txt.uTMP", path, true);
    deleteRefused = !plat::RemoveFile(path);
  });
  MakeFile(kTemp + "Upgrader4.exe", "a leftover someone left");
  Update();
  plat::SetBeforeProgramStartHook(nullptr);
  EXPECT_EQ(replacer, kTemp + "Upgrader4.exe");
  EXPECT_TRUE(writeRefused);
  EXPECT_TRUE(moveRefused);
  EXPECT_TRUE(deleteRefused);
  std::string_view image;
  ASSERT_TRUE(plat::FindResourceData("EXE", "AUUPG", image));
  EXPECT_TRUE(ReadHost(Host(replacer)) == image);  // the replacer as carried, not the leftover
  EXPECT_EQ(Read(kFolder + "a.txt"), "a");  // and it ran
}

TEST_F(UpdateOnMachine, ALeftoverReplacerIsDeletedWhenTheWindowIsCreated) {
  MakeFile(kTemp + "Upgrader4.exe", "left");
  frm.body = nullptr;  // FormCreate starts the check; here it does nothing
  frm.FormCreate();
  EXPECT_FALSE(plat::FileExists(kTemp + "Upgrader4.exe"));
  frm.FormDestroy();
}

TEST_F(UpdateOnMachine, TwoChecksFindingTheUpdateRunItOnce) {
  server.WriteFile("files/Corvaner.exe", kStandIn);
  server.Control("fault?path=/files/&throttle=200000");
  Offer(Info("8", {server.Url("/files/Corvaner.exe")}));
  frm.vSilentCheck = true;
  ASSERT_TRUE(frm.StartStage(Stage::CheckUpdate));
  frm.vSilentCheck = false;
  ASSERT_TRUE(frm.StartStage(Stage::CheckUpdate));
  Settle();
  plat::sim::WaitForStartedPrograms();
  int downloads = 0;
  for (auto& r : server.Requests()) downloads += r.find("/files/Corvaner.exe") != std::string::npos;
  EXPECT_EQ(downloads, 1);
  EXPECT_EQ(host.closes, 1);
  EXPECT_EQ(Read(kProg), kStandIn);
}

}  // namespace
}  // namespace corvane::test
