#include "platform/detached_thread.h"

#include <thread>

namespace plat {

bool StartDetachedThread(std::function<void()> body) {
  try {
    std::thread([body = std::move(body)] {
      try {
        body();
      } catch (...) {
      }
    }).detach();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace plat
