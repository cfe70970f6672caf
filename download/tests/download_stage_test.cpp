// The download stage on the simulated machine: our engine from the program's
// resources against the loopback operator server and its faults, the
// window's virtual clock for the 500 ms display steps and the engine
// wrapper's polls, the panel and the taskbar button as the user sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/ui_thread.h"
#include "download/DownloadDisplay.h"
#include "download/ServerUrl.h"
#include "inspection/uCommon.h"
#include "platform/digest.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "shell/tests/window_fixture.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"

namespace corvane {
namespace {

using TaskbarState = FormHost::TaskbarState;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

const char* const kInstall = "D:\\Win10Data\\System\\Install.img";
const char* const kBoot = "C:\\Boot\\Win8PE.iso";

// Bytes that differ from one offset to the next, so that a misplaced range
// shows.
std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

// A virtual clock that knows which of its sleepers still wait for their
// time: a thread whose time has come stops counting at once, before it has
// even run again, so a test can move the time on only once every thread
// has finished its pass and gone back to sleep.
class StageClock final : public Clock {
 public:
  int64_t NowMs() override {
    std::lock_guard<std::mutex> g(mu_);
    return now_;
  }
  void SleepMs(int64_t ms) override {
    std::unique_lock<std::mutex> lk(mu_);
    const auto mine = wakes_.insert(now_ + std::max<int64_t>(ms, 0));
    cv_.wait(lk, [&] { return now_ >= *mine; });
    wakes_.erase(mine);
  }
  void Advance(int64_t ms) {
    {
      std::lock_guard<std::mutex> g(mu_);
      now_ += ms;
    }
    cv_.notify_all();
  }
  // Threads asleep whose time has not come yet.
  int Waiting() {
    std::lock_guard<std::mutex> g(mu_);
    return static_cast<int>(std::distance(wakes_.upper_bound(now_), wakes_.end()));
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int64_t now_ = 1'000'000;
  std::multiset<int64_t> wakes_;
};

class DownloadStage : public test::SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    Patch({{"drives", {{"C", 3}, {"D", 3}}}, {"args", {"/D"}}});
    ::setenv("CORVANE_XLDL_RETRY_MS", "10", 1);  // a hopeless download gives up at once
    plat::ForceDirectories(GetTempDir());
    SetMainUi(&ui);
    SetServerUrl(server.Url("/corvane/"));
    frm.vPlatform = "X64";
    frm.vDataDriver = "D:";
    // The three ways in all end in Thrd_Download on a worker of its own,
    // which goes on to the hand-off on the same worker.
    frm.body = [this](Stage s) {
      if (s == Stage::Download || s == Stage::Backup) frm.Thrd_Download();
      if (s == Stage::Install) frm.Thrd_Install();
    };
    frm.form.Observe([this](Control* c, Control::Change ch) {
      if (c == &frm.lblDownLoadInfo && ch == Control::Change::Caption)
        labels.push_back({clock.NowMs(), c->Caption()});
    });
  }
  void TearDown() override {
    RunUntil([this] { return frm.LiveWorkers() == 0; });
    EXPECT_EQ(frm.LiveWorkers(), 0) << "a worker did not end";
    SetMainUi(nullptr);
    SetServerUrl(kDefaultServerUrl);
    SimMachineTest::TearDown();
  }

  static std::string Sha1Hex(const std::string& data) {
    plat::Sha1 sha;
    sha.Update(data.data(), data.size());
    const auto d = sha.Final();
    return HexUpper(d.data(), d.size());
  }
  // The two images on the server and a configuration that names them with
  // their SHA-1, so that the hand-off accepts them.
  void Publish(const std::string& install, const std::string& boot) {
    server.WriteFile("img/install.img", install);
    server.WriteFile("img/boot.iso", boot);
    server.WriteFile("corvane/x64.ini", "[Config]\r\nesdurl=" + server.Url("/img/install.img") +
                                            "\r\nbooturl=" + server.Url("/img/boot.iso") +
                                            "\r\nExtractSize=123\r\nKey=K-1\r\nEsdHash=" + Sha1Hex(install) +
                                            "\r\nBootHash=" + Sha1Hex(boot) + "\r\n");
  }
  // The hand-off ran on the stage's worker: it verified the images and, with
  // no work folder (no boot editor) on this machine, could not make the boot
  // entry.
  void ExpectHandedOff() {
    EXPECT_EQ(frm.form.FrontPanel(), &frm.PnlInstall);
    EXPECT_EQ(frm.lblInstallInfo.Caption(), "糟糕，引导进入Windows10安装程序失败！");
    EXPECT_EQ(frm.btnInstall.Caption(), "重试");
  }

