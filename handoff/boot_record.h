// What the boot entry is about to change, written down before its first
// change so that "Corvaner.exe /undoboot" can put it back: the boot manager's
// default entry and time-out, or Boot.ini and Boot.ini.bak as they were, and
// the data drives that got a hand-off file.
//
// The record lives in an admin-only folder under the machine-wide
// application-data folder, <CommonAppData>\Corvane: boot-undo.json, and
// beside it the copies of Boot.ini and Boot.ini.bak as they were. The first
// attempt's record stays until an undo has put everything back: a later
// attempt adds only what the earlier ones did not record (another branch,
// another data drive), so it never takes its own entry for the previous one.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "handoff/boot_entry.h"

namespace corvane {

// A file at the system-drive root as it was before the first attempt; when it
// existed, a copy of it lies in the record's folder under its own name.
struct SavedRootFile {
  bool existed = false;
  uint32_t attributes = 0;
};

struct BootRecord {
  std::string systemDrive;
  std::vector<std::string> dataDrives;  // each got \Win10Data\Config.ini
  // The boot store branch was taken. The default entry and the time-out as
  // found: nothing when they could not be read (or named our own entry), an
  // empty text when the boot manager had none.
  bool bootStore = false;
  std::optional<std::string> previousDefault;
  std::optional<std::string> previousTimeout;
  // The Boot.ini branch was taken.
  bool bootIni = false;
  SavedRootFile savedBootIni;     // Boot.ini
  SavedRootFile savedBootIniBak;  // Boot.ini.bak: not there before means it is ours
};

// <CommonAppData>\Corvane.
std::string BootRecordFolder();
std::string BootRecordFile();
// The copy of a root file ("Boot.ini", "Boot.ini.bak") kept beside the record.
std::string SavedCopyPath(const std::string& name);

// The record, when there is one that can be trusted: its folder must be
// admin-only (nothing another user could have put there is believed).
std::optional<BootRecord> LoadBootRecord();
bool SaveBootRecord(const BootRecord& record);
// Removes the record and the copies, and the folder when nothing else is in it.
void ForgetBootRecord();

std::string BootRecordToJson(const BootRecord& record);
std::optional<BootRecord> BootRecordFromJson(const std::string& text);

// The boot manager's default entry and time-out from the output of
// "bcdedit /enum {bootmgr} /v". known is false when the output does not show
// the boot manager (the store could not be read); a missing element is then
// an empty text.
struct BootManagerState {
  bool known = false;
  std::string defaultEntry;  // lower case
  std::string timeout;
};
BootManagerState ParseBootManager(const std::string& enumOutput);

// Before the boot entry's first change: makes the record's folder admin-only
// and adds to the record what this attempt is about to change and what no
// earlier attempt recorded. The boot store's state is read through the
// payload's editor in the work folder. False when the record cannot be kept
// (the attempt must then change nothing).
bool RecordBeforeBootEntry(const BootPlaces& places, bool bootStore, const std::string& dataDrive);

}  // namespace corvane
