// Paints a form model: the client area, or the skinned title bar in the
// non-client area. Every child window of the view shows its own rectangle
// of this one picture, so transparent controls show what lies beneath them.
// The model is laid out at 96 DPI; the scene draws it at its window's DPI,
// every length multiplied, with fonts and pictures made for that scale.
#pragma once
#include <windows.h>

#include <map>

#include "window/form_model.h"

namespace corvane::view {

struct Picture;

struct ControlLook {
  bool hover = false;
  bool pressed = false;
  bool focus = false;
};

class Scene {
 public:
  explicit Scene(Form& form) : form_(form) {}

  int Dpi() const { return dpi_; }
  void SetDpi(int dpi) { dpi_ = dpi; }
  // A length of the layout on this display.
  int Px(int v) const;

  // The rectangle of a control in client coordinates of the display (the
  // title bar's controls lie above 0). Labels sized to their text are
  // measured.
  RECT Box(const Control& c) const;
  // True when the control is on screen: it and its parents are visible and
  // its content panel, if any, is the one in front.
  bool Shown(const Control& c) const;

  // Paints the client area into dc, whose origin is the client's top-left.
  void PaintClient(HDC dc);
  // Paints the title bar and the frame into a window DC of the given window
  // size; the client area starts at (Frame(), Frame() + TitleHeight()).
  void PaintTitleBar(HDC dc, int windowWidth, int windowHeight);

  // The client area and the skin's non-client parts on this display: a
  // 1-pixel frame (a whole number of pixels) and a 30-pixel title bar.
  int ClientWidth() const;
  int ClientHeight() const;
  int Frame() const;
  int TitleHeight() const;
  // The whole window: client area, title bar and frame.
  SIZE WindowSize() const;

  std::map<const Control*, ControlLook> looks;
  static constexpr int kFrame = 1;
  static constexpr int kTitleHeight = 30;

 private:
  void PaintTree(HDC dc, const Control& c, int dx, int dy);
  // One control, by its kind.
  struct Item;
  void PaintOne(HDC dc, const Control& c, const RECT& r);
  static void PaintPanel(const Item& it, const Picture* pic);
  static void PaintLabel(const Item& it);
  static void PaintColourButton(const Item& it);
  static void PaintCheckBox(const Item& it);
  // A picture strip of three states (the switch, the title bar's buttons).
  static void PaintStrip(const Item& it, const Picture* strip, int top);
  static void PaintProgressBar(const Item& it);
  ControlLook Look(const Control& c) const;
  Font FontOf(const Font& f) const;
  Form& form_;
  int dpi_ = 96;
};

}  // namespace corvane::view
