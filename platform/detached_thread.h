// A thread that nobody joins: the stage workers and the download poller.
#pragma once
#include <functional>

namespace plat {

// Runs `body` on a new thread of its own. False when no thread could be
// made; `body` has not run then. An exception leaving `body` ends only that
// thread.
//
// On Windows the thread is the system's own (its handle closed at once),
// not a detached POSIX-layer thread: under Wine a POSIX-layer thread made
// right after another detached one ended could be lost before it ran.
bool StartDetachedThread(std::function<void()> body);

}  // namespace plat
