// xldl_get: fetches one address into one file through the engine and prints
// its progress; the driver of the benchmark and of the crash tests.
//
//   xldl_get [--resume] [--limit KBPS] [--die-after BYTES] [--fsize-limit BYTES] [--quiet] URL TARGET
//
// Exit code 0 complete, 2 engine error (the code is printed), 3 stopped,
// 1 bad use. --die-after ends the process abruptly, without any clean-up,
// once that many bytes are reported, as a crash would.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "download/engine/engine_text.h"
#include "download/engine/xldl_get_system.h"
#include "download/engine/xldl_records.h"

extern "C" {
int32_t XLDL_CALL XL_Init();
int32_t XLDL_CALL XL_UnInit();
XL_HANDLE XLDL_CALL XL_CreateTask(TDownTaskParam*);
int32_t XLDL_CALL XL_StartTask(XL_HANDLE);
int32_t XLDL_CALL XL_StopTask(XL_HANDLE);
int32_t XLDL_CALL XL_QueryTaskInfoEx(XL_HANDLE, TDownTaskInfo*);
void XLDL_CALL XL_SetSpeedLimit(int32_t);
}

namespace {
void Put(char16_t* dst, size_t cap, const std::string& s) {
  const std::u16string u = xldl::Utf8ToUtf16(s);
  const size_t n = u.size() < cap ? u.size() : cap - 1;
  std::memcpy(dst, u.data(), n * 2);
  dst[n] = 0;
}
}  // namespace

int main(int argc, char** argv) {
  bool resume = false, quiet = false;
  long long limit = 0, dieAfter = -1, fsizeLimit = -1;
  std::string url, target;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--resume") resume = true;
    else if (a == "--quiet") quiet = true;
    else if (a == "--limit" && i + 1 < argc) limit = std::atoll(argv[++i]);
    else if (a == "--die-after" && i + 1 < argc) dieAfter = std::atoll(argv[++i]);
    else if (a == "--fsize-limit" && i + 1 < argc) fsizeLimit = std::atoll(argv[++i]);
    else if (url.empty()) url = a;
    else target = a;
  }
  if (url.empty() || target.empty()) {
    std::fprintf(stderr, "usage: xldl_get [--resume] [--limit KBPS] [--die-after BYTES] [--quiet] URL TARGET\n");
    return 1;
  }
  if (fsizeLimit >= 0) LimitFileSize(fsizeLimit);
  const size_t cut = target.find_last_of("/\\");
  static TDownTaskParam p;
  Put(p.szTaskUrl, 2084, url);
  Put(p.szFilename, 260, cut == std::string::npos ? target : target.substr(cut + 1));
  Put(p.szSavePath, 260, cut == std::string::npos ? std::string() : target.substr(0, cut + 1));
  p.IsResume = resume ? -1 : 0;
  if (!XL_Init()) return 1;
  if (limit > 0) XL_SetSpeedLimit(static_cast<int32_t>(limit));
  const XL_HANDLE h = XL_CreateTask(&p);
  if (!h || !XL_StartTask(h)) return 1;
  const auto t0 = std::chrono::steady_clock::now();
  TDownTaskInfo info{};
  int rc = 3;
  int tick = 0;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!XL_QueryTaskInfoEx(h, &info)) continue;
    if (dieAfter >= 0 && info.nTotalDownload >= dieAfter) DieNow();
    if (!quiet && ++tick % 25 == 0)
      std::printf("state=%d done=%lld total=%lld speed=%d using=%d\n", info.stat,
                  static_cast<long long>(info.nTotalDownload), static_cast<long long>(info.nTotalSize), info.nSpeed,
                  info.nSrcUsing);
    if (info.stat == TSC_COMPLETE) {
      rc = 0;
      break;
    }
    if (info.stat == TSC_ERROR) {
      rc = 2;
      break;
    }
    if (info.stat == TSC_PAUSE) break;
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("result=%s code=%d bytes=%lld seconds=%.3f MBps=%.1f\n",
              rc == 0 ? "COMPLETE" : rc == 2 ? "ERROR" : "STOPPED", info.fail_code,
              static_cast<long long>(info.nTotalDownload), secs, info.nTotalDownload / secs / 1048576.0);
  XL_StopTask(h);
  XL_UnInit();
  return rc;
}
