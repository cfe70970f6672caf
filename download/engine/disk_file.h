// Positional file access for the engine: several connections write their
// byte ranges into one file at once. Paths are UTF-8 (host paths). Each
// system has its own file: posix/disk_file_posix.cpp, win32/disk_file_win32.cpp;
// disk_file.cpp holds what they share.
#pragma once
#include <cstdint>
#include <string>

namespace xldl {

class DiskFile {
 public:
  DiskFile() = default;
  ~DiskFile();
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  // Opens for reading and writing, creating the file when missing. On
  // Windows the file is marked sparse, where the volume allows: NTFS would
  // otherwise fill everything up to a write far into a file of its full size
  // with zeros first, at once, stalling that write for as long.
  bool Open(const std::string& path);
  bool IsOpen() const;
  // Whether setting a size leaves the bytes not written yet unallocated
  // (Windows: the file was marked sparse; posix files always are).
  bool Sparse() const { return sparse_; }
  // Writes all n bytes at offset; safe to call from several threads at once.
  bool WriteAt(int64_t offset, const void* data, size_t n);
  // Reads all n bytes at offset; false on an error or before the end of the file.
  bool ReadAt(int64_t offset, void* data, size_t n);
  bool SetSize(int64_t size);
  int64_t Size() const;
  // Makes the written data durable before a resume record claims it.
  bool Sync();
  void Close();

 private:
  // One positional write or read by the system, of n bytes at most: the
  // bytes moved, 0 at the end of the file, -1 on an error.
  int64_t WriteSome(int64_t offset, const char* data, size_t n);
  int64_t ReadSome(int64_t offset, char* data, size_t n);

  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;  // the system's handle or file descriptor
  bool sparse_ = false;
};

bool PathExists(const std::string& path);
bool RemovePath(const std::string& path);  // true when it is gone afterwards
bool RenameReplacing(const std::string& from, const std::string& to);
// The path of `name` in `folder`: joined by the system's separator unless the
// folder is empty or ends in one.
std::string JoinPath(std::string folder, const std::string& name);
bool ReadSmallFile(const std::string& path, std::string& out);
// Writes a small file so that a crash leaves either the old or the new
// content: a temporary beside it, flushed, then renamed over the old one.
bool WriteFileAtomically(const std::string& path, const std::string& data);

}  // namespace xldl
