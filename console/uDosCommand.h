// The console command runner: runs a console program hidden and captures its
// output line by line, with input lines, two time limits and stop.
//
// One TDosCommand serves one command at a time; each Execute starts a worker
// thread (TDosThread) that watches the child until it ends, a time limit is
// exceeded or Stop asks it to kill the child.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/errors.h"
#include "platform/process.h"

namespace corvane {

// Kind of a reported line.
enum class TOutputType {
  otEntireLine,       // a complete line, or the unterminated tail at the end of a run
  otBeginningOfLine,  // what has arrived so far of a line whose end has not
};

// The code page the child's output is read in and its input written in: the
// system's ANSI code page, or the code page of the child's console, which is
// what console programs write into a pipe.
enum class TCodePage { cpAnsi, cpConsole };

class TDosCommand;
using TStringList = std::vector<std::string>;
// Raised on the worker thread, not handed to the UI thread.
using TNewLineEvent = std::function<void(TDosCommand& sender, const std::string& newLine, TOutputType outputType)>;
using TNotifyEvent = std::function<void(TDosCommand& sender)>;

class EDosCommand : public Exception {
 public:
  using Exception::Exception;
};
class TCreatePipeError : public Exception {
 public:
  using Exception::Exception;
};
class TCreateProcessError : public Exception {
 public:
  using Exception::Exception;
};

// Whole seconds since the start of a run and since the last completed output
// line. Both count elapsed time on the injected clock, so a limit of n is
// exceeded once n + 1 whole seconds have passed. Enabled while a run is in
// progress.
class TProcessTimer {
 public:
  explicit TProcessTimer(Clock& clock) : clock_(clock) {}
  void Beginning();
  void NewOutput();
  void Ending();
  bool Enabled() const { return enabled_.load(std::memory_order_acquire); }
  int32_t SinceBeginning() const;
  int32_t SinceLastOutput() const;
  // Milliseconds until SinceBeginning() or SinceLastOutput() next changes.
  int64_t MsToNextSecond() const;

 private:
  Clock& clock_;
  std::atomic<int64_t> beginMs_{0};
  std::atomic<int64_t> lastOutputMs_{0};
  std::atomic<bool> enabled_{false};
};

// Turns the child's output bytes into lines: LF, CR and CR LF end a line (a
// CR LF split over two reads ends two lines), NUL is dropped, a line still
// open after a read is reported as its beginning and completed later. Each
// line is converted from its code page when it is reported.
class TLineAssembler {
 public:
  TLineAssembler(TDosCommand& owner, TStringList& lines, TStringList* outputLines, TProcessTimer& timer,
                 const TNewLineEvent& onNewLine, TCodePage codePage = TCodePage::cpAnsi)
      : owner_(owner),
        lines_(lines),
        outputLines_(outputLines),
        timer_(timer),
        onNewLine_(onNewLine),
        codePage_(codePage) {}
  // One read's bytes; stops early when stop becomes true.
  void Feed(const char* data, size_t n, const std::atomic<bool>& stop);
  // An input line echoed into the output (the input-to-output option).
  void Echo(const std::string& text);
  // The end of the run: the pending partial line becomes the last line.
  void Finish();

 private:
  void EndLine();
  void PutOutputLine(const std::string& text);
  void Report(const std::string& text, TOutputType type);
  std::string Decode(const std::string& bytes) const;

  TDosCommand& owner_;
  TStringList& lines_;
  TStringList* outputLines_;
  TProcessTimer& timer_;
  const TNewLineEvent& onNewLine_;
  const TCodePage codePage_;
  std::string current_;          // bytes of the line being assembled
  bool partialInOutput_ = false; // the last OutputLines entry is a partial line
};

// The worker of one run. Starts at construction, does not free itself.
class TDosThread {
 public:
  TDosThread(TDosCommand& owner, std::string commandLine, TStringList& lines, TStringList* outputLines,
             TProcessTimer& timer, int32_t maxTimeAfterBeginning, int32_t maxTimeAfterLastOutput,
             TNewLineEvent onNewLine, TNotifyEvent onTerminated, int32_t priority, bool inputToOutput,
             std::string currentDirectory = "", TCodePage codePage = TCodePage::cpAnsi);
  ~TDosThread();  // waits for the worker
  void Terminate();  // asks the worker to kill the child and end
  void WaitFor();
  // Queues one input line: marker ' ' (no line end) or '_' (CR LF follows) + text.
  void QueueInput(std::string entry);
  // The error that ended the run, empty when none.
  std::string ErrorMessage() const;

