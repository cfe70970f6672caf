// "Corvaner.exe /undoboot": the way back for a user who no longer wants the
// upgrade. Without a window, it removes the boot entry and puts back what the
// record (handoff/boot_record.h) says the boot manager held before: the
// default entry and the time-out, or Boot.ini and Boot.ini.bak byte for byte
// with their attributes. It removes the loader files from the system-drive
// root and the hand-off file from the data drives, so that the next run
// verifies the images again. The downloaded images and the user's backup
// stay.
//
// Each step that fails writes a line to the diagnostic log (whether or not
// "/D" is given; with "/D" first, the steps done are written too), the other
// steps still run, and the record stays for the next try. Nothing found to
// undo: nothing changes.
#pragma once
#include <string>
#include <vector>

namespace corvane {

inline constexpr const char* kUndoBootSwitch = "/undoboot";

// The switch anywhere on the command line, in any letter case.
bool UndoBootRequested(const std::vector<std::string>& args);

// Runs the undo; the process exit code: 0 when everything found was undone.
int UndoBoot();

}  // namespace corvane
