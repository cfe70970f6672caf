// The check of a local file path that arrived over the network before a
// program running as administrator writes to it or moves a file onto it.
// Self-contained (the standard library only), so that the replacer can carry
// it without the rest of the program.
#pragma once
#include <string>
#include <string_view>

namespace corvane {

// Empty when `path` is a plain file path on a drive ("C:\dir\file.ext", "\"
// or "/" as separators). Otherwise why it is refused:
//   - not absolute on a drive (a relative, rooted or drive-relative form),
//   - a device or UNC form ("\\.\", "\\?\", "\??\", "\\server\share"),
//   - a stream (a ":" after the drive's colon),
//   - a "..", "." or other component made only of dots and blanks,
//   - a component ending in a dot or blank (Windows drops those, so the
//     name would stand for another one),
//   - a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$,
//     CONOUT$, CLOCK$; also with an extension, as Windows treats them),
//   - a character Windows does not allow in names (control characters and
//     < > " | ? *),
//   - no file name (the path ends in a separator).
std::string LocalPathProblem(std::string_view path);

}  // namespace corvane
