#include "download/engine/download_task.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "download/engine/engine_text.h"

namespace xldl {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Sleeps up to ms, in short steps, unless `cancel` is raised.
bool SleepUnless(int64_t ms, const std::atomic<bool>& cancel) {
  const int64_t end = NowMs() + ms;
  while (!cancel.load()) {
    const int64_t left = end - NowMs();
    if (left <= 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(left, 50)));
  }
  return false;
}

bool StrongEtag(const std::string& etag) { return !etag.empty() && etag.compare(0, 2, "W/") != 0; }

// Whether two answers describe the same file (the callers compare sizes).
// Servers behind one address often give each node its own ETag for the same
// file, so a differing ETag alone does not make another version: the
// Last-Modified time decides, and only without one do strong ETags.
bool SameVersion(const std::string& etagA, const std::string& modA, const std::string& etagB,
                 const std::string& modB) {
  if (!modA.empty() && !modB.empty()) return modA == modB;
  if (StrongEtag(etagA) && StrongEtag(etagB)) return etagA == etagB;
  return true;  // nothing to compare: the size is the only check
}

bool Transient(int status) { return status >= 500 || status == 408 || status == 429; }

// A failure of a request, mapped to the error the task reports if it gives up.
uint8_t FailureKind(int code) {
  return code == HttpConnection::kTimeout || code == HttpConnection::kNetError || code == HttpConnection::kTruncated
             ? TASK_ERROR_TIMEOUT
             : TASK_ERROR_DOWN_INVALID;
}

// Drops what the file holds. A file that is empty already is left alone:
// ext4 takes a cut to zero length as a file being replaced and writes all of
// it out when it is closed (auto_da_alloc), which made the last step of a
// 2 GiB download take most of a second.
bool Emptied(DiskFile& file) { return file.Size() == 0 || file.SetSize(0); }

constexpr int kRangesRefused = -100;  // a 200 answer to a range request
constexpr int kFileChanged = -101;
constexpr int kDiskWrite = -102;
constexpr int kBadAnswer = -103;
constexpr int kHttpStatus = -104;

}  // namespace

Tuning Tuning::FromEnvironment() {
  Tuning t;
  t.maxConnections = static_cast<int>(std::clamp<int64_t>(EnvInt("CORVANE_XLDL_CONNECTIONS", t.maxConnections), 1, 32));
  t.minSplit = std::max<int64_t>(EnvInt("CORVANE_XLDL_MIN_SPLIT", t.minSplit), 65536);
  t.stallMs = static_cast<int>(std::clamp<int64_t>(EnvInt("CORVANE_XLDL_STALL_MS", t.stallMs), 100, 600000));
  t.connectMs = std::min(t.connectMs, std::max(t.stallMs, 1000));
  t.retryBaseMs = static_cast<int>(std::clamp<int64_t>(EnvInt("CORVANE_XLDL_RETRY_MS", t.retryBaseMs), 1, 60000));
  t.maxFailures = static_cast<int>(std::clamp<int64_t>(EnvInt("CORVANE_XLDL_MAX_FAILURES", t.maxFailures), 1, 100));
  t.checkpointMs =
      static_cast<int>(std::clamp<int64_t>(EnvInt("CORVANE_XLDL_CHECKPOINT_MS", t.checkpointMs), 50, 600000));
  t.bufferBytes = static_cast<int>(std::clamp<int64_t>(EnvInt("CORVANE_XLDL_BUFFER_KB", t.bufferBytes >> 10), 16, 16384)) << 10;
  const int64_t flushMb = EnvInt("CORVANE_XLDL_FLUSH_MB", -1);
  t.flushBytes = flushMb < 0 ? -1 : std::min<int64_t>(flushMb, int64_t{1} << 30) << 20;
  return t;
}

std::string PartPath(const std::string& target) { return target + ".cvdl"; }
std::string RecordPath(const std::string& target) { return target + ".cvdl.rec"; }

bool DeletePartialData(const std::string& target) {
  bool ok = RemovePath(RecordPath(target));
  ok = RemovePath(RecordPath(target) + ".new") && ok;
  ok = RemovePath(PartPath(target)) && ok;
  return ok;
}

