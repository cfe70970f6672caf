#include "handoff/boot_entry.h"
#include "handoff/boot_record.h"
#include "platform/platform.h"
#include "window/main_model.h"

namespace corvane {

// The boot entry that starts the boot image at the next start. Each step is
// its own function (handoff/boot_entry.h); before the first change the record
// of what will change is kept (handoff/boot_record.h). The failure text of
// the store branch is not shown anywhere: the caller only learns false.
bool TMainModel::MakeBoot(const std::string& pTitle, int32_t pTimeout) {
  try {
    const BootPlaces places = CurrentBootPlaces();
    // Without the work folder nothing is changed.
    if (!plat::DirectoryExists(places.workFolder)) return false;
    const bool bootStore = UsesBootStore(places.systemDrive);
    // What is about to change is written down first, for /undoboot; an
    // attempt that cannot keep the record changes nothing.
    if (!RecordBeforeBootEntry(places, bootStore, vDataDriver)) return false;
    PlaceLoaderFiles(places);
    if (bootStore) {
      std::string failureText;
      return MakeBootStoreEntry(places, pTitle, pTimeout, failureText);
    }
    return EditBootIni(places.systemDrive, pTitle, pTimeout);
  } catch (...) {
    return false;
  }
}

}  // namespace corvane
