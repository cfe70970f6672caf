// Copying one file so that neither side can be hurt by it: the primitive of
// the user-data backup.
//
// - The source is opened for reading only and shares reading, writing and
//   deleting with every other program; its contents, attributes and times are
//   left as they were.
// - The data goes into a temporary file beside the destination, which takes
//   the destination's name only when it is complete: a cancel, a full drive or
//   a program ending half-way never leaves a truncated file under the real
//   name, and an older copy stays until the new one is whole. An older copy is
//   replaced even when it carries the read-only attribute.
// - The copy takes the source's attributes and last-write time, as the
//   system's own copy does.
// - Between chunks of at most kCopyChunkBytes it asks `goOn` whether to carry
//   on; a cancel removes the unfinished copy.
// - Paths of any length (the long form is used where Windows needs it).
//
// A source that another program holds without sharing reading (or that is no
// regular file) fails like any other unreadable source.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace plat {

enum class CopyResult { Copied, Failed, Cancelled };

// Called between chunks with the bytes copied so far; false cancels.
using CopyGoOn = std::function<bool(int64_t copied)>;

inline constexpr int64_t kCopyChunkBytes = int64_t{4} << 20;

// Suffix of the temporary file beside the destination.
inline constexpr const char* kCopyTempSuffix = ".cvpart";

CopyResult CopyFileSafely(const std::string& from, const std::string& to, const CopyGoOn& goOn);

}  // namespace plat