DownloadTask::DownloadTask(TaskParams params, RateLimiter& limiter, const Tuning& tuning)
    : params_(std::move(params)), limiter_(limiter), tuning_(tuning) {}

DownloadTask::~DownloadTask() {
  Stop();
  Join();
}

bool DownloadTask::Start() {
  const uint8_t s = state_.load();
  if (s == TSC_COMPLETE || s == TSC_DOWNLOAD || s == TSC_STARTPENDING || s == TSC_STOPPENDING) return false;
  Join();
  stopRequested_ = false;
  cancel_ = false;
  fatal_ = false;
  failCode_ = TASK_ERROR_UNKNOWN;
  {
    std::lock_guard<std::mutex> g(endMu_);
    running_ = true;
    discard_ = false;
  }
  state_ = TSC_STARTPENDING;
  try {
    controller_ = std::thread([this] { Run(); });
  } catch (...) {
    {
      std::lock_guard<std::mutex> g(endMu_);
      running_ = false;
    }
    Fail(TASK_ERROR_UNKNOWN);
    state_ = TSC_ERROR;
    return false;
  }
  return true;
}

bool DownloadTask::Discard() {
  Stop();
  std::lock_guard<std::mutex> g(endMu_);
  discard_ = true;
  // A running task deletes when it ends (see Run): its last flush, or a
  // name look-up that cannot be cut short, is not waited for here.
  return running_ || DeletePartialData(params_.target);
}

bool DownloadTask::Stop() {
  stopRequested_ = true;
  cancel_ = true;
  uint8_t s = TSC_DOWNLOAD;
  if (!state_.compare_exchange_strong(s, TSC_STOPPENDING)) {
    s = TSC_STARTPENDING;
    state_.compare_exchange_strong(s, TSC_STOPPENDING);
  }
  return true;
}

void DownloadTask::Join() {
  if (controller_.joinable()) controller_.join();
}

void DownloadTask::Fail(uint8_t code) {
  bool expected = false;
  if (fatal_.compare_exchange_strong(expected, true)) failCode_ = code;
  cancel_ = true;
}

bool DownloadTask::Backoff(int failures) {
  int64_t ms = tuning_.retryBaseMs;
  for (int i = 1; i < failures && ms < 5000; ++i) ms *= 2;
  return SleepUnless(std::min<int64_t>(ms, 5000), cancel_);
}

std::string DownloadTask::ExtraHeaders() const {
  std::string h;
  if (!params_.referer.empty() && params_.referer.find_first_of("\r\n") == std::string::npos)
    h += "Referer: " + params_.referer + "\r\n";
  if (!params_.cookies.empty() && params_.cookies.find_first_of("\r\n") == std::string::npos)
    h += "Cookie: " + params_.cookies + "\r\n";
  return h;
}

void DownloadTask::MarkDownloading() {
  uint8_t s = TSC_STARTPENDING;
  state_.compare_exchange_strong(s, TSC_DOWNLOAD);
}

void DownloadTask::Run() {
  // Nothing may escape the thread: the engine has its own C++ runtime, and
  // its caller could not catch it anyway.
  Outcome o = Outcome::Failed;
  try {
    o = Download();
  } catch (...) {
    Fail(TASK_ERROR_UNKNOWN);
  }
  file_.Close();
  srcUsing_ = 0;
  speed_ = 0;
  uint8_t end = TSC_ERROR;
  if (o == Outcome::Complete) {
    end = TSC_COMPLETE;
  } else if (o == Outcome::Stopped || (stopRequested_.load() && !fatal_.load())) {
    end = TSC_PAUSE;
  }
  {
    std::lock_guard<std::mutex> g(endMu_);
    if (discard_) {
      try {
        DeletePartialData(params_.target);
      } catch (...) {
      }
    }
    running_ = false;
  }
  state_ = end;
}

