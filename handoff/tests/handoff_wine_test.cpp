// The boot entry and the hand-off on Wine's own machine: the payload's
// stand-in editor run by Wine's cmd.exe with the work folder as its current
// folder, bootmgr at the root of C: and no Boot.ini; Boot.ini written by
// Windows' own profile functions; the stage with two small images whose
// SHA-1 the configuration on the loopback operator server names. The test
// build writes the restart down (CORVANE_RESTART_RECORD) instead of doing it.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "common/text.h"
#include "common/ui_thread.h"
#include "download/RunConfig.h"
#include "download/ServerUrl.h"
#include "handoff/boot_entry.h"
#include "handoff/boot_record.h"
#include "platform/admin_folder.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "shell/F_Main.h"
#include "shell/startup.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/no_host.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
const char* const kTitle = "升级到Windows10系统";
const char* const kId = "{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}";

using test::NoHost;

std::string Read(const std::string& path) {
  std::string s;
  plat::ReadWholeFile(path, s);
  return s;
}

class HandoffOnWine : public ::testing::Test {
 protected:
  void SetUp() override {
    sys_ = GetWinDir().substr(0, 2);
    if (plat::FileExists(sys_ + "\\Boot.ini")) GTEST_SKIP() << "this Wine prefix has a Boot.ini";
    madeBootmgr_ = !plat::FileExists(sys_ + "\\bootmgr");
    if (madeBootmgr_) ASSERT_TRUE(plat::WriteWholeFile(sys_ + "\\bootmgr", "boot manager"));
    hadWorkFolder_ = plat::DirectoryExists(WorkFolder());
    ASSERT_TRUE(UnpackPayload());
    for (const char* name : {"qxldr", "qxldr.mbr"})
      if (!plat::FileExists(Work(name))) plat::WriteWholeFile(Work(name), std::string("loader file ") + name);
    // The prefix outlives a run: no record of an earlier one counts.
    ForgetBootRecord();
    temp_ = test::MakeTempDir("handoff");
    store_ = temp_ + "\\BCD.json";
    restartRecord_ = temp_ + "\\restart.log";
    ::SetEnvironmentVariableW(L"CORVANE_BCD_STORE", Widen(store_).c_str());
    ::SetEnvironmentVariableW(L"CORVANE_RESTART_RECORD", Widen(restartRecord_).c_str());
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"CORVANE_BCD_STORE", nullptr);
    ::SetEnvironmentVariableW(L"CORVANE_RESTART_RECORD", nullptr);
    for (const char* name : {"\\qxldr", "\\qxldr.mbr", "\\Boot.ini", "\\Boot.ini.bak", "\\Boot\\Win8PE.iso"}) {
      plat::SetAttributes(sys_ + name, plat::kAttrNormal);
      plat::RemoveFile(sys_ + name);
    }
    if (madeBootmgr_) plat::RemoveFile(sys_ + "\\bootmgr");
    plat::RemoveTree(sys_ + "\\Win10Data");
    ForgetBootRecord();
    if (!hadWorkFolder_) RemoveWorkFolder();
    std::error_code ec;
    if (!temp_.empty()) fs::remove_all(fs::path(Widen(temp_)), ec);
  }
  static std::string Work(const std::string& name) { return WorkFolder() + "\\" + name; }
  nlohmann::json Store() { return nlohmann::json::parse(Read(store_)); }
  int Restarts() {
    std::istringstream in(Read(restartRecord_));
    int n = 0;
    for (std::string line; std::getline(in, line);) n += Trim(line) == "restart";
    return n;
  }

  std::string sys_, temp_, store_, restartRecord_;
  bool madeBootmgr_ = false, hadWorkFolder_ = false;
  test::VirtualClock clock_;
  TaskQueueUiThread ui_;
  NoHost host_;
  TFrm_Main frm_{ui_, clock_, host_};
};

