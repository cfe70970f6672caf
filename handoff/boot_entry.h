// The steps of the boot entry (TFrm_Main::MakeBoot strings them together):
// the loader files at the system-drive root, the choice of boot manager, and
// the entry itself, either in the boot configuration data store through the
// payload's bcdedit.exe or in Boot.ini.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

// The entry's identifier: the same on every machine and every run, so that
// a new attempt replaces the entry of an earlier one.
inline constexpr const char* kBootEntryId = "{8EF5A46A-844E-42C0-82E7-9AED7BA9A7A1}";

struct BootPlaces {
  std::string systemDrive;  // "C:", the first two characters of the Windows folder
  std::string interpreter;  // the Windows folder + "System32\Cmd.exe"
  std::string workFolder;   // <AppData>\Corvane, holding bcdedit.exe, qxldr, qxldr.mbr
};
BootPlaces CurrentBootPlaces();

// Copies qxldr and qxldr.mbr from the work folder to the system-drive root,
// first making copies left by an earlier attempt writable, and leaves both
// hidden and system. The outcome is not examined: a missing copy shows later.
void PlaceLoaderFiles(const BootPlaces& places);

// True for the boot manager with its data store (a bootmgr at the root and no
// Boot.ini); false means Boot.ini is edited.
bool UsesBootStore(const std::string& systemDrive);

// The eight command lines of the store branch, in order.
std::vector<std::string> BootStoreCommands(const std::string& interpreter, const std::string& title, int32_t timeout);

// Whether a command's output reports a change made: it contains "成功" or
// "success" (letter case counts).
bool ReportsSuccess(const std::string& output);

// Runs the command lines one after another, each with the work folder as its
// own current folder. The output of the first two is not examined; the first
// later one whose output reports no success ends the branch with false and
// failureText "配置引导区失败:" + that output.
bool MakeBootStoreEntry(const BootPlaces& places, const std::string& title, int32_t timeout,
                        std::string& failureText);

// Backs Boot.ini up to Boot.ini.bak and writes the entry for the loader stub,
// the time-out and the default through the profile-file rules; Boot.ini ends
// read-only, hidden and system. False when a write fails.
bool EditBootIni(const std::string& systemDrive, const std::string& title, int32_t timeout);

}  // namespace corvane
