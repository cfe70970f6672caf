// Settings of the user's session that the main window holds while it runs,
// and the version text of the program's own version resource.
#pragma once
#include <string>

namespace plat {

// Whether the screen saver is active.
bool ScreenSaverActive();
// Turns the screen saver on or off for this session (not written to the
// user profile).
void SetScreenSaverActive(bool on);
// Keeps the system and the display from going idle while the calling
// thread's request stands (ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED).
void KeepSystemAwake();
// FileVersion of the program's version resource ("3.3.30.180"); empty when
// it cannot be read.
std::string FileVersionText();

}  // namespace plat
