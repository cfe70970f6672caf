// The simulated machine's admin-only folders: a marker in an extended
// attribute stands for the access list a Windows folder would carry.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "platform/admin_folder.h"
#include "platform/platform.h"
#include "platform/posix/sim_machine.h"

namespace plat {
namespace {

const char* const kAclXattr = "user.corvane.acl";
const char kAdminOnly[] = "admin-only";

bool HasMarker(const std::string& host) {
  char buf[sizeof kAdminOnly] = {};
  const ssize_t n = ::getxattr(host.c_str(), kAclXattr, buf, sizeof buf);
  return n == static_cast<ssize_t>(sizeof kAdminOnly - 1) && std::memcmp(buf, kAdminOnly, n) == 0;
}

// Renames whatever is at host to the first free "<name>.untrusted<N>".
bool MoveAside(const std::string& host) {
  for (int i = 0; i < 100; ++i) {
    const std::string to = host + ".untrusted" + std::to_string(i);
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) continue;
    return std::rename(host.c_str(), to.c_str()) == 0;
  }
  return false;
}

}  // namespace

std::string CommonAppDataDir() {
  return corvane::ExcludeTrailingBackslash(sim::Profile().value("commonAppData", std::string("C:\\ProgramData")));
}

bool IsAdminOnlyDir(const std::string& path) {
  const std::string host = HostPath(path);
  struct stat st;
  return ::lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && HasMarker(host);
}

bool MakeAdminOnlyDir(const std::string& path) {
  if (IsAdminOnlyDir(path)) return true;
  const std::string dir = corvane::ExcludeTrailingBackslash(path);
  const std::string parent = corvane::ExcludeTrailingBackslash(corvane::ExtractFilePath(dir));
  if (!parent.empty() && !ForceDirectories(parent)) return false;
  const std::string host = HostPath(dir);
  struct stat st;
  if (::lstat(host.c_str(), &st) == 0 && !MoveAside(host)) return false;
  if (::mkdir(host.c_str(), 0700) != 0) return false;
  ::setxattr(host.c_str(), kAclXattr, kAdminOnly, sizeof kAdminOnly - 1, 0);
  return IsAdminOnlyDir(dir);
}

}  // namespace plat
