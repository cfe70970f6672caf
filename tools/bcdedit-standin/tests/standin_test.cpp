// The bcdedit stand-in run as a program, the way the environment check and
// the boot entry step run it: its texts, exit codes and what it keeps in its
// store file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include "common/text.h"
#else
#include <sys/wait.h>
#endif

namespace {

const char* const kEntry = "{8EF5A46A-844E-42C0-82E7-9AED7BA9A7A1}";
const char* const kEntryLower = "{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}";
const char* const kOk = "The operation completed successfully.\n";

struct Result {
  int code = -1;
  std::string out;
};

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override { store_ = (std::filesystem::path(corvane::test::MakeTempDir("bcd")) / "BCD.json").string(); }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(store_).parent_path(), ec);
  }

  Result Run(const std::string& args) const {
    Result r;
#ifdef _WIN32
    std::string exe = BCDEDIT_STANDIN;
    if (!exe.empty() && exe[0] == '/') exe = "Z:" + exe;  // a host path seen from Wine
    for (auto& c : exe)
      if (c == '/') c = '\\';
    // cmd /c drops the outermost quotes, hence the extra pair.
    const std::string cmd = "\"\"" + exe + "\" /store \"" + store_ + "\" " + args + " 2>&1\"";
    FILE* p = ::_wpopen(corvane::Widen(cmd).c_str(), L"rb");
#else
    const std::string cmd = "'" + std::string(BCDEDIT_STANDIN) + "' /store '" + store_ + "' " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
#endif
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
#ifdef _WIN32
    r.code = ::_pclose(p);
    std::string lf;
    for (char c : r.out)
      if (c != '\r') lf += c;
    r.out = lf;
#else
    const int st = ::pclose(p);
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#endif
    return r;
  }

  nlohmann::json Store() const {
    std::ifstream in(store_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return nlohmann::json::parse(s.str());
  }

  // The commands of the boot entry step, in its order; true when each of the
  // tested ones (all but the delete) reported success.
  bool MakeEntry(const std::string& title, int timeout) {
    Run(std::string("/delete ") + kEntry);
    const std::string cmds[] = {
        std::string("/create ") + kEntry + " /d \"" + title + "\" /application bootsector",
        std::string("/set ") + kEntry + " device boot",
        std::string("/set ") + kEntry + " path \"\\qxldr.mbr\"",
        std::string("/displayorder ") + kEntry + " /addlast",
        std::string("/default ") + kEntry,
        "/timeout " + std::to_string(timeout)};
    for (const auto& c : cmds) {
      const Result r = Run(c);
      if (r.code != 0 || r.out.find("success") == std::string::npos) {
        ADD_FAILURE() << c << " -> " << r.out;
        return false;
      }
    }
    return true;
  }

  std::string store_;
};

TEST_F(StandinTest, CurrentEntryNamesTheLoaderOfTheFirmware) {
  // A missing store is created as a BIOS machine.
  Result r = Run("/enum {current}");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Windows Boot Loader\n-------------------\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("identifier              {current}\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("path                    \\Windows\\system32\\winload.exe\n"), std::string::npos) << r.out;
  EXPECT_EQ(Store()["firmware"], "bios");

  ASSERT_EQ(Run("/standin-init uefi").code, 0);
  r = Run("/enum {current}");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("winload.efi"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("winload.exe"), std::string::npos) << r.out;

  // No boot configuration data at all.
  ASSERT_EQ(Run("/standin-init none").code, 0);
  r = Run("/enum {current}");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "The boot configuration data store could not be opened.\n"
            "The system cannot find the file specified.\n");
}

TEST_F(StandinTest, BootEntrySequenceMakesOneDefaultBootSectorEntry) {
  const std::string title = "升级到Windows10系统";
  const Result del = Run(std::string("/delete ") + kEntry);
  EXPECT_EQ(del.code, 1);  // nothing to delete on a first attempt
  EXPECT_EQ(del.out.find("success"), std::string::npos);

  const Result created = Run(std::string("/create ") + kEntry + " /d \"" + title + "\" /application bootsector");
  EXPECT_EQ(created.code, 0);
  EXPECT_EQ(created.out, std::string("The entry ") + kEntryLower + " was successfully created.\n");
  EXPECT_EQ(Run(std::string("/set ") + kEntry + " device boot").out, kOk);

  ASSERT_TRUE(MakeEntry(title, 10));
  ASSERT_TRUE(MakeEntry(title, 10));  // a second attempt replaces the entry

  const nlohmann::json s = Store();
  const auto& entry = s["entries"][kEntryLower];
  EXPECT_EQ(entry["type"], "bootsector");
  EXPECT_EQ(entry["elements"]["description"], title);
  EXPECT_EQ(entry["elements"]["device"], "boot");
  EXPECT_EQ(entry["elements"]["path"], "\\qxldr.mbr");
  const auto& bm = s["entries"]["{9dea862c-5cdd-4e70-acc1-f32b344d4795}"]["elements"];
  EXPECT_EQ(bm["default"], kEntryLower);
  EXPECT_EQ(bm["timeout"], "10");
  ASSERT_EQ(bm["displayorder"].size(), 2u);
  EXPECT_EQ(bm["displayorder"][1], kEntryLower);

  // The listing shows the new entry as the default, and the current loader
  // is still there. Like the editor, it prints in the ANSI code page.
  const Result all = Run("/enum");
  EXPECT_NE(all.out.find("Real-mode Boot Sector\n---------------------\nidentifier              {default}\n"
                         "description             " + plat::Utf8ToAnsi(title) + "\ndevice                  boot\n"
                         "path                    \\qxldr.mbr\n"),
            std::string::npos)
      << all.out;
  EXPECT_NE(Run("/enum {current}").out.find("winload.exe"), std::string::npos);
}

TEST_F(StandinTest, FailedCommandsSayNoSuccessAndLeaveTheStoreAsItWas) {
#ifdef _WIN32
  // The same code on both builds; under Wine every run costs two processes.
  GTEST_SKIP() << "run natively";
#endif
  ASSERT_EQ(Run("/standin-init bios").code, 0);
  ASSERT_EQ(Run(std::string("/create ") + kEntry + " /d t /application bootsector").code, 0);
  const nlohmann::json before = Store();
  const std::string bad[] = {
      std::string("/create ") + kEntry + " /d again /application bootsector",  // exists
      "/set {11111111-2222-3333-4444-555555555555} device boot",               // no such entry
      std::string("/set ") + kEntry + " device nowhere",                        // not a device
      "/timeout ten",
      "/timeout -1",
      "/default {11111111-2222-3333-4444-555555555555}",
      "/displayorder {11111111-2222-3333-4444-555555555555} /addlast",
      "/delete {current}",  // a well-known entry without /f
      "/set {not-a-guid} path x",
      std::string("/create ") + kEntry,  // no type, no description
      "/frobnicate",
  };
  for (const auto& c : bad) {
    const Result r = Run(c);
    EXPECT_EQ(r.code, 1) << c;
    EXPECT_FALSE(r.out.empty()) << c;
    EXPECT_EQ(r.out.find("success"), std::string::npos) << c << " -> " << r.out;
    EXPECT_EQ(r.out.find("成功"), std::string::npos) << c;
  }
  EXPECT_EQ(Store(), before);
  EXPECT_EQ(Run("/timeout 0").out, kOk);
  EXPECT_EQ(Run("/delete {CURRENT} /f").out, kOk);
  EXPECT_EQ(Run("/enum {current}").out, "There are no matching objects or the store is empty.\n");
}

}  // namespace
