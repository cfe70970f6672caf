#include <new>

#include "common/errors.h"
#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"

namespace corvane {

std::vector<std::string> GetDriveList() {
  std::vector<std::string> out;
  try {
    for (const auto& root : plat::LogicalDriveStrings()) out.push_back(UpperAscii(ExcludeTrailingBackslash(root)));
  } catch (...) {
    out.clear();
  }
  return out;
}

std::vector<std::string> SplitToList(const std::string& text, const std::string& sep) {
  std::vector<std::string> out;
  if (sep.empty()) {
    out.push_back(text);
    return out;
  }
  size_t pos = 0;
  for (;;) {
    const size_t hit = text.find(sep, pos);
    if (hit == std::string::npos) break;
    if (hit > pos) out.push_back(text.substr(pos, hit - pos));
    pos = hit + sep.size();
  }
  out.push_back(text.substr(pos));
  return out;
}

namespace {

void Collect(const std::string& rootIn, const std::string& dirIn, const std::string& filter, int maxDepth,
             std::vector<std::string>& out) {
  const std::string root = IncludeTrailingBackslash(rootIn);
  const std::string dir = IncludeTrailingBackslash(dirIn);
  if (maxDepth != -1) {
    std::string rest = dir;
    const size_t p = rest.find(root);
    if (p != std::string::npos) rest.erase(p, root.size());
    if (SplitToList(rest, "\\").size() > static_cast<size_t>(maxDepth < 0 ? 0 : maxDepth)) return;
  }
  std::vector<plat::DirEntry> entries;
  if (!plat::ListDirectory(dir, entries)) return;
  const bool all = filter == "*.*";
  const std::string upperFilter = UpperAscii(filter);
  for (const auto& e : entries) {
    // A link or junction is not followed: it may lead outside the folder or
    // back into it (a loop), and what it names is not the folder's own.
    if (e.link) continue;
    const std::string full = dir + e.name;
    if (e.attrs & plat::kAttrDirectory) {
      Collect(root, full, filter, maxDepth, out);
      continue;
    }
    if (all) {
      out.push_back(full);
      continue;
    }
    const std::string ext = UpperAscii(ExtractFileExt(e.name));
    if (!ext.empty() && upperFilter.find(ext) != std::string::npos) out.push_back(full);
  }
}

}  // namespace

std::vector<std::string> CollectFiles(const std::string& root, const std::string& dir, const std::string& filter,
                                      int maxDepth) {
  std::vector<std::string> out;
  try {
    Collect(root, dir, filter, maxDepth, out);
  } catch (...) {
    // what was gathered so far
  }
  return out;
}

std::string GetShellFolder(const std::string& valueName) {
  std::string value;
  const plat::RegValueKind kind = plat::ReadShellFolderValue(valueName, value);
  if (kind == plat::RegValueKind::Other) throw Exception("Invalid data type for '" + valueName + "'");
  if (kind != plat::RegValueKind::String) return std::string();
  return ExcludeTrailingBackslash(value);
}

std::string GetDesktopDir() { return GetShellFolder("Desktop"); }
std::string GetPersonalDir() { return GetShellFolder("Personal"); }
std::string GetFavoritesDir() { return GetShellFolder("Favorites"); }
std::string GetAppDataDir() { return GetShellFolder("AppData"); }

std::string GetTempDir() { return IncludeTrailingBackslash(plat::TempPath()); }
std::string GetWinDir() { return IncludeTrailingBackslash(plat::WindowsDirectory()); }

void ExtractResToFile(const std::string& resType, const std::string& resName, const std::string& fileName) {
  std::string_view data;
  if (!plat::FindResourceData(resType, resName, data)) throw Exception("Resource " + resName + " not found");
  if (!plat::WriteWholeFile(fileName, data)) throw Exception("Cannot create file \"" + fileName + "\"");
}

std::string WorkFolder() { return GetAppDataDir() + "\\" + kWorkFolderName; }

}  // namespace corvane
