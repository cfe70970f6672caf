// Child processes: the command-line rules and what a child inherits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "tests/support/test_support.h"

using plat::SplitCommandLine;
using Args = std::vector<std::string>;

TEST(CommandLine, SplitsByTheWindowsRules) {
  EXPECT_EQ(SplitCommandLine(""), Args{});
  EXPECT_EQ(SplitCommandLine("  bcdedit.exe  /enum   all "), (Args{"bcdedit.exe", "/enum", "all"}));
  // The program name keeps its backslashes; quotes only group.
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\x.exe\" a"), (Args{"C:\\Program Files\\x.exe", "a"}));
  EXPECT_EQ(SplitCommandLine("C:\\dir\\\"x y\".exe"), (Args{"C:\\dir\\x y.exe"}));
  // Later arguments: backslashes count only before a quote.
  EXPECT_EQ(SplitCommandLine("p a\\\\b \"c d\" e\"f g\"h"), (Args{"p", "a\\\\b", "c d", "ef gh"}));
  EXPECT_EQ(SplitCommandLine("p a\\\"b"), (Args{"p", "a\"b"}));
  EXPECT_EQ(SplitCommandLine("p \"a\\\\\" b"), (Args{"p", "a\\", "b"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\\"b"), (Args{"p", "a\\\"b"}));
  EXPECT_EQ(SplitCommandLine("p \"a\"\"b\" \"\""), (Args{"p", "a\"b", ""}));
  EXPECT_EQ(SplitCommandLine("p /set {8EF5A46A-844E-42C0-82E7-9AED7BA9A7A1} description \"Win 10\""),
            (Args{"p", "/set", "{8EF5A46A-844E-42C0-82E7-9AED7BA9A7A1}", "description", "Win 10"}));
}

#ifndef _WIN32
using ChildTest = corvane::test::SimMachineTest;

namespace {
std::string RunToEnd(plat::ChildProcess& p) {
  std::string out;
  char buf[4096];
  uint32_t code;
  do {
    code = p.ExitCode();
    while (size_t n = p.Available()) out.append(buf, p.Read(buf, std::min(n, sizeof buf)));
    if (code == plat::kStillActive) p.WaitForActivity(100);
  } while (code == plat::kStillActive);
  return out;
}
}  // namespace

// Pipe inodes of a "ls -l /proc/X/fd" listing, by descriptor.
std::map<int, std::string> Pipes(const std::string& listing) {
  std::map<int, std::string> out;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) {
    const size_t arrow = line.find(" -> pipe:");
    if (arrow == std::string::npos) continue;
    const size_t fdStart = line.rfind(' ', arrow - 1) + 1;
    out[std::stoi(line.substr(fdStart, arrow - fdStart))] = line.substr(arrow + 4);
  }
  return out;
}

std::string ListOwnFds() {
  std::string out;
  FILE* f = ::popen("ls -l /proc/$PPID/fd", "r");
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, f)) out.append(buf, n);
  ::pclose(f);
  return out;
}

// A child never holds the pipe ends of another child started meanwhile:
// besides its own standard handles it has only pipes the program had before.
TEST_F(ChildTest, OnlyItsOwnPipesAreInherited) {
  std::set<std::string> before;
  for (const auto& [fd, ino] : Pipes(ListOwnFds())) before.insert(ino);
  plat::ChildProcess other;
  ASSERT_EQ(other.Start("sleep 2", plat::kNormalPriorityClass), plat::ChildProcess::StartResult::Started);
  plat::ChildProcess lister;
  ASSERT_EQ(lister.Start("ls -l /proc/self/fd", plat::kNormalPriorityClass), plat::ChildProcess::StartResult::Started);
  const std::string fds = RunToEnd(lister);
  const auto pipes = Pipes(fds);
  EXPECT_TRUE(pipes.count(0) && pipes.count(1) && pipes.count(2)) << fds;
  for (const auto& [fd, ino] : pipes)
    if (fd > 2) EXPECT_TRUE(before.count(ino)) << "descriptor " << fd << " leaked\n" << fds;
  other.Terminate(0);
  EXPECT_EQ(RunToEnd(other), "");
  EXPECT_EQ(other.ExitCode(), 0u);
}

TEST_F(ChildTest, ExitCodeAndAWriteToAChildThatIsGone) {
  plat::ChildProcess p;
  ASSERT_EQ(p.Start("sh -c \"exit 3\"", plat::kNormalPriorityClass), plat::ChildProcess::StartResult::Started);
  RunToEnd(p);
  EXPECT_EQ(p.ExitCode(), 3u);
  // Its input pipe has no reader any more: an error, not a signal.
  EXPECT_FALSE(p.Write("x\r\n", 3));
}

TEST_F(ChildTest, WaitEndsWhenTheChildEndsNotAtTheTimeout) {
  plat::ChildProcess p;
  ASSERT_EQ(p.Start("sh -c \"exec >&- 2>&-; sleep 0.2\"", plat::kNormalPriorityClass),
            plat::ChildProcess::StartResult::Started);
  const auto t0 = std::chrono::steady_clock::now();
  while (p.ExitCode() == plat::kStillActive && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5))
    p.WaitForActivity(3000);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}
#endif
