#include "app/controls.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "app/text_boxes.h"
#include "airports/park_stands.h"
#include "core/log.h"
#include "core/text.h"
#include "core/utf.h"
#include "shared_state/main_window.h"

namespace {

enum class ControlKind { CheckBox, Button, EditBox, List };

// One row of the control table: where the control stands and what it is. The y comes from the
// parameter's row: a check box stands 2 below it, a drop-down list 5 above it.
struct ControlSpec {
  Parameter* parameter;
  ControlKind kind;
  int x;
  int width;   // buttons, edit boxes, lists
  int height;  // lists: the height of the open list
  WNDPROC procedure;  // edit boxes
};

// In creation order.
const std::array<ControlSpec, 42>& controlTable() {
  using K = ControlKind;
  static const std::array<ControlSpec, 42> table{{
      {&SIM_CHOICE, K::List, 5, 105, 80, nullptr},
      {&ALL_INSTALL_PATH, K::EditBox, 111, 1200, 16, installPathBoxProc},
      {&SCAN_LIVERIES, K::CheckBox, 5, 0, 0, nullptr},
      {&LIG_AUTOMATIC, K::CheckBox, 217, 0, 0, nullptr},
      {&AI_PACKAGE_SELECTOR, K::List, 308, 125, 144, nullptr},
      {&LIG_PRIORITIZE, K::CheckBox, 450, 0, 0, nullptr},
      {&SUPPRESS_STUB, K::CheckBox, 536, 0, 0, nullptr},
      {&LOG, K::CheckBox, 652, 0, 0, nullptr},
      {&ALWAYS_ON_TOP, K::CheckBox, 748, 0, 0, nullptr},
      {&SCAN_AIRPORTS, K::CheckBox, 5, 0, 0, nullptr},
      {&NAV_LIGHTS_WHILE_PARKED, K::CheckBox, 652, 0, 0, nullptr},
      {&LEARN_SOFT, K::CheckBox, 748, 0, 0, nullptr},
      {&MATCHING_DEPTH, K::List, 217, 40, 120, nullptr},
      {&LIGHT_AIRCRAFT, K::CheckBox, 323, 0, 0, nullptr},
      {&HELICOPTERS, K::CheckBox, 430, 0, 0, nullptr},
      {&HIGH_PERF_AIRCRAFT, K::CheckBox, 536, 0, 0, nullptr},
      {&AEROWINX, K::CheckBox, 652, 0, 0, nullptr},
      {&GUID_CHANGES, K::CheckBox, 748, 0, 0, nullptr},
      {&RANGE, K::List, 217, 50, 200, nullptr},
      {&AUTO_RANGE, K::CheckBox, 323, 0, 0, nullptr},
      {&AR_ABOVE_HEIGHT, K::List, 455, 70, 230, nullptr},
      {&CALLSIGN_OBJECTIDS, K::CheckBox, 748, 0, 0, nullptr},
      {&COLLISION_USER_GND, K::CheckBox, 217, 0, 0, nullptr},
      {&COLLISION_USER_AIR, K::CheckBox, 323, 0, 0, nullptr},
      {&COLLISION_LIVE_PARKED_GND, K::CheckBox, 430, 0, 0, nullptr},
      {&BLOCK_CALLSIGN, K::EditBox, 217, 100, 16, blockCallsignBoxProc},
      {&g_unblockButton, K::Button, 323, 70, 20, nullptr},
      {&CALLSIGN_2_OBJECTID, K::EditBox, 460, 95, 16, callsignObjectIdBoxProc},
      {&MAX_PARK_SEL, K::List, 323, 55, 144, nullptr},
      {&MAX_LIVE_SEL, K::List, 536, 55, 144, nullptr},
      {&DESTINATION, K::EditBox, 217, 50, 16, destinationBoxProc},
      {&AIRP_RANGE, K::List, 353, 45, 144, nullptr},
      {&AIRP_HEIGHT, K::List, 566, 70, 230, nullptr},
      {&STRAIGHT_PBS_ONLY, K::CheckBox, 652, 0, 0, nullptr},
      {&PARK_FAKE, K::CheckBox, 5, 0, 0, nullptr},
      {&WEEK, K::CheckBox, 71, 0, 0, nullptr},
      {&PARK_SOFT, K::CheckBox, 151, 0, 0, nullptr},
      {&parking_percentage, K::EditBox, 323, 34, 16, parkingPercentageBoxProc},
      {&INITIAL_LOAD_ONLY, K::CheckBox, 430, 0, 0, nullptr},
      {&MAX_FIT_FL, K::EditBox, 566, 34, 16, maxFitFlBoxProc},
      {&g_reReadButton, K::Button, 758, 90, 20, nullptr},
      {&g_flushStaticButton, K::Button, 758, 90, 20, nullptr},
  }};
  return table;
}

constexpr int kCheckBoxSize = 12;
constexpr int kButtonHeight = 20;
constexpr int kEditBoxHeight = 16;

HMENU childId(std::uint16_t id) { return reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)); }
HINSTANCE instanceOf(const CREATESTRUCTW* creation) { return creation != nullptr ? creation->hInstance : nullptr; }

