// TFrm_Main's two background requests: the server directory at start-up and
// the usage report. Both run on workers and fail silently.
#include "download/ServerRequests.h"
#include "download/ServerUrl.h"
#include "platform/http.h"
#include "window/main_model.h"

namespace corvane {

namespace {

// The program's client. Only a complete 2xx answer is a page: an error page
// from the server is a failed request.
bool ProgramHttpGet(const std::string& url, std::string& body) {
  plat::HttpReply reply;
  if (!plat::HttpGet(url, reply) || reply.status < 200 || reply.status > 299) return false;
  body = std::move(reply.body);
  return true;
}

}  // namespace

void TMainModel::Thrd_GetServerInfo() {
  FetchServerDirectory(ProgramHttpGet, DirectoryPageUrl(), [this](const std::string& notice) {
    ui.Sync([&] { ShowTips(notice, "", PnlHome, 0); });
  });
}

void TMainModel::Statistics(const std::string& pMID, const std::string& pClientVer, int32_t pType) {
  SendStatistics(ProgramHttpGet, pType, pMID, pClientVer);
}

}  // namespace corvane
