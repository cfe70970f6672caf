// The progress on the program's taskbar button, through the shell's
// ITaskbarList3. The interface is asked for at run time (Windows 7 and
// later); where the shell has none, the button shows no progress and
// nothing else changes.
#pragma once
#include <windows.h>
#include <shobjidl.h>

#include <cstdint>

#include "window/form_host.h"

namespace corvane::view {

class TaskbarButton {
 public:
  // The window whose button shows the progress. Its message procedure
  // passes on the shell's "TaskbarButtonCreated" (see IsButtonCreated).
  explicit TaskbarButton(HWND hwnd);
  ~TaskbarButton();
  TaskbarButton(const TaskbarButton&) = delete;
  TaskbarButton& operator=(const TaskbarButton&) = delete;

  // UI thread.
  void Show(FormHost::TaskbarState state, uint64_t done, uint64_t total);
  // The message the shell sends when it has made (or, after a restart of
  // the shell, made again) the window's button: the last progress is shown
  // again.
  bool IsButtonCreated(UINT msg) const { return msg != 0 && msg == createdMsg_; }
  void ButtonCreated();

  // For tests: talk to this interface instead of the shell's.
  void UseList(ITaskbarList3* list);

 private:
  ITaskbarList3* List();
  void Apply();

  HWND hwnd_;
  UINT createdMsg_ = 0;
  ITaskbarList3* list_ = nullptr;
  bool triedShell_ = false;
  FormHost::TaskbarState state_ = FormHost::TaskbarState::None;
  uint64_t done_ = 0, total_ = 0;
};

// The shell's progress flag for a state.
TBPFLAG TaskbarFlag(FormHost::TaskbarState state);

}  // namespace corvane::view
