// Result-line texts and WMI number reading of the environment check (the
// limits of each item and the edition rule are tested on the whole check,
// check_stage_test.cpp).
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
