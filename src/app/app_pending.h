#pragma once
// Operations of the main window and its option handlers that the run calls, built with the
// option controls, the painting and the handlers of the window. Until then they do the least
// that keeps a run sound.
#include <cstdint>
#include <string_view>

#include "core/geometry.h"
#include "core/parameters.h"
#include "platform/win32/win32.h"

// WM_CREATE of the main window: the option controls. Here: nothing but a repaint of the panel.
void createControls(HWND window, const CREATESTRUCTW* creation);
// The automatic traffic radius. Here: nothing (RANGE stays as set).
void applyAutoRange();
// Makes the value the current radius: g_rangeNm and g_rangeMeters.
void selectComboValue(std::int32_t rangeNm);
// The counters of the status area. Here: a repaint of the status area.
void refreshCounters();
// The destination airport: DESTINATION stored and saved, "New destination: {}" shown and logged,
// the airport put at the front of the park airport list, the "Re-read" button disabled.
void setDestination(std::string_view code, kvo::LatLon position);
// WM_COMMAND of the option controls; true when a handler took it. Here: none does.
bool lf_HandleWMCOMMAND(HWND window, WPARAM wParam);
// The parameter's text into its edit box. Here: nothing while the option controls are not built.
void setTextBoxString(const StringParameter& parameter);
