#include "download/engine/disk_file.h"

#include "download/engine/fault_points.h"

namespace xldl {

DiskFile::~DiskFile() { Close(); }

bool DiskFile::IsOpen() const { return handle_ != kNoHandle; }

bool DiskFile::WriteAt(int64_t offset, const void* data, size_t n) {
  faults::At(faults::Point::Write);
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const int64_t w = WriteSome(offset, p, n);
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
    const int64_t r = ReadSome(offset, p, n);
    if (r <= 0) return false;
    p += r;
    offset += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

}  // namespace xldl
