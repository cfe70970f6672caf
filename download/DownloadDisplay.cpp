#include "download/DownloadDisplay.h"

#include <cmath>

#include "common/text.h"

namespace corvane {

const char* StateText(const std::string& state) {
  if (state == "STARTPENDING") return "开始下载...";
  if (state == "STOPPENDING") return "暂停中...";
  if (state == "PAUSE") return "已暂停";
  if (state == "ERROR") return "下载错误";
  if (state == "COMPLETE") return "下载完成";
  return nullptr;
}

std::string ProgressText(const char* progressFormat, const TProgressInfo& p) {
  // The format is one of the stage's own constants.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  return Format(progressFormat, static_cast<double>(p.Percent) * 100.0, TThunder::Byte2Str(p.Speed).c_str());
#pragma GCC diagnostic pop
}

std::string ProgressHint(const TProgressInfo& p) {
  return PadRight("文件大小：" + TThunder::Byte2Str(p.TotalSize), 15) + "已下载：" + TThunder::Byte2Str(p.DownSize) +
         "\r\n" + PadRight("资源总数：" + std::to_string(p.SrcTotal), 15) + "已使用：" + std::to_string(p.SrcUsing);
}

int BarPosition(float percent) {
  const double v = static_cast<double>(percent) * 100.0;
  // Out of range and NaN end at the bar's ends rather than in undefined
  // conversions; the bar clamps anyway.
  if (!(v > 0)) return 0;
  if (v >= 100) return 100;
  return static_cast<int>(std::trunc(v));
}

std::string BarHint(float percent) { return Format("当前进度：%.2f%%", static_cast<double>(percent) * 100.0); }

uint64_t TaskbarSteps(float percent) {
  const double v = static_cast<double>(percent) * kTaskbarSteps;
  if (!(v > 0)) return 0;
  if (v >= kTaskbarSteps) return kTaskbarSteps;
  return static_cast<uint64_t>(v);
}

}  // namespace corvane
