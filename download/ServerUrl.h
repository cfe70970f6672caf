// The server base address. Every request to the operators' server is this
// address with a relative name glued directly to its end ("x64.ini",
// "update.inf", "stat.php?..."). It starts at the built-in default and may be
// moved once per run by the server directory (Thrd_GetServerInfo); other
// worker threads read it later. Reads and writes are safe from any thread.
#pragma once
#include <string>

namespace corvane {

// The built-in default: HTTP, port 81, path "/corvane/" (a build-time setting).
extern const char* const kDefaultServerUrl;

std::string ServerUrl();
void SetServerUrl(const std::string& url);

// The public page that carries the server directory (a build-time setting;
// tests point it at their own server).
std::string DirectoryPageUrl();
void SetDirectoryPageUrl(const std::string& url);

}  // namespace corvane
