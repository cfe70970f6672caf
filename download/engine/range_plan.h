// Which byte ranges of the file are written, being fetched, or still wanted,
// and who fetches what. A connection that runs out of work takes over the
// back half of the largest range another connection still has ahead of it,
// so all connections stay busy to the end.
#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

#include "download/engine/resume_record.h"

namespace xldl {

class RangePlan {
 public:
  // The file of `size` bytes of which `done` is already on disk, its gaps
  // cut into about `parts` segments.
  void Reset(int64_t size, const std::vector<Span>& done, int64_t minSplit, int parts = 1);
  // Gives `worker` a segment to fetch; false when none is left to take.
  bool Acquire(int worker, int& segment);
  // The segment's next byte to write and its current end.
  void Cursor(int segment, int64_t& from, int64_t& to);
  // Claims up to n bytes at the segment's cursor for writing; less when the
  // segment was shortened meanwhile, 0 at its end.
  int64_t Reserve(int segment, int64_t n);
  // The claimed bytes are written.
  void Commit(int segment, int64_t n);
  // The worker gives the segment back (after a failure).
  void Release(int segment);

  std::vector<Span> Done() const;
  int64_t DoneBytes() const;
  int64_t Size() const;
  bool Complete() const;

 private:
  struct Segment {
    int64_t begin, written, reserved, end;
    int owner;
  };
  mutable std::mutex mu_;
  std::vector<Segment> segs_;
  int64_t size_ = 0;
  int64_t minSplit_ = 1;
};

}  // namespace xldl
