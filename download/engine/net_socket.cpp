#include "download/engine/net_socket.h"

#include <chrono>

#include "download/engine/net_system.h"

namespace xldl {

namespace {
constexpr int kSliceMs = 100;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

TcpConnection::~TcpConnection() { Close(); }

bool TcpConnection::IsOpen() const { return sock_ != kNoSocket; }

void TcpConnection::Close() {
  if (sock_ != kNoSocket) netsys::CloseSocket(sock_);
  sock_ = kNoSocket;
}

int TcpConnection::WaitFor(bool write, int timeoutMs, const std::atomic<bool>& cancel) {
  const int64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    if (cancel.load(std::memory_order_relaxed)) return -3;
    const int64_t left = deadline - NowMs();
    if (left <= 0) return 0;
    const int r = netsys::WaitSlice(sock_, write, static_cast<int>(left < kSliceMs ? left : kSliceMs));
    if (r != 0) return r;
  }
}

bool TcpConnection::SendAll(const std::string& data, int timeoutMs, const std::atomic<bool>& cancel) {
  size_t done = 0;
  while (done < data.size()) {
    const int r = netsys::SendSome(sock_, data.data() + done, static_cast<int>(data.size() - done));
    if (r > 0) {
      done += static_cast<size_t>(r);
      continue;
    }
    if (r < 0 && netsys::WouldBlock()) {
      if (WaitFor(true, timeoutMs, cancel) != 1) return false;
      continue;
    }
    return false;
  }
  return true;
}

int TcpConnection::Receive(void* buf, int n, int timeoutMs, const std::atomic<bool>& cancel) {
  for (;;) {
    const int r = netsys::ReceiveSome(sock_, static_cast<char*>(buf), n);
    if (r > 0) return r;
    if (r == 0) return kClosed;
    if (!netsys::WouldBlock()) return kError;
    const int w = WaitFor(false, timeoutMs, cancel);
    if (w == 0) return kTimeout;
    if (w == -3) return kCancelled;
    if (w < 0) return kError;
  }
}

}  // namespace xldl
