#include "app/app_pending.h"

#include "traffic/engine_hooks.h"

void checkVersions() {}

std::atomic<bool> g_parkParamsChanged{false};

std::optional<kvo::LatLon> firstParkAirportPosition() {
  if (g_parkAirport.empty()) return std::nullopt;
  return kvo::LatLon{g_parkAirportLat, g_parkAirportLon};
}

std::uint32_t parkAirportTrafficWeek() { return 0; }

std::optional<OfflineLearningCopies> offlineLearningCopies() { return std::nullopt; }

void resetAddonScanState() {}
