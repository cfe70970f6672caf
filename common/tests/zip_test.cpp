#include <gtest/gtest.h>
#include <zlib.h>

#include "common/errors.h"
#include "common/zip.h"
#include "tests/support/zip_builder.h"

using namespace corvane;

using corvane::test::ZipBuilder;

TEST(Zip, ReadsStoredAndDeflatedEntriesInNestedFolders) {
  const std::string big(100000, 'q');
  const std::string zip = ZipBuilder().Add("xldl.dll", big).Add("download/sub/id.dat", "abc", false).Bytes();
  ZipReader r(zip);
  ASSERT_EQ(r.Entries().size(), 2u);
  EXPECT_EQ(r.Read(r.Entries()[0]), big);
  EXPECT_EQ(r.Entries()[1].name, "download/sub/id.dat");
  EXPECT_EQ(r.Read(r.Entries()[1]), "abc");
  EXPECT_EQ(SafeRelativePath(r.Entries()[1].name), "download\\sub\\id.dat");
}

TEST(Zip, RefusesEntriesLeavingTheTargetFolder) {
  for (const char* bad : {"../evil.exe", "a/../../evil", "/abs", "\\abs", "C:/Windows/evil", "C:evil", "a\\..\\..\\x"}) {
    EXPECT_THROW(SafeRelativePath(bad), Exception) << bad;
  }
  EXPECT_EQ(SafeRelativePath("./a//b"), "a\\b");
  EXPECT_THROW(SafeRelativePath("a/../b"), Exception) << "any '..' is refused";
}

TEST(Zip, DamagedArchivesRaiseInsteadOfCrashing) {
  const std::string good = ZipBuilder().Add("a.txt", std::string(5000, 'z')).Bytes();
  EXPECT_THROW(ZipReader(""), Exception);
  EXPECT_THROW(ZipReader("PK\x05\x06"), Exception);
  // Flip the CRC: reading must fail, not return wrong bytes.
  std::string badCrc = good;
  badCrc[14] ^= 0x55;                                  // local header CRC (unused)
  badCrc[good.find("PK\x01\x02") + 16] ^= 0x55;        // central CRC
  ZipReader r(badCrc);
  EXPECT_THROW(r.Read(r.Entries()[0]), Exception);
  // Truncations at every length never crash.
  for (size_t n = 0; n < good.size(); n += 7) {
    try {
      ZipReader t(std::string_view(good).substr(0, n));
      for (auto& e : t.Entries()) t.Read(e);
    } catch (const Exception&) {
    }
  }
}
