#include "download/RunConfig.h"

#include "download/DownloadConfig.h"
#include "shell/F_Main.h"

namespace corvane {

ImageAddresses FetchRunConfig(TFrm_Main& frm) {
  DownloadConfig c = FetchDownloadConfig(frm.vPlatform);
  frm.vExtractSize = c.extractSize;
  frm.vEsdKey = c.key;
  frm.vEsdHash = c.esdHash;
  frm.vBootHash = c.bootHash;
  return {c.esdUrl, c.bootUrl};
}

}  // namespace corvane
