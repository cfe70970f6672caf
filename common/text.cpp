#include "common/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "unicode/utf.h"

namespace corvane {

namespace {

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view s) { return unicode::Utf8ToUtf16(s); }

std::string Utf16ToUtf8(std::u16string_view s) { return unicode::Utf16ToUtf8(s); }

#ifdef _WIN32
std::wstring Widen(std::string_view s) {
  auto u = Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}
std::string Narrow(std::wstring_view s) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(s.data()), s.size()));
}
#endif

size_t CodePointCount(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++n) {
    char32_t cp;
    i += unicode::DecodeUtf8(s, i, cp);
  }
  return n;
}

std::string PadRight(std::string_view s, size_t n) {
  std::string out(s);
  for (size_t c = CodePointCount(s); c < n; ++c) out += ' ';
  return out;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = UpperChar(c);
  return out;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = LowerChar(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  return true;
}

size_t FindNoCase(std::string_view hay, std::string_view needle, size_t from) {
  if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
  if (needle.size() > hay.size()) return std::string_view::npos;
  for (size_t i = from; i + needle.size() <= hay.size(); ++i)
    if (EqualsNoCase(hay.substr(i, needle.size()), needle)) return i;
  return std::string_view::npos;
}

bool Contains(std::string_view hay, std::string_view needle) {
  return hay.find(needle) != std::string_view::npos;
}
bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool EndsWith(std::string_view s, std::string_view x) {
  return s.size() >= x.size() && s.substr(s.size() - x.size()) == x;
}
bool EndsWithNoCase(std::string_view s, std::string_view x) {
  return s.size() >= x.size() && EqualsNoCase(s.substr(s.size() - x.size()), x);
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

std::string ReplaceFirstNoCase(std::string_view s, std::string_view from, std::string_view to) {
  const size_t p = from.empty() ? std::string_view::npos : FindNoCase(s, from);
  if (p == std::string_view::npos) return std::string(s);
  std::string out(s.substr(0, p));
  out += to;
  out += s.substr(p + from.size());
  return out;
}

std::string IncludeTrailingBackslash(std::string_view s) {
  std::string out(s);
  if (out.empty() || out.back() != '\\') out += '\\';
  return out;
}
std::string ExcludeTrailingBackslash(std::string_view s) {
  std::string out(s);
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}
std::string ExtractFilePath(std::string_view path) {
  const size_t p = path.find_last_of("\\:");
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}
std::string ExtractFileName(std::string_view path) {
  const size_t p = path.find_last_of("\\:");
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}
std::string ExtractFileExt(std::string_view path) {
  const std::string name = ExtractFileName(path);
  const size_t p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, ap2);
    out.resize(static_cast<size_t>(n));
  }
  va_end(ap2);
  return out;
}

std::string FormatFixed(double v, int decimals, std::string_view sep) {
  std::string s = Format("%.*f", decimals, v);
  if (sep != ".") {
    const size_t p = s.find('.');
    if (p != std::string::npos) s.replace(p, 1, sep);
  }
  return s;
}

bool TryParseInt64(std::string_view s, int64_t& out) {
  if (s.empty()) return false;
  size_t i = 0;
  bool neg = false;
  if (s[0] == '+' || s[0] == '-') {
    neg = s[0] == '-';
    i = 1;
  }
  if (i >= s.size()) return false;
  uint64_t v = 0;
  const uint64_t limit = neg ? 9223372036854775808ULL : 9223372036854775807ULL;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    const unsigned d = static_cast<unsigned>(s[i] - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  out = neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

bool TryParseInt32(std::string_view s, int32_t& out) {
  int64_t v;
  if (!TryParseInt64(s, v) || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

std::string HexUpper(const unsigned char* data, size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string out(n * 2, '0');
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = digits[data[i] >> 4];
    out[2 * i + 1] = digits[data[i] & 15];
  }
  return out;
}

}  // namespace corvane
