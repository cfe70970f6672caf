// Console children on Windows: CreateProcess with anonymous pipes.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "platform/process.h"
#include "platform/win32/win_handle.h"

namespace plat {

struct ChildProcess::Impl {
  WinHandle process;
  WinHandle thread;
  WinHandle inRead, inWrite;    // child's standard input
  WinHandle outRead, outWrite;  // child's standard output and error
  WinHandle wake;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {
  impl_->wake = WinHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

ChildProcess::~ChildProcess() {
  Close();
  impl_->wake.Close();
}

void ChildProcess::Close() {
  Impl& d = *impl_;
  d.thread.Close();
  d.process.Close();
  d.inRead.Close();
  d.outWrite.Close();
  d.outRead.Close();
  d.inWrite.Close();
}

ChildProcess::StartResult ChildProcess::Start(const std::string& commandLine, int priorityClass,
                                              const std::string& currentDir) {
  Impl& d = *impl_;
  // Default security: a pipe of an elevated program gets no open-to-all DACL.
  SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!::CreatePipe(&d.inRead.h, &d.inWrite.h, &sa, 0)) return StartResult::PipeFailed;
  if (!::CreatePipe(&d.outRead.h, &d.outWrite.h, &sa, 0)) {
    Close();
    return StartResult::PipeFailed;
  }
  // Our own ends are never inherited.
  ::SetHandleInformation(d.inWrite.h, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(d.outRead.h, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOEXW si{};
  ::GetStartupInfoW(&si.StartupInfo);
  si.StartupInfo.cb = sizeof si.StartupInfo;
  si.StartupInfo.lpReserved = nullptr;
  si.StartupInfo.lpDesktop = nullptr;
  si.StartupInfo.lpTitle = nullptr;
  si.StartupInfo.cbReserved2 = 0;
  si.StartupInfo.lpReserved2 = nullptr;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.StartupInfo.wShowWindow = SW_HIDE;
  si.StartupInfo.hStdInput = d.inRead.h;
  si.StartupInfo.hStdOutput = d.outWrite.h;
  si.StartupInfo.hStdError = d.outWrite.h;

  // Only the child's two pipe ends are inherited, whatever other inheritable
  // handles another runner holds at this moment.
  HANDLE inherit[2] = {d.inRead.h, d.outWrite.h};
  SIZE_T attrSize = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
  std::vector<unsigned char> attrBuf(attrSize);
  auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrBuf.data());
  DWORD flags = static_cast<DWORD>(priorityClass) | CREATE_NEW_CONSOLE;
  bool haveList = false;
  if (attrSize && ::InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize)) {
    if (::UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit, sizeof inherit, nullptr,
                                    nullptr)) {
      si.lpAttributeList = attrs;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
      si.StartupInfo.cb = sizeof si;
      haveList = true;
    } else {
      ::DeleteProcThreadAttributeList(attrs);
    }
  }

  std::wstring cl = corvane::Widen(commandLine);
  cl.push_back(L'\0');
  // The child's own current folder, if given; the process's stays as it is.
  const std::wstring dir = corvane::Widen(currentDir);
  PROCESS_INFORMATION pi{};
  const BOOL ok = ::CreateProcessW(nullptr, cl.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                   dir.empty() ? nullptr : dir.c_str(), &si.StartupInfo, &pi);
  if (haveList) ::DeleteProcThreadAttributeList(attrs);
  if (!ok) {
    Close();
    return StartResult::ProcessFailed;
  }
  d.process = WinHandle(pi.hProcess);
  d.thread = WinHandle(pi.hThread);
  return StartResult::Started;
}

uint32_t ChildProcess::ExitCode() {
  DWORD code = 0;
  if (!impl_->process.ok() || !::GetExitCodeProcess(impl_->process.h, &code)) return 0;
  return code;
}

size_t ChildProcess::Available() {
  DWORD avail = 0;
  if (!impl_->outRead.ok() || !::PeekNamedPipe(impl_->outRead.h, nullptr, 0, nullptr, &avail, nullptr)) return 0;
  return avail;
}

size_t ChildProcess::Read(char* buf, size_t n) {
  DWORD got = 0;
  if (!impl_->outRead.ok() || n == 0) return 0;
  if (!::ReadFile(impl_->outRead.h, buf, static_cast<DWORD>(std::min<size_t>(n, 0x7FFFFFFF)), &got, nullptr)) return 0;
  return got;
}

bool ChildProcess::Write(const char* data, size_t n) {
  if (!impl_->inWrite.ok()) return false;
  for (size_t done = 0; done < n;) {
    DWORD w = 0;
    if (!::WriteFile(impl_->inWrite.h, data + done, static_cast<DWORD>(n - done), &w, nullptr) || w == 0) return false;
    done += w;
  }
  return true;
}

void ChildProcess::Terminate(uint32_t exitCode) {
  if (impl_->process.ok()) ::TerminateProcess(impl_->process.h, exitCode);
}

void ChildProcess::WaitForActivity(int timeoutMs) {
  // An anonymous pipe signals nothing when data arrives, so output is found
  // by the caller's next peek; the end of the child and a wake-up end the
  // wait at once.
  HANDLE hs[2];
  DWORD n = 0;
  if (impl_->process.ok()) hs[n++] = impl_->process.h;
  if (impl_->wake.ok()) hs[n++] = impl_->wake.h;
  if (n == 0) {
    ::Sleep(static_cast<DWORD>(timeoutMs));
    return;
  }
  ::WaitForMultipleObjects(n, hs, FALSE, static_cast<DWORD>(timeoutMs));
}

void ChildProcess::Wake() {
  if (impl_->wake.ok()) ::SetEvent(impl_->wake.h);
}

}  // namespace plat
