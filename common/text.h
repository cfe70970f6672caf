// Text helpers. Inside the program every text is UTF-8 in a std::string;
// conversion to UTF-16 happens only at the Win32 boundary and in the engine
// records. Where the program counts characters it counts code points.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);
#ifdef _WIN32
std::wstring Widen(std::string_view s);
std::string Narrow(std::wstring_view s);
#endif

// Number of code points in a UTF-8 text (invalid bytes count one each).
size_t CodePointCount(std::string_view s);
// Pads on the right with blanks to n code points; longer texts stay as they are.
std::string PadRight(std::string_view s, size_t n);

std::string UpperAscii(std::string_view s);
std::string LowerAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);  // ASCII letters only
size_t FindNoCase(std::string_view hay, std::string_view needle, size_t from = 0);
bool Contains(std::string_view hay, std::string_view needle);
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);

// Removes leading and trailing characters with codes up to 32.
std::string Trim(std::string_view s);

// Replaces the first occurrence of `from` (ASCII case ignored) by `to`.
std::string ReplaceFirstNoCase(std::string_view s, std::string_view from, std::string_view to);

// Adds a trailing backslash when missing.
std::string IncludeTrailingBackslash(std::string_view s);
std::string ExcludeTrailingBackslash(std::string_view s);
// Folder part (up to and including the last backslash) and name part of a path.
std::string ExtractFilePath(std::string_view path);
std::string ExtractFileName(std::string_view path);
// Extension from the last '.' of the name on, dot included; empty if none.
std::string ExtractFileExt(std::string_view path);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Fixed-point with `decimals` decimals and the given decimal separator (the
// user's: plat::DecimalSeparator()).
std::string FormatFixed(double v, int decimals, std::string_view sep);

// Strict decimal parsing (optional leading sign, digits only, no blanks).
bool TryParseInt64(std::string_view s, int64_t& out);
bool TryParseInt32(std::string_view s, int32_t& out);

// Upper-case hexadecimal of bytes.
std::string HexUpper(const unsigned char* data, size_t n);

}  // namespace corvane
