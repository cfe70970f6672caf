// A file opened for reading with no sharing: the open fails while any other
// handle on the file is open, and nobody else can open it meanwhile.
//
// posix: the simulated machine has no share modes, so the open looks for other
// open descriptors of the same file in every process it can see (/proc) and
// refuses when it finds one; it then holds an exclusive flock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// One block of a file in memory, either read into `buffer` or mapped.
struct FileBlock {
  const char* data = nullptr;
  size_t size = 0;
  std::vector<char> buffer;  // storage for a block that is read, reused
  void* mapping = nullptr;
  size_t mappedLength = 0;
};

class ExclusiveFile {
 public:
  ExclusiveFile() = default;
  ~ExclusiveFile();
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  bool Open(const std::string& path);
  // Reads up to n bytes; 0 at the end. False on a read error.
  bool Read(void* buf, size_t n, size_t& got);

  // The next block, in memory once this returns (so it is the place where
  // the waiting for the disk happens); size 0 at the end; false on an error.
  // The block's earlier contents are released first. posix maps the file
  // (no copy: the data is read straight from the page cache); Windows reads
  // into the block's buffer, since a read error in a mapped view would be a
  // fault, not an error code.
  bool NextBlock(FileBlock& block);
  void ReleaseBlock(FileBlock& block);
  // The block size and the number of blocks in flight that measured fastest
  // on this platform (bench/sha1).
  static size_t BlockSize();
  static size_t BlocksAhead();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
#endif
};

}  // namespace plat
