// The directory page is an ordinary public web page: any content must be
// survived.
#include <cstddef>
#include <cstdint>
#include <string>

#include "download/ServerInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string page(reinterpret_cast<const char*>(data), size);
  corvane::ReadServerDirectory(page);
  corvane::ReadServerDirectory("[QX]" + page + "[/QX]");
  return 0;
}
