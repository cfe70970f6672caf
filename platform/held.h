// Files and folders the program relies on while it runs elevated, held open
// so that no other program of the user changes them meanwhile.
//
// Windows: a held file can still be read by others, but not written,
// deleted or renamed; a held folder cannot be deleted or renamed, and
// neither can a folder above a held file. The simulated machine has no share
// modes: it keeps the descriptors and checks the contents only.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

class Holds {
 public:
  Holds() = default;
  ~Holds();
  Holds(const Holds&) = delete;
  Holds& operator=(const Holds&) = delete;

  // Holds a folder; false when it cannot be opened or is a link (a junction
  // or symbolic link could be turned to another place at any time).
  bool HoldFolder(const std::string& path);
  // Holds a file and reads it through the held handle: false unless its
  // content is `expected` (the file was changed before it was held).
  bool HoldFile(const std::string& path, std::string_view expected);
  // Lets go of everything held.
  void ReleaseAll();
  size_t Count() const { return handles_.size(); }

 private:
  std::vector<uintptr_t> handles_;
};

// Writes a new file; false when the name is taken already (by a file, or a
// link planted to have the writing land elsewhere).
bool WriteNewFile(const std::string& path, std::string_view data);

// Makes `path` a new, empty folder made by this call: whatever was there is
// removed first (a link itself, never what it points to), and the creation
// must not find the name taken. False otherwise.
bool MakeFreshFolder(const std::string& path);

}  // namespace plat
