#include <windows.h>

#include <algorithm>

#include "common/text.h"
#include "platform/held.h"
#include "platform/platform.h"
#include "platform/win32/win_handle.h"

namespace plat {
namespace {

std::wstring W(const std::string& s) { return corvane::Widen(s); }

bool IsLink(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return !::GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

Holds::~Holds() { ReleaseAll(); }

bool Holds::HoldFolder(const std::string& path) {
  // No FILE_SHARE_DELETE: the folder cannot be deleted or renamed while held.
  WinHandle folder{::CreateFileW(W(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
  if (!folder.ok() || IsLink(folder.h)) return false;
  handles_.push_back(reinterpret_cast<uintptr_t>(std::exchange(folder.h, INVALID_HANDLE_VALUE)));
  return true;
}

bool Holds::HoldFile(const std::string& path, std::string_view expected) {
  // Others may read; writing, deleting and renaming are refused while held.
  HANDLE h = ::CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handles_.push_back(reinterpret_cast<uintptr_t>(h));
  if (IsLink(h)) return false;
  std::string content;
  char buf[65536];
  DWORD got = 0;
  while (content.size() <= expected.size() && ::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
    content.append(buf, got);
  return content == expected;
}

void Holds::ReleaseAll() {
  for (uintptr_t h : handles_) ::CloseHandle(reinterpret_cast<HANDLE>(h));
  handles_.clear();
}

bool WriteNewFile(const std::string& path, std::string_view data) {
  const WinHandle f{
      ::CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (!f.ok()) return false;
  bool ok = true;
  while (ok && !data.empty()) {
    DWORD n = 0;
    ok = ::WriteFile(f.h, data.data(), static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30)), &n, nullptr) && n > 0;
    data.remove_prefix(n);
  }
  return ok;
}

bool MakeFreshFolder(const std::string& path) {
  const std::wstring w = W(path);
  const DWORD a = ::GetFileAttributesW(w.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) {
    if ((a & FILE_ATTRIBUTE_DIRECTORY) && (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
      ::RemoveDirectoryW(w.c_str());  // the junction or link, not its target
    } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(path);
    } else {
      ::SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(w.c_str());
    }
  }
  return ::CreateDirectoryW(w.c_str(), nullptr) != 0;
}

}  // namespace plat
