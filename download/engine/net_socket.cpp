#include "download/engine/net_socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SockLen = int;
#define XL_INVALID INVALID_SOCKET
#define XL_CLOSE closesocket
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
using SockLen = socklen_t;
#define XL_INVALID (-1)
#define XL_CLOSE ::close
#endif

#include <chrono>

#ifdef MSG_NOSIGNAL
static constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer must not kill the process
#else
static constexpr int kSendFlags = 0;
#endif

namespace xldl {

namespace {
constexpr int kSliceMs = 100;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SetNonBlocking(decltype(socket(0, 0, 0)) s, bool on) {
#ifdef _WIN32
  u_long v = on ? 1 : 0;
  ::ioctlsocket(s, FIONBIO, &v);
#else
  const int flags = ::fcntl(s, F_GETFL, 0);
  ::fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
#endif
}

bool WouldBlock() {
#ifdef _WIN32
  const int e = ::WSAGetLastError();
  return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
#else
  return errno == EINPROGRESS || errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR;
#endif
}
}  // namespace

bool NetStartup() {
#ifdef _WIN32
  WSADATA d;
  return ::WSAStartup(MAKEWORD(2, 2), &d) == 0;
#else
  return true;
#endif
}

void NetCleanup() {
#ifdef _WIN32
  ::WSACleanup();
#endif
}

TcpConnection::~TcpConnection() { Close(); }

bool TcpConnection::IsOpen() const { return sock_ != XL_INVALID; }

void TcpConnection::Close() {
  if (sock_ != XL_INVALID) XL_CLOSE(sock_);
  sock_ = XL_INVALID;
}

int TcpConnection::WaitFor(bool write, int timeoutMs, const std::atomic<bool>& cancel) {
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    if (cancel.load(std::memory_order_relaxed)) return -3;
    const int64_t left = deadline - NowMs();
    if (left <= 0) return 0;
    const int slice = static_cast<int>(left < kSliceMs ? left : kSliceMs);
#ifdef _WIN32
    fd_set rs, ws, es;
    FD_ZERO(&rs);
    FD_ZERO(&ws);
    FD_ZERO(&es);
    FD_SET(sock_, write ? &ws : &rs);
    FD_SET(sock_, &es);
    timeval tv{slice / 1000, (slice % 1000) * 1000};
    const int r = ::select(0, &rs, &ws, &es, &tv);
    if (r < 0) return -1;
    if (r > 0) return 1;
#else
    pollfd p{sock_, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    const int r = ::poll(&p, 1, slice);
    if (r < 0 && errno != EINTR) return -1;
    if (r > 0) return 1;
#endif
  }
}

bool TcpConnection::Connect(const std::string& host, uint16_t port, int timeoutMs, const std::atomic<bool>& cancel) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list) return false;
  bool ok = false;
  for (addrinfo* a = list; a && !ok && !cancel.load(); a = a->ai_next) {
    auto s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == XL_INVALID) continue;
    SetNonBlocking(s, true);
    int r = ::connect(s, a->ai_addr, static_cast<SockLen>(a->ai_addrlen));
    sock_ = s;
    if (r != 0 && WouldBlock() && WaitFor(true, timeoutMs, cancel) == 1) {
      int err = 0;
      SockLen len = sizeof err;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
      r = err == 0 ? 0 : -1;
    }
    if (r == 0) {
      int one = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
      ok = true;
    } else {
      Close();
    }
  }
  ::freeaddrinfo(list);
  return ok;
}

bool TcpConnection::SendAll(const std::string& data, int timeoutMs, const std::atomic<bool>& cancel) {
  size_t done = 0;
  while (done < data.size()) {
    const int r = static_cast<int>(::send(sock_, data.data() + done, static_cast<int>(data.size() - done), kSendFlags));
    if (r > 0) {
      done += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && WouldBlock()) {
      if (WaitFor(true, timeoutMs, cancel) != 1) return false;
      continue;
    }
    return false;
  }
  return true;
}

int TcpConnection::Receive(void* buf, int n, int timeoutMs, const std::atomic<bool>& cancel) {
  for (;;) {
    const int r = static_cast<int>(::recv(sock_, static_cast<char*>(buf), n, 0));
    if (r > 0) return r;
    if (r == 0) return kClosed;
    if (!WouldBlock()) return kError;
    const int w = WaitFor(false, timeoutMs, cancel);
    if (w == 0) return kTimeout;
    if (w == -3) return kCancelled;
    if (w < 0) return kError;
  }
}

}  // namespace xldl
