// The probe: one request for the first byte tells whether the server serves
// ranges, the file's size and version, and where redirects lead.
#include "download/engine/download_task.h"
#include "download/engine/download_task_shared.h"

namespace xldl {

using namespace task;

namespace {
bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}
}  // namespace

DownloadTask::Outcome DownloadTask::ProbeServer(Probe& probe, HttpConnection& conn) {
  HttpResponse r;
  HttpTimeouts t{tuning_.connectMs, tuning_.stallMs};
  int failures = 0, redirects = 0;
  std::string range = "0-0";
  for (;;) {
    if (stopRequested_.load()) return Outcome::Stopped;
    Url u;
    if (!ParseUrl(url_, u)) {
      Fail(TASK_ERROR_DOWN_INVALID);
      return Outcome::Failed;
    }
    int code = conn.Get(u, range, ExtraHeaders(), range.empty(), t, r);
    if (code == 1) {
      if (IsRedirect(r.status) && !r.location.empty() && redirects < 8) {
        ++redirects;
        url_ = ResolveLocation(url_, r.location);
        conn.Close();
        continue;
      }
      if (const std::optional<Outcome> o = TakeProbeAnswer(r, probe, conn)) return *o;
      conn.Close();
      if (r.status == 206 || r.status == -206 || r.status == 416) {
        // Ranges answered in a way we cannot place: ask for the whole body.
        if (!range.empty()) {
          range.clear();
          continue;
        }
        code = kBadAnswer;
      } else {
        code = kHttpStatus;
        if (!Transient(r.status)) failures = std::max(failures, tuning_.maxFailures - 2);
      }
    }
    lastFailure_ = FailureKind(code);
    if (code == HttpConnection::kCancelled) return Outcome::Stopped;
    if (++failures >= tuning_.maxFailures) {
      Fail(lastFailure_.load());
      return Outcome::Failed;
    }
    if (!Backoff(failures)) return Outcome::Stopped;
  }
}

std::optional<DownloadTask::Outcome> DownloadTask::TakeProbeAnswer(const HttpResponse& r, Probe& probe,
                                                                   HttpConnection& conn) {
  probe.etag = r.etag;
  probe.lastModified = r.lastModified;
  if (r.status == 206 && r.hasContentRange && r.rangeFirst == 0 && r.rangeTotal >= 0) {
    probe.ranges = true;
    probe.size = r.rangeTotal;
    totalSize_ = probe.size;
    conn.Close();
    return Outcome::Complete;
  }
  if (r.status == 200) {
    // Range ignored: the whole body comes again, over a connection that the
    // server closes at its end.
    probe.size = r.chunked ? -1 : r.contentLength;
    conn.Close();
    return Outcome::WholeBody;
  }
  if (r.status == 416 && r.hasContentRange && r.rangeFirst < 0 && r.rangeTotal == 0) {
    probe.ranges = true;  // an empty file
    probe.size = 0;
    totalSize_ = 0;
    conn.Close();
    return Outcome::Complete;
  }
  return std::nullopt;
}

}  // namespace xldl
