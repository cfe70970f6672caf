// INI text comes from the network: reading must never crash, whatever it is.
#include <cstddef>
#include <cstdint>
#include <string>

#include "download/DownloadConfig.h"
#include "download/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  corvane::IniFile ini(text);
  ini.ReadString("Config", "esdurl", "");
  ini.ReadString("", "", "d");
  corvane::ReadDownloadConfig(text);
  return 0;
}
