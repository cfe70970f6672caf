// What the download panel shows of one progress snapshot.
#include <gtest/gtest.h>

#include <cmath>

#include "common/text.h"
#include "download/DownloadDisplay.h"

namespace corvane {
namespace {

TProgressInfo Snapshot(float percent, int32_t speed) {
  TProgressInfo p;
  p.Percent = percent;
  p.Speed = speed;
  p.State = "DOWNLOAD";
  return p;
}

TEST(DownloadDisplay, HalfWayAtOneAndAHalfKilobytesASecond) {
  const TProgressInfo p = Snapshot(0.5f, 1536);
  EXPECT_EQ(ProgressText("下载安装镜像(1/2)：进度 %.2f%% 速度 %s/s", p), "下载安装镜像(1/2)：进度 50.00% 速度 1.50KB/s");
  EXPECT_EQ(ProgressText("下载引导组件(2/2)：进度 %.2f%% 速度 %s/s", Snapshot(1.0f, 0)),
            "下载引导组件(2/2)：进度 100.00% 速度 0B/s");
  EXPECT_EQ(BarPosition(p.Percent), 50);
  EXPECT_EQ(BarHint(p.Percent), "当前进度：50.00%");
}

TEST(DownloadDisplay, TheBarTruncatesTowardZeroAndStaysInItsRange) {
  EXPECT_EQ(BarPosition(0.29f), 28);  // 0.29f is a little under 0.29
  EXPECT_EQ(BarPosition(0.999f), 99);
  EXPECT_EQ(BarPosition(1.0f), 100);
  EXPECT_EQ(BarPosition(0.0f), 0);
  EXPECT_EQ(BarPosition(-0.5f), 0);
  EXPECT_EQ(BarPosition(3.0f), 100);
  EXPECT_EQ(BarPosition(std::nanf("")), 0);
  EXPECT_EQ(BarHint(0.29f), "当前进度：29.00%");  // the hint rounds
  EXPECT_EQ(TaskbarSteps(0.5f), kTaskbarSteps / 2);
  EXPECT_EQ(TaskbarSteps(2.0f), kTaskbarSteps);
  EXPECT_EQ(TaskbarSteps(std::nanf("")), 0u);
}

TEST(DownloadDisplay, HintPadsTheFirstPartOfEachLineToFifteenCharacters) {
  TProgressInfo p = Snapshot(0.25f, 0);
  p.TotalSize = 1073741824;  // 1.00GB
  p.DownSize = 268435456;    // 256.00MB
  p.SrcTotal = 8;
  p.SrcUsing = 3;
  // "文件大小：1.00GB" is 11 characters (and 21 bytes): four blanks follow.
  EXPECT_EQ(ProgressHint(p), "文件大小：1.00GB    已下载：256.00MB\r\n资源总数：8         已使用：3");
  // Texts of 15 characters or more stay as they are.
  p.TotalSize = 10240LL << 30;  // 10240.00GB
  p.SrcTotal = 1234567890123;
  EXPECT_EQ(ProgressHint(p), "文件大小：10240.00GB已下载：256.00MB\r\n资源总数：1234567890123已使用：3");
}

}  // namespace
}  // namespace corvane