HWND makeControl(const Parameter& parameter, LPCWSTR className, LPCWSTR text, DWORD style, RECT at, HWND parent,
                 const CREATESTRUCTW* creation) {
  const ControlBinding& binding = *bindingOf(parameter);
  const HWND control = CreateWindowExW(0, className, text, style, at.left, at.top, at.right - at.left,
                                       at.bottom - at.top, parent, childId(binding.controlId), instanceOf(creation),
                                       nullptr);
  if (control == nullptr) logArrowLine(fmt::format("The control of {} could not be created", parameter.name()));
  return control;
}

void createList(ControlBinding& binding, const Parameter& parameter, HWND parent, const CREATESTRUCTW* creation,
                int x, int width, int height) {
  const int y = binding.row - 5;
  binding.hwnd = makeControl(parameter, u"ComboBox", nullptr,
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST,
                             RECT{x, y, x + width, y + height}, parent, creation);
}

// The box's text as UTF-16, at most 1023 characters; nothing when the box does not exist.
std::optional<std::u16string> readBoxText(std::uint16_t id) {
  const HWND control = controlById(id);
  if (control == nullptr) return std::nullopt;
  std::array<WCHAR, 1024> buffer{};
  const int count = GetWindowTextW(control, buffer.data(), static_cast<int>(buffer.size()));
  return std::u16string(buffer.data(), static_cast<std::size_t>(std::max(count, 0)));
}

// The common Enter handling of every edit box: a disabled box takes no entry; the Enter does
// not reach the box.
LRESULT editBoxProc(const Parameter& parameter, std::string_view name, void (*onEnter)(), HWND window,
                    UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CHAR && wParam == 13) {
    if (IsWindowEnabled(window)) {
      atWindowEdge(name, [onEnter] {
        g_mainWindow.clearMessage();
        onEnter();
      });
    }
    return 0;
  }
  const ControlBinding* binding = bindingOf(parameter);
  return CallWindowProcW(reinterpret_cast<WNDPROC>(binding->previousProc), window, message, wParam, lParam);
}

void takeParkingPercentage() { lf_processTbInt(parking_percentage); }

void takeMaxFit() {
  if (!g_parkAirportLoaded.load()) {
    setTextBoxFloat(MAX_FIT_FL);  // nothing changes: the box shows the value in force
    return;
  }
  if (lf_processTbFloat(MAX_FIT_FL)) announceResponseDelay();
}

}  // namespace

// ---- creation -----------------------------------------------------------------------------------

void createCheckBox(CheckBoxParameter& parameter, HWND parent, const CREATESTRUCTW* creation, int x) {
  const int y = parameter.binding.row + 2;
  parameter.binding.hwnd = makeControl(parameter, u"button", u"", WS_CHILD | WS_VISIBLE | BS_CHECKBOX,
                                       RECT{x, y, x + kCheckBoxSize, y + kCheckBoxSize}, parent, creation);
  if (parameter.binding.hwnd == nullptr) return;
  CheckDlgButton(parent, parameter.binding.controlId, parameter.value() ? BST_CHECKED : BST_UNCHECKED);
  EnableWindow(parameter.binding.hwnd, TRUE);
}

void createButton(ButtonParameter& parameter, HWND parent, const CREATESTRUCTW* creation, int x, int width) {
  const int y = parameter.binding.row;
  const std::u16string caption = win32::utf8ToWide(parameter.name());
  parameter.binding.hwnd = makeControl(parameter, u"button", caption.c_str(), WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                                       RECT{x, y, x + width, y + kButtonHeight}, parent, creation);
  if (parameter.binding.hwnd != nullptr) EnableWindow(parameter.binding.hwnd, FALSE);
}

