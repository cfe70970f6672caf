#include "common/zip.h"

#include <zlib.h>

#include <cstring>

#include "common/errors.h"
#include "common/text.h"

namespace corvane {
namespace {

constexpr uint32_t kEndSig = 0x06054b50, kCentralSig = 0x02014b50, kLocalSig = 0x04034b50;
constexpr uint32_t kZip64EndSig = 0x06064b50, kZip64LocatorSig = 0x07064b50;
constexpr uint64_t kMaxEntrySize = uint64_t(1) << 30;  // our archives are small

uint16_t U16(std::string_view d, size_t o) {
  return static_cast<uint16_t>(static_cast<unsigned char>(d[o]) | (static_cast<unsigned char>(d[o + 1]) << 8));
}
uint32_t U32(std::string_view d, size_t o) { return U16(d, o) | (static_cast<uint32_t>(U16(d, o + 2)) << 16); }
uint64_t U64(std::string_view d, size_t o) { return U32(d, o) | (static_cast<uint64_t>(U32(d, o + 4)) << 32); }

[[noreturn]] void Fail(const std::string& what) { throw Exception("ZIP: " + what); }

void Need(std::string_view d, uint64_t off, uint64_t len) {
  if (off > d.size() || len > d.size() - off) Fail("archive is truncated or damaged");
}

}  // namespace

ZipReader::ZipReader(std::string_view archive) : data_(archive) {
  const std::string_view d = data_;
  if (d.size() < 22) Fail("not a ZIP archive");
  // The end record sits within the last 64 KiB + 22 bytes.
  size_t end = std::string_view::npos;
  const size_t lowest = d.size() > 65557 ? d.size() - 65557 : 0;
  for (size_t i = d.size() - 22 + 1; i-- > lowest;) {
    if (U32(d, i) == kEndSig) {
      end = i;
      break;
    }
  }
  if (end == std::string_view::npos) Fail("no end of central directory");
  uint64_t count = U16(d, end + 10);
  uint64_t cdSize = U32(d, end + 12);
  uint64_t cdOffset = U32(d, end + 16);
  if ((count == 0xFFFF || cdOffset == 0xFFFFFFFF) && end >= 20 && U32(d, end - 20) == kZip64LocatorSig) {
    const uint64_t z64 = U64(d, end - 20 + 8);
    Need(d, z64, 56);
    if (U32(d, z64) != kZip64EndSig) Fail("damaged ZIP64 record");
    count = U64(d, z64 + 32);
    cdSize = U64(d, z64 + 40);
    cdOffset = U64(d, z64 + 48);
  }
  Need(d, cdOffset, cdSize);
  uint64_t p = cdOffset;
  for (uint64_t i = 0; i < count; ++i) {
    Need(d, p, 46);
    if (U32(d, p) != kCentralSig) Fail("damaged central directory");
    ZipEntry e;
    const uint16_t flags = U16(d, p + 8);
    e.method = U16(d, p + 10);
    e.crc32 = U32(d, p + 16);
    e.compressedSize = U32(d, p + 20);
    e.size = U32(d, p + 24);
    const uint16_t nameLen = U16(d, p + 28), extraLen = U16(d, p + 30), commentLen = U16(d, p + 32);
    e.localHeaderOffset = U32(d, p + 42);
    Need(d, p + 46, uint64_t(nameLen) + extraLen + commentLen);
    e.name.assign(d.substr(p + 46, nameLen));
    // ZIP64 extra field
    uint64_t x = p + 46 + nameLen;
    const uint64_t xEnd = x + extraLen;
    while (x + 4 <= xEnd) {
      const uint16_t id = U16(d, x), len = U16(d, x + 2);
      if (x + 4 + len > xEnd) break;
      if (id == 1) {
        uint64_t q = x + 4;
        if (e.size == 0xFFFFFFFF && q + 8 <= x + 4 + len) e.size = U64(d, q), q += 8;
        if (e.compressedSize == 0xFFFFFFFF && q + 8 <= x + 4 + len) e.compressedSize = U64(d, q), q += 8;
        if (e.localHeaderOffset == 0xFFFFFFFF && q + 8 <= x + 4 + len) e.localHeaderOffset = U64(d, q);
      }
      x += 4 + len;
    }
    if (flags & 1) Fail("encrypted entry " + e.name);
    e.isDirectory = !e.name.empty() && (e.name.back() == '/' || e.name.back() == '\\');
    entries_.push_back(std::move(e));
    p += 46 + nameLen + extraLen + commentLen;
  }
}

std::string ZipReader::Read(const ZipEntry& e) const {
  const std::string_view d = data_;
  Need(d, e.localHeaderOffset, 30);
  if (U32(d, e.localHeaderOffset) != kLocalSig) Fail("damaged local header of " + e.name);
  const uint64_t start = e.localHeaderOffset + 30 + U16(d, e.localHeaderOffset + 26) + U16(d, e.localHeaderOffset + 28);
  Need(d, start, e.compressedSize);
  if (e.size > kMaxEntrySize || e.compressedSize > kMaxEntrySize) Fail("entry too large: " + e.name);
  const std::string_view src = d.substr(start, e.compressedSize);
  std::string out;
  if (e.method == 0) {
    if (e.compressedSize != e.size) Fail("bad stored size of " + e.name);
    out.assign(src);
  } else if (e.method == 8) {
    // One extra byte of room tells an entry that inflates to more than it says.
    out.resize(e.size + 1);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) Fail("inflate cannot start");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(src.data()));
    z.avail_in = static_cast<uInt>(src.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const uint64_t produced = z.total_out;
    inflateEnd(&z);
    if (rc != Z_STREAM_END || produced != e.size) Fail("damaged data in " + e.name);
    out.resize(e.size);
  } else {
    Fail("unsupported compression method " + std::to_string(e.method) + " in " + e.name);
  }
  const uLong crc = crc32_z(0L, reinterpret_cast<const Bytef*>(out.data()), out.size());
  if (crc != e.crc32) Fail("CRC mismatch in " + e.name);
  return out;
}

std::string SafeRelativePath(const std::string& entryName) {
  std::string n = entryName;
  for (auto& c : n)
    if (c == '/') c = '\\';
  if (n.empty()) Fail("empty entry name");
  if (n.find('\0') != std::string::npos) Fail("entry name with a NUL: refused");
  if (n[0] == '\\') Fail("absolute path refused: " + entryName);
  if (n.find(':') != std::string::npos) Fail("drive letter or stream refused: " + entryName);
  std::string out;
  size_t start = 0;
  while (start <= n.size()) {
    size_t e = n.find('\\', start);
    if (e == std::string::npos) e = n.size();
    const std::string part = n.substr(start, e - start);
    if (part == "..") Fail("path leaving the target folder refused: " + entryName);
    if (!part.empty() && part != ".") {
      if (!out.empty()) out += '\\';
      out += part;
    }
    start = e + 1;
  }
  if (out.empty()) Fail("empty entry name: " + entryName);
  return out;
}

}  // namespace corvane
