#include "download/IniFile.h"

#include "common/text.h"

namespace corvane {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

}  // namespace

IniFile::IniFile(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte order mark
  std::string section;
  bool inSection = false;
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    std::string_view line = TrimBlanks(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      section = std::string(TrimBlanks(line.substr(1, close - 1)));
      inSection = true;
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string_view::npos) continue;
    entries_.push_back({section, std::string(TrimBlanks(line.substr(0, eq))), Unquote(TrimBlanks(line.substr(eq + 1)))});
  }
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, const std::string& def) const {
  for (const auto& e : entries_)
    if (EqualsNoCase(e.section, section) && EqualsNoCase(e.key, key)) return e.value;
  return def;
}

}  // namespace corvane
