#include "download/engine/http_client.h"

#include <cstdlib>

#include "download/engine/engine_text.h"

namespace xldl {

bool ParseUrl(const std::string& text, Url& out) {
  const std::string scheme = "http://";
  if (text.size() <= scheme.size() || !EqualsNoCase(text.substr(0, scheme.size()), scheme)) return false;
  const std::string rest = text.substr(scheme.size());
  const size_t slash = rest.find_first_of("/?#");
  std::string hostPort = rest.substr(0, slash);
  std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
  if (const size_t hash = path.find('#'); hash != std::string::npos) path.resize(hash);
  if (path.empty() || path[0] != '/') path = "/" + path;
  if (const size_t at = hostPort.rfind('@'); at != std::string::npos) hostPort = hostPort.substr(at + 1);
  uint16_t port = 80;
  std::string host = hostPort;
  const size_t colon = hostPort.rfind(':');
  const size_t bracket = hostPort.rfind(']');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    int64_t p = 0;
    if (!ParseU64(hostPort.substr(colon + 1), p) || p <= 0 || p > 65535) return false;
    port = static_cast<uint16_t>(p);
    host = hostPort.substr(0, colon);
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return false;
  for (char c : path)
    if (static_cast<unsigned char>(c) <= ' ') return false;  // no blanks or controls in the request line
  out.host = host;
  out.port = port;
  out.path = path;
  return true;
}

namespace {

// "scheme:" at the start of a reference (letters, digits, "+-." after the first letter).
bool HasScheme(const std::string& ref) {
  const size_t colon = ref.find(':');
  if (colon == std::string::npos || colon == 0 || ref.find_first_of("/?#") < colon) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char c = ref[i];
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alpha && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
  }
  return true;
}

}  // namespace

std::string ResolveLocation(const std::string& base, const std::string& location) {
  // An absolute address (another scheme stays as it is and fails ParseUrl).
  if (HasScheme(location)) return location;
  // "//host/path": the same scheme, another server.
  if (location.compare(0, 2, "//") == 0) return "http:" + location;
  Url b;
  if (!ParseUrl(base, b)) return location;
  const std::string host = b.host.find(':') != std::string::npos ? "[" + b.host + "]" : b.host;
  const std::string origin = "http://" + host + (b.port == 80 ? "" : ":" + std::to_string(b.port));
  if (!location.empty() && location[0] == '/') return origin + location;
  std::string dir = b.path.substr(0, b.path.find('?'));
  dir = dir.substr(0, dir.rfind('/') + 1);
  return origin + dir + location;
}

bool ParseContentRange(const std::string& value, HttpResponse& out) {
  std::string_view v = TrimView(value);
  if (v.size() < 6 || !EqualsNoCase(v.substr(0, 6), "bytes ")) return false;
  v = TrimView(v.substr(6));
  const size_t slash = v.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view span = v.substr(0, slash), total = v.substr(slash + 1);
  int64_t t = -1;
  if (total != "*" && !ParseU64(total, t)) return false;
  int64_t first = -1, last = -1;
  if (span != "*") {
    const size_t dash = span.find('-');
    if (dash == std::string_view::npos || !ParseU64(span.substr(0, dash), first) ||
        !ParseU64(span.substr(dash + 1), last) || last < first)
      return false;
    if (t >= 0 && last >= t) return false;
  } else if (t < 0) {
    return false;
  }
  out.hasContentRange = true;
  out.rangeFirst = first;
  out.rangeLast = last;
  out.rangeTotal = t;
  return true;
}

