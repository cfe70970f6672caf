// The replacer catches no exception: a failure of the standard library (no
// memory, a length out of range) ends it either way. These definitions end
// it at once instead of throwing, so the static C++ runtime does not bring
// its exception texts and the name demangler of its terminate handler into
// the program (which would nearly treble its size). They take the place of
// the runtime's own, which are then not linked in.
#include <windows.h>

namespace __gnu_cxx {
void __verbose_terminate_handler() { ::ExitProcess(3); }
}  // namespace __gnu_cxx

namespace std {
[[noreturn]] void __throw_length_error(const char*) { ::ExitProcess(3); }
[[noreturn]] void __throw_logic_error(const char*) { ::ExitProcess(3); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { ::ExitProcess(3); }
[[noreturn]] void __throw_bad_alloc() { ::ExitProcess(3); }
[[noreturn]] void __throw_bad_array_new_length() { ::ExitProcess(3); }
}  // namespace std
