// TThunder: one download through the engine library xldl.dll. It unpacks the
// engine from the program's resources into a folder of its own, loads it,
// creates the task, polls it every 100 ms on a thread of its own and keeps a
// progress snapshot, stops it, and on destruction unloads the engine and
// removes its folder.
//
// Threads: the owner (a stage's worker) creates, starts and destroys it;
// Stop may come from any thread; the polling thread hands some updates to the
// UI thread and waits for them, so the wrapper is destroyed on a worker,
// never on the UI thread. OnProgress runs on the UI thread, OnComplete and
// OnError on the polling thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/clock.h"
#include "download/engine/xldl_records.h"
#include "platform/dynlib.h"
#include "platform/held.h"

namespace corvane {

struct TProgressInfo {
  int64_t TotalSize = 0;
  int64_t DownSize = 0;
  int64_t SrcTotal = 0;
  int64_t SrcUsing = 0;
  int32_t Speed = 0;
  int32_t SpeedP2S = 0;
  int32_t SpeedP2P = 0;
  float Percent = 0;
  std::string State;  // "DOWNLOAD", "PAUSE", ...; empty before the first report
};

using TProgressEvent = std::function<void(int64_t TotalSize, int64_t DownSize, int64_t SrcTotal, int64_t SrcUsing,
                                          int32_t Speed, int32_t SpeedP2S, int32_t SpeedP2P, float Percent,
                                          const std::string& State)>;
using TCompleteEvent = std::function<void()>;
using TErrorEvent = std::function<void(uint8_t ErrorCode)>;  // TASK_ERROR_TYPE

// The firewall entry of the engine host while a download runs.
inline constexpr const char* kThunderFirewallName = "迅雷下载模块";

class TThunder {
 public:
  // Raises Exception "迅雷引擎接口不正确！" when the engine cannot be loaded or
  // lacks an entry point, "初始化迅雷引擎失败！" when it does not initialise;
  // the partly built wrapper is torn down first.
  TThunder(const std::string& pUrl, const std::string& pSavePath, const std::string& pRefUrl, bool pAdd2Fw,
           bool pResume, Clock& clock = SystemClock());
  virtual ~TThunder();
  TThunder(const TThunder&) = delete;
  TThunder& operator=(const TThunder&) = delete;

  // Starts the task and the polling thread; false (nothing started) when
  // there is no engine or task or the engine refuses.
  bool Start();
  // Stops the task, with pDelTemp also deleting its partial data; false,
  // leaving Downloading as it was, when the engine refuses.
  bool Stop(bool pDelTemp);
  void SetSpeedLimit(int32_t nKBps);
  static std::string Byte2Str(int64_t pValue);

  // True while the polling loop is to run.
  bool Downloading() const;
  // A consistent copy of the latest progress snapshot.
  TProgressInfo Progress() const;
  // The private folder's name (32 hexadecimal digits).
  const std::string& XlDir() const { return vXlDir; }

  // Assigned before Start.
  TProgressEvent OnProgress;
  TCompleteEvent OnComplete;
  TErrorEvent OnError;

 private:
  struct Shared;
  void TearDown() noexcept;
  void FillTaskParam(const std::string& pUrl, const std::string& pSavePath, const std::string& pRefUrl, bool pResume);
  std::string FolderPath() const;
  std::string FirewallPath() const;
  static void DoProgress(std::shared_ptr<Shared> s);

  XL_Init_t f_Init = nullptr;
  XL_CreateTask_t f_CreateTask = nullptr;
  XL_QueryTaskInfoEx_t f_QueryTaskInfoEx = nullptr;
  XL_StartTask_t f_StartTask = nullptr;
  XL_StopTask_t f_StopTask = nullptr;
  XL_DelTempFile_t f_DelTempFile = nullptr;
  XL_UnInit_t f_UnInit = nullptr;
  XL_SetSpeedLimit_t f_SetSpeedLimit = nullptr;
  std::string vXlDir;
  plat::LibHandle vDllHandle = 0;
  XL_HANDLE vDHandle = 0;
  std::unique_ptr<TDownTaskParam> DTP;
  std::string vTempDir;
  bool vOwnFolder = false;  // the engine folder was made by this wrapper
  plat::Holds vHolds;       // the engine folder and its files, until the teardown
  // What the polling thread uses lives here, so that it stays valid for a
  // thread that has to be let go (see the destructor).
  std::shared_ptr<Shared> shared_;
};

}  // namespace corvane
