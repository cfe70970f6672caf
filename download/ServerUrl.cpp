#include "download/ServerUrl.h"

#include "download/PublishedText.h"

namespace corvane {

const char* const kDefaultServerUrl = CORVANE_SERVER_URL;

namespace {
PublishedText& ServerUrlText() {
  static PublishedText text(kDefaultServerUrl);
  return text;
}
PublishedText& DirectoryPageText() {
  static PublishedText text(CORVANE_DIRECTORY_URL);
  return text;
}
}  // namespace

std::string ServerUrl() { return ServerUrlText().Get(); }
void SetServerUrl(const std::string& url) { ServerUrlText().Set(url); }

std::string DirectoryPageUrl() { return DirectoryPageText().Get(); }
void SetDirectoryPageUrl(const std::string& url) { DirectoryPageText().Set(url); }

}  // namespace corvane
