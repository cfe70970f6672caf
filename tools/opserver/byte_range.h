// Reading of a "Range" request header against a file of known size.
#pragma once
#include <cstdint>
#include <string>

namespace opserver {

struct RangeAnswer {
  enum Kind {
    Whole,          // no usable Range header: answer 200 with the whole body
    Partial,        // answer 206 with bytes [first, last]
    Unsatisfiable,  // answer 416
  } kind = Whole;
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive
};

// A single "bytes=a-b", "bytes=a-" or "bytes=-n" range. A header that does
// not parse, names another unit or lists several ranges is ignored (the
// whole body is sent), which HTTP allows a server to do.
RangeAnswer ReadRange(const std::string& header, uint64_t size);

}  // namespace opserver
