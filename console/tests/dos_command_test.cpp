// The runner with real children: sh on the simulated machine, cmd.exe under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/text.h"
#include "console/uDosCommand.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#endif

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Waits (bounded) until the runner has ended; returns the seconds it took.
double WaitEnd(TDosCommand& cmd, std::chrono::steady_clock::time_point since, int maxSeconds = 20) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
  while (cmd.IsRunning() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(cmd.IsRunning());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double RunToEnd(TDosCommand& cmd) {
  const auto t0 = std::chrono::steady_clock::now();
  cmd.Execute();
  return WaitEnd(cmd, t0);
}

// After a step of the virtual clock: waits until the watch has looked at the
// new time in a whole pass (each pass reads the clock at most three times
// with one limit set, the last time to decide whether to go on), or has
// ended. Returns whether it still watches.
bool StillWatchingAfterAPass(TDosCommand& cmd, test::VirtualClock& clock) {
  const int64_t from = clock.Reads();
  while (cmd.IsRunning() && clock.Reads() < from + 6) std::this_thread::sleep_for(1ms);
  return cmd.IsRunning();
}

#ifdef _WIN32
using RunnerTest = ::testing::Test;
#else
using RunnerTest = test::SimMachineTest;
#endif

TEST_F(RunnerTest, EmptyCommandLineIsRefused) {
  TDosCommand cmd;
  try {
    cmd.Execute();
    FAIL() << "no error";
  } catch (const EDosCommand& e) {
    EXPECT_STREQ(e.what(), "No Commandline to execute");
  }
  EXPECT_FALSE(cmd.IsRunning());
}

TEST_F(RunnerTest, ProgramThatCannotStartEndsTheRun) {
  TDosCommand cmd;
  std::atomic<int> ended{0};
  cmd.SetOnTerminated([&](TDosCommand&) { ++ended; });
  cmd.SetCommandLine("C:\\NoSuchFolder\\missing.exe /x");
  RunToEnd(cmd);
  EXPECT_TRUE(cmd.Lines().empty());
  EXPECT_EQ(cmd.LastError(), "C:\\NoSuchFolder\\missing.exe /x doesn't exist.");
  EXPECT_EQ(ended.load(), 1);
}

#ifdef _WIN32

TEST_F(RunnerTest, ConsoleChildThroughCmd) {
  TDosCommand cmd;
  TStringList shown;
  cmd.SetOutputLines(&shown);
  cmd.SetCommandLine("cmd.exe /c \"echo first& echo second\"");
  RunToEnd(cmd);
  ASSERT_GE(cmd.Lines().size(), 2u);
  EXPECT_EQ(Trim(cmd.Lines()[0]), "first");
  EXPECT_EQ(Trim(cmd.Lines()[1]), "second");
  EXPECT_EQ(shown, cmd.Lines());
  EXPECT_EQ(cmd.LastError(), "");
}

TEST_F(RunnerTest, InputReachesACmdChild) {
  TDosCommand cmd;
  cmd.SetCommandLine("cmd.exe /c \"set /p X=name? & call echo got %X%\"");
  cmd.Execute();
  cmd.SendLine("bob", true);
  WaitEnd(cmd, std::chrono::steady_clock::now());
  ASSERT_FALSE(cmd.Lines().empty());
  EXPECT_EQ(cmd.Lines().back(), "name? got bob");
}

TEST_F(RunnerTest, StopEndsARunWhoseChildWaitsForInput) {
  TDosCommand cmd;
  cmd.SetCommandLine("cmd.exe /c \"set /p X=waiting\"");
  std::atomic<bool> asked{false};
  cmd.SetOnNewLine([&](TDosCommand&, const std::string& l, TOutputType) { asked = asked || l == "waiting"; });
  cmd.Execute();
  for (int i = 0; i < 5000 && !asked; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(asked.load());
  EXPECT_TRUE(cmd.IsRunning());
  const auto t0 = std::chrono::steady_clock::now();
  cmd.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
  EXPECT_FALSE(cmd.IsRunning());
}

TEST_F(RunnerTest, TwoRunnersAtOnceEachSeeTheirEnd) {
  TDosCommand waiting, quick;
  waiting.SetCommandLine("cmd.exe /c \"set /p X=\"");
  quick.SetCommandLine("cmd.exe /c echo quick");
  waiting.Execute();
  quick.Execute();
  WaitEnd(quick, std::chrono::steady_clock::now());
  EXPECT_EQ(quick.Lines(), (TStringList{"quick"}));
  EXPECT_TRUE(waiting.IsRunning());
  waiting.SendLine("", true);  // its one input line ends it
  WaitEnd(waiting, std::chrono::steady_clock::now());
}

TEST_F(RunnerTest, LimitAfterBeginningEndsTheWatch) {
  test::VirtualClock clock;
  TDosCommand cmd(clock);
  cmd.SetMaxTimeAfterBeginning(1);
  cmd.SetCommandLine("cmd.exe /c \"set /p X=\"");
  cmd.Execute();
  clock.Advance(1999);
  EXPECT_TRUE(StillWatchingAfterAPass(cmd, clock)) << "1 is exceeded only once two whole seconds have passed";
  clock.Advance(1);
  WaitEnd(cmd, std::chrono::steady_clock::now());
}

#else

TEST_F(RunnerTest, LinesEventsAndTheTailFromARealChild) {
  TDosCommand cmd;
  TStringList shown;
  std::vector<std::pair<std::string, TOutputType>> reports;
  std::atomic<int> ended{0};
  cmd.SetOutputLines(&shown);
  cmd.SetOnNewLine([&](TDosCommand&, const std::string& l, TOutputType t) { reports.emplace_back(l, t); });
  cmd.SetOnTerminated([&](TDosCommand&) { ++ended; });
  cmd.SetCommandLine("sh -c \"printf 'a\\r\\nb\\n'; sleep 0.3; printf 'c\\r'; sleep 0.3; printf '\\nd'\"");
  RunToEnd(cmd);
  EXPECT_EQ(cmd.Lines(), (TStringList{"a", "b", "c", "", "d"}));
  EXPECT_EQ(shown, cmd.Lines());
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().first, "d");
  EXPECT_EQ(reports.back().second, TOutputType::otEntireLine);
  EXPECT_EQ(ended.load(), 1);
}

TEST_F(RunnerTest, SilentChildGivesNoLinesAndStillEnds) {
  TDosCommand cmd;
  std::atomic<int> ended{0};
  cmd.SetOnTerminated([&](TDosCommand&) { ++ended; });
  cmd.SetCommandLine("true");
  RunToEnd(cmd);
  EXPECT_TRUE(cmd.Lines().empty());
  EXPECT_EQ(ended.load(), 1);
  // A second run on the same runner starts from empty lines.
  cmd.SetCommandLine("echo again");
  RunToEnd(cmd);
  EXPECT_EQ(cmd.Lines(), (TStringList{"again"}));
}

TEST_F(RunnerTest, SendLineWritesTheTextAndItsLineEnd) {
  TDosCommand cmd;
  cmd.SetCommandLine("sh -c \"head -c 6 | od -An -tx1\"");
  cmd.Execute();
  cmd.SendLine("dir", true);
  cmd.SendLine("y", false);
  WaitEnd(cmd, std::chrono::steady_clock::now());
  ASSERT_EQ(cmd.Lines().size(), 1u);
  EXPECT_EQ(Trim(cmd.Lines()[0]), "64 69 72 0d 0a 79");
}

TEST_F(RunnerTest, EchoedInputAppearsInOutputLines) {
  TDosCommand cmd;
  TStringList shown;
  cmd.SetOutputLines(&shown);
  cmd.SetInputToOutput(true);
  cmd.SetCommandLine("sh -c \"printf 'name? '; read x; echo hi $x\"");
  std::atomic<bool> asked{false};
  cmd.SetOnNewLine([&](TDosCommand&, const std::string& l, TOutputType) { asked = asked || l == "name? "; });
  cmd.Execute();
  for (int i = 0; i < 2000 && !asked; ++i) std::this_thread::sleep_for(1ms);
  cmd.SendLine("bob", true);
  WaitEnd(cmd, std::chrono::steady_clock::now());
  EXPECT_EQ(shown, (TStringList{"name? bob", "hi bob"}));
  EXPECT_EQ(cmd.Lines(), (TStringList{"hi bob"}));
}

// The child prints its process id first, so the test can look at it later.
pid_t FirstLinePid(TDosCommand& cmd, std::atomic<int>& pid) {
  cmd.SetOnNewLine([&](TDosCommand&, const std::string& l, TOutputType t) {
    if (t == TOutputType::otEntireLine && pid == 0) pid = std::atoi(l.c_str());
  });
  return 0;
}

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0; }

