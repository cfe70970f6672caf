// A ZIP reader on zlib's raw inflate: stored and deflate entries, nested
// folders. It refuses entries that would land outside the target folder.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace corvane
