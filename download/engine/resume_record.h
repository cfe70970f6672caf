// The resume record kept beside the partial data: which byte ranges of which
// file version are on disk. It is only ever replaced as a whole (written to a
// temporary and renamed), and it is written only after the data it claims
// has been flushed, so a crash leaves an older, smaller claim at worst.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace xldl {

struct Span {
  int64_t begin = 0, end = 0;  // [begin, end)
  bool operator==(const Span&) const = default;
};

struct ResumeRecord {
  std::string url;
  int64_t size = -1;
  std::string etag, lastModified;
  std::vector<Span> done;  // sorted, disjoint, inside [0, size)
};

std::string SerializeRecord(const ResumeRecord& r);
// Strict: anything malformed, out of range or cut short gives false.
bool ParseRecord(const std::string& text, ResumeRecord& out);
// Sorts and merges touching or overlapping spans, dropping empty ones.
std::vector<Span> NormalizeSpans(std::vector<Span> spans);

}  // namespace xldl
