// Boot.ini and the hand-off file come from the disk: writing an entry into
// any text must not crash, and the program's INI reader must then read the
// value written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/IniFile.h"
#include "platform/profile_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string out = plat::SetProfileEntry(text, "boot loader", "timeout", "10");
  if (corvane::IniFile(out).ReadString("Boot Loader", "TIMEOUT", "") != "10") std::abort();
  return 0;
}
