// What the download panel shows of one progress snapshot: the status label
// with its hint, the bar with its hint, and the taskbar button.
#pragma once
#include <cstdint>
#include <string>

#include "download/uThunder.h"

namespace corvane {

// The label's text for an engine state that has one ("STARTPENDING",
// "STOPPENDING", "PAUSE", "ERROR", "COMPLETE"; exact comparison), or null
// when the snapshot shows progress instead ("DOWNLOAD", or empty before the
// first report).
const char* StateText(const std::string& state);

// The image's progress line: progressFormat (one "%.2f" for Percent x 100,
// one "%s" for the speed) filled from the snapshot.
std::string ProgressText(const char* progressFormat, const TProgressInfo& p);

// The label's hint, two lines joined by CR LF, the first part of each padded
// with blanks to 15 characters:
//   文件大小：<TotalSize>    已下载：<DownSize>
//   资源总数：<SrcTotal>     已使用：<SrcUsing>
std::string ProgressHint(const TProgressInfo& p);

// The bar runs from 0 to 100: Percent x 100 truncated toward zero.
int BarPosition(float percent);
// "当前进度：50.00%".
std::string BarHint(float percent);

// Progress on the taskbar button in steps of a ten-thousandth.
inline constexpr uint64_t kTaskbarSteps = 10000;
uint64_t TaskbarSteps(float percent);

}  // namespace corvane
