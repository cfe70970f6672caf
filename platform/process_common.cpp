// The Windows command-line splitting rules, shared by both builds (the posix
// side starts its children from the pieces; tests check the rules anywhere).
#include "platform/process.h"

namespace plat {

std::vector<std::string> SplitCommandLine(const std::string& cl) {
  std::vector<std::string> out;
  size_t i = 0;
  const size_t n = cl.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (i < n && blank(cl[i])) ++i;
  if (i >= n) return out;

  // The program name: quotes toggle, backslashes are plain characters.
  std::string prog;
  bool quoted = false;
  for (; i < n; ++i) {
    const char c = cl[i];
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && blank(c)) break;
    prog += c;
  }
  out.push_back(prog);

  for (;;) {
    while (i < n && blank(cl[i])) ++i;
    if (i >= n) break;
    std::string arg;
    quoted = false;
    while (i < n) {
      const char c = cl[i];
      if (c == '\\') {
        size_t slashes = 0;
        while (i < n && cl[i] == '\\') {
          ++slashes;
          ++i;
        }
        if (i < n && cl[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg += '"';
            ++i;
          }
          // an even count leaves the quote to the quoting rule below
        } else {
          arg.append(slashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && cl[i + 1] == '"') {
          arg += '"';  // "" inside quotes
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      if (!quoted && blank(c)) break;
      arg += c;
      ++i;
    }
    out.push_back(arg);
  }
  return out;
}

}  // namespace plat
