// Reading memory that may fail to page in: a view of a file whose disk fails
// raises EXCEPTION_IN_PAGE_ERROR where the bytes are read, not an error code.
#pragma once
#include <cstddef>

namespace plat {

// Calls use(context, data, size). A fault while reading [data, data + size)
// on this thread, an in-page error or an access violation, ends the call
// there and gives false; faults anywhere else pass on as before. `use` must
// hold nothing that needs undoing when it is left half-way (it is left by a
// jump, without unwinding); exceptions it throws pass through.
bool ReadGuarded(const char* data, size_t size, void (*use)(void* context, const char* data, size_t size),
                 void* context);

}  // namespace plat
