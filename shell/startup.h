// The process half of the main window's life: the work folder with the
// unpacked payload, and its removal at the end.
#pragma once
#include <string>

namespace corvane {

inline constexpr const char* kMutexName = "QL_CORVANE";
inline constexpr const char* kMainClassName = "TFrm_Main";
inline constexpr const char* kAppTitle = "QuilloWin10升级助理";
inline constexpr const char* kWorkFolderName = "Corvane";

// The application-data folder + "\Corvane" (no trailing backslash).
std::string WorkFolder();

// Extracts the payload archive resource into a work folder made anew, and
// holds the folder and its files until RemoveWorkFolder (see plat::Holds).
// Swallows every error; returns whether all of it succeeded (for tests and
// the diagnostic log).
bool UnpackPayload();

// Lets go of the work folder and deletes it with everything in it; swallows
// every error.
void RemoveWorkFolder();

}  // namespace corvane
