// A minimal HTTP/1.1 client for GET requests with byte ranges: one request at
// a time on a connection that stays open while the server allows it.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "download/engine/net_socket.h"

namespace xldl {

struct Url {
  std::string host;
  uint16_t port = 80;
  std::string path = "/";
};

// "http://host[:port]/path"; false for any other scheme or a malformed text.
bool ParseUrl(const std::string& text, Url& out);
// The absolute address of a redirect target relative to `base`.
std::string ResolveLocation(const std::string& base, const std::string& location);

struct HttpResponse {
  int status = 0;
  int64_t contentLength = -1;  // -1 when the header is missing or unreadable
  bool chunked = false;
  bool keepAlive = true;
  std::string etag, lastModified, location;
  // Content-Range: "bytes first-last/total" (total -1 for "*"), or
  // "bytes */total" (unsatisfied: first = -1).
  bool hasContentRange = false;
  int64_t rangeFirst = -1, rangeLast = -1, rangeTotal = -1;
};

// Parses a Content-Range value; false when malformed.
bool ParseContentRange(const std::string& value, HttpResponse& out);
// Parses a response head (status line and headers, without the blank line).
bool ParseResponseHead(const std::string& head, HttpResponse& out);

struct HttpTimeouts {
  int connectMs = 15000;
  int stallMs = 20000;  // longest wait for any byte
};

class HttpConnection {
 public:
  enum : int {
    kEnd = 0,
    kNetError = -1,
    kTimeout = -2,
    kCancelled = -3,
    kBadResponse = -4,
    kTruncated = -5,
    kNothing = -6,  // the peer closed before the first byte of an answer
  };

  explicit HttpConnection(const std::atomic<bool>& cancel) : cancel_(cancel) {}

  // Sends one GET (with "Range: bytes=<range>" when range is not empty) and
  // reads the response head. Returns 1 or one of the negative codes.
  int Get(const Url& url, const std::string& range, const std::string& extraHeaders, bool closeAfter,
          const HttpTimeouts& t, HttpResponse& out);
  // Reads a response from `bytes` instead of a server, as if they had come
  // over a connection that the peer then closed (tests and fuzzing): the
  // head with ReadHead, then the body as after Get.
  void ReadFrom(std::string bytes);
  int ReadHead(HttpResponse& out);
  // Starts reading the body of the last response: at most `limit` bytes
  // (-1: to the end of the body as the response frames it).
  void BeginBody(const HttpResponse& r, int64_t limit);
  // Reads body bytes: a count, kEnd at the end of the body, or an error.
  int ReadBody(char* buf, int n);
  // True when the whole body was read and the connection may carry another request.
  bool Reusable() const;
  void Close();

 private:
  int RawRead(char* buf, int n);
  int ReadLine(std::string& line);
  int NextChunk();
  int ReadChunkEnd();

  const std::atomic<bool>& cancel_;
  TcpConnection tcp_;
  std::string connectedTo_;
  HttpTimeouts timeouts_;
  std::string pending_;
  size_t pendingPos_ = 0;
  // body state
  enum class Framing { Length, Chunked, Close } framing_ = Framing::Close;
  int64_t left_ = 0;       // bytes left in the body (Length) or the chunk (Chunked)
  int64_t limitLeft_ = -1;  // bytes the caller still wants (-1 unlimited)
  bool bodyDone_ = true;
  bool keepAlive_ = false;
  bool chunksDone_ = false;
  bool fromMemory_ = false;
};

// The longest response head, and the most trailer bytes after a chunked body.
inline constexpr size_t kMaxHeadBytes = 65536;

}  // namespace xldl
