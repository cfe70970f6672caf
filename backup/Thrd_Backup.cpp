// The user-data backup, run on its own worker: the documents, the
// favourites, the user's and the public desktop are copied into
// "\WIN10DATA\资料备份" on the data drive, then the same worker goes on with
// the download stage.
//
// Each text of the progress panel is handed to the UI thread and waited for.
// The bar's step after each file is handed over without waiting, at most
// every kBarStepMs, and a step not yet shown is replaced by the next one:
// twenty thousand small files would otherwise make the worker wait for the
// UI thread (and the UI thread draw the bar) twenty thousand times; the bar
// moves as smoothly and ends in the same place.
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/file_copy.h"
#include "platform/platform.h"
#include "window/main_model.h"
#include "window/Log.h"

namespace corvane {
namespace {

constexpr const char* kWin10Data = "\\WIN10DATA";
constexpr const char* kBackupRoot = "\\WIN10DATA\\资料备份";

// Keeps each part's last state on screen long enough to be read.
constexpr int64_t kPartPauseMs = 800;
// How long the broadband-account step shows its first text.
constexpr int64_t kAccountStepMs = 1000;
// The bar is brought up to date no more often than this.
constexpr int64_t kBarStepMs = 25;

// Documents part only: a file whose upper-cased full path contains one of
// these is left out. The second is spelt PICTRUES, so "My Pictures" is copied.
constexpr const char* kDocumentExclusions[] = {"\\MY MUSIC", "\\MY PICTRUES", "\\MY VIDEOS", "\\FAVORITES"};

bool ExcludedDocument(const std::string& path) {
  const std::string upper = UpperAscii(path);
  for (const char* pattern : kDocumentExclusions)
    if (upper.find(pattern) != std::string::npos) return true;
  return false;
}

// One copying part: its name in the begin text and its folder below the data
// drive.
struct CopyPart {
  const char* caption;
  const char* backupFolder;
  bool documents;
};

constexpr CopyPart kDocuments{"正在备份“我的文档”，请稍后...", "\\WIN10DATA\\资料备份\\我的文档", true};
constexpr CopyPart kFavourites{"正在备份“收藏夹”，请稍后...", "\\WIN10DATA\\资料备份\\收藏夹", false};
constexpr CopyPart kUserDesktop{"正在备份“个人桌面”，请稍后...", "\\WIN10DATA\\资料备份\\个人桌面", false};
constexpr CopyPart kPublicDesktop{"正在备份“公共桌面”，请稍后...", "\\WIN10DATA\\资料备份\\公共桌面", false};

// The public desktop: the system drive's "\Users\Public\Desktop" where it
// exists, otherwise the older "\Documents and Settings\All Users\桌面".
std::string PublicDesktopDir() {
  const std::string sysDrive = GetWinDir().substr(0, 2);
  const std::string current = sysDrive + "\\Users\\Public\\Desktop";
  if (plat::DirectoryExists(current)) return current;
  return sysDrive + "\\Documents and Settings\\All Users\\桌面";
}

// The bar's state after the last file tried, for the UI thread to show.
struct BarFeed {
  std::atomic<int> position{0};
  std::atomic<int> max{0};
  std::atomic<bool> queued{false};
};

class BackupRun {
 public:
  explicit BackupRun(TMainModel& f) : f_(f), bar_(std::make_shared<BarFeed>()) {}

  bool BoxChecked(Control& box) {
    bool on = false;
    f_.ui.Sync([&] { on = box.Checked(); });
    return on;
  }

  void Show(const std::string& text, bool barFull) {
    f_.ui.Sync([&] {
      f_.lblBackupInfo.SetCaption(text);
      f_.pbBackup.SetPosition(barFull ? f_.pbBackup.Max() : 0);
    });
  }