  // Runs the UI thread and steps the virtual clock until pred holds (it is
  // checked after every batch of UI tasks); false after a minute of real
  // time. While a download runs, the stage's worker and the wrapper's
  // polling thread sleep on the clock between their passes: each step first
  // runs the UI thread's tasks until both sleep (or, when fewer threads use
  // the clock, until waitMs of real time have gone), so that the time never
  // runs ahead of a pass that is due; then the time moves on by 50 ms, but
  // only for a thread that waits for it: what runs on real time (the
  // network, the engine's own threads) takes no virtual time.
  bool RunUntil(const std::function<bool()>& pred, int waitMs = 30) {
    const auto deadline = steady_clock::now() + std::chrono::seconds(60);
    while (!pred()) {
      if (steady_clock::now() > deadline) return false;
      const auto until = steady_clock::now() + milliseconds(waitMs);
      while (clock.Waiting() < 2 && steady_clock::now() < until && !pred()) ui.WaitAndRun(1);
      if (pred()) break;
      if (clock.Waiting() > 0) clock.Advance(50);
      ui.RunPending();
    }
    return true;
  }
  // Starts the stage as the install panel's "重新下载" does and runs it to
  // its end.
  void RunStage() {
    ASSERT_TRUE(frm.StartStage(Stage::Download));
    ASSERT_TRUE(RunUntil([this] { return frm.LiveWorkers() == 0; }));
  }
  bool Shown(const std::string& prefix) const {
    for (const auto& l : labels)
      if (l.text.rfind(prefix, 0) == 0) return true;
    return false;
  }
  // Virtual time at which the label first read `text`; -1 if never.
  int64_t ShownAt(const std::string& text) const {
    for (const auto& l : labels)
      if (l.text == text) return l.at;
    return -1;
  }
  // The request log lines for one path, e.g. "/img/install.img".
  std::vector<std::string> RequestsFor(const std::string& path) const {
    std::vector<std::string> out;
    for (const auto& r : server.Requests())
      if (r.find("GET " + path + " ") == 0) out.push_back(r);
    return out;
  }
  // Bytes asked for by the ranged requests of a file of `size` bytes
  // (an open range counts to the end, a request without one the whole file).
  static int64_t BytesAskedFor(const std::vector<std::string>& requests, int64_t size) {
    static const std::regex range(R"(range=bytes=(\d+)-(\d*))");
    int64_t sum = 0;
    for (const auto& r : requests) {
      std::smatch m;
      if (!std::regex_search(r, m, range)) {
        sum += size;
        continue;
      }
      const int64_t first = std::stoll(m[1]);
      const int64_t last = m[2].length() ? std::stoll(m[2]) : size - 1;
      sum += last - first + 1;
    }
    return sum;
  }
  // Bytes downloaded as the label's hint shows them (vThunder belongs to the
  // stage's own steps; reading it from here would race with the worker).
  int64_t ShownDownloaded() const {
    static const std::regex downloaded(R"(已下载：([0-9.]+)(B|KB|MB|GB))");
    std::smatch m;
    const std::string hint = frm.lblDownLoadInfo.Hint();
    if (!std::regex_search(hint, m, downloaded)) return 0;
    const double unit = m[2] == "B" ? 1 : m[2] == "KB" ? 1024 : m[2] == "MB" ? 1048576 : 1073741824;
    return static_cast<int64_t>(std::stod(m[1]) * unit);
  }
  int Wrappers() const {
    int n = 0;
    for (const auto& e : plat::sim::Events())
      if (e.rfind("firewall add 迅雷下载模块|", 0) == 0) ++n;
    return n;
  }
  std::string Read(const std::string& winPath) const {
    std::ifstream f(Host(winPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  bool PartialDataOf(const std::string& winPath) const {
    return plat::FileExists(winPath + ".cvdl") || plat::FileExists(winPath + ".cvdl.rec");
  }
  std::vector<TaskbarState> TaskbarStates() const {
    std::vector<TaskbarState> out;
    for (const auto& t : host.taskbar)
      if (out.empty() || out.back() != t.state) out.push_back(t.state);
    return out;
  }
  // Everything the end step decides, as one text.
  std::string Buttons() {
    return frm.btnPause.Caption() + (frm.btnPause.Visible() ? "" : " hidden") +
           (frm.btnPause.Enabled() ? "" : " disabled") + " | " + frm.btnCancel.Caption() + " at " +
           std::to_string(frm.btnCancel.Left()) + (frm.btnCancel.Enabled() ? "" : " disabled");
  }

  struct Label {
    int64_t at;
    std::string text;
  };
  std::vector<Label> labels;
  test::TestServer server;
  StageClock clock;
  TaskQueueUiThread ui;
  test::RecordingHost host;
  test::RecordingFrm frm{ui, clock, host};
};

// ---- the ways through the stage ----------------------------------------------

TEST_F(DownloadStage, BothImagesDownloadedOneAfterTheOtherThenTheHandOff) {
  const std::string install = Pattern(3 << 20, 1), boot = Pattern(300000, 2);
  Publish(install, boot);
  server.Control("fault?path=/img/&throttle=4000000");  // long enough for a display step or two
  frm.btnInstall.SetCaption("重新下载");
  frm.btnInstall.Click();
  ASSERT_TRUE(RunUntil([this] { return frm.LiveWorkers() == 0; }));

  EXPECT_EQ(Read(kInstall), install);
  EXPECT_EQ(Read(kBoot), boot);
  EXPECT_FALSE(PartialDataOf(kInstall));
  EXPECT_EQ(Wrappers(), 2);
  EXPECT_EQ(frm.vThunder, nullptr);
  ExpectHandedOff();
  // The configuration's values for the hand-off.
  EXPECT_EQ(frm.vExtractSize, "123");
  EXPECT_EQ(frm.vEsdKey, "K-1");
  EXPECT_EQ(frm.vEsdHash, Sha1Hex(install));
  EXPECT_EQ(frm.vBootHash, Sha1Hex(boot));
  // The install image's texts first, then the boot image's.
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.front().text, "初始化下载引擎...");
  size_t lastInstall = 0, firstBoot = labels.size();
  for (size_t i = 0; i < labels.size(); ++i) {
    if (labels[i].text.rfind("下载安装镜像(1/2)：进度 ", 0) == 0) lastInstall = i;
    if (labels[i].text.rfind("下载引导组件(2/2)：进度 ", 0) == 0 && firstBoot == labels.size()) firstBoot = i;
  }
  EXPECT_GT(lastInstall, 0u);
  EXPECT_LT(lastInstall, firstBoot);
  EXPECT_EQ(Buttons(), "暂停 | 取消 at 184");  // the end step changed nothing
  // Taskbar: busy while the configuration comes, the percentage while the
  // images come, the bytes hashed while the hand-off checks them, nothing
  // afterwards.
  const auto states = TaskbarStates();
  ASSERT_GE(states.size(), 5u);
  EXPECT_EQ(states.front(), TaskbarState::Indeterminate);
  EXPECT_EQ(std::vector<TaskbarState>(states.end() - 4, states.end()),
            (std::vector<TaskbarState>{TaskbarState::Normal, TaskbarState::None, TaskbarState::Normal,
                                       TaskbarState::None}));
  for (const auto& t : host.taskbar)
    if (t.state == TaskbarState::Normal) EXPECT_LE(t.done, t.total);
  const auto hashed = host.taskbar.end() - 2;
  EXPECT_EQ(hashed->done, install.size() + boot.size());
  EXPECT_EQ(hashed->total, install.size() + boot.size());
}

TEST_F(DownloadStage, BothImagesPresentFetchTheConfigurationAndHandOffAtOnce) {
  Publish("install", "boot");
  MakeFile(kInstall, "install");
  MakeFile(kBoot, "boot");
  frm.vEsdKey = "earlier";
  RunStage();
  ExpectHandedOff();
  EXPECT_EQ(Wrappers(), 0);
  EXPECT_TRUE(RequestsFor("/img/install.img").empty());
  EXPECT_TRUE(RequestsFor("/img/boot.iso").empty());
  EXPECT_EQ(RequestsFor("/corvane/x64.ini").size(), 1u);
  EXPECT_EQ(frm.vEsdKey, "K-1");
  EXPECT_EQ(Read(kInstall), "install");  // never downloaded again, whatever it holds
  EXPECT_EQ(Buttons(), "暂停 | 取消 at 184");
  EXPECT_EQ(TaskbarStates(), (std::vector<TaskbarState>{TaskbarState::Indeterminate, TaskbarState::None,
                                                        TaskbarState::Normal, TaskbarState::None}));
}

TEST_F(DownloadStage, OnlyTheBootImageMissingShowsTheSecondImagesTexts) {
  const std::string boot = Pattern(2 << 20, 3);
  Publish("install", boot);
  server.Control("fault?path=/img/&throttle=2000000");
  MakeFile(kInstall, "install");
  RunStage();
  ExpectHandedOff();
  EXPECT_EQ(Read(kBoot), boot);
  EXPECT_EQ(Wrappers(), 1);
  EXPECT_TRUE(RequestsFor("/img/install.img").empty());
  EXPECT_TRUE(Shown("下载引导组件(2/2)：进度 "));
  EXPECT_FALSE(Shown("下载安装镜像(1/2)"));
  // A progress line and its hints as the display step wrote them last.
  const std::regex line(R"(下载引导组件\(2/2\)：进度 \d+\.\d\d% 速度 \d+(\.\d\d)?[KMG]?B/s)");
  bool sawLine = false;
  for (const auto& l : labels) sawLine = sawLine || std::regex_match(l.text, line);
  EXPECT_TRUE(sawLine);
  const std::regex hint(R"(文件大小：2\.00MB +已下载：\d+(\.\d\d)?[KMG]?B\r\n资源总数：\d+ +已使用：\d+)");
  EXPECT_TRUE(std::regex_match(frm.lblDownLoadInfo.Hint(), hint)) << frm.lblDownLoadInfo.Hint();
  EXPECT_EQ(CodePointCount(frm.lblDownLoadInfo.Hint().substr(0, frm.lblDownLoadInfo.Hint().find("已下载"))), 15u);
  EXPECT_TRUE(std::regex_match(frm.pbDownLoad.Hint(), std::regex(R"(当前进度：\d+\.\d\d%)")));
}

// ---- pause and cancel --------------------------------------------------------

class PauseAndCancel : public DownloadStage {
 protected:
  // Starts the stage on a slow install image and runs it until the engine
  // has written part of it and a display step has shown that.
  void StartSlowInstallImage() {
    install_ = Pattern(8 << 20, 7);
    boot_ = Pattern(200000, 8);
    Publish(install_, boot_);
    server.Control("fault?path=/img/install.img&throttle=300000");
    ASSERT_TRUE(frm.StartStage(Stage::Download));
    ASSERT_TRUE(RunUntil([this] { return ShownDownloaded() >= 200000; }));
  }
  // Presses `buttons` at once and steps the clock until the end step has
  // run; returns the virtual time from the presses to the engine's stop
  // (the display step that stopped it).
  int64_t PressAndRunToTheEnd(const std::vector<Control*>& buttons, const std::string& stopLabel) {
    // Both threads asleep: the press falls between two display steps.
    const auto until = steady_clock::now() + std::chrono::seconds(10);
    while (clock.Waiting() < 2 && steady_clock::now() < until) ui.WaitAndRun(1);
    const int64_t pressedAt = clock.NowMs();
    for (Control* b : buttons) b->Click();
    // Strict steps until the request has been acted on.
    EXPECT_TRUE(RunUntil([&] { return ShownAt(stopLabel) >= 0; }, 10000));
    EXPECT_TRUE(RunUntil([this] { return frm.LiveWorkers() == 0; }));
    return ShownAt(stopLabel) - pressedAt;
  }
  std::string install_, boot_;
};

TEST_F(PauseAndCancel, PauseKeepsThePartialDataAndContinueResumesIt) {
  StartSlowInstallImage();
  const int64_t took = PressAndRunToTheEnd({&frm.btnPause}, "正在暂停下载线程...");
  EXPECT_GT(took, 0);
  EXPECT_LE(took, 500);  // within one display interval
  // The end step came as soon as the engine had stopped: no further
  // interval of the display loop.
  EXPECT_LE(ShownAt("下载已暂停！") - ShownAt("正在暂停下载线程..."), 200);
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "下载已暂停！");
  EXPECT_EQ(Buttons(), "继续 | 取消 at 184");
  EXPECT_FALSE(plat::FileExists(kInstall));
  EXPECT_TRUE(PartialDataOf(kInstall));
  EXPECT_TRUE(RequestsFor("/img/boot.iso").empty());  // the boot image is not started
  EXPECT_EQ(host.taskbar.back().state, TaskbarState::Paused);
  EXPECT_GT(host.taskbar.back().done, 0u);
  EXPECT_EQ(Wrappers(), 1);

  // "继续": the whole stage again on a new worker, the configuration fetched
  // again, the install image continued from its partial data.
  server.Control("clear");
  server.Control("clear-logs");
  frm.btnPause.Click();
  EXPECT_EQ(frm.btnPause.Caption(), "暂停");
  ASSERT_TRUE(RunUntil([this] { return frm.LiveWorkers() == 0; }));
  EXPECT_EQ(RequestsFor("/corvane/x64.ini").size(), 1u);
  EXPECT_EQ(Read(kInstall), install_);
  EXPECT_EQ(Read(kBoot), boot_);
  ExpectHandedOff();
  EXPECT_LT(BytesAskedFor(RequestsFor("/img/install.img"), install_.size()),
            static_cast<int64_t>(install_.size()) - 200000);
  EXPECT_EQ(host.taskbar.back().state, TaskbarState::None);
}

TEST_F(PauseAndCancel, CancelDuringTheInstallImageDeletesItsPartialData) {
  StartSlowInstallImage();
  const int64_t took = PressAndRunToTheEnd({&frm.btnCancel}, "正在停止下载线程...");
  EXPECT_GT(took, 0);
  EXPECT_LE(took, 500);
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "用户已取消！");
  EXPECT_EQ(frm.pbDownLoad.Position(), 0);
  EXPECT_EQ(Buttons(), "暂停 hidden | 退出 at 141");
  EXPECT_FALSE(plat::FileExists(kInstall));
  EXPECT_FALSE(PartialDataOf(kInstall));
  EXPECT_TRUE(RequestsFor("/img/boot.iso").empty());
  EXPECT_EQ(host.taskbar.back().state, TaskbarState::None);
  // "退出" closes the window.
  frm.btnCancel.Click();
  EXPECT_EQ(host.closes, 1);
}

TEST_F(PauseAndCancel, CancelDuringTheBootImageDeletesOnlyItsPartialData) {
  MakeFile(kInstall, "install");
  const std::string boot = Pattern(8 << 20, 9);
  Publish("unused", boot);
  server.Control("fault?path=/img/boot.iso&throttle=300000");
  ASSERT_TRUE(frm.StartStage(Stage::Download));
  ASSERT_TRUE(RunUntil([this] { return ShownDownloaded() >= 200000; }));
  PressAndRunToTheEnd({&frm.btnCancel}, "正在停止下载线程...");
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "用户已取消！");
  EXPECT_EQ(Buttons(), "暂停 hidden | 退出 at 141");
  EXPECT_FALSE(plat::FileExists(kBoot));
  EXPECT_FALSE(PartialDataOf(kBoot));
  EXPECT_EQ(Read(kInstall), "install");
}

