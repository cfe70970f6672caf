// The resume record kept beside the partial data: which byte ranges of which
// file version are on disk. It is only ever replaced as a whole (written to a
// temporary and renamed). Each claimed range carries the CRC-32C of its
// 64 KiB cells; a resumed task keeps only the cells that read back with their
// sums, so a crash that loses written data loses no more than that data.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace xldl {

// Claims with sums start at multiples of this, one sum per cell (the last
// may cover only the cell's first bytes); the range plan splits only at
// multiples of it as well.
constexpr int64_t kCellBytes = 64 << 10;

struct Span {
  int64_t begin = 0, end = 0;  // [begin, end)
  bool operator==(const Span&) const = default;
};

struct ResumeRecord {
  std::string url;
  int64_t size = -1;
  std::string etag, lastModified;
  std::vector<Span> done;  // sorted, disjoint, inside [0, size)
  // Empty, or one entry per span of `done`: the CRC-32C of each of its cells
  // in order; an empty entry is a span without sums.
  std::vector<std::vector<uint32_t>> sums;
};

std::string SerializeRecord(const ResumeRecord& r);
// Strict: anything malformed, out of range or cut short gives false.
bool ParseRecord(const std::string& text, ResumeRecord& out);
// Sorts and merges touching or overlapping spans, dropping empty ones.
std::vector<Span> NormalizeSpans(std::vector<Span> spans);

}  // namespace xldl
