// The reachability probe against the loopback operator server: only a
// success reply counts.
#include <gtest/gtest.h>

#include "inspection/environment_check.h"
#include "tests/support/op_server.h"

namespace corvane {
namespace {

class CheckNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server.Available()) GTEST_SKIP() << "no operator server";
    saved = ProbeUrl();
    server.WriteFile("probe.html", "<html>hello</html>");
  }
  void TearDown() override {
    if (!saved.empty()) SetProbeUrl(saved);
  }
  test::TestServer server;
  std::string saved;
};

TEST_F(CheckNetworkTest, OnlyASuccessReplyCountsAsNetwork) {
  SetProbeUrl(server.Url("/probe.html"));
  EXPECT_TRUE(CheckNetwork());

  SetProbeUrl(server.Url("/missing.html"));  // 404
  EXPECT_FALSE(CheckNetwork());

  server.Control("fault?path=/probe.html&status=302&times=1");  // redirects are not followed
  SetProbeUrl(server.Url("/probe.html"));
  EXPECT_FALSE(CheckNetwork());
  server.Control("fault?path=/probe.html&close-after=2&times=1");  // a broken transfer
  EXPECT_FALSE(CheckNetwork());
  EXPECT_TRUE(CheckNetwork());  // the faults are used up

  SetProbeUrl("http://127.0.0.1:1/");  // nobody listens
  EXPECT_FALSE(CheckNetwork());
}

}  // namespace
}  // namespace corvane
