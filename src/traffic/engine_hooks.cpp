#include "traffic/engine_hooks.h"

#include <fmt/format.h>

#include <mutex>
#include <optional>
#include <string>

#include "airports/airport_folders.h"
#include "airports/airport_list.h"
#include "airports/park_stands.h"
// The main window (the park airport's name and stand count) belongs to the application shell
// above this library.
#include "app/main_window.h"
#include "core/log.h"
#include "core/parameters.h"
#include "links/feed.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"

// No stand is found before the stand search is built.
std::string findStandAt(kvo::LatLon) { return {}; }

void parkStandsChanged() {}  // the stand search publishes its snapshot here

// ---- the traffic engine as the run control and the main loop call it (least behaviour) --------

std::string g_parkAirport;
std::string g_parkAirportIata;
std::string g_reservedStand;
std::atomic<bool> g_staticParkingBusy{false};

// ---- static parking (least behaviour) ---------------------------------------------------------
// Until static parking is built nothing is parked statically; closing the park airport saves its
// learned state when something changed and forgets everything taken from it.
namespace {

void forgetParkAirport() {
  unsetParkAirport();
  g_reservedStand.clear();
  g_staticCandidates.clear();
  resetParkStands();
  parkStandsChanged();
  g_mainWindow.parkFileLoaded = false;
  g_mainWindow.handmade = false;
  g_mainWindow.standCount = 0;
  g_mainWindow.standUpdateCount = 0;
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportPublisher, {}, g_statusAreaRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportName, {}, g_statusAreaRect);
}

}  // namespace

void clearParkAirport() { closeParkAirport(); }

void closeParkAirport() {
  if (g_parkAirportLoaded.load() && (g_parkParamsChanged.load() || g_standUpdates >= 1)) saveAirportFile();
  g_standUpdates = 0;
  forgetParkAirport();
}

void freeReservedStand() {}
void disableControlsForStaticParking() {}
void enableControlsAfterStaticParking() {}
void resetStaticParkingPass() {}
void reportStaticParking() {}
std::uint64_t updateStaticParkGauge(bool) { return 0; }
std::uint64_t updateLiveParkGauge(bool) { return 0; }
void adjustParking() {}
void removeAllStaticAircraft() {}
void lf_searchForCoupledCsAroundThisTime(kvo::LiveAircraft&, kvo::WeekSlot) {}

// ---- stands and the park airport as the movement code calls them (least behaviour) ----------
double g_parkAirportElevation = 0.0;
double g_parkAirportLat = 0.0;
double g_parkAirportLon = 0.0;
// Least: only what a push-back needs to end and wait for the feed (a stationary point 3 s on,
// holding up to MAX_HOLDING_MINUTES after the push-back); every other track end has no points.
bool continueAtTrackEnd(kvo::LiveAircraft& aircraft) {
  const bool pushing = aircraft.phase == kvo::GroundPhase::PushingBack;
  if ((!pushing && aircraft.phase != kvo::GroundPhase::PushedBack) || aircraft.trackPoints.empty()) return false;
  const kvo::TickCount now = g_trafficTick.load();
  if (!pushing) {
    if (aircraft.holding != 0 && (now - aircraft.holdingSince) / 6000 > MAX_HOLDING_MINUTES.value()) return false;
    if (aircraft.holding == 0) aircraft.holdingSince = now;
    aircraft.holding = 1;
  }
  kvo::TrackPoint wait = aircraft.trackPoints.front();
  wait.dueTick += 300;
  wait.groundSpeedKt = 0.0;
  wait.stationary = 1;
  aircraft.trackPoints.push_back(wait);
  aircraft.standRouteState = 1;
  return true;
}
bool planSoftStandOption(kvo::LiveAircraft&, bool) { return false; }
void try2Park(kvo::LiveAircraft&, bool) {}
bool lt_addStandOption(std::uint32_t, const kvo::LiveAircraft&, kvo::WeekSlot, bool) { return false; }
bool stampIdSlot(kvo::WeekSlot, std::uint32_t, bool) { return false; }

// ---- stands, static parking and flight plans as the tick calls them (least behaviour) --------
std::vector<StaticCandidate> g_staticCandidates;
void spawnStaticAircraft() {}
std::optional<kvo::Stand> claimStandForArrival(kvo::LiveAircraft&) { return std::nullopt; }
void setCargoAttribute(kvo::LiveAircraft&) {}
void enforceMaxPark(std::uint8_t) {}
void resetParkingStateForNewRun() {
  forgetParkAirport();
  resetParkAirportsForNewRun();
  resetParkAirportFileState();
}
