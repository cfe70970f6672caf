#include <cstddef>
#include <cstdint>
#include <string>

#include "common/errors.h"
#include "common/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    corvane::ZipReader zip(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& e : zip.Entries()) {
      try {
        corvane::SafeRelativePath(e.name);
        zip.Read(e);
      } catch (const corvane::Exception&) {
      }
    }
  } catch (const corvane::Exception&) {
  }
  return 0;
}
