// The environment check, run on its own worker: it measures on the worker
// and hands each of its five screen steps (S1 to S5) to the UI thread,
// waiting for each. The working record below is shared by the worker and the
// screen steps; every access is ordered by those hand-overs.
#include <exception>
#include <string>

#include "inspection/environment_check.h"
#include "inspection/uCommon.h"
#include "window/main_model.h"
#include "window/Log.h"

namespace corvane {
namespace {

// What one run measures and decides; a fresh one per run.
struct CheckRecord {
  bool vPass = true;
  int32_t vCPUReq = 0;        // MHz
  int32_t vCPUCoreNum = 0;
  int32_t vCPUAddrWidth = 0;  // bits
  std::string vCPUManufacturer;
  int64_t vMemSize = 0;
  int64_t vSysDiskSize = -1;
  bool vBootCheckPass = false;
  bool vNetPass = false;
};

// Pause that keeps each progress text on screen long enough to be read.
constexpr int64_t kReadingPauseMs = 800;

constexpr const char* kPass = "PASS";
constexpr const char* kUnpass = "UNPASS";

// Writes one result line: its text and picture; a failed item fails the run.
void ShowLine(CheckRecord& r, Control& label, Control& picture, const CheckLine& line) {
  label.SetCaption(line.text);
  picture.SetPicture(line.pass ? kPass : kUnpass);
  if (!line.pass) r.vPass = false;
}

}  // namespace

void TMainModel::Thrd_CheckHardware() {
  CheckRecord r;
  try {
    const std::string sysDrive = GetWinDir().substr(0, 2);

    ui.Sync([&] {  // S1
      form.BringToFront(PnlCheckProgress);
      lbl_PnlCheckProgress_Info.SetCaption("正在评估CPU相关数据...");
    });

    r.vCPUReq = ReadWmiInt32(GetWmiValue("Processor", "MaxClockSpeed"));
    r.vCPUCoreNum = ReadWmiInt32(GetWmiValue("Processor", "NumberOfCores"));
    r.vCPUAddrWidth = ReadWmiInt32(GetWmiValue("Processor", "DataWidth"));
    r.vCPUManufacturer = GetWmiValue("Processor", "Manufacturer");

    ui.Sync([&] {  // S2: the processor line
      const CheckLine cpu = ProcessorLine(r.vCPUManufacturer, r.vCPUAddrWidth, r.vCPUCoreNum, r.vCPUReq);
      ShowLine(r, lbl_PnlCheckHrd_CPUState, Pnl_PnlCheckHrd_CPUState, cpu);
      // A single core leaves the progress text as it was.
      if (cpu.pass) lbl_PnlCheckProgress_Info.SetCaption("获取物理内存数据中...");
    });

    r.vMemSize = ReadWmiInt64(GetWmiValue("ComputerSystem", "TotalPhysicalMemory"));
    clock.SleepMs(kReadingPauseMs);

    ui.Sync([&] {  // S3: the memory line and a first system-disk text
      ShowLine(r, lbl_PnlCheckHrd_MemState, Pnl_PnlCheckHrd_MemState, MemoryLine(r.vMemSize));
      lbl_PnlCheckProgress_Info.SetCaption("正在分析系统磁盘空间...");
      lbl_PnlCheckHrd_SysDiskSizeState.SetCaption(FormatByteSize(GetDriveTotalSize(sysDrive)));
    });

    const std::string dataDrive = ChooseDataDrive(sysDrive);
    ui.Sync([&] { vDataDriver = dataDrive; });  // stored at once, whatever follows
    r.vSysDiskSize = GetDriveTotalSize(sysDrive);
    r.vBootCheckPass = CheckBootEntry();
    clock.SleepMs(kReadingPauseMs);

    ui.Sync([&] {  // S4: the data-drive and system-disk lines
      const int64_t free = vDataDriver.empty() ? -1 : GetDriveFreeSize(vDataDriver);
      ShowLine(r, lbl_PnlCheckHrd_DownDiskSizeState, Pnl_PnlCheckHrd_DownDiskSizeState,
               DataDriveLine(vDataDriver, free));
      ShowLine(r, lbl_PnlCheckHrd_SysDiskSizeState, Pnl_PnlCheckHrd_SysDiskSizeState,
               SystemDiskLine(r.vSysDiskSize, r.vBootCheckPass));
      lbl_PnlCheckProgress_Info.SetCaption("正在检测网络连通情况...");
    });

    r.vNetPass = CheckNetwork();

    ui.Sync([&] {  // S5: the network line and the verdict
      ShowLine(r, lbl_PnlCheckHrd_NetState, Pnl_PnlCheckHrd_NetState, NetworkLine(r.vNetPass));
      if (r.vPass) {
        btnCheck2Next.SetCaption("下一步");
        Pnl_PnlCheckHrd_Logo.SetPicture("OK");
        vPlatform = ChooseEdition(r.vCPUCoreNum, r.vCPUReq, r.vCPUAddrWidth, r.vMemSize);
        lbl_PnlCheckHrd_Title1.SetCaption(VerdictTitle(vPlatform));
        vStep = TStep::Check;
        ArmAutoCountdown();  // only while the auto switch is on
      } else {
        // vPlatform and vStep keep what an earlier run left.
        btnCheck2Next.SetCaption("重新检测");
        Pnl_PnlCheckHrd_Logo.SetPicture("FAIL");
        lbl_PnlCheckHrd_Title1.SetCaption(VerdictTitle(""));
      }
      form.BringToFront(PnlCheckHrd);
    });
  } catch (const std::exception& e) {
    // The run stops where it is: no further screen step, no verdict.
    Log(std::string("Thrd_CheckHardware Error:") + e.what());
  } catch (...) {
    Log("Thrd_CheckHardware Error:");
  }
  // Finished or stopped, the window is asked to repaint as a whole.
  ui.Sync([this] { form.NotifyAll(nullptr, Control::Change::Order); });
}

}  // namespace corvane
