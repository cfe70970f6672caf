// The edition configuration that the download stage fetches from the server
// each time it starts: where the two images come from and the values the
// installation hand-off needs.
#pragma once
#include <string>

namespace corvane {

struct DownloadConfig {
  std::string esdUrl;                     // "esdurl": the install image
  std::string bootUrl;                    // "booturl": the boot image
  std::string extractSize = "5573967872"; // "ExtractSize", passed on uninterpreted
  std::string key;                        // "Key", passed on uninterpreted
  std::string esdHash;                    // "EsdHash": SHA-1 of the install image, hex
  std::string bootHash;                   // "BootHash": SHA-1 of the boot image, hex
};

// "x64.ini" for exactly "X64", "x86.ini" for anything else.
std::string ConfigFileName(const std::string& platform);

// Section "Config" of the text; every key that is missing takes its default,
// and text that is no INI file at all gives the defaults.
DownloadConfig ReadDownloadConfig(const std::string& iniText);

// The message of the stage error when the configuration cannot be fetched.
extern const char* const kConfigDownloadError;

// Downloads ServerUrl() + ConfigFileName(platform) into "config.ini" in the
// temporary folder, reads it and deletes it. A copy left over from an
// earlier run is deleted first. Raises Exception(kConfigDownloadError) when
// the download fails.
DownloadConfig FetchDownloadConfig(const std::string& platform);

}  // namespace corvane
