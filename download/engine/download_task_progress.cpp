// Progress: the speed over the last second, and the resume record that
// claims what is written so far.
#include "download/engine/download_task.h"
#include "download/engine/download_task_shared.h"

namespace xldl {

using namespace task;

void DownloadTask::TickSpeed() {
  const int64_t done = planActive_.load() ? plan_.DoneBytes() : doneBytes_.load();
  if (planActive_.load()) doneBytes_ = done;
  const int64_t now = NowMs();
  if (sampleCount_ > 0 && now - sampleMs_[(sampleCount_ - 1) % 11] < 100) return;
  samples_[sampleCount_ % 11] = done;
  sampleMs_[sampleCount_ % 11] = now;
  ++sampleCount_;
  const int oldest = sampleCount_ > 10 ? (sampleCount_ - 11) % 11 : 0;
  const int64_t dt = now - sampleMs_[oldest];
  if (dt > 0) speed_ = static_cast<int32_t>(std::min<int64_t>((done - samples_[oldest]) * 1000 / dt, INT32_MAX));
}

void DownloadTask::Checkpoint() {
  std::lock_guard<std::mutex> g(recordMu_);
  if (record_.size < 0) return;
  std::vector<Span> done =
      planActive_.load() ? plan_.Done() : std::vector<Span>{Span{0, std::min(doneBytes_.load(), record_.size)}};
  // No flush of the data is needed: the record claims cells by their sums,
  // and a resumed task reads them back before it keeps them. A flush would
  // bind the download to the disk's speed, while the system writes the data
  // out by itself anyway (bench/download variants measures the cost).
  if (tuning_.flushBytes >= 0) {
    int64_t bytes = 0;
    for (const Span& s : done) bytes += s.end - s.begin;
    if (bytes - flushedAt_ >= tuning_.flushBytes && file_.Sync()) flushedAt_ = bytes;
  }
  sums_.Claims(NormalizeSpans(std::move(done)), record_.done, record_.sums);
  WriteFileAtomically(RecordPath(params_.target), SerializeRecord(record_));
}

}  // namespace xldl
