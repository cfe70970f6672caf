// The progress of the update's downloads, as the window shows it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// Nearest integer, halves to the even neighbour.
int64_t RoundHalfEven(double v);

// The values of one progress notification.
struct UpdateProgress {
  std::string FileURL;
  int32_t FileSize = 0;           // bytes; 0 when unknown
  int32_t BytesRead = 0;
  int32_t ElapsedTime = 0;        // whole seconds since this file's transfer started
  int32_t EstimatedTimeLeft = 0;  // seconds
  uint8_t PercentsDone = 0;       // this file
  uint8_t TotalPercentsDone = 0;  // the whole update, 0..100
  float TransferRate = 0;         // KB/s
};

// fileSize < 0: unknown. index counts the entries from 0.
UpdateProgress ComputeProgress(const std::string& url, int64_t fileSize, int64_t bytesRead, int64_t elapsedMs,
                               int index, int count);

// "正在升级到最新版(37% 1.00 MB/s)" from 1024 KB/s on, "...(37% 1023.50 KB/s)"
// below, with the given decimal separator.
std::string UpdateProgressText(int totalPercents, float transferRate, std::string_view decimalSeparator);

}  // namespace corvane
