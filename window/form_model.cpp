#include "window/form_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/errors.h"
#include "common/ui_thread.h"

namespace corvane {

Control::Control(Form& form, std::string name, ControlStyle style, int left, int top)
    : form_(form), name_(std::move(name)), style_(std::move(style)), left_(left), top_(top) {}

// Controls belong to the UI thread. A worker that touches one directly, not
// through a hand-over, is a data race; stop at once so tests catch it.
void Control::CheckThread() const {
  UiThread* ui = form_.Ui();
  if (ui && !ui->IsUiThread()) {
    std::fprintf(stderr, "control %s touched off the UI thread\n", name_.c_str());
    std::abort();
  }
}

void Control::Notify(Change c) { form_.NotifyAll(this, c); }

const std::string& Control::Caption() const {
  CheckThread();
  return caption_;
}
void Control::SetCaption(std::string text) {
  CheckThread();
  if (text == caption_) return;
  caption_ = std::move(text);
  Notify(Change::Caption);
}
bool Control::Visible() const {
  CheckThread();
  return visible_;
}
void Control::SetVisible(bool v) {
  CheckThread();
  if (v == visible_) return;
  visible_ = v;
  Notify(Change::Visible);
}
bool Control::Enabled() const {
  CheckThread();
  return enabled_;
}
void Control::SetEnabled(bool v) {
  CheckThread();
  if (v == enabled_) return;
  enabled_ = v;
  Notify(Change::Enabled);
}
const std::string& Control::Hint() const {
  CheckThread();
  return hint_;
}
void Control::SetHint(std::string text) {
  CheckThread();
  if (text == hint_) return;
  hint_ = std::move(text);
  Notify(Change::Hint);
}
int Control::Position() const {
  CheckThread();
  return position_;
}
void Control::SetPosition(int p) {
  CheckThread();
  p = std::clamp(p, 0, max_);
  if (p == position_) return;
  position_ = p;
  Notify(Change::Position);
}
int Control::Max() const {
  CheckThread();
  return max_;
}
void Control::SetMax(int m) {
  CheckThread();
  m = std::max(m, 0);
  if (m == max_) return;
  max_ = m;
  position_ = std::min(position_, max_);
  Notify(Change::Position);
}
bool Control::Checked() const {
  CheckThread();
  return checked_;
}
void Control::SetChecked(bool v) {
  CheckThread();
  if (v == checked_) return;
  checked_ = v;
  Notify(Change::Checked);
  if (style_.kind == ControlKind::Switch && OnChange) OnChange();
}
const std::string& Control::Picture() const {
  CheckThread();
  return picture_;
}
void Control::SetPicture(std::string name) {
  CheckThread();
  if (name == picture_) return;
  picture_ = std::move(name);
  Notify(Change::Picture);
}
int Control::Left() const {
  CheckThread();
  return left_;
}
int Control::Top() const {
  CheckThread();
  return top_;
}
void Control::SetLeft(int x) {
  CheckThread();
  if (x == left_) return;
  left_ = x;
  Notify(Change::Place);
}
int Control::ZOrder() const {
  CheckThread();
  return z_;
}

void Control::Click() {
  CheckThread();
  if (!visible_ || !enabled_) return;
  if (style_.kind == ControlKind::CheckBox) {
    SetChecked(!checked_);
  } else if (style_.kind == ControlKind::Switch) {
    SetChecked(!checked_);  // raises OnChange
    return;
  }
  if (OnClick) OnClick();
}

Form::Form(std::string name, std::string caption, int clientWidth, int clientHeight,
           const std::function<void(Form&)>& build)
    : name_(std::move(name)), caption_(std::move(caption)), clientWidth_(clientWidth), clientHeight_(clientHeight) {
  if (build) build(*this);
}

Control& Form::Add(std::string name, ControlStyle style, int left, int top, std::string caption) {
  if (Find(name)) throw Exception("duplicate control " + name);
  if (!style.parent.empty() && !Find(style.parent)) throw Exception("unknown parent of " + name);
  controls_.push_back(std::make_unique<Control>(*this, std::move(name), std::move(style), left, top));
  Control& c = *controls_.back();
  c.caption_ = std::move(caption);
  c.z_ = ++zCounter_;
  return c;
}

Control* Form::Find(std::string_view name) const {
  for (auto& c : controls_)
    if (c->Name() == name) return c.get();
  return nullptr;
}

Control& Form::operator[](std::string_view name) const {
  if (Control* c = Find(name)) return *c;
  throw Exception("no control " + std::string(name) + " on " + name_);
}

std::vector<Control*> Form::Children(std::string_view parent) const {
  std::vector<Control*> out;
  for (auto& c : controls_)
    if (c->Style().parent == parent) out.push_back(c.get());
  return out;
}

void Form::BringToFront(Control& c) {
  c.CheckThread();
  c.z_ = ++zCounter_;
  NotifyAll(&c, Control::Change::Order);
}

Control* Form::FrontPanel() const {
  Control* front = nullptr;
  for (auto& c : controls_)
    if (c->Style().stacked && (!front || c->z_ > front->z_)) front = c.get();
  return front;
}

void Form::NotifyAll(Control* c, Control::Change ch) {
  for (auto& o : observers_) o(c, ch);
}

void Timer::SetEnabled(bool on, int64_t nowMs) {
  enabled_ = on;
  if (on) due_ = nowMs + interval_;
}

bool Timer::RunIfDue(int64_t nowMs) {
  if (!enabled_ || nowMs < due_) return false;
  due_ += interval_;
  if (due_ <= nowMs) due_ = nowMs + interval_;  // after a stall, no burst of ticks
  if (OnTimer) OnTimer();
  return true;
}

}  // namespace corvane
