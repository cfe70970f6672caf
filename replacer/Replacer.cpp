#include "replacer/Replacer.h"

#include "common/local_path.h"

namespace corvane::replacer {
namespace {

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char a = s[s.size() - tail.size() + i], b = tail[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
    if (a != b) return false;
  }
  return true;
}

constexpr const char* kInfoCaption = "QuilloWin10升级助理";
constexpr const char* kInfoText =
    "这是QuilloWin10升级助理的升级程序。\r\n它由助理在升级时自动运行，无需手动启动。";

}  // namespace

std::optional<Command> ParseCommand(const std::vector<std::string>& args) {
  std::string joined;
  size_t plus = std::string::npos;
  for (size_t i = 0; i < args.size(); ++i) {
    if (plus == std::string::npos && i > 0 && !args[i].empty() && args[i][0] == '+') plus = joined.size();
    joined += args[i];
    joined += ' ';
  }
  if (plus == std::string::npos) return std::nullopt;
  Command c;
  // The digit is the character before the final blank; the parameters run
  // from after the "+" up to it.
  const size_t digit = joined.size() - 2;
  c.method = joined[digit];
  if (digit > plus + 1) c.restartParams = joined.substr(plus + 1, digit - plus - 1);
  for (char ch : joined.substr(0, plus - 1))
    if (ch != '"') c.programPath += ch;  // a quoted path reads like an unquoted one
  const size_t slash = c.programPath.find_last_of('\\');
  if (slash == std::string::npos) return std::nullopt;
  c.programFolder = c.programPath.substr(0, slash + 1);
  return c;
}

std::vector<std::string> QueueLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) lines.emplace_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string ProgramCommandLine(const std::string& program, const std::string& params) {
  const bool quote = program.find(' ') != std::string::npos;
  return (quote ? "\"" + program + "\"" : program) + " " + params;
}

void WaitUntilWritable(ReplacerSystem& sys, const std::string& path) {
  sys.SetLowPriority(true);
  for (;;) {
    sys.Pause();
    if (sys.CanOpenForWriting(path)) break;
  }
  sys.SetLowPriority(false);
}

void Run(ReplacerSystem& sys, const std::vector<std::string>& args) {
  if (args.empty()) {
    sys.ShowInformation(kInfoCaption, kInfoText);
    return;
  }
  const std::optional<Command> cmd = ParseCommand(args);
  if (!cmd) return;  // not a command line of the program's
  if (sys.FileExists(cmd->programPath)) WaitUntilWritable(sys, cmd->programPath);

  // Files placed outside the program's folder, named by the queue. The
  // queue lies in the user's temporary folder, so every line is checked as
  // the program checked it before writing there.
  const std::string queue = sys.TempFolder() + kQueueFileName;
  std::string bytes;
  if (sys.ReadFile(queue, bytes) && !bytes.empty()) {
    for (const std::string& target : QueueLines(sys.AnsiToUtf8(bytes))) {
      if (!LocalPathProblem(target).empty()) continue;
      if (sys.MoveReplacing(target + kTempSuffix, target)) sys.SetAttributes(target, kAttrArchive);
    }
  }

  // Files in the program's folder. The old file is replaced by the move
  // itself, so a move that fails leaves it where it was.
  std::string toStart = cmd->programPath;
  bool setupFound = false;
  for (const std::string& name : sys.FileNames(cmd->programFolder)) {
    if (!EndsWithNoCase(name, kTempSuffix) || name.size() <= 5) continue;
    const std::string target = cmd->programFolder + name.substr(0, name.size() - 5);
    bool isSetup = false;
    if (cmd->method == '1' && !setupFound && target.size() >= 3 && target.compare(target.size() - 3, 3, "exe") == 0) {
      isSetup = setupFound = true;
      toStart = target;
    }
    if (sys.FileExists(target)) sys.SetAttributes(target, kAttrNormal);
    if (sys.MoveReplacing(cmd->programFolder + name, target))
      sys.SetAttributes(target, kAttrArchive | (isSetup ? kAttrHidden : 0));
  }

  sys.Start(toStart, cmd->restartParams);
  sys.DeleteFile(queue);

  if (setupFound) {
    WaitUntilWritable(sys, toStart);  // the setup has ended
    sys.DeleteFile(toStart);
    sys.Start(cmd->programPath, cmd->restartParams);
  }
}

}  // namespace corvane::replacer
