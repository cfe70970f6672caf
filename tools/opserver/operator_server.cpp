#include "operator_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#include "byte_range.h"

namespace opserver {

// A request as far as the answer depends on it.
struct Incoming {
  std::string path;      // decoded, without the query
  std::string rawQuery;  // undecoded
  std::string range;     // the Range header ("" = none)
  std::string ifRange;
};

// The answer to a file or text request: status, headers and where the body
// comes from (bytes [first, first + length) of `file`, or `text`).
struct Answer {
  bool stopped = false;  // the server stopped during a stall
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string contentType = "text/plain";
  std::string text;
  std::string file;
  uint64_t first = 0;
  uint64_t length = 0;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kControlPrefix = "/_control/";
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kMaxHead = 64 * 1024;

// The rule taken for a request whose head this server read itself, for the
// library's handler on the same thread.
thread_local std::optional<FaultRule> tTakenRule;

std::string HttpDate(time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return buf;
}

std::string ContentType(const std::string& path) {
  auto ends = [&](const char* ext) {
    std::string e = ext;
    if (path.size() < e.size()) return false;
    return std::equal(e.rbegin(), e.rend(), path.rbegin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
  };
  if (ends(".html") || ends(".htm")) return "text/html; charset=utf-8";
  if (ends(".ini") || ends(".inf") || ends(".txt")) return "text/plain";
  if (ends(".json")) return "application/json";
  return "application/octet-stream";
}

// The query exactly as the client sent it, undecoded.
std::string RawQuery(const std::string& target) {
  size_t q = target.find('?');
  return q == std::string::npos ? std::string() : target.substr(q + 1);
}

std::string DecodePath(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// No ".." segment may leave the served folder.
bool SafePath(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return path.find('\0') == std::string::npos;
}

void SetText(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, "text/plain");
}

void SetText(Answer& a, int status, const std::string& text) {
  a.status = status;
  a.text = text;
  a.contentType = "text/plain";
  a.file.clear();
  a.first = 0;
  a.length = text.size();
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// Waits until the socket is readable (or writable); false after ms.
bool WaitSocket(int sock, bool write, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(sock, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return ::select(sock + 1, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv) > 0;
}

// Case-insensitive value of a header in a request head ("" if absent).
std::string HeaderValue(const std::string& head, const std::string& name) {
  std::string lower = head;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string key = "\r\n" + name + ":";
  for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t at = lower.find(key);
  if (at == std::string::npos) return "";
  size_t from = at + key.size(), to = head.find("\r\n", from);
  std::string v = head.substr(from, to == std::string::npos ? std::string::npos : to - from);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.erase(0, 1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.pop_back();
  return v;
}

// Counts a body in flight for the whole of its life.
class InFlight {
 public:
  InFlight(std::atomic<int>& now, std::atomic<int>& most) : now_(now) {
    int n = ++now_;
    for (int m = most.load(); n > m && !most.compare_exchange_weak(m, n);) {
    }
  }
  ~InFlight() { --now_; }
  InFlight(const InFlight&) = delete;
  InFlight& operator=(const InFlight&) = delete;

 private:
  std::atomic<int>& now_;
};

// Bytes [offset, offset + n) of an answer's body.
class BodyReader {
 public:
  explicit BodyReader(const Answer& a) : a_(a) {
    if (!a.file.empty()) in_.open(a.file, std::ios::binary);
  }
  bool Read(uint64_t offset, size_t n, std::string& out) {
    if (a_.file.empty()) {
      out = a_.text.substr(static_cast<size_t>(offset), n);
      return out.size() == n;
    }
    out.assign(n, '\0');
    in_.seekg(static_cast<std::streamoff>(a_.first + offset));
    in_.read(out.data(), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in_.gcount()) == n;  // false when the file shrank meanwhile
  }

 private:
  const Answer& a_;
  std::ifstream in_;
};

}  // namespace

// One plain HTTP connection: a buffered socket that the library reads
// requests from after this server has looked at their heads.
class HandStream final : public httplib::Stream {
 public:
  HandStream(int sock, int readMs, int writeMs) : sock_(sock), readMs_(readMs), writeMs_(writeMs) {}

  bool is_readable() const override { return !buf_.empty() || WaitSocket(sock_, false, readMs_); }
  bool is_writable() const override { return WaitSocket(sock_, true, writeMs_); }
  ssize_t read(char* ptr, size_t size) override {
    if (buf_.empty()) {
      if (!WaitSocket(sock_, false, readMs_)) return -1;
      return ::recv(sock_, ptr, size, 0);
    }
    size_t n = std::min(size, buf_.size());
    std::memcpy(ptr, buf_.data(), n);
    buf_.erase(0, n);
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    if (!WaitSocket(sock_, true, writeMs_)) return -1;
    return ::send(sock_, ptr, size, MSG_NOSIGNAL);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(false, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(true, ip, port); }
  socket_t socket() const override { return sock_; }

  bool HasBuffered() const { return !buf_.empty(); }
  // Reads until the buffer holds a whole request head and returns it
  // (without taking it from the buffer); nullopt when the connection ends
  // or the head is too long.
  std::optional<std::string> PeekHead() {
    for (;;) {
      size_t end = buf_.find("\r\n\r\n");
      if (end != std::string::npos) return buf_.substr(0, end + 4);
      if (buf_.size() > kMaxHead || !WaitSocket(sock_, false, readMs_)) return std::nullopt;
      char b[4096];
      ssize_t r = ::recv(sock_, b, sizeof b, 0);
      if (r <= 0) return std::nullopt;
      buf_.append(b, static_cast<size_t>(r));
    }
  }
  void Drop(size_t n) { buf_.erase(0, n); }
  bool WriteAll(const char* p, size_t n) {
    while (n > 0) {
      ssize_t w = write(p, n);
      if (w <= 0) return false;
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }
  bool WriteAll(const std::string& s) { return WriteAll(s.data(), s.size()); }
  // Silent until the client closes the connection or `stop` is set.
  void WaitForClose(const std::atomic<bool>& stop) {
    char b[4096];
    while (!stop) {
      if (WaitSocket(sock_, false, 50) && ::recv(sock_, b, sizeof b, 0) <= 0) return;
    }
  }

 private:
  void Address(bool local, std::string& ip, int& port) const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int rc = local ? ::getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &len)
                   : ::getpeername(sock_, reinterpret_cast<sockaddr*>(&a), &len);
    if (rc != 0) return;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(a.sin_port);
  }

  int sock_;
  int readMs_, writeMs_;
  std::string buf_;
};

// The library's server with its connection loop replaced: each request head
// goes to the operator server first, which may answer it by hand.
class HandServer final : public httplib::Server {
 public:
  explicit HandServer(OperatorServer& owner) : owner_(owner) {}

 private:
  bool process_and_close_socket(socket_t sock) override {
    HandStream stream(static_cast<int>(sock), static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
                      static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
    for (size_t left = keep_alive_max_count_; left > 0 && KeepAlive(stream); --left) {
      std::optional<std::string> head = stream.PeekHead();
      if (!head) break;
      OperatorServer::ByHand by = owner_.AnswerHead(stream, *head, left == 1);
      if (by == OperatorServer::ByHand::Close) break;
      if (by == OperatorServer::ByHand::Keep) continue;
      bool closed = false;
      bool ok = process_request(stream, left == 1, closed, [](httplib::Request&) {});
      tTakenRule.reset();
      if (!ok || closed) break;
    }
    ::shutdown(static_cast<int>(sock), SHUT_RDWR);
    ::close(static_cast<int>(sock));
    return true;
  }

  // Waits for the next request of a kept connection.
  bool KeepAlive(HandStream& stream) {
    if (stream.HasBuffered()) return true;
    auto until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET && !owner_.stopping_ && Clock::now() < until)
      if (WaitSocket(stream.socket(), false, 50)) return true;
    return false;
  }

  OperatorServer& owner_;
};

namespace {
std::unique_ptr<httplib::Server> MakeServer(const Options& o, OperatorServer& owner) {
  if (!o.tlsCert.empty()) return std::make_unique<httplib::SSLServer>(o.tlsCert.c_str(), o.tlsKey.c_str());
  return std::make_unique<HandServer>(owner);
}
}  // namespace

OperatorServer::OperatorServer(Options options) : options_(std::move(options)), http_(MakeServer(options_, *this)) {
  for (auto& rule : options_.faults) faults_.Add(rule);
  int threads = std::max(4, options_.threads);
  http_->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  http_->set_keep_alive_timeout(2);
  http_->Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); });
}

OperatorServer::~OperatorServer() = default;

int OperatorServer::Bind() {
  if (!http_->is_valid()) return -1;  // a certificate or key that does not load
  return options_.port == 0 ? http_->bind_to_any_port("127.0.0.1")
                             : (http_->bind_to_port("127.0.0.1", options_.port) ? options_.port : -1);
}

void OperatorServer::Run() { http_->listen_after_bind(); }

void OperatorServer::Stop() {
  stopping_ = true;
  http_->stop();
}

void OperatorServer::Record(const std::string& method, const std::string& target, const std::string& range,
                            int status) {
  std::string line = method + " " + target;
  if (!range.empty()) line += " range=" + range;
  line += " -> " + std::to_string(status);
  std::lock_guard<std::mutex> lock(logMu_);
  requests_.push_back(std::move(line));
}

bool OperatorServer::Stall(int64_t ms, uint64_t generation) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!stopping_) {
    if (ms > 0 && Clock::now() >= until) return true;
    if (ms == 0 && faults_.Generation() != generation) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool OperatorServer::Pace(int64_t throttle, uint64_t sent, Clock::time_point start) {
  if (throttle <= 0) return !stopping_;
  // Keep the average rate of this response at the limit.
  auto due = start + std::chrono::microseconds(sent * 1000000 / static_cast<uint64_t>(throttle));
  while (!stopping_ && Clock::now() < due)
    std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(50)));
  return !stopping_;
}

