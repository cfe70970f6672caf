// The process half of the main window's life: the work folder with the
// unpacked payload, and its removal at the end.
#pragma once
#include <string>

#include "inspection/uCommon.h"  // WorkFolder
#include "window/main_model.h"  // kMainClassName, kAppTitle

namespace corvane {

inline constexpr const char* kMutexName = "QL_CORVANE";

// Extracts the payload archive resource into a work folder made anew, and
// holds the folder and its files until RemoveWorkFolder (see plat::Holds).
// Swallows every error; returns whether all of it succeeded (for tests and
// the diagnostic log).
bool UnpackPayload();

// Lets go of the work folder and deletes it with everything in it; swallows
// every error.
void RemoveWorkFolder();

}  // namespace corvane
