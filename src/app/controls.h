#pragma once
// The option controls of the main window: their creation from the parameters' bindings, the
// helpers that show a parameter's value in its control, and the subclassed edit boxes that take
// a typed value on Enter.
//
// The value helpers may be called from any thread: they write through the main window's thread
// (shared_state/control_writes.h).
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "core/parameters.h"
#include "platform/win32/win32.h"
#include "shared_state/control_writes.h"

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
// Empties the control's text.
void clearTextBox(std::uint16_t controlId);

// The text of a control of the main window, UTF-8; empty on failure.
std::string lf_getTextFromId(std::uint16_t controlId);
// The text typed into the parameter's box, when it is acceptable input: at most
// kMaxTypedLength characters, valid UTF-16, clean text (kvo::isCleanText). Otherwise a message
// says why, the box shows the value in force again and the result is empty.
std::optional<std::string> readTypedText(const Parameter& parameter);

// The subclassed edit boxes' procedures.
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
