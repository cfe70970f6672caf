// The engine's connections over BSD sockets.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "download/engine/net_socket.h"
#include "download/engine/net_system.h"

namespace xldl {

namespace netsys {

int WaitSlice(intptr_t sock, bool write, int sliceMs) {
  pollfd p{static_cast<int>(sock), static_cast<short>(write ? POLLOUT : POLLIN), 0};
  const int r = ::poll(&p, 1, sliceMs);
  if (r < 0) return errno == EINTR ? 0 : -1;
  return r > 0 ? 1 : 0;
}

int SendSome(intptr_t sock, const char* data, int n) {
  // A peer that has gone must not end the process with SIGPIPE.
  return static_cast<int>(::send(static_cast<int>(sock), data, static_cast<size_t>(n), MSG_NOSIGNAL));
}

int ReceiveSome(intptr_t sock, char* buf, int n) {
  return static_cast<int>(::recv(static_cast<int>(sock), buf, static_cast<size_t>(n), 0));
}

bool WouldBlock() { return errno == EINPROGRESS || errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR; }

void CloseSocket(intptr_t sock) { ::close(static_cast<int>(sock)); }

}  // namespace netsys

bool NetStartup() { return true; }

void NetCleanup() {}

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
    const int s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s < 0) continue;
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL, 0) | O_NONBLOCK);
    int r = ::connect(s, a->ai_addr, a->ai_addrlen);
    sock_ = s;
    if (r != 0 && netsys::WouldBlock() && WaitFor(true, timeoutMs, cancel) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
      r = err == 0 ? 0 : -1;
    }
    if (r == 0) {
      int one = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ok = true;
    } else {
      Close();
    }
  }
  ::freeaddrinfo(list);
  return ok;
}

}  // namespace xldl
