// The simulated Windows machine of the native build.
//
// A machine is a host folder. Drive X: is its sub-folder "X"; Windows paths
// resolve inside it component by component without regard to letter case.
// "machine.json" in the folder is the profile:
//
//   {
//     "windir": "C:\\Windows",                  // GetWindowsDirectory
//     "temp": "C:\\Users\\User\\AppData\\Local\\Temp\\",
//     "drives": {"C": 3, "D": 3, "E": 5},       // letter -> drive type
//     "shellFolders": {"AppData": "C:\\...", "Desktop": ..., "Personal": ..., "Favorites": ...},
//                                                 // a non-string value reads as a non-string registry value
//     "commonAppData": "C:\\ProgramData",        // the machine-wide application-data folder (the default)
//     "wmi": {"Processor": [{"MaxClockSpeed": 3400, ...}, ...], ...},
//     "codepage": "UTF-8",                      // the ANSI code page (any iconv name, e.g. "GBK")
//     "oemcodepage": "CP936",                   // a new console's code page; default: "codepage"
//     "uiLanguage": "zh-CN",                    // display language told to programs; default "en-US"
//     "decimalSeparator": ".",
//     "args": ["/D"],                           // command-line arguments
//     "guid": "0123...CDEF",                   // every new GUID; "" = creating one fails
//     "programPath": "C:\\Program Files\\Corvane\\Corvaner.exe",  // the running program
//     "trustedRoots": ["-----BEGIN CERTIFICATE-----..."]  // root certificates the machine trusts
//                                                 // (HTTPS and code signatures), besides the host's
//   }
//
// Actions that must not really happen (a restart, a firewall change) are
// appended to "events.log" in the machine folder, one line each.
#pragma once
#include <nlohmann/json.hpp>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plat::sim {

// Extended attribute of a host file holding its Windows attributes (other
// than "directory"); a file without it reads as archive.
inline constexpr const char* kAttrXattr = "user.corvane.attrs";

// Selects the machine folder and (re)reads its profile; a missing profile
// gives the defaults above with drive C: only. Without a call the folder named
// by the environment variable CORVANE_MACHINE is used, or a fresh one in /tmp.
void SetMachineRoot(const std::string& hostDir);
std::string MachineRoot();
// Re-reads machine.json after a test changed it.
void ReloadProfile();
// A copy of the current profile.
nlohmann::json Profile();
// Writes machine.json into the machine folder and reloads it.
void WriteProfile(const nlohmann::json& profile);
nlohmann::json DefaultProfile();

// Host path of a Windows path (see platform.h HostPath).
std::string Resolve(const std::string& winPath);
// The host path a Windows path has when every name in it is spelt as stored,
// worked out without looking at the folders (Resolve's first guess).
std::string ExactHostPath(const std::string& winPath);
// The name of the entry of the open host folder that matches name without
// regard to letter case; name itself when none does.
std::string MatchInFolder(int dirFd, const std::string& name);

void RecordEvent(const std::string& line);

// Called by plat::CopyFileSafely after each chunk (on the copying thread),
// with the Windows source path and the bytes copied so far, so that a test can
// act in the middle of a file. Set it while no copy runs; empty to remove.
void SetCopyChunkObserver(std::function<void(const std::string& from, int64_t copied)> observer);
const std::function<void(const std::string&, int64_t)>& CopyChunkObserver();
std::vector<std::string> Events();

// Windows share modes, as far as the self-update needs them: a file that a
// program holds open denying writes and deletion (plat::WriteAndStartProgram)
// is refused to this process's writes, moves and deletions meanwhile.
void HoldFile(const std::string& hostPath);
void ReleaseFile(const std::string& hostPath);
bool IsHeld(const std::string& hostPath);

// Programs started by plat::StartProgram and plat::WriteAndStartProgram are
// children of this process; this waits until every one started so far has
// ended (a test waits for the replacer this way, and the native replacer
// for the program it restarts, so that its work is done when it ends).
void WaitForStartedPrograms();
// Process ids of the programs started and not yet waited for, oldest first.
std::vector<int> StartedProgramIds();

}  // namespace plat::sim
