// The replacer (Upgrader4.exe): after the program has closed, it moves the
// downloaded files (each stored under its final name + ".uTMP") into place
// and starts the program again. The rules are portable; the operating system
// is reached through ReplacerSystem (Win32 in the shipped replacer, the
// simulated machine in the native build).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::replacer {

inline constexpr const char* kQueueFileName = "UpgraderQueue.txt";
inline constexpr const char* kTempSuffix = ".uTMP";
// How often the wait for a file tries to open it: a try costs a few
// microseconds, so at this rate the wait takes far below 1 % of a core and
// still goes on within one interval of the file becoming writable.
inline constexpr int kPollMs = 50;

inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;

// What the command line says.
struct Command {
  std::string programPath;    // the program's full path
  std::string programFolder;  // up to and including its last "\"
  std::string restartParams;  // passed to the program when it starts again
  char method = '0';          // '1': the update is a setup program to run
};

// The command line's arguments after the replacer's own path: the program's
// path (quoted or not; an unquoted path with blanks arrives as several
// arguments), then "+" immediately followed by the restart parameters and
// the method digit. The arguments are joined again with single blanks; the
// path is everything before the first argument that begins with "+" (so a
// "+" inside a folder name does not cut it). Nothing when there is no such
// argument or the path names no folder.
std::optional<Command> ParseCommand(const std::vector<std::string>& args);

// Lines of the queue file: separated by CR LF, a last line without CR LF
// read too, empty lines left out.
std::vector<std::string> QueueLines(std::string_view text);

class ReplacerSystem {
 public:
  virtual ~ReplacerSystem() = default;
  virtual bool FileExists(const std::string& path) = 0;
  // Opens the existing file for writing, sharing reads, and closes it again.
  virtual bool CanOpenForWriting(const std::string& path) = 0;
  // Lowers the calling thread to the lowest priority (true) or restores it.
  virtual void SetLowPriority(bool low) = 0;
  // Waits kPollMs, handling the thread's window messages meanwhile.
  virtual void Pause() = 0;
  // The user's temporary folder with a trailing backslash.
  virtual std::string TempFolder() = 0;
  virtual bool ReadFile(const std::string& path, std::string& bytes) = 0;
  // The system's ANSI code page to UTF-8.
  virtual std::string AnsiToUtf8(const std::string& bytes) = 0;
  virtual bool MoveReplacing(const std::string& from, const std::string& to) = 0;
  virtual bool SetAttributes(const std::string& path, uint32_t attrs) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  // Names of the files (not folders) in a folder, in the order the file
  // search returns them.
  virtual std::vector<std::string> FileNames(const std::string& folder) = 0;
  // Starts the program with a normal window; the command line is the path
  // (quoted when it holds a blank), a blank and the parameters.
  virtual bool Start(const std::string& program, const std::string& params) = 0;
  // The information box of a start without arguments.
  virtual void ShowInformation(const std::string& caption, const std::string& text) = 0;
};

// Waits, without a time limit, until the file can be opened for writing
// (the program that runs from it has ended).
void WaitUntilWritable(ReplacerSystem& sys, const std::string& path);

// The whole replacer; args without the replacer's own path.
void Run(ReplacerSystem& sys, const std::vector<std::string>& args);

// The command line of a program: its path, quoted when it holds a blank,
// then a blank and the parameters.
std::string ProgramCommandLine(const std::string& program, const std::string& params);

}  // namespace corvane::replacer
