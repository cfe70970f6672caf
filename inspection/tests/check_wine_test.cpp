// The environment check on Wine's own machine: real WMI, drives and
// processes, the stand-in boot editor in the real work folder, the probe page
// on the loopback operator server that tests/wine/with-opserver starts.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/text.h"
#include "common/ui_thread.h"
#include "inspection/environment_check.h"
#include "inspection/uCommon.h"
#include "shell/F_Main.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/no_host.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

using test::NoHost;

std::string WinePath(std::string host) {
  if (!host.empty() && host[0] == '/') host = "Z:" + host;
  for (auto& c : host)
    if (c == '/') c = '\\';
  return host;
}

class CheckOnWine : public ::testing::Test {
 protected:
  void SetUp() override {
    workDir_ = fs::path(Widen(GetAppDataDir() + "\\Corvane"));
    hadWorkDir_ = fs::exists(workDir_);
    fs::create_directories(workDir_);
    fs::copy_file(fs::path(Widen(WinePath(BCDEDIT_STANDIN))), workDir_ / L"bcdedit.exe",
                  fs::copy_options::overwrite_existing);
    // A store of the test's own, so that a real work folder keeps its own.
    store_ = Narrow(fs::path(Widen(test::MakeTempDir("bcd"))) .wstring()) + "\\BCD.json";
    ::SetEnvironmentVariableW(L"CORVANE_BCD_STORE", Widen(store_).c_str());
    savedProbe_ = ProbeUrl();
    if (const char* url = std::getenv("CORVANE_OPSERVER_URL")) {
      std::ofstream(fs::path(Widen(std::getenv("CORVANE_OPSERVER_ROOT"))) / L"probe.html") << "<html></html>";
      SetProbeUrl(std::string(url) + "/probe.html");
    }
  }
  void TearDown() override {
    SetProbeUrl(savedProbe_);
    ::SetEnvironmentVariableW(L"CORVANE_BCD_STORE", nullptr);
    ::SetEnvironmentVariableW(L"CORVANE_BCD_FIRMWARE", nullptr);
    std::error_code ec;
    if (hadWorkDir_) fs::remove(workDir_ / L"bcdedit.exe", ec);
    else fs::remove_all(workDir_, ec);
    fs::remove_all(fs::path(Widen(store_)).parent_path(), ec);
  }
  void Firmware(const wchar_t* kind) {
    std::error_code ec;
    fs::remove(fs::path(Widen(store_)), ec);
    ::SetEnvironmentVariableW(L"CORVANE_BCD_FIRMWARE", kind);
  }

  // One whole check, headless, its pauses skipped on the virtual clock.
  void RunCheck(TFrm_Main& f, test::VirtualClock& clock, TaskQueueUiThread& ui) {
    f.btnStart.Click();
    for (int i = 0; i < 60000 && f.LiveWorkers() > 0; ++i) {
      ui.WaitAndRun(1);
      if (clock.Sleepers() > 0) clock.Advance(800);
    }
    ASSERT_EQ(f.LiveWorkers(), 0);
    ui.RunPending();
  }

  fs::path workDir_;
  bool hadWorkDir_ = false;
  std::string store_, savedProbe_;
};

TEST_F(CheckOnWine, BootEntryTestRunsTheWorkFoldersEditor) {
  Firmware(L"bios");
  EXPECT_TRUE(CheckBootEntry());
  Firmware(L"uefi");
  EXPECT_FALSE(CheckBootEntry());
  fs::remove(workDir_ / L"bcdedit.exe");
  EXPECT_FALSE(CheckBootEntry());
}

TEST_F(CheckOnWine, DataDriveIsAFixedDiskOtherThanTheSystemDrive) {
  const std::string sys = GetWinDir().substr(0, 2);
  const std::string d = ChooseDataDrive(sys);
  if (d.empty()) GTEST_SKIP() << "no second fixed disk with room on this prefix";
  EXPECT_NE(UpperAscii(d), UpperAscii(sys));
  EXPECT_EQ(::GetDriveTypeW(Widen(d + "\\").c_str()), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_GE(GetDriveFreeSize(d), kMinDataDriveFreeBytes);
}

TEST_F(CheckOnWine, AWholeCheckOnWinesMachine) {
  if (!std::getenv("CORVANE_OPSERVER_URL")) GTEST_SKIP() << "no operator server";
  test::VirtualClock clock;
  TaskQueueUiThread ui;
  NoHost host;
  TFrm_Main f(ui, clock, host);

  Firmware(L"bios");
  RunCheck(f, clock, ui);
  EXPECT_EQ(f.form.FrontPanel(), &f.PnlCheckHrd);
  EXPECT_EQ(f.lbl_PnlCheckHrd_NetState.Caption(), "网络正常");
  EXPECT_NE(f.lbl_PnlCheckHrd_SysDiskSizeState.Caption(), "不支持的硬盘分区格式");
  EXPECT_EQ(f.lbl_PnlCheckHrd_CPUState.Caption(),
            ProcessorLine(GetWmiValue("Processor", "Manufacturer"), std::stoi(GetWmiValue("Processor", "DataWidth")),
                          std::stoi(GetWmiValue("Processor", "NumberOfCores")),
                          std::stoi(GetWmiValue("Processor", "MaxClockSpeed")))
                .text);
  // The verdict agrees with the five pictures.
  bool all = true;
  for (Control* p : {&f.Pnl_PnlCheckHrd_CPUState, &f.Pnl_PnlCheckHrd_MemState, &f.Pnl_PnlCheckHrd_SysDiskSizeState,
                     &f.Pnl_PnlCheckHrd_NetState, &f.Pnl_PnlCheckHrd_DownDiskSizeState}) {
    EXPECT_TRUE(p->Picture() == "PASS" || p->Picture() == "UNPASS") << p->Name();
    all = all && p->Picture() == "PASS";
  }
  EXPECT_EQ(f.btnCheck2Next.Caption(), all ? "下一步" : "重新检测");
  EXPECT_EQ(f.vPlatform.empty(), !all);
  std::printf("Wine's machine: %s | %s | %s | %s | %s -> %s %s\n", f.lbl_PnlCheckHrd_CPUState.Caption().c_str(),
              f.lbl_PnlCheckHrd_MemState.Caption().c_str(), f.lbl_PnlCheckHrd_SysDiskSizeState.Caption().c_str(),
              f.lbl_PnlCheckHrd_NetState.Caption().c_str(), f.lbl_PnlCheckHrd_DownDiskSizeState.Caption().c_str(),
              f.btnCheck2Next.Caption().c_str(), f.vPlatform.c_str());

  // Started through UEFI the same machine fails on the disk line.
  Firmware(L"uefi");
  RunCheck(f, clock, ui);
  EXPECT_EQ(f.lbl_PnlCheckHrd_SysDiskSizeState.Caption(), "不支持的硬盘分区格式");
  EXPECT_EQ(f.btnCheck2Next.Caption(), "重新检测");
  EXPECT_EQ(f.Pnl_PnlCheckHrd_Logo.Picture(), "FAIL");
}

}  // namespace
}  // namespace corvane
