// Plain HTTP/1.1 GETs (http:// and https://): no proxy, redirects not
// followed, no time-outs besides the client library's own, certificates
// checked against the system's trusted roots (on the simulated machine also
// the profile's "trustedRoots"). libcurl natively, WinINet on Windows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace plat {

struct HttpReply {
  int status = 0;    // the HTTP status code of the reply
  std::string body;  // the reply's body, whatever the status
};

// False when no reply was had (no connection, a broken transfer, an address
// that is not http:// or https://); otherwise true with the reply, any status.
bool HttpGet(const std::string& url, HttpReply& reply);

// A GET whose body is handed over as it arrives.
struct HttpStreamResult {
  bool replied = false;   // a reply (status line and headers) arrived
  int status = 0;
  bool complete = false;  // the whole body arrived and no handler stopped it
};
// onStart(status, length) runs once when the reply's head has arrived
// (length -1 when the reply does not state it), before any data; onData(bytes, n)
// for each piece of the body. Either returns false to stop the transfer.
HttpStreamResult HttpGetStream(const std::string& url, const std::function<bool(int status, int64_t length)>& onStart,
                               const std::function<bool(const char* data, size_t n)>& onData);

}  // namespace plat
