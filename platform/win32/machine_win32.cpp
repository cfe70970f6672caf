// WMI, the firewall and the restart on Windows.
#include <windows.h>

#include <atomic>

#include "common/errors.h"
#include "common/text.h"
#include "platform/system_actions.h"
#include "platform/win32/com_dispatch.h"
#include "platform/win32/win_handle.h"
#include "platform/wmi.h"

namespace plat {
namespace {

using com::Variant;

std::atomic<int> firewallCalls{0};

std::string ValueText(const Variant& value) {
  Variant text;
  const HRESULT hr = ::VariantChangeTypeEx(&text.v, const_cast<VARIANT*>(&value.v), LOCALE_USER_DEFAULT,
                                           VARIANT_ALPHABOOL, VT_BSTR);
  if (FAILED(hr)) throw corvane::Exception(corvane::Format("WMI value is not text (0x%08lX)", static_cast<unsigned long>(hr)));
  return corvane::Narrow(std::wstring(text.v.bstrVal, ::SysStringLen(text.v.bstrVal)));
}

struct EnumRelease {
  IEnumVARIANT* e;
  ~EnumRelease() { e->Release(); }
};

}  // namespace

std::string WmiFirstValue(const std::string& classPart, const std::string& propName) {
  com::ComScope scope;
  const com::Object locator = com::CreateObject(L"WbemScripting.SWbemLocator");
  const Variant server(std::wstring(L".")), ns(std::wstring(L"root\\cimv2"));
  const com::Object services = com::FromVariant(locator.Call(L"ConnectServer", {&server, &ns}));
  const Variant query(corvane::Widen("Select * from Win32_" + classPart));
  const com::Object results = com::FromVariant(services.Call(L"ExecQuery", {&query}));
  EnumRelease items{results.NewEnum()};
  const Variant prop(corvane::Widen(propName)), zero(0L);
  for (;;) {
    Variant item;
    ULONG fetched = 0;
    if (items.e->Next(1, &item.v, &fetched) != S_OK || fetched == 0) break;
    const com::Object obj = com::FromVariant(item);
    const com::Object props = obj.GetObject(L"Properties_");
    const com::Object p = com::FromVariant(props.Call(L"Item", {&prop, &zero}));
    const Variant value = p.Get(L"Value");
    if (value.IsNull()) continue;
    return ValueText(value);
  }
  return "";
}

void FirewallAuthorizeApp(const std::string& name, const std::string& imagePath) {
  ++firewallCalls;
  com::ComScope scope;
  try {
    const com::Object mgr = com::CreateObject(L"HNetCfg.FwMgr");
    const com::Object app = com::CreateObject(L"HNetCfg.FwAuthorizedApplication");
    app.Put(L"ProcessImageFileName", Variant(corvane::Widen(imagePath)));
    app.Put(L"Name", Variant(corvane::Widen(name)));
    app.Put(L"Scope", Variant(0L));      // NET_FW_SCOPE_ALL
    app.Put(L"IpVersion", Variant(2L));  // NET_FW_IP_VERSION_ANY
    app.Put(L"Enabled", Variant::Bool(true));
    const com::Object apps =
        mgr.GetObject(L"LocalPolicy").GetObject(L"CurrentProfile").GetObject(L"AuthorizedApplications");
    const Variant arg = Variant::Dispatch(app.get());
    apps.Call(L"Add", {&arg});
  } catch (...) {
    // a firewall that cannot be reached leaves the download to ask by itself
  }
}

void FirewallRemoveApp(const std::string& imagePath) {
  ++firewallCalls;
  com::ComScope scope;
  try {
    const com::Object mgr = com::CreateObject(L"HNetCfg.FwMgr");
    const com::Object apps =
        mgr.GetObject(L"LocalPolicy").GetObject(L"CurrentProfile").GetObject(L"AuthorizedApplications");
    const Variant path(corvane::Widen(imagePath));
    apps.Call(L"Remove", {&path});
  } catch (...) {
  }
}

int FirewallCallCount() { return firewallCalls.load(); }

#ifdef CORVANE_RECORD_RESTART
// Test and demo builds: the restart is written down instead of done, one line
// "restart" appended to the file named by CORVANE_RESTART_RECORD, else to
// "corvane-restart.log" in the temporary folder.
void RestartWindows() {
  wchar_t path[MAX_PATH * 2] = {};
  if (!::GetEnvironmentVariableW(L"CORVANE_RESTART_RECORD", path, MAX_PATH * 2)) {
    const DWORD n = ::GetTempPathW(MAX_PATH, path);
    if (n == 0 || n >= MAX_PATH) return;
    ::lstrcatW(path, L"corvane-restart.log");
  }
  const WinHandle f{::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (!f.ok()) return;
  DWORD written = 0;
  ::WriteFile(f.h, "restart\r\n", 9, &written, nullptr);
}
#else
void RestartWindows() {
  WinHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token.h)) return;
  OSVERSIONINFOW vi{};
  vi.dwOSVersionInfoSize = sizeof vi;  // 276
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL haveVersion = ::GetVersionExW(&vi);
#pragma GCC diagnostic pop
  if (haveVersion) {
    if (vi.dwPlatformId == VER_PLATFORM_WIN32_NT) {
      TOKEN_PRIVILEGES tp{};
      if (::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &tp.Privileges[0].Luid)) {
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        ::AdjustTokenPrivileges(token.h, FALSE, &tp, 0, nullptr, nullptr);
      }
      ::ExitWindowsEx(EWX_REBOOT, 0xFFFF);
    } else if (vi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
      ::ExitWindowsEx(EWX_REBOOT, 0xFFFF);
    }
  }
}
#endif

}  // namespace plat
