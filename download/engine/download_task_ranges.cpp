// The ranged fetch: the file cut into segments (RangePlan), each fetched by
// a worker thread over its own connection, while the controller keeps the
// speed and writes the resume record.
#include <vector>

#include "download/engine/download_task.h"
#include "download/engine/download_task_shared.h"

namespace xldl {

using namespace task;

DownloadTask::Outcome DownloadTask::FetchRanges(const Probe& probe, bool haveRecord, const ResumeRecord& record) {
  int workers = 0;
  if (const std::optional<Outcome> o = PlanRanges(probe, haveRecord, record, workers)) return *o;
  MarkDownloading();
  srcTotal_ = workers;
  workersAlive_ = workers;
  planActive_ = true;
  RunWorkers(probe, workers);
  doneBytes_ = plan_.DoneBytes();
  if (fatal_.load()) {
    Checkpoint();
    return Outcome::Failed;
  }
  if (changed_.load()) return Outcome::Restart;
  if (plan_.Complete()) return Outcome::Complete;
  Checkpoint();
  if (stopRequested_.load()) return Outcome::Stopped;
  if (wholeBodyOnly_.load()) {
    cancel_ = stopRequested_.load();  // the workers' cancel was only for their round
    return Outcome::WholeBody;
  }
  Fail(lastFailure_.load());
  return Outcome::Failed;
}

std::optional<DownloadTask::Outcome> DownloadTask::PlanRanges(const Probe& probe, bool haveRecord,
                                                              const ResumeRecord& record, int& workers) {
  // Old data goes only after the record that claims it.
  if (!haveRecord && (!RemovePath(RecordPath(params_.target)) || !Emptied(file_))) {
    Fail(TASK_ERROR_DISK_CREATE);
    return Outcome::Failed;
  }
  if (!file_.SetSize(probe.size)) {
    Fail(TASK_ERROR_DISK_CREATE);
    return Outcome::Failed;
  }
  {
    std::lock_guard<std::mutex> g(recordMu_);
    record_ = ResumeRecord{params_.url, probe.size, probe.etag, probe.lastModified, {}, {}};
  }
  sums_.Reset(probe.size);
  // Only what reads back with its sums is kept; the rest is fetched again.
  std::vector<Span> kept;
  if (haveRecord && !VerifyClaims(record, file_, sums_, cancel_, kept)) return Outcome::Stopped;
  int64_t left = probe.size;
  for (const Span& s : kept) left -= s.end - s.begin;
  workers = static_cast<int>(std::clamp<int64_t>(left / tuning_.minSplit, 1, tuning_.maxConnections));
  plan_.Reset(probe.size, kept, tuning_.minSplit, workers);
  doneBytes_ = plan_.DoneBytes();
  if (plan_.Complete()) return Outcome::Complete;
  return std::nullopt;
}

void DownloadTask::RunWorkers(const Probe& probe, int n) {
  std::vector<std::thread> workers;
  // Should anything below raise, the workers end before it passes on.
  struct JoinOnExit {
    std::vector<std::thread>& workers;
    std::atomic<bool>& cancel;
    ~JoinOnExit() {
      for (auto& w : workers)
        if (w.joinable()) {
          cancel = true;
          w.join();
        }
    }
  } joinOnExit{workers, cancel_};
  workers.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    try {
      workers.emplace_back([this, i, &probe] { Worker(i, probe); });
    } catch (...) {
      workersAlive_ -= n - i;  // never started
      throw;
    }
  }
  int64_t nextCheckpoint = NowMs() + tuning_.checkpointMs;
  while (workersAlive_.load() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (stopRequested_.load()) cancel_ = true;
    TickSpeed();
    if (NowMs() >= nextCheckpoint) {
      Checkpoint();
      nextCheckpoint = NowMs() + tuning_.checkpointMs;
    }
  }
  for (auto& w : workers) w.join();
}

void DownloadTask::Worker(int id, const Probe& probe) {
  int segment = -1;
  try {
    WorkerLoop(id, probe, segment);
  } catch (...) {
    Fail(TASK_ERROR_UNKNOWN);  // nothing may escape the thread
  }
  if (segment >= 0) plan_.Release(segment);
  --workersAlive_;
}

void DownloadTask::WorkerLoop(int id, const Probe& probe, int& segment) {
  HttpConnection conn(cancel_);
  std::vector<char> buf(static_cast<size_t>(tuning_.bufferBytes));
  CellSums::Stream sums;
  int failures = 0;
  while (!cancel_.load()) {
    if (segment < 0 && !plan_.Acquire(id, segment)) break;
    int64_t from = 0, to = 0;
    plan_.Cursor(segment, from, to);
    if (from >= to) {
      plan_.Release(segment);
      segment = -1;
      continue;
    }
    int failure = 0;
    ++srcUsing_;
    const int64_t wrote = FetchSegment(conn, segment, probe, buf, sums, failure);
    --srcUsing_;
    if (wrote > 0) failures = 0;
    if (wrote == 0 && failure == 0) {
      plan_.Cursor(segment, from, to);
      if (from < to) failure = kBadAnswer;  // an answer that brought nothing must not loop for ever
    }
    if (failure == 0) continue;
    conn.Close();
    plan_.Release(segment);
    segment = -1;
    if (!WorkerCarriesOn(failure, failures)) break;
  }
}

