// The update information file from the network: reading it, its entries and
// their targets must never crash, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/local_path.h"
#include "update/UpdateInfo.h"
#include "update/UpdateTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const corvane::UpdateInfo info = corvane::ReadUpdateInfo(text);
  (void)corvane::OffersUpdate(info, "7");
  (void)corvane::CompareVersions(info.version, info.date);
  corvane::MarkerFolders f;
  f.current = "C:\\Program Files\\Corvane\\";
  f.windows = "C:\\Windows";
  f.system = "C:\\Windows\\System32\\";
  corvane::DeriveWindowsMarkers(f);
  for (const auto& e : info.entries) (void)corvane::ResolveTarget(corvane::SplitEntry(e), f);
  (void)corvane::LocalPathProblem(text);
  return 0;
}
