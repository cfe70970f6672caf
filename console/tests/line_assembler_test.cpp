// How output bytes become lines, fed read by read.
#include <gtest/gtest.h>

#include "console/uDosCommand.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

using namespace corvane;

namespace {

struct Report {
  std::string text;
  TOutputType type;
  bool operator==(const Report& o) const { return text == o.text && type == o.type; }
};
std::ostream& operator<<(std::ostream& os, const Report& r) {
  return os << (r.type == TOutputType::otEntireLine ? "E:" : "B:") << r.text;
}

#ifdef _WIN32
using MachineTest = ::testing::Test;
#else
using MachineTest = test::SimMachineTest;  // the code page (UTF-8) comes from the machine
#endif

class Assembler : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    timer.Beginning();
  }
  void Read(const std::string& bytes) { out.Feed(bytes.data(), bytes.size(), stop); }

  TDosCommand owner;
  TProcessTimer timer{SystemClock()};
  TStringList lines, shown;
  std::vector<Report> reports;
  TNewLineEvent onNewLine = [this](TDosCommand& sender, const std::string& line, TOutputType t) {
    EXPECT_EQ(&sender, &owner);
    reports.push_back({line, t});
  };
  std::atomic<bool> stop{false};
  TLineAssembler out{owner, lines, &shown, timer, onNewLine};
};

const auto E = TOutputType::otEntireLine;
const auto B = TOutputType::otBeginningOfLine;

TEST_F(Assembler, LineEndsOfEveryKind) {
  Read("a\r\nb\n");
  EXPECT_EQ(lines, (TStringList{"a", "b"}));
  Read("c\rd\n\ne\r\r\n");
  EXPECT_EQ(lines, (TStringList{"a", "b", "c", "d", "", "e", ""}));
  out.Finish();
  EXPECT_EQ(shown, lines);
}

TEST_F(Assembler, CarriageReturnAloneLeavesTheRestAsTheTail) {
  Read("a\rb");
  EXPECT_EQ(lines, (TStringList{"a"}));
  out.Finish();
  EXPECT_EQ(lines, (TStringList{"a", "b"}));
  EXPECT_EQ(reports, (std::vector<Report>{{"a", E}, {"b", B}, {"b", E}}));
}

TEST_F(Assembler, CrLfSplitOverTwoReadsEndsTwoLines) {
  Read("a\r");
  Read("\nb\n");
  EXPECT_EQ(lines, (TStringList{"a", "", "b"}));
}

TEST_F(Assembler, PartialLineIsOverwrittenNotAddedAgain) {
  Read("abc");
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(shown, (TStringList{"abc"}));
  out.Finish();
  EXPECT_EQ(lines, (TStringList{"abc"}));
  EXPECT_EQ(shown, (TStringList{"abc"}));
  EXPECT_EQ(reports, (std::vector<Report>{{"abc", B}, {"abc", E}}));
}

TEST_F(Assembler, PartialLineGrowsAcrossReadsAndCompletes) {
  shown.push_back("earlier");  // the caller's list is neither cleared nor replaced
  Read("ab");
  Read("cd");
  Read("e\nf");
  EXPECT_EQ(lines, (TStringList{"abcde"}));
  EXPECT_EQ(shown, (TStringList{"earlier", "abcde", "f"}));
  EXPECT_EQ(reports, (std::vector<Report>{{"ab", B}, {"abcd", B}, {"abcde", E}, {"f", B}}));
}

TEST_F(Assembler, NulBytesAreDropped) {
  Read(std::string("a\0b\n\0", 5));
  out.Finish();
  EXPECT_EQ(lines, (TStringList{"ab"}));
}

TEST_F(Assembler, MultiByteCharacterSplitOverReadsIsJoinedBeforeConversion) {
#ifndef _WIN32
  Patch({{"codepage", "GBK"}});
#endif
  Read("\xC4");  // 你 in GBK, split over two reads
  Read("\xE3\n");
  EXPECT_EQ(lines, (TStringList{plat::AnsiToUtf8("\xC4\xE3")}));
#ifndef _WIN32
  EXPECT_EQ(lines, (TStringList{"你"}));
#endif
}

TEST_F(Assembler, EchoedInputCompletesThePartialLine) {
  Read("Password: ");
  out.Echo("secret");
  Read("ok\n");
  EXPECT_EQ(shown, (TStringList{"Password: secret", "ok"}));
  EXPECT_EQ(lines, (TStringList{"ok"}));
  EXPECT_EQ(reports.back(), (Report{"ok", E}));
  EXPECT_EQ(reports[1], (Report{"Password: secret", E}));
  out.Echo("dir");
  EXPECT_EQ(shown.back(), "dir");
}

TEST_F(Assembler, StopEndsTheWalkEarly) {
  stop = true;
  Read("a\nb\n");
  EXPECT_TRUE(lines.empty());
}

TEST(ProcessTimer, CountsWholeSecondsOnTheInjectedClock) {
  struct FakeClock : Clock {
    int64_t now = 5000;
    int64_t NowMs() override { return now; }
    void SleepMs(int64_t ms) override { now += ms; }
  } clock;
  TProcessTimer t(clock);
  EXPECT_FALSE(t.Enabled());
  t.Beginning();
  EXPECT_TRUE(t.Enabled());
  clock.now += 2999;
  EXPECT_EQ(t.SinceBeginning(), 2);
  t.NewOutput();
  clock.now += 1001;
  EXPECT_EQ(t.SinceBeginning(), 4);
  EXPECT_EQ(t.SinceLastOutput(), 1);
  EXPECT_EQ(t.MsToNextSecond(), 999);
  t.Ending();
  EXPECT_FALSE(t.Enabled());
}

}  // namespace
