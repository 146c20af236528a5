#include "app/app_pending.h"

#include <fmt/format.h>

#include <string>

#include "core/parameters.h"
#include "shared_state/main_window.h"
#include "traffic/park_airports.h"

void createControls(HWND, const CREATESTRUCTW*) { g_mainWindow.invalidate(g_panelRect); }

void applyAutoRange() {}

void selectComboValue(std::int32_t rangeNm) {
  g_rangeNm = static_cast<double>(rangeNm);
  g_rangeMeters = static_cast<double>(rangeNm) * 1852.0;
}

void refreshCounters() { g_mainWindow.invalidate(g_statusAreaRect); }

void setDestination(std::string_view code, kvo::LatLon position) {
  setAndSaveStringParameter(DESTINATION, std::string(code));
  setTextBoxString(DESTINATION);
  g_mainWindow.showMessage(fmt::format("New destination: {}", code), true);
  addParkAirport(std::string(code), position);
  if (HWND button = g_reReadButton.binding.hwnd) EnableWindow(button, FALSE);
}

bool lf_HandleWMCOMMAND(HWND, WPARAM) { return false; }

void setTextBoxString(const StringParameter&) {}
