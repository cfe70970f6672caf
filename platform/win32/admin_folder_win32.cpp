// Admin-only folders on Windows: owner Administrators, a protected access list
// with full control for SYSTEM and Administrators, inherited by everything
// made inside.
#include "platform/win32/admin_folder_win32.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "common/text.h"
#include "platform/admin_folder.h"
#include "platform/platform.h"
#include "platform/win32/win_handle.h"

namespace plat {
namespace {

using corvane::Narrow;
using corvane::Widen;

const wchar_t kAdminOnlySddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool AdminOrSystem(PSID sid) {
  return sid && (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid));
}

// FAT volumes keep no access lists, and neither does Wine, whose files show
// what their Unix modes say whatever was set. There no folder can be kept
// from other users: a plain folder, not a link, is all there is to check.
bool AccessListsKept(const std::wstring& path) {
  if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll"))
    if (::GetProcAddress(ntdll, "wine_get_version")) return false;
  wchar_t volume[MAX_PATH + 1] = {};
  DWORD flags = 0;
  if (!::GetVolumePathNameW(path.c_str(), volume, MAX_PATH + 1) ||
      !::GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    return true;  // unknown: the strict check
  return (flags & FILE_PERSISTENT_ACLS) != 0;
}

bool MoveAside(const std::wstring& path) {
  for (int i = 0; i < 100; ++i) {
    const std::wstring to = path + L".untrusted" + std::to_wstring(i);
    if (::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    // The item itself is renamed, a link included; nothing is followed.
    return ::MoveFileExW(path.c_str(), to.c_str(), 0) != 0;
  }
  return false;
}

}  // namespace

bool AdminOnlyDescriptor(PSECURITY_DESCRIPTOR sd) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  if (!::GetSecurityDescriptorControl(sd, &control, &revision) ||
      !::GetSecurityDescriptorOwner(sd, &owner, &defaulted) ||
      !::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted))
    return false;
  // No access list at all lets everyone in.
  if (!(control & SE_DACL_PROTECTED) || !present || !dacl || !AdminOrSystem(owner)) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    if (!AdminOrSystem(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart)) return false;
  }
  return true;
}

std::string CommonAppDataDir() {
  wchar_t buf[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf))) return "";
  return corvane::ExcludeTrailingBackslash(Narrow(buf));
}

bool IsAdminOnlyDir(const std::string& path) {
  const std::wstring w = Widen(corvane::ExcludeTrailingBackslash(path));
  const DWORD attrs = ::GetFileAttributesW(w.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY) || (attrs & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  if (!AccessListsKept(w)) return true;
  // The folder itself, not what a link put in its place meanwhile points to.
  const WinHandle dir{::CreateFileW(w.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr)};
  if (!dir.ok()) return false;
  bool ok = false;
  BY_HANDLE_FILE_INFORMATION info;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (::GetFileInformationByHandle(dir.h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      ::GetSecurityInfo(dir.h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &sd) == ERROR_SUCCESS) {
    ok = AdminOnlyDescriptor(sd);
  }
  if (sd) ::LocalFree(sd);
  return ok;
}

bool MakeAdminOnlyDir(const std::string& path) {
  if (IsAdminOnlyDir(path)) return true;
  const std::string dir = corvane::ExcludeTrailingBackslash(path);
  const std::string parent = corvane::ExcludeTrailingBackslash(corvane::ExtractFilePath(dir));
  if (!parent.empty() && !ForceDirectories(parent)) return false;
  const std::wstring w = Widen(dir);
  if (::GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES && !MoveAside(w)) return false;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlySddl, SDDL_REVISION_1, &sd, nullptr))
    return false;
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  // Fails when someone made the folder again in between; it is then checked
  // below like any other. A folder removed a moment ago can still be pending
  // deletion while another program (a scanner, an indexer) holds it open;
  // creating it fails until the last handle goes, so that is waited for a
  // little.
  for (int tries = 0; !::CreateDirectoryW(w.c_str(), &sa) && tries < 40; ++tries) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_DELETE_PENDING) break;
    if (::GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    ::Sleep(50);
  }
  ::LocalFree(sd);
  return IsAdminOnlyDir(dir);
}

}  // namespace plat