bool ParseResponseHead(const std::string& head, HttpResponse& out) {
  out = HttpResponse{};
  size_t pos = head.find("\r\n");
  const std::string status = head.substr(0, pos);
  if (status.size() < 12 || status.compare(0, 5, "HTTP/") != 0) return false;
  const bool http10 = status.compare(5, 3, "1.0") == 0;
  out.keepAlive = !http10;
  int64_t code = 0;
  if (!ParseU64(status.substr(9, 3), code)) return false;
  out.status = static_cast<int>(code);
  bool contentLengthSeen = false;
  while (pos != std::string::npos) {
    const size_t start = pos + 2;
    pos = head.find("\r\n", start);
    const std::string line = head.substr(start, pos == std::string::npos ? std::string::npos : pos - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string_view name = TrimView(std::string_view(line).substr(0, colon));
    const std::string value(TrimView(std::string_view(line).substr(colon + 1)));
    if (EqualsNoCase(name, "content-length")) {
      int64_t n = -1;
      // Two different lengths make the framing unknowable: treat as missing.
      if (!ParseU64(value, n) || (contentLengthSeen && n != out.contentLength)) n = -1;
      out.contentLength = n;
      contentLengthSeen = true;
    } else if (EqualsNoCase(name, "transfer-encoding")) {
      out.chunked = value.size() >= 7 && EqualsNoCase(value.substr(value.size() - 7), "chunked");
    } else if (EqualsNoCase(name, "connection")) {
      if (EqualsNoCase(value, "close")) out.keepAlive = false;
      if (EqualsNoCase(value, "keep-alive")) out.keepAlive = true;
    } else if (EqualsNoCase(name, "etag")) {
      out.etag = value;
    } else if (EqualsNoCase(name, "last-modified")) {
      out.lastModified = value;
    } else if (EqualsNoCase(name, "location")) {
      out.location = value;
    } else if (EqualsNoCase(name, "content-range")) {
      if (!ParseContentRange(value, out)) {
        out.hasContentRange = false;
        out.rangeFirst = out.rangeLast = out.rangeTotal = -1;
        out.status = out.status == 206 ? -206 : out.status;  // a 206 we cannot place
      }
    }
  }
  if (out.chunked) out.contentLength = -1;
  return true;
}

void HttpConnection::Close() {
  tcp_.Close();
  connectedTo_.clear();
  pending_.clear();
  pendingPos_ = 0;
  bodyDone_ = true;
  keepAlive_ = false;
}

void HttpConnection::ReadFrom(std::string bytes) {
  Close();
  fromMemory_ = true;
  pending_ = std::move(bytes);
  pendingPos_ = 0;
}

int HttpConnection::RawRead(char* buf, int n) {
  if (pendingPos_ < pending_.size()) {
    const size_t take = std::min(static_cast<size_t>(n), pending_.size() - pendingPos_);
    pending_.copy(buf, take, pendingPos_);
    pendingPos_ += take;
    if (pendingPos_ == pending_.size()) {
      pending_.clear();
      pendingPos_ = 0;
    }
    return static_cast<int>(take);
  }
  if (fromMemory_) return kEnd;
  const int r = tcp_.Receive(buf, n, timeouts_.stallMs, cancel_);
  if (r > 0) return r;
  if (r == TcpConnection::kClosed) return kEnd;
  if (r == TcpConnection::kTimeout) return kTimeout;
  if (r == TcpConnection::kCancelled) return kCancelled;
  return kNetError;
}

int HttpConnection::Get(const Url& url, const std::string& range, const std::string& extraHeaders, bool closeAfter,
                        const HttpTimeouts& t, HttpResponse& out) {
  timeouts_ = t;
  const std::string target = url.host + ":" + std::to_string(url.port);
  if (!bodyDone_ || !keepAlive_ || connectedTo_ != target || !tcp_.IsOpen()) Close();
  std::string req = "GET " + url.path + " HTTP/1.1\r\nHost: " + url.host;
  if (url.port != 80) req += ":" + std::to_string(url.port);
  req += "\r\nUser-Agent: Corvane-xldl/1.0\r\nAccept: */*\r\nAccept-Encoding: identity\r\n";
  if (!range.empty()) req += "Range: bytes=" + range + "\r\n";
  req += extraHeaders;
  if (closeAfter) req += "Connection: close\r\n";
  req += "\r\n";

  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool reused = tcp_.IsOpen();
    if (!reused) {
      if (!tcp_.Connect(url.host, url.port, t.connectMs, cancel_)) return cancel_.load() ? kCancelled : kNetError;
      connectedTo_ = target;
    }
    if (!tcp_.SendAll(req, t.stallMs, cancel_)) {
      Close();
      if (reused && !cancel_.load()) continue;  // the server closed an idle connection
      return cancel_.load() ? kCancelled : kNetError;
    }
    const int r = ReadHead(out);
    if (r == kNothing) {
      if (reused && !cancel_.load()) continue;  // the server closed an idle connection: retry fresh
      return kNetError;
    }
    if (r != 1) return r;
    if (closeAfter) keepAlive_ = false;
    return 1;
  }
  return kNetError;
}