TEST_F(PauseAndCancel, PauseAndCancelInOneIntervalPauseThenShowTheCancel) {
  StartSlowInstallImage();
  const int64_t took = PressAndRunToTheEnd({&frm.btnPause, &frm.btnCancel}, "正在暂停下载线程...");
  EXPECT_LE(took, 500);
  EXPECT_EQ(ShownAt("正在停止下载线程..."), -1);  // the pause was carried out
  EXPECT_TRUE(PartialDataOf(kInstall));         // so the partial data stays
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "用户已取消！");
  EXPECT_EQ(frm.pbDownLoad.Position(), 0);
  EXPECT_EQ(Buttons(), "继续 hidden | 退出 at 141");
  EXPECT_EQ(host.taskbar.back().state, TaskbarState::None);
}

// ---- failures -----------------------------------------------------------------

TEST_F(DownloadStage, EngineFailureOnTheInstallImageStillFetchesTheBootImage) {
  const std::string boot = Pattern(100000, 4);
  Publish("unused", boot);
  server.Control("fault?path=/img/install.img&status=404");
  RunStage();
  EXPECT_FALSE(plat::FileExists(kInstall));
  EXPECT_EQ(Read(kBoot), boot);
  EXPECT_EQ(Wrappers(), 2);
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "未找到安装镜像，安装无法继续！");
  EXPECT_EQ(frm.pbDownLoad.Position(), 0);
  EXPECT_EQ(Buttons(), "暂停 hidden | 退出 at 141");
  EXPECT_TRUE(frm.TipsInfo.Showing().empty());  // no error of the stage
  EXPECT_EQ(host.taskbar.back().state, TaskbarState::Error);
  EXPECT_EQ(host.taskbar.back().done, host.taskbar.back().total);
}

