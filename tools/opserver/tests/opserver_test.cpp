// The operator server as its clients see it: ranges, validators, the stat
// log and each fault mode.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "tests/support/op_server.h"
#include "tests/support/test_support.h"
#include "tools/opserver/byte_range.h"

namespace {

using corvane::test::OpServer;
using opserver::RangeAnswer;
using opserver::ReadRange;

TEST(ByteRange, SingleRangesAreClampedToTheFile) {
  auto r = ReadRange("bytes=10-19", 100);
  EXPECT_EQ(r.kind, RangeAnswer::Partial);
  EXPECT_EQ(r.first, 10u);
  EXPECT_EQ(r.last, 19u);
  r = ReadRange("bytes=90-500", 100);
  EXPECT_EQ(r.last, 99u);
  r = ReadRange("bytes=40-", 100);
  EXPECT_EQ(r.first, 40u);
  EXPECT_EQ(r.last, 99u);
  r = ReadRange("bytes=-30", 100);
  EXPECT_EQ(r.first, 70u);
  r = ReadRange("bytes=-300", 100);
  EXPECT_EQ(r.first, 0u);
  EXPECT_EQ(r.last, 99u);
}

TEST(ByteRange, RangesPastTheEndCannotBeSatisfied) {
  EXPECT_EQ(ReadRange("bytes=100-", 100).kind, RangeAnswer::Unsatisfiable);
  EXPECT_EQ(ReadRange("bytes=-0", 100).kind, RangeAnswer::Unsatisfiable);
  EXPECT_EQ(ReadRange("bytes=0-", 0).kind, RangeAnswer::Unsatisfiable);
}

TEST(ByteRange, UnusableHeadersAreIgnored) {
  for (const char* h : {"", "bytes=", "bytes=5", "bytes=9-3", "items=0-1", "bytes=0-1,5-6", "bytes=a-b",
                        "bytes=99999999999999999999-"})
    EXPECT_EQ(ReadRange(h, 100).kind, RangeAnswer::Whole) << h;
}

struct Reply {
  long status = 0;
  CURLcode rc = CURLE_OK;
  std::string body;
  std::string headers;
  double seconds = 0;
};

size_t Append(char* d, size_t s, size_t n, void* out) {
  static_cast<std::string*>(out)->append(d, s * n);
  return s * n;
}

Reply Get(const std::string& url, const std::string& range = "", const std::string& extraHeader = "") {
  Reply r;
  CURL* c = curl_easy_init();
  curl_slist* hs = nullptr;
  if (!extraHeader.empty()) hs = curl_slist_append(hs, extraHeader.c_str());
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, hs);
  if (!range.empty()) curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &r.body);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, Append);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &r.headers);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  auto t0 = std::chrono::steady_clock::now();
  r.rc = curl_easy_perform(c);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
  curl_slist_free_all(hs);
  curl_easy_cleanup(c);
  return r;
}

std::string Header(const Reply& r, const std::string& name) {
  std::string key = "\n" + name + ": ";
  size_t p = ("\n" + r.headers).find(key);
  if (p == std::string::npos) return "";
  size_t b = p + key.size() - 1, e = r.headers.find('\r', b);
  return r.headers.substr(b, e - b);
}

class OpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = corvane::test::MakeTempDir("opserver");
    std::filesystem::create_directories(root_ + "/corvane");
    for (size_t i = 0; i < 200000; ++i) image_ += static_cast<char>('a' + (i * 7919) % 26);
    std::ofstream(root_ + "/corvane/img.bin", std::ios::binary) << image_;
    server_ = std::make_unique<OpServer>(root_);
  }
  void TearDown() override {
    server_.reset();
    std::filesystem::remove_all(root_);
  }
  std::string Img() const { return server_->Url("/corvane/img.bin"); }
  std::string root_, image_;
  std::unique_ptr<OpServer> server_;
};

TEST_F(OpServerTest, ServesRangesWithValidators) {
  Reply whole = Get(Img());
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, image_);
  std::string etag = Header(whole, "ETag");
  EXPECT_FALSE(etag.empty());
  EXPECT_FALSE(Header(whole, "Last-Modified").empty());

  Reply part = Get(Img(), "1000-1999");
  EXPECT_EQ(part.status, 206);
  EXPECT_EQ(part.body, image_.substr(1000, 1000));
  EXPECT_EQ(Header(part, "Content-Range"), "bytes 1000-1999/200000");

  EXPECT_EQ(Get(Img(), "300000-").status, 416);
  // A changed file makes a conditional range answer with the whole file.
  EXPECT_EQ(Get(Img(), "0-9", "If-Range: " + etag).status, 206);
  EXPECT_EQ(Get(Img(), "0-9", "If-Range: \"other\"").status, 200);
  EXPECT_EQ(Get(server_->Url("/corvane/missing.ini")).status, 404);
  EXPECT_EQ(Get(server_->Url("/corvane/../../etc/passwd")).status / 100, 4);
}

