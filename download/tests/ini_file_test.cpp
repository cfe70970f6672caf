// INI reading as the Windows profile functions read, and the configuration
// keys with their defaults.
#include <gtest/gtest.h>

#include "download/DownloadConfig.h"
#include "download/IniFile.h"

namespace corvane {
namespace {

TEST(IniFile, NamesIgnoreCaseAndBlanks) {
  IniFile ini("\xEF\xBB\xBF; comment\r\n  [ config ]  \r\n  EsdUrl =  http://a/b.img  \r\nKey=\"quoted\"\nx='y'\n");
  EXPECT_EQ(ini.ReadString("Config", "esdurl", "d"), "http://a/b.img");
  EXPECT_EQ(ini.ReadString("CONFIG", "key", "d"), "quoted");
  EXPECT_EQ(ini.ReadString("config", "X", "d"), "y");
  EXPECT_EQ(ini.ReadString("Other", "esdurl", "d"), "d");
}

TEST(IniFile, FirstOccurrenceWinsAndEmptyValuesStayEmpty) {
  IniFile ini("[Config]\na=1\na=2\nb=\nc\n[Config]\nd=4\n");
  EXPECT_EQ(ini.ReadString("Config", "a", "d"), "1");
  EXPECT_EQ(ini.ReadString("Config", "b", "d"), "");   // present, empty
  EXPECT_EQ(ini.ReadString("Config", "c", "d"), "d");  // no "=": not a value
  EXPECT_EQ(ini.ReadString("Config", "d", "x"), "4");
}

TEST(IniFile, TextThatIsNoIniGivesDefaults) {
  for (std::string text : {std::string(), std::string("<html>404 Not Found</html>"), std::string("a=b\n[Config"),
                           std::string("\0[Config]\0a=1", 13), std::string("[]\n=\n==\n['\n\"\n")}) {
    IniFile ini(text);
    EXPECT_EQ(ini.ReadString("Config", "a", "def"), "def");
  }
  EXPECT_EQ(IniFile("[Config]\nv=\"\n").ReadString("Config", "v", "d"), "\"");  // a lone quote stays
}

TEST(DownloadConfig, FileChoiceIsExactAndCaseSensitive) {
  EXPECT_EQ(ConfigFileName("X64"), "x64.ini");
  EXPECT_EQ(ConfigFileName("x64"), "x86.ini");
  EXPECT_EQ(ConfigFileName("X86"), "x86.ini");
  EXPECT_EQ(ConfigFileName(""), "x86.ini");
  EXPECT_EQ(ConfigFileName("X64 "), "x86.ini");
}

TEST(DownloadConfig, MissingKeysTakeTheirDefaults) {
  DownloadConfig c = ReadDownloadConfig("[Config]\nesdurl=http://h/i.esd\nbooturl=http://h/pe.iso\n");
  EXPECT_EQ(c.esdUrl, "http://h/i.esd");
  EXPECT_EQ(c.bootUrl, "http://h/pe.iso");
  EXPECT_EQ(c.extractSize, "5573967872");
  EXPECT_EQ(c.key, "");
  EXPECT_EQ(c.esdHash, "");
  EXPECT_EQ(c.bootHash, "");

  c = ReadDownloadConfig(
      "[Config]\nExtractSize=123\nKey=K-1\nEsdHash=abcdef\nBootHash=ABCDEF\n[Other]\nesdurl=wrong\n");
  EXPECT_EQ(c.esdUrl, "");
  EXPECT_EQ(c.extractSize, "123");
  EXPECT_EQ(c.key, "K-1");
  EXPECT_EQ(c.esdHash, "abcdef");  // passed on as written; compared without case later
  EXPECT_EQ(c.bootHash, "ABCDEF");
}

}  // namespace
}  // namespace corvane
