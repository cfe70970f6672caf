#include <windows.h>

#include <algorithm>

#include "common/text.h"
#include "platform/exclusive_file.h"
#include "platform/win32/read_guard.h"

namespace plat {

ExclusiveFile::~ExclusiveFile() {
  if (section_) ::CloseHandle(static_cast<HANDLE>(section_));
  if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
}

bool ExclusiveFile::Open(const std::string& path) {
  // Share mode 0: fails while any other handle on the file is open.
  HANDLE h = ::CreateFileW(corvane::Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(h, &size)) size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool ExclusiveFile::Read(void* buf, size_t n, size_t& got) {
  got = 0;
  if (!handle_) return false;
  DWORD r = 0;
  if (!::ReadFile(static_cast<HANDLE>(handle_), buf, static_cast<DWORD>(std::min<size_t>(n, 1u << 30)), &r, nullptr))
    return false;
  got = r;
  return true;
}

namespace {

void TouchPages(void*, const char* data, size_t size) {
  const volatile char* c = data;
  for (size_t i = 0; i < size; i += 4096) (void)c[i];
}

}  // namespace

// A multiple of the 64 KiB granularity of views. 4 MiB views, 8 in flight,
// measured fastest under Wine (1 to 16 MiB, 2 to 16 in flight; fewer in
// flight let the hashing thread wait when the reading one is scheduled
// late). The 1 MiB blocks read into buffers that came before cost a fifth
// more time in the hashing thread than hashing in memory, the views 2-4 %.
size_t ExclusiveFile::BlockSize() { return 4u << 20; }
size_t ExclusiveFile::BlocksAhead() { return 8; }

bool ExclusiveFile::NextBlock(FileBlock& block) {
  ReleaseBlock(block);
  if (!handle_) return false;
  if (offset_ >= size_) return true;
  if (!section_) {
    section_ = ::CreateFileMappingW(static_cast<HANDLE>(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!section_) return false;
  }
  const size_t len = static_cast<size_t>(std::min<uint64_t>(BlockSize(), size_ - offset_));
  void* p = ::MapViewOfFile(static_cast<HANDLE>(section_), FILE_MAP_READ, static_cast<DWORD>(offset_ >> 32),
                            static_cast<DWORD>(offset_), len);
  if (!p) return false;
  // Paged in here, on the reading thread: the hashing thread then finds the
  // pages present, and a disk that fails is found here as an error.
  const bool paged = ReadGuarded(static_cast<const char*>(p), len, TouchPages, nullptr);
  if (!paged) {
    ::UnmapViewOfFile(p);
    return false;
  }
  block.mapping = p;
  block.mappedLength = len;
  block.data = static_cast<const char*>(p);
  block.size = len;
  offset_ += len;
  return true;
}

bool ExclusiveFile::UseBlock(const FileBlock& block, void (*use)(void*, const char*, size_t), void* context) {
  if (!block.mapping) {
    use(context, block.data, block.size);
    return true;
  }
  return ReadGuarded(block.data, block.size, use, context);
}

void ExclusiveFile::ReleaseBlock(FileBlock& block) {
  if (block.mapping) ::UnmapViewOfFile(block.mapping);
  block.mapping = nullptr;
  block.mappedLength = 0;
  block.data = nullptr;
  block.size = 0;
}

}  // namespace plat
