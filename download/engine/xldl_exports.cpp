// The engine's eight entry points over a table of tasks.
#include <map>
#include <memory>
#include <mutex>

#include "download/engine/disk_file.h"
#include "download/engine/download_task.h"
#include "download/engine/engine_text.h"
#include "download/engine/net_socket.h"
#include "download/engine/xldl_records.h"

// XLDL_EXPORT comes from the build: the entry points' visibility where the
// library hides its other symbols; nothing on Windows, where xldl.def names
// the exports.

namespace xldl {
namespace {

struct Engine {
  XL_HANDLE next = 0x100;
  std::map<XL_HANDLE, std::shared_ptr<DownloadTask>> tasks;
  RateLimiter limiter;
  Tuning tuning;
};

// Made by XL_Init, gone after XL_UnInit; guarded by g_mu.
std::mutex g_mu;
Engine* g_engine = nullptr;

std::shared_ptr<DownloadTask> Find(XL_HANDLE h) {
  std::lock_guard<std::mutex> g(g_mu);
  if (!g_engine) return nullptr;
  auto it = g_engine->tasks.find(h);
  return it == g_engine->tasks.end() ? nullptr : it->second;
}

std::string TargetOf(const TDownTaskParam& p) {
  const std::string name = Utf16ToUtf8(p.szFilename, 260);
  if (name.empty()) return std::string();
  return JoinPath(Utf16ToUtf8(p.szSavePath, 260), name);
}

}  // namespace
}  // namespace xldl

using namespace xldl;

// Every entry point catches whatever its work raises: an exception must not
// cross into the caller, which has its own C++ runtime (or none).
extern "C" {

XLDL_EXPORT int32_t XLDL_CALL XL_Init() try {
  std::lock_guard<std::mutex> g(g_mu);
  if (!g_engine) {
    if (!NetStartup()) return 0;
    g_engine = new Engine;
    g_engine->tuning = Tuning::FromEnvironment();
  }
  return 1;
} catch (...) {
  return 0;
}

XLDL_EXPORT int32_t XLDL_CALL XL_UnInit() try {
  Engine* e = nullptr;
  {
    std::lock_guard<std::mutex> g(g_mu);
    std::swap(e, g_engine);
  }
  if (!e) return 1;
  // Every thread of the engine ends here, before the library can be unloaded.
  for (auto& [h, t] : e->tasks) t->Stop();
  for (auto& [h, t] : e->tasks) t->Join();
  delete e;
  NetCleanup();
  return 1;
} catch (...) {
  return 0;
}

XLDL_EXPORT XL_HANDLE XLDL_CALL XL_CreateTask(TDownTaskParam* param) try {
  if (!param) return 0;
  TaskParams p;
  p.url = Utf16ToUtf8(param->szTaskUrl, 2084);
  p.referer = Utf16ToUtf8(param->szRefUrl, 2084);
  p.cookies = Utf16ToUtf8(param->szCookies, 4096);
  p.target = TargetOf(*param);
  p.resume = param->IsResume != 0;
  if (p.url.empty() || p.target.empty()) return 0;
  std::lock_guard<std::mutex> g(g_mu);
  if (!g_engine) return 0;
  const XL_HANDLE h = g_engine->next++;
  g_engine->tasks[h] = std::make_shared<DownloadTask>(std::move(p), g_engine->limiter, g_engine->tuning);
  return h;
} catch (...) {
  return 0;
}

XLDL_EXPORT int32_t XLDL_CALL XL_StartTask(XL_HANDLE task) try {
  auto t = Find(task);
  return t && t->Start() ? 1 : 0;
} catch (...) {
  return 0;
}

XLDL_EXPORT int32_t XLDL_CALL XL_StopTask(XL_HANDLE task) try {
  auto t = Find(task);
  return t && t->Stop() ? 1 : 0;
} catch (...) {
  return 0;
}

// Returns at once: a task of this file that still runs is asked to stop and
// deletes the partial data itself when it has ended, so that it cannot bring
// the file back and nobody waits for its last flush.
XLDL_EXPORT int32_t XLDL_CALL XL_DelTempFile(TDownTaskParam* param) try {
  if (!param) return 0;
  const std::string target = TargetOf(*param);
  if (target.empty()) return 0;
  std::vector<std::shared_ptr<DownloadTask>> users;
  {
    std::lock_guard<std::mutex> g(g_mu);
    if (g_engine)
      for (auto& [h, t] : g_engine->tasks)
        if (t->Target() == target) users.push_back(t);
  }
  if (users.empty()) return DeletePartialData(target) ? 1 : 0;
  bool ok = true;
  for (auto& t : users) ok = t->Discard() && ok;
  return ok ? 1 : 0;
} catch (...) {
  return 0;
}

XLDL_EXPORT int32_t XLDL_CALL XL_QueryTaskInfoEx(XL_HANDLE task, TDownTaskInfo* info) try {
  if (!info) return 0;
  auto t = Find(task);
  if (!t) return 0;
  t->Query(*info);
  return 1;
} catch (...) {
  return 0;
}

XLDL_EXPORT void XLDL_CALL XL_SetSpeedLimit(int32_t kbps) try {
  std::lock_guard<std::mutex> g(g_mu);
  if (g_engine) g_engine->limiter.SetLimit(kbps > 0 ? int64_t{kbps} * 1024 : 0);
} catch (...) {
}

}  // extern "C"
