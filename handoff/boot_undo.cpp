#include "handoff/boot_undo.h"

#include <optional>

#include "common/text.h"
#include "common/zip.h"
#include "handoff/boot_entry.h"
#include "handoff/boot_record.h"
#include "inspection/uCommon.h"
#include "platform/admin_folder.h"
#include "platform/platform.h"
#include "window/Log.h"

namespace corvane {

namespace {

const char* const kLogPrefix = "UndoBoot:";
const char* const kErrorPrefix = "UndoBoot Error:";

// The editor's answer on one log line.
std::string OneLine(const std::string& output) {
  std::string line;
  for (char c : Trim(output)) {
    if (c == '\r' || c == '\n') {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += c;
    }
  }
  return line;
}

class BootUndo {
 public:
  int Run() {
    record_ = LoadBootRecord();
    systemDrive_ = record_ ? record_->systemDrive : GetWinDir().substr(0, 2);
    UndoBootStore();
    UndoBootIni();
    RemoveRootFiles();
    RemoveHandoffFiles();
    if (!editor_.empty()) plat::RemoveFile(editor_);
    // A record stays until everything it names has been put back. Nothing
    // is removed from a folder that others could have made or changed.
    if (plat::IsAdminOnlyDir(BootRecordFolder())) {
      if (!failed_)
        ForgetBootRecord();
      else if (!record_)
        plat::RemoveDir(BootRecordFolder());  // made for the editor alone
    }
    return failed_ ? 1 : 0;
  }

 private:
  void Done(const std::string& what) { Log(kLogPrefix + what); }
  void Fail(const std::string& what) {
    failed_ = true;
    LogLine(kErrorPrefix + what);
  }

  // The payload's editor, unpacked from the program's own archive into the
  // record's admin-only folder (not into the work folder, which a running
  // copy owns and removes when it ends).
  bool PrepareEditor() {
    if (!editor_.empty()) return true;
    try {
      const std::string folder = BootRecordFolder();
      if (!plat::MakeAdminOnlyDir(folder)) return false;
      std::string_view archive;
      if (!plat::FindResourceData("ZIP", "RES", archive)) return false;
      const ZipReader zip(archive);
      for (const ZipEntry& e : zip.Entries()) {
        if (!EqualsNoCase(e.name, "bcdedit.exe")) continue;
        const std::string path = folder + "\\bcdedit.exe";
        if (!plat::WriteWholeFile(path, zip.Read(e))) return false;
        editor_ = path;
        return true;
      }
    } catch (...) {
    }
    return false;
  }

  std::string Editor(const std::string& args) {
    return RunAndCapture("\"" + editor_ + "\" " + args, BootRecordFolder());
  }

  // One change through the editor: done when its output reports success.
  void Change(const std::string& args, const std::string& what) {
    const std::string output = Editor(args);
    if (ReportsSuccess(output))
      Done(what);
    else
      Fail(what + ": bcdedit " + args + ": " + OneLine(output));
  }