DownloadTask::Outcome DownloadTask::Download() {
  const std::string part = PartPath(params_.target), rec = RecordPath(params_.target);
  Url parsed;
  if (!ParseUrl(params_.url, parsed)) {
    Fail(TASK_ERROR_DOWN_INVALID);
    return Outcome::Failed;
  }
  url_ = params_.url;
  ResumeRecord record;
  std::string text;
  bool haveRecord = params_.resume && ReadSmallFile(rec, text) && ParseRecord(text, record) &&
                    record.url == params_.url && PathExists(part);
  if (!haveRecord && (!RemovePath(rec) || !RemovePath(part))) {
    Fail(TASK_ERROR_DISK_DELETE);
    return Outcome::Failed;
  }
  if (haveRecord) {
    int64_t n = 0;
    for (const Span& s : record.done) n += s.end - s.begin;
    doneBytes_ = n;
    totalSize_ = record.size;
  }
  for (int round = 0; round < 4; ++round) {
    cancel_ = stopRequested_.load();
    changed_ = false;
    wholeBodyOnly_ = false;
    HttpConnection conn(cancel_);
    Probe probe;
    Outcome o = ProbeServer(probe, conn);
    if (o == Outcome::Failed || o == Outcome::Stopped) return o;
    if (!file_.Open(part)) {
      Fail(TASK_ERROR_DISK_CREATE);
      return Outcome::Failed;
    }
    if (haveRecord && (!probe.ranges || record.size != probe.size ||
                       !SameVersion(record.etag, record.lastModified, probe.etag, probe.lastModified)))
      haveRecord = false;  // another version of the file, or no way to continue it: from zero
    if (o != Outcome::WholeBody) o = FetchRanges(probe, haveRecord, record);
    if (o == Outcome::WholeBody) o = FetchWhole(probe, conn);
    if (o == Outcome::Complete) return Finish();
    file_.Close();
    if (o != Outcome::Restart) return o;
    if (stopRequested_.load()) return Outcome::Stopped;
    haveRecord = false;
    doneBytes_ = 0;
  }
  Fail(TASK_ERROR_DOWN_INVALID);  // the file keeps changing under us
  return Outcome::Failed;
}

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
      if ((r.status == 301 || r.status == 302 || r.status == 303 || r.status == 307 || r.status == 308) &&
          !r.location.empty() && redirects < 8) {
        ++redirects;
        url_ = ResolveLocation(url_, r.location);
        conn.Close();
        continue;
      }
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
        // Range ignored: the whole body comes again, over a connection
        // that the server closes at its end.
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

