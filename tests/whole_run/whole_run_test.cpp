// One whole run on the simulated machine: the real window, every real stage
// (environment check, backup, download with our engine, hand-off with the
// payload's stand-in editor) against the loopback operator server, driven
// only by one press of "一键升级", the backup boxes and the auto mode. Time
// is the window's virtual clock, so the countdowns and waits cost nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/ui_thread.h"
#include "download/ServerUrl.h"
#include "inspection/environment_check.h"
#include "inspection/uCommon.h"
#include "platform/digest.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "shell/F_Main.h"
#include "shell/startup.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/no_host.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr int64_t kGiB = 1'073'741'824;
const char* const kBak = "D:\\WIN10DATA\\资料备份";
const char* const kHandoffFile = "D:\\Win10Data\\Config.ini";
const char* const kInstallImage = "D:\\Win10Data\\System\\Install.img";
const char* const kBootImage = "C:\\Boot\\Win8PE.iso";
const char* const kEntry = "{8ef5a46a-844e-42c0-82e7-9aed7ba9a7a1}";

using test::NoHost;

// Bytes that differ from one offset to the next.
std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

std::string HostText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Threads of this process right now.
int ThreadCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// Every file below a host folder: relative path -> content.
std::map<std::string, std::string> Tree(const fs::path& base) {
  std::map<std::string, std::string> out;
  if (!fs::exists(base)) return out;
  for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it)
    if (it->is_regular_file()) out[fs::relative(it->path(), base).string()] = HostText(it->path());
  return out;
}

