// The about window TFrm_About: version, homepage, close. Created by the main
// window's menu, shown modally, destroyed when it closes.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "window/form_model.h"

namespace corvane {

class TFrm_About {
 public:
  TFrm_About();

  Form form;
  Control& btnClose;
  Control& MlSkinPanel1;
  Control& Image1;
  Control& MlSkinLabel1;
  Control& MlSkinPanel2;
  Control& lblAboutVersion;
  Control& MlSkinLabel3;
  Control& MlSkinLabel4;
  Control& MlSkinLabel5;
  Control& lblWebsite;
  Control& btnExit;

  // What the handlers ask of the view.
  std::function<void()> close;
  std::function<void(const std::string&)> shellOpen;

  void FormCreate();  // fills lblAboutVersion from the version resource
  // Every resize request is refused.
  bool FormCanResize(int newWidth, int newHeight) const;
  void btnExitClick();
  void lblWebsiteClick();
  bool WndProc(uint32_t msg, uintptr_t wParam);
};

void BuildAboutLayout(Form& form);

}  // namespace corvane
