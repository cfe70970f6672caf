#include "platform/posix/sim_machine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "common/text.h"
#include "platform/platform.h"

namespace plat::sim {
namespace {

struct State {
  std::mutex mu;
  std::string root;
  std::shared_ptr<const nlohmann::json> profile;
  std::string currentDir = "C:\\";
};

State& S() {
  static State s;
  return s;
}

bool HostExists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

void LoadLocked(State& s) {
  nlohmann::json p = DefaultProfile();
  std::ifstream in(s.root + "/machine.json");
  if (in) {
    try {
      nlohmann::json user = nlohmann::json::parse(in);
      for (auto it = user.begin(); it != user.end(); ++it) p[it.key()] = it.value();
    } catch (...) {
      // a broken profile leaves the defaults
    }
  }
  s.profile = std::make_shared<const nlohmann::json>(std::move(p));
}

void EnsureRootLocked(State& s) {
  if (!s.root.empty()) return;
  const char* env = std::getenv("CORVANE_MACHINE");
  if (env && *env) {
    s.root = env;
  } else {
    s.root = "/tmp/corvane-machine-" + std::to_string(::getpid());
  }
  ::mkdir(s.root.c_str(), 0755);
  LoadLocked(s);
}

}  // namespace

nlohmann::json DefaultProfile() {
  return nlohmann::json{
      {"windir", "C:\\Windows"},
      {"temp", "C:\\Users\\User\\AppData\\Local\\Temp\\"},
      {"drives", {{"C", 3}}},
      {"shellFolders",
       {{"AppData", "C:\\Users\\User\\AppData\\Roaming"},
        {"Desktop", "C:\\Users\\User\\Desktop"},
        {"Personal", "C:\\Users\\User\\Documents"},
        {"Favorites", "C:\\Users\\User\\Favorites"}}},
      {"wmi", nlohmann::json::object()},
      {"codepage", "UTF-8"},
      {"decimalSeparator", "."},
      {"args", nlohmann::json::array()}};
}

void SetMachineRoot(const std::string& hostDir) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.mu);
  s.root = hostDir;
  ::mkdir(s.root.c_str(), 0755);
  s.currentDir = "C:\\";
  LoadLocked(s);
}

std::string MachineRoot() {
  State& s = S();
  std::lock_guard<std::mutex> g(s.mu);
  EnsureRootLocked(s);
  return s.root;
}

void ReloadProfile() {
  State& s = S();
  std::lock_guard<std::mutex> g(s.mu);
  EnsureRootLocked(s);
  LoadLocked(s);
}

nlohmann::json Profile() {
  State& s = S();
  std::lock_guard<std::mutex> g(s.mu);
  EnsureRootLocked(s);
  return *s.profile;
}

void WriteProfile(const nlohmann::json& profile) {
  const std::string root = MachineRoot();
  {
    std::ofstream out(root + "/machine.json", std::ios::trunc);
    out << profile.dump(2);
  }
  ReloadProfile();
}

std::string CurrentDirLocked();

namespace {

// The machine's folder for the drive and the names below it, "." and ".."
// settled.
struct HostParts {
  std::string drive;  // host folder of the drive
  std::vector<std::string> names;
};

HostParts Split(const std::string& winPathIn) {
  std::string p = winPathIn;
  for (auto& c : p)
    if (c == '/') c = '\\';
  std::string cur;
  std::string root;
  {
    State& s = S();
    std::lock_guard<std::mutex> g(s.mu);
    EnsureRootLocked(s);
    cur = s.currentDir;
    root = s.root;
  }
  char letter;
  std::string rest;
  if (p.size() >= 2 && p[1] == ':') {
    letter = p[0];
    rest = p.substr(2);
    if (rest.empty() || rest[0] != '\\') rest = "\\" + rest;  // "C:x" taken from the root
  } else if (!p.empty() && p[0] == '\\') {
    letter = cur[0];
    rest = p;
  } else {
    letter = cur[0];
    rest = cur.substr(2) + "\\" + p;
  }
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
  HostParts out;
  out.drive = root + "/" + std::string(1, letter);
  std::string piece;
  std::istringstream is(rest);
  while (std::getline(is, piece, '\\')) {
    if (piece.empty() || piece == ".") continue;
    if (piece == "..") {
      if (!out.names.empty()) out.names.pop_back();
      continue;
    }
    out.names.push_back(piece);
  }
  return out;
}

std::string Joined(const HostParts& hp) {
  std::string host = hp.drive;
  for (const auto& name : hp.names) host += "/" + name;
  return host;
}

// The entry of the host folder that matches name without regard to letter
// case; empty when there is none.
std::string MatchIn(DIR* d, const std::string& name) {
  while (dirent* e = ::readdir(d))
    if (corvane::EqualsNoCase(e->d_name, name)) return e->d_name;
  return std::string();
}

}  // namespace

