// Digests: known answers around the padding boundaries, for every SHA-1 engine.
#include <gtest/gtest.h>

#include <random>

#include "common/text.h"
#include "platform/digest.h"

namespace {

std::string Hex(const std::array<uint8_t, 20>& d) { return corvane::HexUpper(d.data(), d.size()); }

std::string Sha1Of(const std::string& s, plat::Sha1Engine e, size_t chunk = 0) {
  plat::Sha1 sha(e);
  if (chunk == 0) chunk = s.size() + 1;
  for (size_t at = 0; at < s.size(); at += chunk) sha.Update(s.data() + at, std::min(chunk, s.size() - at));
  return Hex(sha.Final());
}

class Sha1Engines : public ::testing::TestWithParam<plat::Sha1Engine> {};

TEST_P(Sha1Engines, KnownAnswers) {
  const auto e = GetParam();
  EXPECT_EQ(Sha1Of("", e), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(Sha1Of("abc", e), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(Sha1Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", e),
            "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
  EXPECT_EQ(Sha1Of(std::string(1000000, 'a'), e, 4099), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

// Every length around the one and two block paddings, fed whole and in
// uneven pieces, agrees with the platform's own digest.
TEST_P(Sha1Engines, AgreesWithThePlatformAtEveryBoundary) {
  std::mt19937 rng(7);
  std::string data(300, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  for (size_t len : {0, 1, 3, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 191, 192, 255, 300}) {
    const std::string s = data.substr(0, len);
    const std::string want = Sha1Of(s, plat::Sha1Engine::Platform);
    EXPECT_EQ(Sha1Of(s, GetParam()), want) << len;
    EXPECT_EQ(Sha1Of(s, GetParam(), 7), want) << len;
    EXPECT_EQ(Sha1Of(s, GetParam(), 64), want) << len;
  }
}

INSTANTIATE_TEST_SUITE_P(All, Sha1Engines,
                         ::testing::Values(plat::Sha1Engine::Best, plat::Sha1Engine::Platform, plat::Sha1Engine::ShaNi));

TEST(Sha1, ShaNiIsUsedWhereTheProcessorHasIt) {
  plat::Sha1 sha(plat::Sha1Engine::ShaNi);
  EXPECT_STREQ(sha.EngineName(), plat::CpuHasShaNi() ? "sha-ni" : plat::Sha1(plat::Sha1Engine::Platform).EngineName());
}

TEST(Md5, KnownAnswers) {
  auto hex = [](std::string_view s) {
    const auto d = plat::Md5(s);
    return corvane::HexUpper(d.data(), d.size());
  };
  EXPECT_EQ(hex(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(hex("UNKNOWN"), "696B031073E74BF2CB98E5EF201D4AA3");
}

}  // namespace