TEST_F(OpServerTest, LogsStatQueriesExactlyAsSent) {
  std::string q = "type=1&mid=0123ABC&cliver=3.3.30.180&x=%41+b";
  EXPECT_EQ(Get(server_->Url("/corvane/stat.php?" + q)).status, 200);
  server_->Control("fault?status=500&times=1");
  EXPECT_EQ(Get(server_->Url("/corvane/stat.php?type=0")).status, 500);
  EXPECT_EQ(server_->StatQueries(), (std::vector<std::string>{q, "type=0"}));
}

TEST_F(OpServerTest, FaultsApplyToTheirPathAndCount) {
  server_->Control("fault?path=/corvane/img.bin&status=404&times=2");
  EXPECT_EQ(Get(Img()).status, 404);
  EXPECT_EQ(Get(server_->Url("/corvane/stat.php")).status, 200);
  EXPECT_EQ(Get(Img()).status, 404);
  EXPECT_EQ(Get(Img()).status, 200);

  server_->Control("fault?ignore-range=1&times=1");
  Reply r = Get(Img(), "10-19");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body.size(), image_.size());
}

TEST_F(OpServerTest, CloseAfterDropsTheConnectionMidBody) {
  server_->Control("fault?close-after=5000&times=1");
  Reply r = Get(Img(), "100-");
  EXPECT_NE(r.rc, CURLE_OK);
  EXPECT_EQ(r.body, image_.substr(100, 5000));
  EXPECT_EQ(Get(Img()).body, image_);
}

TEST_F(OpServerTest, ThrottleAndStallDelayTheAnswer) {
  server_->Control("fault?throttle=100000&times=1");
  Reply slow = Get(Img());  // 200000 bytes at 100000 per second
  EXPECT_EQ(slow.body, image_);
  EXPECT_GT(slow.seconds, 1.5);

  server_->Control("fault?stall-body=0");
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    server_->Control("clear");
  });
  Reply stalled = Get(Img(), "0-99");
  release.join();
  EXPECT_EQ(stalled.body, image_.substr(0, 100));
  EXPECT_GT(stalled.seconds, 0.3);
}

