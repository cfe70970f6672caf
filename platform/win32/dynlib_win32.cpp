#include <objbase.h>
#include <windows.h>

#include "common/text.h"
#include "platform/dynlib.h"

namespace plat {

LibHandle LoadLib(const std::string& path) {
  // Dependencies are looked up beside the library, not in the current folder.
  HMODULE h = ::LoadLibraryExW(corvane::Widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return reinterpret_cast<LibHandle>(h);
}

void* LibSymbol(LibHandle lib, const char* name) {
  return lib ? reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(lib), name)) : nullptr;
}

void FreeLib(LibHandle lib) {
  if (lib) ::FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

std::string NewGuid32() {
  GUID g{};
  if (FAILED(::CoCreateGuid(&g))) return std::string();
  unsigned char b[16];
  b[0] = static_cast<unsigned char>(g.Data1 >> 24);
  b[1] = static_cast<unsigned char>(g.Data1 >> 16);
  b[2] = static_cast<unsigned char>(g.Data1 >> 8);
  b[3] = static_cast<unsigned char>(g.Data1);
  b[4] = static_cast<unsigned char>(g.Data2 >> 8);
  b[5] = static_cast<unsigned char>(g.Data2);
  b[6] = static_cast<unsigned char>(g.Data3 >> 8);
  b[7] = static_cast<unsigned char>(g.Data3);
  for (int i = 0; i < 8; ++i) b[8 + i] = g.Data4[i];
  return corvane::HexUpper(b, sizeof b);
}

}  // namespace plat
