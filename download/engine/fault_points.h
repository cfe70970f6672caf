// Places in the engine where a test can step in: hold a thread (to see what
// the others do meanwhile) or raise an exception (to see that none escapes).
// Nothing sets a hook outside the engine's own tests.
#pragma once

namespace xldl::faults {

enum class Point {
  Sync,    // a flush of the partial data, before a resume record claims it
  Write,   // a write of downloaded bytes
  Remove,  // a removal of a file
};

using Hook = void (*)(Point);
void SetHook(Hook hook);  // nullptr: none
// Calls the hook, if one is set.
void At(Point p);

}  // namespace xldl::faults
