#include "platform/profile_text.h"

#include <vector>

#include "common/text.h"

namespace plat {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

// One line of the file: where it starts, where its text ends (before the
// line break) and where the next line starts.
struct Line {
  size_t begin, end, next;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.push_back({pos, text.size(), text.size()});
      break;
    }
    size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

// The section named by a header line, or false when the line is none.
bool SectionHeader(std::string_view line, std::string_view& name) {
  line = TrimBlanks(line);
  if (line.empty() || line.front() != '[') return false;
  const size_t close = line.rfind(']');
  if (close == std::string_view::npos) return false;
  name = TrimBlanks(line.substr(1, close - 1));
  return true;
}

}  // namespace

std::string SetProfileEntry(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
  const std::string entry = std::string(key) + "=" + std::string(value);
  const std::vector<Line> lines = SplitLines(text);
  bool inSection = false;
  bool sectionSeen = false;
  size_t lastInSection = 0;  // where an added entry goes: after this line's text
  for (const Line& l : lines) {
    const std::string_view line = text.substr(l.begin, l.end - l.begin);
    std::string_view name;
    if (SectionHeader(line, name)) {
      if (inSection) break;  // the first matching section has ended
      inSection = corvane::EqualsNoCase(name, section);
      if (inSection) {
        sectionSeen = true;
        lastInSection = l.end;
      }
      continue;
    }
    if (!inSection) continue;
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty()) continue;
    lastInSection = l.end;
    if (trimmed.front() == ';') continue;
    const size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name2 = TrimBlanks(trimmed.substr(0, eq));
    if (!corvane::EqualsNoCase(name2, key)) continue;
    // Replaced in place, with the file's own spelling of the key.
    std::string out(text.substr(0, l.begin));
    out += std::string(name2) + "=" + std::string(value);
    out += text.substr(l.end);
    return out;
  }
  if (sectionSeen) {
    std::string out(text.substr(0, lastInSection));
    out += "\r\n" + entry;
    out += text.substr(lastInSection);
    // The section's last line had no line break of its own.
    if (lastInSection == text.size()) out += "\r\n";
    return out;
  }
  std::string out(text);
  if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += "\r\n";
  out += "[" + std::string(section) + "]\r\n" + entry + "\r\n";
  return out;
}

}  // namespace plat
