// CRC-32C (Castagnoli), the checksum of the resume record's cells. Uses the
// processor's crc32 instruction where it has one (SSE4.2), a table otherwise.
#pragma once
#include <cstddef>
#include <cstdint>

namespace xldl {

// The CRC of `crc`'s data followed by these n bytes; start with 0.
// Crc32c(0, "123456789", 9) == 0xE3069283.
uint32_t Crc32c(uint32_t crc, const void* data, size_t n);

// The table version alone, for comparing both in tests.
uint32_t Crc32cPortable(uint32_t crc, const void* data, size_t n);
bool Crc32cInHardware();

}  // namespace xldl
