#include "window/Log.h"

#include "common/text.h"
#include "platform/platform.h"

namespace corvane {

bool LogEnabled() {
  try {
    const auto args = plat::CommandLineArgs();
    return !args.empty() && UpperAscii(args[0]) == "/D";
  } catch (...) {
    return false;
  }
}

void Log(const std::string& pLog) {
  if (LogEnabled()) LogLine(pLog);
}

void LogLine(const std::string& pLog) {
  try {
    plat::OutputDebugText(kDebugPrefix + pLog);
  } catch (...) {
  }
  try {
    const std::string line = "[" + plat::LocalTimeStamp() + "]" + pLog + "\r\n";
    plat::AppendToFile(kLogFile, plat::Utf8ToAnsi(line));
  } catch (...) {
    // the line is lost, as any other failure of the log
  }
}

}  // namespace corvane