 private:
  void Execute();
  void SendInput(TLineAssembler& out);
  bool HasInput();
  bool LimitsExceeded() const;

  TDosCommand& owner_;
  const std::string commandLine_;
  TStringList& lines_;
  TStringList* outputLines_;
  TProcessTimer& timer_;
  const int32_t maxTimeAfterBeginning_;
  const int32_t maxTimeAfterLastOutput_;
  const TNewLineEvent onNewLine_;
  const TNotifyEvent onTerminated_;
  const int32_t priority_;
  const bool inputToOutput_;
  const std::string currentDirectory_;
  const TCodePage codePage_;

  std::atomic<bool> terminated_{false};
  std::mutex inputMu_;
  std::deque<std::string> inputLines_;
  plat::ChildProcess child_;  // lives as long as the worker object: Wake() may come at any time
  std::unique_ptr<Exception> error_;  // written by the worker, read after it has ended
  std::thread thread_;
};

class TDosCommand {
 public:
  explicit TDosCommand(Clock& clock = SystemClock());
  ~TDosCommand();  // stops a run still in progress
  TDosCommand(const TDosCommand&) = delete;
  TDosCommand& operator=(const TDosCommand&) = delete;

  // Starts a run and returns at once. Raises EDosCommand with an empty
  // command line. A run still in progress is stopped first.
  void Execute();
  // Kills the child of a run in progress, waits for the worker and forgets it.
  void Stop();
  // Queues a line for the child's input; nothing without a worker.
  void SendLine(const std::string& value, bool eol);
  // From Execute until the worker has cleaned up; false without a worker, and
  // false once a run that could not start has ended.
  bool IsRunning() const;
  // The error that ended the last run (the child or a pipe could not be
  // created); empty otherwise. Read it when IsRunning() is false.
  std::string LastError() const;

  const std::string& CommandLine() const { return commandLine_; }
  void SetCommandLine(const std::string& v) { commandLine_ = v; }
  // The complete lines of the current or last run; not to be read while running.
  const TStringList& Lines() const { return lines_; }
  TStringList* OutputLines() const { return outputLines_; }
  void SetOutputLines(TStringList* v) {
    if (v != outputLines_) outputLines_ = v;
  }
  bool InputToOutput() const { return inputToOutput_; }
  void SetInputToOutput(bool v) { inputToOutput_ = v; }
  int32_t MaxTimeAfterBeginning() const { return maxTimeAfterBeginning_; }
  void SetMaxTimeAfterBeginning(int32_t v) { maxTimeAfterBeginning_ = v; }
  int32_t MaxTimeAfterLastOutput() const { return maxTimeAfterLastOutput_; }
  void SetMaxTimeAfterLastOutput(int32_t v) { maxTimeAfterLastOutput_ = v; }
  int32_t Priority() const { return priority_; }
  void SetPriority(int32_t v) { priority_ = v; }
  void SetOnNewLine(TNewLineEvent e) { onNewLine_ = std::move(e); }
  void SetOnTerminated(TNotifyEvent e) { onTerminated_ = std::move(e); }
  // The child's own current folder; empty (the default): the caller's.
  const std::string& CurrentDirectory() const { return currentDirectory_; }
  void SetCurrentDirectory(const std::string& v) { currentDirectory_ = v; }
  // The code page of the child's output and input; the ANSI one by default.
  TCodePage CodePage() const { return codePage_; }
  void SetCodePage(TCodePage v) { codePage_ = v; }

 private:
  Clock& clock_;
  std::string commandLine_;
  TStringList lines_;
  TStringList* outputLines_ = nullptr;
  bool inputToOutput_ = false;
  TNewLineEvent onNewLine_;
  TNotifyEvent onTerminated_;
  std::unique_ptr<TDosThread> thread_;
  std::unique_ptr<TProcessTimer> timer_;
  int32_t maxTimeAfterBeginning_ = 0;
  int32_t maxTimeAfterLastOutput_ = 0;
  int32_t priority_ = plat::kNormalPriorityClass;
  std::string currentDirectory_;
  TCodePage codePage_ = TCodePage::cpAnsi;
};

}  // namespace corvane
