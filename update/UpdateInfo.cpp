#include "update/UpdateInfo.h"

#include "common/text.h"

namespace corvane {
namespace {

// Where values must end: before the text's last two characters.
size_t ValueLimit(std::string_view text) {
  size_t pos = text.size();
  for (int k = 0; k < 2 && pos > 0; ++k) {
    --pos;
    while (pos > 0 && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) --pos;
  }
  return pos;
}

std::vector<std::string> SplitVersion(std::string_view v) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < 4) {
    const size_t dot = v.find('.', start);
    parts.emplace_back(v.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  while (parts.size() < 4) parts.emplace_back("0");
  return parts;
}

}  // namespace

std::string UpdateInfoValue(std::string_view text, std::string_view key) {
  const bool message = EqualsNoCase(key, "#message");
  const std::string needle = std::string(key) + (message ? "={" : "=");
  const size_t at = FindNoCase(text, needle);
  if (at == std::string_view::npos) return {};
  const size_t start = at + needle.size();
  const size_t limit = ValueLimit(text);
  if (start >= limit) return {};
  size_t end = start;
  while (end < limit && (message ? text[end] != '}' : static_cast<unsigned char>(text[end]) >= 32)) ++end;
  return std::string(text.substr(start, end - start));
}

UpdateInfo ReadUpdateInfo(std::string_view text) {
  UpdateInfo info;
  info.version = UpdateInfoValue(text, "#version");
  info.method = UpdateInfoValue(text, "#method");
  info.message = UpdateInfoValue(text, "#message");
  info.date = UpdateInfoValue(text, "#date");
  for (const char* key : {"#url", "#url0"}) {
    std::string v = UpdateInfoValue(text, key);
    if (!v.empty()) info.entries.push_back(std::move(v));
  }
  for (size_t n = info.entries.size() + 1;; ++n) {
    std::string v = UpdateInfoValue(text, "#url" + std::to_string(n));
    if (v.empty()) break;
    info.entries.push_back(std::move(v));
  }
  return info;
}

int CompareVersions(std::string_view a, std::string_view b) {
  const std::vector<std::string> pa = SplitVersion(a), pb = SplitVersion(b);
  int64_t na[4], nb[4];
  bool numeric = true;
  for (int i = 0; i < 4 && numeric; ++i) {
    int32_t x = 0, y = 0;
    numeric = TryParseInt32(pa[i], x) && TryParseInt32(pb[i], y);
    na[i] = x;
    nb[i] = y;
  }
  if (!numeric) {
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  for (int i = 0; i < 4; ++i)
    if (na[i] != nb[i]) return na[i] < nb[i] ? -1 : 1;
  return 0;
}

bool IsNewerVersion(std::string_view available, std::string_view own) {
  return !available.empty() && CompareVersions(available, own) > 0;
}

bool OffersUpdate(const UpdateInfo& info, std::string_view ownVersion) {
  return !info.entries.empty() && IsNewerVersion(info.version, ownVersion);
}

char UpdateMethodDigit(const UpdateInfo& info) { return !info.method.empty() && info.method[0] == '1' ? '1' : '0'; }

bool IsWebPageMethod(const UpdateInfo& info) { return !info.method.empty() && info.method[0] == '2'; }

}  // namespace corvane
