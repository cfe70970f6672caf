// The backup stage on the simulated machine: started by its button, its
// worker copying real files, its screen steps run on the test's UI thread and
// its pauses on the virtual clock. The download stage it hands over to is
// replaced by a recorder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "common/errors.h"
#include "common/text.h"
#include "common/ui_thread.h"
#include "inspection/uCommon.h"
#include "platform/exclusive_file.h"
#include "platform/file_copy.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"
#include "shell/F_Main.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"
#include "tests/support/no_host.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kDocs = "C:\\Users\\User\\Documents";
const std::string kFav = "C:\\Users\\User\\Favorites";
const std::string kDesk = "C:\\Users\\User\\Desktop";
const std::string kPublic = "C:\\Users\\Public\\Desktop";
const std::string kBak = "D:\\WIN10DATA\\资料备份";

using test::NoHost;

// The window with the download stage replaced by a recorder.
class BackupFrm : public TFrm_Main {
 public:
  using TFrm_Main::TFrm_Main;
  std::atomic<int> downloads{0};
  std::atomic<int64_t> downloadAt{-1};
  std::atomic<bool> downloadThrows{false};

 protected:
  void RunStage(Stage s) override {
    if (s != Stage::Download) return TFrm_Main::RunStage(s);
    downloadAt = clock.NowMs();
    ++downloads;
    if (downloadThrows) throw Exception("engine gone");
  }
};

// What the panel showed while the worker paused, and for how long.
struct Pause {
  std::string text;
  int position, max;
  int64_t ms;
};

