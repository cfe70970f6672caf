// The replacer's rules against a file system in memory with its own time.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "replacer/Replacer.h"

namespace corvane::replacer {
namespace {

class FakeSystem final : public ReplacerSystem {
 public:
  struct File {
    std::string content;
    uint32_t attrs = kAttrArchive;
  };
  std::vector<std::pair<std::string, File>> files;  // in file-search order
  std::map<std::string, int64_t> writableAt;        // path -> time it becomes writable
  std::map<std::string, std::string> failMoves;     // target -> why a move onto it fails
  std::vector<std::string> ops;                     // what happened, in order
  int64_t now = 0;
  int tries = 0;
  bool low = false;
  std::string temp = "C:\\Users\\U\\AppData\\Local\\Temp\\";

  File* Find(const std::string& p) {
    for (auto& f : files)
      if (f.first == p) return &f.second;
    return nullptr;
  }
  void Put(const std::string& p, const std::string& content) {
    if (File* f = Find(p))
      f->content = content;
    else
      files.push_back({p, File{content}});
  }

  bool FileExists(const std::string& p) override { return Find(p) != nullptr; }
  bool CanOpenForWriting(const std::string& p) override {
    ++tries;
    auto it = writableAt.find(p);
    return Find(p) && (it == writableAt.end() || now >= it->second);
  }
  void SetLowPriority(bool l) override {
    low = l;
    ops.push_back(l ? "priority low" : "priority restored");
  }
  void Pause() override { now += kPollMs; }
  std::string TempFolder() override { return temp; }
  bool ReadFile(const std::string& p, std::string& bytes) override {
    File* f = Find(p);
    if (!f) return false;
    bytes = f->content;
    return true;
  }
  // The test's "ANSI code page" spells "é" as the single byte 0xE9.
  std::string AnsiToUtf8(const std::string& bytes) override {
    std::string out;
    for (char c : bytes) out += c == '\xE9' ? std::string("\xC3\xA9") : std::string(1, c);
    return out;
  }
  bool MoveReplacing(const std::string& from, const std::string& to) override {
    File* f = Find(from);
    if (!f || failMoves.count(to)) return false;
    File moved = *f;
    files.erase(files.begin() + IndexOf(from));
    if (File* t = Find(to))
      *t = moved;
    else
      files.push_back({to, moved});
    ops.push_back("move " + from + " -> " + to);
    return true;
  }
  bool SetAttributes(const std::string& p, uint32_t attrs) override {
    File* f = Find(p);
    if (!f) return false;
    f->attrs = attrs;
    return true;
  }
  bool DeleteFile(const std::string& p) override {
    ops.push_back("delete " + p);
    const long i = IndexOf(p);
    if (i < 0) return false;
    files.erase(files.begin() + i);
    return true;
  }
  std::vector<std::string> FileNames(const std::string& folder) override {
    std::vector<std::string> names;
    for (auto& f : files)
      if (f.first.size() > folder.size() && f.first.compare(0, folder.size(), folder) == 0 &&
          f.first.find('\\', folder.size()) == std::string::npos)
        names.push_back(f.first.substr(folder.size()));
    return names;
  }
  bool Start(const std::string& program, const std::string& params) override {
    ops.push_back("start " + ProgramCommandLine(program, params) + " @" + std::to_string(now));
    if (Find(program)) writableAt[program] = now + 700;  // a setup runs for a while
    return Find(program) != nullptr;
  }
  void ShowInformation(const std::string& caption, const std::string& text) override {
    ops.push_back("info " + caption + ": " + text);
  }

 private:
  long IndexOf(const std::string& p) {
    for (size_t i = 0; i < files.size(); ++i)
      if (files[i].first == p) return static_cast<long>(i);
    return -1;
  }
};

const std::string kProg = "C:\\Program Files\\Corvane\\Corvaner.exe";
const std::string kFolder = "C:\\Program Files\\Corvane\\";

TEST(ReplacerCommand, TheProgramsLineAndItsQuotedAndUnquotedPathsReadAlike) {
  auto c = ParseCommand({"C:\\Corvane\\Corvaner.exe", "+/afterupgrade0"});
  ASSERT_TRUE(c);
  EXPECT_EQ(c->programPath, "C:\\Corvane\\Corvaner.exe");
  EXPECT_EQ(c->programFolder, "C:\\Corvane\\");
  EXPECT_EQ(c->restartParams, "/afterupgrade");
  EXPECT_EQ(c->method, '0');

  // Unquoted, the blanks split the path; quoted, it arrives whole (the
  // quotes removed by the command-line parser or still on it).
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"C:\\Program", "Files\\Corvane\\Corvaner.exe", "+/afterupgrade1"},
        std::vector<std::string>{kProg, "+/afterupgrade1"},
        std::vector<std::string>{"\"" + kProg + "\"", "+/afterupgrade1"}}) {
    c = ParseCommand(args);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->programPath, kProg);
    EXPECT_EQ(c->programFolder, kFolder);
    EXPECT_EQ(c->restartParams, "/afterupgrade");
    EXPECT_EQ(c->method, '1');
  }
}