void OperatorServer::Handle(const httplib::Request& req, httplib::Response& res) {
  // The library would cut the body to the requested ranges itself; this
  // server decides on ranges (and on ignoring them) on its own, so the parsed
  // list is emptied. The request object is the library's own non-const local.
  const_cast<httplib::Request&>(req).ranges.clear();

  if (req.path.rfind(kControlPrefix, 0) == 0) {
    Control(req.path.substr(std::string(kControlPrefix).size()), req, res);
    return;
  }
  const std::string range = req.has_header("Range") ? req.get_header_value("Range") : "";
  FaultRule rule;
  if (tTakenRule) {
    rule = *tTakenRule;
    tTakenRule.reset();
  } else {
    rule = faults_.Take(req.path, !range.empty());
  }
  // Taken after the rule: using up a rule's last time changes the generation.
  const uint64_t generation = faults_.Generation();
  Incoming in{req.path, RawQuery(req.target), range, req.has_header("If-Range") ? req.get_header_value("If-Range") : ""};
  Answer a = Respond(in, rule, generation);
  if (a.stopped) return SetText(res, 503, "stopping\n");
  res.status = a.status;
  for (const auto& [name, value] : a.headers) res.set_header(name, value);
  if (a.file.empty()) {
    res.set_content(a.text, a.contentType);
  } else {
    ProvideBody(res, a, rule, generation);
  }
  Record(req.method, req.target, range, res.status);
}

