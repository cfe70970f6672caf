#include "download/uThunder.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "common/errors.h"
#include "common/text.h"
#include "common/ui_thread.h"
#include "platform/unzip.h"
#include "inspection/uCommon.h"
#include "platform/detached_thread.h"
#include "platform/platform.h"

namespace corvane {

struct TThunder::Shared {
  std::atomic<bool> downloading{false};
  std::atomic<bool> closing{false};
  Clock* clock = nullptr;

  mutable std::mutex progressMu;
  TProgressInfo progress;

  // Held around every engine call of the polling thread; the destructor
  // takes it before unloading the engine, after which `engineGone` keeps
  // the thread away from it.
  std::mutex engineMu;
  bool engineGone = false;
  XL_QueryTaskInfoEx_t query = nullptr;
  XL_HANDLE task = 0;
  TDownTaskInfo dti{};

  TProgressEvent onProgress;
  TCompleteEvent onComplete;
  TErrorEvent onError;

  std::mutex doneMu;
  std::condition_variable doneCv;
  bool pollerRunning = false;

  void SetProgress(const TProgressInfo& p) {
    std::lock_guard<std::mutex> g(progressMu);
    progress = p;
  }
};

namespace {

TProgressInfo Zeros(const char* state) {
  TProgressInfo p;
  p.State = state;
  return p;
}

// A hand-over to the UI thread, waited for; without a UI it runs here.
void OnUi(const std::function<void()>& fn) {
  if (UiThread* ui = MainUi()) {
    ui->Sync(fn);
  } else {
    fn();
  }
}

// Copies a text with its terminating zero; a text too long for the field is
// left out entirely, since a cut address or path would name something else.
void PutText(char16_t* field, size_t units, const std::string& text) {
  const std::u16string u = Utf8ToUtf16(text);
  std::memset(field, 0, units * sizeof(char16_t));
  if (u.size() + 1 > units) return;
  std::memcpy(field, u.data(), u.size() * sizeof(char16_t));
}

}  // namespace

TThunder::TThunder(const std::string& pUrl, const std::string& pSavePath, const std::string& pRefUrl, bool pAdd2Fw,
                   bool pResume, Clock& clock)
    : DTP(std::make_unique<TDownTaskParam>()), shared_(std::make_shared<Shared>()) {
  std::memset(DTP.get(), 0, sizeof(TDownTaskParam));
  shared_->clock = &clock;
  vXlDir = plat::NewGuid32();
  // Without a GUID the engine's folder would be the temporary folder itself,
  // which the teardown would then remove whole.
  if (vXlDir.size() != 32) throw Exception("迅雷引擎接口不正确！");
  vTempDir = GetTempDir();
  // Unpacking failures show up below as a library that does not load. A
  // folder of that name that was there before is not ours: nothing is
  // unpacked into it, loaded from it or removed with it. The engine's files
  // are held from their extraction until the wrapper is destroyed, so that
  // no other program can swap the library between its writing and its
  // loading (the temporary folder is the user's); the archive goes from the
  // resource straight into the folder, never through a file of its own.
  bool unpacked = false;
  try {
    vOwnFolder = plat::CreateDir(FolderPath());
    std::string_view archive;
    if (vOwnFolder && vHolds.HoldFolder(FolderPath()) && plat::FindResourceData("ZIP", "Thunder", archive)) {
      ExtractZipDataHeld(archive, FolderPath() + "\\", vHolds);
      unpacked = true;
    }
  } catch (...) {
  }
  if (pAdd2Fw) AddFirewallApp(kThunderFirewallName, FirewallPath());

  if (unpacked) vDllHandle = plat::LoadLib(FolderPath() + "\\xldl.dll");
  f_Init = reinterpret_cast<XL_Init_t>(plat::LibSymbol(vDllHandle, "XL_Init"));
  f_UnInit = reinterpret_cast<XL_UnInit_t>(plat::LibSymbol(vDllHandle, "XL_UnInit"));
  f_CreateTask = reinterpret_cast<XL_CreateTask_t>(plat::LibSymbol(vDllHandle, "XL_CreateTask"));
  f_StartTask = reinterpret_cast<XL_StartTask_t>(plat::LibSymbol(vDllHandle, "XL_StartTask"));
  f_StopTask = reinterpret_cast<XL_StopTask_t>(plat::LibSymbol(vDllHandle, "XL_StopTask"));
  f_DelTempFile = reinterpret_cast<XL_DelTempFile_t>(plat::LibSymbol(vDllHandle, "XL_DelTempFile"));
  f_QueryTaskInfoEx = reinterpret_cast<XL_QueryTaskInfoEx_t>(plat::LibSymbol(vDllHandle, "XL_QueryTaskInfoEx"));
  f_SetSpeedLimit = reinterpret_cast<XL_SetSpeedLimit_t>(plat::LibSymbol(vDllHandle, "XL_SetSpeedLimit"));
  if (!f_Init || !f_UnInit || !f_CreateTask || !f_StartTask || !f_StopTask || !f_DelTempFile || !f_QueryTaskInfoEx ||
      !f_SetSpeedLimit) {
    TearDown();
    throw Exception("迅雷引擎接口不正确！");
  }
  if (f_Init() == 0) {
    TearDown();
    throw Exception("初始化迅雷引擎失败！");
  }
  FillTaskParam(pUrl, pSavePath, pRefUrl, pResume);
  vDHandle = f_CreateTask(DTP.get());
  shared_->query = f_QueryTaskInfoEx;
  shared_->task = vDHandle;
}

void TThunder::FillTaskParam(const std::string& pUrl, const std::string& pSavePath, const std::string& pRefUrl,
                             bool pResume) {
  // The engine writes where the host puts the file: the path itself on
  // Windows, its place inside the simulated machine elsewhere.
  const std::string target = plat::HostPath(pSavePath);
  const size_t cut = target.find_last_of("\\/");
  const std::string folder = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  const std::string name = cut == std::string::npos ? target : target.substr(cut + 1);
  PutText(DTP->szTaskUrl, 2084, pUrl);
  PutText(DTP->szFilename, 260, name);
  PutText(DTP->szSavePath, 260, folder);
  PutText(DTP->szRefUrl, 2084, pRefUrl);
  DTP->IsResume = pResume ? -1 : 0;
}

std::string TThunder::FolderPath() const { return vTempDir + vXlDir; }
std::string TThunder::FirewallPath() const { return FolderPath() + "\\download\\MiniThunderPlatform.exe"; }

bool TThunder::Downloading() const { return shared_->downloading.load(); }

TProgressInfo TThunder::Progress() const {
  std::lock_guard<std::mutex> g(shared_->progressMu);
  return shared_->progress;
}

bool TThunder::Start() {
  if (vDllHandle == 0 || vDHandle == 0 || f_StartTask(vDHandle) == 0) return false;
  Shared& s = *shared_;
  s.onProgress = OnProgress;
  s.onComplete = OnComplete;
  s.onError = OnError;
  s.downloading = true;
  {
    std::lock_guard<std::mutex> g(s.doneMu);
    if (s.pollerRunning) return true;  // the loop of an earlier start still runs
    s.pollerRunning = true;
  }
  if (!plat::StartDetachedThread([shared = shared_] { DoProgress(shared); })) {
    std::lock_guard<std::mutex> g(s.doneMu);
    s.pollerRunning = false;
    s.downloading = false;
    return false;
  }
  return true;
}

bool TThunder::Stop(bool pDelTemp) {
  if (vDllHandle == 0 || vDHandle == 0 || f_StopTask(vDHandle) == 0) return false;
  if (pDelTemp) f_DelTempFile(DTP.get());
  shared_->downloading = false;
  return true;
}

void TThunder::SetSpeedLimit(int32_t nKBps) {
  if (f_SetSpeedLimit) f_SetSpeedLimit(nKBps);
}

void TThunder::DoProgress(std::shared_ptr<Shared> sp) {
  Shared& s = *sp;
  while (s.downloading.load()) {
    bool filled = false;
    {
      std::lock_guard<std::mutex> g(s.engineMu);
      if (s.engineGone) break;
      filled = s.query(s.task, &s.dti) != 0;
    }
    if (filled) {
      const TDownTaskInfo d = s.dti;
      switch (d.stat) {
        case TSC_DOWNLOAD: {
          TProgressInfo p;
          p.TotalSize = d.nTotalSize;
          p.DownSize = d.nTotalDownload;
          p.SrcTotal = d.nSrcTotal;
          p.SrcUsing = d.nSrcUsing;
          p.Speed = d.nSpeed;
          p.SpeedP2S = d.nSpeedP2S;
          p.SpeedP2P = d.nSpeedP2P;
          p.Percent = d.fPercent;
          p.State = "DOWNLOAD";
          s.SetProgress(p);
          OnUi([&s, p] {
            if (s.onProgress && !s.closing.load())
              s.onProgress(p.TotalSize, p.DownSize, p.SrcTotal, p.SrcUsing, p.Speed, p.SpeedP2S, p.SpeedP2P,
                           p.Percent, p.State);
          });
          break;
        }
        case TSC_PAUSE:
          OnUi([&s, d] {
            TProgressInfo p = Zeros("PAUSE");
            p.TotalSize = d.nTotalSize;
            p.DownSize = d.nTotalDownload;
            p.Percent = d.fPercent;
            s.SetProgress(p);
            if (s.onProgress && !s.closing.load())
              s.onProgress(p.TotalSize, p.DownSize, 0, 0, 0, 0, 0, p.Percent, p.State);
          });
          break;
        case TSC_STARTPENDING:
          s.SetProgress(Zeros("STARTPENDING"));
          OnUi([&s] {
            if (s.onProgress && !s.closing.load()) s.onProgress(0, 0, 0, 0, 0, 0, 0, 0.0f, "STARTPENDING");
          });
          break;
        case TSC_STOPPENDING:
          OnUi([&s, d] {
            s.SetProgress(Zeros("STOPPENDING"));
            if (s.onProgress && !s.closing.load())
              s.onProgress(d.nTotalSize, d.nTotalDownload, 0, 0, 0, 0, 0, d.fPercent, "STOPPENDING");
          });
          break;
        case TSC_COMPLETE:
          s.downloading = false;
          s.SetProgress(Zeros("COMPLETE"));
          if (s.onComplete) s.onComplete();
          break;
        case TSC_ERROR:
          s.downloading = false;
          s.SetProgress(Zeros("ERROR"));
          if (s.onError) s.onError(d.fail_code);
          break;
        default:  // NOITEM: no news
          break;
      }
    }
    s.clock->SleepMs(100);
  }
  std::lock_guard<std::mutex> g(s.doneMu);
  s.pollerRunning = false;
  s.doneCv.notify_all();
}

TThunder::~TThunder() { TearDown(); }

void TThunder::TearDown() noexcept {
  try {
    Shared& s = *shared_;
    s.closing = true;
    s.downloading = false;
    {
      // The polling thread ends after its pause. On the UI thread it may be
      // waiting for us in a hand-over; then, or if it never comes back, it is
      // let go: it keeps its shared state and no longer calls the engine.
      const bool onUi = MainUi() && MainUi()->IsUiThread();
      std::unique_lock<std::mutex> lk(s.doneMu);
      s.doneCv.wait_for(lk, std::chrono::milliseconds(onUi ? 300 : 10000), [&] { return !s.pollerRunning; });
    }
    try {
      RemoveFirewallApp(kThunderFirewallName, FirewallPath());
    } catch (...) {
    }
    if (vDllHandle != 0) {
      std::lock_guard<std::mutex> g(s.engineMu);
      s.engineGone = true;
      if (vDHandle != 0 && f_StopTask) f_StopTask(vDHandle);
      if (f_UnInit) f_UnInit();
      plat::FreeLib(vDllHandle);
      vDllHandle = 0;
    }
    vHolds.ReleaseAll();
    if (!vOwnFolder) return;
    // A file kept open a moment longer (an engine process still exiting)
    // gets a few more tries, never more than about two seconds.
    for (const std::string& dir : {FolderPath() + "\\download", FolderPath()}) {
      for (int i = 0; i < 20 && plat::DirectoryExists(dir); ++i) {
        plat::RemoveTree(dir);
        if (plat::DirectoryExists(dir)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  } catch (...) {
  }
}

std::string TThunder::Byte2Str(int64_t pValue) {
  try {
    if (pValue < 1024) return Format("%lldB", static_cast<long long>(pValue));
    if (pValue < 1048576) return Format("%.2fKB", pValue / 1024.0);
    if (pValue < 1073741824) return Format("%.2fMB", pValue / 1024.0 / 1024.0);
    return Format("%.2fGB", pValue / 1024.0 / 1024.0 / 1024.0);
  } catch (...) {
    return "-";
  }
}

}  // namespace corvane
