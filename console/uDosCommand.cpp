#include "console/uDosCommand.h"

#include <algorithm>

#include "platform/platform.h"

namespace corvane {

// ---- TProcessTimer -----------------------------------------------------------

void TProcessTimer::Beginning() {
  const int64_t now = clock_.NowMs();
  beginMs_.store(now);
  lastOutputMs_.store(now);
  enabled_.store(true, std::memory_order_release);
}

void TProcessTimer::NewOutput() { lastOutputMs_.store(clock_.NowMs()); }

void TProcessTimer::Ending() { enabled_.store(false, std::memory_order_release); }

int32_t TProcessTimer::SinceBeginning() const {
  return static_cast<int32_t>(std::max<int64_t>(0, clock_.NowMs() - beginMs_.load()) / 1000);
}

int32_t TProcessTimer::SinceLastOutput() const {
  return static_cast<int32_t>(std::max<int64_t>(0, clock_.NowMs() - lastOutputMs_.load()) / 1000);
}

int64_t TProcessTimer::MsToNextSecond() const {
  const int64_t now = clock_.NowMs();
  const int64_t a = 1000 - std::max<int64_t>(0, now - beginMs_.load()) % 1000;
  const int64_t b = 1000 - std::max<int64_t>(0, now - lastOutputMs_.load()) % 1000;
  return std::min(a, b);
}

// ---- TLineAssembler ----------------------------------------------------------

void TLineAssembler::Feed(const char* data, size_t n, const std::atomic<bool>& stop) {
  for (size_t i = 0; i < n && !stop.load(); ++i) {
    const char c = data[i];
    if (c == '\0') continue;
    if (c == '\n') {
      EndLine();
    } else if (c == '\r') {
      EndLine();
      if (i + 1 < n && data[i + 1] == '\n') ++i;
    } else {
      current_ += c;
    }
  }
  if (!current_.empty()) {
    const std::string text = Decode(current_);
    PutOutputLine(text);
    Report(text, TOutputType::otBeginningOfLine);
    partialInOutput_ = true;
  }
}

void TLineAssembler::EndLine() {
  timer_.NewOutput();
  const std::string text = Decode(current_);
  lines_.push_back(text);
  PutOutputLine(text);
  partialInOutput_ = false;
  Report(text, TOutputType::otEntireLine);
  current_.clear();
}

void TLineAssembler::Echo(const std::string& text) {
  std::string shown = text;
  if (partialInOutput_) {
    shown = Decode(current_) + text;
    PutOutputLine(shown);
    partialInOutput_ = false;
  } else if (outputLines_) {
    outputLines_->push_back(text);
  }
  Report(shown, TOutputType::otEntireLine);
  current_.clear();
}

void TLineAssembler::Finish() {
  // The unterminated tail is reported as the run's last whole line.
  if (!current_.empty()) EndLine();
}

void TLineAssembler::PutOutputLine(const std::string& text) {
  if (!outputLines_) return;
  if (partialInOutput_ && !outputLines_->empty())
    outputLines_->back() = text;
  else
    outputLines_->push_back(text);
}

std::string TLineAssembler::Decode(const std::string& bytes) const {
  return codePage_ == TCodePage::cpConsole ? plat::ConsoleToUtf8(bytes) : plat::AnsiToUtf8(bytes);
}

void TLineAssembler::Report(const std::string& text, TOutputType type) {
  if (onNewLine_) onNewLine_(owner_, text, type);
}

// ---- TDosThread --------------------------------------------------------------

namespace {
// How long a silent pass waits at most. Where new output wakes the wait, the
// end of the child, Stop and SendLine do too, and a long wait costs nothing;
// where it does not, a silent child is looked at again after a short nap
// that grows while it stays silent.
#ifdef _WIN32
constexpr int kFirstIdleWaitMs = 1;
constexpr int kMaxIdleWaitMs = 16;
#else
constexpr int kFirstIdleWaitMs = 250;
constexpr int kMaxIdleWaitMs = 250;
#endif
}  // namespace

TDosThread::TDosThread(TDosCommand& owner, std::string commandLine, TStringList& lines, TStringList* outputLines,
                       TProcessTimer& timer, int32_t maxTimeAfterBeginning, int32_t maxTimeAfterLastOutput,
                       TNewLineEvent onNewLine, TNotifyEvent onTerminated, int32_t priority, bool inputToOutput,
                       std::string currentDirectory, TCodePage codePage)
    : owner_(owner),
      commandLine_(std::move(commandLine)),
      lines_(lines),
      outputLines_(outputLines),
      timer_(timer),
      maxTimeAfterBeginning_(maxTimeAfterBeginning),
      maxTimeAfterLastOutput_(maxTimeAfterLastOutput),
      onNewLine_(std::move(onNewLine)),
      onTerminated_(std::move(onTerminated)),
      priority_(priority),
      inputToOutput_(inputToOutput),
      currentDirectory_(std::move(currentDirectory)),
      codePage_(codePage),
      thread_([this] { Execute(); }) {}

TDosThread::~TDosThread() { WaitFor(); }

void TDosThread::Terminate() {
  terminated_.store(true);
  child_.Wake();
}

void TDosThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TDosThread::QueueInput(std::string entry) {
  {
    std::lock_guard<std::mutex> g(inputMu_);
    inputLines_.push_back(std::move(entry));
  }
  child_.Wake();
}

std::string TDosThread::ErrorMessage() const { return error_ ? error_->what() : std::string(); }

void TDosThread::Execute() {
  TLineAssembler out(owner_, lines_, outputLines_, timer_, onNewLine_, codePage_);
  switch (child_.Start(commandLine_, priority_, currentDirectory_)) {
    case plat::ChildProcess::StartResult::PipeFailed:
      error_ = std::make_unique<TCreatePipeError>("Error creating pipe");
      break;
    case plat::ChildProcess::StartResult::ProcessFailed:
      error_ = std::make_unique<TCreateProcessError>(commandLine_ + " doesn't exist.");
      break;
    case plat::ChildProcess::StartResult::Started: {
      std::vector<char> buf(1024, '\0');
      uint32_t code = plat::kStillActive;
      int idleWaitMs = kFirstIdleWaitMs;
      do {
        // The exit code is read before the pipe is drained: output written
        // just before the end is still read in the pass that sees the end.
        code = child_.ExitCode();
        const size_t avail = child_.Available();
        if (avail > 0) {
          if (avail > buf.size()) buf.resize(avail);
          const size_t n = child_.Read(buf.data(), buf.size());
          out.Feed(buf.data(), n, terminated_);
          idleWaitMs = kFirstIdleWaitMs;
        } else {
          SendInput(out);
          if (code == plat::kStillActive && !terminated_.load() && !LimitsExceeded() && !HasInput()) {
            int64_t wait = idleWaitMs;
            if (maxTimeAfterBeginning_ >= 1 || maxTimeAfterLastOutput_ >= 1)
              wait = std::min<int64_t>(wait, timer_.MsToNextSecond() + 1);
            child_.WaitForActivity(static_cast<int>(wait));
            idleWaitMs = std::min(idleWaitMs * 2, kMaxIdleWaitMs);
          }
        }
        if (terminated_.load()) {
          child_.Terminate(0);
          break;
        }
      } while (code == plat::kStillActive && !LimitsExceeded());
      out.Finish();
      break;
    }
  }
  // A child left running by a time limit keeps running unwatched.
  child_.Close();
  timer_.Ending();
  if (onTerminated_) onTerminated_(owner_);
}

bool TDosThread::HasInput() {
  std::lock_guard<std::mutex> g(inputMu_);
  return !inputLines_.empty();
}

void TDosThread::SendInput(TLineAssembler& out) {
  while (!terminated_.load()) {
    std::string entry;
    {
      std::lock_guard<std::mutex> g(inputMu_);
      if (inputLines_.empty()) return;
      entry = inputLines_.front();
    }
    const std::string text = entry.substr(1);
    std::string bytes = codePage_ == TCodePage::cpConsole ? plat::Utf8ToConsole(text) : plat::Utf8ToAnsi(text);
    if (entry[0] == '_') bytes += "\r\n";
    child_.Write(bytes.data(), bytes.size());  // a failed write is ignored, as a failed read is
    if (inputToOutput_) out.Echo(text);
    std::lock_guard<std::mutex> g(inputMu_);
    inputLines_.pop_front();
  }
}

bool TDosThread::LimitsExceeded() const {
  return (maxTimeAfterBeginning_ >= 1 && timer_.SinceBeginning() > maxTimeAfterBeginning_) ||
         (maxTimeAfterLastOutput_ >= 1 && timer_.SinceLastOutput() > maxTimeAfterLastOutput_);
}

// ---- TDosCommand -------------------------------------------------------------

TDosCommand::TDosCommand(Clock& clock) : clock_(clock) {}

TDosCommand::~TDosCommand() { Stop(); }

void TDosCommand::Execute() {
  if (commandLine_.empty()) throw EDosCommand("No Commandline to execute");
  Stop();
  if (!timer_) timer_ = std::make_unique<TProcessTimer>(clock_);
  lines_.clear();
  timer_->Beginning();
  thread_ = std::make_unique<TDosThread>(*this, commandLine_, lines_, outputLines_, *timer_, maxTimeAfterBeginning_,
                                         maxTimeAfterLastOutput_, onNewLine_, onTerminated_, priority_,
                                         inputToOutput_, currentDirectory_, codePage_);
}

void TDosCommand::Stop() {
  if (!thread_) return;
  thread_->Terminate();
  thread_->WaitFor();
  thread_.reset();
}

void TDosCommand::SendLine(const std::string& value, bool eol) {
  if (thread_) thread_->QueueInput((eol ? "_" : " ") + value);
}

bool TDosCommand::IsRunning() const { return thread_ && timer_ && timer_->Enabled(); }

std::string TDosCommand::LastError() const {
  return thread_ && !IsRunning() ? thread_->ErrorMessage() : std::string();
}

}  // namespace corvane
