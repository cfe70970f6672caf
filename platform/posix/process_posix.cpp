// Console children on the simulated machine: real processes with pipes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <thread>

#include "common/text.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "platform/process.h"

extern char** environ;

namespace plat {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool IsDriveLetterPath(const std::string& s) {
  return s.size() >= 3 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':' &&
         (s[2] == '\\' || s[2] == '/');
}

bool IsHostFile(const std::string& h) {
  struct stat st;
  return ::stat(h.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The host program for the command's first piece: a drive-letter path maps
// into the machine; a bare name found in the child's current folder is taken
// from there; anything else is looked up on PATH by the spawn.
std::string ResolveProgram(const std::string& prog, const std::string& currentDir, bool& searchPath) {
  searchPath = false;
  if (IsDriveLetterPath(prog)) return HostPath(prog);
  if (prog.find('/') != std::string::npos) return prog;
  const std::string inCurrent = HostPath(corvane::IncludeTrailingBackslash(currentDir) + prog);
  if (IsHostFile(inCurrent)) return inCurrent;
  searchPath = true;
  return prog;
}

// The caller's environment plus what the simulated system tells its programs.
std::vector<std::string> ChildEnvironment() {
  const nlohmann::json p = sim::Profile();
  const std::string console = p.value("oemcodepage", p.value("codepage", std::string("UTF-8")));
  const std::pair<std::string, std::string> told[] = {
      {"CORVANE_SIM_UILANG", p.value("uiLanguage", std::string("en-US"))},
      {"CORVANE_SIM_CONSOLE_CP", console}};
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string var = *e;
    bool replaced = false;
    for (const auto& t : told) replaced = replaced || corvane::StartsWith(var, t.first + "=");
    if (!replaced) env.push_back(var);
  }
  for (const auto& t : told) env.push_back(t.first + "=" + t.second);
  return env;
}

int NiceFor(int priorityClass) {
  if (priorityClass & kIdlePriorityClass) return 19;
  if (priorityClass & kBelowNormalPriorityClass) return 10;
  return 0;  // normal and above: an unprivileged process cannot raise its priority
}

}  // namespace

struct ChildProcess::Impl {
  pid_t pid = -1;
  int pidFd = -1;
  int inWrite = -1;  // our end of the child's standard input
  int outRead = -1;  // our end of the child's standard output and error
  int wakeFd = -1;
  bool outClosed = false;  // the child side of the output pipe is gone
  bool reaped = false;
  uint32_t exitCode = kStillActive;
  bool terminated = false;
  uint32_t terminateCode = 0;

  void Reap(int status) {
    reaped = true;
    if (terminated)
      exitCode = terminateCode;
    else if (WIFEXITED(status))
      exitCode = static_cast<uint32_t>(WEXITSTATUS(status));
    else
      exitCode = 128u + static_cast<uint32_t>(WTERMSIG(status));
  }
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {
  impl_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  Close();
  CloseFd(impl_->wakeFd);
}

void ChildProcess::Close() {
  Impl& d = *impl_;
  CloseFd(d.inWrite);
  CloseFd(d.outRead);
  CloseFd(d.pidFd);
  if (d.pid > 0 && !d.reaped) {
    int status = 0;
    if (::waitpid(d.pid, &status, WNOHANG) == 0) {
      // Left running (a time limit ended the watch): reap it when it ends so
      // that it does not stay behind as a zombie.
      const pid_t pid = d.pid;
      std::thread([pid] {
        int st = 0;
        while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
      }).detach();
    }
    d.reaped = true;  // from here on the child is none of ours
  }
}

ChildProcess::StartResult ChildProcess::Start(const std::string& commandLine, int priorityClass,
                                              const std::string& currentDir) {
  Impl& d = *impl_;
  const std::string childDir = currentDir.empty() ? GetCurrentDir() : currentDir;
  // As CreateProcess does, a current folder that is not there fails the start.
  if (!currentDir.empty() && !DirectoryExists(currentDir)) return StartResult::ProcessFailed;
  int in[2], out[2];
  // Close-on-exec: a child started by another runner at the same moment
  // never inherits these; our own child gets them through dup2 below.
  if (::pipe2(in, O_CLOEXEC) != 0) return StartResult::PipeFailed;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return StartResult::PipeFailed;
  }
  std::vector<std::string> args = SplitCommandLine(commandLine);
  bool searchPath = false;
  if (!args.empty()) args[0] = ResolveProgram(args[0], childDir, searchPath);
  for (size_t i = 1; i < args.size(); ++i)
    if (IsDriveLetterPath(args[i])) args[i] = HostPath(args[i]);

