// The engine's HTTP response reader on answers given as bytes: heads, the
// chunked decoder and redirect targets.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "download/engine/http_client.h"

namespace xldl {
namespace {

struct Read {
  int head = 0;      // ReadHead's result
  int end = 0;       // ReadBody's last result
  std::string body;  // what the body gave
  HttpResponse r;
};

Read ReadAnswer(const std::string& bytes, int64_t limit = -1) {
  std::atomic<bool> cancel{false};
  HttpConnection c(cancel);
  c.ReadFrom(bytes);
  Read out;
  out.head = c.ReadHead(out.r);
  if (out.head != 1) return out;
  c.BeginBody(out.r, limit);
  char buf[7];  // small reads cross every chunk boundary
  int n;
  while ((n = c.ReadBody(buf, sizeof buf)) > 0) out.body.append(buf, static_cast<size_t>(n));
  out.end = n;
  return out;
}

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST(HttpReaderTest, ChunkedBodies) {
  Read a = ReadAnswer(kChunkedHead + "5\r\nhello\r\n1;ext=\"x\"\r\n,\r\nA\r\n world!!!!\r\n0\r\n\r\n");
  EXPECT_EQ(a.end, HttpConnection::kEnd);
  EXPECT_EQ(a.body, "hello, world!!!!");
  // Trailers are read up to the blank line.
  a = ReadAnswer(kChunkedHead + "3\r\nabc\r\n0\r\nX-Sum: 1\r\nX-More: 2\r\n\r\n");
  EXPECT_EQ(a.end, HttpConnection::kEnd);
  EXPECT_EQ(a.body, "abc");
  // Upper-case digits and a size with blanks around it.
  a = ReadAnswer(kChunkedHead + "  B \r\n0123456789a\r\n0\r\n\r\n");
  EXPECT_EQ(a.body, "0123456789a");
  EXPECT_EQ(a.end, HttpConnection::kEnd);
  // A Content-Length beside chunked framing does not count.
  a = ReadAnswer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
  EXPECT_EQ(a.body, "abc");
}

TEST(HttpReaderTest, ChunkedBodiesThatLieAreRefused) {
  // Chunk data not followed by CR LF: the sizes do not fit the body.
  Read a = ReadAnswer(kChunkedHead + "5\r\nhelloXY3\r\nabc\r\n0\r\n\r\n");
  EXPECT_EQ(a.end, HttpConnection::kBadResponse);
  EXPECT_EQ(a.body, "") << "the chunk whose end is wrong is not handed on";
  // A size two too large takes in the CR LF: none of it is data.
  a = ReadAnswer(kChunkedHead + "3\r\nx\r\n1\r\ny\r\n0\r\n\r\n");
  EXPECT_EQ(a.end, HttpConnection::kBadResponse);
  EXPECT_EQ(a.body, "");
  a = ReadAnswer(kChunkedHead + "3\r\nabcdef\r\n0\r\n\r\n");
  EXPECT_EQ(a.end, HttpConnection::kBadResponse);
  a = ReadAnswer(kChunkedHead + "3\r\nabc\n0\r\n\r\n");
  EXPECT_EQ(a.end, HttpConnection::kBadResponse);
  // Sizes that are no hexadecimal number, or too large for any file.
  for (const char* size : {"", "g", "-1", "0x5", "1 2", "1000000000000000"}) {
    a = ReadAnswer(kChunkedHead + size + "\r\nabc\r\n0\r\n\r\n");
    EXPECT_EQ(a.end, HttpConnection::kBadResponse) << size;
  }
  // Trailers without end are bounded like a head.
  std::string endless = kChunkedHead + "1\r\nx\r\n0\r\n";
  while (endless.size() < 3 * kMaxHeadBytes) endless += "X-Trailer: more and more\r\n";
  a = ReadAnswer(endless);
  EXPECT_EQ(a.end, HttpConnection::kBadResponse);
  // A chunk size line without end.
  a = ReadAnswer(kChunkedHead + std::string(10000, '1'));
  EXPECT_EQ(a.end, HttpConnection::kBadResponse);
  // Cut short anywhere: truncated, never a clean end.
  const std::string whole = kChunkedHead + "5\r\nhello\r\n3\r\nabc\r\n0\r\nT: 1\r\n\r\n";
  for (size_t n = kChunkedHead.size(); n < whole.size(); ++n) {
    a = ReadAnswer(whole.substr(0, n));
    EXPECT_EQ(a.end, HttpConnection::kTruncated) << n;
  }
}

TEST(HttpReaderTest, LengthAndCloseFraming) {
  Read a = ReadAnswer("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-14/100\r\nContent-Length: 5\r\n\r\nabcdeEXTRA");
  EXPECT_EQ(a.body, "abcde");
  EXPECT_EQ(a.end, HttpConnection::kEnd);
  EXPECT_EQ(a.r.rangeFirst, 10);
  EXPECT_EQ(a.r.rangeTotal, 100);
  a = ReadAnswer("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc");
  EXPECT_EQ(a.end, HttpConnection::kTruncated);
  // Without a length the end of the connection ends the body.
  a = ReadAnswer("HTTP/1.0 200 OK\r\n\r\nall of it");
  EXPECT_EQ(a.body, "all of it");
  EXPECT_EQ(a.end, HttpConnection::kEnd);
  EXPECT_FALSE(a.r.keepAlive);
  // The caller's limit.
  a = ReadAnswer("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabcdefghi", 4);
  EXPECT_EQ(a.body, "abcd");
}

TEST(HttpReaderTest, MalformedHeads) {
  for (const std::string& bad : {
           std::string("HTTP/1.1 2O0 OK\r\n\r\n"),
           std::string("HTTX/1.1 200 OK\r\n\r\n"),
           std::string("HTTP/1.1\r\n\r\n"),
           std::string("\x16\x03\x01\x00\xa5garbage\r\n\r\n", 16),
           std::string("HTTP/1.1 200 OK\r\nX: ") + std::string(kMaxHeadBytes, 'x') + "\r\n\r\n",
       }) {
    EXPECT_EQ(ReadAnswer(bad).head, HttpConnection::kBadResponse) << bad.substr(0, 20);
  }
  // A head cut short, and no answer at all.
  EXPECT_EQ(ReadAnswer("HTTP/1.1 200 OK\r\nContent-Le").head, HttpConnection::kTruncated);
  EXPECT_EQ(ReadAnswer("").head, HttpConnection::kNothing);
  // Lines without a colon are skipped; lengths that cannot be trusted are unknown.
  Read a = ReadAnswer("HTTP/1.1 200 OK\r\nNoColonHere\r\nContent-Length: 3\r\n\r\nabc");
  EXPECT_EQ(a.head, 1);
  EXPECT_EQ(a.body, "abc");
  for (const char* lengths : {"Content-Length: -5\r\n", "Content-Length: 3\r\nContent-Length: 4\r\n",
                              "Content-Length: 3x\r\n", "Content-Length: 99999999999999999999\r\n"}) {
    a = ReadAnswer(std::string("HTTP/1.1 200 OK\r\n") + lengths + "\r\nabc");
    EXPECT_EQ(a.head, 1);
    EXPECT_EQ(a.r.contentLength, -1) << lengths;
  }
  // A 206 whose range cannot be placed.
  a = ReadAnswer("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 9-3/10\r\n\r\n");
  EXPECT_EQ(a.r.status, -206);
  EXPECT_FALSE(a.r.hasContentRange);
}

TEST(HttpReaderTest, RedirectTargets) {
  const std::string base = "http://a.example:8080/dir/file.iso?x=1";
  EXPECT_EQ(ResolveLocation(base, "//b.example/other/f.iso"), "http://b.example/other/f.iso");
  EXPECT_EQ(ResolveLocation(base, "//b.example:81"), "http://b.example:81");
  EXPECT_EQ(ResolveLocation(base, "/root.iso"), "http://a.example:8080/root.iso");
  EXPECT_EQ(ResolveLocation(base, "sib.iso"), "http://a.example:8080/dir/sib.iso");
  EXPECT_EQ(ResolveLocation(base, "HTTP://c.example/f"), "HTTP://c.example/f");
  EXPECT_EQ(ResolveLocation("http://[::1]:81/a/b", "/c"), "http://[::1]:81/c");
  // A path that merely contains "://" is still a path.
  EXPECT_EQ(ResolveLocation(base, "/go?to=http://d.example/"), "http://a.example:8080/go?to=http://d.example/");
  Url u;
  EXPECT_TRUE(ParseUrl(ResolveLocation(base, "//b.example/other/f.iso"), u));
  EXPECT_EQ(u.host, "b.example");
  EXPECT_EQ(u.path, "/other/f.iso");
  // Another scheme stays what it is, and the engine cannot follow it.
  EXPECT_EQ(ResolveLocation(base, "https://a.example/file.iso"), "https://a.example/file.iso");
  EXPECT_FALSE(ParseUrl(ResolveLocation(base, "https://a.example/file.iso"), u));
}

}  // namespace
}  // namespace xldl