// Sends `requests` on one connection and returns all that comes back until
// the server closes it.
std::string Exchange(int port, const std::string& requests) {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  timeval timeout{10, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string got;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::send(s, requests.data(), requests.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(requests.size())) {
    char b[65536];
    for (ssize_t n; (n = ::recv(s, b, sizeof b, 0)) > 0;) got.append(b, static_cast<size_t>(n));
  }
  ::close(s);
  return got;
}

std::string Request(const std::string& path, const std::string& range = "", bool close = true) {
  return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + (range.empty() ? "" : "Range: bytes=" + range + "\r\n") +
         (close ? "Connection: close\r\n" : "") + "\r\n";
}

std::string HeadOf(const std::string& answer) { return answer.substr(0, answer.find("\r\n\r\n") + 2); }
std::string BodyOf(const std::string& answer) { return answer.substr(answer.find("\r\n\r\n") + 4); }

// Chunked framing undone; "" when it does not parse.
std::string Unchunk(const std::string& body) {
  std::string out;
  for (size_t at = 0;;) {
    size_t eol = body.find("\r\n", at);
    if (eol == std::string::npos) return "";
    size_t n = std::stoul(body.substr(at, eol - at), nullptr, 16);
    if (n == 0) return out;
    if (body.compare(eol + 2 + n, 2, "\r\n") != 0) return "";
    out += body.substr(eol + 2, n);
    at = eol + 4 + n;
  }
}

TEST_F(OpServerTest, FramingFaultsAreWrittenByteForByte) {
  const int port = server_->Port();
  const std::string path = "/corvane/img.bin";
  server_->Control("fault?no-length=1&times=1");
  std::string a = Exchange(port, Request(path, "", false));  // the server ends it, though kept alive
  EXPECT_EQ(HeadOf(a).find("Content-Length"), std::string::npos) << HeadOf(a);
  EXPECT_NE(HeadOf(a).find("Connection: close\r\n"), std::string::npos);
  EXPECT_TRUE(BodyOf(a) == image_);

  server_->Control("fault?length-delta=-1000&times=1");
  a = Exchange(port, Request(path, "100-"));
  EXPECT_NE(HeadOf(a).find("\r\nContent-Length: 198900\r\n"), std::string::npos) << HeadOf(a);
  EXPECT_TRUE(BodyOf(a) == image_.substr(100)) << "the whole range, whatever the length said";

  server_->Control("fault?chunked=1&times=1");
  a = Exchange(port, Request(path));
  EXPECT_NE(HeadOf(a).find("Transfer-Encoding: chunked"), std::string::npos);
  EXPECT_TRUE(Unchunk(BodyOf(a)) == image_);
  EXPECT_NE(BodyOf(a).find("0\r\nX-Trailer: end\r\n\r\n"), std::string::npos);

  server_->Control("fault?bad-chunk=1&times=1");
  a = Exchange(port, Request(path, "0-99"));
  EXPECT_EQ(BodyOf(a).substr(0, 4), "3\r\na") << "the first chunk holds one byte but claims three";

  server_->Control("fault?bad-head=status-line&times=1");
  EXPECT_EQ(Exchange(port, Request(path, "0-9")).substr(0, 13), "HTTP/1.1 2O6 ");
  server_->Control("fault?bad-head=two-lengths&times=1");
  a = HeadOf(Exchange(port, Request(path, "0-9")));
  EXPECT_NE(a.find("Content-Length: 10\r\n"), std::string::npos) << a;
  EXPECT_NE(a.find("Content-Length: 17\r\n"), std::string::npos) << a;

  // A body cut at the same byte each time.
  server_->Control("fault?close-after=5000");
  for (int i = 0; i < 2; ++i) EXPECT_EQ(BodyOf(Exchange(port, Request(path))).size(), 5000u);
  server_->Control("clear");

  // One connection, the first answer written by hand and kept alive, the
  // second by the library.
  server_->Control("fault?bad-head=no-colon&times=1");
  a = Exchange(port, Request(path, "0-9", false) + Request(path, "10-19"));
  EXPECT_NE(a.find("ThisLineHasNoColon\r\n"), std::string::npos);
  EXPECT_NE(a.find("\r\n\r\n" + image_.substr(0, 10) + "HTTP/1.1 206 "), std::string::npos) << a;
  EXPECT_EQ(a.substr(a.size() - 10), image_.substr(10, 10));
}

TEST_F(OpServerTest, RangeFaultsAreUsedOnlyByRangeRequests) {
  server_->Control("fault?misplace-range=1&times=1");
  EXPECT_EQ(Get(Img()).status, 200);
  Reply r = Get(Img(), "0-99");
  EXPECT_EQ(Header(r, "Content-Range"), "bytes 4096-4195/200000");
  EXPECT_EQ(r.body, image_.substr(0, 100));
  EXPECT_EQ(Header(Get(Img(), "0-99"), "Content-Range"), "bytes 0-99/200000");

  server_->Control("fault?refuse-range=1&times=1");
  EXPECT_EQ(Get(Img()).status, 200);
  r = Get(Img(), "0-99");
  EXPECT_EQ(r.status, 416);
  EXPECT_EQ(Header(r, "Content-Range"), "bytes */200000");
  EXPECT_EQ(Get(Img(), "0-99").status, 206);
}

TEST_F(OpServerTest, ValidatorFaultsRedirectsAndCounters) {
  server_->Control("clear-logs");
  server_->Control("fault?changing-etag=1&weak-etag=1&no-last-modified=1&times=3");
  std::set<std::string> etags;
  for (int i = 0; i < 3; ++i) {
    Reply r = Get(Img(), "0-9");
    EXPECT_EQ(Header(r, "ETag").substr(0, 8), "W/\"node-");
    EXPECT_EQ(Header(r, "Last-Modified"), "");
    etags.insert(Header(r, "ETag"));
  }
  EXPECT_EQ(etags.size(), 3u);
  EXPECT_EQ(Header(Get(Img(), "0-9"), "ETag").substr(0, 2), "\"2") << "the file's own ETag again";

  server_->Control("fault?path=/old&status=302&location=%2Fcorvane%2Fimg.bin");
  Reply moved = Get(server_->Url("/old"));
  EXPECT_EQ(moved.status, 302);
  EXPECT_EQ(Header(moved, "Location"), "/corvane/img.bin");

  EXPECT_EQ(server_->Control("counters").substr(0, 14), "bytes-sent=40\n");
  EXPECT_EQ(server_->Control("last-request").substr(0, 20), "GET /old HTTP/1.1\r\nH");
}

TEST(OpServerStart, FaultsCanBeGivenAtStart) {
  std::string root = corvane::test::MakeTempDir("opserver");
  std::ofstream(root + "/x86.ini") << "[Config]\n";
  {
    OpServer server(root, {"--fault", "status=500,times=1"});
    EXPECT_EQ(Get(server.Url("/x86.ini")).status, 500);
    EXPECT_EQ(Get(server.Url("/x86.ini")).body, "[Config]\n");
  }
  std::filesystem::remove_all(root);
}

}  // namespace
