#include "download/RunConfig.h"

#include "download/DownloadConfig.h"
#include "window/main_model.h"

namespace corvane {

ImageAddresses FetchRunConfig(TMainModel& frm) {
  DownloadConfig c = FetchDownloadConfig(frm.vPlatform);
  frm.vExtractSize = c.extractSize;
  frm.vEsdKey = c.key;
  frm.vEsdHash = c.esdHash;
  frm.vBootHash = c.bootHash;
  return {c.esdUrl, c.bootUrl};
}

}  // namespace corvane
