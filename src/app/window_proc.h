#pragma once
// The main window: its creation and the window procedure's handling of the messages that drive
// the runs (WM_APP+1 starts a run, WM_APP+2 quits, WM_CLOSE asks the run to end, WM_DESTROY
// leaves the message loop). Everything here runs on the window thread.
#include "platform/win32/win32.h"

inline constexpr UINT kStartRunMessage = WM_APP + 1;  // 0x8001
inline constexpr UINT kQuitMessage = WM_APP + 2;      // 0x8002
inline constexpr int kMainWindowWidth = 880;
inline constexpr int kMainWindowHeight = 516;

// Creates and shows the main window at its stored position; false when the window object did
// not become ready, or CreateWindowExW or UpdateWindow failed.
bool initInstance(HINSTANCE instance, LPCWSTR title);

LRESULT mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
