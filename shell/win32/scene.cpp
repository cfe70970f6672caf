#include "shell/win32/scene.h"

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "shell/win32/dpi.h"
#include "shell/win32/gdi_kit.h"

namespace corvane::view {

namespace {
constexpr Colour kLine = 0xDCE6EF;
constexpr Colour kDisabledFill = 0xA9CBE6;
constexpr Colour kTrack = 0xE1E8EF;
constexpr Colour kBar = 0x229EED;
constexpr Colour kDisabledText = 0x9AA7B4;

std::vector<Control*> Sorted(std::vector<Control*> v) {
  std::stable_sort(v.begin(), v.end(), [](Control* a, Control* b) { return a->ZOrder() < b->ZOrder(); });
  return v;
}

Colour Darker(Colour c) {
  auto f = [](unsigned v) { return v * 85 / 100; };
  return (f((c >> 16) & 0xFF) << 16) | (f((c >> 8) & 0xFF) << 8) | f(c & 0xFF);
}
}  // namespace

ControlLook Scene::Look(const Control& c) const {
  auto it = looks.find(&c);
  return it == looks.end() ? ControlLook{} : it->second;
}

int Scene::Px(int v) const { return view::Px(v, dpi_); }

Font Scene::FontOf(const Font& f) const { return AtDpi(f, dpi_); }

int Scene::ClientWidth() const { return Px(form_.ClientWidth()); }
int Scene::ClientHeight() const { return Px(form_.ClientHeight()); }
int Scene::Frame() const { return kFrame * Hairline(dpi_); }
int Scene::TitleHeight() const { return Px(kTitleHeight); }
SIZE Scene::WindowSize() const {
  return SIZE{ClientWidth() + 2 * Frame(), ClientHeight() + 2 * Frame() + TitleHeight()};
}

RECT Scene::Box(const Control& c) const {
  // Both edges are scaled from the layout, so that neighbours still meet.
  int x = c.Left(), y = c.Top();
  for (const Control* p = form_.Find(c.Style().parent); p; p = form_.Find(p->Style().parent)) {
    x += p->Left();
    y += p->Top();
  }
  RECT r{Px(x), Px(y), Px(x + c.Width()), Px(y + c.Height())};
  const ControlStyle& s = c.Style();
  if (s.kind == ControlKind::Label) {
    const std::wstring text = Widen(c.Caption());
    const SIZE sz = MeasureText(text, FontOf(s.font));
    if (s.autoSize) {
      r.right = r.left + sz.cx;
      r.bottom = r.top + sz.cy;
    } else if (sz.cy > r.bottom - r.top) {
      // A fixed label lower than its font's line: grow it about its middle
      // so that nothing of the text is cut off.
      r.top -= (sz.cy - (r.bottom - r.top)) / 2;
      r.bottom = r.top + sz.cy;
    }
  }
  return r;
}

bool Scene::Shown(const Control& c) const {
  Control* front = form_.FrontPanel();
  for (const Control* p = &c; p; p = form_.Find(p->Style().parent)) {
    if (!p->Visible()) return false;
    if (p->Style().stacked && p != front) return false;
  }
  return true;
}

void Scene::PaintClient(HDC dc) {
  RECT all{0, 0, ClientWidth(), ClientHeight()};
  FillRect(dc, all, form_.background);
  for (Control* c : Sorted(form_.Children(""))) {
    if (c->Name() == "mlTitleBar") continue;
    if (!Shown(*c)) continue;
    PaintTree(dc, *c, 0, 0);
  }
}

void Scene::PaintTitleBar(HDC dc, int ww, int wh) {
  RECT frame{0, 0, ww, wh};
  HBRUSH b = ::CreateSolidBrush(Rgb(0x0086DC));
  for (int i = 0; i < Frame(); ++i) {
    ::FrameRect(dc, &frame, b);
    ::InflateRect(&frame, -1, -1);
  }
  ::DeleteObject(b);
  if (Control* bar = form_.Find("mlTitleBar")) PaintTree(dc, *bar, Frame(), Frame() + TitleHeight());
}

void Scene::PaintTree(HDC dc, const Control& c, int dx, int dy) {
  RECT r = Box(c);
  ::OffsetRect(&r, dx, dy);
  PaintOne(dc, c, r);
  for (Control* child : Sorted(form_.Children(c.Name())))
    if (child->Visible()) PaintTree(dc, *child, dx, dy);
}

// What painting one control needs: the control, its rectangle on the
// display, how it looks now, its caption and font at the scene's DPI.
struct Scene::Item {
  HDC dc;
  const Control& c;
  const ControlStyle& s;
  const RECT& r;
  ControlLook look;
  std::wstring text;
  Font font;
  int dpi;
  int hair;  // the width of a 1-pixel line of the layout
  int Px(int v) const { return view::Px(v, dpi); }
};

void Scene::PaintOne(HDC dc, const Control& c, const RECT& r) {
  const ControlStyle& s = c.Style();
  const Item it{dc, c, s, r, Look(c), Widen(c.Caption()), FontOf(s.font), dpi_, Hairline(dpi_)};
  const Picture* pic = LoadPicture(c.Picture(), dpi_, s.kind == ControlKind::TitleButton ? 3 : 1);
  switch (s.kind) {
    case ControlKind::Panel:
    case ControlKind::Picture:
      PaintPanel(it, pic);
      break;
    case ControlKind::Label:
      PaintLabel(it);
      break;
    case ControlKind::ColourButton:
      PaintColourButton(it);
      break;
    case ControlKind::CheckBox:
      PaintCheckBox(it);
      break;
    case ControlKind::Switch:
      PaintStrip(it, LoadPicture(c.Checked() ? "SwitchOn" : "SwitchOff", dpi_, 3), r.top);
      break;
    case ControlKind::ProgressBar:
      PaintProgressBar(it);
      break;
    case ControlKind::TitleButton:
      PaintStrip(it, pic, std::max<int>(r.top, 0));
      break;
  }
}

void Scene::PaintPanel(const Item& it, const Picture* pic) {
  const RECT& r = it.r;
  if (!it.s.transparent && it.s.fill != kNoColour) FillRect(it.dc, r, it.s.fill);
  if (pic) {
    // The picture is centred in its box and cut to it.
    const int pw = std::min<int>(pic->width, r.right - r.left), ph = std::min<int>(pic->height, r.bottom - r.top);
    RECT src{(pic->width - pw) / 2, (pic->height - ph) / 2, 0, 0};
    src.right = src.left + pw;
    src.bottom = src.top + ph;
    DrawPicture(it.dc, *pic, r.left + (r.right - r.left - pw) / 2, r.top + (r.bottom - r.top - ph) / 2, &src);
  }
  if (it.s.bottomLine) FillRect(it.dc, RECT{r.left, r.bottom - it.hair, r.right, r.bottom}, kLine);
}

void Scene::PaintLabel(const Item& it) {
  const ControlStyle& s = it.s;
  UINT flags = DT_SINGLELINE | (s.vCentre ? DT_VCENTER : DT_TOP);
  flags |= s.align == HAlign::Centre ? DT_CENTER : s.align == HAlign::Right ? DT_RIGHT : DT_LEFT;
  if (!s.autoSize) flags |= DT_END_ELLIPSIS;
  Text(it.dc, it.text, it.font, it.c.Enabled() ? s.textColour : kDisabledText, it.r, flags);
}

void Scene::PaintColourButton(const Item& it) {
  const ControlStyle& s = it.s;
  const ControlLook& look = it.look;
  Colour fill = s.fill;
  if (!it.c.Enabled())
    fill = kDisabledFill;
  else if (look.pressed)
    fill = Darker(look.hover ? s.hoverFill : s.fill);
  else if (look.hover)
    fill = s.hoverFill;
  const int radius = s.squareFrame ? 0 : it.Px(3);
  FillRoundRect(it.dc, it.r, radius, fill);
  FrameRoundRect(it.dc, it.r, radius, 0xFFFFFF, static_cast<float>(it.hair));
  if (look.focus) {
    RECT f = it.r;
    ::InflateRect(&f, -it.Px(3), -it.Px(3));
    FrameRoundRect(it.dc, f, radius ? it.Px(2) : 0, 0xD6ECFB, static_cast<float>(it.hair));
  }
  RECT t = it.r;
  if (look.pressed) ::OffsetRect(&t, 0, it.hair);
  Text(it.dc, it.text, it.font, s.textColour, t, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
}

void Scene::PaintCheckBox(const Item& it) {
  const RECT& r = it.r;
  if (const Picture* box = LoadPicture("CheckBox", it.dpi, 4)) {
    const int cell = box->width / 4;
    const int index = (it.c.Checked() ? 2 : 0) + (it.look.hover ? 1 : 0);
    RECT src{index * cell, 0, index * cell + cell, box->height};
    DrawPicture(it.dc, *box, r.left, r.top + (r.bottom - r.top - box->height) / 2, &src);
  }
  RECT t{r.left + it.Px(16), r.top - it.Px(4), r.right + it.Px(40), r.bottom + it.Px(4)};
  Text(it.dc, it.text, it.font, it.c.Enabled() ? it.s.textColour : kDisabledText, t,
       DT_SINGLELINE | DT_VCENTER | DT_LEFT);
  if (it.look.focus) {
    const SIZE sz = MeasureText(it.text, it.font);
    RECT f{t.left + it.Px(2), r.top - it.hair, t.left + sz.cx + it.Px(3), r.bottom + it.hair};
    ::DrawFocusRect(it.dc, &f);
  }
}

void Scene::PaintStrip(const Item& it, const Picture* strip, int top) {
  // Three cells side by side: normal, under the mouse, pressed.
  if (!strip) return;
  const int cell = strip->width / 3;
  const int index = it.look.pressed ? 2 : it.look.hover ? 1 : 0;
  RECT src{index * cell, 0, index * cell + cell, strip->height};
  DrawPicture(it.dc, *strip, it.r.left, top, &src);
}

void Scene::PaintProgressBar(const Item& it) {
  const RECT& r = it.r;
  FillRoundRect(it.dc, r, it.Px(3), kTrack);
  const int max = std::max(it.c.Max(), 1);
  const int w = (r.right - r.left) * it.c.Position() / max;
  if (w > 0) {
    RECT done{r.left, r.top, r.left + w, r.bottom};
    FillRoundRect(it.dc, done, it.Px(3), kBar);
  }
}

}  // namespace corvane::view
