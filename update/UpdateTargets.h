// Where each file of an update goes: the entry's address and local path,
// the folder markers, and the check that keeps a path from the network away
// from devices, streams and other folders' "..".
#pragma once
#include <string>
#include <string_view>

namespace corvane {

// The folders the markers stand for, each with a trailing backslash; an
// empty one is unknown on this machine.
struct MarkerFolders {
  std::string current;       // %current%: the program's folder
  std::string desktop;       // %desktop%
  std::string myDocuments;   // %mydocuments%
  std::string myPictures;    // %mypictures%
  std::string appData;       // %appdata%
  std::string programFiles;  // %programfiles%: drive of the Windows folder + "Program Files"
  std::string windows;       // %windows%
  std::string system;        // %system%
  std::string temp;          // %temp%
  std::string help;          // %help%: Windows folder + "HELP"
  std::string media;         // %media%
  std::string cursors;       // %cursors%
};

// The markers that derive from the Windows folder, filled in from it.
void DeriveWindowsMarkers(MarkerFolders& folders);

// An entry is an address, optionally followed by "=" and a local path.
struct FileEntry {
  std::string url;
  std::string localPath;  // empty: none given
};
FileEntry SplitEntry(std::string_view entry);

// Replaces every marker (letter case ignored) by its folder. Sets `unknown`
// when a marker's folder is not known.
std::string ReplaceMarkers(std::string_view path, const MarkerFolders& folders, bool& unknown);

struct Target {
  std::string path;     // where the file goes (its download is path + ".uTMP")
  bool explicitLocal = false;  // the entry named a local path (it goes to the queue file)
  std::string problem;  // why the target is refused; empty when it is fine
};

// Without a local path the target is the program's folder plus the
// address's last "/" piece. A local path has its markers replaced, and one
// longer than two characters whose second is not ":" is relative to the
// program's folder. The result must pass LocalPathProblem (and a local path
// must not be a device or network form before it is made absolute).
Target ResolveTarget(const FileEntry& entry, const MarkerFolders& folders);

}  // namespace corvane
