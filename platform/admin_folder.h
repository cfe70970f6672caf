// Folders of the elevated program that no other program of the user may
// change: the machine-wide application-data folder and, under it, folders
// that only the administrators and the system can write to.
//
// win32: owner Administrators and a protected access list that grants full
// control to SYSTEM and Administrators only, inherited by everything made in
// the folder. posix (the simulated machine): a folder with the extended
// attribute "user.corvane.acl" = "admin-only", which is what the simulated
// machine counts as such a folder.
#pragma once
#include <string>

namespace plat {

// The machine-wide application-data folder (C:\ProgramData), no trailing
// backslash; empty when Windows cannot give it. posix: the profile's
// "commonAppData", default C:\ProgramData.
std::string CommonAppDataDir();

// Whether path is a folder (not a link) that only the administrators and the
// system own and can write to.
bool IsAdminOnlyDir(const std::string& path);

// Makes path such a folder, its parent folders as needed. Something else in
// its place (a file, a link, a folder another user made or could write to)
// is renamed aside, never opened or emptied: whatever is in it came from
// someone else and stays theirs. False when the folder is not admin-only
// afterwards.
bool MakeAdminOnlyDir(const std::string& path);

}  // namespace plat
