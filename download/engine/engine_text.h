// Small text helpers of the engine, which links nothing of the program.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace xldl {

std::string Utf16ToUtf8(const char16_t* s, size_t maxUnits);
std::u16string Utf8ToUtf16(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string_view TrimView(std::string_view s);
// Strict non-negative decimal.
bool ParseU64(std::string_view s, int64_t& out);
// An integer from the environment, or `fallback`.
int64_t EnvInt(const char* name, int64_t fallback);

}  // namespace xldl
