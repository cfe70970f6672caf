// The engine's connections over Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "download/engine/net_socket.h"
#include "download/engine/net_system.h"

namespace xldl {

namespace netsys {

namespace {
SOCKET AsSocket(intptr_t sock) { return static_cast<SOCKET>(sock); }
}  // namespace

int WaitSlice(intptr_t sock, bool write, int sliceMs) {
  fd_set rs, ws, es;
  FD_ZERO(&rs);
  FD_ZERO(&ws);
  FD_ZERO(&es);
  FD_SET(AsSocket(sock), write ? &ws : &rs);
  FD_SET(AsSocket(sock), &es);
  timeval tv{sliceMs / 1000, (sliceMs % 1000) * 1000};
  const int r = ::select(0, &rs, &ws, &es, &tv);
  if (r < 0) return -1;
  return r > 0 ? 1 : 0;
}

int SendSome(intptr_t sock, const char* data, int n) { return ::send(AsSocket(sock), data, n, 0); }

int ReceiveSome(intptr_t sock, char* buf, int n) { return ::recv(AsSocket(sock), buf, n, 0); }

bool WouldBlock() {
  const int e = ::WSAGetLastError();
  return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
}

void CloseSocket(intptr_t sock) { ::closesocket(AsSocket(sock)); }

}  // namespace netsys

bool NetStartup() {
  WSADATA d;
  return ::WSAStartup(MAKEWORD(2, 2), &d) == 0;
}

void NetCleanup() { ::WSACleanup(); }

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
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    int r = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen));
    sock_ = static_cast<intptr_t>(s);
    if (r != 0 && netsys::WouldBlock() && WaitFor(true, timeoutMs, cancel) == 1) {
      int err = 0;
      int len = sizeof err;
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

}  // namespace xldl
