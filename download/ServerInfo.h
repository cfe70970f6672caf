// The server directory and the usage report, as rules on texts: what the
// directory page yields, and which address a usage report asks for. The
// network and the window are left to the callers (TFrm_Main's
// Thrd_GetServerInfo and Statistics).
#pragma once
#include <optional>
#include <string>

namespace corvane {

// The text between the first "[QX]" and the first "[/QX]" of the page; empty
// when either is missing or the end marker comes first. A second pair later
// in the page does not count.
std::string ExtractDirectoryText(const std::string& page);

// What a directory page asks for. Reading stops at the first thing missing
// or unreadable, keeping what was read before it: without "server" nothing
// happens; without "status" only the address is taken; the notice needs
// "msg".
struct DirectoryReading {
  std::optional<std::string> server;  // the new base address (never empty)
  std::optional<std::string> notice;  // shown when "status" is not exactly "ok"
};
DirectoryReading ReadServerDirectory(const std::string& page);

// "stat.php?type=%d&mid=%s&cliver=%s" with the values inserted as they are.
std::string StatisticsQuery(int type, const std::string& machineId, const std::string& clientVersion);

}  // namespace corvane
