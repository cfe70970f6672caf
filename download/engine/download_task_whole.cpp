// The whole fetch: for a server that does not serve ranges, or whose range
// answers cannot be placed, the body over one connection from byte 0.
#include <vector>

#include "download/engine/download_task.h"
#include "download/engine/download_task_shared.h"

namespace xldl {

using namespace task;

// The state of one whole fetch across its attempts.
struct DownloadTask::WholeFetch {
  const Probe& probe;
  // A size from the server's range answer is exact; a Content-Length is only a hint.
  const bool exact;
  int64_t expected;
  int64_t written = 0;   // bytes in the file from 0 on
  int64_t furthest = 0;  // the most any attempt has written
  int failures = 0;
  int64_t nextCheckpoint = 0;
  std::vector<char> buf;
  CellSums::Stream sums;
  HttpResponse r;
};

DownloadTask::Outcome DownloadTask::FetchWhole(const Probe& probe, HttpConnection& conn) {
  // One connection, from byte 0; whatever was there before is overwritten,
  // never appended to.
  planActive_ = false;
  srcTotal_ = 1;
  if (!RemovePath(RecordPath(params_.target)) || !Emptied(file_)) {
    Fail(TASK_ERROR_DISK_CREATE);
    return Outcome::Failed;
  }
  MarkDownloading();
  WholeFetch w{probe, probe.ranges, probe.size};
  w.buf.resize(static_cast<size_t>(tuning_.bufferBytes));
  doneBytes_ = 0;
  {
    std::lock_guard<std::mutex> g(recordMu_);
    record_ = ResumeRecord{params_.url, w.expected, probe.etag, probe.lastModified, {}, {}};
  }
  sums_.Reset(w.expected);
  w.nextCheckpoint = NowMs() + tuning_.checkpointMs;
  for (;;) {
    if (stopRequested_.load()) {
      conn.Close();
      return Outcome::Stopped;
    }
    int64_t offset = 0;
    int code = AskWhole(w, conn, offset);
    if (code == kFileChanged) return Outcome::Restart;
    if (code == 1) {
      const int rc = ReadWholeBody(w, conn, offset);
      if (rc == kDiskWrite) {
        Fail(TASK_ERROR_DISK_WRITE);
        return Outcome::Failed;
      }
      if (const std::optional<Outcome> o = WholeBodyEnded(w, rc, code)) return *o;
    }
    if (const std::optional<Outcome> o = AfterWholeFailure(w, code)) return *o;
  }
}

int DownloadTask::AskWhole(WholeFetch& w, HttpConnection& conn, int64_t& offset) {
  Url u;
  ParseUrl(url_, u);
  const HttpTimeouts t{tuning_.connectMs, tuning_.stallMs};
  const HttpResponse& r = w.r;
  const int code = conn.Get(u, w.written > 0 && w.exact ? std::to_string(w.written) + "-" : std::string(),
                            ExtraHeaders(), true, t, w.r);
  if (code != 1) return code;
  if (r.status == 206 && w.written > 0 && r.hasContentRange && r.rangeFirst == w.written &&
      r.rangeTotal == w.expected && SameVersion(w.probe.etag, w.probe.lastModified, r.etag, r.lastModified)) {
    offset = w.written;  // the rest, after what an earlier attempt wrote
    return 1;
  }
  if (r.status != 200) {
    conn.Close();
    return r.status >= 400 ? kHttpStatus : kBadAnswer;
  }
  // The size from the range answers stays the measure: a Content-Length may
  // be wrong, and the body is read up to that size only.
  if (!SameVersion(w.probe.etag, w.probe.lastModified, r.etag, r.lastModified)) {
    conn.Close();
    changed_ = true;
    return kFileChanged;
  }
  if (!w.exact && w.expected != (r.chunked ? -1 : r.contentLength)) {
    w.expected = r.chunked ? -1 : r.contentLength;
    std::lock_guard<std::mutex> g(recordMu_);
    record_.size = w.expected;
    sums_.Reset(w.expected);
  }
  w.written = 0;
  return 1;
}

int DownloadTask::ReadWholeBody(WholeFetch& w, HttpConnection& conn, int64_t offset) {
  HttpResponse framing = w.r;
  // We asked the server to close: its end of stream ends the body, and a
  // Content-Length that undercounts cannot cut the file short.
  if (!framing.chunked) framing.contentLength = -1;
  conn.BeginBody(framing, w.exact ? w.expected - offset : -1);
  ++srcUsing_;
  int rc = 1;
  for (;;) {
    const int64_t grant = limiter_.Acquire(static_cast<int64_t>(w.buf.size()), cancel_);
    if (grant <= 0) {
      rc = HttpConnection::kCancelled;
      break;
    }
    rc = conn.ReadBody(w.buf.data(), static_cast<int>(grant));
    if (rc <= 0) break;
    sums_.Feed(w.sums, offset, w.buf.data(), static_cast<size_t>(rc));
    if (!file_.WriteAt(offset, w.buf.data(), static_cast<size_t>(rc))) {
      rc = kDiskWrite;
      break;
    }
    offset += rc;
    w.written = offset;
    doneBytes_ = w.written;
    // Only bytes beyond the best earlier attempt count as progress: a
    // server that cuts every whole body at the same place must end in an
    // error, not in endless retries.
    if (w.written > w.furthest) {
      w.furthest = w.written;
      w.failures = 0;
    }
    TickSpeed();
    if (NowMs() >= w.nextCheckpoint && w.expected >= 0) {
      Checkpoint();
      w.nextCheckpoint = NowMs() + tuning_.checkpointMs;
    }
  }
  --srcUsing_;
  conn.Close();
  return rc;
}

std::optional<DownloadTask::Outcome> DownloadTask::WholeBodyEnded(WholeFetch& w, int rc, int& code) {
  // A server that keeps the connection open after a body of the announced
  // length has sent it all.
  if (rc == HttpConnection::kTimeout && !w.exact && w.expected >= 0 && w.written == w.expected)
    rc = HttpConnection::kEnd;
  if (rc != HttpConnection::kEnd || (w.expected >= 0 && w.written < w.expected)) {
    code = rc == HttpConnection::kEnd ? HttpConnection::kTruncated : rc;
    return std::nullopt;
  }
  if (w.exact && w.written != w.expected) {
    code = kBadAnswer;
    return std::nullopt;
  }
  if (!file_.SetSize(w.written)) {
    Fail(TASK_ERROR_DISK_WRITE);
    return Outcome::Failed;
  }
  totalSize_ = w.written;
  doneBytes_ = w.written;
  return Outcome::Complete;
}

std::optional<DownloadTask::Outcome> DownloadTask::AfterWholeFailure(WholeFetch& w, int code) {
  if (code == HttpConnection::kCancelled || stopRequested_.load()) {
    if (w.expected >= 0) Checkpoint();
    return Outcome::Stopped;
  }
  lastFailure_ = FailureKind(code);
  if (++w.failures >= tuning_.maxFailures) {
    if (w.expected >= 0) Checkpoint();
    Fail(lastFailure_.load());
    return Outcome::Failed;
  }
  if (!Backoff(w.failures)) return Outcome::Stopped;
  if (!w.exact) w.written = 0;  // no way to continue: start over
  return std::nullopt;  // another attempt
}

}  // namespace xldl
