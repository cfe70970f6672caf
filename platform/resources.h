// The table of embedded resources of the native build. The generated
// resource object (see resources/CMakeLists.txt) defines
// corvane_embedded_resources(); without it the table is empty.
#pragma once
#include <cstddef>

namespace plat {
struct EmbeddedResource {
  const char* type;
  const char* name;
  const unsigned char* data;
  size_t size;
};
}  // namespace plat

extern "C" const plat::EmbeddedResource* corvane_embedded_resources(size_t* count) __attribute__((weak));
