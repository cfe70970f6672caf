// The skinned message box: a modal box with a caption, a text, an icon and
// one button "确定", centred on the screen and on top.
#pragma once
#include <windows.h>

#include <string>

#include "window/form_host.h"

namespace corvane::view {

// Shows the box over owner (may be null) and returns when it is closed. With
// modal false it is only shown (the gallery); returns its window.
HWND SkinnedMessageBox(HWND owner, const std::string& caption, const std::string& text, FormHost::MsgIcon icon,
                       bool modal = true);

}  // namespace corvane::view
