#pragma once
// Writes to the main window's option controls from any thread. The controls belong to the
// window thread: there these act at once; from another thread (the start-up worker, the engine)
// they post a message to the main window, whose procedure hands it to handleControlMessage,
// which does the write on the window thread with the parameter's value at that time.
#include <cstdint>

#include "core/parameters.h"
#include "platform/win32/win32.h"

// Posted to the main window: wParam the control id.
inline constexpr UINT kShowValueMessage = WM_APP + 3;      // lParam: one of the three below
inline constexpr UINT kEnableControlMessage = WM_APP + 4;  // lParam: 1 enable, 0 disable
inline constexpr LPARAM kShowValue = 0;
inline constexpr LPARAM kFillList = 1;
inline constexpr LPARAM kClearText = 2;

// The parameter's current value into its control: the text of an edit box (formatNumber for a
// float), the selected entry of a drop-down list, the check of a check box.
void showValueInControl(const Parameter& parameter);
// Empties the control's text.
void clearControlText(std::uint16_t controlId);
// Fills a drop-down list with its entries and selects the current value.
void fillListControl(const Parameter& parameter);
// Enables or disables the control of the binding (nothing while it does not exist).
void enableControl(const ControlBinding& binding, bool enable);

// The main window's procedure hands the two messages above to this (on the window thread).
void handleControlMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The window whose controls the writes look up: the one the main window's procedure saw last
// (also before its handle is stored, while WM_CREATE runs), else the main window.
void rememberControlsWindow(HWND window);
HWND controlsWindow();
// The control with the id in that window; logs "GetDlgItem failed for ID {}" when there is none.
HWND controlById(std::uint16_t controlId);

// The window thread is the one that created the main window; until then (and in tests without
// the window procedure) every thread counts as it.
void rememberWindowThread();
void forgetWindowThread();
bool onWindowThread();
