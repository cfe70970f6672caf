// Programs on the simulated machine: real host processes started from the
// host files that the machine's paths stand for.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "common/text.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/programs.h"
#include "platform/posix/sim_machine.h"

extern char** environ;

namespace plat {
namespace sim {
namespace {

struct Registry {
  std::mutex mu;
  std::set<std::string> held;
  std::vector<pid_t> started;
  std::function<void(const std::string&)> beforeStart;
};

Registry& R() {
  static Registry r;
  return r;
}

}  // namespace

void HoldFile(const std::string& hostPath) {
  std::lock_guard<std::mutex> g(R().mu);
  R().held.insert(hostPath);
}

void ReleaseFile(const std::string& hostPath) {
  std::lock_guard<std::mutex> g(R().mu);
  R().held.erase(hostPath);
}

bool IsHeld(const std::string& hostPath) {
  std::lock_guard<std::mutex> g(R().mu);
  return R().held.count(hostPath) != 0;
}

void WaitForStartedPrograms() {
  for (;;) {
    pid_t pid;
    {
      std::lock_guard<std::mutex> g(R().mu);
      if (R().started.empty()) return;
      pid = R().started.front();
      R().started.erase(R().started.begin());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

std::vector<int> StartedProgramIds() {
  std::lock_guard<std::mutex> g(R().mu);
  return std::vector<int>(R().started.begin(), R().started.end());
}

}  // namespace sim

namespace {

bool AllDigits(const char* s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

bool SameFile(const std::string& link, const struct stat& target) {
  struct stat st;
  return ::stat(link.c_str(), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino;
}

// Whether a process runs from the file (its /proc/PID/exe) or holds a lock
// on it: on the simulated machine a program holds its file that way, and a
// look at every open descriptor of every process would cost too much in a
// wait that asks twenty times a second.
bool InUse(const std::string& host, const struct stat& target) {
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  if (locked) return true;
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (dirent* p = ::readdir(proc)) {
    if (AllDigits(p->d_name) && SameFile(std::string("/proc/") + p->d_name + "/exe", target)) {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

// The environment of a started program: ours, with the machine named so
// that a program of the native build finds the same machine.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e)
    if (!corvane::StartsWith(*e, "CORVANE_MACHINE=")) env.emplace_back(*e);
  env.push_back("CORVANE_MACHINE=" + sim::MachineRoot());
  return env;
}

// Spawns `file` (a host path) with the arguments of the Windows command line;
// the first argument becomes `argv0`. Arguments are passed as they are.
bool Spawn(const std::string& file, const std::string& argv0, const std::string& commandLine) {
  std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.empty()) args.emplace_back();
  args[0] = argv0;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = ChildEnvironment();
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  const std::string cwd = HostPath(GetCurrentDir());
  struct stat st;
  if (::stat(cwd.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, file.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return false;
  std::lock_guard<std::mutex> g(sim::R().mu);
  sim::R().started.push_back(pid);
  return true;
}

}  // namespace

std::string ProgramPath() {
  return sim::Profile().value("programPath", std::string("C:\\Program Files\\Corvane\\Corvaner.exe"));
}

std::string SystemFolder() { return corvane::ExcludeTrailingBackslash(WindowsDirectory()) + "\\System32"; }

std::string LongPathName(const std::string& path) { return path; }

bool CanOpenForWriting(const std::string& path) {
  const std::string host = HostPath(path);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || sim::IsHeld(host)) return false;
  return !InUse(host, st);
}

bool StartProgram(const std::string& program, const std::string& commandLine) {
  const std::string host = HostPath(program);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Windows runs any program file; the machine's files carry no execute
  // permission of their own.
  if ((st.st_mode & 0111) != 0111) ::chmod(host.c_str(), st.st_mode | 0111);
  return Spawn(host, host, commandLine);
}

void SetBeforeProgramStartHook(std::function<void(const std::string& path)> hook) {
  std::lock_guard<std::mutex> g(sim::R().mu);
  sim::R().beforeStart = std::move(hook);
}

bool WriteAndStartProgram(const std::string& path, std::string_view image, const std::string& commandLine) {
  const std::string host = HostPath(path);
  if (sim::IsHeld(host)) return false;
  ::unlink(host.c_str());
  const int fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
  if (fd < 0) return false;
  sim::HoldFile(host);
  bool ok = true;
  for (size_t done = 0; ok && done < image.size();) {
    const ssize_t w = ::write(fd, image.data() + done, image.size() - done);
    if (w <= 0) ok = false;
    else done += static_cast<size_t>(w);
  }
  // A file open for writing cannot be run; a second descriptor of the same
  // file for reading keeps hold of it, and the program is started from that
  // descriptor, so the path cannot lead to another file meanwhile.
  const int runFd = ok ? ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC) : -1;
  ::close(fd);
  ok = runFd >= 0;
  if (ok) {
    std::string check(image.size() + 1, '\0');
    const ssize_t got = ::pread(runFd, check.data(), check.size(), 0);
    ok = got == static_cast<ssize_t>(image.size()) && std::string_view(check.data(), image.size()) == image;
  }
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> g(sim::R().mu);
    hook = sim::R().beforeStart;
  }
  if (ok && hook) hook(path);
  if (ok) ok = Spawn("/proc/self/fd/" + std::to_string(runFd), host, commandLine);
  if (runFd >= 0) ::close(runFd);
  sim::ReleaseFile(host);
  return ok;
}

void ShowInformationBox(const std::string& caption, const std::string& text) {
  sim::RecordEvent("messagebox " + caption + ": " + text);
}

}  // namespace plat