TEST_F(HandoffOnWine, BootStoreEntryThroughTheStandInEditor) {
  const std::string before = plat::GetCurrentDir();
  ASSERT_TRUE(frm_.MakeBoot(kTitle, 10));
  const nlohmann::json store = Store();
  ASSERT_TRUE(store["entries"].contains(kId)) << store.dump(1);
  EXPECT_EQ(store["entries"][kId]["elements"]["description"], kTitle);
  EXPECT_EQ(store["entries"][kId]["elements"]["path"], "\\qxldr.mbr");
  const auto& bm = store["entries"]["{9dea862c-5cdd-4e70-acc1-f32b344d4795}"]["elements"];
  EXPECT_EQ(bm["default"], kId);
  EXPECT_EQ(bm["timeout"], "10");
  EXPECT_EQ(plat::GetCurrentDir(), before);
  for (const char* name : {"\\qxldr", "\\qxldr.mbr"}) {
    EXPECT_EQ(Read(sys_ + name), Read(WorkFolder() + name));
    EXPECT_EQ(plat::FileAttributes(sys_ + name) & (plat::kAttrHidden | plat::kAttrSystem | plat::kAttrReadOnly),
              plat::kAttrHidden | plat::kAttrSystem);
  }
  // Again: still one entry under the identifier, once in the display order.
  ASSERT_TRUE(frm_.MakeBoot(kTitle, 10));
  const nlohmann::json again = Store();
  int shown = 0;
  for (const auto& id : again["entries"]["{9dea862c-5cdd-4e70-acc1-f32b344d4795}"]["elements"]["displayorder"])
    shown += id == kId;
  EXPECT_EQ(shown, 1);
}

TEST_F(HandoffOnWine, BootIniThroughWindowsProfileFunctions) {
  const std::string original =
      "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
      "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP\" /fastdetect\r\n";
  ASSERT_TRUE(plat::WriteWholeFile(sys_ + "\\Boot.ini", original));
  plat::SetAttributes(sys_ + "\\Boot.ini", plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem);
  ASSERT_TRUE(frm_.MakeBoot(kTitle, 10));
  EXPECT_EQ(Read(sys_ + "\\Boot.ini.bak"), original);
  const std::string stub = sys_ + "\\qxldr.mbr";
  EXPECT_EQ(Read(sys_ + "\\Boot.ini"),
            "[boot loader]\r\ntimeout=10\r\ndefault=" + stub +
                "\r\n[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP\" "
                "/fastdetect\r\n" + plat::Utf8ToAnsi(stub + "=\"" + kTitle + "\"") + "\r\n");
  EXPECT_EQ(plat::FileAttributes(sys_ + "\\Boot.ini") & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem),
            plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem);
  EXPECT_FALSE(plat::FileExists(store_)) << "the editor did not run";
}

class InstallOnWine : public HandoffOnWine {
 protected:
  void SetUp() override {
    HandoffOnWine::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(server_.Available()) << "no operator server (tests/wine/with-opserver)";
    ASSERT_TRUE(plat::ForceDirectories(sys_ + "\\Win10Data\\System"));
    ASSERT_TRUE(plat::ForceDirectories(sys_ + "\\Boot"));
    ASSERT_TRUE(plat::WriteWholeFile(installImage_, std::string(300000, 'i')));
    ASSERT_TRUE(plat::WriteWholeFile(bootImage_, std::string(70000, 'b')));
    SetServerUrl(server_.Url("/corvane/"));
  }
  void TearDown() override {
    SetServerUrl(kDefaultServerUrl);
    HandoffOnWine::TearDown();
  }
  // The edition configuration as the server publishes it (hashes in lower
  // case, as a server may well write them).
  void Publish(const std::string& esdHash, const std::string& bootHash) {
    server_.WriteFile("corvane/x64.ini", "[Config]\r\nesdurl=" + server_.Url("/img/install.img") +
                                              "\r\nbooturl=" + server_.Url("/img/boot.iso") +
                                              "\r\nExtractSize=5573967872\r\nKey=WINE-KEY\r\nEsdHash=" + esdHash +
                                              "\r\nBootHash=" + bootHash + "\r\n");
  }
  // The configuration, then the stage, on one worker; the UI thread is this
  // one. Returns once the stage waits on the clock or has ended.
  bool Run() {
    frm_.vPlatform = "X64";
    frm_.vDataDriver = sys_;  // Wine's machine has the one drive
    done_ = false;
    std::thread([this] {
      try {
        FetchRunConfig(frm_);
        frm_.Thrd_Install();
      } catch (...) {
      }
      done_ = true;
    }).detach();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      ui_.WaitAndRun(5);
      if (clock_.Sleepers() > 0) return true;
      if (done_) {
        ui_.RunPending();
        return false;
      }
    }
    ADD_FAILURE() << "the stage neither ended nor waited";
    return false;
  }
  void Finish() {
    for (int i = 0; i < 6000 && !done_; ++i) {
      if (clock_.Sleepers() > 0) clock_.Advance(1000);
      ui_.WaitAndRun(10);
    }
    ASSERT_TRUE(done_);
  }

  test::TestServer server_;
  std::atomic<bool> done_{true};
  const std::string installImage_ = GetWinDir().substr(0, 2) + "\\Win10Data\\System\\Install.img";
  const std::string bootImage_ = GetWinDir().substr(0, 2) + "\\Boot\\Win8PE.iso";
};

