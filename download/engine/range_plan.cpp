#include "download/engine/range_plan.h"

#include <algorithm>

namespace xldl {

void RangePlan::Reset(int64_t size, const std::vector<Span>& done, int64_t minSplit, int parts) {
  std::lock_guard<std::mutex> g(mu_);
  segs_.clear();
  size_ = size;
  minSplit_ = std::max<int64_t>(minSplit, 1);
  int64_t pos = 0;
  // Written spans are kept as finished segments so that Done() reports them.
  for (const Span& s : NormalizeSpans(done)) {
    const int64_t b = std::clamp<int64_t>(s.begin, 0, size), e = std::clamp<int64_t>(s.end, 0, size);
    if (e <= b || b < pos) continue;
    if (b > pos) segs_.push_back({pos, pos, pos, b, -1});
    segs_.push_back({b, e, e, e, -1});
    pos = e;
  }
  if (pos < size) segs_.push_back({pos, pos, pos, size, -1});
  // Split the gaps up front, one per connection, so that no connection's
  // request has to be cut short at the start.
  for (;;) {
    int open = 0, largest = -1;
    for (size_t i = 0; i < segs_.size(); ++i) {
      if (segs_[i].written >= segs_[i].end) continue;
      ++open;
      if (largest < 0 || segs_[i].end - segs_[i].written > segs_[largest].end - segs_[largest].written)
        largest = static_cast<int>(i);
    }
    if (open >= parts || largest < 0) break;
    Segment& s = segs_[static_cast<size_t>(largest)];
    const int64_t left = s.end - s.written;
    if (left < 2 * minSplit_) break;
    const int64_t mid = (s.written + left / 2 + kCellBytes - 1) / kCellBytes * kCellBytes;
    if (mid >= s.end) break;
    segs_.push_back({mid, mid, mid, s.end, -1});
    segs_[static_cast<size_t>(largest)].end = mid;
  }
}

bool RangePlan::Acquire(int worker, int& segment) {
  std::lock_guard<std::mutex> g(mu_);
  for (size_t i = 0; i < segs_.size(); ++i) {
    Segment& s = segs_[i];
    if (s.owner < 0 && s.written < s.end) {
      s.owner = worker;
      s.reserved = s.written;
      segment = static_cast<int>(i);
      return true;
    }
  }
  int best = -1;
  int64_t bestLeft = 0;
  for (size_t i = 0; i < segs_.size(); ++i) {
    const int64_t left = segs_[i].end - segs_[i].reserved;
    if (segs_[i].owner >= 0 && left > bestLeft) {
      best = static_cast<int>(i);
      bestLeft = left;
    }
  }
  if (best < 0 || bestLeft < 2 * minSplit_) return false;
  Segment& victim = segs_[static_cast<size_t>(best)];
  int64_t mid = victim.reserved + bestLeft / 2;
  mid = (mid + kCellBytes - 1) / kCellBytes * kCellBytes;  // on the cell grid of the resume record
  if (mid >= victim.end) return false;
  const int64_t end = victim.end;
  victim.end = mid;
  segs_.push_back({mid, mid, mid, end, worker});
  segment = static_cast<int>(segs_.size() - 1);
  return true;
}

void RangePlan::Cursor(int segment, int64_t& from, int64_t& to) {
  std::lock_guard<std::mutex> g(mu_);
  const Segment& s = segs_[static_cast<size_t>(segment)];
  from = s.reserved;
  to = s.end;
}

int64_t RangePlan::Reserve(int segment, int64_t n) {
  std::lock_guard<std::mutex> g(mu_);
  Segment& s = segs_[static_cast<size_t>(segment)];
  const int64_t allowed = std::clamp<int64_t>(s.end - s.reserved, 0, n);
  s.reserved += allowed;
  return allowed;
}

void RangePlan::Commit(int segment, int64_t n) {
  std::lock_guard<std::mutex> g(mu_);
  segs_[static_cast<size_t>(segment)].written += n;
}

void RangePlan::Release(int segment) {
  std::lock_guard<std::mutex> g(mu_);
  Segment& s = segs_[static_cast<size_t>(segment)];
  s.owner = -1;
  s.reserved = s.written;
}

std::vector<Span> RangePlan::Done() const {
  std::vector<Span> out;
  {
    std::lock_guard<std::mutex> g(mu_);
    for (const Segment& s : segs_) out.push_back({s.begin, s.written});
  }
  return NormalizeSpans(std::move(out));
}

int64_t RangePlan::DoneBytes() const {
  std::lock_guard<std::mutex> g(mu_);
  int64_t n = 0;
  for (const Segment& s : segs_) n += s.written - s.begin;
  return n;
}

int64_t RangePlan::Size() const {
  std::lock_guard<std::mutex> g(mu_);
  return size_;
}

bool RangePlan::Complete() const {
  std::lock_guard<std::mutex> g(mu_);
  for (const Segment& s : segs_)
    if (s.written < s.end) return false;
  return true;
}

}  // namespace xldl
