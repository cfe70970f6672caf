// The posix side of the seam: a Windows machine simulated in a folder.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "common/text.h"
#include "platform/platform.h"
#include "platform/profile_text.h"
#include "platform/posix/sim_machine.h"

namespace plat::sim {
std::string CurrentDirGet();
void CurrentDirSet(const std::string& d);
}  // namespace plat::sim

namespace plat {
namespace {

using sim::Resolve;

const char* kAttrXattr = "user.corvane.attrs";

// Windows has no execute permission: a program written to the disk (the
// payload's editor, say) can be started, so every file is made executable.
constexpr mode_t kFileMode = 0755;

bool IsDirHost(const std::string& h) {
  struct stat st;
  return ::stat(h.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool IsFileHost(const std::string& h) {
  struct stat st;
  return ::stat(h.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Windows attributes other than "directory" are kept in an extended
// attribute of the host file; a file without one reads as archive.
uint32_t StoredAttrs(const std::string& host) {
  uint32_t v = 0;
  const ssize_t n = ::getxattr(host.c_str(), kAttrXattr, &v, sizeof v);
  return n == static_cast<ssize_t>(sizeof v) ? v : kAttrArchive;
}

bool ReadOnlyHost(const std::string& host) { return (StoredAttrs(host) & kAttrReadOnly) != 0; }

bool RemoveTreeHost(const std::string& host) {
  struct stat st;
  if (::lstat(host.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return ::unlink(host.c_str()) == 0;
  bool ok = true;
  if (DIR* d = ::opendir(host.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      ok = RemoveTreeHost(host + "/" + n) && ok;
    }
    ::closedir(d);
  }
  return ::rmdir(host.c_str()) == 0 && ok;
}

std::string Convert(const std::string& in, const char* from, const char* to) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return in;
  std::string out(in.size() * 4 + 8, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  while (srcLeft > 0) {
    if (::iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) {
      if (errno == EILSEQ || errno == EINVAL) {
        // not representable: a question mark, as Windows does
        if (dstLeft == 0) break;
        *dst++ = '?';
        --dstLeft;
        ++src;
        --srcLeft;
        continue;
      }
      break;
    }
  }
  out.resize(out.size() - dstLeft);
  ::iconv_close(cd);
  return out;
}

std::string CodePage() {
  const auto p = sim::Profile();
  return p.value("codepage", std::string("UTF-8"));
}

// The code page of a new console: the profile's OEM code page, which is the
// ANSI one unless the profile says otherwise.
std::string ConsoleCodePage() {
  const auto p = sim::Profile();
  return p.value("oemcodepage", p.value("codepage", std::string("UTF-8")));
}

std::string FromUtf8(const std::string& utf8, const std::string& cp) {
  return corvane::EqualsNoCase(cp, "UTF-8") ? utf8 : Convert(utf8, "UTF-8", cp.c_str());
}
std::string ToUtf8(const std::string& text, const std::string& cp) {
  return corvane::EqualsNoCase(cp, "UTF-8") ? text : Convert(text, cp.c_str(), "UTF-8");
}

}  // namespace

std::string HostPath(const std::string& path) { return Resolve(path); }

bool FileExists(const std::string& path) { return IsFileHost(Resolve(path)); }
bool DirectoryExists(const std::string& path) { return IsDirHost(Resolve(path)); }

bool CreateDir(const std::string& path) { return ::mkdir(Resolve(path).c_str(), 0755) == 0; }

bool ForceDirectories(const std::string& path) {
  std::string p = corvane::ExcludeTrailingBackslash(path);
  if (p.empty()) return false;
  if (DirectoryExists(p)) return true;
  const std::string parent = corvane::ExtractFilePath(p);
  if (!parent.empty() && parent != p + "\\" && corvane::ExcludeTrailingBackslash(parent) != p) {
    const std::string pp = corvane::ExcludeTrailingBackslash(parent);
    if (!pp.empty() && pp.back() != ':' && !ForceDirectories(pp)) return false;
    if (!pp.empty() && pp.back() == ':') ::mkdir(Resolve(pp + "\\").c_str(), 0755);
  }
  CreateDir(p);
  return DirectoryExists(p);
}

bool RemoveFile(const std::string& path) {
  const std::string h = Resolve(path);
  if (!IsFileHost(h) || ReadOnlyHost(h)) return false;
  return ::unlink(h.c_str()) == 0;
}

bool RemoveDir(const std::string& path) { return ::rmdir(Resolve(path).c_str()) == 0; }

bool RemoveTree(const std::string& path) {
  const std::string h = Resolve(path);
  if (!IsDirHost(h)) return false;
  return RemoveTreeHost(h);
}

bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) {
  const std::string hf = Resolve(from), ht = Resolve(to);
  if (!IsFileHost(hf)) return false;
  if (IsFileHost(ht) && (failIfExists || ReadOnlyHost(ht))) return false;
  if (IsDirHost(ht)) return false;
  const int in = ::open(hf.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const std::string tmp = ht + ".cvcopy";
  const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (ok) {
    const uint32_t attrs = StoredAttrs(hf);
    ::setxattr(tmp.c_str(), kAttrXattr, &attrs, sizeof attrs, 0);
    ok = ::rename(tmp.c_str(), ht.c_str()) == 0;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool MoveFileTo(const std::string& from, const std::string& to, bool replaceExisting) {
  const std::string hf = Resolve(from), ht = Resolve(to);
  struct stat st;
  if (::lstat(hf.c_str(), &st) != 0) return false;
  if (::lstat(ht.c_str(), &st) == 0) {
    if (!replaceExisting || S_ISDIR(st.st_mode) || ReadOnlyHost(ht)) return false;
  }
  return ::rename(hf.c_str(), ht.c_str()) == 0;
}

uint32_t FileAttributes(const std::string& path) {
  const std::string h = Resolve(path);
  struct stat st;
  if (::stat(h.c_str(), &st) != 0) return kInvalidAttributes;
  if (S_ISDIR(st.st_mode)) return kAttrDirectory | (StoredAttrs(h) & ~kAttrArchive);
  const uint32_t a = StoredAttrs(h);
  return a == 0 ? kAttrNormal : a;
}

bool SetAttributes(const std::string& path, uint32_t attrs) {
  const std::string h = Resolve(path);
  struct stat st;
  if (::stat(h.c_str(), &st) != 0) return false;
  uint32_t v = attrs & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  return ::setxattr(h.c_str(), kAttrXattr, &v, sizeof v, 0) == 0;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  const std::string h = Resolve(path);
  if (!IsFileHost(h)) return false;
  std::ifstream in(h, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteWholeFile(const std::string& path, std::string_view data) {
  const std::string h = Resolve(path);
  if (IsDirHost(h) || (IsFileHost(h) && ReadOnlyHost(h))) return false;
  const int fd = ::open(h.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; done < data.size();) {
    const ssize_t w = ::write(fd, data.data() + done, data.size() - done);
    if (w <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(w);
  }
  return ::close(fd) == 0 && ok;
}

bool AppendToFile(const std::string& path, std::string_view data) {
  const std::string h = Resolve(path);
  if (IsDirHost(h) || (IsFileHost(h) && ReadOnlyHost(h))) return false;
  const int fd = ::open(h.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kFileMode);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; done < data.size();) {
    const ssize_t w = ::write(fd, data.data() + done, data.size() - done);
    if (w <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(w);
  }
  return ::close(fd) == 0 && ok;
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (::stat(Resolve(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out) {
  const std::string h = Resolve(dir);
  DIR* d = ::opendir(h.c_str());
  if (!d) return false;
  while (dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    DirEntry de;
    de.name = n;
    const std::string full = h + "/" + n;
    de.attrs = IsDirHost(full) ? (kAttrDirectory | (StoredAttrs(full) & ~kAttrArchive)) : StoredAttrs(full);
    out.push_back(std::move(de));
  }
  ::closedir(d);
  return true;
}

std::string GetCurrentDir() { return sim::CurrentDirGet(); }

bool SetCurrentDir(const std::string& dir) {
  if (!DirectoryExists(dir)) return false;
  std::string d = corvane::ExcludeTrailingBackslash(dir);
  if (d.size() >= 2 && d[1] == ':') d[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(d[0])));
  if (d.size() == 2) d += "\\";
  sim::CurrentDirSet(d);
  return true;
}

bool WriteProfileText(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value) {
  std::string text;
  if (FileExists(file) && !ReadWholeFile(file, text)) return false;
  return WriteWholeFile(file, SetProfileEntry(text, Utf8ToAnsi(section), Utf8ToAnsi(key), Utf8ToAnsi(value)));
}

std::vector<std::string> LogicalDriveStrings() {
  std::vector<std::string> out;
  const auto p = sim::Profile();
  if (!p.contains("drives") || !p["drives"].is_object()) return out;
  for (char c = 'A'; c <= 'Z'; ++c) {
    if (p["drives"].contains(std::string(1, c))) out.push_back(std::string(1, c) + ":\\");
  }
  return out;
}

unsigned DriveType(const std::string& root) {
  if (root.size() < 2 || root[1] != ':') return kDriveNoRootDir;
  const std::string letter(1, static_cast<char>(std::toupper(static_cast<unsigned char>(root[0]))));
  const auto p = sim::Profile();
  if (!p.contains("drives") || !p["drives"].contains(letter)) return kDriveNoRootDir;
  const auto& v = p["drives"][letter];
  return v.is_number_unsigned() || v.is_number_integer() ? v.get<unsigned>() : kDriveUnknown;
}

std::string TempPath() { return sim::Profile().value("temp", std::string("C:\\Temp\\")); }
std::string WindowsDirectory() { return sim::Profile().value("windir", std::string("C:\\Windows")); }

RegValueKind ReadShellFolderValue(const std::string& name, std::string& value) {
  value.clear();
  const auto p = sim::Profile();
  if (!p.contains("shellFolders") || !p["shellFolders"].is_object()) return RegValueKind::NoKey;
  const auto& sf = p["shellFolders"];
  for (auto it = sf.begin(); it != sf.end(); ++it) {
    if (!corvane::EqualsNoCase(it.key(), name)) continue;
    if (!it.value().is_string()) return RegValueKind::Other;
    value = it.value().get<std::string>();
    return RegValueKind::String;
  }
  return RegValueKind::Missing;
}

std::vector<std::string> CommandLineArgs() {
  std::vector<std::string> out;
  const auto p = sim::Profile();
  if (p.contains("args") && p["args"].is_array())
    for (const auto& a : p["args"])
      if (a.is_string()) out.push_back(a.get<std::string>());
  return out;
}

void OutputDebugText(const std::string& text) {
  sim::RecordEvent("debug " + text);
}

std::string Utf8ToAnsi(const std::string& utf8) { return FromUtf8(utf8, CodePage()); }
std::string AnsiToUtf8(const std::string& ansi) { return ToUtf8(ansi, CodePage()); }
std::string Utf8ToConsole(const std::string& utf8) { return FromUtf8(utf8, ConsoleCodePage()); }
std::string ConsoleToUtf8(const std::string& console) { return ToUtf8(console, ConsoleCodePage()); }

std::string DecimalSeparator() { return sim::Profile().value("decimalSeparator", std::string(".")); }

std::string LocalTimeStamp() {
  // The simulated machine uses the Chinese (PRC) formats: short date
  // yyyy/M/d, long time H:mm:ss.
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  std::string s = corvane::Format("%d/%d/%d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  if (tm.tm_hour || tm.tm_min || tm.tm_sec) s += corvane::Format(" %d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return s;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

}  // namespace plat
