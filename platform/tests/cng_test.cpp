// CNG failures under Wine: each call of the hash sequence made to fail in
// turn gives no digest, never zeros or the digest of nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/digest.h"
#include "platform/platform.h"
#include "platform/win32/cng.h"
#include "tests/support/test_support.h"

namespace {

constexpr NTSTATUS kFailed = static_cast<NTSTATUS>(0xC0000001L);  // STATUS_UNSUCCESSFUL

NTSTATUS WINAPI FailOpen(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG) { return kFailed; }
NTSTATUS WINAPI FailCreate(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG) {
  return kFailed;
}
NTSTATUS WINAPI FailHash(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG) { return kFailed; }
NTSTATUS WINAPI FailFinish(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG) { return kFailed; }

class CngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(plat::Cng(), nullptr) << "bcrypt.dll from the system folder";
    dir_ = corvane::test::MakeTempDir("cng");
    file_ = dir_ + "\\data.bin";
    ASSERT_TRUE(plat::WriteWholeFile(file_, "abc"));
  }
  void TearDown() override {
    plat::SetCngForTest(nullptr);
    plat::RemoveTree(dir_);
  }
  std::string dir_, file_;
};

TEST_F(CngTest, TheSystemsCallsGiveTheDigests) {
  plat::CngCalls same = *plat::Cng();
  plat::SetCngForTest(&same);  // CNG on every processor
  EXPECT_EQ(corvane::GetFileSHA1(file_), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  plat::Sha1 sha(plat::Sha1Engine::Best);
  EXPECT_STREQ(sha.EngineName(), "cng");
  const auto md5 = plat::Md5("UNKNOWN");
  EXPECT_EQ(corvane::HexUpper(md5.data(), md5.size()), "696B031073E74BF2CB98E5EF201D4AA3");
  EXPECT_EQ(corvane::GetMachineId().size(), 32u);
}

TEST_F(CngTest, EveryFailedCallGivesNoDigest) {
  for (int step = 0; step < 4; ++step) {
    SCOPED_TRACE(step);
    plat::CngCalls broken = *plat::Cng();
    if (step == 0) broken.openAlgorithm = FailOpen;
    if (step == 1) broken.createHash = FailCreate;
    if (step == 2) broken.hashData = FailHash;
    if (step == 3) broken.finishHash = FailFinish;
    plat::SetCngForTest(&broken);
    EXPECT_THROW(
        {
          plat::Sha1 sha(plat::Sha1Engine::Platform);
          sha.Update("abc", 3);
          sha.Final();
        },
        plat::DigestError);
    EXPECT_THROW(plat::Md5("abc"), plat::DigestError);
    EXPECT_EQ(corvane::GetFileSHA1(file_), "");
    EXPECT_EQ(corvane::GetMachineId(), "");
    plat::SetCngForTest(nullptr);
  }
}

}  // namespace
