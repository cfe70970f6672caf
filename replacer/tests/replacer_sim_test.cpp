// The native replacer as a process on the simulated machine, written and
// started the way the program does it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "platform/programs.h"
#include "tests/support/test_support.h"

namespace corvane::test {
namespace {

// The new version of the program: it records the arguments it was started with.
const char* const kStandIn = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n";
const std::string kFolder = "C:\\Program Files\\Corvane\\";
const std::string kProg = kFolder + "Corvaner.exe";
const std::string kTemp = "C:\\Users\\User\\AppData\\Local\\Temp\\";

std::string ReplacerImage() {
  std::ifstream in(REPLACER_EXE, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ReplacerSim : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    plat::ForceDirectories(kTemp);
  }
  void TearDown() override {
    // A replacer whose wait never ends would wait for ever.
    for (int pid : plat::sim::StartedProgramIds()) ::kill(pid, SIGKILL);
    plat::sim::WaitForStartedPrograms();
    SimMachineTest::TearDown();
  }
  // Starts the replacer with the line the program builds; true when it ran.
  bool StartReplacer(const std::string& argsAfterPath) {
    const std::string path = kTemp + "Upgrader4.exe";
    return plat::WriteAndStartProgram(path, ReplacerImage(), path + argsAfterPath);
  }
  bool RunReplacer(const std::string& argsAfterPath) {
    const bool ok = StartReplacer(argsAfterPath);
    plat::sim::WaitForStartedPrograms();
    return ok;
  }
  std::string Read(const std::string& winPath) {
    std::string s;
    plat::ReadWholeFile(winPath, s);
    return s;
  }
};

TEST_F(ReplacerSim, OneDownloadedProgramIsReplacedAndStartedWithTheRestartParameter) {
  // The program quotes a path with blanks; an unquoted one reads the same.
  for (const std::string& line : {" \"" + kProg + "\" +/afterupgrade0", " " + kProg + " +/afterupgrade0"}) {
    MakeFile(kProg, "old version");
    MakeFile(kProg + ".uTMP", kStandIn);
    ASSERT_TRUE(RunReplacer(line)) << line;
    EXPECT_EQ(Read(kProg), kStandIn) << line;
    EXPECT_FALSE(plat::FileExists(kProg + ".uTMP")) << line;
    EXPECT_EQ(plat::FileAttributes(kProg), plat::kAttrArchive);
    EXPECT_EQ(Read(kProg + ".args"), "/afterupgrade\n") << line;  // the digit is not passed on
    plat::RemoveFile(kProg + ".args");
  }
}

TEST_F(ReplacerSim, SeveralDownloadedFilesAndALeftoverOneAreAllMoved) {
  MakeFile(kProg, "old version");
  MakeFile(kFolder + "engine.dll", "old engine");
  MakeFile(kProg + ".uTMP", kStandIn);
  MakeFile(kFolder + "engine.dll.uTMP", "new engine");
  MakeFile(kFolder + "notes.txt.uTMP", "left from an earlier update");
  plat::SetAttributes(kFolder + "engine.dll", plat::kAttrReadOnly | plat::kAttrHidden);
  ASSERT_TRUE(RunReplacer(" \"" + kProg + "\" +/afterupgrade0"));
  EXPECT_EQ(Read(kFolder + "engine.dll"), "new engine");
  EXPECT_EQ(plat::FileAttributes(kFolder + "engine.dll"), plat::kAttrArchive);
  EXPECT_EQ(Read(kFolder + "notes.txt"), "left from an earlier update");
  std::vector<plat::DirEntry> left;
  plat::ListDirectory(kFolder, left);
  for (auto& e : left) EXPECT_EQ(e.name.find(".uTMP"), std::string::npos) << e.name;
  EXPECT_EQ(Read(kProg + ".args"), "/afterupgrade\n");
}

TEST_F(ReplacerSim, QueuedTargetsInTheAnsiCodePageAreMovedAndTheQueueDeleted) {
  Patch({{"codepage", "GBK"}, {"drives", {{"C", 3}, {"D", 3}}}});
  MakeFile(kProg, "old version");
  MakeFile(kProg + ".uTMP", kStandIn);
  MakeFile("D:\\数据\\说明.txt.uTMP", "queued");
  MakeFile("D:\\other.bin.uTMP", "queued, last line");
  // GBK bytes; the last line has no line end.
  const std::string queue = "D:\\\xCA\xFD\xBE\xDD\\\xCB\xB5\xC3\xF7.txt\r\nD:\\other.bin";
  ASSERT_TRUE(plat::WriteWholeFile(kTemp + "UpgraderQueue.txt", queue));
  ASSERT_TRUE(RunReplacer(" \"" + kProg + "\" +/afterupgrade0"));
  EXPECT_EQ(Read("D:\\数据\\说明.txt"), "queued");
  EXPECT_EQ(Read("D:\\other.bin"), "queued, last line");
  EXPECT_FALSE(plat::FileExists(kTemp + "UpgraderQueue.txt"));
}

TEST_F(ReplacerSim, StartedWithoutArgumentsItOnlyShowsItsInformationBox) {
  MakeFile(kProg + ".uTMP", kStandIn);
  ASSERT_TRUE(RunReplacer(""));
  bool shown = false;
  for (const auto& e : plat::sim::Events()) shown |= e.rfind("messagebox QuilloWin10升级助理: ", 0) == 0;
  EXPECT_TRUE(shown);
  EXPECT_TRUE(plat::FileExists(kProg + ".uTMP"));
}

// The nice value of a process (field 19 of /proc/PID/stat).
int NiceOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = all.rfind(')');
  if (close == std::string::npos) return -100;
  std::istringstream rest(all.substr(close + 2));
  std::string field;
  for (int i = 3; i <= 19 && rest >> field; ++i) {
  }
  return std::atoi(field.c_str());
}

TEST_F(ReplacerSim, WaitsAtLowestPriorityUntilTheOldProgramHasLetGoOfItsFile) {
  MakeFile(kProg, "old version");
  MakeFile(kProg + ".uTMP", kStandIn);
  // The running old program: a process holding its file (locked) until its
  // input closes. Only it gets the pipe's reading end.
  int in[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  const std::string host = Host(kProg);
  const char* argv[] = {"/bin/sh", "-c", "exec 3<\"$1\"; flock -s 3; read x", "sh", host.c_str(), nullptr};
  pid_t holder = -1;
  ASSERT_EQ(::posix_spawn(&holder, "/bin/sh", &fa, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  while (plat::CanOpenForWriting(kProg)) std::this_thread::yield();  // the holder has opened it

  ASSERT_TRUE(StartReplacer(" \"" + kProg + "\" +/afterupgrade0"));
  const int replacer = plat::sim::StartedProgramIds().back();
  // It has reached the wait once its priority is the lowest.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (NiceOf(replacer) != 19 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(NiceOf(replacer), 19);
  EXPECT_EQ(Read(kProg), "old version");
  EXPECT_TRUE(plat::FileExists(kProg + ".uTMP"));

  ::close(in[1]);  // the old program ends
  int status = 0;
  ::waitpid(holder, &status, 0);
  if (HasFailure()) return;
  plat::sim::WaitForStartedPrograms();
  EXPECT_EQ(Read(kProg), kStandIn);
  EXPECT_EQ(Read(kProg + ".args"), "/afterupgrade\n");
}

}  // namespace
}  // namespace corvane::test
