// The Win32 main window: TFrm_Main's model drawn by a FormView, its tips,
// its pop-up menu and its about window, and the FormHost services the
// handlers use. Used by the program and by the screenshot gallery.
#pragma once
#include <windows.h>

#include <memory>

#include "common/ui_thread.h"
#include "shell/F_About.h"
#include "shell/F_Main.h"
#include "shell/win32/form_view.h"
#include "shell/win32/tips_view.h"

namespace corvane::view {

class MainWindow final : public FormHost {
 public:
  MainWindow();
  ~MainWindow() override;
  // Creates the window (hidden). With runFormCreate the window's creation
  // handler runs (payload, idle prevention, update check); the gallery
  // leaves it out.
  bool Create(bool runFormCreate);
  void Show(int cmd);
  // The message loop until the window is gone.
  int Run();

  TFrm_Main& Frm() { return *frm_; }
  FormView& View() { return *view_; }
  TaskQueueUiThread& Ui() { return ui_; }

  // FormHost
  void ShellOpen(const std::string& target) override;
  void CloseMainWindow() override;
  Rect WindowRect() override;
  void PopupMenu(int layoutX, int layoutY) override;
  void ShowAboutModal() override;
  void MessageBox(const std::string& caption, const std::string& text, MsgIcon icon) override;

 private:
  bool MeasureMenu(MEASUREITEMSTRUCT* mis);
  bool DrawMenu(DRAWITEMSTRUCT* dis);

  TaskQueueUiThread ui_;
  // The window object lives until the process ends: workers that are still
  // running when the window closes keep using it and end with the process.
  TFrm_Main* frm_ = nullptr;
  std::unique_ptr<FormView> view_;
  std::unique_ptr<TipsView> tips_;
};

// The about window over an owner, for the menu and the gallery. With modal
// false it is only created and shown (the gallery).
void ShowAbout(HWND owner, bool modal);

}  // namespace corvane::view
