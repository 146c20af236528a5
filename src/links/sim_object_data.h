#pragma once
// The simulator's answers to data requests and its exceptions, handled on the client thread:
// the user aircraft, the pairing of created objects with the program's aircraft, the ground data
// of other aircraft in range, and the results handed to the traffic engine.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "links/sim_messages.h"
#include "links/sim_records.h"

// The user aircraft's object id: 2 until the first position answer; larger ids are AI objects.
extern std::atomic<std::uint32_t> g_userObjectId;
// The user aircraft is on the ground; no value until the first answer with a known position.
extern kvo::AtomicOptionalBool g_userOnGround;
// Raised by every on-ground answer (once a second); the main loop takes it.
extern std::atomic<bool> g_newUserSample;
// The simulator's UTC time in seconds since 1970, kept while RealTraffic is a professional edition.
extern std::atomic<std::int64_t> g_simTime;

// ---- client thread only ---------------------------------------------------------------------
extern std::string g_userStand;  // the park airport's stand at the user's position, or empty
// Aircraft objects announced by "ObjectAdded" and not yet seen in an in-range answer.
extern std::vector<std::uint32_t> g_addedObjectIds;

// ---- the results for the traffic engine ---------------------------------------------------------
extern std::mutex g_simResultsMutex;
extern std::vector<kvo::SimConnectResult> g_simResults;  // under g_simResultsMutex

void onSimObjectData(const kvo::SimObjectDataMessage& message);
void onSimObjectDataByType(const kvo::SimObjectDataMessage& message);
void onSimConnectException(const SimConnectRecvException& exception);
// Object announced or removed by the simulator (aircraft only).
void onSimObjectAdded(std::uint32_t objectId);
void onSimObjectRemoved(std::uint32_t objectId);
// Keeps the user's stand at the park airport as its reserved stand in the park airport list.
void saveUserStand();

// Days since 1970-01-01 of a UTC year and day of the year (1 = 1 January), proleptic Gregorian.
std::int64_t daysSinceEpoch(std::int64_t year, std::int64_t dayOfYear);

// The object-data side of resetSimConnectState.
void resetSimObjectDataState();
