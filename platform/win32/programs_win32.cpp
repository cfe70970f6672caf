#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "common/text.h"
#include "platform/programs.h"
#include "platform/win32/win_handle.h"

namespace plat {
namespace {

using corvane::Narrow;
using corvane::Widen;

std::mutex gHookMu;
std::function<void(const std::string&)> gBeforeStart;

bool Launch(const std::string& program, const std::string& commandLine) {
  std::wstring line = Widen(commandLine);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  // The program is named on its own too, so a path with blanks is never
  // searched piece by piece.
  if (!::CreateProcessW(Widen(program).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  WinHandle process{pi.hProcess};
  WinHandle thread{pi.hThread};
  return true;
}

bool WriteAll(HANDLE h, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
    if (!::WriteFile(h, data.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

bool SameContent(HANDLE h, std::string_view image) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(h, &size) || static_cast<uint64_t>(size.QuadPart) != image.size()) return false;
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) return false;
  std::vector<char> buf(1u << 16);
  size_t at = 0;
  while (at < image.size()) {
    DWORD got = 0;
    if (!::ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) || got == 0) return false;
    if (at + got > image.size() || image.substr(at, got) != std::string_view(buf.data(), got)) return false;
    at += got;
  }
  return true;
}

}  // namespace

std::string ProgramPath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return Narrow(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

std::string SystemFolder() {
  wchar_t buf[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(buf, MAX_PATH);
  return n > 0 && n < MAX_PATH ? Narrow(std::wstring_view(buf, n)) : std::string();
}

std::string LongPathName(const std::string& path) {
  const std::wstring w = Widen(path);
  const DWORD n = ::GetLongPathNameW(w.c_str(), nullptr, 0);
  if (n == 0) return path;
  std::wstring out(n, L'\0');
  const DWORD m = ::GetLongPathNameW(w.c_str(), out.data(), n);
  if (m == 0 || m >= n) return path;
  out.resize(m);
  return Narrow(out);
}

bool CanOpenForWriting(const std::string& path) {
  WinHandle f{::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr)};
  return f.ok();
}

bool StartProgram(const std::string& program, const std::string& commandLine) { return Launch(program, commandLine); }

void SetBeforeProgramStartHook(std::function<void(const std::string& path)> hook) {
  std::lock_guard<std::mutex> g(gHookMu);
  gBeforeStart = std::move(hook);
}

// The file is created anew (never an existing file someone else prepared)
// with an access list that lets only SYSTEM and administrators write it.
// No handle ever shares deletion, so the name keeps leading to this file.
// A handle that writes cannot stay open while the process is created, so
// the write handle gives way to a reading one that shares writes (needed
// while both are open) and then to one that denies them; if anyone opened
// the file for writing in between, the last step fails, and the content is
// compared with the image while writes are denied.
bool WriteAndStartProgram(const std::string& path, std::string_view image, const std::string& commandLine) {
  const std::wstring wpath = Widen(path);
  ::SetFileAttributesW(wpath.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(wpath.c_str());

  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;BU)",
                                                             SDDL_REVISION_1, &sd, nullptr))
    sa.lpSecurityDescriptor = sd;
  WinHandle writer{::CreateFileW(wpath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (sd) ::LocalFree(sd);
  if (!writer.ok() || !WriteAll(writer.h, image)) return false;

  WinHandle sharing{::ReOpenFile(writer.h, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0)};
  if (!sharing.ok()) return false;
  writer.Close();
  WinHandle reader{::ReOpenFile(sharing.h, GENERIC_READ, FILE_SHARE_READ, 0)};
  if (!reader.ok()) return false;
  sharing.Close();
  if (!SameContent(reader.h, image)) return false;

  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> g(gHookMu);
    hook = gBeforeStart;
  }
  if (hook) hook(path);
  return Launch(path, commandLine);  // `reader` is closed after the process exists
}

void ShowInformationBox(const std::string& caption, const std::string& text) {
  ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | MB_ICONINFORMATION);
}

}  // namespace plat