DownloadTask::Outcome DownloadTask::FetchRanges(const Probe& probe, bool haveRecord, const ResumeRecord& record) {
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
  const int n = static_cast<int>(std::clamp<int64_t>(left / tuning_.minSplit, 1, tuning_.maxConnections));
  plan_.Reset(probe.size, kept, tuning_.minSplit, n);
  doneBytes_ = plan_.DoneBytes();
  if (plan_.Complete()) return Outcome::Complete;
  MarkDownloading();
  srcTotal_ = n;
  workersAlive_ = n;
  planActive_ = true;
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
    if (failure == HttpConnection::kCancelled) break;
    if (failure == kDiskWrite) {
      Fail(TASK_ERROR_DISK_WRITE);
      break;
    }
    if (failure == kFileChanged) {
      changed_ = true;
      cancel_ = true;
      break;
    }
    if (failure == kRangesRefused) {
      wholeBodyOnly_ = true;
      cancel_ = true;
      break;
    }
    lastFailure_ = FailureKind(failure);
    if (++failures >= tuning_.maxFailures) {
      // Others still at work take over this range; the last one gives up,
      // unless the server's range answers were the trouble: then one
      // connection takes the whole body.
      if (workersAlive_.load() > 1) break;
      if (failure == kBadAnswer) {
        wholeBodyOnly_ = true;
        cancel_ = true;
        break;
      }
      Fail(lastFailure_.load());
      break;
    }
    if (!Backoff(failures)) break;
  }
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
  if (r.status == 200) {
    failure = kRangesRefused;
    return 0;
  }
  if (r.status != 206) {
    failure = r.status == -206 ? kBadAnswer : kHttpStatus;
    return 0;
  }
  if (!SameVersion(probe.etag, probe.lastModified, r.etag, r.lastModified) ||
      (r.rangeTotal >= 0 && r.rangeTotal != probe.size)) {
    failure = kFileChanged;
    return 0;
  }
  // Bytes we can place: the answer must start where we asked.
  if (!r.hasContentRange || r.rangeFirst != from) {
    failure = kBadAnswer;
    return 0;
  }
  const int64_t rangeLen = r.rangeLast - r.rangeFirst + 1;
  int64_t limit = std::min(rangeLen, to - from);
  bool mustClose = limit != rangeLen;
  if (!r.chunked && r.contentLength >= 0 && r.contentLength != rangeLen) {
    // The framing contradicts itself: take no more than either promises,
    // then drop the connection.
    limit = std::min(limit, r.contentLength);
    mustClose = true;
  }
  if (limit <= 0) {
    failure = kBadAnswer;
    return 0;
  }
  conn.BeginBody(r, limit);
  int64_t offset = from, wrote = 0;
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
          return wrote;
        }
        plan_.Commit(segment, allowed);
        offset += allowed;
        wrote += allowed;
      }
      if (allowed < static_cast<int64_t>(fill)) {
        conn.Close();  // the range was shortened for another connection
        return wrote;
      }
    }
    if (rc == HttpConnection::kEnd) break;
    if (rc < 0) {
      failure = rc;
      return wrote;
    }
  }
  if (mustClose || !conn.Reusable()) conn.Close();
  if (wrote < limit) failure = HttpConnection::kTruncated;
  return wrote;
}

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
  std::vector<char> buf(static_cast<size_t>(tuning_.bufferBytes));
  const HttpTimeouts t{tuning_.connectMs, tuning_.stallMs};
  // A size from the server's range answer is exact; a Content-Length is only a hint.
  const bool exact = probe.ranges;
  int64_t expected = probe.size;
  int64_t written = 0, furthest = 0;
  int failures = 0;
  doneBytes_ = 0;
  HttpResponse r;
  {
    std::lock_guard<std::mutex> g(recordMu_);
    record_ = ResumeRecord{params_.url, expected, probe.etag, probe.lastModified, {}, {}};
  }
  sums_.Reset(expected);
  CellSums::Stream sums;
  int64_t nextCheckpoint = NowMs() + tuning_.checkpointMs;
  for (;;) {
    if (stopRequested_.load()) {
      conn.Close();
      return Outcome::Stopped;
    }
    Url u;
    ParseUrl(url_, u);
    int code = conn.Get(u, written > 0 && exact ? std::to_string(written) + "-" : std::string(), ExtraHeaders(), true,
                        t, r);
    int64_t offset = 0;
    if (code == 1) {
      if (r.status == 206 && written > 0 && r.hasContentRange && r.rangeFirst == written && r.rangeTotal == expected &&
          SameVersion(probe.etag, probe.lastModified, r.etag, r.lastModified)) {
        offset = written;
      } else if (r.status == 200) {
        // The size from the range answers stays the measure: a Content-Length
        // may be wrong, and the body is read up to that size only.
        if (!SameVersion(probe.etag, probe.lastModified, r.etag, r.lastModified)) {
          conn.Close();
          changed_ = true;
          return Outcome::Restart;
        }
        if (!exact && expected != (r.chunked ? -1 : r.contentLength)) {
          expected = r.chunked ? -1 : r.contentLength;
          std::lock_guard<std::mutex> g(recordMu_);
          record_.size = expected;
          sums_.Reset(expected);
        }
        written = 0;
      } else {
        code = r.status >= 400 ? kHttpStatus : kBadAnswer;
        conn.Close();
      }
    }
    if (code == 1) {
      HttpResponse framing = r;
      // We asked the server to close: its end of stream ends the body, and a
      // Content-Length that undercounts cannot cut the file short.
      if (!framing.chunked) framing.contentLength = -1;
      conn.BeginBody(framing, exact ? expected - offset : -1);
      ++srcUsing_;
      int rc = 1;
      for (;;) {
        const int64_t grant = limiter_.Acquire(static_cast<int64_t>(buf.size()), cancel_);
        if (grant <= 0) {
          rc = HttpConnection::kCancelled;
          break;
        }
        rc = conn.ReadBody(buf.data(), static_cast<int>(grant));
        if (rc <= 0) break;
        sums_.Feed(sums, offset, buf.data(), static_cast<size_t>(rc));
        if (!file_.WriteAt(offset, buf.data(), static_cast<size_t>(rc))) {
          --srcUsing_;
          conn.Close();
          Fail(TASK_ERROR_DISK_WRITE);
          return Outcome::Failed;
        }
        offset += rc;
        written = offset;
        doneBytes_ = written;
        // Only bytes beyond the best earlier attempt count as progress: a
        // server that cuts every whole body at the same place must end in
        // an error, not in endless retries.
        if (written > furthest) {
          furthest = written;
          failures = 0;
        }
        TickSpeed();
        if (NowMs() >= nextCheckpoint && expected >= 0) {
          Checkpoint();
          nextCheckpoint = NowMs() + tuning_.checkpointMs;
        }
      }
      --srcUsing_;
      conn.Close();
      // A server that keeps the connection open after a body of the
      // announced length has sent it all.
      if (rc == HttpConnection::kTimeout && !exact && expected >= 0 && written == expected) rc = HttpConnection::kEnd;
      if (rc == HttpConnection::kEnd && (expected < 0 || written >= expected)) {
        if (exact && written != expected) {
          code = kBadAnswer;
        } else {
          if (!file_.SetSize(written)) {
            Fail(TASK_ERROR_DISK_WRITE);
            return Outcome::Failed;
          }
          totalSize_ = written;
          doneBytes_ = written;
          return Outcome::Complete;
        }
      } else {
        code = rc == HttpConnection::kEnd ? HttpConnection::kTruncated : rc;
      }
    }
    if (code == HttpConnection::kCancelled || stopRequested_.load()) {
      if (expected >= 0) Checkpoint();
      return Outcome::Stopped;
    }
    lastFailure_ = FailureKind(code);
    if (++failures >= tuning_.maxFailures) {
      if (expected >= 0) Checkpoint();
      Fail(lastFailure_.load());
      return Outcome::Failed;
    }
    if (!Backoff(failures)) return Outcome::Stopped;
    if (!exact) written = 0;  // no way to continue: start over
  }
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

