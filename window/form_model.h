// The portable model of a window: its controls by name with their look and
// state, which stacked panel is in front, and the change notifications that
// the Win32 view draws from. Stages and handlers change only this model, and
// only on the UI thread; tests assert on it.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class UiThread;
class Form;

enum class ControlKind : uint8_t {
  Panel,        // container, may carry a background picture
  Picture,      // fixed picture
  Label,        // static text
  ColourButton, // flat push button, white text, rounded 1-px white frame
  TitleButton,  // button of the skinned title bar, drawn from a picture strip
  CheckBox,
  Switch,       // on/off toggle
  ProgressBar,
};

enum class HAlign : uint8_t { Left, Centre, Right };

// 0xRRGGBB; kNoColour means "not set" (inherit or transparent).
using Colour = uint32_t;
inline constexpr Colour kNoColour = 0xFFFFFFFFu;

struct Font {
  std::string family = "Tahoma";
  int px = 11;
  bool bold = false;
};

inline constexpr const char* kYaHei = "微软雅黑";

// The fixed look of a control, set once when the window's layout is built.
struct ControlStyle {
  ControlKind kind = ControlKind::Label;
  std::string parent;  // empty: the window's client area
  int width = 0, height = 0;
  Font font;
  Colour textColour = 0x000000;
  Colour fill = kNoColour;       // background; buttons: their fill
  Colour hoverFill = kNoColour;  // buttons: fill while the mouse is over them
  HAlign align = HAlign::Left;
  bool vCentre = false;     // text centred vertically
  bool autoSize = true;     // labels: sized to their text
  bool transparent = false; // shows the parent's background
  bool squareFrame = false; // buttons: square instead of rounded corners
  bool handCursor = false;
  bool stacked = false;     // one of the window's stacked content panels
  bool tabStop = false;
  bool showHint = false;
  bool bottomLine = false;  // panels: a line along the bottom edge
};

class Control {
 public:
  enum class Change : uint8_t { Caption, Visible, Enabled, Hint, Position, Checked, Picture, Place, Order };

  Control(Form& form, std::string name, ControlStyle style, int left, int top);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  const ControlStyle& Style() const { return style_; }
  ControlKind Kind() const { return style_.kind; }
  Form& Owner() const { return form_; }

  // The state below is read and written on the UI thread only.
  const std::string& Caption() const;
  void SetCaption(std::string text);
  bool Visible() const;
  void SetVisible(bool v);
  bool Enabled() const;
  void SetEnabled(bool v);
  const std::string& Hint() const;
  void SetHint(std::string text);
  // Progress bars: Position within 0..Max (values outside are clamped).
  int Position() const;
  void SetPosition(int p);
  int Max() const;
  void SetMax(int m);
  // Check boxes: checked; switch: on.
  bool Checked() const;
  void SetChecked(bool v);
  // Name of the picture resource drawn as background (PNG), or empty.
  const std::string& Picture() const;
  void SetPicture(std::string name);
  int Left() const;
  int Top() const;
  void SetLeft(int x);
  int Width() const { return style_.width; }
  int Height() const { return style_.height; }
  // Stacking order among siblings; higher is in front.
  int ZOrder() const;

  // Switch: called when the user flips it (and by code that flips it), after
  // the change. Check box and buttons: OnClick.
  std::function<void()> OnClick;
  std::function<void()> OnChange;

  // What the user does through the view (or a test): a click on an enabled,
  // visible control runs OnClick; on a switch or check box it toggles first.
  void Click();

 private:
  friend class Form;
  void Notify(Change c);
  void CheckThread() const;

  Form& form_;
  std::string name_;
  ControlStyle style_;
  std::string caption_;
  bool visible_ = true;
  bool enabled_ = true;
  std::string hint_;
  int position_ = 0;
  int max_ = 100;
  bool checked_ = false;
  std::string picture_;
  int left_, top_;
  int z_ = 0;
};

class Form {
 public:
  Form(std::string name, std::string caption, int clientWidth, int clientHeight,
       const std::function<void(Form&)>& build = nullptr);
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& Name() const { return name_; }
  // The window text (what window searches find).
  const std::string& Caption() const { return caption_; }
  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  Colour background = 0xF5F9FC;
  Font font;

  // Adds a control; names are unique. Children follow their parent.
  Control& Add(std::string name, ControlStyle style, int left, int top, std::string caption = {});
  // The control of that name; raises Exception when there is none.
  Control& operator[](std::string_view name) const;
  Control* Find(std::string_view name) const;
  // Every control in creation order (which is also the tab order).
  const std::vector<std::unique_ptr<Control>>& Controls() const { return controls_; }
  std::vector<Control*> Children(std::string_view parent) const;

  // Brings a control in front of its siblings. For the stacked content panels
  // this decides which one is visible.
  void BringToFront(Control& c);
  // The stacked panel in front, or null before any was brought forward.
  Control* FrontPanel() const;

  // The thread allowed to touch the state; null allows any (layout building).
  void BindUiThread(UiThread* ui) { ui_ = ui; }
  UiThread* Ui() const { return ui_; }

  // Change notifications for the view; the control is null for changes of
  // the window as a whole (tips, menus).
  using Observer = std::function<void(Control*, Control::Change)>;
  void Observe(Observer o) { observers_.push_back(std::move(o)); }
  void NotifyAll(Control* c, Control::Change ch);

 private:
  std::string name_, caption_;
  int clientWidth_, clientHeight_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<Observer> observers_;
  int zCounter_ = 0;
  UiThread* ui_ = nullptr;
};

// A timer of the window: OnTimer runs on the UI thread every Interval ms
// while enabled. The window's pump runs it (see TFrm_Main::Pump).
class Timer {
 public:
  explicit Timer(std::string name, int intervalMs) : name_(std::move(name)), interval_(intervalMs) {}
  const std::string& Name() const { return name_; }
  int Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  // Enabling (re)starts the interval from nowMs.
  void SetEnabled(bool on, int64_t nowMs);
  // Runs OnTimer once when an interval has passed; returns whether it ran.
  bool RunIfDue(int64_t nowMs);
  std::function<void()> OnTimer;

 private:
  std::string name_;
  int interval_;
  bool enabled_ = false;
  int64_t due_ = 0;
};

// Menu items of a pop-up menu, in order; a caption "-" is a separator.
struct MenuItem {
  std::string name;
  std::string caption;
  std::function<void()> onClick;
  bool Separator() const { return caption == "-"; }
};

}  // namespace corvane
