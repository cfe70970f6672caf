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

bool IsWebAddress(const std::string& url) {
  const std::string lower = corvane::LowerAscii(url);
  return corvane::StartsWith(lower, "http://") || corvane::StartsWith(lower, "https://");
}

constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

HINTERNET OpenSession() {
  return ::InternetOpenW(L"Mozilla/3.0 (compatible; Corvane)", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
}

}  // namespace

HttpStreamResult HttpGetStream(const std::string& url, const std::function<bool(int, int64_t)>& onStart,
                               const std::function<bool(const char*, size_t)>& onData) {
  HttpStreamResult result;
  if (!IsWebAddress(url)) return result;
  Inet session{OpenSession()};
  if (!session.h) return result;
  Inet request{::InternetOpenUrlW(session.h, corvane::Widen(url).c_str(), nullptr, 0, kRequestFlags, 0)};
  if (!request.h) return result;
  DWORD status = 0, len = sizeof status;
  if (!::HttpQueryInfoW(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr))
    return result;
  result.replied = true;
  result.status = static_cast<int>(status);
  // The stated length as text: the numeric query stops at 4 GB.
  int64_t expected = -1;
  wchar_t lengthText[32];
  len = sizeof lengthText;
  if (::HttpQueryInfoW(request.h, HTTP_QUERY_CONTENT_LENGTH, lengthText, &len, nullptr)) {
    int64_t v = 0;
    if (corvane::TryParseInt64(corvane::Narrow(lengthText), v) && v >= 0) expected = v;
  }
  if (!onStart(result.status, expected)) return result;
  int64_t received = 0;
  char buf[16384];
  for (;;) {
    DWORD got = 0;
    if (!::InternetReadFile(request.h, buf, sizeof buf, &got)) return result;
    if (got == 0) break;
    received += got;
    if (!onData(buf, got)) return result;
  }
  // A reply with a length must bring all of it: a cut connection is a failure.
  result.complete = expected < 0 || received == expected;
  return result;
}

bool HttpGet(const std::string& url, HttpReply& reply) {
  reply = HttpReply{};
  if (!IsWebAddress(url)) return false;
  Inet session{OpenSession()};
  if (!session.h) return false;
  Inet request{::InternetOpenUrlW(session.h, corvane::Widen(url).c_str(), nullptr, 0, kRequestFlags, 0)};
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
