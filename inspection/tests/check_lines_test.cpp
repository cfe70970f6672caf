// The result lines and the edition rule of the environment check at their
// boundaries.
#include <gtest/gtest.h>

#include "inspection/environment_check.h"

namespace corvane {
namespace {

TEST(CheckLines, ProcessorTextFollowsTheVendorWithLetterCaseCounting) {
  struct Case {
    const char* vendor;
    int32_t width, cores, mhz;
    const char* text;
  } cases[] = {
      {"GenuineIntel", 64, 4, 3400, "英特尔 64位 4核@3.40GHz"},
      {"AuthenticAMD", 64, 2, 2047, "AMD 64位 2核@2.05GHz"},
      {"intel corporation", 32, 2, 1800, "32位 2核@1.80GHz"},  // lower case is no Intel
      {"CentaurHauls", 32, 1, 999, "32位 1核@1.00GHz"},
      {"", 64, 8, 0, "64位 8核@0.00GHz"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProcessorLine(c.vendor, c.width, c.cores, c.mhz).text, c.text) << c.vendor;
  EXPECT_FALSE(ProcessorLine("GenuineIntel", 64, 1, 3400).pass);
  EXPECT_TRUE(ProcessorLine("GenuineIntel", 64, 2, 3400).pass);
}

TEST(CheckLines, MemoryAndDisksAtTheirLimits) {
  EXPECT_TRUE(MemoryLine(1'073'741'824).pass);
  EXPECT_EQ(MemoryLine(1'073'741'824).text, "1024.00MB");
  EXPECT_FALSE(MemoryLine(1'073'741'823).pass);
  EXPECT_EQ(MemoryLine(1'073'741'823).text, "1024.00MB(至少1G)");

  const CheckLine exactly20 = SystemDiskLine(21'474'836'480, true);
  EXPECT_FALSE(exactly20.pass);
  EXPECT_EQ(exactly20.text, "20.00GB(至少20G)");
  EXPECT_TRUE(SystemDiskLine(21'474'836'481, true).pass);
  EXPECT_EQ(SystemDiskLine(21'474'836'481, true).text, "20.00GB");
  // A big disk started through UEFI, and an unknown size.
  EXPECT_EQ(SystemDiskLine(500'000'000'000, false).text, "不支持的硬盘分区格式");
  EXPECT_FALSE(SystemDiskLine(500'000'000'000, false).pass);
  EXPECT_EQ(SystemDiskLine(-1, true).text, "未知容量(至少20G)");
  EXPECT_FALSE(SystemDiskLine(-1, true).pass);

  EXPECT_EQ(DataDriveLine("D:", 112'785'841'193).text, "D:(剩余：105.04GB)");
  EXPECT_TRUE(DataDriveLine("D:", 112'785'841'193).pass);
  EXPECT_EQ(DataDriveLine("", 0).text, "剩余空间不足");
  EXPECT_FALSE(DataDriveLine("", 0).pass);

  EXPECT_EQ(NetworkLine(true).text, "网络正常");
  EXPECT_EQ(NetworkLine(false).text, "网络不通");
}

TEST(CheckLines, EditionNeedsEveryX64Condition) {
  const int64_t fourGb = 4'294'967'296;
  EXPECT_EQ(ChooseEdition(4, 2047, 64, fourGb), "X64");
  EXPECT_EQ(ChooseEdition(4, 2046, 64, fourGb), "X86");
  EXPECT_EQ(ChooseEdition(4, 2047, 64, 3'000'000'000), "X86");  // decimal, not a power of two
  EXPECT_EQ(ChooseEdition(4, 2047, 64, 3'000'000'001), "X64");
  EXPECT_EQ(ChooseEdition(4, 3400, 32, fourGb), "X86");
  EXPECT_EQ(ChooseEdition(1, 3400, 64, fourGb), "X86");
  EXPECT_EQ(VerdictTitle("X64"), "您的计算机适合安装64位Win10。");
  EXPECT_EQ(VerdictTitle("X86"), "您的计算机适合安装32位Win10。");
  EXPECT_EQ(VerdictTitle(""), "您的计算机达不到Win10最低配置。");
}

TEST(CheckLines, WmiNumbersMustBeDecimal) {
  EXPECT_EQ(ReadWmiInt32("2047"), 2047);
  EXPECT_EQ(ReadWmiInt64("3000000001"), 3'000'000'001);
  EXPECT_THROW(ReadWmiInt32(""), std::exception);
  EXPECT_THROW(ReadWmiInt32("four"), std::exception);
  EXPECT_THROW(ReadWmiInt32("3000000000"), std::exception);  // beyond 32 bits
  EXPECT_THROW(ReadWmiInt64("4 GB"), std::exception);
}

}  // namespace
}  // namespace corvane
