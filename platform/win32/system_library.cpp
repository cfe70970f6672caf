#include "platform/win32/system_library.h"

#include <string>

namespace plat::win32 {

HMODULE LoadSystemLibrary(const char* name) {
  wchar_t dir[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  std::wstring path(dir, n);
  path += L'\\';
  for (const char* p = name; *p; ++p) path += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  // A full path, and its dependencies searched from its own folder first,
  // on every Windows (the search flags of newer ones need not exist).
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace plat::win32
