#include "download/engine/resume_record.h"

#include <algorithm>
#include <sstream>

#include "download/engine/engine_text.h"

namespace xldl {

namespace {
constexpr const char* kMagic = "CVXL-RESUME 1";

bool Clean(const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; }

constexpr char kHex[] = "0123456789abcdef";
constexpr const char* kSumsTag = " crc32c ";

int64_t CellsIn(const Span& s) { return (s.end - s.begin + kCellBytes - 1) / kCellBytes; }

// Eight lower-case hex digits per cell, no separators.
bool ParseSums(const std::string& hex, std::vector<uint32_t>& out) {
  if (hex.empty() || hex.size() % 8 != 0) return false;
  out.assign(hex.size() / 8, 0);
  for (size_t i = 0; i < hex.size(); ++i) {
    const char c = hex[i];
    const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) return false;
    out[i / 8] = out[i / 8] << 4 | static_cast<uint32_t>(v);
  }
  return true;
}
}  // namespace

std::vector<Span> NormalizeSpans(std::vector<Span> spans) {
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  std::vector<Span> out;
  for (const Span& s : spans) {
    if (s.end <= s.begin) continue;
    if (!out.empty() && s.begin <= out.back().end) {
      out.back().end = std::max(out.back().end, s.end);
    } else {
      out.push_back(s);
    }
  }
  return out;
}

std::string SerializeRecord(const ResumeRecord& r) {
  std::string out = std::string(kMagic) + "\n";
  out += "url " + (Clean(r.url) ? r.url : std::string()) + "\n";
  out += "size " + std::to_string(r.size) + "\n";
  out += "etag " + (Clean(r.etag) ? r.etag : std::string()) + "\n";
  out += "modified " + (Clean(r.lastModified) ? r.lastModified : std::string()) + "\n";
  for (size_t i = 0; i < r.done.size(); ++i) {
    const Span& s = r.done[i];
    out += "done " + std::to_string(s.begin) + " " + std::to_string(s.end);
    if (i < r.sums.size() && !r.sums[i].empty()) {
      out += kSumsTag;
      for (const uint32_t v : r.sums[i])
        for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(v >> shift) & 0xF];
    }
    out += "\n";
  }
  out += "end " + std::to_string(r.done.size()) + "\n";
  return out;
}

bool ParseRecord(const std::string& text, ResumeRecord& out) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) return false;  // cut short
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  if (lines.size() < 6 || lines[0] != kMagic) return false;
  auto field = [&](size_t i, const char* key, std::string& v) {
    const std::string k = std::string(key) + " ";
    if (lines[i].compare(0, k.size(), k) != 0) return false;
    v = lines[i].substr(k.size());
    return true;
  };
  ResumeRecord r;
  std::string size, count;
  if (!field(1, "url", r.url) || !field(2, "size", size) || !field(3, "etag", r.etag) ||
      !field(4, "modified", r.lastModified) || !ParseU64(size, r.size))
    return false;
  int64_t last = 0;
  bool anySums = false;
  for (size_t i = 5; i + 1 < lines.size(); ++i) {
    std::string v;
    if (!field(i, "done", v)) return false;
    std::vector<uint32_t> sums;
    const size_t tag = v.find(kSumsTag);
    if (tag != std::string::npos) {
      if (!ParseSums(v.substr(tag + std::string(kSumsTag).size()), sums)) return false;
      v.resize(tag);
    }
    const size_t blank = v.find(' ');
    Span s;
    if (blank == std::string::npos || !ParseU64(v.substr(0, blank), s.begin) || !ParseU64(v.substr(blank + 1), s.end))
      return false;
    if (s.begin < last || s.end <= s.begin || s.end > r.size) return false;
    // Summed spans start on the cell grid, one sum per cell; the last may
    // be the sum of a cell's prefix.
    if (!sums.empty() && (s.begin % kCellBytes != 0 || static_cast<int64_t>(sums.size()) != CellsIn(s)))
      return false;
    anySums = anySums || !sums.empty();
    last = s.end;
    r.done.push_back(s);
    r.sums.push_back(std::move(sums));
  }
  if (!anySums) r.sums.clear();
  int64_t n = 0;
  if (!field(lines.size() - 1, "end", count) || !ParseU64(count, n) || n != static_cast<int64_t>(r.done.size()))
    return false;
  out = std::move(r);
  return true;
}

}  // namespace xldl
