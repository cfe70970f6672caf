// HTTP GET through libcurl.
#include <curl/curl.h>

#include <mutex>

#include "platform/http.h"
#include "platform/posix/sim_machine.h"

namespace plat {
namespace {

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// The simulated machine's own trusted roots (PEM), besides the host's.
std::string MachineRoots() {
  std::string pem;
  const auto profile = sim::Profile();
  if (profile.contains("trustedRoots") && profile["trustedRoots"].is_array())
    for (const auto& r : profile["trustedRoots"])
      if (r.is_string()) pem += r.get<std::string>() + "\n";
  return pem;
}

// A handle with the settings every request shares; `roots` must outlive it.
CURL* NewRequest(const std::string& url, const std::string& roots) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* c = curl_easy_init();
  if (!c) return nullptr;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_PROXY, "");  // no proxy, whatever the environment says
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "Mozilla/3.0 (compatible; Corvane)");
  if (!roots.empty()) {
    curl_blob blob{const_cast<char*>(roots.data()), roots.size(), CURL_BLOB_NOCOPY};
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
  }
  return c;
}

struct Stream {
  CURL* curl = nullptr;
  const std::function<bool(int, int64_t)>* onStart;
  const std::function<bool(const char*, size_t)>* onData;
  bool started = false;
  bool stopped = false;
  int status = 0;
};

bool StartStream(Stream& s) {
  s.started = true;
  long status = 0;
  curl_easy_getinfo(s.curl, CURLINFO_RESPONSE_CODE, &status);
  curl_off_t length = -1;
  curl_easy_getinfo(s.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  s.status = static_cast<int>(status);
  if (!(*s.onStart)(s.status, length < 0 ? -1 : static_cast<int64_t>(length))) s.stopped = true;
  return !s.stopped;
}

size_t StreamData(char* data, size_t size, size_t count, void* user) {
  Stream& s = *static_cast<Stream*>(user);
  if (!s.started && !StartStream(s)) return 0;
  if (!(*s.onData)(data, size * count)) {
    s.stopped = true;
    return 0;
  }
  return size * count;
}

}  // namespace

HttpStreamResult HttpGetStream(const std::string& url, const std::function<bool(int, int64_t)>& onStart,
                               const std::function<bool(const char*, size_t)>& onData) {
  HttpStreamResult result;
  const std::string roots = MachineRoots();
  CURL* c = NewRequest(url, roots);
  if (!c) return result;
  Stream s{c, &onStart, &onData};
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &StreamData);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &s);
  const CURLcode rc = curl_easy_perform(c);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  // A reply without a body has had no data to start the stream with.
  if (rc == CURLE_OK && !s.started) StartStream(s);
  curl_easy_cleanup(c);
  result.status = static_cast<int>(status);
  result.replied = status != 0;
  result.complete = rc == CURLE_OK && !s.stopped;
  return result;
}

bool HttpGet(const std::string& url, HttpReply& reply) {
  reply = HttpReply{};
  const std::string roots = MachineRoots();
  CURL* c = NewRequest(url, roots);
  if (!c) return false;
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply.body);
  const CURLcode rc = curl_easy_perform(c);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(c);
  reply.status = static_cast<int>(status);
  return rc == CURLE_OK;
}

}  // namespace plat
