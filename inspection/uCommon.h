// The toolbox of free functions over the operating system. None keeps state.
// Each reports failure through a fixed sentinel result or lets the error pass
// to its caller, as stated per function; callers rely on which.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvane {

// ---- folders, resources and file lists -------------------------------------

// Drive designators ("C:", upper case, no backslash) of every logical drive,
// by letter. Empty list on failure.
std::vector<std::string> GetDriveList();

// Pieces of text between separators; separators at the start or two in a row
// give no empty piece, a text ending in the separator gives an empty last
// piece, an empty text one empty piece, an empty separator the text itself.
std::vector<std::string> SplitToList(const std::string& text, const std::string& sep);

// Files below dir, depth first, in file-system order. filter "*.*" takes every
// file; otherwise a file is taken when its upper-cased extension occurs inside
// the upper-cased filter. maxDepth -1 means no limit. On an error, what was
// gathered so far. Symbolic links and junctions below dir are neither followed
// nor listed.
std::vector<std::string> CollectFiles(const std::string& root, const std::string& dir, const std::string& filter,
                                      int maxDepth);

// A value of HKCU\...\Explorer\Shell Folders without one trailing backslash;
// empty when missing. A value of non-string type raises Exception.
std::string GetShellFolder(const std::string& valueName);
std::string GetDesktopDir();
std::string GetPersonalDir();
std::string GetFavoritesDir();
std::string GetAppDataDir();

// The program's work folder, where the payload is unpacked: the
// application-data folder + "\Corvane" (no trailing backslash).
inline constexpr const char* kWorkFolderName = "Corvane";
std::string WorkFolder();

// The temporary and Windows folders, each ending in "\".
std::string GetTempDir();
std::string GetWinDir();

// Writes the program's resource (type, name; case ignored) to fileName,
// creating or replacing it. Raises Exception when the resource is missing or
// the file cannot be written.
void ExtractResToFile(const std::string& resType, const std::string& resName, const std::string& fileName);

// ---- machine queries and system actions ------------------------------------
// (implemented in uCommon_machine.cpp; sentinels as stated per function)

// Trimmed text of the first non-null value of PropName over
// "Select * from Win32_" + ClassPart; empty when none. Errors raise.
std::string GetWmiValue(const std::string& classPart, const std::string& propName);
// Bytes of the drive named by the first two characters; -1 on any failure.
int64_t GetDriveTotalSize(const std::string& drive);
int64_t GetDriveFreeSize(const std::string& drive);
// "3.20GB", "1024.00MB", "未知容量" for -1, ...
std::string FormatByteSize(int64_t size);
// Output of a console command, each line followed by CR LF, read in the code
// page the command wrote it in (its console's); "#" when it could not run.
// currentDir: the command's own current folder (empty: the caller's); the
// process's current folder is never changed.
std::string RunAndCapture(const std::string& commandLine, const std::string& currentDir = "");
// HTTP GET into a file; the file is deleted before the request. false on failure.
bool DownloadToFile(const std::string& url, const std::string& fileName);
// 40 upper-case hex digits; empty text on any failure (also when the file is in use).
std::string GetFileSHA1(const std::string& fileName);
// The same, telling onProgress the bytes hashed so far after each block (on
// the calling thread).
using HashProgress = std::function<void(int64_t bytesHashed)>;
std::string GetFileSHA1(const std::string& fileName, const HashProgress& onProgress);
// 32 upper-case hex digits of MD5(ProcessorId + disk SerialNumber); MD5("UNKNOWN") on failure.
std::string GetMachineId();
void AddFirewallApp(const std::string& appName, const std::string& imagePath);
void RemoveFirewallApp(const std::string& appName, const std::string& imagePath);
void RestartComputer();

}  // namespace corvane
