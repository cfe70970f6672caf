#include "platform/detached_thread.h"

#include <windows.h>
#include <process.h>

#include <memory>

namespace plat {
namespace {

unsigned __stdcall RunBody(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  try {
    (*body)();
  } catch (...) {
  }
  return 0;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  auto* arg = new (std::nothrow) std::function<void()>(std::move(body));
  if (!arg) return false;
  const uintptr_t h = _beginthreadex(nullptr, 0, RunBody, arg, 0, nullptr);
  if (h == 0) {
    delete arg;
    return false;
  }
  ::CloseHandle(reinterpret_cast<HANDLE>(h));
  return true;
}

}  // namespace plat
