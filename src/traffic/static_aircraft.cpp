// Static parked aircraft: their creation from the plan's candidates, their removal, the close of
// the park airport, the parked-aircraft gauges and the parking controls while a plan runs.
#include "traffic/static_aircraft.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "aircraft/livery_match.h"
#include "airports/park_stands.h"
#include "core/log.h"
#include "core/parameters.h"
#include "links/sim_records.h"
#include "links/traffic_reader.h"
// The window's gauges and controls belong to the shared display state; the current week slot to
// the run's clock.
#include "shared_state/control_writes.h"
#include "shared_state/main_window.h"
#include "shared_state/run_clock.h"
#include "traffic/engine_detail.h"
#include "traffic/park_airport_file.h"
#include "traffic/park_airports.h"
#include "traffic/stand_options.h"
#include "traffic/stand_search.h"
#include "traffic/traffic_engine.h"

using kvo::AircraftState;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::Stand;
using kvo::StaticAircraft;
using kvo::WeekSlot;
using kvo::engine::kRadiansPerDeg;
using kvo::engine::shouldErase;

std::atomic<bool> g_staticParkingBusy{false};
std::uint32_t g_staticSerial = 0;

namespace {

constexpr std::uint32_t kStaticIdRange = 10000;

std::function<void()> g_parkFileSaver;

// The ten controls that change what a plan is made of.
// The controls belong to the window thread: the writes go through it.
void enableParkingControls(bool on) {
  for (const ControlBinding* b : {&parking_percentage.binding, &MAX_FIT_FL.binding, &MAX_LIVE_SEL.binding,
                                  &MAX_PARK_SEL.binding, &INITIAL_LOAD_ONLY.binding, &PARK_FAKE.binding,
                                  &PARK_SOFT.binding, &WEEK.binding, &g_flushStaticButton.binding,
                                  &g_reReadButton.binding}) {
    enableControl(*b, on);
  }
}

void disableControl(const ControlBinding& binding) { enableControl(binding, false); }

bool onStandOrNeighbour(std::uint32_t standId, const Stand& stand) {
  return standId != 0 && (standId == stand.id || std::find(stand.adjacentIds.begin(), stand.adjacentIds.end(),
                                                           standId) != stand.adjacentIds.end());
}

// A live aircraft parking or parked on the stand or next to it keeps the candidate off.
bool liveInTheWay(const StaticCandidate& c, const Stand& stand) {
  const auto it = std::find_if(g_liveAircraft.begin(), g_liveAircraft.end(), [&](const LiveAircraft& a) {
    return (a.phase == GroundPhase::Parking || a.phase == GroundPhase::Parked) && onStandOrNeighbour(a.standId, stand);
  });
  if (it == g_liveAircraft.end()) return false;
  if (LOG.value()) {
    if (it->standId == stand.id) {
      logLine(fmt::format("{:8}: no static parking for {}, live aircraft {} standing here", stand.name, c.callsign1,
                          it->callsign));
    } else {
      logLine(fmt::format("{:8}: no static parking for {}, live aircraft {} is adjacent at {}, possibly colliding",
                          stand.name, c.callsign1, it->callsign, standName(it->standId)));
    }
  }
  return true;
}

// So does a static aircraft there; one on its way out is as good as gone (the re-plan re-creates
// an aircraft on its own stand under its second callsign while the first goes).
bool staticInTheWay(const StaticCandidate& c, const Stand& stand) {
  const auto it = std::find_if(g_staticAircraft.begin(), g_staticAircraft.end(), [&](const StaticAircraft& s) {
    return s.state != AircraftState::RemovingFromSim && onStandOrNeighbour(s.standId, stand);
  });
  if (it == g_staticAircraft.end()) return false;
  if (LOG.value()) {
    logLine(fmt::format("{:8}: no static parking for {}, static aircraft {} is adjacent at {}, possibly colliding",
                        stand.name, c.callsign1, it->callsign, standName(it->standId)));
  }
  return true;
}

// Parked half hours since the placed week slot; an aircraft placed later in the week than now
// (the week has turned since) adds nothing.
std::int64_t parkedHalfHours(WeekSlot placed, WeekSlot now) {
  const std::int32_t d = kvo::weekSlotIndex(now) - kvo::weekSlotIndex(placed);
  return d < 0 ? 0 : d;
}

// sum / (2 x count) + 0.5 hours into the window's field when it changed.
void storeAverage(std::atomic<float>& field, std::int64_t sumHalfHours, std::uint64_t count) {
  const float average =
      count == 0 ? 0.0f : static_cast<float>(static_cast<double>(sumHalfHours) / (2.0 * static_cast<double>(count)) + 0.5);
  const float stored = field.load();
  const bool same = stored == average || (std::isnan(stored) && std::isnan(average));
  if (same) return;
  field = average;
  g_mainWindow.invalidate(g_statisticsRect);
}

// The close without the save: the park airport and its stands forgotten, its controls disabled.
void forgetParkAirport() {
  g_parkAirportHandmade = 0;
  g_parkAirportLoaded = false;
  g_rtTrafficWeek = 0;
  disableControl(g_flushStaticButton.binding);
  disableControl(parking_percentage.binding);
  unsetParkAirport();
  g_reservedStand.clear();
  if (g_mainWindow.standUpdateCount.exchange(0) != 0) g_mainWindow.invalidate(g_statisticsRect);
  g_staticRemovals.clear();
  g_staticCandidates.clear();
  resetParkStands();
  parkStandsChanged();
  g_mainWindow.parkFileLoaded = false;
  g_mainWindow.handmade = false;
  g_mainWindow.standCount = 0;
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportPublisher, {}, g_statusAreaRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportName, {}, g_statusAreaRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::qualityFactorText, {}, g_statisticsRect);
  g_mainWindow.invalidate(g_statisticsRect);
}

