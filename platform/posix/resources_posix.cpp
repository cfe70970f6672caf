#include "common/text.h"
#include "platform/platform.h"
#include "platform/resources.h"

namespace plat {

bool FindResourceData(const std::string& type, const std::string& name, std::string_view& data) {
  if (!corvane_embedded_resources) return false;
  size_t count = 0;
  const EmbeddedResource* table = corvane_embedded_resources(&count);
  for (size_t i = 0; i < count; ++i) {
    if (corvane::EqualsNoCase(table[i].type, type) && corvane::EqualsNoCase(table[i].name, name)) {
      data = std::string_view(reinterpret_cast<const char*>(table[i].data), table[i].size);
      return true;
    }
  }
  return false;
}

}  // namespace plat
