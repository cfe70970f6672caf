#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "window/Log.h"
#include "tests/support/test_support.h"

using namespace corvane;

class LogTest : public test::SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    Patch({{"drives", {{"C", 3}, {"D", 3}}}});
  }
  std::string FileText() {
    std::string s;
    plat::ReadWholeFile(kLogFile, s);
    return s;
  }
};

TEST_F(LogTest, OnlyTheFirstArgumentSwitchesItOn) {
  Log("nothing");
  Patch({{"args", {"/afterupgrade", "/D"}}});
  Log("nothing either");
  EXPECT_FALSE(plat::FileExists(kLogFile));
  Patch({{"args", {"/d"}}});
  Log("Download Error:下载配置文件错误！");
  const std::string text = FileText();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.front(), '[');
  EXPECT_NE(text.find("]Download Error:下载配置文件错误！\r\n"), std::string::npos);
  const auto events = plat::sim::Events();
  EXPECT_NE(std::find(events.begin(), events.end(), "debug [Corvane]Download Error:下载配置文件错误！"), events.end());
}

TEST_F(LogTest, AppendsInTheAnsiCodePageAndKeepsInnerLineBreaks) {
  Patch({{"args", {"/D"}}, {"codepage", "GBK"}});
  Log("备份");
  Log("a\r\nb");
  const std::string text = FileText();
  EXPECT_NE(text.find("]\xB1\xB8\xB7\xDD\r\n["), std::string::npos);
  EXPECT_NE(text.find("]a\r\nb\r\n"), std::string::npos);
}

TEST_F(LogTest, NoDriveDLosesTheLineSilently) {
  Patch({{"args", {"/D"}}, {"drives", {{"C", 3}}}});
  std::filesystem::remove_all(root_ + "/D");
  EXPECT_NO_THROW(Log("lost"));
}

TEST_F(LogTest, ConcurrentCallersEachWriteWholeLines) {
  Patch({{"args", {"/D"}}});
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; ++t)
    ts.emplace_back([t] {
      for (int i = 0; i < 25; ++i) Log("thread" + std::to_string(t));
    });
  for (auto& t : ts) t.join();
  const std::string text = FileText();
  size_t lines = 0;
  for (size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, 100u);
}
