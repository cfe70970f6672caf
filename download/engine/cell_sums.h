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
  // bytes went through one stream in order; a jump ends the open cell unsummed.
  void Feed(Stream& s, int64_t offset, const void* data, size_t n);
  bool Get(int64_t cell, uint32_t& crc) const;
  void Set(int64_t cell, uint32_t crc);
  int64_t CellCount() const { return count_; }

  // The cells of `done` (sorted, disjoint) that are whole and summed, as
  // claims: spans with their sums, for the record.
  void Claims(const std::vector<Span>& done, std::vector<Span>& spans, std::vector<std::vector<uint32_t>>& sums) const;

 private:
  int64_t size_ = 0;
  int64_t count_ = 0;
  std::unique_ptr<std::atomic<uint64_t>[]> cells_;  // 1 << 32 | crc, or 0 when unknown
};

// Reads the record's claims back from `file`: the cells that match their
// sums are set in `sums` and put in `good` (sorted, disjoint). A span
// without sums cannot be checked and is not kept. False when `cancel` was
// raised before the end.
bool VerifyClaims(const ResumeRecord& record, DiskFile& file, CellSums& sums, const std::atomic<bool>& cancel,
                  std::vector<Span>& good);

}  // namespace xldl
