#include "download/DownloadConfig.h"

#include "download/IniFile.h"

namespace corvane {

const char* const kConfigDownloadError = "下载配置文件错误！";

std::string ConfigFileName(const std::string& platform) { return platform == "X64" ? "x64.ini" : "x86.ini"; }

DownloadConfig ReadDownloadConfig(const std::string& iniText) {
  IniFile ini(iniText);
  DownloadConfig c;
  c.esdUrl = ini.ReadString("Config", "esdurl", "");
  c.bootUrl = ini.ReadString("Config", "booturl", "");
  c.extractSize = ini.ReadString("Config", "ExtractSize", DownloadConfig{}.extractSize);
  c.key = ini.ReadString("Config", "Key", "");
  c.esdHash = ini.ReadString("Config", "EsdHash", "");
  c.bootHash = ini.ReadString("Config", "BootHash", "");
  return c;
}

}  // namespace corvane
