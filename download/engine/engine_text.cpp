#include "download/engine/engine_text.h"

#include <cstdlib>

#include "unicode/utf.h"

namespace xldl {

std::string Utf16ToUtf8(const char16_t* s, size_t maxUnits) {
  size_t n = 0;
  while (n < maxUnits && s[n] != 0) ++n;
  return unicode::Utf16ToUtf8(std::u16string_view(s, n));
}

std::u16string Utf8ToUtf16(std::string_view s) { return unicode::Utf8ToUtf16(s); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool ParseU64(std::string_view s, int64_t& out) {
  if (s.empty() || s.size() > 18) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

int64_t EnvInt(const char* name, int64_t fallback) {
  const char* v = std::getenv(name);
  int64_t out = 0;
  if (v && ParseU64(v, out)) return out;
  return fallback;
}

}  // namespace xldl
