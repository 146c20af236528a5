#include "shared_state/control_writes.h"

#include <fmt/format.h>

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "core/log.h"
#include "core/text.h"
#include "core/utf.h"
#include "shared_state/main_window.h"

namespace {

std::atomic<HWND> g_controlsWindow{nullptr};
std::atomic<std::thread::id> g_windowThread{};

HWND lookupWindow() {
  const HWND seen = g_controlsWindow.load();
  return seen != nullptr && IsWindow(seen) ? seen : g_mainWindow.hwnd.load();
}

Parameter* parameterOfControl(std::uint16_t id) {
  for (Parameter* parameter : programParameters()) {
    const ControlBinding* binding = bindingOf(*parameter);
    if (binding != nullptr && binding->controlId == id) return parameter;
  }
  return nullptr;
}

// On the window thread the write is done at once; another thread asks the window thread for
// it with the message (wParam the control id).
template <typename Write>
void writeOnWindowThread(UINT message, std::uint16_t id, LPARAM lParam, Write write) {
  if (onWindowThread()) {
    write();
  } else if (HWND window = g_mainWindow.hwnd.load()) {
    PostMessageW(window, message, id, lParam);
  }
}

void writeText(std::uint16_t id, std::string_view text) {
  try {
    const std::u16string wide = win32::utf8ToWide(text);
    if (HWND control = controlById(id)) {
      SetWindowTextW(control, wide.c_str());
      g_mainWindow.invalidate(g_panelRect);
    }
  } catch (const win32::Utf8ConversionException& e) {
    logLine(fmt::format("Utf8ConversionException: {}", e.what()));
  }
}

void selectEntry(std::uint16_t id, int index) {
  if (HWND control = controlById(id)) {
    // -1 (no entry of the list) clears the selection.
    SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(static_cast<INT_PTR>(index)), 0);
    g_mainWindow.invalidate(g_panelRect);
  }
}

// On the window thread: the parameter's value into its control.
void writeValue(const Parameter& parameter) {
  const ControlBinding* binding = bindingOf(parameter);
  if (binding == nullptr) return;
  const std::uint16_t id = binding->controlId;
  if (const auto* list = dynamic_cast<const IntComboParameter*>(&parameter)) {
    selectEntry(id, list->indexOf(list->value()));
  } else if (const auto* texts = dynamic_cast<const StringComboParameter*>(&parameter)) {
    selectEntry(id, texts->indexOf(texts->value()));
  } else if (const auto* box = dynamic_cast<const CheckBoxParameter*>(&parameter)) {
    if (controlById(id) != nullptr) CheckDlgButton(lookupWindow(), id, box->value() ? BST_CHECKED : BST_UNCHECKED);
  } else if (const auto* number = dynamic_cast<const IntParameter*>(&parameter)) {
    writeText(id, std::to_string(number->value()));
  } else if (const auto* real = dynamic_cast<const FloatParameter*>(&parameter)) {
    writeText(id, formatNumber(real->value()));
  } else if (const auto* text = dynamic_cast<const StringParameter*>(&parameter)) {
    writeText(id, text->value());
  }
}

void fillList(const Parameter& parameter) {
  if (const auto* list = dynamic_cast<const IntComboParameter*>(&parameter)) fillIntCombo(*list);
  if (const auto* texts = dynamic_cast<const StringComboParameter*>(&parameter)) fillStringCombo(*texts);
}

}  // namespace

void rememberControlsWindow(HWND window) { g_controlsWindow = window; }
HWND controlsWindow() { return g_controlsWindow.load(); }

HWND controlById(std::uint16_t id) {
  const HWND window = lookupWindow();
  const HWND control = window != nullptr ? GetDlgItem(window, id) : nullptr;
  if (control == nullptr) logLine(fmt::format("GetDlgItem failed for ID {}", id));
  return control;
}

void showValueInControl(const Parameter& parameter) {
  const ControlBinding* binding = bindingOf(parameter);
  if (binding == nullptr) return;
  writeOnWindowThread(kShowValueMessage, binding->controlId, kShowValue, [&] { writeValue(parameter); });
}

void clearControlText(std::uint16_t controlId) {
  writeOnWindowThread(kShowValueMessage, controlId, kClearText, [controlId] {
    if (HWND control = controlById(controlId)) SetWindowTextW(control, u"");
  });
}

void fillListControl(const Parameter& parameter) {
  const ControlBinding* binding = bindingOf(parameter);
  if (binding == nullptr) return;
  writeOnWindowThread(kShowValueMessage, binding->controlId, kFillList, [&] { fillList(parameter); });
}

void enableControl(const ControlBinding& binding, bool enable) {
  if (binding.hwnd == nullptr) return;
  writeOnWindowThread(kEnableControlMessage, binding.controlId, enable ? 1 : 0,
                      [&] { EnableWindow(binding.hwnd, enable ? TRUE : FALSE); });
}

void handleControlMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const Parameter* parameter = parameterOfControl(LOWORD(wParam));
  if (parameter == nullptr) return;
  if (message == kShowValueMessage && lParam == kClearText) {
    clearControlText(LOWORD(wParam));
  } else if (message == kEnableControlMessage) {
    if (HWND control = bindingOf(*parameter)->hwnd) EnableWindow(control, lParam != 0 ? TRUE : FALSE);
  } else if (lParam == kFillList) {
    fillList(*parameter);
  } else {
    writeValue(*parameter);
  }
}

void rememberWindowThread() { g_windowThread = std::this_thread::get_id(); }
void forgetWindowThread() { g_windowThread = std::thread::id{}; }

bool onWindowThread() {
  const std::thread::id owner = g_windowThread.load();
  return owner == std::thread::id{} || owner == std::this_thread::get_id();
}
