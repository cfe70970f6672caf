// The replacer of the native build: the same rules on the simulated machine
// (named by CORVANE_MACHINE, which the program passes to what it starts).
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "common/text.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "platform/programs.h"
#include "replacer/Replacer.h"

namespace {

using corvane::replacer::ReplacerSystem;

class SimSystem final : public ReplacerSystem {
 public:
  bool FileExists(const std::string& path) override { return plat::FileExists(path); }
  bool CanOpenForWriting(const std::string& path) override { return plat::CanOpenForWriting(path); }

  void SetLowPriority(bool low) override {
    const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
    if (low) {
      saved_ = ::getpriority(PRIO_PROCESS, tid);
      ::setpriority(PRIO_PROCESS, tid, 19);
    } else {
      ::setpriority(PRIO_PROCESS, tid, saved_);  // refused without the right to raise it; harmless
    }
  }

  void Pause() override {
    timespec ts{0, corvane::replacer::kPollMs * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
  }

  std::string TempFolder() override { return corvane::IncludeTrailingBackslash(plat::LongPathName(plat::TempPath())); }
  bool ReadFile(const std::string& path, std::string& bytes) override { return plat::ReadWholeFile(path, bytes); }
  std::string AnsiToUtf8(const std::string& bytes) override { return plat::AnsiToUtf8(bytes); }
  bool MoveReplacing(const std::string& from, const std::string& to) override { return plat::MoveFileTo(from, to, true); }
  bool SetAttributes(const std::string& path, uint32_t attrs) override { return plat::SetAttributes(path, attrs); }
  bool DeleteFile(const std::string& path) override { return plat::RemoveFile(path); }

  std::vector<std::string> FileNames(const std::string& folder) override {
    std::vector<plat::DirEntry> entries;
    std::vector<std::string> names;
    if (!plat::ListDirectory(folder, entries)) return names;
    for (const auto& e : entries)
      if (!(e.attrs & plat::kAttrDirectory)) names.push_back(e.name);
    return names;
  }

  bool Start(const std::string& program, const std::string& params) override {
    plat::sim::RecordEvent("replacer starts " + corvane::replacer::ProgramCommandLine(program, params));
    return plat::StartProgram(program, corvane::replacer::ProgramCommandLine(program, params));
  }

  void ShowInformation(const std::string& caption, const std::string& text) override {
    plat::ShowInformationBox(caption, text);
  }

 private:
  int saved_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  SimSystem sys;
  corvane::replacer::Run(sys, args);
  // The programs it started are short-lived stand-ins on the simulated
  // machine; waiting for them lets whoever waits for the replacer see their
  // work done.
  plat::sim::WaitForStartedPrograms();
  return 0;
}
