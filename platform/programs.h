// Programs that the self-update writes, starts and waits for.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace plat {

// The full path of the running program (posix: the machine profile's
// "programPath", by default C:\Program Files\Corvane\Corvaner.exe).
std::string ProgramPath();

// The Windows system folder (GetSystemDirectory), without a trailing "\".
std::string SystemFolder();

// The long form of an existing path (8.3 names spelled out); the path itself
// when there is none.
std::string LongPathName(const std::string& path);

// Opens the existing file for writing, sharing reads, and closes it again:
// false while another process has it open or runs from it (and when it is
// missing). posix: while a process runs from it or holds a lock on it.
bool CanOpenForWriting(const std::string& path);

// Starts `program` in a normal window with `commandLine` (which names the
// program first, quoted where needed); nothing waits for it.
bool StartProgram(const std::string& program, const std::string& commandLine);

// Writes `image` as the program `path` (replacing a file of that name) and
// starts it with `commandLine`. From before the first byte is written until
// the process has been created the file is held open, denying writes and
// deletion to everyone else, and what is started is checked to be exactly
// `image`: no other process can change or swap it in between. False when
// the file cannot be made, or differs, or the process does not start.
bool WriteAndStartProgram(const std::string& path, std::string_view image, const std::string& commandLine);

// Tests: called with the path once the image is written and held, just
// before the process is created.
void SetBeforeProgramStartHook(std::function<void(const std::string& path)> hook);

// A modal information box with one button (posix: recorded as an event).
void ShowInformationBox(const std::string& caption, const std::string& text);

}  // namespace plat
