#include "shell/startup.h"

#include "common/zip.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"

namespace corvane {

std::string WorkFolder() { return GetAppDataDir() + "\\" + kWorkFolderName; }

bool UnpackPayload() {
  try {
    const std::string appData = GetAppDataDir();
    const std::string archive = appData + "\\res.zip";
    ExtractResToFile("zip", "res", archive);
    bool ok = true;
    try {
      ExtractZipFile(archive, appData + "\\" + kWorkFolderName + "\\");
    } catch (...) {
      ok = false;
    }
    plat::RemoveFile(archive);
    return ok;
  } catch (...) {
    return false;
  }
}

void RemoveWorkFolder() {
  try {
    plat::RemoveTree(WorkFolder());
  } catch (...) {
  }
}

}  // namespace corvane
