// The update on the simulated machine: a window with its real check, the
// loopback operator server, the native replacer, and the test certificates
// and signed test programs (made at test time by tests/support/signing_kit.sh).
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "download/ServerUrl.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "platform/programs.h"
#include "shell/tests/window_fixture.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"
#include "update/Updater.h"

namespace corvane::test {

inline const std::string kFolder = "C:\\Program Files\\Corvane\\";
inline const std::string kProg = kFolder + "Corvaner.exe";
inline const std::string kTemp = "C:\\Users\\User\\AppData\\Local\\Temp\\";
// The new version: it records the arguments it was started with.
inline const char* const kStandIn = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n";

inline std::string ReadHost(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Certificates and signed programs, made once per test program.
class SigningKit {
 public:
  static const std::string& Dir() {
    static const std::string dir = [] {
      const std::string d = MakeTempDir("signing");
      const std::string cmd = "bash " CORVANE_SOURCE_DIR "/tests/support/signing_kit.sh certs '" + d + "'";
      if (std::system(cmd.c_str()) != 0) throw std::runtime_error("signing kit: " + cmd);
      return d;
    }();
    return dir;
  }
  static std::string Pem(const std::string& name) { return ReadHost(Dir() + "/" + name + ".pem"); }
  // A small PE program with `text` inside, signed by publisher a, b or
  // stray, or unsigned ("").
  static std::string Program(const std::string& text, const std::string& publisher) {
    static int n = 0;
    const std::string base = Dir() + "/p" + std::to_string(++n);
    std::string cmd = "python3 " CORVANE_SOURCE_DIR "/tests/support/make_test_pe.py '" + base + ".exe' '" + text + "'";
    if (!publisher.empty())
      cmd += " && bash " CORVANE_SOURCE_DIR "/tests/support/signing_kit.sh sign '" + Dir() + "' " + publisher + " '" +
             base + ".exe' '" + base + "-signed.exe'";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("signing kit: " + cmd);
    return ReadHost(base + (publisher.empty() ? ".exe" : "-signed.exe"));
  }
};

struct MessageHost : RecordingHost {
  std::vector<std::string> boxes;
  void MessageBox(const std::string& caption, const std::string& text, MsgIcon icon) override {
    boxes.push_back(caption + "|" + text + "|" + (icon == MsgIcon::Success ? "success" : "other"));
  }
};

class UpdateOnMachine : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    // The log is on (first argument "/D") and goes to D:.
    Patch({{"drives", {{"C", 3}, {"D", 3}}}, {"args", {"/D"}}});
    plat::ForceDirectories(ExcludeTrailingBackslash(kTemp));
    MakeFile(kProg, "old version");
    SetServerUrl(server.Url("/corvane/"));
    SetDirectoryPageUrl("http://127.0.0.1:1/directory.html");
    frm.form.BringToFront(frm.PnlHome);  // as FormCreate leaves it
    frm.body = [this](Stage s) {
      if (s == Stage::CheckUpdate) frm.CheckUpdate();
    };
  }
  void TearDown() override {
    Settle();
    for (int pid : plat::sim::StartedProgramIds()) ::kill(pid, SIGKILL);
    plat::sim::WaitForStartedPrograms();
    SetServerUrl(kDefaultServerUrl);
    SetDirectoryPageUrl(CORVANE_DIRECTORY_URL);
    SimMachineTest::TearDown();
  }

  // Lets the workers and the update end, moving the virtual time on while
  // a worker sleeps on it, and serving the hand-overs.
  void Settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((frm.LiveWorkers() > 0 || frm.Updater->Updating()) && std::chrono::steady_clock::now() < deadline) {
      if (clock.Sleepers() > 0) {
        captions.push_back(frm.lblUpdateInfo.Caption());
        clock.Advance(100);
      }
      ui.WaitAndRun(1);
    }
    ui.RunPending();
    ASSERT_EQ(frm.LiveWorkers(), 0);
    ASSERT_FALSE(frm.Updater->Updating());
  }
  // The check as the menu (silent false) or the start-up (true) runs it;
  // then waits for the replacer and what it started.
  void Check(bool silent) {
    frm.vSilentCheck = silent;
    ASSERT_TRUE(frm.StartStage(Stage::CheckUpdate));
    Settle();
    plat::sim::WaitForStartedPrograms();
  }
  // The update alone, as the check starts it.
  void Update() {
    frm.Updater->SetInfoFileURL(ServerUrl() + "update.inf");
    ASSERT_TRUE(frm.Updater->CheckUpdate(false));
    Settle();
    plat::sim::WaitForStartedPrograms();
  }
  void Offer(const std::string& infoText) { server.WriteFile("corvane/update.inf", infoText); }
  std::string Read(const std::string& winPath) {
    std::string s;
    plat::ReadWholeFile(winPath, s);
    return s;
  }
  std::string LogText() { return Read("D:\\corvane.txt"); }
  // Every file of the machine except its own bookkeeping and the log.
  std::vector<std::string> MachineFiles() {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root_)) {
      const std::string rel = e.path().string().substr(root_.size());
      if (e.is_regular_file() && rel != "/machine.json" && rel != "/events.log" && rel != "/D/corvane.txt")
        files.push_back(rel + "=" + ReadHost(e.path().string()));
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  std::vector<std::string> TmpFilesIn(const std::string& folder) {
    std::vector<plat::DirEntry> entries;
    plat::ListDirectory(folder, entries);
    std::vector<std::string> names;
    for (auto& e : entries)
      if (EndsWith(e.name, ".uTMP")) names.push_back(e.name);
    return names;
  }

  TestServer server;
  VirtualClock clock;
  TaskQueueUiThread ui;
  MessageHost host;
  RecordingFrm frm{ui, clock, host};
  std::vector<std::string> captions;  // lblUpdateInfo whenever a worker slept
};

}  // namespace corvane::test
