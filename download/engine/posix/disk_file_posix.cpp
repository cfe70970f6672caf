// The engine's files on posix systems: pread and pwrite on one descriptor,
// which several threads share.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "download/engine/disk_file.h"
#include "download/engine/fault_points.h"

namespace xldl {

namespace {
int Fd(intptr_t h) { return static_cast<int>(h); }
}  // namespace

bool DiskFile::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  handle_ = fd;
  sparse_ = true;
  return true;
}

int64_t DiskFile::WriteSome(int64_t offset, const char* data, size_t n) {
  for (;;) {
    const ssize_t w = ::pwrite(Fd(handle_), data, n, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR) continue;
    return w;
  }
}

int64_t DiskFile::ReadSome(int64_t offset, char* data, size_t n) {
  for (;;) {
    const ssize_t r = ::pread(Fd(handle_), data, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

bool DiskFile::SetSize(int64_t size) { return ::ftruncate(Fd(handle_), static_cast<off_t>(size)) == 0; }

int64_t DiskFile::Size() const {
  struct stat st;
  if (::fstat(Fd(handle_), &st) != 0) return -1;
  return st.st_size;
}

bool DiskFile::Sync() {
  faults::At(faults::Point::Sync);
  return ::fdatasync(Fd(handle_)) == 0;
}

void DiskFile::Close() {
  if (handle_ != kNoHandle) ::close(Fd(handle_));
  handle_ = kNoHandle;
  sparse_ = false;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool RemovePath(const std::string& path) {
  faults::At(faults::Point::Remove);
  return ::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string JoinPath(std::string folder, const std::string& name) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + name;
}

bool ReadSmallFile(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out.clear();
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t r = ::read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) ok = false;
    if (r <= 0) break;
    out.append(buf, static_cast<size_t>(r));
    if (out.size() > (64u << 20)) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& data) {
  const std::string tmp = path + ".new";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < data.size()) {
    const ssize_t w = ::write(fd, data.data() + done, data.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(w);
  }
  ok = ok && ::fdatasync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace xldl
