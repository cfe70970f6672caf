// A window host that does nothing: for tests of the stages, which need the
// window's model but not the window system around it.
#pragma once
#include <string>

#include "window/form_host.h"

namespace corvane::test {

struct NoHost : FormHost {
  void ShellOpen(const std::string&) override {}
  void CloseMainWindow() override {}
  Rect WindowRect() override { return {}; }
  void PopupMenu(int, int) override {}
  void ShowAboutModal() override {}
  void MessageBox(const std::string&, const std::string&, MsgIcon) override {}
};

}  // namespace corvane::test
