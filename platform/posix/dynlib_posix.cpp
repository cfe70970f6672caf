#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>

#include "common/text.h"
#include "platform/dynlib.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"

namespace plat {

LibHandle LoadLib(const std::string& path) {
  void* h = ::dlopen(HostPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  return reinterpret_cast<LibHandle>(h);
}

void* LibSymbol(LibHandle lib, const char* name) {
  return lib ? ::dlsym(reinterpret_cast<void*>(lib), name) : nullptr;
}

void FreeLib(LibHandle lib) {
  if (lib) ::dlclose(reinterpret_cast<void*>(lib));
}

std::string NewGuid32() {
  // The profile may fix the GUID ("guid": text), or make its creation fail
  // ("guid": "").
  const auto profile = sim::Profile();
  if (const auto it = profile.find("guid"); it != profile.end() && it->is_string()) return it->get<std::string>();
  unsigned char b[16] = {};
  bool filled = false;
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    filled = ::read(fd, b, sizeof b) == static_cast<ssize_t>(sizeof b);
    ::close(fd);
  }
  if (!filled) {
    std::random_device rd;
    for (auto& c : b) c = static_cast<unsigned char>(rd());
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  return corvane::HexUpper(b, sizeof b);
}

}  // namespace plat
