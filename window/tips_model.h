// The tip component: balloons anchored to controls, sharing one display
// time. A balloon checks the display time about every 50 ms; once its age
// reaches a display time greater than 0 it fades out over 500 ms and closes.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvane {

class TipsModel {
 public:
  static constexpr int kFadeMs = 500;
  static constexpr int kCheckMs = 50;

  struct Balloon {
    int id = 0;
    std::string info, title;
    std::string anchor;        // name of the control it points at
    int64_t shownAt = 0;
    int64_t fadeFrom = -1;     // -1 while not fading
  };

  // Display time in ms; 0 means no limit. Applies to every balloon showing.
  int64_t DisplayTime() const { return displayTime_; }
  void SetDisplayTime(int64_t ms) { displayTime_ = ms; }

  // Adds a balloon; the ones already showing stay. Returns its id.
  int Show(std::string info, std::string title, std::string anchor, int64_t nowMs);
  // The user's close button.
  void Close(int id);
  // The periodic check: starts fades and closes faded balloons.
  void Check(int64_t nowMs);

  const std::vector<Balloon>& Showing() const { return balloons_; }
  // Opacity 0..255 of a balloon at nowMs (255 until it fades).
  static int Alpha(const Balloon& b, int64_t nowMs);

  // Called after every change of the list or of a balloon's fade.
  std::function<void()> OnChange;

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  int64_t displayTime_ = 0;
  std::vector<Balloon> balloons_;
  int nextId_ = 1;
};

}  // namespace corvane
