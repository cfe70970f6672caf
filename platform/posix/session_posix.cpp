// The simulated machine records the session settings instead of making them.
#include "platform/posix/sim_machine.h"
#include "platform/session.h"

namespace plat {

// The profile's "screenSaver" (default true) is the state found at start.
bool ScreenSaverActive() { return sim::Profile().value("screenSaver", true); }
void SetScreenSaverActive(bool on) { sim::RecordEvent(on ? "screensaver on" : "screensaver off"); }
void KeepSystemAwake() { sim::RecordEvent("execution state 0x80000003"); }
// The native build carries no version resource; CORVANE_FILE_VERSION is the
// project version the Windows builds' resource is made from.
std::string FileVersionText() { return CORVANE_FILE_VERSION; }

}  // namespace plat
