// Dynamic libraries and fresh identifiers through the seam. Library paths
// are Windows paths; on the simulated machine they resolve inside it.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

using LibHandle = uintptr_t;  // 0: not loaded

LibHandle LoadLib(const std::string& path);
// The exported symbol, or nullptr.
void* LibSymbol(LibHandle lib, const char* name);
void FreeLib(LibHandle lib);

// A new GUID as 32 upper-case hexadecimal digits, no braces or dashes.
std::string NewGuid32();

}  // namespace plat
