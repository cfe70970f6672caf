#include "handoff/boot_entry.h"
#include "platform/platform.h"
#include "shell/F_Main.h"

namespace corvane {

// The boot entry that starts the boot image at the next start. Each step is
// its own function (handoff/boot_entry.h). The failure text of the store
// branch is not shown anywhere: the caller only learns false.
bool TFrm_Main::MakeBoot(const std::string& pTitle, int32_t pTimeout) {
  try {
    const BootPlaces places = CurrentBootPlaces();
    // Without the work folder nothing is changed.
    if (!plat::DirectoryExists(places.workFolder)) return false;
    PlaceLoaderFiles(places);
    if (UsesBootStore(places.systemDrive)) {
      std::string failureText;
      return MakeBootStoreEntry(places, pTitle, pTimeout, failureText);
    }
    return EditBootIni(places.systemDrive, pTitle, pTimeout);
  } catch (...) {
    return false;
  }
}

}  // namespace corvane
