// The directory page, the base address and the usage report query.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "download/ServerInfo.h"
#include "download/ServerUrl.h"

namespace corvane {
namespace {

TEST(DirectoryText, MarkersByFirstPosition) {
  EXPECT_EQ(ExtractDirectoryText("<p>x[QX]{\"a\":1}[/QX]y</p>"), "{\"a\":1}");
  EXPECT_EQ(ExtractDirectoryText("no markers"), "");
  EXPECT_EQ(ExtractDirectoryText("[QX]{} without end"), "");
  EXPECT_EQ(ExtractDirectoryText("{} without start[/QX]"), "");
  EXPECT_EQ(ExtractDirectoryText("[/QX]{}[QX]"), "");                // reversed
  EXPECT_EQ(ExtractDirectoryText("[QX][/QX]"), "");                  // adjacent
  EXPECT_EQ(ExtractDirectoryText("[QX]one[/QX] [QX]two[/QX]"), "one");  // a second pair is ignored
  // The first end marker counts even when it stands before a later start.
  EXPECT_EQ(ExtractDirectoryText("[/QX][QX]a[/QX]"), "");
  EXPECT_EQ(ExtractDirectoryText("中文[QX]服务器[/QX]"), "服务器");
  EXPECT_EQ(ExtractDirectoryText("[qx]{}[/qx]"), "");  // markers are case-sensitive
}

DirectoryReading Read(const std::string& json) { return ReadServerDirectory("<html>[QX]" + json + "[/QX]</html>"); }

TEST(DirectoryReading, ServerTakenVerbatimWhenNotEmpty) {
  auto r = Read(R"({"server":"http://10.1.2.3:81/x","status":"ok","msg":"hidden"})");
  EXPECT_EQ(r.server, "http://10.1.2.3:81/x");  // no slash added
  EXPECT_FALSE(r.notice);
  r = Read(R"({"server":"","status":"ok"})");
  EXPECT_FALSE(r.server);
  EXPECT_FALSE(r.notice);
}

TEST(DirectoryReading, NoticeUnlessStatusIsExactlyOk) {
  auto r = Read(R"({"server":"","status":"OK","msg":"维护通知"})");
  EXPECT_FALSE(r.server);  // an empty address is ignored, the notice logic still runs
  EXPECT_EQ(r.notice, "维护通知");
  EXPECT_EQ(Read(R"({"server":"s/","status":"down","msg":""})").notice, "");
  EXPECT_EQ(Read(R"({"server":"s/","status":1,"msg":"m"})").notice, "m");
}

TEST(DirectoryReading, StopsAtTheFirstMissingMember) {
  // Without "server" nothing happens, not even the notice.
  auto r = Read(R"({"status":"closed","msg":"m"})");
  EXPECT_FALSE(r.server);
  EXPECT_FALSE(r.notice);
  // Without "status" a replaced address stays replaced.
  r = Read(R"({"server":"http://new/","msg":"m"})");
  EXPECT_EQ(r.server, "http://new/");
  EXPECT_FALSE(r.notice);
  // Without "msg" there is nothing to show.
  r = Read(R"({"server":"http://new/","status":"x"})");
  EXPECT_EQ(r.server, "http://new/");
  EXPECT_FALSE(r.notice);
}

TEST(DirectoryReading, UnreadableDirectoriesChangeNothing) {
  for (const char* page : {"", "[QX][/QX]", "[QX]{\"server\":\"a\"[/QX]", "[QX][\"server\"][/QX]", "[QX]null[/QX]",
                           "[QX]{\"server\":null,\"status\":\"x\",\"msg\":\"m\"}[/QX]",
                           "[QX]{\"server\":{},\"status\":\"x\",\"msg\":\"m\"}[/QX]"}) {
    auto r = ReadServerDirectory(page);
    EXPECT_FALSE(r.server) << page;
    EXPECT_FALSE(r.notice) << page;
  }
}

TEST(Statistics, QueryTextWithValuesAsTheyAre) {
  EXPECT_EQ(StatisticsQuery(1, "0123456789ABCDEF0123456789ABCDEF", "3.3.30.180"),
            "stat.php?type=1&mid=0123456789ABCDEF0123456789ABCDEF&cliver=3.3.30.180");
  EXPECT_EQ(StatisticsQuery(-7, "a b&c", ""), "stat.php?type=-7&mid=a b&c&cliver=");
}

TEST(ServerUrl, DefaultIsPort81UnderCorvane) {
  std::string d = kDefaultServerUrl;
  EXPECT_EQ(d.rfind("http://", 0), 0u);
  EXPECT_NE(d.find(":81/"), std::string::npos);
  EXPECT_EQ(d.substr(d.size() - 9), "/corvane/");
}

TEST(ServerUrl, ReadersOnOtherThreadsSeeWholeValues) {
  const std::string before = ServerUrl();
  const std::string moved = "http://127.0.0.1:8081/moved/";
  std::atomic<bool> seen{false};
  std::thread reader([&] {
    while (!seen) {
      std::string v = ServerUrl();
      ASSERT_TRUE(v == before || v == moved) << v;
      if (v == moved) seen = true;
    }
  });
  SetServerUrl(moved);
  reader.join();
  EXPECT_EQ(ServerUrl(), moved);
  SetServerUrl(kDefaultServerUrl);
}

}  // namespace
}  // namespace corvane