int HttpConnection::ReadHead(HttpResponse& out) {
  std::string head;
  char buf[8192];
  size_t end = std::string::npos;
  while (end == std::string::npos) {
    const int r = RawRead(buf, sizeof buf);
    if (r <= 0) {
      Close();
      if (r == kEnd) return head.empty() ? kNothing : kTruncated;
      return r;
    }
    // The blank line may straddle two reads.
    const size_t from = head.size() < 3 ? 0 : head.size() - 3;
    head.append(buf, static_cast<size_t>(r));
    end = head.find("\r\n\r\n", from);
    if (end == std::string::npos ? head.size() > kMaxHeadBytes : end > kMaxHeadBytes) {
      Close();
      return kBadResponse;
    }
  }
  // What came after the head is the body's beginning, before anything unread.
  pending_ = head.substr(end + 4) + pending_.substr(pendingPos_);
  pendingPos_ = 0;
  head.resize(end);
  if (!ParseResponseHead(head, out)) {
    Close();
    return kBadResponse;
  }
  keepAlive_ = out.keepAlive;
  bodyDone_ = false;
  return 1;
}

void HttpConnection::BeginBody(const HttpResponse& r, int64_t limit) {
  limitLeft_ = limit;
  chunksDone_ = false;
  if (r.chunked) {
    framing_ = Framing::Chunked;
    left_ = 0;
  } else if (r.contentLength >= 0) {
    framing_ = Framing::Length;
    left_ = r.contentLength;
  } else {
    framing_ = Framing::Close;
    keepAlive_ = false;
    left_ = -1;
  }
  if (framing_ == Framing::Length && left_ == 0) bodyDone_ = true;
}

int HttpConnection::ReadLine(std::string& line) {
  line.clear();
  char c = 0;
  while (line.size() < 4096) {
    const int r = RawRead(&c, 1);
    if (r == kEnd) return kTruncated;
    if (r < 0) return r;
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return 1;
    }
    line += c;
  }
  return kBadResponse;
}

int HttpConnection::NextChunk() {
  std::string line;
  int r = ReadLine(line);
  if (r < 0) return r;
  const size_t semi = line.find(';');
  const std::string_view hex = TrimView(std::string_view(line).substr(0, semi));
  if (hex.empty() || hex.size() > 15) return kBadResponse;
  int64_t size = 0;
  for (char c : hex) {
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (d < 0) return kBadResponse;
    size = size * 16 + d;
  }
  if (size == 0) {
    size_t trailers = 0;
    do {  // trailers up to the blank line, no more of them than of a head
      r = ReadLine(line);
      if (r < 0) return r;
      trailers += line.size() + 2;
      if (trailers > kMaxHeadBytes) return kBadResponse;
    } while (!line.empty());
    chunksDone_ = true;
    return kEnd;
  }
  left_ = size;
  return 1;
}

// The CR LF that ends every chunk's data; anything else means the chunk
// sizes do not describe the body, and none of it can be trusted.
int HttpConnection::ReadChunkEnd() {
  char crlf[2];
  int got = 0;
  while (got < 2) {
    const int c = RawRead(crlf + got, 2 - got);
    if (c <= 0) return c == kEnd ? kTruncated : c;
    got += c;
  }
  return crlf[0] == '\r' && crlf[1] == '\n' ? 1 : kBadResponse;
}

int HttpConnection::ReadBody(char* buf, int n) {
  if (limitLeft_ == 0) return kEnd;
  if (bodyDone_) return kEnd;
  if (limitLeft_ > 0 && n > limitLeft_) n = static_cast<int>(limitLeft_);
  if (framing_ == Framing::Chunked) {
    if (left_ == 0) {
      if (chunksDone_) return kEnd;
      const int r = NextChunk();
      if (r == kEnd) {
        bodyDone_ = true;
        return kEnd;
      }
      if (r < 0) return r;
    }
    if (n > left_) n = static_cast<int>(left_);
  } else if (framing_ == Framing::Length) {
    if (n > left_) n = static_cast<int>(left_);
  }
  const int r = RawRead(buf, n);
  if (r == kEnd) {
    if (framing_ == Framing::Close) {
      bodyDone_ = true;
      return kEnd;
    }
    return kTruncated;
  }
  if (r < 0) return r;
  if (framing_ != Framing::Close) {
    left_ -= r;
    if (framing_ == Framing::Chunked && left_ == 0) {
      const int c = ReadChunkEnd();
      if (c < 0) return c;
    }
    if (framing_ == Framing::Length && left_ == 0) bodyDone_ = true;
  }
  if (limitLeft_ > 0) limitLeft_ -= r;
  return r;
}

bool HttpConnection::Reusable() const { return bodyDone_ && keepAlive_ && tcp_.IsOpen(); }

}  // namespace xldl
