// Small builders for the window layouts: a control's style in one line.
#pragma once
#include <string>

#include "window/form_model.h"

namespace corvane::layout {

inline constexpr Colour kTitleBlue = 0x0090ED;
inline constexpr Colour kButtonBlue = 0x229EED;
inline constexpr Colour kButtonHover = 0x0090ED;
inline constexpr Colour kPanelLight = 0xF7FAFD;

struct S {
  ControlStyle s;
  operator ControlStyle() const { return s; }
  S& Fill(Colour c) { s.fill = c; return *this; }
  S& Fill(Colour c, Colour hover) { s.fill = c; s.hoverFill = hover; return *this; }
  S& Colour(corvane::Colour c) { s.textColour = c; return *this; }
  S& Transparent() { s.transparent = true; s.fill = kNoColour; return *this; }
  S& BottomLine(bool on = true) { s.bottomLine = on; return *this; }
  S& Fixed(int w, int h) { s.autoSize = false; s.width = w; s.height = h; return *this; }
  S& Align(HAlign a) { s.align = a; return *this; }
  S& VCentre() { s.vCentre = true; return *this; }
  S& ShowHint() { s.showHint = true; return *this; }
  S& SquareFrame() { s.squareFrame = true; return *this; }
  S& Hand() { s.handCursor = true; return *this; }
};

inline S Panel(const std::string& parent, int w, int h) {
  S r;
  r.s.kind = ControlKind::Panel;
  r.s.parent = parent;
  r.s.width = w;
  r.s.height = h;
  return r;
}
// One of the eight stacked content panels: 350 x 300, light, bottom line.
inline S ContentPanel() {
  S r = Panel("", 350, 300).Fill(kPanelLight).BottomLine();
  r.s.stacked = true;
  return r;
}
inline S PictureOf(const std::string& parent, int w, int h) {
  S r = Panel(parent, w, h);
  r.s.kind = ControlKind::Picture;
  r.s.transparent = true;
  return r;
}
// A label sized to its text.
inline S LabelOf(const std::string& parent, Font font) {
  S r;
  r.s.kind = ControlKind::Label;
  r.s.parent = parent;
  r.s.font = std::move(font);
  r.s.transparent = true;
  return r;
}
inline S ButtonOf(const std::string& parent, int w, int h, int fontPx) {
  S r = Panel(parent, w, h);
  r.s.kind = ControlKind::ColourButton;
  r.s.font = Font{kYaHei, fontPx};
  r.s.textColour = 0xFFFFFF;
  r.s.fill = kButtonBlue;
  r.s.hoverFill = kButtonHover;
  r.s.handCursor = true;
  r.s.tabStop = true;
  r.s.align = HAlign::Centre;
  r.s.vCentre = true;
  return r;
}
inline S TitleButtonOf(const std::string& parent) {
  S r = Panel(parent, 28, 22);
  r.s.kind = ControlKind::TitleButton;
  return r;
}
inline S CheckBoxOf(const std::string& parent, int w, int h) {
  S r = Panel(parent, w, h);
  r.s.kind = ControlKind::CheckBox;
  r.s.font = Font{"Tahoma", 11};
  r.s.transparent = true;
  r.s.tabStop = true;
  return r;
}
inline S SwitchOf(const std::string& parent, int w, int h) {
  S r = Panel(parent, w, h);
  r.s.kind = ControlKind::Switch;
  r.s.tabStop = true;
  r.s.transparent = true;
  return r;
}
inline S ProgressOf(const std::string& parent, int w, int h) {
  S r = Panel(parent, w, h);
  r.s.kind = ControlKind::ProgressBar;
  return r;
}

}  // namespace corvane::layout
