// What the jobs of a download share (download_task*.cpp): the clock, the
// version rule and the failure codes of one request.
#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "download/engine/disk_file.h"
#include "download/engine/http_client.h"
#include "download/engine/xldl_records.h"

namespace xldl::task {

inline int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Sleeps up to ms, in short steps, unless `cancel` is raised.
inline bool SleepUnless(int64_t ms, const std::atomic<bool>& cancel) {
  const int64_t end = NowMs() + ms;
  while (!cancel.load()) {
    const int64_t left = end - NowMs();
    if (left <= 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(left, 50)));
  }
  return false;
}

inline bool StrongEtag(const std::string& etag) { return !etag.empty() && etag.compare(0, 2, "W/") != 0; }

// Whether two answers describe the same file (the callers compare sizes).
// Servers behind one address often give each node its own ETag for the same
// file, so a differing ETag alone does not make another version: the
// Last-Modified time decides, and only without one do strong ETags.
inline bool SameVersion(const std::string& etagA, const std::string& modA, const std::string& etagB,
                        const std::string& modB) {
  if (!modA.empty() && !modB.empty()) return modA == modB;
  if (StrongEtag(etagA) && StrongEtag(etagB)) return etagA == etagB;
  return true;  // nothing to compare: the size is the only check
}

inline bool Transient(int status) { return status >= 500 || status == 408 || status == 429; }

// A failure of a request, mapped to the error the task reports if it gives up.
inline uint8_t FailureKind(int code) {
  return code == HttpConnection::kTimeout || code == HttpConnection::kNetError || code == HttpConnection::kTruncated
             ? TASK_ERROR_TIMEOUT
             : TASK_ERROR_DOWN_INVALID;
}

// Drops what the file holds. A file that is empty already is left alone:
// ext4 takes a cut to zero length as a file being replaced and writes all of
// it out when it is closed (auto_da_alloc), which made the last step of a
// 2 GiB download take most of a second.
inline bool Emptied(DiskFile& file) { return file.Size() == 0 || file.SetSize(0); }

// Failures of a request beside HttpConnection's own codes.
constexpr int kRangesRefused = -100;  // a 200 answer to a range request
constexpr int kFileChanged = -101;
constexpr int kDiskWrite = -102;
constexpr int kBadAnswer = -103;
constexpr int kHttpStatus = -104;

}  // namespace xldl::task
