#include "download/engine/disk_file.h"

#include "download/engine/fault_points.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>

#include "download/engine/engine_text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstdio>

namespace xldl {

#ifdef _WIN32

DiskFile::~DiskFile() { Close(); }

bool DiskFile::Open(const std::string& path) {
  Close();
  HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  DWORD unused = 0;
  sparse_ = ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr) != 0;
  return true;
}

bool DiskFile::IsOpen() const { return handle_ != nullptr; }

bool DiskFile::WriteAt(int64_t offset, const void* data, size_t n) {
  faults::At(faults::Point::Write);
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    ov.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    const DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    DWORD written = 0;
    if (!::WriteFile(static_cast<HANDLE>(handle_), p, chunk, &written, &ov) || written == 0) return false;
    p += written;
    offset += written;
    n -= written;
  }
  return true;
}

bool DiskFile::ReadAt(int64_t offset, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    ov.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    const DWORD chunk = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
    DWORD got = 0;
    if (!::ReadFile(static_cast<HANDLE>(handle_), p, chunk, &got, &ov) || got == 0) return false;
    p += got;
    offset += got;
    n -= got;
  }
  return true;
}

bool DiskFile::SetSize(int64_t size) {
  FILE_END_OF_FILE_INFO info{};
  info.EndOfFile.QuadPart = size;
  return ::SetFileInformationByHandle(static_cast<HANDLE>(handle_), FileEndOfFileInfo, &info, sizeof info) != 0;
}

int64_t DiskFile::Size() const {
  LARGE_INTEGER v{};
  if (!::GetFileSizeEx(static_cast<HANDLE>(handle_), &v)) return -1;
  return v.QuadPart;
}

bool DiskFile::Sync() {
  faults::At(faults::Point::Sync);
  return ::FlushFileBuffers(static_cast<HANDLE>(handle_)) != 0;
}

void DiskFile::Close() {
  if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  sparse_ = false;
}

bool PathExists(const std::string& path) {
  return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemovePath(const std::string& path) {
  faults::At(faults::Point::Remove);
  const std::wstring w = Utf8ToWide(path);
  if (::GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  ::SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
  return ::DeleteFileW(w.c_str()) != 0;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return ::MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool ReadSmallFile(const std::string& path, std::string& out) {
  HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  out.clear();
  char buf[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ::ReadFile(h, buf, sizeof buf, &got, nullptr) != 0) && got > 0) {
    out.append(buf, got);
    if (out.size() > (64u << 20)) {
      ok = false;
      break;
    }
  }
  ::CloseHandle(h);
  return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& data) {
  const std::string tmp = path + ".new";
  HANDLE h = ::CreateFileW(Utf8ToWide(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
            written == data.size() && ::FlushFileBuffers(h);
  ::CloseHandle(h);
  if (!ok || !RenameReplacing(tmp, path)) {
    RemovePath(tmp);
    return false;
  }
  return true;
}

#else

DiskFile::~DiskFile() { Close(); }

bool DiskFile::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  sparse_ = fd_ >= 0;
  return fd_ >= 0;
}

bool DiskFile::IsOpen() const { return fd_ >= 0; }

bool DiskFile::WriteAt(int64_t offset, const void* data, size_t n) {
  faults::At(faults::Point::Write);
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    offset += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool DiskFile::ReadAt(int64_t offset, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    const ssize_t r = ::pread(fd_, p, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    offset += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool DiskFile::SetSize(int64_t size) { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

int64_t DiskFile::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool DiskFile::Sync() {
  faults::At(faults::Point::Sync);
  return ::fdatasync(fd_) == 0;
}

void DiskFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
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

#endif

}  // namespace xldl
