// One download: the file at `url` written to `target`. A controller thread
// probes the server, then either fetches byte ranges over several
// connections or, when the server does not serve ranges, takes the whole
// body over one. Partial data lives in "<target>.cvdl" with its resume record
// "<target>.cvdl.rec"; the target name appears only when the file is complete.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/engine/cell_sums.h"
#include "download/engine/disk_file.h"
#include "download/engine/http_client.h"
#include "download/engine/range_plan.h"
#include "download/engine/rate_limiter.h"
#include "download/engine/resume_record.h"
#include "download/engine/xldl_records.h"

namespace xldl {

struct Tuning {
  int maxConnections = 8;
  int64_t minSplit = 4 << 20;  // smallest range worth a connection of its own
  int connectMs = 15000;
  int stallMs = 20000;  // a connection silent this long is dropped and retried
  int retryBaseMs = 500;
  int maxFailures = 6;  // consecutive failures without progress before giving up
  int checkpointMs = 3000;
  // Flushes the data before a record once this many more bytes are written
  // (-1: never). Not needed for an honest record, which claims cells by
  // their sums; a flush only keeps more of them through a power cut.
  int64_t flushBytes = -1;
  // Per connection; a write goes out at half of it. Small enough to stay in
  // the cache between the read from the socket and the write to the file
  // (bench/download variants compares 1 MiB).
  int bufferBytes = 256 << 10;
  static Tuning FromEnvironment();
};

struct TaskParams {
  std::string url, referer, cookies;
  std::string target;  // host path of the finished file
  bool resume = false;
};

std::string PartPath(const std::string& target);
std::string RecordPath(const std::string& target);
// Deletes a download's partial data and its record; true when they are gone.
bool DeletePartialData(const std::string& target);

class DownloadTask {
 public:
  DownloadTask(TaskParams params, RateLimiter& limiter, const Tuning& tuning);
  ~DownloadTask();

  // False when the task cannot start (already running, complete, or no
  // thread to run it on).
  bool Start();
  // Asks the task to stop; the partial data and its record stay.
  bool Stop();
  // Asks the task to stop and returns at once; its partial data and record
  // are deleted when it has ended (at once when it is not running). True
  // when the deletion is done or left to the task.
  bool Discard();
  // Waits until the controller thread has ended.
  void Join();
  void Query(TDownTaskInfo& info) const;
  const std::string& Target() const { return params_.target; }

 private:
  enum class Outcome { Complete, Stopped, Failed, Restart, WholeBody };
  struct Probe {
    bool ranges = false;
    int64_t size = -1;
    std::string etag, lastModified;
  };

  // The controller (download_task.cpp): rounds of probe and fetch until the
  // file is complete, the task stops or fails, or the file keeps changing.
  void Run();
  Outcome Download();
  // The record of an earlier run to continue from, if any (`haveRecord`);
  // otherwise its traces are deleted. False when they cannot be.
  bool TakeRecord(ResumeRecord& record, bool& haveRecord);
  void MarkDownloading();
  Outcome Finish();

  // The probe (download_task_probe.cpp).
  Outcome ProbeServer(Probe& probe, HttpConnection& conn);
  // What an answer to the probe tells, or nothing when it tells nothing usable.
  std::optional<Outcome> TakeProbeAnswer(const HttpResponse& r, Probe& probe, HttpConnection& conn);

