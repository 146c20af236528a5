#pragma once
// The clicks on the check boxes and buttons and the choices in the drop-down lists of the main
// window (WM_COMMAND, on the window thread), the automatic traffic radius and the setter of the
// radius. A handler saves its parameter at once, says what follows in the message line, and
// applies the change: at once, through a flag the start-up worker takes, or by a restart of the
// run with exit reason 3.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/win32/win32.h"

// Work handed from the window thread to the start-up worker, taken at its next user sample.
extern std::atomic<bool> g_navLightsPending;  // NAV_LIGHTS_WHILE_PARKED changed
extern std::atomic<bool> g_autoRangePending;  // AUTO_RANGE switched on
// The livery data base (and the add-on airport scan's state) must be cleared before the next
// run: taken by the reset between runs.
extern std::atomic<bool> g_clearLiveryDbAtRestart;

bool lf_HandleWMCOMMAND(HWND window, WPARAM wParam);
bool handleButtonCommand(HWND window, WORD id);
bool handleCheckBoxCommand(HWND window, WORD id);
bool handleComboCommand(HWND window, WPARAM wParam);
// The selected entry's index and UTF-8 text when wParam is CBN_SELCHANGE of that list.
std::optional<std::pair<int, std::string>> getComboText(HWND window, WORD id, WPARAM wParam);

// Applies a changed SIM_CHOICE: the next run scans anew for the other simulator.
void switchSimulator();

// RANGE from the user aircraft's situation (start-up worker: it reads the user aircraft and the
// park airport list).
void applyAutoRange();
// Makes the value (clamped to RANGE's limits) the current radius: RANGE, g_rangeNm and
// g_rangeMeters, and the RANGE list's selection. RANGE is not saved.
void selectComboValue(std::int32_t rangeNm);

// What the worker does with the handed-over work at a user sample: the navigation lights of
// the parked aircraft, the automatic radius.
void takeWindowRequests();
// Called by the reset between runs: clears the livery data base when a handler asked for it.
void takeDeferredLiveryClear();

namespace kvo {
// The automatic radius (nm): 10 on the ground; 100 above AR_ABOVE_HEIGHT and 40 above
// AIRP_HEIGHT (heights above ground, ft); else from the distance to the first park airport.
std::int32_t autoRangeFor(bool onGround, double heightAboveGroundFt, std::optional<double> parkAirportDistanceNm);
}  // namespace kvo

// The handlers' state back to the start (tests).
void resetOptionHandlersForTests();