TEST(ReplacerCommand, EdgesOfTheArgumentRule) {
  // A "+" inside a folder name does not end the path.
  auto c = ParseCommand({"C:\\C++\\Corvaner.exe", "+/afterupgrade0"});
  ASSERT_TRUE(c);
  EXPECT_EQ(c->programPath, "C:\\C++\\Corvaner.exe");
  // Parameters with blanks; the digit is the last character.
  c = ParseCommand({"C:\\P\\C.exe", "+/a", "/b7"});
  ASSERT_TRUE(c);
  EXPECT_EQ(c->restartParams, "/a /b");
  EXPECT_EQ(c->method, '7');
  // "+" alone: no parameters, and the method is not "1".
  c = ParseCommand({"C:\\P\\C.exe", "+"});
  ASSERT_TRUE(c);
  EXPECT_EQ(c->restartParams, "");
  EXPECT_NE(c->method, '1');
  // No "+" argument, or a path without a folder: not the program's line.
  EXPECT_FALSE(ParseCommand({"C:\\P\\C.exe", "/afterupgrade0"}));
  EXPECT_FALSE(ParseCommand({"+/afterupgrade0"}));
  EXPECT_FALSE(ParseCommand({"Corvaner.exe", "+/afterupgrade0"}));
}

TEST(ReplacerQueue, LinesAreCrLfSeparatedAndTheLastNeedsNoLineEnd) {
  EXPECT_EQ(QueueLines("C:\\a.dll\r\nD:\\b.dat\r\n"), (std::vector<std::string>{"C:\\a.dll", "D:\\b.dat"}));
  EXPECT_EQ(QueueLines("C:\\a.dll\r\nD:\\b.dat"), (std::vector<std::string>{"C:\\a.dll", "D:\\b.dat"}));
  EXPECT_EQ(QueueLines("\r\n\r\nC:\\a.dll"), (std::vector<std::string>{"C:\\a.dll"}));
  EXPECT_TRUE(QueueLines("").empty());
}