bool DownloadTask::WorkerCarriesOn(int failure, int& failures) {
  if (failure == HttpConnection::kCancelled) return false;
  if (failure == kDiskWrite) {
    Fail(TASK_ERROR_DISK_WRITE);
    return false;
  }
  if (failure == kFileChanged) {
    changed_ = true;
    cancel_ = true;
    return false;
  }
  if (failure == kRangesRefused) {
    wholeBodyOnly_ = true;
    cancel_ = true;
    return false;
  }
  lastFailure_ = FailureKind(failure);
  if (++failures >= tuning_.maxFailures) {
    // Others still at work take over this range; the last one gives up,
    // unless the server's range answers were the trouble: then one
    // connection takes the whole body.
    if (workersAlive_.load() > 1) return false;
    if (failure == kBadAnswer) {
      wholeBodyOnly_ = true;
      cancel_ = true;
      return false;
    }
    Fail(lastFailure_.load());
    return false;
  }
  return Backoff(failures);
}

int64_t DownloadTask::FetchSegment(HttpConnection& conn, int segment, const Probe& probe, std::vector<char>& buf,
                                   CellSums::Stream& sums, int& failure) {
  int64_t from = 0, to = 0;
  plan_.Cursor(segment, from, to);
  Url u;
  ParseUrl(url_, u);
  HttpResponse r;
  const int code =
      conn.Get(u, std::to_string(from) + "-" + std::to_string(to - 1), ExtraHeaders(), false,
               HttpTimeouts{tuning_.connectMs, tuning_.stallMs}, r);
  if (code != 1) {
    failure = code;
    return 0;
  }
  int64_t limit = 0;
  bool mustClose = false;
  failure = CheckRangeAnswer(r, probe, from, to, limit, mustClose);
  if (failure != 0) return 0;
  conn.BeginBody(r, limit);
  int64_t wrote = 0;
  if (!CopyRangeBody(conn, segment, from, buf, sums, wrote, failure)) return wrote;
  if (mustClose || !conn.Reusable()) conn.Close();
  if (wrote < limit) failure = HttpConnection::kTruncated;
  return wrote;
}

int DownloadTask::CheckRangeAnswer(const HttpResponse& r, const Probe& probe, int64_t from, int64_t to,
                                   int64_t& limit, bool& mustClose) {
  if (r.status == 200) return kRangesRefused;
  if (r.status != 206) return r.status == -206 ? kBadAnswer : kHttpStatus;
  if (!SameVersion(probe.etag, probe.lastModified, r.etag, r.lastModified) ||
      (r.rangeTotal >= 0 && r.rangeTotal != probe.size))
    return kFileChanged;
  // Bytes we can place: the answer must start where we asked.
  if (!r.hasContentRange || r.rangeFirst != from) return kBadAnswer;
  const int64_t rangeLen = r.rangeLast - r.rangeFirst + 1;
  limit = std::min(rangeLen, to - from);
  mustClose = limit != rangeLen;
  if (!r.chunked && r.contentLength >= 0 && r.contentLength != rangeLen) {
    // The framing contradicts itself: take no more than either promises,
    // then drop the connection.
    limit = std::min(limit, r.contentLength);
    mustClose = true;
  }
  return limit <= 0 ? kBadAnswer : 0;
}

bool DownloadTask::CopyRangeBody(HttpConnection& conn, int segment, int64_t offset, std::vector<char>& buf,
                                 CellSums::Stream& sums, int64_t& wrote, int& failure) {
  // The buffer is filled up to half before a write: a read from the socket
  // and the write of it stay in the cache.
  const size_t flushAt = buf.size() / 2;
  for (;;) {
    size_t fill = 0;
    int rc = 1;
    while (fill < flushAt) {
      const int64_t grant = limiter_.Acquire(static_cast<int64_t>(buf.size() - fill), cancel_);
      if (grant <= 0) {
        rc = HttpConnection::kCancelled;
        break;
      }
      rc = conn.ReadBody(buf.data() + fill, static_cast<int>(grant));
      if (rc <= 0) break;
      fill += static_cast<size_t>(rc);
      if (rc < grant) break;  // drained for now: write what came rather than wait
    }
    if (fill > 0) {
      const int64_t allowed = plan_.Reserve(segment, static_cast<int64_t>(fill));
      if (allowed > 0) {
        sums_.Feed(sums, offset, buf.data(), static_cast<size_t>(allowed));
        if (!file_.WriteAt(offset, buf.data(), static_cast<size_t>(allowed))) {
          failure = kDiskWrite;
          return false;
        }
        plan_.Commit(segment, allowed);
        offset += allowed;
        wrote += allowed;
      }
      if (allowed < static_cast<int64_t>(fill)) {
        conn.Close();  // the range was shortened for another connection
        return false;
      }
    }
    if (rc == HttpConnection::kEnd) return true;
    if (rc < 0) {
      failure = rc;
      return false;
    }
  }
}

}  // namespace xldl
