// Windows paths for the wide file functions of the win32 seam.
#pragma once
#include <string>

namespace plat::win {

// The UTF-16 form of path. A full path of MAX_PATH - 12 characters or more
// (the limit of CreateDirectory) takes the "\\?\" form, which reaches paths
// up to 32,767 characters: "\\?\C:\..." or "\\?\UNC\server\share\...".
std::wstring WinPath(const std::string& path);

}  // namespace plat::win
