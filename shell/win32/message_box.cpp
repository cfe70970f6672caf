#include "shell/win32/message_box.h"

#include <algorithm>
#include <memory>

#include "common/text.h"
#include "window/layout_kit.h"
#include "shell/win32/form_view.h"
#include "shell/win32/gdi_kit.h"

namespace corvane::view {

namespace {

const char* IconPicture(FormHost::MsgIcon icon) {
  switch (icon) {
    case FormHost::MsgIcon::Success: return "OK";  // white tick on green
    case FormHost::MsgIcon::Information: return "Question";
    case FormHost::MsgIcon::Warning:
    case FormHost::MsgIcon::Error: return "FAIL";
  }
  return "OK";
}

}  // namespace

HWND SkinnedMessageBox(HWND owner, const std::string& caption, const std::string& text, FormHost::MsgIcon icon,
                       bool modal) {
  using namespace layout;
  const Font textFont{kYaHei, 13};
  const SIZE sz = MeasureText(Widen(text), textFont);
  const int width = std::clamp<int>(sz.cx + 110, 300, 560);
  auto form = std::make_unique<Form>("Frm_Message", caption, width, 120, [&](Form& f) {
    f.background = kTitleBlue;
    f.Add("mlTitleBar", Panel("", width, 30).Fill(kTitleBlue), 0, -30);
    f.Add("mlTitle", LabelOf("mlTitleBar", Font{"Tahoma", 11}).Colour(0xFFFFFF), 8, 8, caption);
    f.Add("btnClose", TitleButtonOf("mlTitleBar"), width - 39, -1).SetPicture("TitleClose");
    f.Add("PnlBody", Panel("", width, 120).Fill(kPanelLight), 0, 0);
    f.Add("imgIcon", PictureOf("PnlBody", 40, 40), 22, 20).SetPicture(IconPicture(icon));
    f.Add("lblText", LabelOf("PnlBody", textFont).Fixed(width - 90, 40).VCentre(), 76, 20, text);
    f.Add("btnOK", ButtonOf("PnlBody", 81, 28, 13), width - 101, 78, "确定");
  });
  FormView::Options o;
  o.className = L"TMlSkinMessage";
  o.owner = owner;
  o.topmost = true;
  auto view = std::make_unique<FormView>(*form, o);
  FormView* v = view.get();
  auto close = [v] { ::PostMessageW(v->Hwnd(), WM_CLOSE, 0, 0); };
  (*form)["btnOK"].OnClick = close;
  (*form)["btnClose"].OnClick = close;
  v->onKey = [close](WPARAM key) {
    if (key != VK_ESCAPE && key != VK_RETURN) return false;
    close();
    return true;
  };
  v->dropsMessage = [](UINT msg, WPARAM wp) {
    return msg == WM_NCLBUTTONDBLCLK || (msg == WM_SYSCOMMAND && wp == SC_MAXIMIZE);
  };
  if (!v->Create()) return nullptr;
  HWND hwnd = v->Hwnd();
  if (modal) {
    v->RunModal();
    return nullptr;  // the box and its model go here
  }
  ::ShowWindow(hwnd, SW_SHOW);
  // The gallery's box lives as long as the process.
  view.release();
  form.release();
  return hwnd;
}

}  // namespace corvane::view
