// One plain HTTP/1.1 GET into memory: no proxy, redirects not followed, no
// time-outs besides the client library's own. libcurl natively, WinINet on
// Windows.
#pragma once
#include <string>

namespace plat {

struct HttpReply {
  int status = 0;    // the HTTP status code of the reply
  std::string body;  // the reply's body, whatever the status
};

// False when no reply was had (no connection, a broken transfer, an address
// that is not http:// or https://); otherwise true with the reply, any status.
bool HttpGet(const std::string& url, HttpReply& reply);

}  // namespace plat
