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
//     "programPath": "C:\\Program Files\\Corvane\\Corvaner.exe",  // the running program
//     "trustedRoots": ["-----BEGIN CERTIFICATE-----..."]  // root certificates the machine trusts
//                                                 // (HTTPS and code signatures), besides the host's
//   }
//
// Actions that must not really happen (a restart, a firewall change) are
// appended to "events.log" in the machine folder, one line each.
#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace plat::sim {

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

void RecordEvent(const std::string& line);
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
