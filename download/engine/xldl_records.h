// The two records and the eight entry points of the download engine
// (xldl.dll). Shared by the engine and by the wrapper that loads it; the
// layout is the same on every build: little-endian, natural alignment, texts
// as zero-terminated UTF-16 arrays, and the one handle-sized field of the
// parameter record kept 4 bytes wide.
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define XLDL_CALL __cdecl
#else
#define XLDL_CALL
#endif

// DOWN_TASK_STATUS
enum : uint8_t {
  NOITEM = 0,
  TSC_ERROR = 1,
  TSC_PAUSE = 2,
  TSC_DOWNLOAD = 3,
  TSC_COMPLETE = 4,
  TSC_STARTPENDING = 5,
  TSC_STOPPENDING = 6,
};

// TASK_ERROR_TYPE
enum : uint8_t {
  TASK_ERROR_UNKNOWN = 0,
  TASK_ERROR_DISK_CREATE = 1,
  TASK_ERROR_DISK_WRITE = 2,
  TASK_ERROR_DISK_READ = 3,
  TASK_ERROR_DISK_RENAME = 4,
  TASK_ERROR_DISK_PIECEHASH = 5,
  TASK_ERROR_DISK_FILEHASH = 6,
  TASK_ERROR_DISK_DELETE = 7,
  TASK_ERROR_DOWN_INVALID = 8,
  TASK_ERROR_PROXY_AUTH_TYPE_UNKOWN = 9,
  TASK_ERROR_PROXY_AUTH_TYPE_FAILED = 10,
  TASK_ERROR_HTTPMGR_NOT_IP = 11,
  TASK_ERROR_TIMEOUT = 12,
  TASK_ERROR_CANCEL = 13,
  TASK_ERROR_TP_CRASHED = 14,
  TASK_ERROR_ID_INVALID = 15,
};

struct TDownTaskParam {
  int32_t nReserved1;
  char16_t szTaskUrl[2084];
  char16_t szRefUrl[2084];
  char16_t szCookies[4096];
  char16_t szFilename[260];
  char16_t szReserved[260];
  char16_t szSavePath[260];
  uint32_t hReserved;  // a handle on the 32-bit build; 4 bytes everywhere
  int32_t bReserved1;
  char16_t szReserved1[64];
  char16_t szReserved2[64];
  int32_t IsOnlyOriginal;
  uint32_t nReserved2;
  int32_t bReserved2;
  int32_t IsResume;
  uint32_t reserved[2048];
};

struct TDownTaskInfo {
  uint8_t stat;       // DOWN_TASK_STATUS
  uint8_t fail_code;  // TASK_ERROR_TYPE
  char16_t szFilename[260];
  char16_t szReserved0[260];
  uint8_t padding0[6];
  int64_t nTotalSize;
  int64_t nTotalDownload;
  float fPercent;
  int32_t nReserved0;
  int32_t nSrcTotal;
  int32_t nSrcUsing;
  int32_t nReserved1;
  int32_t nReserved2;
  int32_t nReserved3;
  int32_t nReserved4;
  int64_t nReserved5;
  int64_t nDonationP2P;
  int64_t nReserved6;
  int64_t nDonationOrgin;
  int64_t nDonationP2S;
  int64_t nReserved7;
  int64_t nReserved8;
  int32_t nSpeed;
  int32_t nSpeedP2S;
  int32_t nSpeedP2P;
  uint8_t bIsOriginUsable;
  uint8_t padding1[3];
  float fHashPercent;
  int32_t IsCreatingFile;
  uint8_t reserved[256];
};

