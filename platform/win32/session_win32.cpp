#include <windows.h>

#include <vector>

#include "common/text.h"
#include "platform/session.h"

namespace plat {

bool ScreenSaverActive() {
  BOOL on = FALSE;
  return ::SystemParametersInfoW(SPI_GETSCREENSAVEACTIVE, 0, &on, 0) && on;
}

void SetScreenSaverActive(bool on) { ::SystemParametersInfoW(SPI_SETSCREENSAVEACTIVE, on ? TRUE : FALSE, nullptr, 0); }

void KeepSystemAwake() { ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED); }

std::string FileVersionText() {
  wchar_t path[MAX_PATH];
  if (!::GetModuleFileNameW(nullptr, path, MAX_PATH)) return {};
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  if (!size) return {};
  std::vector<unsigned char> block(size);
  if (!::GetFileVersionInfoW(path, 0, size, block.data())) return {};
  struct Translation {
    WORD language, codePage;
  };
  Translation* tr = nullptr;
  UINT len = 0;
  if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&tr), &len) ||
      len < sizeof(Translation))
    return {};
  wchar_t key[64];
  ::wsprintfW(key, L"\\StringFileInfo\\%04x%04x\\FileVersion", tr->language, tr->codePage);
  wchar_t* value = nullptr;
  if (!::VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&value), &len) || !value || len == 0) return {};
  return corvane::Narrow(std::wstring(value, wcsnlen(value, len)));
}

}  // namespace plat
