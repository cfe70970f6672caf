// The download stage: the edition configuration, then the install image and
// the boot image, each through a wrapper of its own, with the panel refreshed
// every 500 ms; then the hand-off on the same worker when both files are
// there.
//
// Pause and cancel are asked for through the captions of btnPause and
// btnCancel, which only the UI thread reads and writes: the display step
// acts on them, and between the downloads the worker reads them in a step
// handed to the UI thread.
#include <memory>

#include "common/text.h"
#include "download/DownloadDisplay.h"
#include "download/RunConfig.h"
#include "download/uThunder.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "window/main_model.h"
#include "window/Log.h"

namespace corvane {

namespace {

using TaskbarState = FormHost::TaskbarState;

const char* const kInstallProgress = "下载安装镜像(1/2)：进度 %.2f%% 速度 %s/s";
const char* const kBootProgress = "下载引导组件(2/2)：进度 %.2f%% 速度 %s/s";
const char* const kFailureTip = " 获取服务器数据失败，可能服务器维护中！";
constexpr int64_t kDisplayIntervalMs = 500;
// btnCancel alone, centred on the 350-pixel panel for its 69-pixel width.
constexpr int kCentredCancelLeft = 141;

// What the stage keeps between its steps on the UI thread: the taskbar's
// last value, so that a pause shows the paused state where the bar stood.
struct Display {
  uint64_t taskbarDone = 0;
};

void Taskbar(TMainModel& f, TaskbarState s, uint64_t done) { f.host.SetTaskbarProgress(s, done, kTaskbarSteps); }

// A red bar across the whole button: the run needs the user.
void TaskbarError(TMainModel& f) { Taskbar(f, TaskbarState::Error, kTaskbarSteps); }

// True while neither a pause nor a cancel has been asked for.
bool Running(TMainModel& f) {
  bool running = false;
  f.ui.Sync([&] { running = f.btnCancel.Caption() == "取消" && f.btnPause.Caption() == "暂停"; });
  return running;
}

// UI thread, every 500 ms while a download runs.
void DisplayStep(TMainModel& f, Display& d, const char* progressFormat) {
  TThunder* t = f.vThunder;
  if (!t) return;
  if (f.btnPause.Caption() == "暂停中") {
    f.btnPause.SetEnabled(false);
    f.lblDownLoadInfo.SetCaption("正在暂停下载线程...");
    Taskbar(f, TaskbarState::Paused, d.taskbarDone);
    t->Stop(false);  // partial data kept; refused, it is asked again next time
    return;
  }
  if (f.btnCancel.Caption() == "取消中") {
    f.btnCancel.SetEnabled(false);
    f.lblDownLoadInfo.SetCaption("正在停止下载线程...");
    Taskbar(f, TaskbarState::None, 0);
    t->Stop(true);  // partial data deleted
    return;
  }
  const TProgressInfo p = t->Progress();
  if (const char* text = StateText(p.State)) {
    f.lblDownLoadInfo.SetCaption(text);
    if (p.State == "STARTPENDING") {
      Taskbar(f, TaskbarState::Indeterminate, 0);
    } else if (p.State == "ERROR") {
      TaskbarError(f);
    } else if (p.State == "COMPLETE") {
      d.taskbarDone = kTaskbarSteps;
      Taskbar(f, TaskbarState::Normal, d.taskbarDone);
    } else {  // the engine stopping or paused
      if (p.State == "PAUSE") d.taskbarDone = TaskbarSteps(p.Percent);
      Taskbar(f, TaskbarState::Paused, d.taskbarDone);
    }
    return;
  }
  f.lblDownLoadInfo.SetCaption(ProgressText(progressFormat, p));
  f.lblDownLoadInfo.SetHint(ProgressHint(p));
  f.pbDownLoad.SetPosition(BarPosition(p.Percent));
  f.pbDownLoad.SetHint(BarHint(p.Percent));
  d.taskbarDone = TaskbarSteps(p.Percent);
  Taskbar(f, TaskbarState::Normal, d.taskbarDone);
}

// Downloads one image unless its file exists. The wrapper lives on this
// worker and is destroyed here; the display steps reach it through
// vThunder, which is set and cleared only between them.
void DownloadImage(TMainModel& f, Display& d, const std::string& url, const std::string& path,
                   const char* progressFormat) {
  if (plat::FileExists(path)) return;
  plat::ForceDirectories(ExcludeTrailingBackslash(ExtractFilePath(path)));
  auto thunder = std::make_unique<TThunder>(url, path, "", true, true, f.clock);
  f.vThunder = thunder.get();
  struct Forget {
    TMainModel& f;
    ~Forget() { f.vThunder = nullptr; }
  } forget{f};
  thunder->Start();  // a refused start downloads nothing; the stage goes on
  while (thunder->Downloading()) {
    f.ui.Sync([&] { DisplayStep(f, d, progressFormat); });
    // A step that has just stopped the engine needs no further interval.
    if (!thunder->Downloading()) break;
    f.clock.SleepMs(kDisplayIntervalMs);
  }
}

void MissingImageStep(TMainModel& f) {
  f.lblDownLoadInfo.SetCaption("未找到安装镜像，安装无法继续！");
  f.pbDownLoad.SetPosition(0);
  f.btnCancel.SetCaption("退出");
  f.btnPause.SetVisible(false);
  f.btnCancel.SetLeft(kCentredCancelLeft);
  TaskbarError(f);
}

// The pause button becomes "继续", the way to run the stage again once the
// server answers; with "暂停" and "取消" left as they were, no stage would
// ever act on a press of either and the panel would be a dead end.
void FailureStep(TMainModel& f) {
  f.lblDownLoadInfo.SetCaption("下载文件失败！");
  f.pbDownLoad.SetPosition(0);
  f.ShowTips(kFailureTip, "", f.PnlDownload, 0);
  if (f.btnPause.Caption() == "暂停") f.btnPause.SetCaption("继续");
  TaskbarError(f);
}

// Two independent checks; with both requests the cancel has the last word.
void EndStep(TMainModel& f, const Display& d) {
  if (f.btnPause.Caption() == "暂停中") {
    f.btnPause.SetEnabled(true);
    f.lblDownLoadInfo.SetCaption("下载已暂停！");
    f.btnPause.SetCaption("继续");
    Taskbar(f, TaskbarState::Paused, d.taskbarDone);
  }
  if (f.btnCancel.Caption() == "取消中") {
    f.btnCancel.SetEnabled(true);
    f.lblDownLoadInfo.SetCaption("用户已取消！");
    f.pbDownLoad.SetPosition(0);
    f.btnCancel.SetCaption("退出");
    f.btnPause.SetVisible(false);
    f.btnCancel.SetLeft(kCentredCancelLeft);
    Taskbar(f, TaskbarState::None, 0);
  }
}

}  // namespace

void TMainModel::Thrd_Download() {
  Display d;
  try {
    ui.Sync([this] {
      lblDownLoadInfo.SetCaption("初始化下载引擎...");
      pbDownLoad.SetPosition(0);
      form.BringToFront(PnlDownload);
      host.SetTaskbarProgress(FormHost::TaskbarState::Indeterminate, 0, kTaskbarSteps);
    });
    const ImageAddresses addresses = FetchRunConfig(*this);
    const std::string installImage = vDataDriver + "\\Win10Data\\System\\Install.img";
    const std::string bootImage = GetWinDir().substr(0, 2) + "\\Boot\\Win8PE.iso";
    DownloadImage(*this, d, addresses.esdUrl, installImage, kInstallProgress);
    if (Running(*this)) {
      DownloadImage(*this, d, addresses.bootUrl, bootImage, kBootProgress);
      if (Running(*this)) {
        if (plat::FileExists(bootImage) && plat::FileExists(installImage)) {
          // The hand-off shows its own progress while it verifies.
          ui.Sync([this] { host.SetTaskbarProgress(FormHost::TaskbarState::None, 0, 0); });
          RunStage(Stage::Install);  // on this worker
        } else {
          ui.Sync([this] { MissingImageStep(*this); });
        }
      }
    }
  } catch (const std::exception& e) {
    try {
      ui.Sync([this] { FailureStep(*this); });
      Log(std::string("Download Error:") + e.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      ui.Sync([this] { FailureStep(*this); });
      Log("Download Error:");
    } catch (...) {
    }
  }
  try {
    ui.Sync([this, &d] { EndStep(*this, d); });
  } catch (...) {
  }
}

}  // namespace corvane
