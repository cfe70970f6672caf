#include "download/engine/cell_sums.h"

#include <algorithm>

#include "download/engine/crc32c.h"
#include "download/engine/disk_file.h"

namespace xldl {

void CellSums::Reset(int64_t size) {
  size_ = std::max<int64_t>(size, 0);
  count_ = (size_ + kCellBytes - 1) / kCellBytes;
  cells_ = std::make_unique<std::atomic<uint64_t>[]>(static_cast<size_t>(count_));
  prefix_ = std::make_unique<std::atomic<uint64_t>[]>(static_cast<size_t>(count_));
  for (int64_t i = 0; i < count_; ++i) {
    cells_[i].store(0, std::memory_order_relaxed);
    prefix_[i].store(0, std::memory_order_relaxed);
  }
}

void CellSums::Feed(Stream& s, int64_t offset, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0 && offset >= 0 && offset < size_) {
    const int64_t cell = offset / kCellBytes;
    const int64_t start = cell * kCellBytes, end = std::min(start + kCellBytes, size_);
    const size_t take = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), end - offset));
    bool open = true;
    int64_t known = 0;
    uint32_t knownCrc = 0;
    if (offset == start)
      s.crc = Crc32c(0, p, take);
    else if (s.next == offset)
      s.crc = Crc32c(s.crc, p, take);
    else if (GetPrefix(cell, known, knownCrc) && start + known == offset)
      s.crc = Crc32c(knownCrc, p, take);  // goes on from the cell's known prefix
    else
      open = false;  // joined in the middle of a cell: it stays unsummed
    offset += static_cast<int64_t>(take);
    p += take;
    n -= take;
    s.next = open && offset < end ? offset : -1;
    if (open && offset == end) Set(cell, s.crc);
    if (open && offset < end) SetPrefix(cell, offset - start, s.crc);
  }
}

bool CellSums::Get(int64_t cell, uint32_t& crc) const {
  if (cell < 0 || cell >= count_) return false;
  const uint64_t v = cells_[cell].load(std::memory_order_acquire);
  crc = static_cast<uint32_t>(v);
  return v != 0;
}

void CellSums::Set(int64_t cell, uint32_t crc) {
  if (cell >= 0 && cell < count_) cells_[cell].store(uint64_t{1} << 32 | crc, std::memory_order_release);
}

bool CellSums::GetPrefix(int64_t cell, int64_t& length, uint32_t& crc) const {
  if (cell < 0 || cell >= count_) return false;
  const uint64_t v = prefix_[cell].load(std::memory_order_acquire);
  length = static_cast<int64_t>(v >> 32);
  crc = static_cast<uint32_t>(v);
  return length > 0;
}

void CellSums::SetPrefix(int64_t cell, int64_t length, uint32_t crc) {
  if (cell >= 0 && cell < count_ && length > 0 && length < kCellBytes)
    prefix_[cell].store(static_cast<uint64_t>(length) << 32 | crc, std::memory_order_release);
}

void CellSums::Claims(const std::vector<Span>& done, std::vector<Span>& spans,
                      std::vector<std::vector<uint32_t>>& sums) const {
  spans.clear();
  sums.clear();
  for (const Span& d : done) {
    const int64_t first = (std::max<int64_t>(d.begin, 0) + kCellBytes - 1) / kCellBytes;
    const int64_t last = d.end >= size_ ? count_ : d.end / kCellBytes;  // one past the last whole cell
    bool inRun = false;
    for (int64_t c = first; c < last; ++c) {
      uint32_t crc = 0;
      if (!Get(c, crc)) {
        inRun = false;
        continue;
      }
      if (!inRun) {
        spans.push_back({c * kCellBytes, c * kCellBytes});
        sums.emplace_back();
        inRun = true;
      }
      spans.back().end = std::min((c + 1) * kCellBytes, size_);
      sums.back().push_back(crc);
    }
    // The summed prefix of the cell the span ends in, when it is done.
    const int64_t tail = d.end / kCellBytes, tailStart = tail * kCellBytes;
    int64_t length = 0;
    uint32_t crc = 0;
    if (d.end >= size_ || tailStart < d.begin || !GetPrefix(tail, length, crc) || tailStart + length > d.end) continue;
    if (!inRun || spans.back().end != tailStart) {
      spans.push_back({tailStart, tailStart});
      sums.emplace_back();
    }
    spans.back().end = tailStart + length;
    sums.back().push_back(crc);
  }
}

bool VerifyClaims(const ResumeRecord& record, DiskFile& file, CellSums& sums, const std::atomic<bool>& cancel,
                  std::vector<Span>& good) {
  good.clear();
  std::vector<char> buf(static_cast<size_t>(16 * kCellBytes));
  for (size_t i = 0; i < record.done.size() && i < record.sums.size(); ++i) {
    const Span& span = record.done[i];
    const std::vector<uint32_t>& want = record.sums[i];
    if (want.empty()) continue;
    for (int64_t pos = span.begin; pos < span.end;) {
      if (cancel.load()) return false;
      const int64_t len = std::min<int64_t>(static_cast<int64_t>(buf.size()), span.end - pos);
      const bool read = file.ReadAt(pos, buf.data(), static_cast<size_t>(len));
      for (int64_t off = 0; off < len; off += kCellBytes) {
        const int64_t cell = (pos + off) / kCellBytes;
        const size_t n = static_cast<size_t>(std::min<int64_t>(kCellBytes, len - off));
        const uint32_t crc = Crc32c(0, buf.data() + off, n);
        if (!read || crc != want[static_cast<size_t>(cell - span.begin / kCellBytes)]) continue;
        if (pos + off + static_cast<int64_t>(n) < std::min((cell + 1) * kCellBytes, sums.Size()))
          sums.SetPrefix(cell, static_cast<int64_t>(n), crc);  // a prefix: the rest is still to come
        else
          sums.Set(cell, crc);
        if (!good.empty() && good.back().end == pos + off)
          good.back().end = pos + off + static_cast<int64_t>(n);
        else
          good.push_back({pos + off, pos + off + static_cast<int64_t>(n)});
      }
      pos += len;
    }
  }
  return true;
}

}  // namespace xldl
