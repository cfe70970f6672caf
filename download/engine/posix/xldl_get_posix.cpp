#include <sys/resource.h>

#include <csignal>
#include <cstdlib>

#include "download/engine/xldl_get_system.h"

void DieNow() {
  std::raise(SIGKILL);
  std::abort();
}

void LimitFileSize(long long bytes) {
  std::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
  rlimit rl{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  setrlimit(RLIMIT_FSIZE, &rl);
}
