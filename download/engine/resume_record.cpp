#include "download/engine/resume_record.h"

#include <algorithm>
#include <sstream>

#include "download/engine/engine_text.h"

namespace xldl {

namespace {
constexpr const char* kMagic = "CVXL-RESUME 1";

bool Clean(const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; }
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
  for (const Span& s : r.done) out += "done " + std::to_string(s.begin) + " " + std::to_string(s.end) + "\n";
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
  for (size_t i = 5; i + 1 < lines.size(); ++i) {
    std::string v;
    if (!field(i, "done", v)) return false;
    const size_t blank = v.find(' ');
    Span s;
    if (blank == std::string::npos || !ParseU64(v.substr(0, blank), s.begin) || !ParseU64(v.substr(blank + 1), s.end))
      return false;
    if (s.begin < last || s.end <= s.begin || s.end > r.size) return false;
    last = s.end;
    r.done.push_back(s);
  }
  int64_t n = 0;
  if (!field(lines.size() - 1, "end", count) || !ParseU64(count, n) || n != static_cast<int64_t>(r.done.size()))
    return false;
  out = std::move(r);
  return true;
}

}  // namespace xldl
