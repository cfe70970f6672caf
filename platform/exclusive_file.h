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

namespace plat {

class ExclusiveFile {
 public:
  ExclusiveFile() = default;
  ~ExclusiveFile();
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  bool Open(const std::string& path);
  // Reads up to n bytes; 0 at the end. False on a read error.
  bool Read(void* buf, size_t n, size_t& got);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace plat
