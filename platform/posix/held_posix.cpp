#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/held.h"
#include "platform/platform.h"

namespace plat {

Holds::~Holds() { ReleaseAll(); }

bool Holds::HoldFolder(const std::string& path) {
  const int fd = ::open(HostPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  handles_.push_back(static_cast<uintptr_t>(fd));
  return true;
}

bool Holds::HoldFile(const std::string& path, std::string_view expected) {
  const int fd = ::open(HostPath(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  handles_.push_back(static_cast<uintptr_t>(fd));
  std::string content;
  char buf[65536];
  ssize_t got;
  while (content.size() <= expected.size() && (got = ::read(fd, buf, sizeof buf)) > 0)
    content.append(buf, static_cast<size_t>(got));
  return content == expected;
}

void Holds::ReleaseAll() {
  for (uintptr_t fd : handles_) ::close(static_cast<int>(fd));
  handles_.clear();
}

// Executable like every file of the simulated machine: Windows can start any
// program written to the disk (the payload's editor, say).
bool WriteNewFile(const std::string& path, std::string_view data) {
  const int fd = ::open(HostPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && !data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    ok = n > 0;
    if (ok) data.remove_prefix(static_cast<size_t>(n));
  }
  return ::close(fd) == 0 && ok;
}

bool MakeFreshFolder(const std::string& path) {
  const std::string host = HostPath(path);
  struct stat st;
  if (::lstat(host.c_str(), &st) == 0) {
    std::error_code ec;
    if (S_ISDIR(st.st_mode))
      std::filesystem::remove_all(host, ec);
    else
      ::unlink(host.c_str());  // a file, or a link itself (never what it points to)
  }
  return ::mkdir(host.c_str(), 0755) == 0;
}

}  // namespace plat
