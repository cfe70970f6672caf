// Console children on Windows: CreateProcess with anonymous pipes.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "platform/process.h"

namespace plat {
namespace {

void CloseH(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  h = nullptr;
}

}  // namespace

struct ChildProcess::Impl {
  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  HANDLE inRead = nullptr, inWrite = nullptr;    // child's standard input
  HANDLE outRead = nullptr, outWrite = nullptr;  // child's standard output and error
  HANDLE wake = nullptr;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {
  impl_->wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

ChildProcess::~ChildProcess() {
  Close();
  CloseH(impl_->wake);
}

void ChildProcess::Close() {
  Impl& d = *impl_;
  CloseH(d.thread);
  CloseH(d.process);
  CloseH(d.inRead);
  CloseH(d.outWrite);
  CloseH(d.outRead);
  CloseH(d.inWrite);
}

ChildProcess::StartResult ChildProcess::Start(const std::string& commandLine, int priorityClass,
                                              const std::string& currentDir) {
  Impl& d = *impl_;
  // Default security: a pipe of an elevated program gets no open-to-all DACL.
  SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!::CreatePipe(&d.inRead, &d.inWrite, &sa, 0)) return StartResult::PipeFailed;
  if (!::CreatePipe(&d.outRead, &d.outWrite, &sa, 0)) {
    Close();
    return StartResult::PipeFailed;
  }
  // Our own ends are never inherited.
  ::SetHandleInformation(d.inWrite, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(d.outRead, HANDLE_FLAG_INHERIT, 0);

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
  si.StartupInfo.hStdInput = d.inRead;
  si.StartupInfo.hStdOutput = d.outWrite;
  si.StartupInfo.hStdError = d.outWrite;

  // Only the child's two pipe ends are inherited, whatever other inheritable
  // handles another runner holds at this moment.
  HANDLE inherit[2] = {d.inRead, d.outWrite};
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
  d.process = pi.hProcess;
  d.thread = pi.hThread;
  return StartResult::Started;
}

uint32_t ChildProcess::ExitCode() {
  DWORD code = 0;
  if (!impl_->process || !::GetExitCodeProcess(impl_->process, &code)) return 0;
  return code;
}

size_t ChildProcess::Available() {
  DWORD avail = 0;
  if (!impl_->outRead || !::PeekNamedPipe(impl_->outRead, nullptr, 0, nullptr, &avail, nullptr)) return 0;
  return avail;
}

size_t ChildProcess::Read(char* buf, size_t n) {
  DWORD got = 0;
  if (!impl_->outRead || n == 0) return 0;
  if (!::ReadFile(impl_->outRead, buf, static_cast<DWORD>(std::min<size_t>(n, 0x7FFFFFFF)), &got, nullptr)) return 0;
  return got;
}

bool ChildProcess::Write(const char* data, size_t n) {
  if (!impl_->inWrite) return false;
  for (size_t done = 0; done < n;) {
    DWORD w = 0;
    if (!::WriteFile(impl_->inWrite, data + done, static_cast<DWORD>(n - done), &w, nullptr) || w == 0) return false;
    done += w;
  }
  return true;
}

void ChildProcess::Terminate(uint32_t exitCode) {
  if (impl_->process) ::TerminateProcess(impl_->process, exitCode);
}

void ChildProcess::WaitForActivity(int timeoutMs) {
  // An anonymous pipe signals nothing when data arrives, so output is found
  // by the caller's next peek; the end of the child and a wake-up end the
  // wait at once.
  HANDLE hs[2];
  DWORD n = 0;
  if (impl_->process) hs[n++] = impl_->process;
  if (impl_->wake) hs[n++] = impl_->wake;
  if (n == 0) {
    ::Sleep(static_cast<DWORD>(timeoutMs));
    return;
  }
  ::WaitForMultipleObjects(n, hs, FALSE, static_cast<DWORD>(timeoutMs));
}

void ChildProcess::Wake() {
  if (impl_->wake) ::SetEvent(impl_->wake);
}

}  // namespace plat
