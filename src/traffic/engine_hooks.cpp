#include "traffic/engine_hooks.h"

#include <fmt/format.h>

#include <mutex>
#include <optional>
#include <string>

#include "airports/airport_folders.h"
#include "airports/airport_list.h"
#include "airports/park_stands.h"
#include "core/log.h"
#include "core/parameters.h"
#include "links/engine_calls.h"
#include "links/feed.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
#include "shared_state/main_window.h"

void installEngineCalls() {
  g_dropLiveTrafficCall = dropLiveTraffic;
  g_findStandAtCall = findStandAt;
  g_saveUserStandCall = saveUserStandAtParkAirport;
}

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

// ---- stands, static parking and flight plans as the tick calls them (least behaviour) --------
std::vector<StaticCandidate> g_staticCandidates;
void spawnStaticAircraft() {}
void resetParkingStateForNewRun() {
  forgetParkAirport();
  resetParkAirportsForNewRun();
  resetParkAirportFileState();
}
