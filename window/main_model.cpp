#include "window/main_model.h"

#include <algorithm>
#include <memory>

#include "platform/session.h"

namespace corvane {

std::string TVerInfo::FileVersion() const { return plat::FileVersionText(); }

#define CORVANE_BIND_CONTROL(n) n(form[#n]),

TMainModel::TMainModel(UiThread& ui_, Clock& clock_, FormHost& host_)
    : ui(ui_),
      clock(clock_),
      host(host_),
      form("Frm_Main", kAppTitle, 350, 330, BuildMainLayout),
      CORVANE_MAIN_CONTROLS(CORVANE_BIND_CONTROL) VerInfo() {
  form.BindUiThread(&ui);
}

#undef CORVANE_BIND_CONTROL

TMainModel::~TMainModel() = default;

void TMainModel::ShowTips(const std::string& pInfo, const std::string& pTitle, Control& pParent, int32_t pTimeout) {
  TipsInfo.SetDisplayTime(static_cast<int64_t>(pTimeout) * 1000);
  TipsInfo.Show(pInfo, pTitle, pParent.Name(), clock.NowMs());
}

// Every balloon showing closes at its next check; the value stays until the
// next ShowTips.
void TMainModel::HideTips() { TipsInfo.SetDisplayTime(1); }

std::function<void(int64_t)> TMainModel::VerifyProgress(int64_t base, int64_t total) {
  auto shown = std::make_shared<int64_t>(-1);  // thousandths
  return [this, base, total, shown](int64_t hashed) {
    if (total <= 0) return;
    const int64_t done = std::clamp<int64_t>(base + hashed, 0, total);
    const auto thousandths = static_cast<int64_t>(static_cast<double>(done) / static_cast<double>(total) * 1000.0);
    if (thousandths == *shown) return;
    *shown = thousandths;
    ui.Sync([&] {
      host.SetTaskbarProgress(FormHost::TaskbarState::Normal, static_cast<uint64_t>(done), static_cast<uint64_t>(total));
    });
  };
}

void TMainModel::ClearTaskbarProgress() {
  ui.Sync([this] { host.SetTaskbarProgress(FormHost::TaskbarState::None, 0, 0); });
}

void TMainModel::ArmAutoCountdown() {
  if (!swBtnAuto.Checked()) return;
  vTimeout = 10;
  SetAutoTimer(true);
}

}  // namespace corvane
