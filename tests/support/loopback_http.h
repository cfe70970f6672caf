// A tiny HTTP server on 127.0.0.1 for tests: canned raw replies by path, one
// connection at a time, closed after each reply. Unknown paths get 404.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace corvane::test {

class LoopbackHttp {
 public:
  LoopbackHttp();  // listens on a free port at once
  ~LoopbackHttp();
  // The whole reply for a path, status line and headers included.
  void SetRaw(const std::string& path, const std::string& raw);
  // 200 with the body.
  void SetBody(const std::string& path, const std::string& body);
  std::string Url(const std::string& path) const;
  int Port() const { return port_; }
  int Requests() const { return requests_.load(); }
  // The request line and headers of the last request.
  std::string LastRequest();

 private:
  void Serve();
  void Answer(intptr_t conn);

  intptr_t listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::mutex mu_;
  std::map<std::string, std::string> replies_;
  std::string lastRequest_;
  std::thread thread_;
};

}  // namespace corvane::test
