// A server's answer is network input: the engine's reader of response heads,
// of chunked bodies and of redirect targets must never crash on it, and must
// never hand on more body than the answer's own framing allows.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/engine/http_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the reader's buffer size and whether a limit applies.
  const int bufSize = 1 + (data[0] & 0x3F);
  const int64_t limit = (data[0] & 0x40) ? (data[0] & 0x80 ? 5 : 300) : -1;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  std::atomic<bool> cancel{false};
  xldl::HttpConnection conn(cancel);
  conn.ReadFrom(bytes);
  xldl::HttpResponse r;
  if (conn.ReadHead(r) == 1) {
    conn.BeginBody(r, limit);
    char buf[64];
    int64_t total = 0;
    int n;
    while ((n = conn.ReadBody(buf, bufSize)) > 0) {
      if (n > bufSize) std::abort();
      total += n;
    }
    if (total > static_cast<int64_t>(bytes.size())) std::abort();
    if (limit >= 0 && total > limit) std::abort();
    if (!r.chunked && r.contentLength >= 0 && total > r.contentLength) std::abort();
    xldl::Url u;
    xldl::ParseUrl(xldl::ResolveLocation("http://example.test:8080/dir/file.iso?q=1", r.location), u);
    xldl::ParseUrl(r.location, u);
  }
  return 0;
}
