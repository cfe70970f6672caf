// The fetch of the edition configuration: network and temporary file.
#include "common/errors.h"
#include "download/DownloadConfig.h"
#include "download/ServerUrl.h"
#include "inspection/uCommon.h"
#include "platform/platform.h"

namespace corvane {

DownloadConfig FetchDownloadConfig(const std::string& platform) {
  const std::string local = GetTempDir() + "config.ini";
  // DownloadToFile deletes its target before the request as well; deleting
  // here too keeps a stale copy from being read whatever the download does.
  plat::RemoveFile(local);
  if (!DownloadToFile(ServerUrl() + ConfigFileName(platform), local)) {
    plat::RemoveFile(local);
    throw Exception(kConfigDownloadError);
  }
  std::string text;
  plat::ReadWholeFile(local, text);  // an unreadable copy reads as an empty file: every default
  plat::RemoveFile(local);
  return ReadDownloadConfig(text);
}

}  // namespace corvane
