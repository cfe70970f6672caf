// Management instrumentation (WMI) of the local machine, namespace root\cimv2.
//
// win32: the automation object "WbemScripting.SWbemLocator" (COM initialised
// on the calling thread for the length of the call).
// posix: the machine profile's "wmi" object: class name (without "Win32_") ->
// list of instances, each an object of properties; null is a null value. A
// class part may carry one condition "Where Prop='value'" (letter case of the
// keywords and the value ignored), as "LogicalDisk Where Caption='C:'" does.
// A profile whose "wmi" is not an object stands for a machine without a
// working WMI.
#pragma once
#include <string>

namespace plat {

// Text of the first non-null value of propName over
// "Select * from Win32_" + classPart, untrimmed, numbers in decimal; empty
// when no instance has a value. Raises corvane::Exception when WMI cannot be
// reached, the query fails or the property does not exist.
std::string WmiFirstValue(const std::string& classPart, const std::string& propName);

}  // namespace plat