  // Copies every file below `source` into the part's backup folder.
  void Copy(const CopyPart& part, const std::string& source) {
    Show(part.caption, false);
    const std::string backupFolder = f_.vDataDriver + part.backupFolder;
    const std::string backupTree = UpperAscii(IncludeTrailingBackslash(f_.vDataDriver + kBackupRoot));
    // A folder that is not set lists nothing (and not the current drive's
    // root, which an empty folder name would stand for).
    f_.vFileList = source.empty() ? std::vector<std::string>() : CollectFiles(source, source, "*.*", -1);
    const int count = static_cast<int>(f_.vFileList.size());
    int tried = 0;
    const plat::CopyGoOn goOn = [this](int64_t) { return !f_.vStopBackup; };
    for (const std::string& file : f_.vFileList) {
      if (f_.vStopBackup) break;
      if (part.documents && ExcludedDocument(file)) continue;
      // A source folder that holds the backup folder (a documents folder at
      // the data drive's root) would otherwise copy earlier backups into the
      // new one, one level deeper on every run.
      if (StartsWith(UpperAscii(file), backupTree)) continue;
      const std::string target = ReplaceFirstNoCase(file, source, backupFolder);
      plat::ForceDirectories(ExtractFilePath(target));
      if (plat::CopyFileSafely(file, target, goOn) == plat::CopyResult::Failed) Log("CopyFile Error:" + file);
      StepBar(++tried, count);
    }
    if (unshown_) ShowBar();  // the part's last step, before its pause
  }

  // Position plus one and the list's length as maximum.
  void StepBar(int position, int max) {
    bar_->max = max;
    bar_->position = position;
    unshown_ = true;
    if (f_.clock.NowMs() - shownAtMs_ >= kBarStepMs) ShowBar();
  }

 private:
  // The maximum is set first so that the position is never held back by a
  // smaller one.
  void ShowBar() {
    unshown_ = false;
    shownAtMs_ = f_.clock.NowMs();
    if (bar_->queued.exchange(true)) return;  // the queued step will show it
    f_.ui.Post([feed = bar_, &bar = f_.pbBackup] {
      feed->queued = false;
      bar.SetMax(feed->max);
      bar.SetPosition(feed->position);
    });
  }

  TMainModel& f_;
  std::shared_ptr<BarFeed> bar_;
  bool unshown_ = false;
  int64_t shownAtMs_ = INT64_MIN / 2;
};

std::string ErrorText(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace

void TMainModel::Thrd_Backup() {
  bool finished = false;
  try {
    BackupRun run(*this);
    ui.Sync([this] { form.BringToFront(PnlBackupInfo); });
    vStopBackup = false;
    // Made on every run, whatever is chosen.
    plat::ForceDirectories(vDataDriver + kWin10Data);
    plat::ForceDirectories(vDataDriver + kBackupRoot);

    // Each box is read when its part is due; a cancel skips every later part.
    if (!vStopBackup && run.BoxChecked(chkBakMyDoc)) {
      run.Copy(kDocuments, GetPersonalDir());
      clock.SleepMs(kPartPauseMs);
    }
    if (!vStopBackup && run.BoxChecked(chkBakIEFav)) {
      run.Copy(kFavourites, GetFavoritesDir());
      clock.SleepMs(kPartPauseMs);
    }
    if (!vStopBackup && run.BoxChecked(chkBakDesktop)) {
      run.Copy(kUserDesktop, GetDesktopDir());
      // Started even after a cancel in the user desktop; it copies nothing then.
      run.Copy(kPublicDesktop, PublicDesktopDir());
      clock.SleepMs(kPartPauseMs);
    }
    if (!vStopBackup && run.BoxChecked(chkBakADSL)) {
      // Nothing to copy: the step is shown and passes.
      run.Show("正在备份“宽带账号”，请稍后...", false);
      clock.SleepMs(kAccountStepMs);
      run.Show("备份“宽带账号”完成！", true);
      clock.SleepMs(kPartPauseMs);
    }
    run.Show("备份全部完成！", true);
    clock.SleepMs(kPartPauseMs);
    finished = true;
  } catch (...) {
    // The run stops on the progress panel; the download is not started.
    Log("Backup Error:" + ErrorText(std::current_exception()));
  }
  if (finished) {
    try {
      RunStage(Stage::Download);  // on this worker; it goes on to the hand-off
    } catch (...) {
      Log("Backup Error:" + ErrorText(std::current_exception()));
    }
  }
  vFileList.clear();
  vFileList.shrink_to_fit();
  Log("备份线程" + std::to_string(plat::CurrentThreadId()) + "已经结束！");
}

}  // namespace corvane