Answer OperatorServer::Respond(const Incoming& in, const FaultRule& rule, uint64_t generation) {
  Answer a;
  if (rule.stallMs >= 0 && !Stall(rule.stallMs, generation)) {
    a.stopped = true;
    return a;
  }
  const bool stat = EndsWith(in.path, "/stat.php");
  if (stat) {
    // Logged even when a fault answers it: the request did arrive.
    std::lock_guard<std::mutex> lock(logMu_);
    statQueries_.push_back(in.rawQuery);
    if (options_.statLog.empty()) {
      std::cout << "STAT " << in.rawQuery << std::endl;
    } else {
      std::ofstream out(options_.statLog, std::ios::app | std::ios::binary);
      out << in.rawQuery << "\n";
    }
  }
  if (rule.status != 0) {
    SetText(a, rule.status, "fault " + std::to_string(rule.status) + "\n");
    if (!rule.location.empty()) a.headers.emplace_back("Location", rule.location);
  } else if (stat) {
    SetText(a, 200, "ok\n");
  } else {
    PlanFile(in, rule, a);
  }
  return a;
}

void OperatorServer::PlanFile(const Incoming& in, const FaultRule& rule, Answer& a) {
  if (!SafePath(in.path)) return SetText(a, 403, "forbidden\n");
  std::string file = options_.root + in.path;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return SetText(a, 404, "not found\n");
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const std::string etag = "\"" + std::to_string(size) + "-" + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec) + "\"";
  const std::string lastModified = HttpDate(st.st_mtim.tv_sec);
  // Nodes behind one address, each with its own ETag for the same file.
  std::string shownEtag = rule.changingEtag ? "\"node-" + std::to_string(++answers_ % 3) + "\"" : etag;
  if (rule.weakEtag) shownEtag = "W/" + shownEtag;
  a.headers.emplace_back("ETag", shownEtag);
  if (!rule.noLastModified) a.headers.emplace_back("Last-Modified", lastModified);
  a.headers.emplace_back("Accept-Ranges", "bytes");

  RangeAnswer range;
  bool rangeApplies = !in.range.empty() && !rule.ignoreRange;
  if (rangeApplies && !in.ifRange.empty()) {
    // A range of a file that changed since the client's copy would splice
    // two versions: then the whole new file is sent.
    rangeApplies = in.ifRange == etag || in.ifRange == lastModified;
  }
  if (rangeApplies) range = ReadRange(in.range, size);
  if (range.kind == RangeAnswer::Unsatisfiable || (range.kind == RangeAnswer::Partial && rule.refuseRange)) {
    a.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    return SetText(a, 416, "");
  }
  a.status = 200;
  a.contentType = ContentType(in.path);
  a.file = file;
  a.first = 0;
  a.length = size;
  if (range.kind == RangeAnswer::Partial) {
    a.first = range.first;
    a.length = range.last - range.first + 1;
    a.status = 206;
    // A misplaced range names other bytes than those sent.
    const uint64_t shift = rule.misplaceRange ? 4096 : 0;
    a.headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first + shift) + "-" +
                                                std::to_string(std::min(range.last + shift, size - 1)) + "/" +
                                                std::to_string(size));
  }
}

