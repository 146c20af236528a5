#pragma once
// The static parked aircraft of the park airport: created one at a time from the plan's
// candidates (static_parking.h) at the pace of the creation queue, removed all at once when the
// park airport is cleared or closed, one at a time when the user's reserved stand is freed; the
// two parked-aircraft gauges of the window and the parking controls disabled while a plan is
// carried out.
//
// Start-up worker only; g_staticParkingBusy is atomic because the window thread reads it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "traffic/static_parking.h"

// A static parking plan is being carried out.
extern std::atomic<bool> g_staticParkingBusy;
// The last internal id given to a static aircraft.
extern std::uint32_t g_staticSerial;

// Creates the static aircraft of the last candidate into g_queuedCreates (or drops the candidate
// when its stand is gone, taken or next to a parked aircraft, or no livery matches).
void spawnStaticAircraft();
// The next internal id of a static aircraft: 1..9999 and round again (0 would name no aircraft).
std::uint32_t nextStaticInternalId();
// The callsign a candidate's aircraft shows; empty when the candidate has none.
std::string lf_detcs(const StaticCandidate& candidate);
// Trailing underscores cut, "*" appended unless the text ends with one.
std::string staticCallsign(std::string_view callsign);

// Every static aircraft goes: active ones are removed from the simulator, creations still queued
// are taken back, those on their way are removed when they arrive.
void removeAllStaticAircraft();
// The aircraft on the user's reserved stand goes: the static one, else a parked live one.
void freeReservedStand();
// Ends static parking at the park airport and closes it.
void clearParkAirport();
// Saves the learned state when something changed and forgets the park airport; an exception of
// the save is logged and the close goes on.
void closeParkAirport();

// The parked-aircraft counts; withAverage also stores the average parked hours in the window.
std::uint64_t updateStaticParkGauge(bool withAverage);
std::uint64_t updateLiveParkGauge(bool withAverage);

// The ten parking controls of the window off while a plan is carried out, and on again.
void disableControlsForStaticParking();
void enableControlsAfterStaticParking();

// The park airport, its list and file state, and the plan back to their start for a new run
// (part of resetTraffic); nothing is saved.
void resetParkingStateForNewRun();

// Tests: the save called by closeParkAirport (empty: saveAirportFile).
void setParkFileSaverForTests(std::function<void()> saver);
