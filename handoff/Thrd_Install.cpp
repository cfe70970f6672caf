// The last stage of a run: both images checked against their SHA-1, the boot
// entry, the hand-off file for the installer in the boot image, the usage
// event, and the restart ten seconds later. Every screen step is handed to
// the UI thread and waited for.
#include <algorithm>

#include "common/errors.h"
#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"
#include "window/main_model.h"

namespace corvane {

namespace {

const char* const kBootTitle = "升级到Windows10系统";
constexpr int32_t kBootMenuSeconds = 10;
constexpr int64_t kRestartDelayMs = 10000;
constexpr int32_t kInstallEvent = 1;
const char* const kSuccessTip = " 引导成功，10秒后重启系统进入Windows安装程序！";
const char* const kFailureTip = " 引导过程遭到安全软件拦截，请放行或者暂时退出安全软件！";

struct HandoffFiles {
  std::string installImage;  // on the data drive
  std::string bootImage;     // on the system drive
  std::string config;        // the hand-off file, on the data drive
};

HandoffFiles FilesOf(const std::string& dataDrive) {
  return {dataDrive + "\\Win10Data\\System\\Install.img", GetWinDir().substr(0, 2) + "\\Boot\\Win8PE.iso",
          dataDrive + "\\Win10Data\\Config.ini"};
}

// Letter case aside, the image's SHA-1 must equal the expected one. An image
// whose SHA-1 cannot be computed (missing, locked, unreadable) never passes,
// not even against an empty expected value.
bool ImageMatches(const std::string& file, const std::string& expected, const HashProgress& onProgress) {
  const std::string actual = GetFileSHA1(file, onProgress);
  return !actual.empty() && UpperAscii(actual) == UpperAscii(expected);
}

// Section "Config": Platform, ExtractSize, Key, in this order; keys already
// there are overwritten in place.
void WriteHandoffFile(const std::string& file, const std::string& platform, const std::string& extractSize,
                      const std::string& key) {
  const std::pair<const char*, const std::string*> entries[] = {
      {"Platform", &platform}, {"ExtractSize", &extractSize}, {"Key", &key}};
  for (const auto& [name, value] : entries)
    if (!plat::WriteProfileText(file, "Config", name, *value)) throw Exception("Cannot write " + file);
}

}  // namespace

void TMainModel::Thrd_Install() {
  auto show = [this](const char* info, const char* caption) {
    ui.Sync([&] {
      lblInstallInfo.SetCaption(info);
      btnInstall.SetCaption(caption);
    });
  };
  // The boot entry or the hand-off failed; "重试" runs the stage again.
  auto showFailure = [this] {
    ui.Sync([this] {
      lblInstallInfo.SetCaption("糟糕，引导进入Windows10安装程序失败！");
      btnInstall.SetCaption("重试");
      ShowTips(kFailureTip, "", PnlInstall, 0);
    });
  };
  try {
    ui.Sync([this] {
      form.BringToFront(PnlInstall);
      HideTips();
    });
    const HandoffFiles files = FilesOf(vDataDriver);
    // A hand-off file means an earlier attempt has verified the images.
    if (!plat::FileExists(files.config)) {
      show("正在校验系统镜像，请耐心等待...", "校验中...");
      // The taskbar button shows the bytes hashed of both images; nothing
      // once the check is over, whatever its outcome.
      const int64_t installSize = std::max<int64_t>(plat::FileSize(files.installImage), 0);
      const int64_t total = installSize + std::max<int64_t>(plat::FileSize(files.bootImage), 0);
      struct ClearTaskbar {
        TMainModel& f;
        ~ClearTaskbar() {
          try {
            f.ClearTaskbarProgress();
          } catch (...) {
          }
        }
      } clearTaskbar{*this};
      if (!ImageMatches(files.installImage, vEsdHash, VerifyProgress(0, total))) {
        plat::RemoveFile(files.installImage);  // a failed deletion is ignored
        show("安装包损坏，请重新下载！", "重新下载");
        return;
      }
      if (!ImageMatches(files.bootImage, vBootHash, VerifyProgress(installSize, total))) {
        plat::RemoveFile(files.bootImage);  // the install image stays
        show("引导组件损坏，请重新下载！", "重新下载");
        return;
      }
    }
    show("引导系统中，请稍后...", "引导中...");
    if (!MakeBoot(kBootTitle, kBootMenuSeconds)) {
      showFailure();
      return;
    }
    WriteHandoffFile(files.config, vPlatform, vExtractSize, vEsdKey);
    ui.Sync([this] {
      restartDone_ = false;  // before "立刻重启" can be pressed
      lblInstallInfo.SetCaption("恭喜您，即将进入Windows10引导程序！");
      btnInstall.SetCaption("立刻重启");
      ShowTips(kSuccessTip, "", PnlInstall, 0);
    });
    Statistics(GetMachineId(), VerInfo.FileVersion(), kInstallEvent);
    clock.SleepMs(kRestartDelayMs);
    // A press on "立刻重启" during the wait has restarted already.
    if (!restartDone_.exchange(true)) RestartComputer();
  } catch (...) {
    // Any error ends on the failure screen; nothing is logged or undone.
    try {
      showFailure();
    } catch (...) {
    }
  }
}

}  // namespace corvane
