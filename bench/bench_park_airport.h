#pragma once
// The world of the tick benchmarks: the park airport EDXX at the user's position (50 N, 8 E), its
// stands in rows of 25, 60 m apart, from 0.01 degrees south of the user; the A320neo of Lufthansa
// with its livery; the stand-in simulator connected with the user aloft there.
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "aircraft/aircraft_types.h"
#include "aircraft/livery_db.h"
#include "airports/park_stands.h"
#include "core/parameters.h"
#include "links/feed.h"
#include "links/sim_client.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"
#include "traffic/park_airports.h"
#include "traffic/stand_search.h"
#include "traffic/traffic_engine.h"

namespace benchpark {

inline constexpr double kUserLat = 50.0;
inline constexpr double kUserLon = 8.0;
inline constexpr double kMetreLat = 1.0 / 111132.95;
inline constexpr double kMetreLon = kMetreLat / 0.6427876;  // at 50 N
inline constexpr int kStandsPerRow = 25;

// Stand i (from 0) of the grid, heading east, without a radius or uses.
inline kvo::Stand gridStand(int i) {
  kvo::Stand s;
  s.id = static_cast<std::uint32_t>(i + 1);
  s.name = std::to_string(i + 1);
  s.latitude = kUserLat - 0.01 - (i / kStandsPerRow) * 60.0 * kMetreLat;
  s.longitude = kUserLon + (i % kStandsPerRow) * 60.0 * kMetreLon;
  s.heading = 90.0;
  return s;
}

// The stands become the park airport's.
inline void installParkAirport(std::vector<kvo::Stand> stands) {
  g_parkAirport = "EDXX";
  g_parkAirportLat = kUserLat;
  g_parkAirportLon = kUserLon;
  g_parkStands = std::move(stands);
  parkStandsChanged();
}

// The parameters at their defaults, no log, no shuffling; the A320neo and one livery of it.
inline void setUpAircraft() {
  resetParametersForTests();
  LOG.set(false);
  RANDOM.set(false);
  clearAircraftTypes();
  addAircraftType("A20N", 35.8, 1u << Large);
  buildLiveryDb({LiveryData{"DLH", "A20N", "Airbus A320neo DLH", "", 0, 0}});
}

// The stand-in simulator connected; the user at 30000 ft over the park airport, traffic out to 50 nm.
inline void connectUserAloft() {
  kvo::simtest::reset();
  kvo::simtest::setPresent(true);
  HANDLE handle = nullptr;
  SimConnect_Open(&handle, kvo::kSimClientName, nullptr, 0, nullptr, 0);
  g_simConnect = handle;
  defineSimConnectData();
  reserveSimConnectQueues();
  g_rangeMeters = 50.0 * 1852.0;
  {
    std::lock_guard lock(g_simQueueMutex);
    g_userAircraftSnapshot.lat = kUserLat;
    g_userAircraftSnapshot.lon = kUserLon;
    g_userAircraftSnapshot.altFt = 30000.0;
  }
  g_userOnGround.store(false);
}

// The engine, the feed and the simulator's queues empty for a new round.
inline void clearEngine() {
  resetTrafficEngineForTests();
  resetTrafficFeedForTests();
  kvo::simtest::clearCalls();
  std::lock_guard lock(g_simQueueMutex);
  g_clientEventQueue.clear();
  g_createQueue.clear();
  g_simRemoveQueue.clear();
}

// After the last round: nothing left for the next benchmark.
inline void tearDownEngine() {
  resetTrafficEngineForTests();
  resetTrafficFeedForTests();
  kvo::simtest::reset();
}

}  // namespace benchpark
