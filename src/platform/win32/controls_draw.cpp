// The looks of the predefined controls, drawn as the system draws them for a picture of their
// window: push buttons with their text, check boxes with their mark, drop-down lists with the
// selected text and an arrow, edit boxes with their text, disabled ones greyed. A control that
// takes colours from its parent asks for them first (WM_CTLCOLOR...), as on Windows.

#include <algorithm>
#include <string>

#include "platform/win32/canvas.h"
#include "platform/win32/window_object.h"

namespace kvo::win32impl {
namespace {

// Colours of the controls' own parts.
constexpr COLORREF kButtonFace = RGB(225, 225, 225);
constexpr COLORREF kButtonBorder = RGB(173, 173, 173);
constexpr COLORREF kDefaultButtonBorder = RGB(0, 120, 215);
constexpr COLORREF kDisabledFace = RGB(204, 204, 204);
constexpr COLORREF kDisabledBorder = RGB(191, 191, 191);
constexpr COLORREF kFieldBorder = RGB(122, 122, 122);
constexpr COLORREF kCheckBoxBorder = RGB(51, 51, 51);

constexpr int kEditMargin = 2;        // between an edit box's border and its text
constexpr int kCheckBoxSize = 13;     // the check box square, when the control is that large
constexpr int kCheckTextGap = 4;      // between the square and a check box's text
constexpr int kComboFieldHeight = 21; // the closed drop-down list
constexpr int kComboArrowWidth = 17;
constexpr int kComboTextIndent = 4;

struct ControlState {
  ControlKind kind = ControlKind::None;
  DWORD style = 0;
  std::u16string text;
  UINT check = BST_UNCHECKED;
  int width = 0;
  int height = 0;
  HWND parent = nullptr;
  bool enabled() const { return (style & WS_DISABLED) == 0; }
};

// The message the control asks its parent for colours with; 0 when it draws in its own.
UINT colourRequestOf(const ControlState& s) {
  switch (s.kind) {
    case ControlKind::Button:
      return isCheckable(s.style) ? WM_CTLCOLORSTATIC : 0;
    case ControlKind::Edit:
      return s.enabled() ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC;
    case ControlKind::Static:
      return WM_CTLCOLORSTATIC;
    case ControlKind::ComboBox:
    case ControlKind::None:
      break;
  }
  return 0;
}

// A 1-pixel frame just inside the rectangle.
void frame(DeviceContext& dc, const RECT& r, COLORREF colour) {
  fillRectangle(dc, RECT{r.left, r.top, r.right, r.top + 1}, colour);
  fillRectangle(dc, RECT{r.left, r.bottom - 1, r.right, r.bottom}, colour);
  fillRectangle(dc, RECT{r.left, r.top, r.left + 1, r.bottom}, colour);
  fillRectangle(dc, RECT{r.right - 1, r.top, r.right, r.bottom}, colour);
}

int centred(int room, int size) { return std::max((room - size) / 2, 0); }

void drawPushButton(DeviceContext& dc, const ControlState& s) {
  const RECT all{0, 0, s.width, s.height};
  const bool isDefault = (s.style & kButtonTypeMask) == BS_DEFPUSHBUTTON;
  fillRectangle(dc, all, s.enabled() ? kButtonFace : kDisabledFace);
  frame(dc, all, !s.enabled() ? kDisabledBorder : isDefault ? kDefaultButtonBorder : kButtonBorder);
  dc.backgroundMode = TRANSPARENT;
  drawText(dc, centred(s.width, textWidth(s.text)), centred(s.height, fontMetrics().cellHeight), s.text,
           s.enabled() ? kSystemText : kSystemGrayText);
}

void drawCheckBox(DeviceContext& dc, const ControlState& s, COLORREF background) {
  if (background != CLR_INVALID) {
    fillRectangle(dc, RECT{0, 0, s.width, s.height}, background);
  }
  const int size = std::min({kCheckBoxSize, s.width, s.height});
  const int top = centred(s.height, size);
  const RECT box{0, top, size, top + size};
  fillRectangle(dc, RECT{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1},
                s.enabled() ? kSystemWindow : kSystemFace);
  frame(dc, box, s.enabled() ? kCheckBoxBorder : kDisabledBorder);
  const COLORREF mark = s.enabled() ? kSystemText : kSystemGrayText;
  const int inner = size - 2;  // the square inside the frame, from (1, top + 1)
  if (s.check == BST_CHECKED && inner >= 5) {
    // A tick two pixels thick: down to the lower third, then up to the upper right.
    const POINT tick[] = {{1 + inner / 5, top + 1 + inner / 2 - 1},
                          {1 + inner * 2 / 5, top + 1 + inner * 7 / 10 - 1},
                          {1 + inner * 4 / 5, top + 1 + inner / 5}};
    drawPolyline(dc, tick, 3, mark, 2);
  } else if (s.check != BST_UNCHECKED && inner >= 5) {
    fillRectangle(dc, RECT{box.left + 3, box.top + 3, box.right - 3, box.bottom - 3}, mark);  // indeterminate
  }
  if (!s.text.empty()) {
    drawText(dc, size + kCheckTextGap, centred(s.height, fontMetrics().cellHeight), s.text,
             s.enabled() ? dc.textColour : kSystemGrayText);
  }
}

void drawEditBox(DeviceContext& dc, const ControlState& s, COLORREF background) {
  const RECT all{0, 0, s.width, s.height};
  if (background != CLR_INVALID) {
    fillRectangle(dc, all, background);
  }
  const int border = (s.style & WS_BORDER) != 0 ? 1 : 0;
  drawText(dc, border + kEditMargin, border + centred(s.height - 2 * border, fontMetrics().cellHeight), s.text,
           s.enabled() ? dc.textColour : kSystemGrayText);
  if (border != 0) {
    frame(dc, all, s.enabled() ? kFieldBorder : kDisabledBorder);  // also over text that runs on
  }
}

void drawDropDownList(DeviceContext& dc, const ControlState& s) {
  const int height = std::min(s.height, kComboFieldHeight);
  const RECT field{0, 0, s.width, height};
  const COLORREF ink = s.enabled() ? kSystemText : kSystemGrayText;
  fillRectangle(dc, field, s.enabled() ? kSystemWindow : kSystemFace);
  dc.backgroundMode = TRANSPARENT;
  drawText(dc, kComboTextIndent, centred(height, fontMetrics().cellHeight), s.text, ink);
  // The arrow button over any text that runs on.
  const RECT button{std::max(s.width - kComboArrowWidth, 0), 0, s.width, height};
  fillRectangle(dc, button, s.enabled() ? kSystemWindow : kSystemFace);
  const int arrowLeft = button.left + centred(kComboArrowWidth, 7);
  const int arrowTop = centred(height, 4);
  for (int row = 0; row < 4; ++row) {
    fillRectangle(dc, RECT{arrowLeft + row, arrowTop + row, arrowLeft + 7 - row, arrowTop + row + 1}, ink);
  }
  frame(dc, field, s.enabled() ? kFieldBorder : kDisabledBorder);
}

void drawStatic(DeviceContext& dc, const ControlState& s, COLORREF background) {
  if (background != CLR_INVALID) {
    fillRectangle(dc, RECT{0, 0, s.width, s.height}, background);
  }
  drawText(dc, 0, 0, s.text, s.enabled() ? dc.textColour : kSystemGrayText);
}

}  // namespace

int editTextRoom(DWORD style, int width) {
  const int border = (style & WS_BORDER) != 0 ? 1 : 0;
  return width - 2 * (border + kEditMargin);
}

bool drawControl(HWND control, cairo_surface_t* surface, POINT origin, const RECT& clip,
                 std::vector<DrawOperation>& texts) {
  auto object = findWindow(control);
  if (!object || object->kind == ControlKind::None) {
    return false;
  }
  ControlState s;
  {
    std::lock_guard lock(object->mutex);
    s.kind = object->kind;
    s.style = object->style;
    s.text = object->text;
    s.check = object->check;
    s.width = object->rect.right - object->rect.left;
    s.height = object->rect.bottom - object->rect.top;
    s.parent = object->child ? object->parent : nullptr;
  }
  const RECT own{0, 0, s.width, s.height};
  HDC dc = nullptr;
  {
    std::lock_guard lock(drawMutex());
    const RECT visible = intersection(own, offsetRect(clip, POINT{-origin.x, -origin.y}));
    dc = openDeviceContext(control, nullptr, surface, origin, {visible}, &texts);
  }
  // Asked without any lock: the parent's procedure sets the colours through the GDI calls.
  const UINT request = colourRequestOf(s);
  HGDIOBJ brush = nullptr;
  if (request != 0 && s.parent != nullptr) {
    const auto wParam = reinterpret_cast<WPARAM>(dc);
    const auto lParam = reinterpret_cast<LPARAM>(control);
    brush = reinterpret_cast<HGDIOBJ>(SendMessageW(s.parent, request, wParam, lParam));
    if (brush == nullptr) {
      brush = reinterpret_cast<HGDIOBJ>(DefWindowProcW(s.parent, request, wParam, lParam));
    }
  }
  std::lock_guard lock(drawMutex());
  DeviceContext* context = findDeviceContext(dc);
  // CLR_INVALID: no background of the parent's (a hollow or no brush).
  const COLORREF background = brush != nullptr ? brushColour(*context, brush).value_or(CLR_INVALID) : CLR_INVALID;
  switch (s.kind) {
    case ControlKind::Button:
      if (isCheckable(s.style)) {
        drawCheckBox(*context, s, background);
      } else {
        drawPushButton(*context, s);
      }
      break;
    case ControlKind::Edit:
      drawEditBox(*context, s, background);
      break;
    case ControlKind::ComboBox:
      drawDropDownList(*context, s);
      break;
    case ControlKind::Static:
    case ControlKind::None:
      drawStatic(*context, s, background);
      break;
  }
  closeDeviceContext(dc);
  return true;
}

}  // namespace kvo::win32impl
