// The CRC-32C of each 64 KiB cell of the file, taken from the bytes on their
// way to the disk. The resume record claims only cells whose sum is known,
// and a resumed task keeps only the cells that read back with their sums, so
// the data file needs no flush before a claim.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "download/engine/resume_record.h"

namespace xldl {

class DiskFile;

class CellSums {
 public:
  // One writer's place: bytes fed in file order add to the open cell's sum.
  struct Stream {
    int64_t next = -1;  // where the next byte must be for the open cell to go on
    uint32_t crc = 0;
  };

  void Reset(int64_t size);
  // Bytes about to be written at `offset`. A cell gets its sum once all its
  // bytes went through one stream in order; a jump ends the open cell
  // unsummed, unless it lands where the cell's known prefix ends (a
  // resumed or reconnected stream), which it then continues.
  void Feed(Stream& s, int64_t offset, const void* data, size_t n);
  bool Get(int64_t cell, uint32_t& crc) const;
  void Set(int64_t cell, uint32_t crc);
  // The sum of a cell's first `length` bytes (0 < length < the cell's size).
  bool GetPrefix(int64_t cell, int64_t& length, uint32_t& crc) const;
  void SetPrefix(int64_t cell, int64_t length, uint32_t crc);
  int64_t CellCount() const { return count_; }
  int64_t Size() const { return size_; }

  // The parts of `done` (sorted, disjoint) that have sums, as claims: spans
  // with their sums, for the record. A span covers whole summed cells and
  // may end with the summed prefix of the next cell, so that a download
  // stopped early (several connections, none past its first cell yet)
  // keeps what it has.
  void Claims(const std::vector<Span>& done, std::vector<Span>& spans, std::vector<std::vector<uint32_t>>& sums) const;

 private:
  int64_t size_ = 0;
  int64_t count_ = 0;
  std::unique_ptr<std::atomic<uint64_t>[]> cells_;   // 1 << 32 | crc, or 0 when unknown
  std::unique_ptr<std::atomic<uint64_t>[]> prefix_;  // length << 32 | crc of the cell's first bytes, or 0
};

// Reads the record's claims back from `file`: the cells that match their
// sums are set in `sums` and put in `good` (sorted, disjoint). A span
// without sums cannot be checked and is not kept. False when `cancel` was
// raised before the end.
bool VerifyClaims(const ResumeRecord& record, DiskFile& file, CellSums& sums, const std::atomic<bool>& cancel,
                  std::vector<Span>& good);

}  // namespace xldl
