#include "download/engine/download_task.h"

#include <algorithm>
#include <cstring>

#include "download/engine/download_task_shared.h"
#include "download/engine/engine_text.h"

namespace xldl {

using namespace task;

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

bool DownloadTask::TakeRecord(ResumeRecord& record, bool& haveRecord) {
  const std::string part = PartPath(params_.target), rec = RecordPath(params_.target);
  std::string text;
  haveRecord = params_.resume && ReadSmallFile(rec, text) && ParseRecord(text, record) && record.url == params_.url &&
               PathExists(part);
  if (!haveRecord && (!RemovePath(rec) || !RemovePath(part))) {
    Fail(TASK_ERROR_DISK_DELETE);
    return false;
  }
  if (haveRecord) {
    int64_t n = 0;
    for (const Span& s : record.done) n += s.end - s.begin;
    doneBytes_ = n;
    totalSize_ = record.size;
  }
  return true;
}

DownloadTask::Outcome DownloadTask::Download() {
  Url parsed;
  if (!ParseUrl(params_.url, parsed)) {
    Fail(TASK_ERROR_DOWN_INVALID);
    return Outcome::Failed;
  }
  url_ = params_.url;
  ResumeRecord record;
  bool haveRecord = false;
  if (!TakeRecord(record, haveRecord)) return Outcome::Failed;
  const std::string part = PartPath(params_.target);
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
