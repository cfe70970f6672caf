// The update information file ("update.inf" on the server) and the version
// comparison. Pure functions over UTF-8 text.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The value of `key` (it begins with "#"): found by its first occurrence
// anywhere in the text, letter case ignored, immediately followed by "="
// (for "#message" by "={"); the value keeps its letter case and ends before
// the first character below 32 ("#message": before the first "}", across
// lines). The file's last two characters never belong to a value (they are
// its closing CR LF), so a value on an unterminated last line loses two.
// A missing key reads as empty.
std::string UpdateInfoValue(std::string_view text, std::string_view key);

struct UpdateInfo {
  std::string version;
  std::string method;   // first character "1": setup program, "2": web page
  std::string message;  // release note, not shown
  std::string date;     // not consulted (versions compare by number)
  // File entries: "#url", "#url0", then "#url" + n for n from one more than
  // the entries found under those two, up to the first missing number.
  std::vector<std::string> entries;
};
UpdateInfo ReadUpdateInfo(std::string_view text);

// Compares two versions by number: each split at "." into four parts
// (missing parts "0", text after a fourth "." ignored), part by part. If any
// of the eight parts is not an integer, the whole texts are compared
// character by character instead. <0, 0, >0.
int CompareVersions(std::string_view a, std::string_view b);

// A newer version exists: `available` is not empty and greater than `own`.
bool IsNewerVersion(std::string_view available, std::string_view own);

// What a check finds worth updating to: a newer version with at least one
// file entry.
bool OffersUpdate(const UpdateInfo& info, std::string_view ownVersion);

// The method digit for the replacer: '1' for a setup program, '0' otherwise.
char UpdateMethodDigit(const UpdateInfo& info);
bool IsWebPageMethod(const UpdateInfo& info);

}  // namespace corvane
