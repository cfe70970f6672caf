#include <gtest/gtest.h>

#include "common/text.h"

using namespace corvane;

TEST(Text, Utf16RoundTripKeepsChineseAndSurrogates) {
  const std::string s = "QuilloWin10升级助理 \xF0\x9F\x98\x80";
  const std::u16string w = Utf8ToUtf16(s);
  EXPECT_EQ(w.size(), 18u);  // 16 BMP code points + a surrogate pair
  EXPECT_EQ(Utf16ToUtf8(w), s);
  // Broken input never crashes and becomes U+FFFD.
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xC3")), "\xEF\xBF\xBD");
}

// The engine converts through the same code (unicode/utf.h): a broken
// sequence becomes U+FFFD and never takes the characters after it with it,
// and nothing invalid comes out as UTF-16.
TEST(Text, BrokenUtf8BecomesReplacementsWithoutSwallowingWhatFollows) {
  EXPECT_EQ(Utf8ToUtf16("\xC3(a"), u"\uFFFD(a");                    // a lead byte without its continuation
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF" "b"), u"\uFFFDb");              // overlong '/'
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFDx");               // an encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF7\xBF\xBF\xBF"), u"\uFFFD");              // beyond U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98"), u"\uFFFD\uFFFD\uFFFD");     // cut short at the end
  // A lone surrogate of UTF-16 becomes U+FFFD; a pair stays one code point.
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Text, PaddingCountsCodePointsNotBytes) {
  EXPECT_EQ(PadRight("文件大小：1.00KB", 15), "文件大小：1.00KB    ");
  EXPECT_EQ(CodePointCount(PadRight("文件大小：1.00KB", 15)), 15u);
  EXPECT_EQ(PadRight("0123456789ABCDEFG", 15), "0123456789ABCDEFG");
}

TEST(Text, TrimRemovesControlCharactersAndBlanks) {
  EXPECT_EQ(Trim("\t  GenuineIntel \r\n"), "GenuineIntel");
  EXPECT_EQ(Trim("\x01\x1f"), "");
}

TEST(Text, StrictIntegerParsing) {
  int64_t v = 0;
  EXPECT_TRUE(TryParseInt64("5573967872", v));
  EXPECT_EQ(v, 5573967872LL);
  EXPECT_TRUE(TryParseInt64("-9223372036854775808", v));
  EXPECT_FALSE(TryParseInt64("9223372036854775808", v));
  EXPECT_FALSE(TryParseInt64("", v));
  EXPECT_FALSE(TryParseInt64(" 12", v));
  EXPECT_FALSE(TryParseInt64("12a", v));
  int32_t i = 0;
  EXPECT_FALSE(TryParseInt32("2147483648", i));
}

TEST(Text, PathPiecesAndCaseInsensitiveReplace) {
  EXPECT_EQ(ExtractFilePath("C:\\a\\b.txt"), "C:\\a\\");
  EXPECT_EQ(ExtractFileName("C:\\a\\b.txt"), "b.txt");
  EXPECT_EQ(ExtractFileExt("C:\\a.d\\b"), "");
  EXPECT_EQ(ExtractFileExt("C:\\a\\b.tar.GZ"), ".GZ");
  EXPECT_EQ(ReplaceFirstNoCase("C:\\Users\\Docs\\x\\DOCS\\y", "c:\\users\\docs", "D:\\B"), "D:\\B\\x\\DOCS\\y");
}
