// Child output cut into reads of any size: the lines never hold a line end
// or NUL, the live view ends equal to the lines, and no other byte is lost.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/uDosCommand.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("CORVANE_MACHINE", "/tmp/corvane-fuzz-machine", 0);  // code page UTF-8: bytes pass unchanged
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const unsigned seed = data[0];
  const std::string out(reinterpret_cast<const char*>(data + 1), size - 1);

  corvane::TDosCommand owner;
  corvane::TProcessTimer timer(corvane::SystemClock());
  corvane::TStringList lines, shown;
  const corvane::TNewLineEvent none;
  corvane::TLineAssembler assembler(owner, lines, &shown, timer, none);
  std::atomic<bool> stop{false};
  size_t at = 0, step = 1 + seed % 7;
  while (at < out.size()) {
    const size_t n = std::min(step, out.size() - at);
    assembler.Feed(out.data() + at, n, stop);
    at += n;
    step = 1 + (step * 5 + seed) % 13;
  }
  assembler.Finish();

  std::string kept, joined;
  for (char c : out)
    if (c != '\r' && c != '\n' && c != '\0') kept += c;
  for (const auto& l : lines) {
    if (l.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) std::abort();
    joined += l;
  }
  if (joined != kept || shown != lines) std::abort();
  return 0;
}
