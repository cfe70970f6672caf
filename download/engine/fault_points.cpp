#include "download/engine/fault_points.h"

#include <atomic>

namespace xldl::faults {
namespace {
std::atomic<Hook> g_hook{nullptr};
}

void SetHook(Hook hook) { g_hook.store(hook); }

void At(Point p) {
  if (const Hook h = g_hook.load()) h(p);
}

}  // namespace xldl::faults
