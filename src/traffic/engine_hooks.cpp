#include "traffic/engine_hooks.h"

#include <mutex>
#include <string>

#include "core/parameters.h"
#include "links/feed.h"
#include "links/sim_object_data.h"

// No park airport exists before the stand search and the park airport list are built.
std::string findStandAt(kvo::LatLon) { return {}; }

bool saveUserStandAtParkAirport(std::string_view) { return false; }

// ---- the traffic engine as the run control and the main loop call it (least behaviour) --------

std::string g_parkAirport;
std::string g_parkAirportIata;
std::string g_reservedStand;
std::atomic<bool> g_staticParkingBusy{false};

void handleParkAirport(bool) {}
bool lf_readMyParkAirports() { return true; }
bool checkParkAirports(bool, std::string&) { return false; }
void freeReservedStand() {}
void clearParkAirport() { g_parkAirport.clear(); }
void disableControlsForStaticParking() {}
void adjustParking() {}
void removeAllStaticAircraft() {}
void lf_searchForCoupledCsAroundThisTime(kvo::LiveAircraft&, kvo::WeekSlot) {}
bool createFlightPlanFolders() { return true; }
bool gf_removeFlightPlanFolder() { return true; }

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
std::filesystem::path g_flightPlanFolder;
std::filesystem::path flightPlanPath(std::uint32_t objectId) {
  return g_flightPlanFolder / (std::to_string(objectId) + ".pln");
}
bool writeFlightPlan(const std::filesystem::path&, const kvo::LiveAircraft&) { return false; }
void resetParkingStateForNewRun() {}
