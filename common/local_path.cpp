#include "common/local_path.h"

#include <vector>

namespace corvane {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool AllDotsOrBlanks(std::string_view s) {
  for (char c : s)
    if (c != '.' && c != ' ') return false;
  return true;
}

// The device names Windows resolves in any folder, with or without an
// extension ("NUL.txt" is the null device too).
bool IsReservedName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string up;
  for (char c : base) up += Upper(c);
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* n : kNames)
    if (up == n) return true;
  if (up.size() >= 4 && (up.compare(0, 3, "COM") == 0 || up.compare(0, 3, "LPT") == 0)) {
    const std::string_view digit = std::string_view(up).substr(3);
    if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') return true;
    // superscript one, two and three count as digits here too
    if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
  }
  return false;
}

}  // namespace

std::string LocalPathProblem(std::string_view path) {
  if (path.empty()) return "empty path";
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return "device or network path";
  if (path.size() >= 4 && path[0] == '\\' && path[1] == '?' && path[2] == '?' && path[3] == '\\')
    return "device or network path";
  const char d = Upper(path[0]);
  if (path.size() < 3 || d < 'A' || d > 'Z' || path[1] != ':' || !IsSeparator(path[2]))
    return "not an absolute path on a drive";
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c < 32) return "control character in the path";
    if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') return "character not allowed in names";
    if (c == ':' && i != 1) return "alternate data stream";
  }
  if (IsSeparator(path.back())) return "no file name";
  size_t start = 3;
  while (start < path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string_view component = path.substr(start, end - start);
    if (!component.empty()) {  // "a\\b" stands for "a\b"
      if (AllDotsOrBlanks(component)) return "relative component \"" + std::string(component) + "\"";
      if (component.back() == '.' || component.back() == ' ') return "name ending in a dot or blank";
      if (IsReservedName(component)) return "reserved device name \"" + std::string(component) + "\"";
    }
    start = end + 1;
  }
  return {};
}

}  // namespace corvane