  StartResult result = StartResult::ProcessFailed;
  if (!args.empty()) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = ChildEnvironment();
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string cwd = HostPath(childDir);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, out[1], 2);
    struct stat st;
    if (::stat(cwd.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t def;
    sigemptyset(&def);
    sigaddset(&def, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &def);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = 0;
    auto spawn = [&] {
      rc = searchPath ? ::posix_spawnp(&pid, argv[0], &fa, &attr, argv.data(), envp.data())
                      : ::posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), envp.data());
    };
    if (const int nice = NiceFor(priorityClass)) {
      // A child takes the nice value of the thread that starts it; Linux
      // keeps nice values per thread, so a helper thread lowers its own and
      // starts the child, and nobody else's priority changes.
      std::thread([&] {
        ::setpriority(PRIO_PROCESS, 0, nice);
        spawn();
      }).join();
    } else {
      spawn();
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    if (rc == 0) {
      d.pid = pid;
      d.pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
      result = StartResult::Started;
    }
  }
  ::close(in[0]);
  ::close(out[1]);
  d.inWrite = in[1];
  d.outRead = out[0];
  if (result != StartResult::Started) {
    CloseFd(d.inWrite);
    CloseFd(d.outRead);
  }
  return result;
}

uint32_t ChildProcess::ExitCode() {
  Impl& d = *impl_;
  if (d.pid <= 0) return 0;
  if (d.reaped) return d.exitCode;
  int status = 0;
  const pid_t r = ::waitpid(d.pid, &status, WNOHANG);
  if (r == d.pid) d.Reap(status);
  return d.reaped ? d.exitCode : kStillActive;
}

size_t ChildProcess::Available() {
  int n = 0;
  if (impl_->outRead < 0 || ::ioctl(impl_->outRead, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<size_t>(n);
}

size_t ChildProcess::Read(char* buf, size_t n) {
  if (impl_->outRead < 0 || n == 0) return 0;
  const ssize_t r = ::read(impl_->outRead, buf, n);
  return r > 0 ? static_cast<size_t>(r) : 0;
}

bool ChildProcess::Write(const char* data, size_t n) {
  Impl& d = *impl_;
  if (d.inWrite < 0) return false;
  // A child that has closed its input must give EPIPE here, not a SIGPIPE
  // that ends the whole program: block it on this thread for the write and
  // take away a signal it left pending.
  sigset_t pipeSet, old;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
  bool ok = true;
  for (size_t done = 0; done < n;) {
    const ssize_t w = ::write(d.inWrite, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(w);
  }
  if (!ok && errno == EPIPE) {
    const timespec zero{0, 0};
    while (::sigtimedwait(&pipeSet, nullptr, &zero) == SIGPIPE) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return ok;
}

void ChildProcess::Terminate(uint32_t exitCode) {
  Impl& d = *impl_;
  if (d.pid <= 0 || d.reaped) return;
  d.terminated = true;
  d.terminateCode = exitCode;
  ::kill(d.pid, SIGKILL);
}

void ChildProcess::WaitForActivity(int timeoutMs) {
  Impl& d = *impl_;
  pollfd fds[3];
  int n = 0;
  int outIdx = -1;
  if (d.outRead >= 0 && !d.outClosed) {
    outIdx = n;
    fds[n++] = {d.outRead, POLLIN, 0};
  }
  if (d.pidFd >= 0 && !d.reaped) fds[n++] = {d.pidFd, POLLIN, 0};
  if (d.wakeFd >= 0) fds[n++] = {d.wakeFd, POLLIN, 0};
  if (n == 0 || (d.pidFd < 0 && !d.reaped)) {
    // Without a process descriptor the end of the child is not signalled:
    // fall back to short naps.
    if (timeoutMs > 10) timeoutMs = 10;
  }
  if (::poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return;
  if (outIdx >= 0 && (fds[outIdx].revents & (POLLHUP | POLLERR)) && Available() == 0) {
    d.outClosed = true;  // no writer is left: stop asking, it would answer at once for ever
  }
  if (d.wakeFd >= 0) {
    uint64_t v;
    while (::read(d.wakeFd, &v, sizeof v) > 0) {
    }
  }
}

void ChildProcess::Wake() {
  if (impl_->wakeFd < 0) return;
  const uint64_t one = 1;
  (void)!::write(impl_->wakeFd, &one, sizeof one);
}

}  // namespace plat
