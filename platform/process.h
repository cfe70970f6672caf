// A console child process with pipes for its standard input and its joined
// standard output and error, started hidden.
//
// win32: CreateProcess with a new hidden console; only the two child pipe
// ends are inherited (an explicit handle list), so two runners started at the
// same time never hold each other's pipe ends open.
// posix: a real child (posix_spawn). The Windows command line is split into
// arguments by the Windows rules; the program and every argument that is a
// drive-letter path ("C:\...") are mapped into the simulated machine, and a
// program found in the child's current folder is taken from there. The
// child's working folder is the host folder of its current folder. What a
// Windows child would learn from its system comes in environment variables:
// CORVANE_SIM_UILANG (the profile's "uiLanguage", default "en-US") and
// CORVANE_SIM_CONSOLE_CP (the code page a new console writes in, as an iconv
// name).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// Exit code of a process that has not ended yet (Windows STILL_ACTIVE).
constexpr uint32_t kStillActive = 259;
// Windows priority classes (posix maps the lower ones to a nice value).
constexpr int kNormalPriorityClass = 0x20;
constexpr int kIdlePriorityClass = 0x40;
constexpr int kBelowNormalPriorityClass = 0x4000;

class ChildProcess {
 public:
  enum class StartResult { Started, PipeFailed, ProcessFailed };

  ChildProcess();
  ~ChildProcess();  // Close(), and the wake-up channel
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // currentDir: the child's own current folder (a Windows path); empty: the
  // caller's. A current folder that does not exist fails the start.
  StartResult Start(const std::string& commandLine, int priorityClass, const std::string& currentDir = "");

  // kStillActive while the child runs, its exit code afterwards.
  uint32_t ExitCode();
  // Bytes waiting in the output pipe; 0 on any error.
  size_t Available();
  // Reads up to n bytes; returns the count read (0 on error or nothing).
  size_t Read(char* buf, size_t n);
  // Writes all bytes to the child's input; false on error (a closed pipe too).
  bool Write(const char* data, size_t n);
  void Terminate(uint32_t exitCode);
  // Closes the pipes and the process handles; a live child is left running.
  void Close();

  // Blocks until output is waiting, the child ends, Wake() is called or
  // timeoutMs passes, whichever comes first. May return early.
  void WaitForActivity(int timeoutMs);
  // Ends a WaitForActivity in progress (or the next one); any thread, for
  // as long as the object exists.
  void Wake();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Splits a Windows command line into arguments as the Microsoft C runtime
// does: the program name ends at the first blank outside quotes and keeps its
// backslashes; in later arguments 2n backslashes before a quote give n and
// open or close quoting, 2n+1 give n and a literal quote, and "" inside
// quotes gives a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace plat
