#include <gtest/gtest.h>

#include <algorithm>

#include "common/errors.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

using namespace corvane;
using corvane::test::SimMachineTest;
using List = std::vector<std::string>;

TEST(SplitToList, EmptyPiecesFollowTheirOwnRules) {
  EXPECT_EQ(SplitToList("a\\b\\", "\\"), (List{"a", "b", ""}));
  EXPECT_EQ(SplitToList("\\\\a\\\\b", "\\"), (List{"a", "b"}));
  EXPECT_EQ(SplitToList("", "\\"), (List{""}));
  EXPECT_EQ(SplitToList("a,b", ""), (List{"a,b"}));
  EXPECT_EQ(SplitToList("a<>b<><>c", "<>"), (List{"a", "b", "c"}));
}

class CollectFilesTest : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    MakeFile("C:\\R\\top.txt");
    MakeFile("C:\\R\\UPPER.TXT");
    MakeFile("C:\\R\\noext");
    MakeFile("C:\\R\\sub\\deep.txt");
    MakeFile("C:\\R\\sub\\x.d");
    MakeFile("C:\\R\\sub\\more\\deepest.doc");
  }
  static List Sorted(List l) {
    std::sort(l.begin(), l.end());
    return l;
  }
};

TEST_F(CollectFilesTest, DepthLimitCountsTheRootAsOneLevel) {
  EXPECT_TRUE(CollectFiles("C:\\R", "C:\\R", "*.*", 0).empty());
  EXPECT_EQ(Sorted(CollectFiles("C:\\R", "C:\\R", "*.*", 1)),
            (List{"C:\\R\\UPPER.TXT", "C:\\R\\noext", "C:\\R\\top.txt"}));
  EXPECT_EQ(CollectFiles("C:\\R", "C:\\R", "*.*", 2).size(), 5u);
  EXPECT_EQ(CollectFiles("C:\\R\\", "C:\\R\\", "*.*", -1).size(), 6u);
}

TEST_F(CollectFilesTest, SubfolderFilesStandWhereTheSubfolderWasMet) {
  const List all = CollectFiles("C:\\R", "C:\\R", "*.*", -1);
  const auto sub = std::find(all.begin(), all.end(), "C:\\R\\sub\\deep.txt");
  ASSERT_NE(sub, all.end());
  // The files of "sub" and "sub\more" form one contiguous run.
  const auto first = std::find_if(all.begin(), all.end(), [](auto& p) { return p.rfind("C:\\R\\sub\\", 0) == 0; });
  EXPECT_TRUE(std::all_of(first, first + 3, [](auto& p) { return p.rfind("C:\\R\\sub\\", 0) == 0; }));
}

TEST_F(CollectFilesTest, FilterIsAnUpperCaseSubstringTest) {
  EXPECT_EQ(Sorted(CollectFiles("C:\\R", "C:\\R", "*.txt", -1)),
            (List{"C:\\R\\UPPER.TXT", "C:\\R\\sub\\deep.txt", "C:\\R\\top.txt"}));
  // ".D" occurs inside ".DOC;.XLS", so x.d is listed; a file without an
  // extension never is.
  EXPECT_EQ(Sorted(CollectFiles("C:\\R", "C:\\R", ".DOC;.XLS", -1)),
            (List{"C:\\R\\sub\\more\\deepest.doc", "C:\\R\\sub\\x.d"}));
}

TEST_F(CollectFilesTest, MissingFolderGivesAnEmptyList) {
  EXPECT_TRUE(CollectFiles("C:\\Nope", "C:\\Nope", "*.*", -1).empty());
}

TEST_F(SimMachineTest, ShellFoldersLoseOneTrailingBackslash) {
  Patch({{"shellFolders", {{"Personal", "C:\\Users\\User\\Documents\\"}, {"AppData", 17}}}});
  EXPECT_EQ(GetPersonalDir(), "C:\\Users\\User\\Documents");
  EXPECT_EQ(GetDesktopDir(), "");
  EXPECT_THROW(GetAppDataDir(), Exception);
  Patch({{"shellFolders", nullptr}});
  EXPECT_EQ(GetPersonalDir(), "");
}

TEST_F(SimMachineTest, FoldersAndDrivesFollowTheirForms) {
  Patch({{"windir", "C:\\WINDOWS"}, {"temp", "C:\\Temp"}, {"drives", {{"c", 3}, {"D", 2}}}});
  EXPECT_EQ(GetWinDir(), "C:\\WINDOWS\\");
  EXPECT_EQ(GetTempDir(), "C:\\Temp\\");
  EXPECT_EQ(GetDriveList(), (List{"D:"})) << "profile letters are upper case";
}

TEST_F(SimMachineTest, ExtractResToFileWritesTheBytesOrRaises) {
  MakeFile("C:\\Temp\\keep.txt");
  ExtractResToFile("zip", "RES", "C:\\Temp\\res.zip");
  std::string got;
  ASSERT_TRUE(plat::ReadWholeFile("C:\\Temp\\res.zip", got));
  EXPECT_EQ(got.substr(0, 2), "PK");
  EXPECT_THROW(ExtractResToFile("ZIP", "Missing", "C:\\Temp\\m.zip"), Exception);
  EXPECT_THROW(ExtractResToFile("ZIP", "RES", "C:\\NoFolder\\x\\res.zip"), Exception);
}
