// The operator server as its clients see it: ranges, validators, the stat
// log and each fault mode.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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