  void UndoBootStore() {
    const bool recorded = record_ && record_->bootStore;
    if (!recorded && !UsesBootStore(systemDrive_)) return;
    if (!PrepareEditor()) {
      Fail("unpack the boot configuration editor");
      return;
    }
    const std::string id = kBootEntryId;
    const std::string bootmgr = Editor("/enum {bootmgr} /v");
    const BootManagerState before = ParseBootManager(bootmgr);
    const bool ourEntry = FindNoCase(Editor("/enum " + id + " /v"), id) != std::string::npos;
    if (!before.known && !ourEntry) {
      Fail("read the boot store: " + OneLine(bootmgr));
      return;
    }
    if (ourEntry) Change("/delete " + id, "remove boot entry " + id);
    const std::string bootmgrAfter = Editor("/enum {bootmgr} /v");
    const BootManagerState after = ParseBootManager(bootmgrAfter);
    if (!after.known) {
      Fail("read the boot manager after removing the entry: " + OneLine(bootmgrAfter));
      return;
    }
    const bool defaultIsOurs = EqualsNoCase(before.defaultEntry, id) || EqualsNoCase(after.defaultEntry, id);
    if (recorded && record_->previousDefault) {
      const std::string& was = *record_->previousDefault;
      if (was.empty() && !after.defaultEntry.empty())
        Change("/deletevalue {bootmgr} default", "remove the default entry, as before");
      else if (!was.empty() && !EqualsNoCase(after.defaultEntry, was))
        Change("/default " + was, "restore default entry " + was);
    } else if (defaultIsOurs) {
      // What was the default before is not known: the Windows running now.
      Change("/default {current}", "make the running Windows the default entry");
    }
    if (recorded && record_->previousTimeout) {
      const std::string& was = *record_->previousTimeout;
      if (was.empty() && !after.timeout.empty())
        Change("/deletevalue {bootmgr} timeout", "remove the time-out, as before");
      else if (!was.empty() && after.timeout != was)
        Change("/timeout " + was, "restore time-out " + was);
    }
  }

  void UndoBootIni() {
    if (record_ && record_->bootIni) {
      RestoreRootFile("Boot.ini", record_->savedBootIni);
      RestoreRootFile("Boot.ini.bak", record_->savedBootIniBak);
      return;
    }
    std::string text;
    if (plat::ReadWholeFile(systemDrive_ + "\\Boot.ini", text) && FindNoCase(text, "qxldr.mbr") != std::string::npos)
      Fail("restore " + systemDrive_ + "\\Boot.ini: it starts qxldr.mbr, and no record says what it held before");
  }

  // Puts a root file back as it was: its bytes and attributes from the copy
  // beside the record, or no file when there was none.
  void RestoreRootFile(const std::string& name, const SavedRootFile& saved) {
    const std::string path = systemDrive_ + "\\" + name;
    if (!saved.existed) {
      RemoveOurFile(path);
      return;
    }
    std::string was, now;
    if (!plat::ReadWholeFile(SavedCopyPath(name), was)) {
      Fail("restore " + path + ": its saved copy " + SavedCopyPath(name) + " cannot be read");
      return;
    }
    if (plat::ReadWholeFile(path, now) && now == was && plat::FileAttributes(path) == saved.attributes) return;
    plat::SetAttributes(path, plat::kAttrNormal);
    if (!plat::WriteWholeFile(path, was) || !plat::SetAttributes(path, saved.attributes)) {
      Fail("restore " + path);
      return;
    }
    Done("restore " + path);
  }

  void RemoveOurFile(const std::string& path) {
    if (!plat::FileExists(path)) return;
    const uint32_t attrs = plat::FileAttributes(path);
    plat::SetAttributes(path, plat::kAttrNormal);
    if (plat::RemoveFile(path)) {
      Done("remove " + path);
    } else {
      plat::SetAttributes(path, attrs);
      Fail("remove " + path);
    }
  }

  void RemoveRootFiles() {
    for (const char* name : {"qxldr", "qxldr.mbr"}) RemoveOurFile(systemDrive_ + "\\" + name);
  }

  // The hand-off file: without it the next run verifies the images again.
  void RemoveHandoffFiles() {
    if (!record_) return;
    for (const std::string& drive : record_->dataDrives) RemoveOurFile(drive + "\\Win10Data\\Config.ini");
  }

  std::optional<BootRecord> record_;
  std::string systemDrive_;
  std::string editor_;
  bool failed_ = false;
};

}  // namespace

bool UndoBootRequested(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (EqualsNoCase(a, kUndoBootSwitch)) return true;
  return false;
}

int UndoBoot() {
  try {
    return BootUndo().Run();
  } catch (...) {
    LogLine(std::string(kErrorPrefix) + "the undo stopped on an unexpected error");
    return 1;
  }
}

}  // namespace corvane
