#include "download/ServerRequests.h"

#include "download/ServerInfo.h"
#include "download/ServerUrl.h"

namespace corvane {

void FetchServerDirectory(const HttpGetFn& get, const std::string& pageUrl,
                          const std::function<void(const std::string& notice)>& showNotice) {
  try {
    std::string page;
    if (!get(pageUrl, page)) return;
    DirectoryReading reading = ReadServerDirectory(page);
    if (reading.server) SetServerUrl(*reading.server);
    if (reading.notice) showNotice(*reading.notice);
  } catch (...) {
    // Background request: no message, no log line.
  }
}

void SendStatistics(const HttpGetFn& get, int type, const std::string& machineId, const std::string& clientVersion) {
  try {
    std::string ignored;
    get(ServerUrl() + StatisticsQuery(type, machineId, clientVersion), ignored);
  } catch (...) {
    // A lost report is not retried and not reported.
  }
}

}  // namespace corvane
