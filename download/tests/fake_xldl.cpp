// A stand-in engine library with scripted states, for the wrapper's tests.
#include "download/tests/fake_xldl.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
FakeXlControl& Ctl() {
  static FakeXlControl c;
  return c;
}

bool EnvIsZero(const char* name) {
#ifdef _WIN32
  char v[16] = {};
  return ::GetEnvironmentVariableA(name, v, sizeof v) > 0 && std::strcmp(v, "0") == 0;
#else
  const char* v = std::getenv(name);
  return v && std::strcmp(v, "0") == 0;
#endif
}
}  // namespace

FAKE_EXPORT FakeXlControl* XLDL_CALL FakeXl_Control() { return &Ctl(); }

FAKE_EXPORT int32_t XLDL_CALL XL_Init() {
  ++Ctl().inits;
  return EnvIsZero("FAKE_XL_INIT") ? 0 : 1;
}

FAKE_EXPORT int32_t XLDL_CALL XL_UnInit() {
  ++Ctl().uninits;
  return 1;
}

FAKE_EXPORT XL_HANDLE XLDL_CALL XL_CreateTask(TDownTaskParam* p) {
  ++Ctl().creates;
  Ctl().createdWith = p;
  std::memcpy(&Ctl().param, p, sizeof *p);
  return EnvIsZero("FAKE_XL_CREATE") ? 0 : 0x5A5A;
}

FAKE_EXPORT int32_t XLDL_CALL XL_StartTask(XL_HANDLE h) {
  ++Ctl().starts;
  Ctl().lastStarted = h;
  return Ctl().startResult.load();
}

FAKE_EXPORT int32_t XLDL_CALL XL_StopTask(XL_HANDLE h) {
  ++Ctl().stops;
  Ctl().lastStopped = h;
  return Ctl().stopResult.load();
}

FAKE_EXPORT int32_t XLDL_CALL XL_DelTempFile(TDownTaskParam* p) {
  ++Ctl().delTemps;
  Ctl().deletedWith = p;
  return 1;
}

FAKE_EXPORT int32_t XLDL_CALL XL_QueryTaskInfoEx(XL_HANDLE, TDownTaskInfo* info) {
  FakeXlControl& c = Ctl();
  ++c.queries;
  if (!c.queryResult.load()) return 0;
  std::memset(info, 0, sizeof *info);
  info->stat = c.stat.load();
  info->fail_code = c.failCode.load();
  info->nTotalSize = c.total.load();
  info->nTotalDownload = c.down.load();
  info->fPercent = c.percent.load();
  info->nSrcTotal = c.srcTotal.load();
  info->nSrcUsing = c.srcUsing.load();
  info->nSpeed = c.speed.load();
  info->nSpeedP2S = c.speedP2S.load();
  info->nSpeedP2P = c.speedP2P.load();
  return 1;
}

FAKE_EXPORT void XLDL_CALL XL_SetSpeedLimit(int32_t kbps) {
  ++Ctl().limits;
  Ctl().lastLimit = kbps;
}
