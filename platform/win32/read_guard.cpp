#include "platform/win32/read_guard.h"

#include <windows.h>

namespace plat {
namespace {

// One per guarded call, on its thread's stack; the thread-local slot points
// at the innermost one.
struct Guard {
  const char* low;
  const char* high;
  Guard* outer;
  void* jump[5];  // __builtin_setjmp's buffer
};

DWORD g_slot = TLS_OUT_OF_INDEXES;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

Guard* Current() { return static_cast<Guard*>(::TlsGetValue(g_slot)); }

// Where a faulting read resumes: out of the guarded call, in normal thread
// context (not inside the exception's dispatch).
[[noreturn]] void Trip() { __builtin_longjmp(Current()->jump, 1); }

LONG CALLBACK OnFault(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* rec = info->ExceptionRecord;
  if (rec->ExceptionCode != EXCEPTION_IN_PAGE_ERROR && rec->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
    return EXCEPTION_CONTINUE_SEARCH;
  const DWORD lastError = ::GetLastError();
  Guard* g = Current();
  ::SetLastError(lastError);
  if (!g || rec->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
  const char* at = reinterpret_cast<const char*>(rec->ExceptionInformation[1]);
  if (at < g->low || at >= g->high) return EXCEPTION_CONTINUE_SEARCH;
  // Resume in Trip on a fresh, aligned frame below the faulting one.
  CONTEXT* c = info->ContextRecord;
#ifdef _WIN64
  c->Rsp = ((c->Rsp - 512) & ~static_cast<DWORD64>(15)) - 8;
  c->Rip = reinterpret_cast<DWORD64>(&Trip);
#else
  c->Esp = ((c->Esp - 512) & ~static_cast<DWORD>(15)) - 4;
  c->Eip = reinterpret_cast<DWORD>(&Trip);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

BOOL CALLBACK Install(INIT_ONCE*, void*, void**) {
  g_slot = ::TlsAlloc();
  return g_slot != TLS_OUT_OF_INDEXES && ::AddVectoredExceptionHandler(1, OnFault) != nullptr;
}

// Separate from ReadGuarded so that the frame holding the jump buffer has no
// exception handling of its own.
__attribute__((noinline)) bool RunGuarded(Guard& g, void (*use)(void*, const char*, size_t), void* context) {
  if (__builtin_setjmp(g.jump)) return false;
  ::TlsSetValue(g_slot, &g);
  use(context, g.low, static_cast<size_t>(g.high - g.low));
  return true;
}

}  // namespace

bool ReadGuarded(const char* data, size_t size, void (*use)(void*, const char*, size_t), void* context) {
  if (!::InitOnceExecuteOnce(&g_once, Install, nullptr, nullptr)) {
    use(context, data, size);  // no guard to be had: a fault ends the program, as unguarded
    return true;
  }
  Guard g{data, data + size, Current(), {}};
  bool ok;
  try {
    ok = RunGuarded(g, use, context);
  } catch (...) {
    ::TlsSetValue(g_slot, g.outer);
    throw;
  }
  ::TlsSetValue(g_slot, g.outer);
  return ok;
}

}  // namespace plat