void OperatorServer::ProvideBody(httplib::Response& res, const Answer& a, const FaultRule& rule, uint64_t generation) {
  if (a.length == 0) {
    res.set_content("", a.contentType);
    return;
  }
  struct Progress {
    explicit Progress(const Answer& a) : answer(a), reader(answer) {}
    Answer answer;
    BodyReader reader;
    std::optional<InFlight> flight;  // from the first byte to the last
    uint64_t sent = 0;
    bool stalled = false;
    Clock::time_point start = Clock::now();
  };
  auto progress = std::make_shared<Progress>(a);
  res.set_content_provider(
      static_cast<size_t>(a.length), a.contentType,
      [this, progress, rule, generation](size_t offset, size_t want, httplib::DataSink& sink) {
        Progress& p = *progress;
        if (!p.flight) p.flight.emplace(inFlight_, maxInFlight_);
        if (!p.stalled && rule.stallBodyMs >= 0) {
          p.stalled = true;
          if (!Stall(rule.stallBodyMs, generation)) return false;
          p.start = Clock::now();
        }
        if (rule.closeAfter >= 0 && p.sent >= static_cast<uint64_t>(rule.closeAfter)) return false;
        size_t n = std::min(want, kChunk);
        if (rule.throttle > 0) n = std::min<size_t>(n, std::max<int64_t>(1, rule.throttle / 10));
        if (rule.closeAfter >= 0) n = std::min<size_t>(n, static_cast<uint64_t>(rule.closeAfter) - p.sent);
        std::string buf;
        if (!p.reader.Read(offset, n, buf)) return false;
        if (!sink.write(buf.data(), n)) return false;
        p.sent += n;
        bytesSent_ += static_cast<int64_t>(n);
        if (p.sent == p.answer.length) p.flight.reset();
        return Pace(rule.throttle, p.sent, p.start);
      });
}

