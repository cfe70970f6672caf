// A TCP connection for the engine's HTTP client: Winsock on Windows, BSD
// sockets elsewhere (posix/net_socket_posix.cpp, win32/net_socket_win32.cpp). Every wait is cut into short slices so that a stop
// request (the `cancel` flag) is seen within a fraction of a second.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace xldl {

bool NetStartup();
void NetCleanup();

class TcpConnection {
 public:
  enum : int { kClosed = 0, kError = -1, kTimeout = -2, kCancelled = -3 };

  TcpConnection() = default;
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Resolves host and connects within timeoutMs; false on failure or cancel.
  bool Connect(const std::string& host, uint16_t port, int timeoutMs, const std::atomic<bool>& cancel);
  bool IsOpen() const;
  bool SendAll(const std::string& data, int timeoutMs, const std::atomic<bool>& cancel);
  // Receives up to n bytes. Returns the count, kClosed at the end of the
  // stream, kError, kTimeout when nothing came within timeoutMs, kCancelled.
  int Receive(void* buf, int n, int timeoutMs, const std::atomic<bool>& cancel);
  void Close();

 private:
  // 1 readable/writable, 0 timeout, -1 error, -3 cancelled
  int WaitFor(bool write, int timeoutMs, const std::atomic<bool>& cancel);
  static constexpr intptr_t kNoSocket = -1;  // also Winsock's INVALID_SOCKET
  intptr_t sock_ = kNoSocket;
};

}  // namespace xldl
