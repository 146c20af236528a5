// The counters of the status area and the statistics, and the window's view of the park
// airport, refreshed by the start-up worker (which owns the aircraft and the park airport).
#include <algorithm>
#include <mutex>

#include "airports/airport_list.h"
#include "app/paint.h"
#include "links/traffic_reader.h"
#include "shared_state/main_window.h"
#include "traffic/aircraft_records.h"
#include "traffic/park_airports.h"
#include "traffic/static_aircraft.h"

namespace {

std::mutex g_viewMutex;
kvo::ParkAirportView g_view;  // under g_viewMutex

// The park airport's label, looked up once per park airport (worker).
struct ParkAirportLabel {
  std::string code;
  std::string label;
};
ParkAirportLabel g_parkAirportLabel;

const std::string& parkAirportLabel() {
  if (g_parkAirportLabel.code != g_parkAirport) g_parkAirportLabel = {g_parkAirport, airportLabel(g_parkAirport)};
  return g_parkAirportLabel.label;
}

bool isActive(const kvo::StaticAircraft& aircraft) { return aircraft.state == kvo::AircraftState::Active; }

}  // namespace

kvo::ParkAirportView kvo::parkAirportView() {
  std::lock_guard lock(g_viewMutex);
  return g_view;
}

void kvo::resetParkAirportView() {
  g_parkAirportLabel = {};
  std::lock_guard lock(g_viewMutex);
  g_view = {};
}

bool kvo::setParkAirportView(ParkAirportView view) {
  std::lock_guard lock(g_viewMutex);
  if (view == g_view) return false;
  g_view = std::move(view);
  return true;
}

void refreshCounters() {
  const std::uint64_t parkedLive = updateLiveParkGauge(true);
  const auto live = static_cast<std::uint64_t>(std::count_if(
      g_liveAircraft.begin(), g_liveAircraft.end(),
      [](const kvo::LiveAircraft& a) { return isActive(a) && a.phase != kvo::GroundPhase::Parked; }));
  if (live != g_mainWindow.liveCount.load()) {
    g_mainWindow.liveCount = live;
    g_mainWindow.invalidate(g_statusAreaRect);
  }
  const std::uint64_t parkedStatic = updateStaticParkGauge(true);
  bool statisticsChanged = false;
  if (parkedStatic != g_mainWindow.parkedStaticCount.load() || parkedLive != g_mainWindow.parkedLiveCount.load()) {
    g_mainWindow.parkedStaticCount = parkedStatic;
    g_mainWindow.parkedLiveCount = parkedLive;
    statisticsChanged = true;
  }
  kvo::ParkAirportView view;
  if (!g_parkAirport.empty()) {
    view.label = parkAirportLabel();
    view.reservedStand = g_reservedStand;
    view.trafficWeek = g_rtTrafficWeek.load();
  }
  if (kvo::setParkAirportView(std::move(view))) statisticsChanged = true;
  if (statisticsChanged) g_mainWindow.invalidate(g_statisticsRect);
}
