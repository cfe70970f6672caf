// A loopback HTTP/1.1 file server for the download tests, with faults to
// switch on: dropped and stalled connections, ignored ranges, misplaced
// ranges, 416 answers, missing or wrong lengths, per-connection throttling,
// and a file that changes between requests.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::test {

struct FaultPlan {
  // Counts say how many of the coming answers get the fault; -1 every one.
  std::atomic<int> dropCount{0};          // cut the body after dropAfter bytes
  std::atomic<int64_t> dropAfter{0};
  std::atomic<int> stallCount{0};         // go silent after stallAfter bytes
  std::atomic<int64_t> stallAfter{0};
  std::atomic<int> ignoreRange{0};        // answer 200 with the whole body
  std::atomic<int> misplacedRange{0};     // 206 whose Content-Range is off by 4096
  std::atomic<int> refuse416{0};          // answer range requests with 416
  std::atomic<bool> noContentLength{false};
  std::atomic<int64_t> lengthDelta{0};    // added to every Content-Length
  std::atomic<int64_t> throttle{0};       // bytes per second and connection; 0 none
  // Validators: every answer may carry its own ETag (one per node behind a
  // load balancer), weak ETags, or no Last-Modified at all.
  std::atomic<bool> perNodeEtag{false};
  std::atomic<bool> weakEtag{false};
  std::atomic<bool> noLastModified{false};
  std::atomic<int> chunked{0};            // bodies in chunks of varying size, with a trailer
  std::atomic<int> badChunkEnd{0};        // chunked, the first chunk's size two bytes too large
  // Answers with a malformed head of the kind below.
  std::atomic<int> malformedHead{0};
  std::atomic<int> malformedKind{0};      // a MalformedHead value
};

enum MalformedHead : int {
  kBadStatusLine,       // "HTTP/1.1 2O6 ..."
  kHugeHead,            // more than 64 KiB of headers
  kGarbageHead,         // bytes that are no HTTP at all
  kLineWithoutColon,    // a header line without a colon (to be skipped)
  kNegativeLength,      // Content-Length: -5
  kTwoLengths,          // two Content-Length headers that disagree
};

class FaultHttpServer {
 public:
  explicit FaultHttpServer(std::string content, std::string etag = "\"v1\"");
  ~FaultHttpServer();
  FaultHttpServer(const FaultHttpServer&) = delete;
  FaultHttpServer& operator=(const FaultHttpServer&) = delete;

  std::string Url(const std::string& name = "file.bin") const;
  // Replaces the file (a new version with a new ETag and Last-Modified).
  void SetContent(std::string content, std::string etag,
                  std::string lastModified = "Wed, 02 Dec 2026 10:00:00 GMT");
  // Requests for /<from> answer "302 Found" with this Location.
  void SetRedirect(const std::string& from, const std::string& location);
  FaultPlan faults;

  int64_t BytesSent() const { return bytesSent_.load(); }
  int Requests() const { return requests_.load(); }
  int MaxConcurrent() const { return maxConcurrent_.load(); }

 private:
  void AcceptLoop();
  void Serve(uintptr_t sock);
  bool SendBody(uintptr_t sock, const std::string& data, int64_t from, int64_t len);
  static bool Take(std::atomic<int>& counter);

  uintptr_t listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mu_;
  struct Conn {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Conn> conns_;  // finished ones are joined at the next accept
  std::shared_ptr<const std::string> content_;
  std::string etag_;
  std::string lastModified_ = "Tue, 01 Dec 2026 10:00:00 GMT";
  std::string redirectFrom_, redirectTo_;
  std::atomic<int64_t> bytesSent_{0};
  std::atomic<int> requests_{0};
  std::atomic<int> active_{0};
  std::atomic<int> maxConcurrent_{0};
};

// Deterministic content that differs at every offset's neighbourhood.
std::string PatternContent(size_t size, uint32_t seed);

}  // namespace corvane::test
