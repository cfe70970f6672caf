// The win32 side of the seam: the real Windows calls.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>

#include "common/text.h"
#include "platform/platform.h"
#include "platform/win32/win_handle.h"
#include "platform/win32/win_path.h"

namespace plat {
namespace {

using corvane::Narrow;
using corvane::Widen;
using win::WinPath;

bool WriteAll(HANDLE h, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
    DWORD w = 0;
    if (!::WriteFile(h, data.data() + done, chunk, &w, nullptr) || w == 0) return false;
    done += w;
  }
  return true;
}

bool RemoveTreeW(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE f = ::FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (f != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring n = fd.cFileName;
      if (n == L"." || n == L"..") continue;
      const std::wstring full = dir + L"\\" + n;
      if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTreeW(full);
      } else {
        ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          ::RemoveDirectoryW(full.c_str());
        else
          ::DeleteFileW(full.c_str());
      }
    } while (::FindNextFileW(f, &fd));
    ::FindClose(f);
  }
  return ::RemoveDirectoryW(dir.c_str()) != 0;
}

std::string CodePageConvert(const std::string& in, UINT from, UINT to) {
  if (in.empty()) return in;
  const int wn = ::MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(wn), L'\0');
  ::MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), w.data(), wn);
  const int n = ::WideCharToMultiByte(to, 0, w.data(), wn, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(to, 0, w.data(), wn, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

std::string HostPath(const std::string& path) { return path; }

bool FileExists(const std::string& path) {
  const DWORD a = ::GetFileAttributesW(WinPath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}
bool DirectoryExists(const std::string& path) {
  const DWORD a = ::GetFileAttributesW(WinPath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
bool CreateDir(const std::string& path) { return ::CreateDirectoryW(WinPath(path).c_str(), nullptr) != 0; }

bool ForceDirectories(const std::string& path) {
  std::string p = corvane::ExcludeTrailingBackslash(path);
  if (p.empty()) return false;
  if (DirectoryExists(p)) return true;
  if (p.size() <= 2) return DirectoryExists(p + "\\");
  const std::string parent = corvane::ExcludeTrailingBackslash(corvane::ExtractFilePath(p));
  if (!parent.empty() && parent != p && !ForceDirectories(parent)) return false;
  CreateDir(p);
  return DirectoryExists(p);
}

bool RemoveFile(const std::string& path) { return ::DeleteFileW(WinPath(path).c_str()) != 0; }
bool RemoveDir(const std::string& path) { return ::RemoveDirectoryW(WinPath(path).c_str()) != 0; }
bool RemoveTree(const std::string& path) {
  if (!DirectoryExists(path)) return false;
  const std::wstring w = WinPath(corvane::ExcludeTrailingBackslash(path));
  // A junction or link goes itself; what it points to is not ours to delete.
  if (::GetFileAttributesW(w.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) return ::RemoveDirectoryW(w.c_str()) != 0;
  return RemoveTreeW(w);
}
bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists) {
  return ::CopyFileW(WinPath(from).c_str(), WinPath(to).c_str(), failIfExists) != 0;
}
bool MoveFileTo(const std::string& from, const std::string& to, bool replaceExisting) {
  return ::MoveFileExW(WinPath(from).c_str(), WinPath(to).c_str(),
                       replaceExisting ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED : MOVEFILE_COPY_ALLOWED) != 0;
}
uint32_t FileAttributes(const std::string& path) { return ::GetFileAttributesW(WinPath(path).c_str()); }
bool SetAttributes(const std::string& path, uint32_t attrs) {
  return ::SetFileAttributesW(WinPath(path).c_str(), attrs) != 0;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  WinHandle h(::CreateFileW(WinPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) return false;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(h.h, &size)) return false;
  out.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < out.size()) {
    DWORD r = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(out.size() - done, 1u << 24));
    if (!::ReadFile(h.h, out.data() + done, chunk, &r, nullptr)) return false;
    if (r == 0) break;
    done += r;
  }
  out.resize(done);
  return true;
}

bool WriteWholeFile(const std::string& path, std::string_view data) {
  WinHandle h(::CreateFileW(WinPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
  if (!h.ok()) return false;
  return WriteAll(h.h, data);
}

bool AppendToFile(const std::string& path, std::string_view data) {
  WinHandle h(::CreateFileW(WinPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) return false;
  return WriteAll(h.h, data);
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!::GetFileAttributesExW(WinPath(path).c_str(), GetFileExInfoStandard, &d)) return -1;
  if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return (static_cast<int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out) {
  WIN32_FIND_DATAW fd;
  HANDLE f = ::FindFirstFileW(WinPath(corvane::IncludeTrailingBackslash(dir) + "*.*").c_str(), &fd);
  if (f == INVALID_HANDLE_VALUE) return false;
  do {
    const std::wstring n = fd.cFileName;
    if (n == L"." || n == L"..") continue;
    DirEntry e{Narrow(n), fd.dwFileAttributes, false};
    // Symbolic links and junctions name another place (dwReserved0 holds the
    // reparse tag); other reparse points, such as files kept in the cloud,
    // are the folder's own. A tag of 0 is none Windows gives (Wine does).
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
      e.link = fd.dwReserved0 == 0 || IsReparseTagNameSurrogate(fd.dwReserved0);
    out.push_back(std::move(e));
  } while (::FindNextFileW(f, &fd));
  ::FindClose(f);
  return true;
}

std::string GetCurrentDir() {
  wchar_t buf[MAX_PATH * 2];
  const DWORD n = ::GetCurrentDirectoryW(MAX_PATH * 2, buf);
  return Narrow(std::wstring_view(buf, n));
}
bool SetCurrentDir(const std::string& dir) { return ::SetCurrentDirectoryW(Widen(dir).c_str()) != 0; }

bool WriteProfileText(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value) {
  const std::wstring f = Widen(file);
  if (!::WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), Widen(value).c_str(), f.c_str()))
    return false;
  // Whatever the system keeps cached of the file goes to the disk now.
  ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, f.c_str());
  return true;
}

std::vector<std::string> LogicalDriveStrings() {
  std::vector<std::string> out;
  const DWORD n = ::GetLogicalDriveStringsW(0, nullptr);
  if (n == 0) return out;
  std::wstring buf(n, L'\0');
  const DWORD got = ::GetLogicalDriveStringsW(n, buf.data());
  for (size_t i = 0; i < got && buf[i];) {
    const std::wstring d(buf.c_str() + i);
    out.push_back(Narrow(d));
    i += d.size() + 1;
  }
  return out;
}

unsigned DriveType(const std::string& root) { return ::GetDriveTypeW(Widen(root).c_str()); }

std::string TempPath() {
  wchar_t buf[260] = {};
  ::GetTempPathW(260, buf);
  return Narrow(buf);
}
std::string WindowsDirectory() {
  wchar_t buf[260] = {};
  ::GetWindowsDirectoryW(buf, 260);
  return Narrow(buf);
}

RegValueKind ReadShellFolderValue(const std::string& name, std::string& value) {
  value.clear();
  HKEY key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return RegValueKind::NoKey;
  const std::wstring wname = Widen(name);
  DWORD type = 0, size = 0;
  RegValueKind kind = RegValueKind::Missing;
  if (::RegQueryValueExW(key, wname.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
      DWORD sz = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
      if (::RegQueryValueExW(key, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &sz) ==
          ERROR_SUCCESS) {
        value = Narrow(buf.c_str());
        kind = RegValueKind::String;
      }
    } else {
      kind = RegValueKind::Other;
    }
  }
  ::RegCloseKey(key);
  return kind;
}

bool FindResourceData(const std::string& type, const std::string& name, std::string_view& data) {
  const std::wstring t = Widen(corvane::UpperAscii(type)), n = Widen(corvane::UpperAscii(name));
  HRSRC r = ::FindResourceW(nullptr, n.c_str(), t.c_str());
  if (!r) return false;
  HGLOBAL g = ::LoadResource(nullptr, r);
  if (!g) return false;
  const void* p = ::LockResource(g);
  if (!p) return false;
  data = std::string_view(static_cast<const char*>(p), ::SizeofResource(nullptr, r));
  return true;
}

std::vector<std::string> CommandLineArgs() {
  std::vector<std::string> out;
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return out;
  for (int i = 1; i < argc; ++i) out.push_back(Narrow(argv[i]));
  ::LocalFree(argv);
  return out;
}

void OutputDebugText(const std::string& text) { ::OutputDebugStringW(Widen(text).c_str()); }

std::string Utf8ToAnsi(const std::string& utf8) { return CodePageConvert(utf8, CP_UTF8, CP_ACP); }
std::string AnsiToUtf8(const std::string& ansi) { return CodePageConvert(ansi, CP_ACP, CP_UTF8); }
std::string Utf8ToConsole(const std::string& utf8) { return CodePageConvert(utf8, CP_UTF8, CP_OEMCP); }
std::string ConsoleToUtf8(const std::string& console) { return CodePageConvert(console, CP_OEMCP, CP_UTF8); }

std::string DecimalSeparator() {
  wchar_t buf[8] = {};
  if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8) <= 0) return ".";
  return Narrow(buf);
}

std::string LocalTimeStamp() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  wchar_t date[128] = {}, time[128] = {};
  ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128);
  std::string s = Narrow(date);
  if (st.wHour || st.wMinute || st.wSecond) {
    ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128);
    s += " " + Narrow(time);
  }
  return s;
}

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

}  // namespace plat
