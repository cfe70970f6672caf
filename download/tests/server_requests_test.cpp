// The directory fetch and the usage report against the loopback operator
// server, natively and under Wine.
#include <gtest/gtest.h>

#include "download/ServerRequests.h"
#include "download/ServerUrl.h"
#include "tests/support/op_server.h"

namespace corvane {
namespace {

using test::TestServer;

class ServerRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server.Available()) GTEST_SKIP() << "no operator server (run under tests/wine/with-opserver)";
    SetServerUrl(kDefaultServerUrl);
  }
  void TearDown() override { SetServerUrl(kDefaultServerUrl); }

  // Fetches a directory page with the given body; returns the notices shown.
  std::vector<std::string> FetchPage(const std::string& body) {
    server.WriteFile("blog/page.html", body);
    std::vector<std::string> notices;
    FetchServerDirectory(Get(), server.Url("/blog/page.html"), [&](const std::string& n) { notices.push_back(n); });
    return notices;
  }
  virtual HttpGetFn Get() {
    return [](const std::string& url, std::string& body) {
      test::TestResponse r = test::TestHttpGet(url);
      body = r.body;
      return r.status / 100 == 2;
    };
  }

  TestServer server;
};

TEST_F(ServerRequestsTest, DirectoryMovesTheAddressAndShowsTheNotice) {
  auto notices = FetchPage("<html><p>[QX]{\"server\":\"" + server.Url("/moved") +
                           "\",\"status\":\"OK\",\"msg\":\"服务器维护中\"}[/QX]</p>"
                           "<p>[QX]{\"server\":\"http://second/\"}[/QX]</p></html>");
  EXPECT_EQ(ServerUrl(), server.Url("/moved"));  // verbatim, no slash added
  EXPECT_EQ(notices, std::vector<std::string>{"服务器维护中"});
}

TEST_F(ServerRequestsTest, BrokenDirectoriesChangeNothing) {
  for (const char* page : {"no markers", "[/QX]{\"server\":\"http://x/\"}[QX]", "[QX][/QX]",
                           "[QX]{\"status\":\"down\",\"msg\":\"m\"}[/QX]"}) {
    EXPECT_TRUE(FetchPage(page).empty()) << page;
    EXPECT_EQ(ServerUrl(), kDefaultServerUrl) << page;
  }
  // A missing "status" keeps the replaced address.
  EXPECT_TRUE(FetchPage("[QX]{\"server\":\"http://new:81/c/\",\"msg\":\"m\"}[/QX]").empty());
  EXPECT_EQ(ServerUrl(), "http://new:81/c/");
}

TEST_F(ServerRequestsTest, FailedPageFetchIsSilent) {
  server.Control("fault?path=/blog/&status=500");
  EXPECT_TRUE(FetchPage("[QX]{\"server\":\"http://x/\",\"status\":\"no\",\"msg\":\"m\"}[/QX]").empty());
  EXPECT_EQ(ServerUrl(), kDefaultServerUrl);
  std::vector<std::string> notices;
  FetchServerDirectory(Get(), "http://127.0.0.1:1/none", [&](const std::string& n) { notices.push_back(n); });
  EXPECT_TRUE(notices.empty());
  EXPECT_EQ(ServerUrl(), kDefaultServerUrl);
}

TEST_F(ServerRequestsTest, StatisticsSendsTheExactQuery) {
  SetServerUrl(server.Url("/corvane/"));
  SendStatistics(Get(), 0, "0123456789ABCDEF0123456789ABCDEF", "3.3.30.180");
  SendStatistics(Get(), 1, "FFFF", "1.2.3.4");
  EXPECT_EQ(server.StatQueries(),
            (std::vector<std::string>{"type=0&mid=0123456789ABCDEF0123456789ABCDEF&cliver=3.3.30.180",
                                      "type=1&mid=FFFF&cliver=1.2.3.4"}));
  EXPECT_EQ(server.Requests().back(), "GET /corvane/stat.php?type=1&mid=FFFF&cliver=1.2.3.4 -> 200");
}

TEST_F(ServerRequestsTest, StatisticsToAnUnreachableServerChangesNothing) {
  SetServerUrl("http://127.0.0.1:1/corvane/");
  SendStatistics(Get(), 1, "M", "V");
  server.Control("fault?status=500");
  SetServerUrl(server.Url("/corvane/"));
  SendStatistics(Get(), 1, "M", "V");  // an error answer is ignored too
  EXPECT_EQ(ServerUrl(), server.Url("/corvane/"));
  EXPECT_EQ(server.StatQueries(), std::vector<std::string>{"type=1&mid=M&cliver=V"});
}

}  // namespace
}  // namespace corvane
