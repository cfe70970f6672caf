#include "update/UpdateProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace corvane {
namespace {

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, std::numeric_limits<int32_t>::max()));
}

std::string Fixed2(double v, std::string_view sep) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  std::string s = buf;
  const size_t dot = s.find('.');
  if (dot != std::string::npos) s.replace(dot, 1, sep);
  return s;
}

}  // namespace

int64_t RoundHalfEven(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int64_t>(std::nearbyint(v));  // the default rounding mode: to nearest, ties to even
}

UpdateProgress ComputeProgress(const std::string& url, int64_t fileSize, int64_t bytesRead, int64_t elapsedMs,
                               int index, int count) {
  UpdateProgress p;
  p.FileURL = url;
  const int64_t size = std::max<int64_t>(fileSize, 0);
  const int64_t read = std::max<int64_t>(bytesRead, 0);
  const int64_t elapsed = std::max<int64_t>(elapsedMs, 0) / 1000;
  p.FileSize = Clamp32(size);
  p.BytesRead = Clamp32(read);
  p.ElapsedTime = Clamp32(elapsed);
  // Nothing received yet: no estimate (rather than a division by zero).
  if (read > 0) p.EstimatedTimeLeft = Clamp32(RoundHalfEven(static_cast<double>(size) / read * elapsed) - elapsed);
  if (size > 0) p.PercentsDone = static_cast<uint8_t>(std::clamp<int64_t>(RoundHalfEven(read * 100.0 / size), 0, 100));
  if (count > 0) {
    const int64_t total = p.PercentsDone / count + RoundHalfEven(static_cast<double>(index) * 100.0 / count);
    p.TotalPercentsDone = static_cast<uint8_t>(std::clamp<int64_t>(total, 0, 100));
  }
  const double kb = read / 1024.0;
  p.TransferRate = static_cast<float>(elapsed != 0 ? kb / elapsed : kb);
  return p;
}

std::string UpdateProgressText(int totalPercents, float transferRate, std::string_view decimalSeparator) {
  const bool mega = transferRate >= 1024;
  const double shown = mega ? transferRate / 1024.0 : transferRate;
  return "正在升级到最新版(" + std::to_string(totalPercents) + "% " + Fixed2(shown, decimalSeparator) +
         (mega ? " MB/s)" : " KB/s)");
}

}  // namespace corvane