bool onGroundAtParkAirport(GroundPhase p) {
  return p == GroundPhase::PushingBack || p == GroundPhase::PushedBack || p == GroundPhase::Taxi ||
         p == GroundPhase::TakeOff || p == GroundPhase::Parking || p == GroundPhase::Parked;
}

}  // namespace

// ---- creation -----------------------------------------------------------------------------------

std::uint32_t nextStaticInternalId() {
  g_staticSerial = (g_staticSerial + 1) % kStaticIdRange;
  if (g_staticSerial == 0) g_staticSerial = 1;
  return g_staticSerial;
}

std::string staticCallsign(std::string_view callsign) {
  while (!callsign.empty() && callsign.back() == '_') callsign.remove_suffix(1);
  if (!callsign.empty() && callsign.back() == '*') return std::string(callsign);
  return fmt::format("{}{}", callsign, "*");
}

std::string lf_detcs(const StaticCandidate& c) {
  const std::string& chosen = c.continues != 0 ? c.callsign1 : c.callsign2;
  const std::string& other = c.continues != 0 ? c.callsign2 : c.callsign1;
  const std::string& text = chosen.empty() ? other : chosen;
  if (text.empty()) {
    logArrowLine(fmt::format("{} callsign is empty..", "lf_detcs"));
    return {};
  }
  return staticCallsign(text);
}

void spawnStaticAircraft() {
  if (g_staticCandidates.empty() || g_parkStands.empty()) return;
  const StaticCandidate c = std::move(g_staticCandidates.back());
  g_staticCandidates.pop_back();
  // The stand first: its neighbours are read from it.
  const Stand* stand = findStandById(c.standId);
  if (stand == nullptr) {
    logArrowLine(fmt::format("stand with id {} not found", c.standId));
    return;
  }
  if (liveInTheWay(c, *stand) || staticInTheWay(c, *stand)) return;
  const std::uint32_t id = nextStaticInternalId();
  kvo::AircraftTexts texts;
  texts.airline = c.airline;
  texts.type = c.type;
  texts.callsign = c.callsign1.empty() ? fmt::format("{}{}{}", c.airline, id, "*") : lf_detcs(c);
  texts.coupledCallsign1 = c.callsign1;
  texts.coupledCallsign2 = c.callsign2;
  texts.registration = c.registration;
  kvo::AircraftBase base = kvo::makeAircraftBase(texts);
  base.internalId = id;
  // The airport file holds the heading in degrees; the record keeps radians.
  g_staticAircraft.push_back(kvo::initStaticAircraft(
      std::move(base), stand->id, kvo::StandPosition{stand->latitude, stand->longitude, stand->heading * kRadiansPerDeg},
      stand->cargo));
  StaticAircraft& ac = g_staticAircraft.back();
  if (!matchStaticAcLivery(ac, *stand)) {
    g_staticAircraft.pop_back();
    return;
  }
  ac.parkWeekSlot = kvo::weekSlotBack(g_currentWeekSlot.load(), c.fitSteps);
  ac.state = AircraftState::Adding2Sim;
  kvo::InitPosition position;
  position.latitude = stand->latitude;
  position.longitude = stand->longitude;
  position.heading = stand->heading;
  position.onGround = 1;
  g_queuedCreates.push_back(kvo::CreateRequest{position, ac.callsign, ac.liveryTitle, ac.internalId});
}

// ---- removal ------------------------------------------------------------------------------------

void removeAllStaticAircraft() {
  for (StaticAircraft& s : g_staticAircraft) {
    // A creation still queued is taken back; one that went out is removed as soon as it exists.
    if (s.state == AircraftState::Active || s.state == AircraftState::Adding2Sim) removeAircraftFromSim(s);
  }
  std::erase_if(g_staticAircraft, shouldErase);
}