TEST_F(DownloadStage, EmptyAddressesDownloadNothingAndEndOnTheMissingImage) {
  server.WriteFile("corvane/x64.ini", "[Config]\r\nKey=K\r\n");
  RunStage();
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "未找到安装镜像，安装无法继续！");
  EXPECT_EQ(Buttons(), "暂停 hidden | 退出 at 141");
  EXPECT_FALSE(plat::FileExists(kInstall));
  EXPECT_FALSE(plat::FileExists(kBoot));
}

TEST_F(DownloadStage, FailedConfigurationFetchShowsTheTipAndLogsTheError) {
  Publish("i", "b");
  server.Control("fault?path=/corvane/&status=500");
  frm.vEsdKey = "earlier";
  RunStage();
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "下载文件失败！");
  EXPECT_EQ(frm.pbDownLoad.Position(), 0);
  ASSERT_EQ(frm.TipsInfo.Showing().size(), 1u);
  EXPECT_EQ(frm.TipsInfo.Showing()[0].info, " 获取服务器数据失败，可能服务器维护中！");
  EXPECT_EQ(frm.TipsInfo.Showing()[0].title, "");
  EXPECT_EQ(frm.TipsInfo.Showing()[0].anchor, "PnlDownload");
  EXPECT_EQ(frm.TipsInfo.DisplayTime(), 0);
  EXPECT_EQ(frm.vEsdKey, "earlier");
  EXPECT_EQ(Wrappers(), 0);
  EXPECT_TRUE(RequestsFor("/img/install.img").empty());
  const std::string log = Read("D:\\corvane.txt");
  EXPECT_NE(log.find("]Download Error:下载配置文件错误！\r\n"), std::string::npos) << log;
  EXPECT_EQ(host.taskbar.back().state, TaskbarState::Error);
  // "继续" runs the stage again once the server answers ("取消" would close
  // the window), rather than two buttons that no stage acts on.
  EXPECT_EQ(Buttons(), "继续 | 取消 at 184");
  server.Control("clear");
  frm.btnPause.Click();
  ASSERT_TRUE(RunUntil([this] { return frm.LiveWorkers() == 0; }));
  EXPECT_EQ(Read(kInstall), "i");
  EXPECT_EQ(frm.vEsdKey, "K-1");
  ExpectHandedOff();
}

