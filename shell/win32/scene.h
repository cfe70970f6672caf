// Paints a form model: the client area, or the skinned title bar in the
// non-client area. Every child window of the view shows its own rectangle
// of this one picture, so transparent controls show what lies beneath them.
#pragma once
#include <windows.h>

#include <map>

#include "shell/form_model.h"

namespace corvane::view {

struct ControlLook {
  bool hover = false;
  bool pressed = false;
  bool focus = false;
};

class Scene {
 public:
  explicit Scene(Form& form) : form_(form) {}

  // The rectangle of a control in client coordinates (the title bar's
  // controls lie above 0). Labels sized to their text are measured.
  RECT Box(const Control& c) const;
  // True when the control is on screen: it and its parents are visible and
  // its content panel, if any, is the one in front.
  bool Shown(const Control& c) const;

  // Paints the client area into dc, whose origin is the client's top-left.
  void PaintClient(HDC dc);
  // Paints the title bar and the 1-pixel frame into a window DC of the given
  // window size; the client area starts at (1, 31).
  void PaintTitleBar(HDC dc, int windowWidth, int windowHeight);

  std::map<const Control*, ControlLook> looks;
  static constexpr int kFrame = 1;
  static constexpr int kTitleHeight = 30;

 private:
  void PaintTree(HDC dc, const Control& c, int dx, int dy);
  void PaintOne(HDC dc, const Control& c, const RECT& r);
  ControlLook Look(const Control& c) const;
  Form& form_;
};

}  // namespace corvane::view