static_assert(sizeof(char16_t) == 2 && sizeof(float) == 4);
static_assert(offsetof(TDownTaskParam, nReserved1) == 0);
static_assert(offsetof(TDownTaskParam, szTaskUrl) == 4);
static_assert(offsetof(TDownTaskParam, szRefUrl) == 4172);
static_assert(offsetof(TDownTaskParam, szCookies) == 8340);
static_assert(offsetof(TDownTaskParam, szFilename) == 16532);
static_assert(offsetof(TDownTaskParam, szReserved) == 17052);
static_assert(offsetof(TDownTaskParam, szSavePath) == 17572);
static_assert(offsetof(TDownTaskParam, hReserved) == 18092);
static_assert(offsetof(TDownTaskParam, bReserved1) == 18096);
static_assert(offsetof(TDownTaskParam, szReserved1) == 18100);
static_assert(offsetof(TDownTaskParam, szReserved2) == 18228);
static_assert(offsetof(TDownTaskParam, IsOnlyOriginal) == 18356);
static_assert(offsetof(TDownTaskParam, nReserved2) == 18360);
static_assert(offsetof(TDownTaskParam, bReserved2) == 18364);
static_assert(offsetof(TDownTaskParam, IsResume) == 18368);
static_assert(offsetof(TDownTaskParam, reserved) == 18372);
static_assert(sizeof(TDownTaskParam) == 26564);

static_assert(offsetof(TDownTaskInfo, stat) == 0);
static_assert(offsetof(TDownTaskInfo, fail_code) == 1);
static_assert(offsetof(TDownTaskInfo, szFilename) == 2);
static_assert(offsetof(TDownTaskInfo, szReserved0) == 522);
static_assert(offsetof(TDownTaskInfo, padding0) == 1042);
static_assert(offsetof(TDownTaskInfo, nTotalSize) == 1048);
static_assert(offsetof(TDownTaskInfo, nTotalDownload) == 1056);
static_assert(offsetof(TDownTaskInfo, fPercent) == 1064);
static_assert(offsetof(TDownTaskInfo, nReserved0) == 1068);
static_assert(offsetof(TDownTaskInfo, nSrcTotal) == 1072);
static_assert(offsetof(TDownTaskInfo, nSrcUsing) == 1076);
static_assert(offsetof(TDownTaskInfo, nReserved1) == 1080);
static_assert(offsetof(TDownTaskInfo, nReserved2) == 1084);
static_assert(offsetof(TDownTaskInfo, nReserved3) == 1088);
static_assert(offsetof(TDownTaskInfo, nReserved4) == 1092);
static_assert(offsetof(TDownTaskInfo, nReserved5) == 1096);
static_assert(offsetof(TDownTaskInfo, nDonationP2P) == 1104);
static_assert(offsetof(TDownTaskInfo, nReserved6) == 1112);
static_assert(offsetof(TDownTaskInfo, nDonationOrgin) == 1120);
static_assert(offsetof(TDownTaskInfo, nDonationP2S) == 1128);
static_assert(offsetof(TDownTaskInfo, nReserved7) == 1136);
static_assert(offsetof(TDownTaskInfo, nReserved8) == 1144);
static_assert(offsetof(TDownTaskInfo, nSpeed) == 1152);
static_assert(offsetof(TDownTaskInfo, nSpeedP2S) == 1156);
static_assert(offsetof(TDownTaskInfo, nSpeedP2P) == 1160);
static_assert(offsetof(TDownTaskInfo, bIsOriginUsable) == 1164);
static_assert(offsetof(TDownTaskInfo, fHashPercent) == 1168);
static_assert(offsetof(TDownTaskInfo, IsCreatingFile) == 1172);
static_assert(offsetof(TDownTaskInfo, reserved) == 1176);
static_assert(sizeof(TDownTaskInfo) == 1432);

// Task handles are pointer-sized.
using XL_HANDLE = uintptr_t;

// The entry points, C calling convention, resolved by name.
using XL_Init_t = int32_t(XLDL_CALL*)();
using XL_UnInit_t = int32_t(XLDL_CALL*)();
using XL_CreateTask_t = XL_HANDLE(XLDL_CALL*)(TDownTaskParam*);
using XL_StartTask_t = int32_t(XLDL_CALL*)(XL_HANDLE);
using XL_StopTask_t = int32_t(XLDL_CALL*)(XL_HANDLE);
using XL_DelTempFile_t = int32_t(XLDL_CALL*)(TDownTaskParam*);
using XL_QueryTaskInfoEx_t = int32_t(XLDL_CALL*)(XL_HANDLE, TDownTaskInfo*);
using XL_SetSpeedLimit_t = void(XLDL_CALL*)(int32_t);
