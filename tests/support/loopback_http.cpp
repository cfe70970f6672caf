#include "tests/support/loopback_http.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SockLen = int;
#define CLOSESOCK closesocket
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SockLen = socklen_t;
#define CLOSESOCK ::close
#endif

namespace corvane::test {

LoopbackHttp::LoopbackHttp() {
#ifdef _WIN32
  WSADATA wsa;
  ::WSAStartup(MAKEWORD(2, 2), &wsa);
#endif
  const auto s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(s, 8);
  SockLen len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  listen_ = static_cast<intptr_t>(s);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttp::~LoopbackHttp() {
  stop_ = true;
  thread_.join();
  CLOSESOCK(listen_);
#ifdef _WIN32
  ::WSACleanup();
#endif
}

void LoopbackHttp::SetRaw(const std::string& path, const std::string& raw) {
  std::lock_guard<std::mutex> g(mu_);
  replies_[path] = raw;
}

void LoopbackHttp::SetBody(const std::string& path, const std::string& body) {
  SetRaw(path, "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

std::string LoopbackHttp::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string LoopbackHttp::LastRequest() {
  std::lock_guard<std::mutex> g(mu_);
  return lastRequest_;
}

void LoopbackHttp::Serve() {
  while (!stop_) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listen_, &set);
    timeval tv{0, 20000};
    if (::select(static_cast<int>(listen_ + 1), &set, nullptr, nullptr, &tv) <= 0) continue;
    const auto c = ::accept(listen_, nullptr, nullptr);
    if (static_cast<intptr_t>(c) < 0) continue;
    Answer(static_cast<intptr_t>(c));
    CLOSESOCK(c);
  }
}

void LoopbackHttp::Answer(intptr_t conn) {
#ifdef _WIN32
  const DWORD timeout = 2000;
#else
  const timeval timeout{2, 0};
#endif
  ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  std::string req;
  char buf[2048];
  while (req.find("\r\n\r\n") == std::string::npos && req.size() < 65536) {
    const int n = static_cast<int>(::recv(conn, buf, sizeof buf, 0));
    if (n <= 0) return;
    req.append(buf, static_cast<size_t>(n));
  }
  ++requests_;
  const size_t sp1 = req.find(' ');
  const size_t sp2 = req.find(' ', sp1 + 1);
  const std::string path = req.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
  {
    std::lock_guard<std::mutex> g(mu_);
    lastRequest_ = req.substr(0, req.find("\r\n\r\n"));
    const auto it = replies_.find(path);
    if (it != replies_.end()) reply = it->second;
  }
  for (size_t done = 0; done < reply.size();) {
    const int n = static_cast<int>(::send(conn, reply.data() + done, static_cast<int>(reply.size() - done), 0));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
#ifdef _WIN32
  ::shutdown(conn, SD_SEND);
#else
  ::shutdown(conn, SHUT_WR);
#endif
  // Let the client read the reply before the socket goes away.
  while (::recv(conn, buf, sizeof buf, 0) > 0) {
  }
}

}  // namespace corvane::test
