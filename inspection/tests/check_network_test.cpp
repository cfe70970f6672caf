// The reachability probe against the loopback operator server: only a
// success reply counts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "inspection/environment_check.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"

namespace corvane {
namespace {

class CheckNetworkTest : public ::testing::Test {
 protected:
  CheckNetworkTest() : root(test::MakeTempDir("probe")), server(root) {
    std::ofstream(root + "/probe.html") << "<html>hello</html>";
  }
  ~CheckNetworkTest() override {
    SetProbeUrl(saved);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::string saved = ProbeUrl();
  std::string root;
  test::OpServer server;
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