void createEditBox(ControlBinding& binding, HWND parent, const CREATESTRUCTW* creation, int x, int width,
                   WNDPROC procedure) {
  const int y = binding.row;
  binding.hwnd = CreateWindowExW(0, u"Edit", u"", WS_CHILD | WS_VISIBLE | WS_BORDER, x, y, width, kEditBoxHeight,
                                 parent, childId(binding.controlId), instanceOf(creation), nullptr);
  if (binding.hwnd == nullptr) {
    logArrowLine(fmt::format("The edit box {} could not be created", binding.controlId));
    return;
  }
  // The previous procedure first, so that no message reaches the new one without it.
  binding.previousProc = GetWindowLongPtrW(binding.hwnd, GWLP_WNDPROC);
  SetWindowLongPtrW(binding.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
  EnableWindow(binding.hwnd, FALSE);
}

void createControls(HWND window, const CREATESTRUCTW* creation) {
  for (const ControlSpec& spec : controlTable()) {
    ControlBinding& binding = *bindingOf(*spec.parameter);
    switch (spec.kind) {
      case ControlKind::CheckBox:
        createCheckBox(static_cast<CheckBoxParameter&>(*spec.parameter), window, creation, spec.x);
        break;
      case ControlKind::Button:
        createButton(static_cast<ButtonParameter&>(*spec.parameter), window, creation, spec.x, spec.width);
        break;
      case ControlKind::EditBox:
        createEditBox(binding, window, creation, spec.x, spec.width, spec.procedure);
        break;
      case ControlKind::List:
        createList(binding, *spec.parameter, window, creation, spec.x, spec.width, spec.height);
        break;
    }
  }
  g_mainWindow.invalidate(g_panelRect);
}

// ---- values into controls -------------------------------------------------------------------------

void setTextBoxInt(const IntParameter& parameter) { showValueInControl(parameter); }
void setTextBoxFloat(const FloatParameter& parameter) { showValueInControl(parameter); }
void setTextBoxString(const StringParameter& parameter) { showValueInControl(parameter); }
void clearTextBox(std::uint16_t controlId) { clearControlText(controlId); }


// ---- typed text -------------------------------------------------------------------------------------

std::string lf_getTextFromId(std::uint16_t controlId) {
  const auto wide = readBoxText(controlId);
  if (!wide) return {};
  try {
    return win32::wideToUtf8(*wide);
  } catch (const win32::Utf8ConversionException& e) {
    logArrowLine(fmt::format("{} {}", "lf_getTextFromId", e.what()));
    return {};
  }
}

std::optional<std::string> readTypedText(const Parameter& parameter) {
  const ControlBinding* binding = bindingOf(parameter);
  if (binding == nullptr) return std::nullopt;
  const auto wide = readBoxText(binding->controlId);
  if (!wide) return std::nullopt;
  std::string refusal;
  std::string text;
  if (wide->size() > kMaxTypedLength) {
    refusal = fmt::format("The typed text is too long (more than {} characters), no changes made", kMaxTypedLength);
  } else {
    try {
      text = win32::wideToUtf8(*wide);
      // The one rule for outside text; the conversion has made sure of the UTF-8 already.
      if (!kvo::isCleanText(text)) refusal = "The typed text holds control or invisible characters, no changes made";
    } catch (const win32::Utf8ConversionException& e) {
      logArrowLine(fmt::format("{} {}", "lf_getTextFromId", e.what()));
      refusal = "The typed text is not valid Unicode, no changes made";
    }
  }
  if (!refusal.empty()) {
    g_mainWindow.showMessage(refusal, true);
    showValueInControl(parameter);
    return std::nullopt;
  }
  return text;
}

// ---- the edit boxes' procedures -------------------------------------------------------------------

LRESULT installPathBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return editBoxProc(ALL_INSTALL_PATH, "installPathBoxProc", processInstallPath, window, message, wParam, lParam);
}
LRESULT blockCallsignBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return editBoxProc(BLOCK_CALLSIGN, "blockCallsignBoxProc", processBlockCallsign, window, message, wParam, lParam);
}
LRESULT callsignObjectIdBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return editBoxProc(CALLSIGN_2_OBJECTID, "callsignObjectIdBoxProc", processCallsignObjectId, window, message, wParam,
                     lParam);
}
LRESULT destinationBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return editBoxProc(DESTINATION, "destinationBoxProc", processDestination, window, message, wParam, lParam);
}
LRESULT parkingPercentageBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return editBoxProc(parking_percentage, "parkingPercentageBoxProc", takeParkingPercentage, window, message, wParam,
                     lParam);
}
LRESULT maxFitFlBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return editBoxProc(MAX_FIT_FL, "maxFitFlBoxProc", takeMaxFit, window, message, wParam, lParam);
}

void reportWindowException(std::string_view where, std::string_view what) noexcept {
  try {
    const std::string text = fmt::format("{} exception {}", where, what);
    logArrowLine(text);
    g_mainWindow.showErrorMessage(text);
  } catch (...) {
    // Nothing more can be said: the window goes on.
  }
}
