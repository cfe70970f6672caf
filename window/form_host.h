// What the main window's handlers ask of the window system around the model:
// the shell, closing, the menu, the about window, the message box. The Win32
// view implements it; tests record the calls.
#pragma once
#include <cstdint>
#include <string>

namespace corvane {

class FormHost {
 public:
  struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
  };
  enum class MsgIcon { Success, Information, Warning, Error };
  // What the program's taskbar button shows: nothing, a bar that only says
  // "busy", or a bar at done/total in the normal, paused or error colour.
  enum class TaskbarState { None, Indeterminate, Normal, Paused, Error };

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
  // The progress on the program's taskbar button; done and total count for
  // Normal, Paused and Error. UI thread. Hosts without a taskbar ignore it.
  virtual void SetTaskbarProgress(TaskbarState /*state*/, uint64_t /*done*/, uint64_t /*total*/) {}
};

}  // namespace corvane