TEST_F(InstallOnWine, GoodImagesHandOffAndRestart) {
  Publish(LowerAscii(GetFileSHA1(installImage_)), LowerAscii(GetFileSHA1(bootImage_)));
  ASSERT_TRUE(Run());
  EXPECT_EQ(frm_.lblInstallInfo.Caption(), "恭喜您，即将进入Windows10引导程序！");
  EXPECT_EQ(frm_.btnInstall.Caption(), "立刻重启");
  ASSERT_EQ(frm_.TipsInfo.Showing().size(), 1u);
  EXPECT_EQ(frm_.TipsInfo.Showing()[0].info, " 引导成功，10秒后重启系统进入Windows安装程序！");
  EXPECT_EQ(Read(sys_ + "\\Win10Data\\Config.ini"),
            "[Config]\r\nPlatform=X64\r\nExtractSize=5573967872\r\nKey=WINE-KEY\r\n");
  EXPECT_EQ(server_.StatQueries(),
            std::vector<std::string>{"type=1&mid=" + GetMachineId() + "&cliver=" + frm_.VerInfo.FileVersion()});
  EXPECT_EQ(Restarts(), 0);
  clock_.Advance(10000);
  Finish();
  EXPECT_EQ(Restarts(), 1);
}

TEST_F(InstallOnWine, WrongBootImageAsksForANewDownload) {
  Publish(GetFileSHA1(installImage_), "0123456789012345678901234567890123456789");
  EXPECT_FALSE(Run());
  EXPECT_EQ(frm_.lblInstallInfo.Caption(), "引导组件损坏，请重新下载！");
  EXPECT_EQ(frm_.btnInstall.Caption(), "重新下载");
  EXPECT_TRUE(plat::FileExists(installImage_));
  EXPECT_FALSE(plat::FileExists(bootImage_));
  EXPECT_FALSE(plat::FileExists(sys_ + "\\Win10Data\\Config.ini"));
  EXPECT_EQ(Restarts(), 0);
}


// What MakeBoot found, for a failure that a loaded machine shows now and then.
std::string MakeBootState() {
  std::ostringstream out;
  out << "work folder " << (plat::DirectoryExists(WorkFolder()) ? "present" : "missing") << "; record folder "
      << (plat::DirectoryExists(BootRecordFolder()) ? "present" : "missing")
      << (plat::IsAdminOnlyDir(BootRecordFolder()) ? ", admin-only" : ", not admin-only") << "; record "
      << (LoadBootRecord() ? "kept" : "none") << "; the editor says:\n"
      << RunAndCapture("\"" + WorkFolder() + "\\bcdedit.exe\" /enum {bootmgr} /v", WorkFolder());
  return out.str();
}

