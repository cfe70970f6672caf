#include "update/UpdateTargets.h"

#include "common/local_path.h"
#include "common/text.h"

namespace corvane {

void DeriveWindowsMarkers(MarkerFolders& f) {
  if (f.windows.empty()) return;
  f.windows = IncludeTrailingBackslash(f.windows);
  if (f.programFiles.empty() && f.windows.size() >= 3) f.programFiles = f.windows.substr(0, 3) + "Program Files\\";
  if (f.help.empty()) f.help = f.windows + "HELP\\";
  if (f.media.empty()) f.media = f.windows + "MEDIA\\";
  if (f.cursors.empty()) f.cursors = f.windows + "CURSORS\\";
}

FileEntry SplitEntry(std::string_view entry) {
  FileEntry e;
  const size_t eq = entry.find('=');
  e.url = std::string(entry.substr(0, eq));
  if (eq != std::string_view::npos) e.localPath = std::string(entry.substr(eq + 1));
  return e;
}

std::string ReplaceMarkers(std::string_view path, const MarkerFolders& f, bool& unknown) {
  const std::pair<const char*, const std::string*> markers[] = {
      {"%current%", &f.current},      {"%desktop%", &f.desktop}, {"%mydocuments%", &f.myDocuments},
      {"%mypictures%", &f.myPictures}, {"%appdata%", &f.appData}, {"%programfiles%", &f.programFiles},
      {"%windows%", &f.windows},      {"%system%", &f.system},   {"%temp%", &f.temp},
      {"%help%", &f.help},            {"%media%", &f.media},     {"%cursors%", &f.cursors},
  };
  std::string out(path);
  for (const auto& [marker, folder] : markers) {
    const std::string name = marker;
    size_t at = 0;
    while ((at = FindNoCase(out, name, at)) != std::string::npos) {
      if (folder->empty()) unknown = true;
      const std::string with = folder->empty() ? std::string() : IncludeTrailingBackslash(*folder);
      out.replace(at, name.size(), with);
      at += with.size();
    }
  }
  return out;
}

Target ResolveTarget(const FileEntry& entry, const MarkerFolders& folders) {
  Target t;
  const std::string current = folders.current.empty() ? std::string() : IncludeTrailingBackslash(folders.current);
  if (entry.localPath.empty()) {
    const size_t slash = entry.url.find_last_of('/');
    t.path = current + entry.url.substr(slash == std::string::npos ? 0 : slash + 1);
  } else {
    t.explicitLocal = true;
    bool unknown = false;
    std::string p = ReplaceMarkers(entry.localPath, folders, unknown);
    if (unknown) {
      t.path = p;
      t.problem = "a folder marker that this machine has no folder for";
      return t;
    }
    const bool deviceOrNetwork = p.size() >= 2 && (p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/');
    if (deviceOrNetwork || StartsWith(p, "\\??\\")) {
      t.path = p;
      t.problem = "device or network path";
      return t;
    }
    if (p.size() > 2 && p[1] != ':') p = current + p;
    t.path = p;
  }
  t.problem = LocalPathProblem(t.path);
  return t;
}

}  // namespace corvane
