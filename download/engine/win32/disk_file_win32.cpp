// The engine's files on Windows: positional reads and writes through
// OVERLAPPED offsets on one handle, which several threads share.
#include <windows.h>
#include <winioctl.h>

#include "download/engine/disk_file.h"
#include "download/engine/engine_text.h"
#include "download/engine/fault_points.h"

namespace xldl {

namespace {

std::wstring Wide(const std::string& s) {
  const std::u16string u = Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

// A handle closed when it goes out of scope.
struct ScopedHandle {
  HANDLE h;
  explicit ScopedHandle(HANDLE handle) : h(handle) {}
  ~ScopedHandle() {
    if (ok()) ::CloseHandle(h);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
  // Closes now; false when the close failed.
  bool Close() {
    const bool closed = ::CloseHandle(h) != 0;
    h = INVALID_HANDLE_VALUE;
    return closed;
  }
};

OVERLAPPED At(int64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  ov.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return ov;
}

constexpr size_t kMaxChunk = size_t{1} << 30;

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

bool DiskFile::Open(const std::string& path) {
  Close();
  HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  DWORD unused = 0;
  sparse_ = ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr) != 0;
  return true;
}

int64_t DiskFile::WriteSome(int64_t offset, const char* data, size_t n) {
  OVERLAPPED ov = At(offset);
  DWORD written = 0;
  const DWORD chunk = static_cast<DWORD>(n > kMaxChunk ? kMaxChunk : n);
  return ::WriteFile(AsHandle(handle_), data, chunk, &written, &ov) ? static_cast<int64_t>(written) : -1;
}

int64_t DiskFile::ReadSome(int64_t offset, char* data, size_t n) {
  OVERLAPPED ov = At(offset);
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(n > kMaxChunk ? kMaxChunk : n);
  return ::ReadFile(AsHandle(handle_), data, chunk, &got, &ov) ? static_cast<int64_t>(got) : -1;
}

bool DiskFile::SetSize(int64_t size) {
  FILE_END_OF_FILE_INFO info{};
  info.EndOfFile.QuadPart = size;
  return ::SetFileInformationByHandle(AsHandle(handle_), FileEndOfFileInfo, &info, sizeof info) != 0;
}

int64_t DiskFile::Size() const {
  LARGE_INTEGER v{};
  if (!::GetFileSizeEx(AsHandle(handle_), &v)) return -1;
  return v.QuadPart;
}

bool DiskFile::Sync() {
  faults::At(faults::Point::Sync);
  return ::FlushFileBuffers(AsHandle(handle_)) != 0;
}

void DiskFile::Close() {
  if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
  sparse_ = false;
}

bool PathExists(const std::string& path) {
  return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemovePath(const std::string& path) {
  faults::At(faults::Point::Remove);
  const std::wstring w = Wide(path);
  if (::GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  ::SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
  return ::DeleteFileW(w.c_str()) != 0;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string JoinPath(std::string folder, const std::string& name) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder + name;
}

bool ReadSmallFile(const std::string& path, std::string& out) {
  ScopedHandle f(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.ok()) return false;
  out.clear();
  char buf[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ::ReadFile(f.h, buf, sizeof buf, &got, nullptr) != 0) && got > 0) {
    out.append(buf, got);
    if (out.size() > (64u << 20)) {
      ok = false;
      break;
    }
  }
  return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& data) {
  const std::string tmp = path + ".new";
  ScopedHandle f(
      ::CreateFileW(Wide(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.ok()) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(f.h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
            written == data.size() && ::FlushFileBuffers(f.h);
  f.Close();
  if (!ok || !RenameReplacing(tmp, path)) {
    RemovePath(tmp);
    return false;
  }
  return true;
}

}  // namespace xldl
