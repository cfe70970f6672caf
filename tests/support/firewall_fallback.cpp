// Link-time fallback for the firewall functions of uCommon while their real
// implementation is not part of the core library: linked after the core, it
// is used only when the core does not define them.
#include "inspection/uCommon.h"

namespace corvane {
void AddFirewallApp(const std::string&, const std::string&) {}
void RemoveFirewallApp(const std::string&, const std::string&) {}
}  // namespace corvane
