// The diagnostic log: on only when the first command-line argument is "/D"
// (any letter case). Looked up afresh on every call; never raises; safe from
// any thread.
#pragma once
#include <string>

namespace corvane {

inline constexpr const char* kLogFile = "D:\\corvane.txt";
inline constexpr const char* kDebugPrefix = "[Corvane]";

bool LogEnabled();
void Log(const std::string& pLog);
// The same line whether or not the switch is on: for what a user who gets no
// window must be able to read afterwards.
void LogLine(const std::string& pLog);

}  // namespace corvane
