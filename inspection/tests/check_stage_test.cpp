// The whole environment check on the simulated machine: started by the start
// button, its worker measuring the machine (WMI from the profile, the
// stand-in boot editor in the work folder, the probe page on a loopback
// server), its screen steps run on the test's UI thread and its pauses on the
// virtual clock.
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/ui_thread.h"
#include "inspection/environment_check.h"
#include "shell/F_Main.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/no_host.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int64_t kGiB = 1'073'741'824;

using test::NoHost;

// What the progress panel said while the worker paused, and how long each
// pause took on the virtual clock.
struct Pause {
  std::string progressText;
  std::string sysDiskText;
  int64_t ms;
};

class CheckStageTest : public test::SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    probeRoot_ = test::MakeTempDir("probe");
    std::ofstream(probeRoot_ + "/index.html") << "<html></html>";
    probe_ = std::make_unique<test::OpServer>(probeRoot_);
    savedProbe_ = ProbeUrl();
    SetProbeUrl(probe_->Url("/index.html"));
    // A good 64-bit PC: C: holds Windows, D: has room.
    wmi_ = {{"Processor",
             json::array({{{"MaxClockSpeed", 3400}, {"NumberOfCores", 4}, {"DataWidth", 64},
                           {"Manufacturer", "GenuineIntel"}}})},
            {"ComputerSystem", json::array({{{"TotalPhysicalMemory", 8 * kGiB}}})},
            {"LogicalDisk", json::array({Disk("C:", 120 * kGiB, 60 * kGiB), Disk("D:", 200 * kGiB, 112'785'841'193)})}};
    Patch({{"drives", {{"C", 3}, {"D", 3}}}, {"wmi", wmi_}, {"args", {"/D"}}});
    const fs::path editor = Host("C:\\Users\\User\\AppData\\Roaming\\Corvane\\bcdedit.exe");
    fs::create_directories(editor.parent_path());
    fs::copy_file(BCDEDIT_STANDIN, editor, fs::copy_options::overwrite_existing);
    bcdStore_ = editor.parent_path() / "bcdstore.json";
    frm_ = std::make_unique<TFrm_Main>(ui_, clock_, host_);
  }
  void TearDown() override {
    SetProbeUrl(savedProbe_);
    probe_.reset();
    std::error_code ec;
    fs::remove_all(probeRoot_, ec);
    SimMachineTest::TearDown();
  }

  static json Disk(const std::string& caption, int64_t size, int64_t free) {
    return {{"Caption", caption}, {"Size", size}, {"FreeSpace", free}};
  }
  void Wmi(const std::string& cls, const std::string& prop, const json& value) {
    wmi_[cls][0][prop] = value;
    Patch({{"wmi", wmi_}});
  }
  void UefiMachine() {
    std::ofstream(bcdStore_) << R"({"firmware":"uefi","current":"{aaaaaaaa-0000-0000-0000-000000000001}",
      "entries":{"{aaaaaaaa-0000-0000-0000-000000000001}":{"type":"osloader",
      "elements":{"path":"\\Windows\\system32\\winload.efi"}}}})";
  }

  // Presses the start button (or the re-check button) and runs the UI
  // thread until the worker has ended, moving the virtual clock on whenever
  // the worker pauses.
  std::vector<Pause> Run(Control* button = nullptr) {
    (button ? *button : frm_->btnStart).Click();
    std::vector<Pause> pauses;
    for (int i = 0; i < 30000 && frm_->LiveWorkers() > 0; ++i) {
      ui_.WaitAndRun(1);
      if (clock_.Sleepers() == 0) continue;
      Pause p{frm_->lbl_PnlCheckProgress_Info.Caption(), frm_->lbl_PnlCheckHrd_SysDiskSizeState.Caption(), 0};
      // One millisecond short of its pause the worker must still sleep;
      // after that it wakes at the first millisecond that ends it.
      clock_.Advance(799);
      p.ms = 799;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      while (clock_.Sleepers() > 0 && p.ms < 5000) {
        clock_.Advance(1);
        ++p.ms;
        for (int k = 0; k < 2000 && clock_.Sleepers() > 0; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      pauses.push_back(p);
    }
    EXPECT_EQ(frm_->LiveWorkers(), 0) << "the check did not end";
    ui_.RunPending();
    return pauses;
  }

  // Text and picture of a result line.
  std::pair<std::string, std::string> Line(Control& label, Control& picture) const {
    return {label.Caption(), picture.Picture()};
  }
  std::string LogText() {
    std::ifstream in(Host("D:\\corvane.txt"));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void ExpectFailedVerdict() {
    TFrm_Main& f = *frm_;
    EXPECT_EQ(f.form.FrontPanel(), &f.PnlCheckHrd);
    EXPECT_EQ(f.btnCheck2Next.Caption(), "重新检测");
    EXPECT_EQ(f.Pnl_PnlCheckHrd_Logo.Picture(), "FAIL");
    EXPECT_EQ(f.lbl_PnlCheckHrd_Title1.Caption(), "您的计算机达不到Win10最低配置。");
    EXPECT_FALSE(f.tmrAuto.Enabled());
  }

  test::VirtualClock clock_;
  TaskQueueUiThread ui_;
  NoHost host_;
  std::unique_ptr<TFrm_Main> frm_;
  json wmi_;
  fs::path bcdStore_;
  std::string probeRoot_, savedProbe_;
  std::unique_ptr<test::OpServer> probe_;
};

TEST_F(CheckStageTest, AGoodMachinePassesWithTheTextsAndPausesInOrder) {
  TFrm_Main& f = *frm_;
  const std::vector<Pause> pauses = Run();
  ASSERT_EQ(pauses.size(), 2u);
  EXPECT_EQ(pauses[0].progressText, "获取物理内存数据中...");
  EXPECT_EQ(pauses[0].ms, 800);
  EXPECT_EQ(pauses[1].progressText, "正在分析系统磁盘空间...");
  EXPECT_EQ(pauses[1].ms, 800);
  EXPECT_EQ(f.lbl_PnlCheckProgress_Info.Caption(), "正在检测网络连通情况...");

  EXPECT_EQ(f.form.FrontPanel(), &f.PnlCheckHrd);
  EXPECT_EQ(Line(f.lbl_PnlCheckHrd_CPUState, f.Pnl_PnlCheckHrd_CPUState),
            std::make_pair(std::string("英特尔 64位 4核@3.40GHz"), std::string("PASS")));
  EXPECT_EQ(Line(f.lbl_PnlCheckHrd_MemState, f.Pnl_PnlCheckHrd_MemState),
            std::make_pair(std::string("8.00GB"), std::string("PASS")));
  EXPECT_EQ(Line(f.lbl_PnlCheckHrd_SysDiskSizeState, f.Pnl_PnlCheckHrd_SysDiskSizeState),
            std::make_pair(std::string("120.00GB"), std::string("PASS")));
  EXPECT_EQ(Line(f.lbl_PnlCheckHrd_NetState, f.Pnl_PnlCheckHrd_NetState),
            std::make_pair(std::string("网络正常"), std::string("PASS")));
  EXPECT_EQ(Line(f.lbl_PnlCheckHrd_DownDiskSizeState, f.Pnl_PnlCheckHrd_DownDiskSizeState),
            std::make_pair(std::string("D:(剩余：105.04GB)"), std::string("PASS")));

  EXPECT_EQ(f.btnCheck2Next.Caption(), "下一步");
  EXPECT_EQ(f.Pnl_PnlCheckHrd_Logo.Picture(), "OK");
  EXPECT_EQ(f.lbl_PnlCheckHrd_Title1.Caption(), "您的计算机适合安装64位Win10。");
  EXPECT_EQ(f.vPlatform, "X64");
  EXPECT_EQ(f.vDataDriver, "D:");
  EXPECT_EQ(f.vStep, TStep::Check);
  // Auto mode is on: the countdown is armed on the result's button.
  EXPECT_EQ(f.vTimeout, 10);
  EXPECT_TRUE(f.tmrAuto.Enabled());
  EXPECT_EQ(LogText().find("Thrd_CheckHardware Error:"), std::string::npos);
}

TEST_F(CheckStageTest, EditionBoundaries) {
  struct Case {
    int mhz;
    int64_t memory;
    int width;
    const char* edition;
  } cases[] = {
      {2047, 4 * kGiB, 64, "X64"},
      {2046, 4 * kGiB, 64, "X86"},
      {2047, 3'000'000'000, 64, "X86"},
      {2047, 3'000'000'001, 64, "X64"},
      {3400, 4 * kGiB, 32, "X86"},
  };
  for (const auto& c : cases) {
    Wmi("Processor", "MaxClockSpeed", c.mhz);
    Wmi("Processor", "DataWidth", c.width);
    Wmi("ComputerSystem", "TotalPhysicalMemory", c.memory);
    Run(&frm_->btnStart);
    EXPECT_EQ(frm_->vPlatform, c.edition) << c.mhz << " MHz, " << c.memory << " bytes";
    EXPECT_EQ(frm_->lbl_PnlCheckHrd_Title1.Caption(),
              std::string(c.edition) == "X64" ? "您的计算机适合安装64位Win10。" : "您的计算机适合安装32位Win10。");
  }
}

TEST_F(CheckStageTest, VendorFormatsAndMinimumsPassAtTheirLimits) {
  TFrm_Main& f = *frm_;
  Wmi("Processor", "Manufacturer", "AuthenticAMD");
  Wmi("Processor", "NumberOfCores", 2);
  Wmi("Processor", "MaxClockSpeed", 2047);
  Wmi("ComputerSystem", "TotalPhysicalMemory", kGiB);
  wmi_["LogicalDisk"][0] = Disk("C:", 20 * kGiB + 1, kGiB);
  wmi_["LogicalDisk"][1] = Disk("D:", 100 * kGiB, 5'294'967'296);
  Patch({{"wmi", wmi_}});
  Run();
  EXPECT_EQ(f.lbl_PnlCheckHrd_CPUState.Caption(), "AMD 64位 2核@2.05GHz");
  EXPECT_EQ(f.lbl_PnlCheckHrd_MemState.Caption(), "1024.00MB");
  EXPECT_EQ(f.lbl_PnlCheckHrd_SysDiskSizeState.Caption(), "20.00GB");
  EXPECT_EQ(f.lbl_PnlCheckHrd_DownDiskSizeState.Caption(), "D:(剩余：4.93GB)");
  EXPECT_EQ(f.btnCheck2Next.Caption(), "下一步");
  EXPECT_EQ(f.vPlatform, "X86");

  Wmi("Processor", "Manufacturer", "intel");  // letter case counts
  Run(&f.btnStart);
  EXPECT_EQ(f.lbl_PnlCheckHrd_CPUState.Caption(), "64位 2核@2.05GHz");
}

TEST_F(CheckStageTest, EachFailingItemFailsTheCheckAndKeepsTheEdition) {
  TFrm_Main& f = *frm_;
  struct Case {
    const char* what;
    std::function<void()> arrange;
    Control* label;
    Control* picture;
    const char* text;
  } cases[] = {
      {"one core", [&] { Wmi("Processor", "NumberOfCores", 1); }, &f.lbl_PnlCheckHrd_CPUState,
       &f.Pnl_PnlCheckHrd_CPUState, "英特尔 64位 1核@3.40GHz"},
      {"memory one byte short", [&] { Wmi("ComputerSystem", "TotalPhysicalMemory", kGiB - 1); },
       &f.lbl_PnlCheckHrd_MemState, &f.Pnl_PnlCheckHrd_MemState, "1024.00MB(至少1G)"},
      {"system disk of exactly 20 GiB",
       [&] {
         wmi_["LogicalDisk"][0] = Disk("C:", 20 * kGiB, kGiB);
         Patch({{"wmi", wmi_}});
       },
       &f.lbl_PnlCheckHrd_SysDiskSizeState, &f.Pnl_PnlCheckHrd_SysDiskSizeState, "20.00GB(至少20G)"},
      {"unknown system disk size",
       [&] {
         wmi_["LogicalDisk"].erase(0);
         Patch({{"wmi", wmi_}});
       },
       &f.lbl_PnlCheckHrd_SysDiskSizeState, &f.Pnl_PnlCheckHrd_SysDiskSizeState, "未知容量(至少20G)"},
      {"UEFI start", [&] { UefiMachine(); }, &f.lbl_PnlCheckHrd_SysDiskSizeState,
       &f.Pnl_PnlCheckHrd_SysDiskSizeState, "不支持的硬盘分区格式"},
      {"data drive one byte short",
       [&] {
         wmi_["LogicalDisk"][1] = Disk("D:", 100 * kGiB, 5'294'967'295);
         Patch({{"wmi", wmi_}});
       },
       &f.lbl_PnlCheckHrd_DownDiskSizeState, &f.Pnl_PnlCheckHrd_DownDiskSizeState, "剩余空间不足"},
      {"no network", [&] { SetProbeUrl("http://127.0.0.1:1/"); }, &f.lbl_PnlCheckHrd_NetState,
       &f.Pnl_PnlCheckHrd_NetState, "网络不通"},
  };
  const json good = wmi_;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A passing run first, so that the failing one has an edition to keep.
    wmi_ = good;
    Patch({{"wmi", wmi_}});
    fs::remove(bcdStore_);
    SetProbeUrl(probe_->Url("/index.html"));
    Run(&f.btnStart);
    ASSERT_EQ(f.vPlatform, "X64");
    f.vStep = TStep::Home;
    f.tmrAuto.SetEnabled(false, clock_.NowMs());

    c.arrange();
    Run(&f.btnStart);
    EXPECT_EQ(c.label->Caption(), c.text);
    EXPECT_EQ(c.picture->Picture(), "UNPASS");
    ExpectFailedVerdict();
    EXPECT_EQ(f.vPlatform, "X64");
    EXPECT_EQ(f.vStep, TStep::Home);
  }
}

TEST_F(CheckStageTest, OneCoreLeavesTheFirstProgressTextUntilTheMemoryStep) {
  Wmi("Processor", "NumberOfCores", 1);
  const std::vector<Pause> pauses = Run();
  ASSERT_EQ(pauses.size(), 2u);
  EXPECT_EQ(pauses[0].progressText, "正在评估CPU相关数据...");
  ExpectFailedVerdict();
}

TEST_F(CheckStageTest, TheFirstSystemDiskTextComesBeforeTheBootTest) {
  const std::vector<Pause> good = Run();
  ASSERT_EQ(good.size(), 2u);
  EXPECT_EQ(good[1].sysDiskText, "120.00GB");

  wmi_["LogicalDisk"].erase(0);  // no size for C:
  Patch({{"wmi", wmi_}});
  const std::vector<Pause> unknown = Run(&frm_->btnStart);
  ASSERT_EQ(unknown.size(), 2u);
  EXPECT_EQ(unknown[1].sysDiskText, "未知容量");
  EXPECT_EQ(frm_->lbl_PnlCheckHrd_SysDiskSizeState.Caption(), "未知容量(至少20G)");
}

TEST_F(CheckStageTest, AHandOffFileOnALaterDriveWinsOverSpace) {
  Patch({{"drives", {{"C", 3}, {"D", 3}, {"E", 3}}}});
  wmi_["LogicalDisk"].push_back(Disk("E:", 10 * kGiB, 1000));
  Patch({{"wmi", wmi_}});
  MakeFile("E:\\WIN10DATA\\Config.ini", "[Config]\r\n");
  Run();
  EXPECT_EQ(frm_->vDataDriver, "E:");
  EXPECT_EQ(frm_->lbl_PnlCheckHrd_DownDiskSizeState.Caption(), "E:(剩余：1000.00B)");
}

TEST_F(CheckStageTest, ErrorsStopTheRunWithTheLogLine) {
  TFrm_Main& f = *frm_;
  f.vDataDriver = "Q:";
  f.vPlatform = "X86";

  Wmi("Processor", "NumberOfCores", nullptr);  // WMI without the value
  EXPECT_TRUE(Run().empty());
  EXPECT_EQ(f.form.FrontPanel(), &f.PnlCheckProgress);
  EXPECT_EQ(f.lbl_PnlCheckProgress_Info.Caption(), "正在评估CPU相关数据...");
  EXPECT_EQ(f.lbl_PnlCheckHrd_CPUState.Caption(), "");
  EXPECT_NE(LogText().find("]Thrd_CheckHardware Error:'' is not a valid integer value\r\n"), std::string::npos)
      << LogText();
  EXPECT_EQ(f.vDataDriver, "Q:");
  EXPECT_EQ(f.vPlatform, "X86");
  EXPECT_EQ(f.vStep, TStep::Home);
  EXPECT_FALSE(f.tmrAuto.Enabled());

  // Memory that is no number: the processor line is shown, then the run stops.
  Wmi("Processor", "NumberOfCores", 4);
  Wmi("ComputerSystem", "TotalPhysicalMemory", "lots");
  EXPECT_TRUE(Run().empty());
  EXPECT_EQ(f.lbl_PnlCheckHrd_CPUState.Caption(), "英特尔 64位 4核@3.40GHz");
  EXPECT_EQ(f.lbl_PnlCheckProgress_Info.Caption(), "获取物理内存数据中...");
  EXPECT_NE(LogText().find("Thrd_CheckHardware Error:'lots' is not a valid integer value"), std::string::npos);

  // No working WMI at all.
  Patch({{"wmi", nullptr}});
  EXPECT_TRUE(Run().empty());
  EXPECT_EQ(f.form.FrontPanel(), &f.PnlCheckProgress);
  EXPECT_EQ(f.vDataDriver, "Q:");
  EXPECT_EQ(f.vPlatform, "X86");
}

TEST_F(CheckStageTest, ARecheckRewritesEveryLineAndManualModeArmsNothing) {
  TFrm_Main& f = *frm_;
  const json good = wmi_;
  wmi_["LogicalDisk"][1] = Disk("D:", 100 * kGiB, 10);
  Wmi("ComputerSystem", "TotalPhysicalMemory", 512 * 1024 * 1024);
  Run();
  ExpectFailedVerdict();
  EXPECT_EQ(f.vDataDriver, "");
  EXPECT_EQ(f.Pnl_PnlCheckHrd_MemState.Picture(), "UNPASS");
  EXPECT_EQ(f.Pnl_PnlCheckHrd_DownDiskSizeState.Picture(), "UNPASS");

  f.swBtnAuto.SetChecked(false);
  f.vTimeout = 3;
  wmi_ = good;
  Patch({{"wmi", wmi_}});
  Run(&f.btnCheck2Next);  // "重新检测" runs the check again
  EXPECT_EQ(f.btnCheck2Next.Caption(), "下一步");
  EXPECT_EQ(f.Pnl_PnlCheckHrd_MemState.Picture(), "PASS");
  EXPECT_EQ(f.lbl_PnlCheckHrd_MemState.Caption(), "8.00GB");
  EXPECT_EQ(f.Pnl_PnlCheckHrd_DownDiskSizeState.Picture(), "PASS");
  EXPECT_EQ(f.vDataDriver, "D:");
  EXPECT_EQ(f.vStep, TStep::Check);
  EXPECT_EQ(f.vTimeout, 3);  // no countdown without the auto switch
  EXPECT_FALSE(f.tmrAuto.Enabled());
}

}  // namespace
}  // namespace corvane
