#pragma once
// The option controls of the main window: their creation from the parameters' bindings, the
// helpers that show a parameter's value in its control, and the subclassed edit boxes that take
// a typed value on Enter.
//
// Controls belong to the window thread. The helpers below may be called from any thread: on the
// window thread they act at once; from another thread (the start-up worker) they post a message
// to the main window, whose procedure does the write on the window thread with the parameter's
// value at that time.
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "core/parameters.h"
#include "platform/win32/win32.h"

// Posted to the main window: wParam the control id.
inline constexpr UINT kShowValueMessage = WM_APP + 3;      // lParam: one of the three below
inline constexpr UINT kEnableControlMessage = WM_APP + 4;  // lParam: 1 enable, 0 disable
inline constexpr LPARAM kShowValue = 0;
inline constexpr LPARAM kFillList = 1;
inline constexpr LPARAM kClearText = 2;

// The longest text an edit box takes (UTF-16 units).
inline constexpr std::size_t kMaxTypedLength = 1000;

// WM_CREATE of the main window: every option control, in the table's order; then a repaint of
// the panel.
void createControls(HWND window, const CREATESTRUCTW* creation);
// The three creation helpers; each stores the new control's handle in the binding.
void createCheckBox(CheckBoxParameter& parameter, HWND parent, const CREATESTRUCTW* creation, int x);
void createButton(ButtonParameter& parameter, HWND parent, const CREATESTRUCTW* creation, int x, int width);
void createEditBox(ControlBinding& binding, HWND parent, const CREATESTRUCTW* creation, int x, int width,
                   WNDPROC procedure);

// The parameter's current value into its control: the text of an edit box, the selected entry
// of a drop-down list, the check of a check box.
void setTextBoxInt(const IntParameter& parameter);
void setTextBoxFloat(const FloatParameter& parameter);
void setTextBoxString(const StringParameter& parameter);
void showValueInControl(const Parameter& parameter);
// Empties the control's text.
void clearTextBox(std::uint16_t controlId);
// Fills a drop-down list with its entries and selects the current value.
void fillListControl(const Parameter& parameter);
// Enables or disables the control of the binding (nothing while it does not exist).
void enableControl(const ControlBinding& binding, bool enable);

// The main window's procedure hands the two messages above to this (on the window thread).
void handleControlMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The window thread is the one that created the main window; until then (and in tests without
// the window procedure) every thread counts as it.
void rememberWindowThread();
void forgetWindowThread();
bool onWindowThread();

// The text of a control of the main window, UTF-8; empty on failure.
std::string lf_getTextFromId(std::uint16_t controlId);
// The text typed into the parameter's box, when it is acceptable input: at most
// kMaxTypedLength characters, no control characters, valid UTF-16. Otherwise a message says why,
// the box shows the value in force again and the result is empty.
std::optional<std::string> readTypedText(const Parameter& parameter);

// The subclassed edit boxes' procedures.
LRESULT textEditBoxProc(const Parameter& parameter, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT installPathBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT blockCallsignBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT callsignObjectIdBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT destinationBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT parkingPercentageBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT maxFitFlBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs a handler of the window thread: an exception that would leave a window procedure is
// caught here, logged as "{} exception {}" with the procedure's name, and shown as the error of
// the message line.
template <typename Handler>
void atWindowEdge(std::string_view where, Handler&& handler) noexcept;
void reportWindowException(std::string_view where, std::string_view what) noexcept;

template <typename Handler>
void atWindowEdge(std::string_view where, Handler&& handler) noexcept {
  try {
    handler();
  } catch (const std::exception& e) {
    reportWindowException(where, e.what());
  } catch (...) {
    reportWindowException(where, "Unknown exception");
  }
}
