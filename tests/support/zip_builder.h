#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>

namespace corvane::test {

// A tiny ZIP writer for the tests: stored or deflated entries.
struct ZipBuilder {
  std::string local, central;
  int count = 0;
  static void U16(std::string& s, uint16_t v) { s += char(v & 0xFF), s += char(v >> 8); }
  static void U32(std::string& s, uint32_t v) { U16(s, v & 0xFFFF), U16(s, v >> 16); }
  ZipBuilder& Add(const std::string& name, const std::string& data, bool compress = true) {
    std::string body = data;
    uint16_t method = 0;
    if (compress) {
      z_stream z{};
      deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
      body.assign(deflateBound(&z, data.size()) + 16, '\0');
      z.next_in = (Bytef*)data.data();
      z.avail_in = data.size();
      z.next_out = (Bytef*)body.data();
      z.avail_out = body.size();
      deflate(&z, Z_FINISH);
      body.resize(z.total_out);
      deflateEnd(&z);
      method = 8;
    }
    const uint32_t crc = crc32(0, (const Bytef*)data.data(), data.size());
    const uint32_t off = local.size();
    U32(local, 0x04034b50), U16(local, 20), U16(local, 0), U16(local, method), U32(local, 0), U32(local, crc);
    U32(local, body.size()), U32(local, data.size()), U16(local, name.size()), U16(local, 0);
    local += name + body;
    U32(central, 0x02014b50), U16(central, 20), U16(central, 20), U16(central, 0), U16(central, method);
    U32(central, 0), U32(central, crc), U32(central, body.size()), U32(central, data.size());
    U16(central, name.size()), U16(central, 0), U16(central, 0), U16(central, 0), U16(central, 0), U32(central, 0);
    U32(central, off);
    central += name;
    ++count;
    return *this;
  }
  std::string Bytes() const {
    std::string end;
    U32(end, 0x06054b50), U16(end, 0), U16(end, 0), U16(end, count), U16(end, count);
    U32(end, central.size()), U32(end, local.size()), U16(end, 0);
    return local + central + end;
  }
};


}  // namespace corvane::test
