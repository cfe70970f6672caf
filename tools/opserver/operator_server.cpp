#include "operator_server.h"

#include <httplib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <thread>

#include "byte_range.h"

namespace opserver {

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kControlPrefix = "/_control/";
constexpr size_t kChunk = 64 * 1024;

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
std::string RawQuery(const httplib::Request& req) {
  size_t q = req.target.find('?');
  return q == std::string::npos ? std::string() : req.target.substr(q + 1);
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

}  // namespace

namespace {
std::unique_ptr<httplib::Server> MakeServer(const Options& o) {
  if (!o.tlsCert.empty()) return std::make_unique<httplib::SSLServer>(o.tlsCert.c_str(), o.tlsKey.c_str());
  return std::make_unique<httplib::Server>();
}
}  // namespace

OperatorServer::OperatorServer(Options options) : options_(std::move(options)), http_(MakeServer(options_)) {
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

void OperatorServer::Record(const httplib::Request& req, int status) {
  std::string line = req.method + " " + req.target;
  if (req.has_header("Range")) line += " range=" + req.get_header_value("Range");
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

void OperatorServer::Handle(const httplib::Request& req, httplib::Response& res) {
  // The library would cut the body to the requested ranges itself; this
  // server decides on ranges (and on ignoring them) on its own, so the parsed
  // list is emptied. The request object is the library's own non-const local.
  const_cast<httplib::Request&>(req).ranges.clear();

  if (req.path.rfind(kControlPrefix, 0) == 0) {
    Control(req.path.substr(std::string(kControlPrefix).size()), req, res);
    return;
  }
  FaultRule rule = faults_.Take(req.path);
  // Taken after the rule: using up a rule's last time changes the generation.
  uint64_t generation = faults_.Generation();
  if (rule.stallMs >= 0 && !Stall(rule.stallMs, generation)) {
    SetText(res, 503, "stopping\n");
    return;
  }
  const bool stat = EndsWith(req.path, "/stat.php");
  if (stat) LogStat(req);  // logged even when a fault answers it: the request did arrive
  if (rule.status != 0) {
    SetText(res, rule.status, "fault " + std::to_string(rule.status) + "\n");
  } else if (stat) {
    SetText(res, 200, "ok\n");
  } else {
    ServeFile(req, res, rule);
  }
  Record(req, res.status);
}

void OperatorServer::LogStat(const httplib::Request& req) {
  std::string query = RawQuery(req);
  {
    std::lock_guard<std::mutex> lock(logMu_);
    statQueries_.push_back(query);
    if (options_.statLog.empty()) {
      std::cout << "STAT " << query << std::endl;
    } else {
      std::ofstream out(options_.statLog, std::ios::app | std::ios::binary);
      out << query << "\n";
    }
  }
}

void OperatorServer::ServeFile(const httplib::Request& req, httplib::Response& res, const FaultRule& rule) {
  if (!SafePath(req.path)) return SetText(res, 403, "forbidden\n");
  std::string file = options_.root + req.path;
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return SetText(res, 404, "not found\n");
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const std::string etag = "\"" + std::to_string(size) + "-" + std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec) + "\"";
  const std::string lastModified = HttpDate(st.st_mtim.tv_sec);
  res.set_header("ETag", etag);
  res.set_header("Last-Modified", lastModified);
  res.set_header("Accept-Ranges", "bytes");

  RangeAnswer range;
  bool rangeApplies = req.has_header("Range") && !rule.ignoreRange;
  if (rangeApplies && req.has_header("If-Range")) {
    // A range of a file that changed since the client's copy would splice
    // two versions: then the whole new file is sent.
    std::string v = req.get_header_value("If-Range");
    rangeApplies = v == etag || v == lastModified;
  }
  if (rangeApplies) range = ReadRange(req.get_header_value("Range"), size);
  if (range.kind == RangeAnswer::Unsatisfiable) {
    res.set_header("Content-Range", "bytes */" + std::to_string(size));
    return SetText(res, 416, "");
  }
  uint64_t first = 0, length = size;
  res.status = 200;
  if (range.kind == RangeAnswer::Partial) {
    first = range.first;
    length = range.last - range.first + 1;
    res.status = 206;
    res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
                                        std::to_string(size));
  }
  const std::string type = ContentType(req.path);
  if (length == 0) {
    res.set_content("", type);
    return;
  }

  struct Progress {
    std::ifstream in;
    uint64_t sent = 0;
    bool stalled = false;
    Clock::time_point start = Clock::now();
  };
  auto progress = std::make_shared<Progress>();
  progress->in.open(file, std::ios::binary);
  if (!progress->in) return SetText(res, 404, "not found\n");
  const uint64_t generation = faults_.Generation();

  res.set_content_provider(
      static_cast<size_t>(length), type,
      [this, progress, rule, first, generation](size_t offset, size_t want, httplib::DataSink& sink) {
        Progress& p = *progress;
        if (!p.stalled && rule.stallBodyMs >= 0) {
          p.stalled = true;
          if (!Stall(rule.stallBodyMs, generation)) return false;
          p.start = Clock::now();
        }
        if (rule.closeAfter >= 0 && p.sent >= static_cast<uint64_t>(rule.closeAfter)) return false;
        size_t n = std::min(want, kChunk);
        if (rule.throttle > 0) n = std::min<size_t>(n, std::max<int64_t>(1, rule.throttle / 10));
        if (rule.closeAfter >= 0) n = std::min<size_t>(n, static_cast<uint64_t>(rule.closeAfter) - p.sent);
        std::string buf(n, '\0');
        p.in.seekg(static_cast<std::streamoff>(first + offset));
        p.in.read(buf.data(), static_cast<std::streamsize>(n));
        if (static_cast<size_t>(p.in.gcount()) != n) return false;  // the file shrank meanwhile
        if (!sink.write(buf.data(), n)) return false;
        p.sent += n;
        if (rule.throttle > 0) {
          // Keep the average rate of this response at the limit.
          auto due = p.start + std::chrono::microseconds(p.sent * 1000000 / static_cast<uint64_t>(rule.throttle));
          while (!stopping_ && Clock::now() < due)
            std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(50)));
          if (stopping_) return false;
        }
        return true;
      });
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
  if (command == "clear-logs") {
    std::lock_guard<std::mutex> lock(logMu_);
    statQueries_.clear();
    requests_.clear();
    return SetText(res, 200, "ok\n");
  }
  if (command == "quit") {
    quit_ = true;
    return SetText(res, 200, "bye\n");
  }
  SetText(res, 404, "unknown control command\n");
}

}  // namespace opserver
