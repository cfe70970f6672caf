#include "handoff/boot_entry.h"

#include "common/text.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"

namespace corvane {

namespace {
const char* const kLoaderFiles[] = {"qxldr", "qxldr.mbr"};
}  // namespace

BootPlaces CurrentBootPlaces() {
  const std::string winDir = GetWinDir();
  return {winDir.substr(0, 2), winDir + "System32\\Cmd.exe", WorkFolder()};
}

void PlaceLoaderFiles(const BootPlaces& places) {
  const std::string root = places.systemDrive + "\\";
  for (const char* name : kLoaderFiles) plat::SetAttributes(root + name, plat::kAttrNormal);
  for (const char* name : kLoaderFiles) plat::CopyFileTo(places.workFolder + "\\" + name, root + name, false);
  for (const char* name : kLoaderFiles) plat::SetAttributes(root + name, plat::kAttrHidden | plat::kAttrSystem);
}

bool UsesBootStore(const std::string& systemDrive) {
  return !plat::FileExists(systemDrive + "\\Boot.ini") && plat::FileExists(systemDrive + "\\bootmgr");
}

std::vector<std::string> BootStoreCommands(const std::string& interpreter, const std::string& title,
                                           int32_t timeout) {
  const char* cmd = interpreter.c_str();
  const char* id = kBootEntryId;
  return {
      Format("%s /c reg unload HKLM\\BCD00000000", cmd),
      Format("%s /c bcdedit.exe /delete %s", cmd, id),
      Format("%s /c bcdedit.exe /create %s /d \"%s\" /application bootsector", cmd, id, title.c_str()),
      Format("%s /c bcdedit.exe /set %s device boot", cmd, id),
      Format("%s /c bcdedit.exe /set %s path \\qxldr.mbr", cmd, id),
      Format("%s /c bcdedit.exe /displayorder %s /addlast", cmd, id),
      Format("%s /c bcdedit.exe /default %s", cmd, id),
      Format("%s /c bcdedit.exe /timeout %d", cmd, static_cast<int>(timeout)),
  };
}

bool ReportsSuccess(const std::string& output) {
  return Contains(output, "成功") || Contains(output, "success");
}

bool MakeBootStoreEntry(const BootPlaces& places, const std::string& title, int32_t timeout,
                        std::string& failureText) {
  const std::vector<std::string> commands = BootStoreCommands(places.interpreter, title, timeout);
  for (size_t i = 0; i < commands.size(); ++i) {
    // The work folder is the command's own current folder, so that the
    // interpreter finds the payload's bcdedit.exe there; the process's
    // current folder, which other workers share, is left alone.
    const std::string output = RunAndCapture(commands[i], places.workFolder);
    if (i < 2) continue;  // unloading and deleting may fail without harm
    if (!ReportsSuccess(output)) {
      failureText = "配置引导区失败:" + output;
      return false;
    }
  }
  return true;
}

bool EditBootIni(const std::string& systemDrive, const std::string& title, int32_t timeout) {
  const std::string bootIni = systemDrive + "\\Boot.ini";
  const std::string stub = systemDrive + "\\qxldr.mbr";
  plat::SetAttributes(bootIni, plat::kAttrHidden);
  plat::CopyFileTo(bootIni, systemDrive + "\\Boot.ini.bak", false);  // nothing to back up without a Boot.ini
  if (!plat::WriteProfileText(bootIni, "operating systems", stub, "\"" + title + "\"")) return false;
  if (!plat::WriteProfileText(bootIni, "boot loader", "timeout", std::to_string(timeout))) return false;
  if (!plat::WriteProfileText(bootIni, "boot loader", "default", stub)) return false;
  plat::SetAttributes(bootIni, plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem);
  return true;
}

}  // namespace corvane
