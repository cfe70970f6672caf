// What xldl_get needs of the system, one file per system:
// posix/xldl_get_posix.cpp, win32/xldl_get_win32.cpp.
#pragma once

// Ends the process at once, without any clean-up, as a crash would.
[[noreturn]] void DieNow();
// Lets the process write files only up to `bytes` long, as a disk that fills
// up after so many bytes would (posix only; ignored on Windows).
void LimitFileSize(long long bytes);
