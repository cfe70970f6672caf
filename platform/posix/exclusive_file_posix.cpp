// Exclusive reading on the simulated machine (see exclusive_file.h).
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/exclusive_file.h"
#include "platform/platform.h"

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22  // Linux 5.14; older C libraries lack the name
#endif

namespace plat {
namespace {

bool AllDigits(const char* s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

// Whether any descriptor other than ownFd of this process, or any descriptor
// of another process we may look at, refers to the file at hostPath.
bool OpenElsewhere(const std::string& hostPath, int ownFd) {
  char* real = ::realpath(hostPath.c_str(), nullptr);
  if (!real) return false;
  const std::string target = real;
  std::free(real);
  const std::string self = std::to_string(::getpid());
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (!found) {
    dirent* p = ::readdir(proc);
    if (!p) break;
    if (!AllDigits(p->d_name)) continue;
    const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;
    const bool isSelf = self == p->d_name;
    while (dirent* f = ::readdir(fds)) {
      if (!AllDigits(f->d_name)) continue;
      if (isSelf && std::atoi(f->d_name) == ownFd) continue;
      char link[4096];
      const ssize_t n = ::readlink((fdDir + "/" + f->d_name).c_str(), link, sizeof link);
      if (n > 0 && std::string(link, static_cast<size_t>(n)) == target) {
        found = true;
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return found;
}

}  // namespace

ExclusiveFile::~ExclusiveFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ExclusiveFile::Open(const std::string& path) {
  const std::string host = HostPath(path);
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      OpenElsewhere(host, fd)) {
    ::close(fd);
    return false;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  offset_ = 0;
  return true;
}

size_t ExclusiveFile::BlockSize() { return 4u << 20; }
size_t ExclusiveFile::BlocksAhead() { return 4; }

bool ExclusiveFile::NextBlock(FileBlock& block) {
  ReleaseBlock(block);
  if (fd_ < 0) return false;
  if (offset_ >= size_) return true;
  const size_t len = static_cast<size_t>(std::min<uint64_t>(BlockSize(), size_ - offset_));
  void* p = ::mmap(nullptr, len, PROT_READ, MAP_PRIVATE, fd_, static_cast<off_t>(offset_));
  if (p != MAP_FAILED) {
    // The pages are mapped in here, on the reading thread, and a read error
    // comes back as an error rather than as SIGBUS in the hashing thread.
    // (A kernel without MADV_POPULATE_READ says EINVAL: then the hashing
    // thread maps them in as it goes.)
    if (::madvise(p, len, MADV_POPULATE_READ) != 0 && errno != EINVAL) {
      ::munmap(p, len);
      return false;
    }
    block.mapping = p;
    block.mappedLength = len;
    block.data = static_cast<const char*>(p);
    block.size = len;
  } else {
    block.buffer.resize(len);
    size_t got = 0;
    if (::lseek(fd_, static_cast<off_t>(offset_), SEEK_SET) < 0 || !Read(block.buffer.data(), len, got)) return false;
    block.data = block.buffer.data();
    block.size = got;
    if (got == 0) return true;
  }
  offset_ += block.size;
  return true;
}

bool ExclusiveFile::UseBlock(const FileBlock& block, void (*use)(void*, const char*, size_t), void* context) {
  // The pages were populated when the block was loaded.
  use(context, block.data, block.size);
  return true;
}

void ExclusiveFile::ReleaseBlock(FileBlock& block) {
  if (block.mapping) ::munmap(block.mapping, block.mappedLength);
  block.mapping = nullptr;
  block.mappedLength = 0;
  block.data = nullptr;
  block.size = 0;
}

bool ExclusiveFile::Read(void* buf, size_t n, size_t& got) {
  got = 0;
  if (fd_ < 0) return false;
  for (;;) {
    const ssize_t r = ::read(fd_, buf, n);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    got = static_cast<size_t>(r);
    return true;
  }
}

}  // namespace plat
