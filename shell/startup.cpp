#include "shell/startup.h"

#include "inspection/uCommon.h"
#include "platform/held.h"
#include "platform/platform.h"
#include "platform/unzip.h"

namespace corvane {

namespace {
// The work folder and its files, held from their extraction until the
// folder is removed. Used on the UI thread only.
plat::Holds& PayloadHolds() {
  static plat::Holds* holds = new plat::Holds;
  return *holds;
}
}  // namespace

bool UnpackPayload() {
  try {
    plat::Holds& holds = PayloadHolds();
    holds.ReleaseAll();
    const std::string folder = WorkFolder();
    std::string_view archive;
    if (!plat::FindResourceData("ZIP", "RES", archive)) return false;
    // The folder is made anew (whatever was there goes, a link without what
    // it points to) and held with every file in it: the elevated program
    // runs the editor and copies the loader files from here, and the user's
    // other programs must not swap them meanwhile.
    if (!plat::MakeFreshFolder(folder) || !holds.HoldFolder(folder)) return false;
    ExtractZipDataHeld(archive, folder + "\\", holds);
    return true;
  } catch (...) {
    return false;
  }
}

void RemoveWorkFolder() {
  try {
    PayloadHolds().ReleaseAll();
    plat::RemoveTree(WorkFolder());
  } catch (...) {
  }
}

}  // namespace corvane
