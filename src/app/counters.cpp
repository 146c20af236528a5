// The counters of the status area and the statistics, and the window's view of the park
// airport, refreshed by the start-up worker (which owns the aircraft and the park airport).
#include <algorithm>
#include <mutex>

#include "airports/airport_list.h"
#include "airports/airport_file.h"
#include "airports/park_stands.h"
#include "app/paint.h"
#include "shared_state/main_window.h"
#include "traffic/aircraft_records.h"
#include "traffic/park_airports.h"
#include "traffic/static_aircraft.h"

namespace {

std::mutex g_viewMutex;
kvo::ParkAirportView g_view;  // under g_viewMutex

// What the statistics show of the park airport that does not change while it stays: its label
// and the traffic week of its stands, worked out once per park airport (worker).
struct ParkAirportFacts {
  std::string code;
  bool loaded = false;
  std::string label;
  std::uint32_t week = 0;
};
ParkAirportFacts g_parkAirportFacts;

const ParkAirportFacts& parkAirportFacts() {
  const bool loaded = g_parkAirportLoaded.load();
  if (g_parkAirportFacts.code != g_parkAirport || g_parkAirportFacts.loaded != loaded) {
    g_parkAirportFacts = {g_parkAirport, loaded, airportLabel(g_parkAirport),
                          loaded ? kvo::trafficWeekOf(g_parkStands) : 0};
  }
  return g_parkAirportFacts;
}

bool isActive(const kvo::StaticAircraft& aircraft) { return aircraft.state == kvo::AircraftState::Active; }

}  // namespace

kvo::ParkAirportView kvo::parkAirportView() {
  std::lock_guard lock(g_viewMutex);
  return g_view;
}

void kvo::resetParkAirportView() {
  g_parkAirportFacts = {};
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
    const ParkAirportFacts& facts = parkAirportFacts();
    view.label = facts.label;
    view.reservedStand = g_reservedStand;
    view.trafficWeek = facts.week;
  }
  if (kvo::setParkAirportView(std::move(view))) statisticsChanged = true;
  if (statisticsChanged) g_mainWindow.invalidate(g_statisticsRect);
}
