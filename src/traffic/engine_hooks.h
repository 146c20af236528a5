#pragma once
// The traffic engine's park airport, stands, static parking and flight plans as the run and the
// links call them; most bodies do the least until their own code replaces them.
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/geometry.h"
#include "traffic/aircraft_records.h"
// The tick, spawning, results and removal, which the run calls too.
#include "traffic/traffic_engine.h"
// The stand search (findStandAt for the simulator client), stand options, parking and the limit
// on parked aircraft, which the movement and the tick call.
#include "traffic/park_limits.h"
#include "traffic/parking.h"
#include "traffic/stand_options.h"
#include "traffic/stand_search.h"

// Points the links' calls into the engine (links/engine_calls.h) at the engine's functions; the
// program calls it at start-up, before any link thread runs.
void installEngineCalls();

// When the first entry of the park airport list is the current park airport and its reserved
// stand differs from the name: the entry takes the name as its reserved stand and the list is
// written to its file. Nothing when the list is empty. True when the list was written.
bool saveUserStandAtParkAirport(std::string_view standName);

// ---- the traffic engine as the run control and the main loop call it -------------------------
// The run (app) calls these on the start-up worker. Until static parking, park airports, the
// stand search and flight plans are built, they do the least that keeps a run sound: every
// park-airport and static-parking job finds nothing to do. Each is replaced by its own code.

// The park airport's code; empty while there is none (worker only).
extern std::string g_parkAirport;
// Its IATA code (the feed names airports by it); empty while none (worker only).
extern std::string g_parkAirportIata;
// The user's reserved stand at the park airport; empty while none (worker only).
extern std::string g_reservedStand;
// A static parking plan is being carried out (the window thread reads it).
extern std::atomic<bool> g_staticParkingBusy;

// Park airports and static parking.
// Least: with no park airport set and the user's aircraft on the ground, the closest airport
// within 5 nm that has an airport file becomes the park airport and its stands are read (the
// traffic reader then keeps ground traffic there); clearParkAirport and the reset forget it.
void handleParkAirport(bool show);
bool lf_readMyParkAirports();
// Re-reads the park airport list (false when that fails) and checks the reserved stand; the
// message is what to show, empty for nothing.
bool checkParkAirports(bool checkStand, std::string& message);
void freeReservedStand();
void clearParkAirport();
void disableControlsForStaticParking();
void adjustParking();
void removeAllStaticAircraft();

// Per-aircraft checks of the user-sample job.
void lf_searchForCoupledCsAroundThisTime(kvo::LiveAircraft& aircraft, kvo::WeekSlot slot);

// Flight plans.
bool createFlightPlanFolders();
bool gf_removeFlightPlanFolder();
// The live aircraft moved since its previous step (its position differs from the previous
// position by at least 1e-8 degree in latitude or longitude).
bool hasMovedSincePreviousStep(const kvo::LiveAircraft& aircraft);

// ---- stands and the park airport as the movement code calls them (least behaviour) ----------
// The park airport's elevation (ft) and reference position (degrees); 0 while none is set.
extern double g_parkAirportElevation;
extern double g_parkAirportLat;
extern double g_parkAirportLon;
// Soft stand options may be learned at the park airport (the park airport file clears it for a
// file that is good enough without them); least: always.
extern std::atomic<bool> g_learnSoftAllowed;

// ---- stands, static parking and flight plans as the tick calls them (least behaviour) --------
// One stand to be filled with a static parked aircraft (the static parking plan).
struct StaticCandidate {
  std::uint32_t standId = 0;
  std::int32_t fitSteps = 0;
  std::string airline;
  std::string type;
  std::string callsign1;
  std::string callsign2;
  std::string registration;
  std::uint8_t continues = 0;
};
// The plan's stands still to be filled, best fit last (worker only).
extern std::vector<StaticCandidate> g_staticCandidates;
// Creates the static aircraft of the last candidate into g_queuedCreates; least: nothing.
void spawnStaticAircraft();
// The flight plan folder (empty until it is set up: the working folder).
extern std::filesystem::path g_flightPlanFolder;
// The flight plan file of an object ("{}.pln" in the flight plan folder) and its writing;
// least: no file is written (false).
std::filesystem::path flightPlanPath(std::uint32_t objectId);
bool writeFlightPlan(const std::filesystem::path& path, const kvo::LiveAircraft& aircraft);
// The park airport list, the park-airport search flags, the id-slot stamps, the static
// parking plan's lists and the texts of the park airport file back to their start for a new
// run (part of resetTraffic); least: nothing to clear.
void resetParkingStateForNewRun();
