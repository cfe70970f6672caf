#include <windows.h>

#include <algorithm>

#include "common/text.h"
#include "platform/exclusive_file.h"

namespace plat {

ExclusiveFile::~ExclusiveFile() {
  if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
}

bool ExclusiveFile::Open(const std::string& path) {
  // Share mode 0: fails while any other handle on the file is open.
  HANDLE h = ::CreateFileW(corvane::Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
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

}  // namespace plat

namespace plat {

size_t ExclusiveFile::BlockSize() { return 1u << 20; }
size_t ExclusiveFile::BlocksAhead() { return 4; }

bool ExclusiveFile::NextBlock(FileBlock& block) {
  block.buffer.resize(BlockSize());
  block.data = block.buffer.data();
  block.size = 0;
  return Read(block.buffer.data(), block.buffer.size(), block.size);
}

void ExclusiveFile::ReleaseBlock(FileBlock& block) {
  block.data = nullptr;
  block.size = 0;
}

}  // namespace plat
