// The tip balloons on screen: one layered pop-up window per balloon of the
// model, under its anchor control, stacked downwards, fading as the model
// says, each with its own close button. Drawn at the owner window's DPI.
#pragma once
#include <windows.h>

#include <functional>
#include <map>

#include "window/tips_model.h"
#include "shell/win32/form_view.h"

namespace corvane::view {

class TipsView {
 public:
  TipsView(TipsModel& tips, FormView& owner, std::function<int64_t()> now);
  ~TipsView();
  // Creates, moves, fades and removes balloon windows to match the model.
  void Sync();

 private:
  struct Balloon {
    HWND hwnd = nullptr;
    int width = 0, height = 0;
    int stemX = -1;  // where the pointer meets the body's top edge
    int dpi = 0;     // the scale its region was made for
    bool closeHot = false;
  };
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  void Paint(HWND h, const TipsModel::Balloon& b, const Balloon& w);
  const TipsModel::Balloon* ModelOf(HWND h) const;
  SIZE Measure(const TipsModel::Balloon& b) const;
  // A length of the balloon's layout at the owner's DPI.
  int Px(int v) const { return owner_.Px(v); }
  RECT CloseBox(int width) const;

  TipsModel& tips_;
  FormView& owner_;
  std::function<int64_t()> now_;
  std::map<int, Balloon> windows_;
};

}  // namespace corvane::view
