// The loopback operator server (tools/opserver) started for one test on a
// free port, and stopped with it. Native builds only: the Windows tests reach
// a server that their wrapper script starts (tests/wine/with-opserver), whose
// address they find in the environment variable CORVANE_OPSERVER_URL.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::test {

#ifndef _WIN32
class OpServer {
 public:
  // Serves `root` (a host folder); `args` are more command-line options,
  // e.g. {"--fault", "status=500"}.
  explicit OpServer(const std::string& root, const std::vector<std::string>& args = {});
  ~OpServer();
  OpServer(const OpServer&) = delete;
  OpServer& operator=(const OpServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:PORT" followed by path (which begins with "/").
  std::string Url(const std::string& path = "/") const;
  // GET /_control/<command>; returns the body. Throws on failure.
  std::string Control(const std::string& command) const;
  // The stat.php queries received so far, exactly as sent.
  std::vector<std::string> StatQueries() const;
  // Every request so far: "GET /target [range=..] -> status".
  std::vector<std::string> Requests() const;

 private:
  void Shutdown();
  int pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
};
#endif

// "http://127.0.0.1:PORT" + path on a port where nothing listens.
std::string ClosedPortUrl(const std::string& path);

// Plain GET for tests (status and body); status 0 when the request failed.
struct TestResponse {
  int status = 0;
  std::string body;
};
TestResponse TestHttpGet(const std::string& url);

// The operator server as one test sees it, on both builds. Natively it starts
// its own server over a fresh folder. Under Wine it uses the server of
// tests/wine/with-opserver (CORVANE_OPSERVER_URL, CORVANE_OPSERVER_ROOT),
// shared by the tests of one executable: construction clears its fault rules,
// its logs and its folder. Available() is false when there is no server.
class TestServer {
 public:
  TestServer();
  ~TestServer();
  bool Available() const { return !base_.empty(); }
  // "http://127.0.0.1:PORT" followed by path (which begins with "/").
  std::string Url(const std::string& path = "/") const { return base_ + path; }
  // Writes a file that the server then serves at "/" + relPath.
  void WriteFile(const std::string& relPath, const std::string& content) const;
  void RemoveFile(const std::string& relPath) const;
  // The served file at "/" + relPath, as this process names it.
  std::string Path(const std::string& relPath) const;
  std::string Control(const std::string& command) const;
  // Adds one fault rule: "key=value&..." (tools/opserver/faults.h).
  void AddFault(const std::string& settings) const { Control("fault?" + settings); }
  std::vector<std::string> StatQueries() const;
  std::vector<std::string> Requests() const;
  // The request line and headers of the last request, as received.
  std::string LastRequest() const { return Control("last-request"); }
  // Body bytes sent, and the most bodies in flight at once.
  int64_t BytesSent() const;
  int MaxConcurrent() const;

 private:
  std::string base_, root_;
  bool ownsRoot_ = false;
#ifndef _WIN32
  OpServer* server_ = nullptr;
#endif
};

}  // namespace corvane::test
