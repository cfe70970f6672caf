#include "inspection/environment_check.h"

#include <cstdlib>
#include <mutex>

#include "common/errors.h"
#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/http.h"
#include "platform/platform.h"

namespace corvane {

std::string ChooseDataDrive(const std::string& sysDrive) {
  try {
    const std::string sysRoot = UpperAscii(IncludeTrailingBackslash(sysDrive));
    std::string result;
    int64_t best = 0;
    for (const std::string& d : GetDriveList()) {
      if (plat::DriveType(d + "\\") != plat::kDriveFixed) continue;
      if (UpperAscii(d + "\\") == sysRoot) continue;
      // The hand-off file of an earlier run wins over any amount of space.
      if (plat::FileExists(d + "\\WIN10DATA\\Config.ini")) return d;
      const int64_t free = GetDriveFreeSize(d);  // -1 (unknown) is below the minimum
      if (free < kMinDataDriveFreeBytes) continue;
      if (free > best) {  // of equal drives the earlier letter stays
        best = free;
        result = d;
      }
    }
    return result;
  } catch (...) {
    return std::string();
  }
}

bool CheckBootEntry() {
  // The path is quoted so that an application-data folder with a blank in
  // it (a user name such as "John Smith") still names this one program.
  const std::string editor = GetAppDataDir() + "\\Corvane\\bcdedit.exe";
  const std::string output = RunAndCapture(Format("\"%s\" /enum {current}", editor.c_str()));
  return Contains(output, "winload.exe");
}

namespace {
std::mutex probeMu;
std::string& ProbeUrlRef() {
  // A test build may take the address from the environment, as it does the
  // server's (download/ServerUrl.cpp).
  static std::string url = [] {
#ifdef CORVANE_ENDPOINT_OVERRIDES
    if (const char* v = std::getenv("CORVANE_PROBE_URL"); v && *v) return std::string(v);
#endif
    return std::string(CORVANE_PROBE_URL);
  }();
  return url;
}
}  // namespace

std::string ProbeUrl() {
  std::lock_guard<std::mutex> g(probeMu);
  return ProbeUrlRef();
}

void SetProbeUrl(const std::string& url) {
  std::lock_guard<std::mutex> g(probeMu);
  ProbeUrlRef() = url;
}

bool CheckNetwork() {
  // The reply itself is not looked at; a redirect or an error status counts
  // as no network, like a failed connection.
  plat::HttpReply reply;
  if (!plat::HttpGet(ProbeUrl(), reply)) return false;
  return reply.status >= 200 && reply.status < 300;
}

}  // namespace corvane
