// The loopback operator server: serves a folder the way the operators'
// server does (directory page, edition INI files, update.inf, images with
// byte ranges), records every stat.php request, and misbehaves on request.
#pragma once
#include <atomic>
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
  void Handle(const httplib::Request& req, httplib::Response& res);
  void Control(const std::string& command, const httplib::Request& req, httplib::Response& res);
  void LogStat(const httplib::Request& req);
  void ServeFile(const httplib::Request& req, httplib::Response& res, const FaultRule& rule);
  // Waits ms milliseconds (0: until the fault rules change); false when the
  // server stops meanwhile.
  bool Stall(int64_t ms, uint64_t generation);
  void Record(const httplib::Request& req, int status);

  Options options_;
  std::unique_ptr<httplib::Server> http_;
  FaultBook faults_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> quit_{false};
  std::mutex logMu_;
  std::vector<std::string> statQueries_;
  std::vector<std::string> requests_;
};

}  // namespace opserver