OperatorServer::ByHand OperatorServer::AnswerHead(HandStream& stream, const std::string& head, bool lastOnConnection) {
  const size_t sp1 = head.find(' '), sp2 = head.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos) return ByHand::No;  // the library refuses it
  const std::string method = head.substr(0, sp1), target = head.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string path = DecodePath(target.substr(0, target.find('?')));
  if (path.rfind(kControlPrefix, 0) == 0) return ByHand::No;
  {
    std::lock_guard<std::mutex> lock(logMu_);
    lastRequest_ = head.substr(0, head.size() - 4);
  }
  const std::string range = HeaderValue(head, "Range");
  FaultRule rule = faults_.Take(path, !range.empty());
  if (!rule.ByHand() || method != "GET") {
    tTakenRule = rule;
    return ByHand::No;
  }
  stream.Drop(head.size());
  const uint64_t generation = faults_.Generation();
  Answer a = Respond(Incoming{path, RawQuery(target), range, HeaderValue(head, "If-Range")}, rule, generation);
  if (a.stopped) return ByHand::Close;

  bool keep = !lastOnConnection && HeaderValue(head, "Connection") != "close";
  std::string code = std::to_string(a.status);
  std::string h = "HTTP/1.1 " + code + " " + Reason(a.status) + "\r\n";
  for (const auto& [name, value] : a.headers) h += name + ": " + value + "\r\n";
  h += "Content-Type: " + a.contentType + "\r\n";
  const bool badChunk = a.length > 0 && rule.badChunk;
  const bool chunked = a.length > 0 && (badChunk || rule.chunked);
  if (chunked) {
    h += "Transfer-Encoding: chunked\r\n";
  } else {
    if (!rule.noLength) h += "Content-Length: " + std::to_string(static_cast<int64_t>(a.length) + rule.lengthDelta) + "\r\n";
    // Without a true length only the end of the connection ends the body.
    if (rule.noLength || rule.lengthDelta != 0) keep = false;
  }
  switch (rule.badHead) {
    case BadHead::StatusLine: std::replace(h.begin() + 9, h.begin() + 12, '0', 'O'); break;
    case BadHead::Huge:
      for (int i = 0; i < 1200; ++i) h += "X-Padding-" + std::to_string(i) + ": " + std::string(50, 'p') + "\r\n";
      break;
    case BadHead::Garbage: h = std::string("\x16\x03\x01\x00\xa5garbage\x00\xff\r\n", 16); break;
    case BadHead::NoColon: h += "ThisLineHasNoColon\r\n"; break;
    case BadHead::NegativeLength: h += "Content-Length: -5\r\n"; break;
    case BadHead::TwoLengths: h += "Content-Length: " + std::to_string(a.length + 7) + "\r\n"; break;
    case BadHead::None: break;
  }
  // After a head that cannot be read, or a length that cannot be trusted,
  // the connection ends with the answer.
  if (rule.badHead != BadHead::None && rule.badHead != BadHead::NoColon) keep = false;
  if (!keep) h += "Connection: close\r\n";
  h += "\r\n";
  Record(method, target, range, a.status);
  if (!stream.WriteAll(h)) return ByHand::Close;
  if (rule.badHead == BadHead::StatusLine || rule.badHead == BadHead::Huge || rule.badHead == BadHead::Garbage)
    return ByHand::Close;
  if (a.length > 0 && !SendBodyByHand(stream, a, rule, generation)) return ByHand::Close;
  return keep && !badChunk ? ByHand::Keep : ByHand::Close;
}

