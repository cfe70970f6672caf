// The first step of the download stage: the edition configuration for the
// run's platform, fetched anew at every start of the stage.
#pragma once
#include <string>

namespace corvane {

class TMainModel;

struct ImageAddresses {
  std::string esdUrl;   // the install image
  std::string bootUrl;  // the boot image
};

// Fetches the configuration for frm.vPlatform from the current ServerUrl,
// overwrites vExtractSize, vEsdKey, vEsdHash and vBootHash (with defaults
// for missing keys) and returns the two image addresses. Raises
// Exception("下载配置文件错误！") when the fetch fails; the fields then keep
// their earlier values. Runs on the stage's worker.
ImageAddresses FetchRunConfig(TMainModel& frm);

}  // namespace corvane