std::string ExactHostPath(const std::string& winPath) { return Joined(Split(winPath)); }

std::string MatchInFolder(int dirFd, const std::string& name) {
  // The folder's entries are read straight from the open folder (no second
  // descriptor and no stream around it): the backup asks this for every new
  // copy.
  if (::lseek(dirFd, 0, SEEK_SET) != 0) return name;
  alignas(8) char buf[16384];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, dirFd, buf, sizeof buf);
    if (n <= 0) return name;
    for (long at = 0; at < n;) {
      const auto* e = reinterpret_cast<const dirent64*>(buf + at);
      if (corvane::EqualsNoCase(e->d_name, name)) return e->d_name;
      at += e->d_reclen;
    }
  }
}

std::string Resolve(const std::string& winPath) {
  const HostParts hp = Split(winPath);
  const std::vector<std::string>& parts = hp.names;
  // Most paths are spelt as they are stored: one look-up settles them.
  const std::string exactPath = Joined(hp);
  if (parts.empty() || HostExists(exactPath)) return exactPath;
  // A new name in a folder that is spelt as stored: only the name itself may
  // match an entry of another letter case.
  std::string host = hp.drive;
  size_t first = 0;
  bool lastChecked = false;
  if (parts.size() > 1) {
    const std::string parentPath = exactPath.substr(0, exactPath.size() - parts.back().size() - 1);
    if (HostExists(parentPath)) {
      host = parentPath;
      first = parts.size() - 1;
      lastChecked = true;  // the exact name is not there
    }
  }
  for (size_t i = first; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    const std::string exact = host + "/" + part;
    if (!lastChecked && HostExists(exact)) {
      host = exact;
      continue;
    }
    lastChecked = false;
    std::string found;
    if (DIR* d = ::opendir(host.c_str())) {
      found = MatchIn(d, part);
      ::closedir(d);
    }
    host += "/" + (found.empty() ? part : found);
  }
  return host;
}

std::string CurrentDirGet() {
  State& s = S();
  std::lock_guard<std::mutex> g(s.mu);
  return s.currentDir;
}

void CurrentDirSet(const std::string& d) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.mu);
  s.currentDir = d;
}

void RecordEvent(const std::string& line) {
  const std::string root = MachineRoot();
  static std::mutex mu;
  std::lock_guard<std::mutex> g(mu);
  std::ofstream out(root + "/events.log", std::ios::app);
  out << line << "\n";
}

namespace {
std::function<void(const std::string&, int64_t)>& ChunkObserver() {
  static std::function<void(const std::string&, int64_t)> f;
  return f;
}
}  // namespace

void SetCopyChunkObserver(std::function<void(const std::string& from, int64_t copied)> observer) {
  ChunkObserver() = std::move(observer);
}
const std::function<void(const std::string&, int64_t)>& CopyChunkObserver() { return ChunkObserver(); }

std::vector<std::string> Events() {
  std::vector<std::string> out;
  std::ifstream in(MachineRoot() + "/events.log");
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

}  // namespace plat::sim
