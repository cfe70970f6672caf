// The loopback operator server (tools/opserver) started for one test on a
// free port, and stopped with it. Native builds only: the Windows tests reach
// a server that their wrapper script starts (tests/wine/with-opserver), whose
// address they find in the environment variable CORVANE_OPSERVER_URL.
#pragma once
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

// The address of the operator server for tests: a started OpServer natively,
// CORVANE_OPSERVER_URL under Wine. Empty when none is there.
std::string OpServerUrlFromEnvironment();

// Plain GET for tests (status and body); status 0 when the request failed.
struct TestResponse {
  int status = 0;
  std::string body;
};
TestResponse TestHttpGet(const std::string& url);

}  // namespace corvane::test
