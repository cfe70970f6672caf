// Reading of Windows INI text the way the Windows profile functions read it:
// section and key names without regard to ASCII letter case, blanks around
// names and values dropped, one pair of matching quotes around a value
// removed, the first occurrence winning. Any bytes are accepted; what does
// not parse is skipped.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class IniFile {
 public:
  explicit IniFile(std::string_view text);
  // The value, or def when the section or key is missing or the key's line
  // has no "=".
  std::string ReadString(std::string_view section, std::string_view key, const std::string& def) const;

 private:
  struct Entry {
    std::string section;
    std::string key;
    std::string value;
  };
  std::vector<Entry> entries_;
};

}  // namespace corvane
