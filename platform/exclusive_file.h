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
  // The block's earlier contents are released first. Blocks are mapped views
  // of the file (no copy: the data is read straight from the cache).
  bool NextBlock(FileBlock& block);
  // Calls use(context, data, size) over a block's bytes; false when they
  // could not be read after all (a mapped page whose disk fails faults where
  // it is read, so this is the way to read a block). Exceptions from `use`
  // pass through; `use` must hold nothing that needs undoing if left half-way.
  static bool UseBlock(const FileBlock& block, void (*use)(void* context, const char* data, size_t size),
                       void* context);
  void ReleaseBlock(FileBlock& block);
  // The block size and the number of blocks in flight that measured fastest
  // on this platform (bench/sha1).
  static size_t BlockSize();
  static size_t BlocksAhead();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
  void* section_ = nullptr;  // the file mapping, made at the first block
#else
  int fd_ = -1;
#endif
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
};

}  // namespace plat
