// The undo's record is read from the disk and the boot manager's state from
// the editor's output: neither may crash the program on any text, and what a
// record hands on to the editor is only ever an identifier or a count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "handoff/boot_record.h"

namespace {

bool Plain(const std::string& s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '{' ||
          c == '}'))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  corvane::ParseBootManager(text);
  if (const auto record = corvane::BootRecordFromJson(text)) {
    if (record->previousDefault && !Plain(*record->previousDefault)) std::abort();
    if (record->previousTimeout && !Plain(*record->previousTimeout)) std::abort();
    // What is written reads back the same.
    const std::string once = corvane::BootRecordToJson(*record);
    const auto again = corvane::BootRecordFromJson(once);
    if (!again || corvane::BootRecordToJson(*again) != once) std::abort();
  }
  return 0;
}
