// The text edit behind WriteProfileText on the simulated machine, kept apart
// so that its rules can be checked on their own. It reads a profile file the
// way the program's INI reader does (names without regard to ASCII letter
// case, blanks around names dropped, ";" lines are comments, a section
// header runs from "[" to the last "]", the first matching entry counts).
#pragma once
#include <string>
#include <string_view>

namespace plat {

// The file's bytes after writing key=value into section: the first entry
// with that key is replaced in place (keeping its spelling of the key), else
// the entry follows the last non-blank line of the first such section, else
// the section is added at the end. Every other byte stays as it was; added
// lines end in CR LF.
std::string SetProfileEntry(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);

}  // namespace plat