void freeReservedStand() {
  const Stand* stand = findStandByName(g_reservedStand);
  // No such stand: nothing stands on it (id 0 would name every aircraft without a stand).
  if (stand == nullptr || stand->id == 0) return;
  const std::uint32_t id = stand->id;
  const auto s = std::find_if(g_staticAircraft.begin(), g_staticAircraft.end(), [id](const StaticAircraft& a) {
    return a.standId == id && a.state == AircraftState::Active;
  });
  if (s != g_staticAircraft.end()) {
    removeAircraftFromSim(*s);
    return;
  }
  const auto l = std::find_if(g_liveAircraft.begin(), g_liveAircraft.end(), [id](const LiveAircraft& a) {
    return a.standId == id && a.phase == GroundPhase::Parked && a.state == AircraftState::Active;
  });
  if (l != g_liveAircraft.end()) removeAircraftFromSim(*l);
}

void clearParkAirport() {
  g_staticCandidates.clear();
  removeAllStaticAircraft();
  for (LiveAircraft& a : g_liveAircraft) {
    if (!onGroundAtParkAirport(a.phase)) continue;
    // Stand ids of the closed airport would name the next airport's stands.
    a.standLat = 0.0;
    a.standLon = 0.0;
    a.standHeading = 0.0;
    a.standId = 0;
    a.cargoStand = 0;
    if (a.state == AircraftState::Active || a.state == AircraftState::Adding2Sim) removeAircraftFromSim(a);
  }
  std::erase_if(g_liveAircraft, shouldErase);
  closeParkAirport();
  const std::int32_t saved = g_savedMaxLive.load();
  if (MAX_LIVE_SEL.value() != saved) {
    // The value raised or lowered for this park airport is not the user's: the user's is kept.
    MAX_LIVE_SEL.set(saved);
    saveIntParameter(MAX_LIVE_SEL);
    trimLiveAircraft();
  }
}

void closeParkAirport() {
  if (g_parkAirportLoaded.load() && (g_parkParamsChanged.load() || g_standUpdates >= 1)) {
    try {
      if (g_parkFileSaver) {
        g_parkFileSaver();
      } else {
        saveAirportFile();
      }
    } catch (const std::exception& e) {
      // The close must finish: static aircraft would otherwise stay in the simulator.
      logArrowLine(fmt::format("{} exception: {}", "closeParkAirport", e.what()));
    }
    g_standUpdates = 0;
  }
  forgetParkAirport();
}

// ---- gauges and controls ------------------------------------------------------------------------

std::uint64_t updateStaticParkGauge(bool withAverage) {
  const WeekSlot now = g_currentWeekSlot.load();
  std::uint64_t count = 0;
  std::int64_t sum = 0;
  for (const StaticAircraft& s : g_staticAircraft) {
    if (s.state != AircraftState::Active && s.state != AircraftState::RemovingFromSim) continue;
    ++count;
    sum += parkedHalfHours(s.parkWeekSlot, now);
  }
  if (withAverage && !WEEK.value()) storeAverage(g_mainWindow.staticAverageHours, sum, count);
  return count;
}

std::uint64_t updateLiveParkGauge(bool withAverage) {
  const WeekSlot now = g_currentWeekSlot.load();
  std::uint64_t count = 0;
  std::int64_t sum = 0;
  for (const LiveAircraft& a : g_liveAircraft) {
    if (a.phase != GroundPhase::Parked || a.state != AircraftState::Active) continue;
    ++count;
    sum += parkedHalfHours(a.parkWeekSlot, now);
  }
  if (withAverage) storeAverage(g_mainWindow.liveAverageHours, sum, count);
  return count;
}

void disableControlsForStaticParking() {
  g_staticParkingBusy.exchange(true);
  enableParkingControls(false);
  // The message line keeps what it shows: the plan's callers tell the user why the controls are
  // off ("... is disabled while static parking takes place", "... in sight").
  g_mainWindow.invalidate(g_panelRect);
}

void enableControlsAfterStaticParking() {
  g_staticParkingBusy = false;
  g_mainWindow.minutesToNextPass = 19;
  enableParkingControls(true);
  g_mainWindow.clearMessage();
  g_mainWindow.invalidate(g_panelRect);
}

// ---- reset ----------------------------------------------------------------------------------------

void resetParkingStateForNewRun() {
  forgetParkAirport();
  resetParkAirportsForNewRun();
  resetParkAirportFileState();
  resetStaticParkingPass();
  g_staticParkingBusy = false;
  g_staticSerial = 0;
}

void setParkFileSaverForTests(std::function<void()> saver) { g_parkFileSaver = std::move(saver); }
