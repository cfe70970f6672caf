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
//     "guid": "0123...CDEF"                     // every new GUID; "" = creating one fails
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

}  // namespace plat::sim
