// The loopback operator server: serves a folder the way the operators'
// server does (directory page, edition INI files, update.inf, images with
// byte ranges), records every stat.php request, and misbehaves on request.
// Over plain HTTP it reads each request head itself: answers whose framing
// is to be wrong (see FaultRule::ByHand) it writes byte for byte, the others
// the HTTP library writes.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "faults.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace opserver {

class HandStream;
class HandServer;
struct Answer;
struct Incoming;

struct Options {
  std::string root = ".";    // folder served at "/"
  int port = 0;              // 0: any free port
  std::string statLog;       // file that receives the stat.php queries ("" = stdout)
  std::vector<FaultRule> faults;
  int threads = 64;          // stalled and throttled connections each hold one
  std::string tlsCert;       // with tlsKey: HTTPS instead of HTTP (PEM files)
  std::string tlsKey;
};

class OperatorServer {
 public:
  explicit OperatorServer(Options options);
  ~OperatorServer();
  // Binds 127.0.0.1; returns the port, or -1.
  int Bind();
  // Serves until Stop() or a "quit" through the control address.
  void Run();
  void Stop();
  bool QuitRequested() const { return quit_.load(); }

 private:
  friend class HandServer;
  enum class ByHand { No, Keep, Close };

  void Handle(const httplib::Request& req, httplib::Response& res);
  void Control(const std::string& command, const httplib::Request& req, httplib::Response& res);
  // What to answer to a request under a rule: waits a stall out, logs a
  // stat.php query, plans the status, headers and body.
  Answer Respond(const Incoming& in, const FaultRule& rule, uint64_t generation);
  void PlanFile(const Incoming& in, const FaultRule& rule, Answer& a);
  void ProvideBody(httplib::Response& res, const Answer& a, const FaultRule& rule, uint64_t generation);
  // Takes the rule for a request head that arrived over plain HTTP; answers
  // it here when the rule wants its framing wrong (No: the library answers,
  // with the rule left in its hands).
  ByHand AnswerHead(HandStream& stream, const std::string& head, bool lastOnConnection);
  bool SendBodyByHand(HandStream& stream, const Answer& a, const FaultRule& rule, uint64_t generation);
  // Waits ms milliseconds (0: until the fault rules change); false when the
  // server stops meanwhile.
  bool Stall(int64_t ms, uint64_t generation);
  // Throttles a response that has sent `sent` bytes since `start`; false when
  // the server stops meanwhile.
  bool Pace(int64_t throttle, uint64_t sent, std::chrono::steady_clock::time_point start);
  void Record(const std::string& method, const std::string& target, const std::string& range, int status);

  Options options_;
  std::unique_ptr<httplib::Server> http_;
  FaultBook faults_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> quit_{false};
  std::mutex logMu_;
  std::vector<std::string> statQueries_;
  std::vector<std::string> requests_;
  std::string lastRequest_;  // head of the last request over plain HTTP
  // Counters since the logs were last cleared: body bytes sent, and the
  // most bodies in flight at once.
  std::atomic<int64_t> bytesSent_{0};
  std::atomic<int> inFlight_{0};
  std::atomic<int> maxInFlight_{0};
  std::atomic<uint64_t> answers_{0};  // picks the ETag of a changing-etag rule
};

}  // namespace opserver
