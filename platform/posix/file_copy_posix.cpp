// CopyFileSafely on the simulated machine. The kernel copies the data
// (copy_file_range, as cp does) in chunks; a source that cannot take it falls
// back to reading and writing. Windows share modes are simulated with flock:
// a program holding the file exclusively (plat::ExclusiveFile) keeps us out.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "common/text.h"
#include "platform/file_copy.h"
#include "platform/posix/sim_machine.h"

namespace plat {
namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

int OpenSource(const std::string& host) {
  // O_NOATIME keeps the access time as it was; only the file's owner may ask
  // for it, so anyone else reads without it. O_NONBLOCK keeps a FIFO among
  // the documents from holding the open (and means nothing to a file).
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  int fd = ::open(host.c_str(), flags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = ::open(host.c_str(), flags);
  return fd;
}

// One chunk: the kernel's copy while it can, else through a buffer.
ssize_t CopyChunk(int in, int out, size_t n, bool& kernelCopy, std::vector<char>& buffer) {
  if (kernelCopy) {
    for (;;) {
      const ssize_t got = ::copy_file_range(in, nullptr, out, nullptr, n, 0);
      if (got >= 0) return got;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
      kernelCopy = false;
      break;
    }
  }
  if (buffer.empty()) buffer.resize(size_t{1} << 20);
  ssize_t got;
  do {
    got = ::read(in, buffer.data(), std::min(n, buffer.size()));
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return got;
  for (ssize_t done = 0; done < got;) {
    const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return -1;
    done += w;
  }
  return got;
}

// Whether the open folder is where its name says, with no link on the way
// that leads it somewhere else: its real path must end with the part of the
// name below the machine's folder.
bool WhereNamed(int fd, const std::string& host) {
  char real[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), real, sizeof real);
  if (n <= 0 || n == static_cast<ssize_t>(sizeof real)) return false;
  const std::string root = sim::MachineRoot();
  const std::string below = host.compare(0, root.size(), root) == 0 ? host.substr(root.size()) : host;
  return corvane::EndsWith(std::string_view(real, static_cast<size_t>(n)), below);
}

// Opens a file or folder by the path spelt as stored, and by the path found
// without regard to letter case when that is not there; host gets the path.
int OpenResolved(const std::string& winPath, std::string& host, int (*open)(const std::string&)) {
  host = sim::ExactHostPath(winPath);
  int fd = open(host);
  if (fd < 0 && errno == ENOENT) {
    const std::string resolved = sim::Resolve(winPath);
    if (resolved != host) {
      host = resolved;
      fd = open(host);
    }
  }
  return fd;
}

int OpenFolder(const std::string& host) { return ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

// Opens the destination folder so that no link on its way is followed: in
// one step where the kernel can refuse links itself, else by opening it and
// looking at where it ended up.
int OpenFolderNoLinks(const std::string& winPath, std::string& host) {
  struct open_how how {};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  host = sim::ExactHostPath(winPath);
  const int fd = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, host.c_str(), &how, sizeof how));
  if (fd >= 0) return fd;
  // ENOENT: spelt otherwise; ELOOP: a link, perhaps above the machine's
  // folder; ENOSYS and the like: an older kernel.
  const int folder = OpenResolved(winPath, host, OpenFolder);
  if (folder >= 0 && !WhereNamed(folder, host)) {
    ::close(folder);
    return -1;
  }
  return folder;
}

}  // namespace

CopyResult CopyFileSafely(const std::string& from, const std::string& to, const CopyGoOn& goOn) {
  const std::string name = corvane::ExtractFileName(to);
  if (name.empty() || corvane::EqualsNoCase(from, to)) return CopyResult::Failed;
  std::string hf;
  Fd in;
  in.fd = OpenResolved(from, hf, OpenSource);
  if (in.fd < 0) return CopyResult::Failed;
  struct stat st;
  if (::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) return CopyResult::Failed;
  // Another program holding the file without sharing reading.
  if (::flock(in.fd, LOCK_SH | LOCK_NB) != 0) return CopyResult::Failed;

  // Everything below happens inside the destination folder, opened once: it
  // must be where its name says (a link among the destination folders must
  // not carry the copy elsewhere), and a later change of the names above it
  // cannot move the copy either.
  std::string hd;
  Fd dir;
  dir.fd = OpenFolderNoLinks(corvane::ExtractFilePath(to), hd);
  if (dir.fd < 0) return CopyResult::Failed;
  struct stat old;
  std::string target = name;
  bool exists = ::fstatat(dir.fd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists) {
    target = sim::MatchInFolder(dir.fd, name);  // an older copy spelt otherwise
    exists = target != name && ::fstatat(dir.fd, target.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  }
  if (exists && old.st_dev == st.st_dev && old.st_ino == st.st_ino) return CopyResult::Failed;  // the source

  // A new file: what a cancelled or broken run left under this name goes
  // first, and nothing else is ever written through.
  const std::string tmp = target + kCopyTempSuffix;
  const int tmpFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  Fd out;
  out.fd = ::openat(dir.fd, tmp.c_str(), tmpFlags, 0644);
  if (out.fd < 0 && errno == EEXIST && ::unlinkat(dir.fd, tmp.c_str(), 0) == 0)
    out.fd = ::openat(dir.fd, tmp.c_str(), tmpFlags, 0644);
  if (out.fd < 0) return CopyResult::Failed;
  auto giveUp = [&](CopyResult r) {
    ::close(out.fd);
    out.fd = -1;
    ::unlinkat(dir.fd, tmp.c_str(), 0);
    return r;
  };

  // Up to the size the source had when it was opened: a file that another
  // program keeps writing to still ends.
  const int64_t size = st.st_size;
  const auto& observer = sim::CopyChunkObserver();
  bool kernelCopy = true;
  std::vector<char> buffer;
  int64_t done = 0;
  while (done < size) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(size - done, kCopyChunkBytes));
    const ssize_t got = CopyChunk(in.fd, out.fd, want, kernelCopy, buffer);
    if (got < 0) return giveUp(CopyResult::Failed);
    if (got == 0) break;  // the source became shorter meanwhile
    done += got;
    if (observer) observer(from, done);
    if (done < size && goOn && !goOn(done)) return giveUp(CopyResult::Cancelled);
  }

  // The source's attributes and last-write time go with the copy.
  uint32_t attrs = 0;
  if (::fgetxattr(in.fd, sim::kAttrXattr, &attrs, sizeof attrs) == static_cast<ssize_t>(sizeof attrs) &&
      ::fsetxattr(out.fd, sim::kAttrXattr, &attrs, sizeof attrs, 0) != 0)
    return giveUp(CopyResult::Failed);
  const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
  if (::futimens(out.fd, times) != 0) return giveUp(CopyResult::Failed);
  const int fd = out.fd;
  out.fd = -1;
  if (::close(fd) != 0) {
    ::unlinkat(dir.fd, tmp.c_str(), 0);
    return CopyResult::Failed;
  }
  // The whole copy takes the real name; an older one, read-only or not, goes.
  if (::renameat(dir.fd, tmp.c_str(), dir.fd, target.c_str()) != 0) {
    ::unlinkat(dir.fd, tmp.c_str(), 0);
    return CopyResult::Failed;
  }
  return CopyResult::Copied;
}

}  // namespace plat
