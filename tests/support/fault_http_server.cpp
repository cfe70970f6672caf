#include "tests/support/fault_http_server.h"

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

#include <chrono>

#ifdef MSG_NOSIGNAL
static constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer must not kill the process
#else
static constexpr int kSendFlags = 0;
#endif
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace corvane::test {

namespace {

using Sock = decltype(::socket(0, 0, 0));

// Waits until the socket is readable (or writable); false after ms.
bool WaitSock(Sock s, bool write, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return ::select(static_cast<int>(s) + 1, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv) > 0;
}

bool SendAll(Sock s, const char* p, size_t n) {
  while (n > 0) {
    const int w = static_cast<int>(::send(s, p, static_cast<int>(n), kSendFlags));
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

struct NetInit {
  NetInit() {
#ifdef _WIN32
    WSADATA d;
    ::WSAStartup(MAKEWORD(2, 2), &d);
#endif
  }
};

}  // namespace

std::string PatternContent(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x >> 24);
  }
  return out;
}

bool FaultHttpServer::Take(std::atomic<int>& counter) {
  int v = counter.load();
  while (v != 0) {
    if (v < 0) return true;
    if (counter.compare_exchange_weak(v, v - 1)) return true;
  }
  return false;
}

FaultHttpServer::FaultHttpServer(std::string content, std::string etag)
    : content_(std::make_shared<const std::string>(std::move(content))), etag_(std::move(etag)) {
  static NetInit init;
  const Sock s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(s, 64);
  SockLen len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  listener_ = static_cast<uintptr_t>(s);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

FaultHttpServer::~FaultHttpServer() {
  stop_ = true;
  acceptor_.join();
  CLOSESOCK(static_cast<Sock>(listener_));
  std::vector<Conn> conns;
  {
    std::lock_guard<std::mutex> g(mu_);
    conns.swap(conns_);
  }
  for (auto& c : conns) c.thread.join();
}

std::string FaultHttpServer::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
}

void FaultHttpServer::SetContent(std::string content, std::string etag, std::string lastModified) {
  std::lock_guard<std::mutex> g(mu_);
  content_ = std::make_shared<const std::string>(std::move(content));
  etag_ = std::move(etag);
  lastModified_ = std::move(lastModified);
}

void FaultHttpServer::SetRedirect(const std::string& from, const std::string& location) {
  std::lock_guard<std::mutex> g(mu_);
  redirectFrom_ = "/" + from;
  redirectTo_ = location;
}

namespace {

// `data` in chunks of varying size (one with an extension), ended by a
// trailer; with `badSize` the first chunk claims two bytes more than it has,
// so that its CR LF falls inside the claimed data.
std::string Chunked(std::string_view data, bool badSize) {
  static const size_t sizes[] = {1, 7, 4096, 65536, 333, 20000};
  std::string out;
  size_t pos = 0;
  for (int i = 0; pos < data.size(); ++i) {
    const size_t n = std::min(sizes[i % 6], data.size() - pos);
    char hex[32];
    std::snprintf(hex, sizeof hex, i == 2 ? "%zX;ext=1\r\n" : "%zx\r\n", badSize && i == 0 ? n + 2 : n);
    out += hex;
    out.append(data.substr(pos, n));
    out += "\r\n";
    pos += n;
  }
  out += "0\r\nX-Trailer: end\r\n\r\n";
  return out;
}

}  // namespace

void FaultHttpServer::AcceptLoop() {
  const Sock l = static_cast<Sock>(listener_);
  while (!stop_.load()) {
    if (!WaitSock(l, false, 50)) continue;
    const Sock c = ::accept(l, nullptr, nullptr);
    if (c == static_cast<Sock>(-1)) continue;
    std::lock_guard<std::mutex> g(mu_);
    for (auto it = conns_.begin(); it != conns_.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = conns_.erase(it);
      } else {
        ++it;
      }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    conns_.push_back(Conn{std::thread([this, c, done] {
                            Serve(static_cast<uintptr_t>(c));
                            *done = true;
                          }),
                          done});
  }
}

bool FaultHttpServer::SendBody(uintptr_t sockIn, const std::string& data, int64_t from, int64_t len) {
  const Sock s = static_cast<Sock>(sockIn);
  const bool drop = Take(faults.dropCount);
  const bool stall = !drop && Take(faults.stallCount);
  const int64_t cutAt = drop ? faults.dropAfter.load() : stall ? faults.stallAfter.load() : len;
  const int64_t rate = faults.throttle.load();
  const auto t0 = std::chrono::steady_clock::now();
  int64_t sent = 0;
  while (sent < std::min(len, cutAt) && !stop_.load()) {
    const int64_t n = std::min<int64_t>(65536, std::min(len, cutAt) - sent);
    if (!SendAll(s, data.data() + from + sent, static_cast<size_t>(n))) return false;
    sent += n;
    bytesSent_ += n;
    if (rate > 0) {
      const auto due = t0 + std::chrono::microseconds(sent * 1000000 / rate);
      while (std::chrono::steady_clock::now() < due && !stop_.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (drop) return false;
  if (stall) {
    // Silent until the client gives up (or the server ends).
    char b[256];
    while (!stop_.load()) {
      if (WaitSock(s, false, 50) && ::recv(s, b, sizeof b, 0) <= 0) break;
    }
    return false;
  }
  return true;
}

void FaultHttpServer::Serve(uintptr_t sockIn) {
  const Sock s = static_cast<Sock>(sockIn);
  const int now = ++active_;
  for (int m = maxConcurrent_.load(); now > m && !maxConcurrent_.compare_exchange_weak(m, now);) {
  }
  std::string buf;
  bool keep = true;
  while (keep && !stop_.load()) {
    size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos && !stop_.load()) {
      if (!WaitSock(s, false, 50)) continue;
      char b[4096];
      const int r = static_cast<int>(::recv(s, b, sizeof b, 0));
      if (r <= 0) {
        keep = false;
        break;
      }
      buf.append(b, static_cast<size_t>(r));
    }
    if (!keep || end == std::string::npos) break;
    const std::string head = buf.substr(0, end);
    buf.erase(0, end + 4);
    ++requests_;
    std::shared_ptr<const std::string> content;
    std::string etag, lastModified, redirectFrom, redirectTo;
    {
      std::lock_guard<std::mutex> g(mu_);
      content = content_;
      etag = etag_;
      lastModified = lastModified_;
      redirectFrom = redirectFrom_;
      redirectTo = redirectTo_;
    }
    if (const std::string line = "GET " + redirectFrom + " ";
        !redirectFrom.empty() && head.compare(0, line.size(), line) == 0) {
      const std::string moved = "HTTP/1.1 302 Found\r\nLocation: " + redirectTo + "\r\nContent-Length: 0\r\n\r\n";
      if (!SendAll(s, moved.data(), moved.size())) break;
      continue;
    }
    const int64_t size = static_cast<int64_t>(content->size());
    // Range: bytes=a-b or a-
    int64_t first = -1, last = -1;
    bool ranged = false;
    std::string lower = head;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (const size_t r = lower.find("\r\nrange: bytes="); r != std::string::npos) {
      ranged = true;
      const size_t v = r + 15;
      const size_t e = lower.find("\r\n", v);
      const std::string rangeSet = lower.substr(v, e == std::string::npos ? std::string::npos : e - v);
      const size_t dash = rangeSet.find('-');
      first = std::stoll(rangeSet.substr(0, dash));
      last = dash + 1 < rangeSet.size() ? std::stoll(rangeSet.substr(dash + 1)) : size - 1;
      if (last >= size) last = size - 1;
    }
    if (lower.find("\r\nconnection: close") != std::string::npos) keep = false;
    std::string h;
    int64_t from = 0, len = size;
    if (ranged && (first >= size || first > last || Take(faults.refuse416))) {
      h = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(size) +
          "\r\nContent-Length: 0\r\n";
      len = 0;
    } else if (ranged && !Take(faults.ignoreRange)) {
      from = first;
      len = last - first + 1;
      const int64_t shift = Take(faults.misplacedRange) ? 4096 : 0;
      h = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first + shift) + "-" +
          std::to_string(std::min(last + shift, size - 1)) + "/" + std::to_string(size) + "\r\n";
    } else {
      h = "HTTP/1.1 200 OK\r\n";
    }
    if (faults.perNodeEtag.load()) etag = "\"node-" + std::to_string(requests_.load() % 3) + "\"";
    if (faults.weakEtag.load()) etag = "W/" + etag;
    h += "ETag: " + etag + "\r\n";
    if (!faults.noLastModified.load()) h += "Last-Modified: " + lastModified + "\r\n";
    h += "Accept-Ranges: bytes\r\n";
    const bool badChunkEnd = len > 0 && Take(faults.badChunkEnd);
    const bool chunked = len > 0 && (badChunkEnd || Take(faults.chunked));
    const int malformed = Take(faults.malformedHead) ? faults.malformedKind.load() : -1;
    if (chunked) {
      h += "Transfer-Encoding: chunked\r\n";
    } else if (h.compare(9, 3, "416") != 0) {
      const int64_t delta = faults.lengthDelta.load();
      if (!faults.noContentLength.load()) h += "Content-Length: " + std::to_string(len + delta) + "\r\n";
      // Without a true length only the end of the connection ends the body.
      if (faults.noContentLength.load() || delta != 0) keep = false;
    }
    switch (malformed) {
      case kBadStatusLine: h.replace(9, 3, h.compare(9, 3, "206") == 0 ? "2O6" : "2OO"); break;
      case kHugeHead:
        for (int i = 0; i < 1200; ++i) h += "X-Padding-" + std::to_string(i) + ": " + std::string(50, 'p') + "\r\n";
        break;
      case kGarbageHead: h = std::string("\x16\x03\x01\x00\xa5garbage\x00\xff\r\n", 16); break;
      case kLineWithoutColon: h += "ThisLineHasNoColon\r\n"; break;
      case kNegativeLength: h += "Content-Length: -5\r\n"; break;
      case kTwoLengths: h += "Content-Length: " + std::to_string(len + 7) + "\r\n"; break;
      default: break;
    }
    // After a head that cannot be read, or a length that cannot be trusted,
    // the connection ends with the answer.
    if (malformed >= 0 && malformed != kLineWithoutColon) keep = false;
    if (!keep) h += "Connection: close\r\n";
    h += "\r\n";
    if (!SendAll(s, h.data(), h.size())) break;
    if (malformed == kBadStatusLine || malformed == kHugeHead || malformed == kGarbageHead) break;
    if (chunked) {
      const std::string body = Chunked(std::string_view(*content).substr(static_cast<size_t>(from), static_cast<size_t>(len)),
                                       badChunkEnd);
      if (!SendBody(sockIn, body, 0, static_cast<int64_t>(body.size()))) break;
      if (badChunkEnd) break;
    } else if (len > 0 && !SendBody(sockIn, *content, from, len)) {
      break;
    }
  }
  --active_;
#ifdef _WIN32
  ::shutdown(s, SD_BOTH);
#else
  ::shutdown(s, SHUT_RDWR);
#endif
  CLOSESOCK(s);
}

}  // namespace corvane::test
