#include "byte_range.h"

#include <cctype>
#include <optional>

namespace opserver {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Decimal digits only; nullopt when empty, not digits or too large.
std::optional<uint64_t> Number(const std::string& s) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

}  // namespace

RangeAnswer ReadRange(const std::string& header, uint64_t size) {
  RangeAnswer whole;
  std::string h = Trim(header);
  const std::string unit = "bytes=";
  if (h.size() < unit.size()) return whole;
  for (size_t i = 0; i < unit.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(h[i])) != unit[i]) return whole;
  std::string rangeSet = Trim(h.substr(unit.size()));
  if (rangeSet.find(',') != std::string::npos) return whole;
  size_t dash = rangeSet.find('-');
  if (dash == std::string::npos) return whole;
  std::string a = Trim(rangeSet.substr(0, dash)), b = Trim(rangeSet.substr(dash + 1));

  RangeAnswer out;
  out.kind = RangeAnswer::Partial;
  if (a.empty()) {  // suffix: the last n bytes
    auto n = Number(b);
    if (!n) return whole;
    if (*n == 0 || size == 0) return {RangeAnswer::Unsatisfiable, 0, 0};
    out.first = *n >= size ? 0 : size - *n;
    out.last = size - 1;
    return out;
  }
  auto first = Number(a);
  if (!first) return whole;
  std::optional<uint64_t> last;
  if (!b.empty()) {
    last = Number(b);
    if (!last || *last < *first) return whole;
  }
  if (*first >= size) return {RangeAnswer::Unsatisfiable, 0, 0};
  out.first = *first;
  out.last = (!last || *last >= size) ? size - 1 : *last;
  return out;
}

}  // namespace opserver
