#include "handoff/boot_record.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/admin_folder.h"
#include "platform/platform.h"

namespace corvane {

namespace {

using nlohmann::json;

const char* const kBootMgrGuid = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
const char* const kRootFiles[] = {"Boot.ini", "Boot.ini.bak"};

bool IsDriveDesignator(const std::string& s) {
  return s.size() == 2 && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')) && s[1] == ':';
}

// A value the record passes back to the editor: an identifier in braces, or
// a count of seconds. Anything else is not taken from a record.
bool IsEntryId(const std::string& s) {
  if (s.size() < 3 || s.size() > 40 || s.front() != '{' || s.back() != '}') return false;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    const char c = s[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-')) return false;
  }
  return true;
}
bool IsSeconds(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

json SavedToJson(const SavedRootFile& f) {
  json j = {{"existed", f.existed}};
  if (f.existed) j["attributes"] = f.attributes;
  return j;
}

SavedRootFile SavedFromJson(const json& j) {
  SavedRootFile f;
  f.existed = j.at("existed").get<bool>();
  if (f.existed) f.attributes = j.at("attributes").get<uint32_t>();
  return f;
}

// Copies the root file into the record's folder, writable there, and notes
// what it was. False when a file that exists cannot be copied.
bool SaveRootFile(const std::string& systemDrive, const std::string& name, SavedRootFile& saved) {
  const std::string path = systemDrive + "\\" + name;
  saved = {};
  saved.existed = plat::FileExists(path);
  if (!saved.existed) return true;
  saved.attributes = plat::FileAttributes(path);
  const std::string copy = SavedCopyPath(name);
  plat::SetAttributes(copy, plat::kAttrNormal);
  if (!plat::CopyFileTo(path, copy, false)) return false;
  plat::SetAttributes(copy, plat::kAttrNormal);
  return true;
}

}  // namespace

std::string BootRecordFolder() { return plat::CommonAppDataDir() + "\\Corvane"; }
std::string BootRecordFile() { return BootRecordFolder() + "\\boot-undo.json"; }
std::string SavedCopyPath(const std::string& name) { return BootRecordFolder() + "\\" + name; }

std::string BootRecordToJson(const BootRecord& r) {
  json j = {{"systemDrive", r.systemDrive}, {"dataDrives", r.dataDrives}};
  if (r.bootStore) {
    json s = json::object();
    if (r.previousDefault) s["default"] = *r.previousDefault;
    if (r.previousTimeout) s["timeout"] = *r.previousTimeout;
    j["bootStore"] = s;
  }
  if (r.bootIni)
    j["bootIni"] = {{"Boot.ini", SavedToJson(r.savedBootIni)}, {"Boot.ini.bak", SavedToJson(r.savedBootIniBak)}};
  return j.dump(2);
}

std::optional<BootRecord> BootRecordFromJson(const std::string& text) {
  try {
    const json j = json::parse(text);
    BootRecord r;
    r.systemDrive = j.at("systemDrive").get<std::string>();
    if (!IsDriveDesignator(r.systemDrive)) return std::nullopt;
    for (const auto& d : j.at("dataDrives")) {
      const std::string drive = d.get<std::string>();
      if (IsDriveDesignator(drive)) r.dataDrives.push_back(drive);
    }
    if (j.contains("bootStore")) {
      const json& s = j["bootStore"];
      r.bootStore = true;
      if (s.contains("default")) {
        const std::string v = s["default"].get<std::string>();
        if (v.empty() || IsEntryId(v)) r.previousDefault = v;
      }
      if (s.contains("timeout")) {
        const std::string v = s["timeout"].get<std::string>();
        if (v.empty() || IsSeconds(v)) r.previousTimeout = v;
      }
    }
    if (j.contains("bootIni")) {
      r.bootIni = true;
      r.savedBootIni = SavedFromJson(j["bootIni"].at("Boot.ini"));
      r.savedBootIniBak = SavedFromJson(j["bootIni"].at("Boot.ini.bak"));
    }
    return r;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<BootRecord> LoadBootRecord() {
  const std::string folder = BootRecordFolder();
  if (!plat::IsAdminOnlyDir(folder)) return std::nullopt;
  std::string text;
  if (!plat::ReadWholeFile(BootRecordFile(), text)) return std::nullopt;
  return BootRecordFromJson(text);
}

bool SaveBootRecord(const BootRecord& record) {
  const std::string file = BootRecordFile();
  const std::string next = file + ".new";
  // Whole or not at all: the new text replaces the old one in one step.
  return plat::WriteWholeFile(next, BootRecordToJson(record)) && plat::MoveFileTo(next, file, true);
}

void ForgetBootRecord() {
  plat::RemoveFile(BootRecordFile());
  for (const char* name : kRootFiles) {
    plat::SetAttributes(SavedCopyPath(name), plat::kAttrNormal);
    plat::RemoveFile(SavedCopyPath(name));
  }
  plat::RemoveDir(BootRecordFolder());  // only when nothing else is in it
}

BootManagerState ParseBootManager(const std::string& enumOutput) {
  BootManagerState state;
  std::istringstream in(enumOutput);
  for (std::string line; std::getline(in, line);) {
    // "<element>   <value>": the element's name, blanks, the value.
    const std::string t = Trim(line);
    const size_t gap = t.find_first_of(" \t");
    if (gap == std::string::npos) continue;
    const std::string name = t.substr(0, gap);
    const std::string value = Trim(std::string_view(t).substr(gap));
    if (EqualsNoCase(value, kBootMgrGuid) || EqualsNoCase(value, "{bootmgr}")) state.known = true;
    if (EqualsNoCase(name, "default") && state.defaultEntry.empty()) state.defaultEntry = LowerAscii(value);
    if (EqualsNoCase(name, "timeout") && state.timeout.empty()) state.timeout = value;
  }
  if (!state.known) state = {};
  return state;
}

bool RecordBeforeBootEntry(const BootPlaces& places, bool bootStore, const std::string& dataDrive) {
  if (!plat::MakeAdminOnlyDir(BootRecordFolder())) return false;
  BootRecord record = LoadBootRecord().value_or(BootRecord{});
  if (record.systemDrive.empty()) record.systemDrive = places.systemDrive;
  const std::string drive = UpperAscii(dataDrive);
  if (IsDriveDesignator(drive) &&
      std::find(record.dataDrives.begin(), record.dataDrives.end(), drive) == record.dataDrives.end())
    record.dataDrives.push_back(drive);
  if (bootStore && !record.bootStore) {
    record.bootStore = true;
    const BootManagerState found = ParseBootManager(
        RunAndCapture(places.interpreter + " /c bcdedit.exe /enum {bootmgr} /v", places.workFolder));
    // Our own entry as the default means an attempt made without a record:
    // what was there before it is not known any more.
    if (found.known && !EqualsNoCase(found.defaultEntry, kBootEntryId) &&
        (found.defaultEntry.empty() || IsEntryId(found.defaultEntry)) &&
        (found.timeout.empty() || IsSeconds(found.timeout))) {
      record.previousDefault = found.defaultEntry;
      record.previousTimeout = found.timeout;
    }
  }
  if (!bootStore && !record.bootIni) {
    if (!SaveRootFile(places.systemDrive, "Boot.ini", record.savedBootIni)) return false;
    if (!SaveRootFile(places.systemDrive, "Boot.ini.bak", record.savedBootIniBak)) return false;
    record.bootIni = true;
  }
  return SaveBootRecord(record);
}

}  // namespace corvane