// "Corvaner.exe /undoboot" as its own process after an attempt of this one:
// the program built beside this test, started while another copy holds the
// single-instance mutex.
class UndoOnWine : public HandoffOnWine {
 protected:
  void SetUp() override {
    HandoffOnWine::SetUp();
    if (IsSkipped()) return;
    frm_.vDataDriver = sys_;  // Wine's machine has the one drive
  }
  void Make() {
    ASSERT_TRUE(frm_.MakeBoot(kTitle, 10)) << MakeBootState();
    ASSERT_TRUE(plat::ForceDirectories(sys_ + "\\Win10Data"));
    ASSERT_TRUE(plat::WriteProfileText(sys_ + "\\Win10Data\\Config.ini", "Config", "Platform", "X64"));
  }
  // The exit code of Corvaner.exe /undoboot; -1 when it did not end in time.
  int RunUndo() {
    std::string exe = std::string("Z:") + CORVANER_EXE;
    for (auto& c : exe)
      if (c == '/') c = '\\';
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, L"QL_CORVANE");
    std::wstring cmd = L"\"" + Widen(exe) + L"\" /undoboot";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    int code = -1;
    if (::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      DWORD exit = 0;
      if (::WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0 && ::GetExitCodeProcess(pi.hProcess, &exit))
        code = static_cast<int>(exit);
      ::CloseHandle(pi.hThread);
      ::CloseHandle(pi.hProcess);
    } else {
      ADD_FAILURE() << "cannot start " << exe;
    }
    if (mutex) ::CloseHandle(mutex);
    return code;
  }
};

TEST_F(UndoOnWine, BootStoreComesBackWhole) {
  RunAndCapture("\"" + Work("bcdedit.exe") + "\" /enum", WorkFolder());  // the stand-in's fresh store
  const nlohmann::json store = Store();
  Make();
  Make();
  ASSERT_TRUE(Store()["entries"].contains(kId));
  EXPECT_TRUE(plat::IsAdminOnlyDir(BootRecordFolder()));
  EXPECT_EQ(LoadBootRecord()->previousDefault, "{5f1c2a8e-3b7d-4c61-9a0e-2d4b6f8c1e37}");

  EXPECT_EQ(RunUndo(), 0);
  EXPECT_EQ(Store(), store);
  for (const char* name : {"\\qxldr", "\\qxldr.mbr", "\\Win10Data\\Config.ini"})
    EXPECT_FALSE(plat::FileExists(sys_ + name)) << name;
  EXPECT_FALSE(plat::DirectoryExists(BootRecordFolder()));
  // Nothing left to undo: nothing changes, and the answer is still 0.
  const std::string bytes = Read(store_);
  EXPECT_EQ(RunUndo(), 0);
  EXPECT_EQ(Read(store_), bytes);
}

TEST_F(UndoOnWine, BootIniComesBackByteForByteWithItsAttributes) {
  const std::string original = "[boot loader]\r\ntimeout=30\r\n[operating systems]\r\nC:\\WINDOWS=\"XP\"\r\n";
  ASSERT_TRUE(plat::WriteWholeFile(sys_ + "\\Boot.ini", original));
  const uint32_t rhs = plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem;
  plat::SetAttributes(sys_ + "\\Boot.ini", rhs);
  const uint32_t attrs = plat::FileAttributes(sys_ + "\\Boot.ini");
  Make();
  Make();
  ASSERT_NE(Read(sys_ + "\\Boot.ini"), original);
  EXPECT_EQ(RunUndo(), 0);
  EXPECT_EQ(Read(sys_ + "\\Boot.ini"), original);
  EXPECT_EQ(plat::FileAttributes(sys_ + "\\Boot.ini"), attrs);
  EXPECT_FALSE(plat::FileExists(sys_ + "\\Boot.ini.bak")) << "it was ours";
  EXPECT_FALSE(plat::FileExists(store_)) << "the editor did not run";
}

TEST_F(UndoOnWine, FailedStepGivesANonZeroExitAndTheRestIsUndone) {
  RunAndCapture("\"" + Work("bcdedit.exe") + "\" /enum", WorkFolder());
  Make();
  nlohmann::json changed = Store();
  changed["entries"].erase("{5f1c2a8e-3b7d-4c61-9a0e-2d4b6f8c1e37}");
  ASSERT_TRUE(plat::WriteWholeFile(store_, changed.dump(2)));
  EXPECT_NE(RunUndo(), 0);
  EXPECT_FALSE(Store()["entries"].contains(kId));
  EXPECT_FALSE(plat::FileExists(sys_ + "\\qxldr.mbr"));
  EXPECT_FALSE(plat::FileExists(sys_ + "\\Win10Data\\Config.ini"));
  EXPECT_TRUE(LoadBootRecord().has_value()) << "kept for the next try";
}

}  // namespace
}  // namespace corvane