TEST_F(RunnerTest, StopKillsTheChild) {
  TDosCommand cmd;
  std::atomic<int> pid{0};
  FirstLinePid(cmd, pid);
  cmd.SetCommandLine("sh -c \"echo $$; exec sleep 30\"");
  cmd.Execute();
  for (int i = 0; i < 5000 && pid == 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_GT(pid.load(), 0);
  const auto t0 = std::chrono::steady_clock::now();
  cmd.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
  EXPECT_FALSE(cmd.IsRunning());
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i, std::this_thread::sleep_for(10ms)) gone = !Alive(pid);
  EXPECT_TRUE(gone);
}

TEST_F(RunnerTest, LimitAfterBeginningEndsTheWatchButNotTheChild) {
  test::VirtualClock clock;
  TDosCommand cmd(clock);
  std::atomic<int> pid{0};
  FirstLinePid(cmd, pid);
  cmd.SetMaxTimeAfterBeginning(1);
  cmd.SetCommandLine("sh -c \"echo $$; exec sleep 30\"");
  cmd.Execute();
  for (int i = 0; i < 5000 && pid == 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_GT(pid.load(), 0);
  clock.Advance(1999);
  EXPECT_TRUE(StillWatchingAfterAPass(cmd, clock)) << "1 is exceeded only once two whole seconds have passed";
  clock.Advance(1);
  WaitEnd(cmd, std::chrono::steady_clock::now());
  EXPECT_TRUE(Alive(pid));
  ::kill(pid, SIGKILL);
}

TEST_F(RunnerTest, LimitAfterLastOutputCountsFromTheLastLine) {
  test::VirtualClock clock;
  TDosCommand cmd(clock);
  std::atomic<int> pid{0};
  std::atomic<bool> second{false};
  cmd.SetOnNewLine([&](TDosCommand&, const std::string& l, TOutputType t) {
    if (t != TOutputType::otEntireLine) return;
    if (pid == 0) pid = std::atoi(l.c_str());
    if (l == "b") second = true;
  });
  cmd.SetMaxTimeAfterLastOutput(1);
  cmd.SetCommandLine("sh -c \"echo $$; read x; echo b; exec sleep 30\"");
  cmd.Execute();
  for (int i = 0; i < 5000 && pid == 0; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_GT(pid.load(), 0);
  clock.Advance(1999);
  EXPECT_TRUE(StillWatchingAfterAPass(cmd, clock));
  // A new line starts the count again.
  cmd.SendLine("go", true);
  for (int i = 0; i < 5000 && !second; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(second.load());
  clock.Advance(1999);
  EXPECT_TRUE(StillWatchingAfterAPass(cmd, clock)) << "counted from the beginning, not from the last line";
  clock.Advance(1);
  WaitEnd(cmd, std::chrono::steady_clock::now());
  ASSERT_EQ(cmd.Lines().size(), 2u);
  EXPECT_EQ(cmd.Lines()[1], "b");
  ::kill(pid, SIGKILL);
}

TEST_F(RunnerTest, ProgramAndPathArgumentsResolveInsideTheMachine) {
  MakeFile("C:\\Tools\\show.sh", "#!/bin/sh\necho \"$1\"\ncat \"$1\"\n");
  ::chmod(Host("C:\\Tools\\show.sh").c_str(), 0755);
  MakeFile("C:\\Data\\note.txt", "hello");
  TDosCommand cmd;
  cmd.SetCommandLine("c:\\tools\\SHOW.sh C:\\data\\NOTE.txt");
  RunToEnd(cmd);
  ASSERT_EQ(cmd.Lines().size(), 2u) << cmd.LastError();
  EXPECT_EQ(cmd.Lines()[0], Host("C:\\Data\\note.txt"));
  EXPECT_EQ(cmd.Lines()[1], "hello");
  // A bare name is found in the simulated current folder, which is also the
  // child's working folder.
  ASSERT_TRUE(plat::SetCurrentDir("C:\\Tools"));
  MakeFile("C:\\Tools\\readme.txt", "local");
  cmd.SetCommandLine("show.sh readme.txt");
  RunToEnd(cmd);
  ASSERT_EQ(cmd.Lines().size(), 2u);
  EXPECT_EQ(cmd.Lines()[1], "local");
}

TEST_F(RunnerTest, PriorityClassReachesTheChild) {
  TDosCommand cmd;
  EXPECT_EQ(cmd.Priority(), plat::kNormalPriorityClass);
  cmd.SendLine("ignored: no run", true);  // nothing without a worker
  cmd.Stop();
  cmd.SetPriority(plat::kIdlePriorityClass);
  cmd.SetCommandLine("sh -c \"cut -d' ' -f19 /proc/self/stat\"");  // the nice value
  RunToEnd(cmd);
  EXPECT_EQ(cmd.Lines(), (TStringList{"19"}));
}

TEST_F(RunnerTest, TextIsConvertedFromTheAnsiCodePage) {
  Patch({{"codepage", "GBK"}});
  TDosCommand cmd;
  cmd.SetCommandLine("printf \\xc4\\xe3\\xba\\xc3\\n");  // 你好 in GBK
  RunToEnd(cmd);
  EXPECT_EQ(cmd.Lines(), (TStringList{"你好"}));
}

TEST_F(RunnerTest, ConsoleCodePageAndOwnCurrentFolder) {
  // Consoles write code page 936 on this machine, its ANSI code page is UTF-8.
  Patch({{"oemcodepage", "CP936"}});
  MakeFile("C:\\Tools\\hello.sh", "#!/bin/sh\nprintf '\\304\\343\\272\\303\\n'\npwd\n");  // 你好 in GBK
  MakeFile("C:\\Data\\x", "");
  ASSERT_TRUE(plat::SetCurrentDir("C:\\Data"));
  TDosCommand cmd;
  cmd.SetCommandLine("hello.sh");
  cmd.SetCurrentDirectory("C:\\Tools");
  cmd.SetCodePage(TCodePage::cpConsole);
  RunToEnd(cmd);
  ASSERT_EQ(cmd.Lines().size(), 2u) << cmd.LastError();
  EXPECT_EQ(cmd.Lines()[0], "你好");
  EXPECT_EQ(cmd.Lines()[1], Host("C:\\Tools"));
  EXPECT_EQ(plat::GetCurrentDir(), "C:\\Data") << "the process's own stays";
  // A current folder that is not there fails the start, as on Windows.
  cmd.SetCurrentDirectory("C:\\Missing");
  RunToEnd(cmd);
  EXPECT_NE(cmd.LastError(), "");
}

#endif

}  // namespace
