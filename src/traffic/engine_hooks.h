#pragma once
// The traffic engine's park airport, stands, static parking and flight plans as the run and the
// links call them; the static parking bodies do the least until their own code replaces them.
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
// The park airport list and choice, its file and the flight plans, which the run, the main loop
// and the simulator client call too.
#include "traffic/flight_plans.h"
#include "traffic/park_airport_file.h"
#include "traffic/park_airports.h"
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


// ---- the traffic engine as the run control and the main loop call it -------------------------
// The run (app) calls these on the start-up worker. Until static parking and the stand search
// are built, they do the least that keeps a run sound: every static-parking job finds nothing to
// do, and closing a park airport saves its learned state and forgets it. Each is replaced by its
// own code.

// The park airport's code; empty while there is none (worker only).
extern std::string g_parkAirport;
// Its IATA code (the feed names airports by it); empty while none (worker only).
extern std::string g_parkAirportIata;
// The user's reserved stand at the park airport; empty while none (worker only).
extern std::string g_reservedStand;
// A static parking plan is being carried out (the window thread reads it).
extern std::atomic<bool> g_staticParkingBusy;

// Static parking at the park airport (least: nothing is parked statically).
// Ends static parking at the park airport and closes it.
void clearParkAirport();
// Saves the learned state when something changed and forgets the park airport.
void closeParkAirport();
// Removes the aircraft on the user's reserved stand.
void freeReservedStand();
void disableControlsForStaticParking();
void enableControlsAfterStaticParking();
// The pass state of a first plan reset and its request flag raised.
void resetStaticParkingPass();
// The first plan of a newly loaded park airport with its report.
void reportStaticParking();
// The parked-aircraft gauges of the window; the counts.
std::uint64_t updateStaticParkGauge(bool withAverage);
std::uint64_t updateLiveParkGauge(bool withAverage);
void adjustParking();
void removeAllStaticAircraft();

// Per-aircraft checks of the user-sample job.
void lf_searchForCoupledCsAroundThisTime(kvo::LiveAircraft& aircraft, kvo::WeekSlot slot);

// The live aircraft moved since its previous step (its position differs from the previous
// position by at least 1e-8 degree in latitude or longitude).
bool hasMovedSincePreviousStep(const kvo::LiveAircraft& aircraft);

// ---- stands and the park airport as the movement code calls them (least behaviour) ----------
// The park airport's elevation (ft) and reference position (degrees); 0 while none is set.
extern double g_parkAirportElevation;
extern double g_parkAirportLat;
extern double g_parkAirportLon;

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
// The park airport list, the park-airport search flags, the id-slot stamps, the static
// parking plan's lists and the texts of the park airport file back to their start for a new
// run (part of resetTraffic); nothing is saved.
void resetParkingStateForNewRun();
