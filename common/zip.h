// A ZIP reader on zlib's raw inflate: stored and deflate entries, nested
// folders. It refuses entries that would land outside the target folder.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {
class Holds;
}

namespace corvane {

struct ZipEntry {
  std::string name;  // as stored, with '/' separators
  uint16_t method = 0;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint64_t localHeaderOffset = 0;
  bool isDirectory = false;
};

class ZipReader {
 public:
  // Parses the central directory; raises Exception on a damaged archive.
  explicit ZipReader(std::string_view archive);
  const std::vector<ZipEntry>& Entries() const { return entries_; }
  // The entry's bytes, inflated and checked against its CRC; raises on error.
  std::string Read(const ZipEntry& e) const;

 private:
  std::string_view data_;
  std::vector<ZipEntry> entries_;
};

// Checks an entry name and turns it into a relative Windows path
// ("a/b.txt" -> "a\b.txt"); raises Exception for absolute paths, drive
// letters and ".." components.
std::string SafeRelativePath(const std::string& entryName);

// Extracts every entry of the archive file into destDir (a Windows path),
// creating folders as needed and overwriting files of the same name.
// Raises Exception on any failure.
void ExtractZipFile(const std::string& zipPath, const std::string& destDir);
void ExtractZipData(std::string_view archive, const std::string& destDir);
// The same into a folder that `holds` holds already: every folder and file
// made is held in turn, each file once its content is read back equal to
// the archive's (so that nothing written can be swapped before it is used).
void ExtractZipDataHeld(std::string_view archive, const std::string& destDir, plat::Holds& holds);

}  // namespace corvane
