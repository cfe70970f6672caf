// Actions on the machine that the simulated machine records instead of doing.
#pragma once
#include <string>

namespace plat {

// Windows Firewall (COM "HNetCfg.FwMgr"): authorise a program for the current
// profile under a display name, or remove it by path. Errors are swallowed.
// posix: recorded as the events "firewall add <name>|<path>" and
// "firewall remove <path>".
void FirewallAuthorizeApp(const std::string& name, const std::string& imagePath);
void FirewallRemoveApp(const std::string& imagePath);
// How many times the firewall code has reached for COM (posix: for the
// recorder) in this process; lets tests see that a call did nothing.
int FirewallCallCount();

// Restart the computer (not forced; other programs may veto it).
// win32: the shutdown privilege is enabled on NT first. posix: recorded as the
// event "restart".
void RestartWindows();

}  // namespace plat
