#include "download/ServerUrl.h"

#include <cstdlib>

#include "download/PublishedText.h"

namespace corvane {

const char* const kDefaultServerUrl = CORVANE_SERVER_URL;

namespace {
// A test build may take the address from the environment.
std::string Initial(const char* builtIn, [[maybe_unused]] const char* variable) {
#ifdef CORVANE_ENDPOINT_OVERRIDES
  if (const char* v = std::getenv(variable); v && *v) return v;
#endif
  return builtIn;
}
PublishedText& ServerUrlText() {
  static PublishedText text(Initial(kDefaultServerUrl, "CORVANE_SERVER_URL"));
  return text;
}
PublishedText& DirectoryPageText() {
  static PublishedText text(Initial(CORVANE_DIRECTORY_URL, "CORVANE_DIRECTORY_URL"));
  return text;
}
}  // namespace

std::string ServerUrl() { return ServerUrlText().Get(); }
void SetServerUrl(const std::string& url) { ServerUrlText().Set(url); }

std::string DirectoryPageUrl() { return DirectoryPageText().Get(); }
void SetDirectoryPageUrl(const std::string& url) { DirectoryPageText().Set(url); }

}  // namespace corvane