DownloadTask::Outcome DownloadTask::Finish() {
  const std::string part = PartPath(params_.target);
  // No flush of the whole file here: it would bind the download to the
  // disk's speed rather than the cache's, and the finished image is checked
  // by its SHA-1 before anything uses it. The resume record, which does rely
  // on what is on disk, is only written after a flush (see Checkpoint).
  file_.Close();
  if (!RenameReplacing(part, params_.target)) {
    Fail(TASK_ERROR_DISK_RENAME);
    return Outcome::Failed;
  }
  RemovePath(RecordPath(params_.target));
  const int64_t size = totalSize_.load() >= 0 ? totalSize_.load() : doneBytes_.load();
  totalSize_ = size;
  doneBytes_ = size;
  return Outcome::Complete;
}

void DownloadTask::Query(TDownTaskInfo& info) const {
  std::memset(&info, 0, sizeof info);
  info.stat = state_.load();
  info.fail_code = info.stat == TSC_ERROR ? failCode_.load() : TASK_ERROR_UNKNOWN;
  const std::u16string name = Utf8ToUtf16(params_.target.substr(params_.target.find_last_of("/\\") + 1));
  std::memcpy(info.szFilename, name.data(), std::min<size_t>(name.size(), 259) * 2);
  const int64_t total = totalSize_.load();
  const int64_t done = doneBytes_.load();
  info.nTotalSize = total < 0 ? 0 : total;
  info.nTotalDownload = done;
  info.fPercent = info.stat == TSC_COMPLETE ? 1.0f : total > 0 ? static_cast<float>(static_cast<double>(done) / total) : 0.0f;
  info.nSrcTotal = info.stat == TSC_DOWNLOAD ? std::max(srcTotal_.load(), 1) : 0;
  info.nSrcUsing = info.stat == TSC_DOWNLOAD ? srcUsing_.load() : 0;
  info.nSpeed = info.stat == TSC_DOWNLOAD ? speed_.load() : 0;
  info.nSpeedP2S = info.nSpeed;
  info.bIsOriginUsable = 1;
}

}  // namespace xldl