class BackupStageTest : public test::SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    Patch({{"drives", {{"C", 3}, {"D", 3}}}, {"args", {"/D"}}});
    plat::ForceDirectories(kPublic);
    frm_ = std::make_unique<BackupFrm>(ui_, clock_, host_);
    frm_->vDataDriver = "D:";
    frm_->form.Observe([this](Control* c, Control::Change ch) {
      if (c == &frm_->lblBackupInfo && ch == Control::Change::Caption) texts_.push_back(c->Caption());
    });
  }
  void TearDown() override {
    plat::sim::SetCopyChunkObserver(nullptr);
    frm_.reset();
    SimMachineTest::TearDown();
  }

  void Boxes(bool docs, bool fav, bool desk, bool adsl) {
    frm_->chkBakMyDoc.SetChecked(docs);
    frm_->chkBakIEFav.SetChecked(fav);
    frm_->chkBakDesktop.SetChecked(desk);
    frm_->chkBakADSL.SetChecked(adsl);
  }

  // Presses the backup button and runs the UI thread until the worker has
  // ended, moving the virtual clock on whenever the worker pauses: one
  // millisecond short of its pause it must still sleep.
  std::vector<Pause> Run() {
    start_ = clock_.NowMs();
    frm_->btnStartBak.Click();
    std::vector<Pause> pauses;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (frm_->LiveWorkers() > 0 && std::chrono::steady_clock::now() < deadline) {
      ui_.WaitAndRun(1);
      if (clock_.Sleepers() == 0) continue;
      ui_.RunPending();
      Pause p{frm_->lblBackupInfo.Caption(), frm_->pbBackup.Position(), frm_->pbBackup.Max(),
              clock_.UntilNextWake()};
      clock_.Advance(p.ms - 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_EQ(clock_.Sleepers(), 1) << "woke before its pause ended: " << p.text;
      clock_.Advance(1);
      for (int k = 0; k < 5000 && clock_.Sleepers() > 0; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      pauses.push_back(p);
    }
    EXPECT_EQ(frm_->LiveWorkers(), 0) << "the backup did not end";
    ui_.RunPending();
    return pauses;
  }

  std::string LogText() {
    std::ifstream in(Host("D:\\corvane.txt"));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  int CountInLog(const std::string& what) {
    const std::string log = LogText();
    int n = 0;
    for (size_t p = log.find(what); p != std::string::npos; p = log.find(what, p + 1)) ++n;
    return n;
  }
  std::string Read(const std::string& winPath) {
    std::string s;
    plat::ReadWholeFile(winPath, s);
    return s;
  }
  // Every file below a folder of the machine, as paths relative to it.
  std::vector<std::string> FilesBelow(const std::string& winFolder) {
    std::vector<std::string> out;
    const fs::path base = Host(winFolder);
    if (!fs::exists(base)) return out;
    for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it)
      if (it->is_regular_file()) out.push_back(fs::relative(it->path(), base).string());
    std::sort(out.begin(), out.end());
    return out;
  }
  void ExpectEndedWithDownload() {
    EXPECT_EQ(frm_->downloads, 1);
    EXPECT_EQ(frm_->lblBackupInfo.Caption(), "备份全部完成！");
    EXPECT_EQ(frm_->pbBackup.Position(), frm_->pbBackup.Max());
    EXPECT_EQ(CountInLog("备份线程"), 1);
    EXPECT_EQ(CountInLog("Backup Error:"), 0);
    EXPECT_TRUE(frm_->vFileList.empty());
  }

  test::VirtualClock clock_;
  TaskQueueUiThread ui_;
  NoHost host_;
  std::unique_ptr<BackupFrm> frm_;
  std::vector<std::string> texts_;
  int64_t start_ = 0;
};

TEST_F(BackupStageTest, NoBoxCheckedMakesTheFoldersAndGoesOnToTheDownload) {
  Boxes(false, false, false, false);
  const auto pauses = Run();
  ASSERT_EQ(pauses.size(), 1u);
  EXPECT_EQ(pauses[0].text, "备份全部完成！");
  EXPECT_EQ(pauses[0].position, pauses[0].max);
  EXPECT_EQ(pauses[0].ms, 800);
  EXPECT_EQ(frm_->downloadAt, start_ + 800);
  EXPECT_EQ(frm_->form.FrontPanel(), &frm_->PnlBackupInfo);
  EXPECT_TRUE(plat::DirectoryExists("D:\\WIN10DATA"));
  EXPECT_TRUE(plat::DirectoryExists(kBak));
  EXPECT_EQ(texts_, std::vector<std::string>{"备份全部完成！"});
  ExpectEndedWithDownload();
  EXPECT_TRUE(std::regex_search(LogText(), std::regex("\\]备份线程[0-9]+已经结束！\r\n$"))) << LogText();
}

TEST_F(BackupStageTest, TheDefaultBroadbandStepShowsItsTwoTextsAndCopiesNothing) {
  MakeFile(kDocs + "\\a.txt");
  const auto pauses = Run();  // a fresh window: only the broadband box is checked
  ASSERT_EQ(pauses.size(), 3u);
  EXPECT_EQ(pauses[0].text, "正在备份“宽带账号”，请稍后...");
  EXPECT_EQ(pauses[0].position, 0);
  EXPECT_EQ(pauses[0].ms, 1000);
  EXPECT_EQ(pauses[1].text, "备份“宽带账号”完成！");
  EXPECT_EQ(pauses[1].position, pauses[1].max);
  EXPECT_EQ(pauses[1].ms, 800);
  EXPECT_EQ(pauses[2].text, "备份全部完成！");
  EXPECT_EQ(frm_->downloadAt, start_ + 2600);
  EXPECT_TRUE(FilesBelow(kBak).empty());
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, DocumentsAreCopiedWithTheirExclusionsAndTheSourcesStayAsTheyWere) {
  Boxes(true, false, false, false);
  const std::vector<std::pair<std::string, bool>> files = {
      {"report.doc", true},
      {"My Pictures\\holiday.jpg", true},  // PICTRUES does not match it
      {"my music\\song.mp3", false},        // any letter case
      {"Old\\MY MUSIC backup\\x.txt", false},
      {"My Videos\\clip.avi", false},
      {"Favorites\\link.url", false},
      {"Projects\\Documents\\notes.txt", true},
      {"Projects\\DOCUMENTS\\C\\Users\\User\\Documents.txt", true},
      {"中文\\资料.xls", true},
  };
  std::map<std::string, std::pair<std::string, fs::file_time_type>> sources;
  unsigned seed = 1;
  for (const auto& [rel, copied] : files) {
    const std::string path = kDocs + "\\" + rel;
    MakeFile(path, "content of " + rel + std::string(seed++ * 1000, 'x'));
    fs::last_write_time(Host(path), fs::file_time_type::clock::now() - std::chrono::hours(24 * seed));
    sources[path] = {Read(path), fs::last_write_time(Host(path))};
  }
  ASSERT_TRUE(plat::SetAttributes(kDocs + "\\report.doc", plat::kAttrReadOnly | plat::kAttrHidden));
  // Access and write time both a month back: an ordinary read would move the
  // access time on (relatime).
  const struct timespec old[2] = {{::time(nullptr) - 30 * 86400, 0}, {::time(nullptr) - 30 * 86400, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, Host(kDocs + "\\report.doc").c_str(), old, 0), 0);
  sources[kDocs + "\\report.doc"].second = fs::last_write_time(Host(kDocs + "\\report.doc"));
  struct stat before;
  ASSERT_EQ(::stat(Host(kDocs + "\\report.doc").c_str(), &before), 0);
  // An older copy, read-only as its source made it, is brought up to date.
  MakeFile(kBak + "\\我的文档\\report.doc", "older");
  ASSERT_TRUE(plat::SetAttributes(kBak + "\\我的文档\\report.doc", plat::kAttrReadOnly));

  const auto pauses = Run();
  ASSERT_EQ(pauses.size(), 2u);
  EXPECT_EQ(pauses[0].text, "正在备份“我的文档”，请稍后...");
  EXPECT_EQ(pauses[0].ms, 800);
  // Left-out files count in the maximum but do not advance the bar.
  EXPECT_EQ(pauses[0].max, 9);
  EXPECT_EQ(pauses[0].position, 5);
  EXPECT_EQ(pauses[1].text, "备份全部完成！");
  EXPECT_EQ(pauses[1].position, 9);
  EXPECT_EQ(frm_->downloadAt, start_ + 1600);

  struct stat after;
  ASSERT_EQ(::stat(Host(kDocs + "\\report.doc").c_str(), &after), 0);
  for (const auto& [rel, copied] : files) {
    // Only the first occurrence of the source folder is replaced.
    const std::string target = kBak + "\\我的文档\\" + rel;
    EXPECT_EQ(plat::FileExists(target), copied) << rel;
    const std::string src = kDocs + "\\" + rel;
    if (copied) EXPECT_EQ(Read(target), sources[src].first) << rel;
    EXPECT_EQ(Read(src), sources[src].first) << rel;
    EXPECT_EQ(fs::last_write_time(Host(src)), sources[src].second) << rel;
    if (copied) EXPECT_EQ(fs::last_write_time(Host(target)), sources[src].second) << rel;
  }
  EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
  EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(plat::FileAttributes(kDocs + "\\report.doc"), plat::kAttrReadOnly | plat::kAttrHidden);
  EXPECT_EQ(plat::FileAttributes(kBak + "\\我的文档\\report.doc"), plat::kAttrReadOnly | plat::kAttrHidden);
  EXPECT_EQ(CountInLog("CopyFile Error:"), 0);
  for (const auto& f : FilesBelow(kBak)) EXPECT_FALSE(EndsWith(f, plat::kCopyTempSuffix)) << f;
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, EveryPartRunsInOrderIntoItsOwnFolder) {
  Boxes(true, true, true, true);
  MakeFile(kDocs + "\\d.txt", "d");
  MakeFile(kFav + "\\Links\\f.url", "f");
  MakeFile(kDesk + "\\u.lnk", "u");
  MakeFile(kPublic + "\\p.lnk", "p");
  const auto pauses = Run();
  EXPECT_EQ(texts_, (std::vector<std::string>{"正在备份“我的文档”，请稍后...", "正在备份“收藏夹”，请稍后...",
                                              "正在备份“个人桌面”，请稍后...", "正在备份“公共桌面”，请稍后...",
                                              "正在备份“宽带账号”，请稍后...", "备份“宽带账号”完成！",
                                              "备份全部完成！"}));
  std::vector<int64_t> ms;
  for (const auto& p : pauses) ms.push_back(p.ms);
  EXPECT_EQ(ms, (std::vector<int64_t>{800, 800, 800, 1000, 800, 800}));
  EXPECT_EQ(Read(kBak + "\\我的文档\\d.txt"), "d");
  EXPECT_EQ(Read(kBak + "\\收藏夹\\Links\\f.url"), "f");
  EXPECT_EQ(Read(kBak + "\\个人桌面\\u.lnk"), "u");
  EXPECT_EQ(Read(kBak + "\\公共桌面\\p.lnk"), "p");
  // The favourites inside the documents are left out there, not here.
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, WithoutTheUsersFolderThePublicDesktopComesFromTheOlderPlace) {
  Boxes(false, false, true, false);
  fs::remove_all(Host("C:\\Users\\Public"));
  MakeFile("C:\\Documents and Settings\\All Users\\桌面\\shared.lnk", "s");
  MakeFile(kDesk + "\\mine.lnk", "m");
  Run();
  EXPECT_EQ(Read(kBak + "\\公共桌面\\shared.lnk"), "s");
  EXPECT_EQ(Read(kBak + "\\个人桌面\\mine.lnk"), "m");
  ExpectEndedWithDownload();
}

// Presses the cancel button on the UI thread while the worker is inside the
// named file, and holds the worker there until the press has happened.
void CancelInside(BackupFrm& frm, TaskQueueUiThread& ui, const std::string& file, std::atomic<int>& presses) {
  plat::sim::SetCopyChunkObserver([&frm, &ui, file, &presses](const std::string& from, int64_t) {
    if (from != file || presses > 0) return;
    std::atomic<bool> pressed{false};
    ui.Post([&] {
      frm.btnCancelBackup.Click();
      ++presses;
      pressed = true;
    });
    while (!pressed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
}

TEST_F(BackupStageTest, CancelInsideALargeDocumentEndsThePartAndRemovesTheUnfinishedCopy) {
  Boxes(true, true, true, true);
  const std::string big = kDocs + "\\a\\big.iso";
  MakeFile(kDocs + "\\a\\small.txt", "s");
  MakeFile(big, std::string(static_cast<size_t>(3 * plat::kCopyChunkBytes), 'b'));
  MakeFile(kDocs + "\\a\\zz.txt", "z");
  MakeFile(kFav + "\\f.url", "f");
  // A good copy from an earlier run stays until a whole new one replaces it.
  MakeFile(kBak + "\\我的文档\\a\\big.iso", "earlier copy");
  std::atomic<int> presses{0};
  CancelInside(*frm_, ui_, big, presses);

  const auto pauses = Run();
  EXPECT_EQ(presses, 1);
  EXPECT_TRUE(frm_->vStopBackup);
  // No favourites, desktop or broadband step; the run still ends and the
  // download follows.
  EXPECT_EQ(texts_, (std::vector<std::string>{"正在备份“我的文档”，请稍后...", "备份全部完成！"}));
  ASSERT_EQ(pauses.size(), 2u);
  EXPECT_EQ(pauses[0].ms, 800);
  EXPECT_EQ(Read(kBak + "\\我的文档\\a\\big.iso"), "earlier copy");
  EXPECT_FALSE(plat::FileExists(kBak + "\\收藏夹\\f.url"));
  // What came before the large file in the listing is copied, nothing after
  // it, and no unfinished copy is left.
  std::vector<std::string> expected = {"我的文档/a/big.iso"};
  for (const std::string& f : CollectFiles(kDocs, kDocs, "*.*", -1)) {
    if (f == big) break;
    expected.push_back("我的文档/a/" + ExtractFileName(f));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesBelow(kBak), expected);
  EXPECT_EQ(CountInLog("CopyFile Error:"), 0) << "a cancel is no failure";
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, EachBoxIsReadWhenItsPartIsDue) {
  Boxes(true, true, false, false);
  MakeFile(kDocs + "\\d.txt", "d");
  MakeFile(kFav + "\\f.url", "f");
  MakeFile(kDesk + "\\u.lnk", "u");
  // While the documents are copied the user changes the later boxes.
  std::atomic<int> changes{0};
  plat::sim::SetCopyChunkObserver([this, &changes](const std::string&, int64_t) {
    if (changes > 0) return;
    std::atomic<bool> done{false};
    ui_.Post([&] {
      frm_->chkBakIEFav.SetChecked(false);
      frm_->chkBakDesktop.SetChecked(true);
      frm_->chkBakADSL.SetChecked(true);
      ++changes;
      done = true;
    });
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  Run();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(texts_, (std::vector<std::string>{"正在备份“我的文档”，请稍后...", "正在备份“个人桌面”，请稍后...",
                                              "正在备份“公共桌面”，请稍后...", "正在备份“宽带账号”，请稍后...",
                                              "备份“宽带账号”完成！", "备份全部完成！"}));
  EXPECT_EQ(FilesBelow(kBak), (std::vector<std::string>{"个人桌面/u.lnk", "我的文档/d.txt"}));
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, CancelInTheUserDesktopStillShowsThePublicDesktopButCopiesNothingThere) {
  Boxes(false, false, true, true);
  const std::string big = kDesk + "\\big.bin";
  MakeFile(big, std::string(static_cast<size_t>(2 * plat::kCopyChunkBytes), 'b'));
  MakeFile(kPublic + "\\p.lnk", "p");
  std::atomic<int> presses{0};
  CancelInside(*frm_, ui_, big, presses);
  Run();
  EXPECT_EQ(texts_, (std::vector<std::string>{"正在备份“个人桌面”，请稍后...", "正在备份“公共桌面”，请稍后...",
                                              "备份全部完成！"}));
  EXPECT_TRUE(FilesBelow(kBak).empty());
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, AFullDriveIsLoggedPerFileAndTheBarStillAdvances) {
  Boxes(true, false, false, false);
  for (int i = 0; i < 3; ++i) MakeFile(kDocs + "\\big" + std::to_string(i) + ".bin", std::string(64 * 1024, 'b'));
  MakeFile(kDocs + "\\small.txt", "fits");
  // A drive with room for a few kilobytes per file: the process may write no
  // file beyond 16 KiB while the backup runs.
  struct rlimit saved;
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 16 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto pauses = Run();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  ASSERT_FALSE(pauses.empty());
  EXPECT_EQ(pauses[0].position, 4);
  EXPECT_EQ(pauses[0].max, 4);
  EXPECT_EQ(CountInLog("CopyFile Error:"), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(CountInLog("CopyFile Error:" + kDocs + "\\big" + std::to_string(i) + ".bin"), 1);
  EXPECT_EQ(FilesBelow(kBak), std::vector<std::string>{"我的文档/small.txt"});
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, AnUnwritableDestinationIsLoggedPerFile) {
  Boxes(true, false, false, false);
  MakeFile(kDocs + "\\keep.txt", "k");
  MakeFile(kDocs + "\\Sub\\a.txt", "a");
  MakeFile(kDocs + "\\Sub\\b.txt", "b");
  // A file where the backup needs its folder: the folder cannot be made.
  MakeFile(kBak + "\\我的文档\\Sub", "in the way");
  Run();
  EXPECT_EQ(CountInLog("CopyFile Error:"), 2);
  EXPECT_EQ(CountInLog("CopyFile Error:" + kDocs + "\\Sub\\a.txt"), 1);
  EXPECT_EQ(Read(kBak + "\\我的文档\\keep.txt"), "k");
  EXPECT_EQ(frm_->pbBackup.Max(), 3);
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, AReadOnlyDataDriveIsLoggedPerFile) {
  Boxes(true, false, false, false);
  MakeFile(kDocs + "\\a.txt", "a");
  MakeFile(kDocs + "\\b.txt", "b");
  ASSERT_TRUE(plat::ForceDirectories(kBak + "\\我的文档"));
  // The folder the copies go to refuses every write: without the right to
  // write where we are not root, with the immutable flag where we are.
  const std::string folder = Host(kBak + "\\我的文档");
  ::chmod(folder.c_str(), 0555);
  const bool immutable = ::geteuid() == 0 && std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) == 0;
  const bool writable = ::access(folder.c_str(), W_OK) == 0 && std::ofstream(folder + "/probe").good();
  ::unlink((folder + "/probe").c_str());
  if (writable) {
    if (immutable) std::system(("chattr -i '" + folder + "'").c_str());
    GTEST_SKIP() << "no way to make a folder read-only here";
  }
  Run();
  if (immutable) std::system(("chattr -i '" + folder + "'").c_str());
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(CountInLog("CopyFile Error:"), 2);
  EXPECT_EQ(frm_->pbBackup.Position(), 2);
  EXPECT_TRUE(FilesBelow(kBak).empty());
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, AFileHeldByAnotherProgramIsLoggedAndSkipped) {
  Boxes(true, false, false, false);
  MakeFile(kDocs + "\\mail.pst", "held");
  MakeFile(kDocs + "\\letter.doc", "free");
  plat::ExclusiveFile held;
  ASSERT_TRUE(held.Open(kDocs + "\\mail.pst"));
  Run();
  EXPECT_EQ(CountInLog("CopyFile Error:" + kDocs + "\\mail.pst"), 1);
  EXPECT_EQ(Read(kBak + "\\我的文档\\letter.doc"), "free");
  EXPECT_FALSE(plat::FileExists(kBak + "\\我的文档\\mail.pst"));
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, LinksInsideDocumentsAreNotFollowed) {
  Boxes(true, false, false, false);
  MakeFile(kDocs + "\\own.txt", "mine");
  MakeFile("C:\\Secret\\other.txt", "not the user's");
  // A loop back to the documents and a way out of them.
  ASSERT_EQ(::symlink(Host(kDocs).c_str(), Host(kDocs + "\\loop").c_str()), 0);
  ASSERT_EQ(::symlink(Host("C:\\Secret").c_str(), Host(kDocs + "\\outside").c_str()), 0);
  ASSERT_EQ(::symlink(Host("C:\\Secret\\other.txt").c_str(), Host(kDocs + "\\file-link.txt").c_str()), 0);
  const auto pauses = Run();
  EXPECT_EQ(FilesBelow(kBak), std::vector<std::string>{"我的文档/own.txt"});
  ASSERT_FALSE(pauses.empty());
  EXPECT_EQ(pauses[0].max, 1);
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, DocumentsAtTheDataDrivesRootDoNotCopyTheBackupIntoItself) {
  Boxes(true, false, false, false);
  // (No log here: it would be one of the documents.)
  Patch({{"shellFolders", {{"Personal", "D:\\"}, {"Desktop", kDesk}, {"Favorites", kFav}}}, {"args", json::array()}});
  MakeFile("D:\\doc.txt", "d");
  MakeFile(kBak + "\\我的文档\\earlier.txt", "e");
  Run();
  EXPECT_EQ(FilesBelow(kBak), (std::vector<std::string>{"我的文档/doc.txt", "我的文档/earlier.txt"}));
  EXPECT_EQ(frm_->downloads, 1);
}

TEST_F(BackupStageTest, AFolderThatIsNotSetCopiesNothing) {
  Boxes(true, false, true, false);
  Patch({{"shellFolders", {{"Desktop", kDesk}}}});
  MakeFile("C:\\rootfile.txt", "not a document");
  MakeFile(kDesk + "\\u.lnk", "u");
  Run();
  EXPECT_EQ(FilesBelow(kBak), std::vector<std::string>{"个人桌面/u.lnk"});
  ExpectEndedWithDownload();
}

TEST_F(BackupStageTest, AnErrorStopsTheRunOnThePanelWithoutTheDownload) {
  Boxes(true, true, false, true);
  Patch({{"shellFolders", {{"Personal", kDocs}, {"Favorites", 42}}}});
  MakeFile(kDocs + "\\d.txt", "d");
  Run();
  EXPECT_EQ(frm_->downloads, 0);
  EXPECT_EQ(frm_->form.FrontPanel(), &frm_->PnlBackupInfo);
  EXPECT_EQ(texts_, std::vector<std::string>{"正在备份“我的文档”，请稍后..."});
  EXPECT_EQ(CountInLog("Backup Error:"), 1);
  EXPECT_EQ(CountInLog("备份线程"), 1);
  EXPECT_TRUE(frm_->vFileList.empty());
}

TEST_F(BackupStageTest, AnErrorOutOfTheDownloadIsLoggedTheSameWay) {
  Boxes(false, false, false, false);
  frm_->downloadThrows = true;
  Run();
  EXPECT_EQ(frm_->downloads, 1);
  EXPECT_EQ(CountInLog("Backup Error:engine gone"), 1);
  const std::string log = LogText();
  EXPECT_LT(log.find("Backup Error:"), log.find("备份线程")) << "the closing line comes last";
}

}  // namespace
}  // namespace corvane
