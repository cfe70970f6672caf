// What the main window's handlers ask of the window system around the model:
// the shell, closing, the menu, the about window, the message box. The Win32
// view implements it; tests record the calls.
#pragma once
#include <string>

namespace corvane {

class FormHost {
 public:
  struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
  };
  enum class MsgIcon { Success, Information, Warning, Error };

  virtual ~FormHost() = default;
  // The shell verb "open" on an address or "mailto:" link: no parameters, no
  // working folder, normal window, the main window as owner.
  virtual void ShellOpen(const std::string& target) = 0;
  // Closes the main window; the program ends.
  virtual void CloseMainWindow() = 0;
  // The main window's rectangle, frame and title bar included: its top-left
  // corner on the screen, its size in the layout's pixels (the window is
  // drawn larger on a display with a higher scale).
  virtual Rect WindowRect() = 0;
  // Opens the pop-up menu PopMenus with its top-left corner at a point given
  // like WindowRect: the corner plus an offset in the layout's pixels.
  virtual void PopupMenu(int x, int y) = 0;
  // Creates the about window owned by the main window, shows it modally and
  // destroys it when it closes.
  virtual void ShowAboutModal() = 0;
  // A modal message box with one button "确定", centred on the screen and on
  // top; returns when it is closed.
  virtual void MessageBox(const std::string& caption, const std::string& text, MsgIcon icon) = 0;
};

}  // namespace corvane
