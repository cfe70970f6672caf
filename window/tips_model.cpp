#include "window/tips_model.h"

#include <algorithm>

namespace corvane {

int TipsModel::Show(std::string info, std::string title, std::string anchor, int64_t nowMs) {
  Balloon b;
  b.id = nextId_++;
  b.info = std::move(info);
  b.title = std::move(title);
  b.anchor = std::move(anchor);
  b.shownAt = nowMs;
  balloons_.push_back(std::move(b));
  Changed();
  return balloons_.back().id;
}

void TipsModel::Close(int id) {
  auto it = std::find_if(balloons_.begin(), balloons_.end(), [&](const Balloon& b) { return b.id == id; });
  if (it == balloons_.end()) return;
  balloons_.erase(it);
  Changed();
}

void TipsModel::Check(int64_t nowMs) {
  bool changed = false;
  for (auto it = balloons_.begin(); it != balloons_.end();) {
    if (it->fadeFrom < 0 && displayTime_ > 0 && nowMs - it->shownAt >= displayTime_) {
      it->fadeFrom = nowMs;
      changed = true;
    }
    if (it->fadeFrom >= 0 && nowMs - it->fadeFrom >= kFadeMs) {
      it = balloons_.erase(it);
      changed = true;
    } else {
      if (it->fadeFrom >= 0) changed = true;  // the fade advanced
      ++it;
    }
  }
  if (changed) Changed();
}

int TipsModel::Alpha(const Balloon& b, int64_t nowMs) {
  if (b.fadeFrom < 0) return 255;
  const int64_t left = kFadeMs - (nowMs - b.fadeFrom);
  return static_cast<int>(std::clamp<int64_t>(left * 255 / kFadeMs, 0, 255));
}

}  // namespace corvane
