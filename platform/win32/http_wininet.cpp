// HTTP GET through WinINet.
#include <windows.h>
#include "platform/win32/wininet_delayed.h"

#include "common/text.h"
#include "platform/http.h"

namespace plat {
namespace {

struct Inet {
  HINTERNET h;
  ~Inet() {
    if (h) ::InternetCloseHandle(h);
  }
};

}  // namespace

bool HttpGet(const std::string& url, HttpReply& reply) {
  reply = HttpReply{};
  if (!corvane::StartsWith(corvane::LowerAscii(url), "http://") && !corvane::StartsWith(corvane::LowerAscii(url), "https://"))
    return false;
  Inet session{::InternetOpenW(L"Mozilla/3.0 (compatible; Corvane)", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)};
  if (!session.h) return false;
  const DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                      INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
  Inet request{::InternetOpenUrlW(session.h, corvane::Widen(url).c_str(), nullptr, 0, flags, 0)};
  if (!request.h) return false;
  DWORD status = 0, len = sizeof status;
  if (!::HttpQueryInfoW(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr))
    return false;
  reply.status = static_cast<int>(status);
  // A reply with a length must bring all of it: a cut connection is a failure.
  DWORD expected = 0;
  len = sizeof expected;
  const bool haveLength =
      ::HttpQueryInfoW(request.h, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &expected, &len, nullptr) != 0;
  char buf[16384];
  for (;;) {
    DWORD got = 0;
    if (!::InternetReadFile(request.h, buf, sizeof buf, &got)) return false;
    if (got == 0) break;
    reply.body.append(buf, got);
  }
  return !haveLength || reply.body.size() == expected;
}

}  // namespace plat