TEST(ReplacerWait, GoesOnWithinAHundredMillisecondsAndTriesAtMostTwentyTimesASecond) {
  FakeSystem sys;
  sys.Put(kProg, "old");
  sys.Put(kProg + ".uTMP", "new");
  sys.writableAt[kProg] = 10'000;  // the program ends after ten seconds
  replacer::Run(sys, {kProg, "+/afterupgrade0"});
  ASSERT_FALSE(sys.ops.empty());
  EXPECT_EQ(sys.ops.front(), "priority low");
  EXPECT_LE(sys.tries, 10'000 / 50 + 1);
  // Moved and restarted at the first try after the program ended.
  const std::string start = "start \"" + kProg + "\" /afterupgrade @";
  auto it = std::find_if(sys.ops.begin(), sys.ops.end(), [&](const std::string& s) { return s.rfind(start, 0) == 0; });
  ASSERT_NE(it, sys.ops.end());
  const int64_t at = std::stoll(it->substr(start.size()));
  EXPECT_GE(at, 10'000);
  EXPECT_LT(at, 10'100);
  EXPECT_FALSE(sys.low);
  EXPECT_EQ(sys.Find(kProg)->content, "new");
}

TEST(ReplacerRun, ProgramFolderFilesQueueAndRestart) {
  FakeSystem sys;
  sys.Put(kProg, "old");
  sys.Put(kFolder + "helper.dll", "old helper");
  sys.Put(kFolder + "Corvaner.exe.uTMP", "new");
  sys.Put(kFolder + "helper.dll.uTMP", "new helper");
  sys.Put(kFolder + "left.dat.uTMP", "from an earlier update");
  sys.Put(kFolder + "sub\\inner.dll.uTMP", "not this folder's");  // only the folder itself
  sys.Put("D:\\Data\\caf\xC3\xA9.txt.uTMP", "queued");
  sys.Put("C:\\Windows\\x.dll.uTMP", "queued, hostile line");
  sys.Put(sys.temp + kQueueFileName, "D:\\Data\\caf\xE9.txt\r\nC:\\Windows\\..\\Windows\\x.dll");
  sys.Find(kProg)->attrs = 0x1 | 0x4;  // read-only system file

  replacer::Run(sys, {"C:\\Program", "Files\\Corvane\\Corvaner.exe", "+/afterupgrade0"});

  EXPECT_EQ(sys.Find(kProg)->content, "new");
  EXPECT_EQ(sys.Find(kProg)->attrs, kAttrArchive);
  EXPECT_EQ(sys.Find(kFolder + "helper.dll")->content, "new helper");
  EXPECT_EQ(sys.Find(kFolder + "left.dat")->content, "from an earlier update");
  EXPECT_TRUE(sys.FileExists(kFolder + "sub\\inner.dll.uTMP"));
  EXPECT_EQ(sys.Find("D:\\Data\\caf\xC3\xA9.txt")->content, "queued");
  EXPECT_TRUE(sys.FileExists("C:\\Windows\\x.dll.uTMP"));  // the ".." line is skipped
  EXPECT_FALSE(sys.FileExists("C:\\Windows\\x.dll"));
  EXPECT_FALSE(sys.FileExists(sys.temp + kQueueFileName));
  // The folder's files moved in the order of the file search, then the
  // restart, then the queue file deleted.
  std::vector<std::string> moves;
  for (auto& op : sys.ops)
    if (op.rfind("move C:\\Program", 0) == 0) moves.push_back(op);
  EXPECT_EQ(moves, (std::vector<std::string>{"move " + kFolder + "Corvaner.exe.uTMP -> " + kProg,
                                             "move " + kFolder + "helper.dll.uTMP -> " + kFolder + "helper.dll",
                                             "move " + kFolder + "left.dat.uTMP -> " + kFolder + "left.dat"}));
  const size_t n = sys.ops.size();
  EXPECT_EQ(sys.ops[n - 2].rfind("start \"" + kProg + "\" /afterupgrade @", 0), 0u);
  EXPECT_EQ(sys.ops[n - 1], "delete " + sys.temp + kQueueFileName);
}

TEST(ReplacerRun, AMoveThatFailsKeepsTheOldFile) {
  FakeSystem sys;
  sys.Put(kProg, "old");
  sys.Put(kProg + ".uTMP", "new");
  sys.failMoves[kProg] = "denied";
  replacer::Run(sys, {kProg, "+/afterupgrade0"});
  EXPECT_EQ(sys.Find(kProg)->content, "old");
  EXPECT_TRUE(sys.FileExists(kProg + ".uTMP"));
}

TEST(ReplacerRun, MethodOneRunsTheSetupHiddenWaitsForItThenRestartsTheProgram) {
  FakeSystem sys;
  sys.Put(kProg, "old");
  sys.Put(kFolder + "readme.txt.uTMP", "text");
  sys.Put(kFolder + "Setup.EXE.uTMP", "upper-case EXE is not the setup");
  sys.Put(kFolder + "setup.exe.uTMP", "setup");
  sys.Put(kFolder + "other.exe.uTMP", "second exe");
  replacer::Run(sys, {kProg, "+/afterupgrade1"});
  const std::string setup = kFolder + "setup.exe";
  EXPECT_EQ(sys.Find(kFolder + "other.exe")->attrs, kAttrArchive);
  std::vector<std::string> tail;
  for (auto& op : sys.ops)
    if (op.rfind("start", 0) == 0 || op.rfind("delete", 0) == 0) tail.push_back(op);
  ASSERT_EQ(tail.size(), 4u);
  EXPECT_EQ(tail[0], "start " + ProgramCommandLine(setup, "/afterupgrade") + " @50");
  EXPECT_EQ(tail[1], "delete " + sys.temp + kQueueFileName);
  EXPECT_EQ(tail[2], "delete " + setup);
  // the setup "runs" 700 ms; the program starts right after it has ended
  EXPECT_EQ(tail[3], "start \"" + kProg + "\" /afterupgrade @750");
}

TEST(ReplacerRun, MethodOneWithoutASetupStartsOnlyWhatItFound) {
  FakeSystem sys;
  sys.Put(kFolder + "data.bin.uTMP", "x");  // the program's file is gone: no wait
  replacer::Run(sys, {kProg, "+/afterupgrade1"});
  int starts = 0;
  for (auto& op : sys.ops) starts += op.rfind("start", 0) == 0;
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(sys.tries, 0);
  EXPECT_EQ(sys.Find(kFolder + "data.bin")->content, "x");
}

TEST(ReplacerRun, WithoutArgumentsOnlyTheInformationBox) {
  FakeSystem sys;
  sys.Put(kProg + ".uTMP", "new");
  replacer::Run(sys, {});
  ASSERT_EQ(sys.ops.size(), 1u);
  EXPECT_EQ(sys.ops[0].rfind("info QuilloWin10升级助理: ", 0), 0u);
  EXPECT_TRUE(sys.FileExists(kProg + ".uTMP"));
}

}  // namespace
}  // namespace corvane::replacer