  // The ranged fetch (download_task_ranges.cpp).
  Outcome FetchRanges(const Probe& probe, bool haveRecord, const ResumeRecord& record);
  // Prepares the file, the record and the plan; an outcome when there is
  // nothing to fetch or no way to, else the number of workers.
  std::optional<Outcome> PlanRanges(const Probe& probe, bool haveRecord, const ResumeRecord& record, int& workers);
  // Runs n workers to their end, keeping the speed and the record meanwhile.
  void RunWorkers(const Probe& probe, int n);
  void Worker(int id, const Probe& probe);
  void WorkerLoop(int id, const Probe& probe, int& segment);
  // After a failed segment: whether the worker tries again (after a pause).
  bool WorkerCarriesOn(int failure, int& failures);
  // >0 bytes written, 0 nothing written, or a negative failure code.
  int64_t FetchSegment(HttpConnection& conn, int segment, const Probe& probe, std::vector<char>& buf,
                       CellSums::Stream& sums, int& failure);
  // 0 when the answer to a range request can be placed (`limit` bytes of
  // it; `mustClose` when the connection cannot be reused), else a failure.
  static int CheckRangeAnswer(const HttpResponse& r, const Probe& probe, int64_t from, int64_t to, int64_t& limit,
                              bool& mustClose);
  // Writes the body into the segment from `offset`; true when the body
  // ended, false when it failed (`failure`) or the segment was shortened.
  bool CopyRangeBody(HttpConnection& conn, int segment, int64_t offset, std::vector<char>& buf,
                     CellSums::Stream& sums, int64_t& wrote, int& failure);

  // The whole fetch (download_task_whole.cpp).
  struct WholeFetch;
  Outcome FetchWhole(const Probe& probe, HttpConnection& conn);
  // One request: 1 when a body follows, to be written from `offset`;
  // kFileChanged for another version of the file; else a failure.
  int AskWhole(WholeFetch& w, HttpConnection& conn, int64_t& offset);
  // Writes the body; the read's last code, or kDiskWrite.
  int ReadWholeBody(WholeFetch& w, HttpConnection& conn, int64_t offset);
  // The outcome when the body completed the file, else the failure (`code`).
  std::optional<Outcome> WholeBodyEnded(WholeFetch& w, int rc, int& code);
  // The outcome when a failure ends the fetch; nothing to try again.
  std::optional<Outcome> AfterWholeFailure(WholeFetch& w, int code);

  // Progress (download_task_progress.cpp).
  // Writes the resume record: the summed cells of what is written so far.
  void Checkpoint();
  void TickSpeed();

  // Raises the task's failure (the first one counts) and ends every wait.
  void Fail(uint8_t code);
  // Waits before another try; false when the task is cancelled meanwhile.
  bool Backoff(int failures);
  std::string ExtraHeaders() const;

  const TaskParams params_;
  RateLimiter& limiter_;
  const Tuning tuning_;
  std::string url_;  // after redirects
  DiskFile file_;
  RangePlan plan_;
  CellSums sums_;
  std::mutex recordMu_;
  ResumeRecord record_;

  std::thread controller_;
  // Whether the controller runs, and whether its partial data is to go when
  // it ends; the one who sees the other's flag deletes.
  std::mutex endMu_;
  bool running_ = false;
  bool discard_ = false;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> cancel_{false};  // ends every wait of the current round
  std::atomic<bool> wholeBodyOnly_{false};
  std::atomic<bool> changed_{false};
  std::atomic<uint8_t> state_{TSC_PAUSE};
  std::atomic<uint8_t> failCode_{TASK_ERROR_UNKNOWN};
  std::atomic<uint8_t> lastFailure_{TASK_ERROR_TIMEOUT};
  std::atomic<bool> fatal_{false};
  std::atomic<int64_t> totalSize_{-1};
  std::atomic<int64_t> doneBytes_{0};
  std::atomic<bool> planActive_{false};
  int64_t flushedAt_ = 0;  // bytes done at the last flush (controller thread)
  std::atomic<int32_t> speed_{0};
  std::atomic<int32_t> srcTotal_{0};
  std::atomic<int32_t> srcUsing_{0};
  std::atomic<int32_t> workersAlive_{0};
  // speed over the last second, from samples taken by the controller
  int64_t samples_[11] = {};
  int64_t sampleMs_[11] = {};
  int sampleCount_ = 0;
};

}  // namespace xldl
