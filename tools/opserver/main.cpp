// opserver: the loopback stand-in for the operators' server, for tests and
// the demo. Prints the port it listens on as the first line of its output.
//
//   opserver --root DIR [--port N] [--stat-log FILE] [--port-file FILE]
//            [--fault RULE]... [--exit-on-stdin-eof] [--threads N]
//            [--tls-cert PEM --tls-key PEM]
//
// With a certificate and key it answers HTTPS instead of HTTP.
// RULE is "key=value,key=value" with the keys of faults.h (path, times,
// status, location, close-after, stall, stall-body, stall-after, throttle,
// ignore-range, misplace-range, refuse-range, changing-etag, weak-etag,
// no-last-modified, no-length, length-delta, chunked, bad-chunk, bad-head).
// At run time, GET /_control/fault?key=value&..., /_control/clear,
// /_control/faults, /_control/stats (stat.php queries), /_control/requests,
// /_control/last-request, /_control/counters, /_control/clear-logs and
// /_control/quit.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "operator_server.h"

namespace {

std::atomic<bool> gSignalled{false};
std::atomic<bool> gStdinClosed{false};

void OnSignal(int) { gSignalled = true; }

int Usage(const std::string& why) {
  std::cerr << "opserver: " << why << "\n"
            << "usage: opserver --root DIR [--port N] [--stat-log FILE] [--port-file FILE] [--fault RULE]...\n"
            << "                [--exit-on-stdin-eof] [--threads N] [--tls-cert PEM --tls-key PEM]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  opserver::Options options;
  std::string portFile;
  bool watchStdin = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--exit-on-stdin-eof") {
      watchStdin = true;
    } else if (a == "--root" || a == "--port" || a == "--stat-log" || a == "--port-file" || a == "--fault" ||
               a == "--threads" || a == "--tls-cert" || a == "--tls-key") {
      if (!(v = value())) return Usage("missing value for " + a);
      if (a == "--root") options.root = v;
      else if (a == "--port") options.port = std::atoi(v);
      else if (a == "--stat-log") options.statLog = v;
      else if (a == "--port-file") portFile = v;
      else if (a == "--threads") options.threads = std::atoi(v);
      else if (a == "--tls-cert") options.tlsCert = v;
      else if (a == "--tls-key") options.tlsKey = v;
      else {
        opserver::FaultRule rule;
        if (auto err = opserver::ParseFaultRule(v, rule)) return Usage(*err);
        options.faults.push_back(rule);
      }
    } else {
      return Usage("unknown argument " + a);
    }
  }
  if (options.tlsCert.empty() != options.tlsKey.empty()) return Usage("--tls-cert and --tls-key go together");
  while (options.root.size() > 1 && options.root.back() == '/') options.root.pop_back();

  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGTERM, OnSignal);
  ::signal(SIGINT, OnSignal);

  opserver::OperatorServer server(options);
  int port = server.Bind();
  if (port <= 0) {
    std::cerr << "opserver: cannot listen on 127.0.0.1:" << options.port << "\n";
    return 1;
  }
  std::cout << port << std::endl;
  if (!portFile.empty()) {
    std::string tmp = portFile + ".tmp";
    std::ofstream(tmp) << port << "\n";
    std::rename(tmp.c_str(), portFile.c_str());  // readers never see half a number
  }

  if (watchStdin) {
    // Ends the server with the process that started it, even if that one dies.
    std::thread([] {
      char buf[256];
      while (::read(STDIN_FILENO, buf, sizeof buf) > 0) {
      }
      gStdinClosed = true;
    }).detach();
  }
  std::thread watcher([&server] {
    while (!gSignalled && !gStdinClosed && !server.QuitRequested())
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.Stop();
  });
  server.Run();
  server.Stop();
  watcher.join();
  return 0;
}
