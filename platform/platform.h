// The seam between the portable program and the operating system.
//
// Paths are Windows paths ("C:\Win10Data\Config.ini"), UTF-8, on both builds.
// The win32 side calls Windows. The posix side simulates a Windows machine
// inside a folder (see platform/posix/sim_machine.h): drive letters map to
// sub-folders, path components resolve without regard to letter case, and
// drive types, shell folders and WMI values come from the machine profile.
//
// Nothing above this seam includes <windows.h>.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// ---- files -----------------------------------------------------------------
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr uint32_t kAttrReadOnly = 0x1;
constexpr uint32_t kAttrHidden = 0x2;
constexpr uint32_t kAttrSystem = 0x4;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;

bool FileExists(const std::string& path);       // an existing file, not a folder
bool DirectoryExists(const std::string& path);
bool CreateDir(const std::string& path);        // one level; false if it exists or fails
bool ForceDirectories(const std::string& path); // with missing parents; true if it exists after
bool RemoveFile(const std::string& path);
bool RemoveDir(const std::string& path);        // an empty folder
bool RemoveTree(const std::string& path);       // folder with everything in it
bool CopyFileTo(const std::string& from, const std::string& to, bool failIfExists);
bool MoveFileTo(const std::string& from, const std::string& to, bool replaceExisting);
uint32_t FileAttributes(const std::string& path);
bool SetAttributes(const std::string& path, uint32_t attrs);
bool ReadWholeFile(const std::string& path, std::string& out);
// Creates or replaces the file.
bool WriteWholeFile(const std::string& path, std::string_view data);
// Appends, creating the file when missing.
bool AppendToFile(const std::string& path, std::string_view data);
int64_t FileSize(const std::string& path);  // -1 when missing

struct DirEntry {
  std::string name;
  uint32_t attrs = 0;
};
// Entries of a folder (without "." and ".."), in the order the file system
// returns them. False when the folder cannot be read.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out);

std::string GetCurrentDir();
bool SetCurrentDir(const std::string& dir);

// Writes key=value into a section of a profile (INI) file the way Windows'
// WritePrivateProfileString does: an entry with the same key (names compared
// without regard to ASCII letter case) is replaced in place, else the entry
// is added at the end of its section; a missing section is added at the end
// of the file, a missing file is created (its folder must exist). Texts are
// written in the ANSI code page. False when the file cannot be written.
bool WriteProfileText(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value);

// The host path a Windows path stands for (posix: inside the simulated
// machine; win32: the path itself).
std::string HostPath(const std::string& path);

// ---- drives and folders ----------------------------------------------------
constexpr unsigned kDriveUnknown = 0, kDriveNoRootDir = 1, kDriveRemovable = 2, kDriveFixed = 3,
                   kDriveRemote = 4, kDriveCdrom = 5, kDriveRamdisk = 6;
std::vector<std::string> LogicalDriveStrings();  // "C:\", "D:\", ... by letter
unsigned DriveType(const std::string& root);     // root such as "D:\"
std::string TempPath();          // as Windows gives it (may lack the trailing "\")
std::string WindowsDirectory();  // as Windows gives it

// ---- registry: HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders
enum class RegValueKind { NoKey, Missing, String, Other };
RegValueKind ReadShellFolderValue(const std::string& name, std::string& value);

// ---- the program's own resources (type, name; letter case ignored) --------
bool FindResourceData(const std::string& type, const std::string& name, std::string_view& data);

// ---- process, text and locale ----------------------------------------------
// Command-line arguments after the program name.
std::vector<std::string> CommandLineArgs();
void OutputDebugText(const std::string& text);
// The system's ANSI code page, both ways.
std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);
// The code page a new console starts with (the OEM code page), in which
// console programs write their output into a pipe; both ways. posix: the
// profile's "oemcodepage", else its "codepage".
std::string Utf8ToConsole(const std::string& utf8);
std::string ConsoleToUtf8(const std::string& console);
// The user's decimal separator.
std::string DecimalSeparator();
// Local date and time: locale short date, a blank, locale long time; at
// exactly 00:00:00 only the date.
std::string LocalTimeStamp();
uint32_t CurrentThreadId();

}  // namespace plat