bool OperatorServer::SendBodyByHand(HandStream& stream, const Answer& a, const FaultRule& rule, uint64_t generation) {
  std::optional<InFlight> flight(std::in_place, inFlight_, maxInFlight_);
  BodyReader reader(a);
  if (rule.stallBodyMs >= 0 && !Stall(rule.stallBodyMs, generation)) return false;
  const auto start = Clock::now();
  // The body goes out to the first of these; then the connection is dropped
  // or goes silent.
  uint64_t cut = a.length;
  if (rule.closeAfter >= 0) cut = std::min<uint64_t>(cut, static_cast<uint64_t>(rule.closeAfter));
  if (rule.stallAfter >= 0) cut = std::min<uint64_t>(cut, static_cast<uint64_t>(rule.stallAfter));
  // Chunks of varying size (one with an extension), ended by a trailer; a
  // bad chunk claims two bytes more than it holds, so that its CR LF falls
  // inside the claimed data.
  static const size_t kChunkSizes[] = {1, 7, 4096, 65536, 333, 20000};
  const bool chunked = rule.chunked || rule.badChunk;
  uint64_t sent = 0;
  std::string buf;
  for (int i = 0; sent < cut && !stopping_; ++i) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(chunked ? kChunkSizes[i % 6] : kChunk, cut - sent));
    if (rule.throttle > 0 && !chunked) n = std::min<size_t>(n, std::max<int64_t>(1, rule.throttle / 10));
    if (!reader.Read(sent, n, buf)) return false;
    if (chunked) {
      char size[32];
      std::snprintf(size, sizeof size, i == 2 ? "%zX;ext=1\r\n" : "%zx\r\n", rule.badChunk && i == 0 ? n + 2 : n);
      buf = size + buf + "\r\n";
    }
    if (!stream.WriteAll(buf)) return false;
    sent += n;
    bytesSent_ += static_cast<int64_t>(n);
    if (sent == a.length) flight.reset();
    if (!Pace(rule.throttle, sent, start)) return false;
  }
  if (sent < a.length) {
    if (rule.stallAfter >= 0 && (rule.closeAfter < 0 || rule.stallAfter <= rule.closeAfter))
      stream.WaitForClose(stopping_);
    return false;
  }
  if (chunked && !stream.WriteAll("0\r\nX-Trailer: end\r\n\r\n")) return false;
  return true;
}

void OperatorServer::Control(const std::string& command, const httplib::Request& req, httplib::Response& res) {
  if (command == "fault") {
    FaultRule rule;
    for (const auto& [key, value] : req.params)
      if (auto err = ApplyFaultSetting(rule, key, value)) return SetText(res, 400, *err + "\n");
    faults_.Add(rule);
    return SetText(res, 200, "ok\n");
  }
  if (command == "clear") {
    faults_.Clear();
    return SetText(res, 200, "ok\n");
  }
  if (command == "faults") return SetText(res, 200, faults_.Describe());
  if (command == "stats" || command == "requests") {
    std::lock_guard<std::mutex> lock(logMu_);
    std::string text;
    for (const auto& line : command == "stats" ? statQueries_ : requests_) text += line + "\n";
    return SetText(res, 200, text);
  }
  if (command == "last-request") {
    std::lock_guard<std::mutex> lock(logMu_);
    return SetText(res, 200, lastRequest_);
  }
  if (command == "counters") {
    return SetText(res, 200, "bytes-sent=" + std::to_string(bytesSent_.load()) +
                                 "\nmax-concurrent=" + std::to_string(maxInFlight_.load()) + "\n");
  }
  if (command == "clear-logs") {
    std::lock_guard<std::mutex> lock(logMu_);
    statQueries_.clear();
    requests_.clear();
    lastRequest_.clear();
    bytesSent_ = 0;
    maxInFlight_ = inFlight_.load();
    return SetText(res, 200, "ok\n");
  }
  if (command == "quit") {
    quit_ = true;
    return SetText(res, 200, "bye\n");
  }
  SetText(res, 404, "unknown control command\n");
}

}  // namespace opserver