class WholeRun : public test::SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    // A good 64-bit PC: Windows on C:, a roomy D:, the log on ("/D").
    const json wmi = {
        {"Processor", json::array({{{"MaxClockSpeed", 3400}, {"NumberOfCores", 4}, {"DataWidth", 64},
                                    {"Manufacturer", "GenuineIntel"}, {"ProcessorId", "BFEBFBFF000306A9"}}})},
        {"ComputerSystem", json::array({{{"TotalPhysicalMemory", 8 * kGiB}}})},
        {"LogicalDisk", json::array({{{"Caption", "C:"}, {"Size", 120 * kGiB}, {"FreeSpace", 60 * kGiB}},
                                     {{"Caption", "D:"}, {"Size", 200 * kGiB}, {"FreeSpace", 150 * kGiB}}})},
        {"DiskDrive", json::array({{{"SerialNumber", "WD-123"}}})}};
    Patch({{"drives", {{"C", 3}, {"D", 3}}}, {"wmi", wmi}, {"args", {"/D"}}});
    const fs::path cmd = Host("C:\\Windows") + "/System32/cmd.exe";
    fs::create_directories(cmd.parent_path());
    fs::copy_file(CMD_STANDIN, cmd);
    MakeFile("C:\\bootmgr", "boot manager");
    // Folders every Windows has: application data (the work folder goes in
    // it) and the temporary folder (the engine goes there).
    ASSERT_TRUE(plat::ForceDirectories(GetAppDataDir()));
    ASSERT_TRUE(plat::ForceDirectories(ExcludeTrailingBackslash(GetTempDir())));
    MakeUserFiles();

    // The operators' site: directory page, both editions, the images.
    site_ = test::MakeTempDir("site");
    server_ = std::make_unique<test::OpServer>(site_);
    install_ = Pattern(3 * 1024 * 1024 + 123, 1);
    boot_ = Pattern(300 * 1024, 2);
    Put("img/Install.img", install_);
    Put("img/Win8PE.iso", boot_);
    Put("probe.html", "<html>probe</html>");
    Put("directory.html", "<html><p>[QX]{\"server\":\"\",\"status\":\"ok\",\"msg\":\"\"}[/QX]</p></html>");
    Put("corvane/update.inf", "#version=7\r\n");
    for (const char* edition : {"x64", "x86"})
      Put(std::string("corvane/") + edition + ".ini",
          "[Config]\r\nesdurl=" + server_->Url("/img/Install.img") + "\r\nbooturl=" +
              server_->Url("/img/Win8PE.iso") + "\r\nExtractSize=5573967872\r\nKey=DEMO-" + edition +
              "\r\nEsdHash=" + Sha1(install_) + "\r\nBootHash=" + Sha1(boot_) + "\r\n");
    SetServerUrl(server_->Url("/corvane/"));
    SetDirectoryPageUrl(server_->Url("/directory.html"));
    savedProbe_ = ProbeUrl();
    SetProbeUrl(server_->Url("/probe.html"));

    SetMainUi(&ui_);
    frm_ = std::make_unique<TFrm_Main>(ui_, clock_, host_);
    frm_->form.Observe([this](Control* c, Control::Change ch) {
      Control* front = frm_->form.FrontPanel();
      if (front && (panels_.empty() || panels_.back() != front->Name())) panels_.push_back(front->Name());
      if (c == &frm_->btnInstall && ch == Control::Change::Caption && c->Caption() == "立刻重启")
        successAt_ = clock_.NowMs();
    });
  }
  void TearDown() override {
    if (frm_) {
      RunUntil([this] { return frm_->LiveWorkers() == 0; });
      frm_->FormDestroy();
      frm_.reset();
    }
    SetMainUi(nullptr);
    SetProbeUrl(savedProbe_);
    SetServerUrl(kDefaultServerUrl);
    SetDirectoryPageUrl(CORVANE_DIRECTORY_URL);
    server_.reset();
    std::error_code ec;
    fs::remove_all(site_, ec);
    SimMachineTest::TearDown();
  }

  void Put(const std::string& rel, const std::string& content) {
    const fs::path p = fs::path(site_) / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  static std::string Sha1(const std::string& data) {
    plat::Sha1 sha;
    sha.Update(data.data(), data.size());
    const auto d = sha.Final();
    return HexUpper(d.data(), d.size());
  }

  // The user's data: documents (with folders the backup leaves out and one
  // it keeps), favourites, the user's and the public desktop.
  void MakeUserFiles() {
    MakeFile("C:\\Users\\User\\Documents\\报告.docx", Pattern(70'000, 3));
    MakeFile("C:\\Users\\User\\Documents\\项目\\2015\\notes.txt", "notes");
    MakeFile("C:\\Users\\User\\Documents\\My Pictures\\photo.jpg", Pattern(40'000, 4));
    MakeFile("C:\\Users\\User\\Documents\\My Music\\song.mp3", Pattern(10'000, 5));
    MakeFile("C:\\Users\\User\\Favorites\\Links\\Corvane.url", "[InternetShortcut]\r\nURL=http://www.corvane.net/\r\n");
    MakeFile("C:\\Users\\User\\Desktop\\待办.txt", "待办");
    MakeFile("C:\\Users\\Public\\Desktop\\Shared.lnk", Pattern(2'000, 6));
  }

  // Runs the program until pred holds, as the Win32 view would: the
  // workers' hand-overs run on this thread, the timer is pumped after each
  // step of time, and the virtual time moves on only while every thread that
  // uses it sleeps on it (the stage's worker, the engine wrapper's poller)
  // or no worker runs at all (an auto-mode countdown). What runs in real
  // time (copies, hashing, the network) takes no virtual time. False after
  // three minutes of real time.
  bool RunUntil(const std::function<bool()>& pred) {
    const auto deadline = steady_clock::now() + std::chrono::minutes(3);
    while (!pred()) {
      NoteThreads();
      if (steady_clock::now() > deadline) return false;
      if (frm_->LiveWorkers() > 0) {
        // Give a second thread the chance to go to sleep too, so that time
        // never runs ahead of a pass that is due.
        const auto until = steady_clock::now() + milliseconds(5);
        while (clock_.Waiting() < 2 && steady_clock::now() < until && !pred()) ui_.WaitAndRun(1);
        if (pred()) break;
        if (clock_.Waiting() == 0) continue;
        clock_.Advance(std::clamp<int64_t>(clock_.UntilNextWake(), 1, 50));
      } else {
        clock_.Advance(50);
      }
      ui_.RunPending();
      frm_->Pump();
      NoteThreads();
    }
    ui_.RunPending();
    return true;
  }

  // The most threads seen while each panel was in front.
  void NoteThreads() {
    if (panels_.empty()) return;
    int& most = threads_[panels_.back()];
    most = std::max(most, ThreadCount());
  }

  static int Count(const std::vector<std::string>& lines, const std::string& what) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), what));
  }
  std::string LogText() { return HostText(Host("D:\\corvane.txt")); }

  test::VirtualClock clock_;
  TaskQueueUiThread ui_;
  NoHost host_;
  std::unique_ptr<TFrm_Main> frm_;
  std::string site_, savedProbe_;
  std::unique_ptr<test::OpServer> server_;
  std::string install_, boot_;
  std::vector<std::string> panels_;
  std::map<std::string, int> threads_;
  std::atomic<int64_t> successAt_{-1};
};

TEST_F(WholeRun, OnePressAndTheAutoModeCarryTheRunToTheRestart) {
  TFrm_Main& f = *frm_;
  const int64_t start = clock_.NowMs();
  f.FormCreate();
  ASSERT_TRUE(plat::FileExists(WorkFolder() + "\\qxldr.mbr")) << "the payload was not unpacked";
  f.btnStartClick();

  // The check passes and the auto mode brings the backup choice forward;
  // the user ticks every box during its countdown.
  ASSERT_TRUE(RunUntil([&] { return f.form.FrontPanel() == &f.PnlBackup; })) << LogText();
  EXPECT_EQ(f.vPlatform, "X64");
  EXPECT_EQ(f.vDataDriver, "D:");
  for (Control* box : {&f.chkBakMyDoc, &f.chkBakIEFav, &f.chkBakDesktop, &f.chkBakADSL}) box->SetChecked(true);

  // From here on nothing is pressed until the restart.
  ASSERT_TRUE(RunUntil([] {
    const auto e = plat::sim::Events();
    return std::find(e.begin(), e.end(), "restart") != e.end();
  })) << "no restart; the panel reads: " << f.lblInstallInfo.Caption() << " / " << f.lblDownLoadInfo.Caption()
      << "\n" << LogText();
  ASSERT_TRUE(RunUntil([&] { return f.LiveWorkers() == 0; }));

  // For the record: threads of the test's process at each step (the test's
  // own thread and the workers, the engine's and the runner's threads).
  for (const auto& p : panels_) std::cout << "threads at most while " << p << " was in front: " << threads_[p] << "\n";
  EXPECT_EQ(panels_, (std::vector<std::string>{"PnlHome", "PnlCheckProgress", "PnlCheckHrd", "PnlBackup",
                                                "PnlBackupInfo", "PnlDownload", "PnlInstall"}));
  EXPECT_EQ(f.lblInstallInfo.Caption(), "恭喜您，即将进入Windows10引导程序！");
  EXPECT_EQ(f.btnInstall.Caption(), "立刻重启");
  // Two countdowns of eleven seconds, the backup's pauses and the ten
  // seconds' wait all passed on the virtual clock.
  ASSERT_GE(successAt_, 0);
  EXPECT_GE(clock_.NowMs() - successAt_, 10'000);
  EXPECT_GE(clock_.NowMs() - start, 32'000);

  // The images as served, the hand-off file as the installer reads it.
  std::string got;
  ASSERT_TRUE(plat::ReadWholeFile(kInstallImage, got));
  EXPECT_TRUE(got == install_) << "the install image differs from the served one";
  ASSERT_TRUE(plat::ReadWholeFile(kBootImage, got));
  EXPECT_TRUE(got == boot_) << "the boot image differs from the served one";
  ASSERT_TRUE(plat::ReadWholeFile(kHandoffFile, got));
  EXPECT_EQ(got, "[Config]\r\nPlatform=X64\r\nExtractSize=5573967872\r\nKey=DEMO-x64\r\n");

  // The boot store: our entry, a boot sector on the boot device starting
  // \qxldr.mbr, the default, last in the display order, ten seconds.
  const json store = json::parse(HostText(Host(WorkFolder() + "\\bcdstore.json")));
  const json& entries = store["entries"];
  ASSERT_TRUE(entries.contains(kEntry)) << store.dump(2);
  const json& ours = entries[kEntry];
  EXPECT_EQ(ours["type"], "bootsector") << ours.dump();
  EXPECT_EQ(ours["elements"]["description"], "升级到Windows10系统");
  EXPECT_EQ(ours["elements"]["device"], "boot");
  EXPECT_EQ(ours["elements"]["path"], "\\qxldr.mbr");
  const json& mgr = entries["{9dea862c-5cdd-4e70-acc1-f32b344d4795}"]["elements"];
  EXPECT_EQ(mgr["default"], kEntry);
  EXPECT_EQ(mgr["timeout"], "10") << mgr.dump();
  ASSERT_TRUE(mgr["displayorder"].is_array());
  EXPECT_EQ(mgr["displayorder"].back(), kEntry);

  // The loader pair at the root of C:, the payload's own bytes, hidden and
  // system.
  for (const char* name : {"qxldr", "qxldr.mbr"}) {
    const std::string root = std::string("C:\\") + name;
    std::string placed, carried;
    ASSERT_TRUE(plat::ReadWholeFile(root, placed)) << root;
    ASSERT_TRUE(plat::ReadWholeFile(WorkFolder() + "\\" + name, carried));
    EXPECT_TRUE(placed == carried) << root << " is not the payload's file";
    EXPECT_GT(placed.size(), 512u) << root;
    const uint32_t attrs = plat::FileAttributes(root);
    EXPECT_EQ(attrs & (plat::kAttrHidden | plat::kAttrSystem), plat::kAttrHidden | plat::kAttrSystem)
        << root << " attributes " << attrs;
  }

  // The backup tree holds the sources, byte for byte; the documents' music
  // folder is left out, their pictures are not.
  auto docs = Tree(Host("C:\\Users\\User\\Documents"));
  ASSERT_EQ(docs.erase("My Music/song.mp3"), 1u);
  EXPECT_EQ(Tree(Host(std::string(kBak) + "\\我的文档")), docs);
  EXPECT_EQ(Tree(Host(std::string(kBak) + "\\收藏夹")), Tree(Host("C:\\Users\\User\\Favorites")));
  EXPECT_EQ(Tree(Host(std::string(kBak) + "\\个人桌面")), Tree(Host("C:\\Users\\User\\Desktop")));
  EXPECT_EQ(Tree(Host(std::string(kBak) + "\\公共桌面")), Tree(Host("C:\\Users\\Public\\Desktop")));
  EXPECT_EQ(docs.size(), 3u);

  // What the machine was asked to do, in order: stay awake, one firewall
  // entry for the engine per image, one restart, and the backup's worker
  // ending only after it.
  std::vector<std::string> actions, lines;
  for (const auto& e : plat::sim::Events()) {
    if (e.rfind("debug ", 0) == 0) {
      lines.push_back(e.substr(6));
      if (e.find("备份线程") != std::string::npos) actions.push_back("backup worker ended");
      continue;
    }
    actions.push_back(e.substr(0, e.find(' ', e.find(' ') + 1)));
  }
  EXPECT_EQ(actions, (std::vector<std::string>{"screensaver off", "execution state", "firewall add", "firewall remove",
                                                "firewall add", "firewall remove", "restart",
                                                "backup worker ended"}));
  EXPECT_EQ(Count(plat::sim::Events(), "restart"), 1);
  const std::string log = LogText();
  EXPECT_EQ(log.find("Error:"), std::string::npos) << log;

  // Usage events: the start-up one from the silent update check, then the
  // installation event once.
  const auto stats = server_->StatQueries();
  ASSERT_FALSE(stats.empty());
  EXPECT_EQ(stats.back(), "type=1&mid=" + GetMachineId() + "&cliver=" + f.VerInfo.FileVersion());
  EXPECT_EQ(std::count_if(stats.begin(), stats.end(), [](const std::string& s) { return s.rfind("type=1&", 0) == 0; }),
            1);
}

}  // namespace
}  // namespace corvane
