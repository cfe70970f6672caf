// The two background requests to the operators' side, with the HTTP GET and
// the window passed in, so that they can run against any client. TFrm_Main's
// Thrd_GetServerInfo and Statistics call them with the program's client.
#pragma once
#include <functional>
#include <string>

namespace corvane {

// GET url; true with the whole body on a complete 2xx answer. May throw.
using HttpGetFn = std::function<bool(const std::string& url, std::string& body)>;

// Fetches the directory page, moves ServerUrl when the directory names a
// server, and passes the notice (if any) to showNotice. Silent on every
// failure: what was done before it stays done. Never throws.
void FetchServerDirectory(const HttpGetFn& get, const std::string& pageUrl,
                          const std::function<void(const std::string& notice)>& showNotice);

// GETs ServerUrl() + the statistics query; the answer is not read. Never throws.
void SendStatistics(const HttpGetFn& get, int type, const std::string& machineId, const std::string& clientVersion);

}  // namespace corvane
