// The Win32 view of a form model: a fixed-size top-level window with the
// skin's 30-pixel title bar in its non-client area, and a real child window
// for every control a user can reach (buttons, check boxes, the switch,
// labels, progress bars), so that tab order, focus, Enter and Space and
// screen readers work. Every window paints its rectangle of one picture of
// the model (see Scene); the model's change notifications repaint it.
//
// The model is laid out at 96 DPI. The view takes the DPI of the display the
// window is on, multiplies the window, its controls and its title bar by it,
// and follows the window to a display of another scale (WM_DPICHANGED).
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "window/form_model.h"
#include "shell/win32/scene.h"

namespace corvane::view {

inline constexpr UINT kRunUiTasks = WM_APP + 1;
inline constexpr UINT_PTR kPumpTimer = 1;

class FormView {
 public:
  struct Options {
    std::wstring className;
    HWND owner = nullptr;
    bool appWindow = false;      // its own taskbar button
    bool centreOnOwner = false;  // else centred on the screen
    bool quitOnDestroy = false;  // ends the message loop
    bool pump = false;           // 50 ms timer calling onPump
    bool topmost = false;
  };

  FormView(Form& form, Options options);
  ~FormView();
  FormView(const FormView&) = delete;
  FormView& operator=(const FormView&) = delete;

  // Creates the window (hidden); returns null on failure.
  HWND Create();
  HWND Hwnd() const { return hwnd_; }
  Form& Model() { return form_; }
  // Shows the window modally over its owner; returns when it is destroyed.
  void RunModal();
  // Keys for the whole window (before the dialog manager): true when used.
  std::function<bool(WPARAM)> onKey;
  // Message-loop filter: Enter presses the focused button; Tab, the arrows
  // and Space go through the dialog manager. True when the message is used.
  bool PreTranslate(MSG& msg);
  // The child window of a control, or null.
  HWND ChildOf(const std::string& name) const;
  // The tooltip control that shows the controls' hints.
  HWND Tooltip() const { return tooltip_; }
  // The rectangle of a control on the screen.
  RECT ScreenBox(const Control& c) const;
  // The DPI the window is drawn at; lengths of the layout on this display.
  int Dpi() const { return scene_.Dpi(); }
  int Px(int v) const { return scene_.Px(v); }

  // Hooks into the window's life (all optional).
  std::function<bool(UINT, WPARAM)> dropsMessage;  // the WndProc rule
  std::function<void(WPARAM)> onActivate;          // after the default handling
  std::function<void()> onClose;                   // before the window goes
  std::function<void()> onDestroy;
  std::function<bool(int, int)> canResize;
  std::function<void()> onPump;
  std::function<void()> onRunTasks;
  std::function<void()> onMoved;
  // Owner-drawn menu items (the pop-up menu) are measured and drawn here.
  std::function<bool(MEASUREITEMSTRUCT*)> measureMenu;
  std::function<bool(DRAWITEMSTRUCT*)> drawMenu;

  static void RegisterClasses();

 private:
  static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK ChildProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  // The groups of messages Handle hands on to: true when the message is
  // answered (with `result`), false for the default handling.
  bool HandleFrame(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);         // the non-client area
  bool HandleTitleButtons(UINT msg, LPARAM lp, LRESULT& result);             // hover, press
  bool HandleTitlePress(UINT msg, LPARAM lp, LRESULT& result);               // drag, release
  bool HandleDrawing(UINT msg, LPARAM lp, LRESULT& result);                  // the window, its children, menus
  bool HandlePlacement(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);     // size, place, DPI
  bool HandleLife(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);          // commands, timer, close, destroy
  LRESULT HitTest(POINT screen) const;
  // A point of a mouse message in window coordinates: from the screen, or
  // from the client area.
  POINT InWindow(LPARAM screenPt) const;
  POINT ClientToWindow(LPARAM clientPt) const;
  // Copies the rectangle `from` of the scene (client coordinates) to the
  // origin of `to`.
  void CopyScene(HDC to, const RECT& from);
  // Draws an owner-drawn child; false when it is none of ours.
  bool DrawChild(DRAWITEMSTRUCT& dis);
  LRESULT HandleChild(HWND child, Control& c, UINT msg, WPARAM wp, LPARAM lp);

  void CreateChildren();
  void CreateHints();
  void SyncHint(const Control& c);
  void SyncChildren();
  void OnModelChange(Control* c, Control::Change ch);
  void EnsureScene();
  void Invalidate(bool frame);
  void PaintNonClient();
  // Draws the window at another DPI: its size and place (at the suggested
  // rectangle's corner, else centred where it was created), the controls,
  // the hints' font.
  void ChangeDpi(int dpi, const RECT* suggested);
  void ScaleHints();
  RECT CentringArea() const;
  Control* TitleButtonAt(POINT windowPt) const;
  void TitleButtonAction(Control& b);
  void SetLook(const Control& c, ControlLook look);

  Form& form_;
  Options options_;
  HWND hwnd_ = nullptr;
  Scene scene_;
  HBITMAP sceneBmp_ = nullptr;
  HWND tooltip_ = nullptr;  // the hints of the controls that show one
  bool dirty_ = true;
  std::map<const Control*, HWND> children_;
  std::map<HWND, Control*> byHwnd_;
  std::map<HWND, WNDPROC> oldProcs_;
  Control* hotTitle_ = nullptr;
  Control* pressedTitle_ = nullptr;
  bool trackingNc_ = false;
  bool rescaling_ = false;  // resizing for a new DPI: canResize is not asked
};

}  // namespace corvane::view