TEST_F(DownloadStage, RequestsPendingAtAFailureEndAsRequested) {
  Publish("i", "b");
  server.Control("fault?path=/corvane/&stall=300&status=500");  // time to press before the answer
  ASSERT_TRUE(frm.StartStage(Stage::Download));
  frm.btnCancel.Click();
  ASSERT_TRUE(RunUntil([this] { return frm.LiveWorkers() == 0; }));
  EXPECT_EQ(frm.lblDownLoadInfo.Caption(), "用户已取消！");
  EXPECT_EQ(Buttons(), "继续 hidden | 退出 at 141");
  EXPECT_EQ(host.taskbar.back().state, TaskbarState::None);
}

// ---- one run at a time ----------------------------------------------------------

TEST_F(PauseAndCancel, NoSecondRunWhileOneDownloads) {
  StartSlowInstallImage();
  frm.btnInstall.SetCaption("重新下载");
  frm.btnInstall.Click();                           // ignored: a run is under way
  EXPECT_FALSE(frm.StartStage(Stage::Download));  // the backup's way in is the same slot
  frm.btnCancel.Click();
  ASSERT_TRUE(RunUntil([this] { return frm.LiveWorkers() == 0; }));
  EXPECT_EQ(frm.Started(Stage::Download), 1);
  EXPECT_EQ(RequestsFor("/corvane/x64.ini").size(), 1u);
}

}  // namespace
}  // namespace corvane
