#pragma once
// Small helpers shared by the traffic engine's own files (tick, spawn, results, removal).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string_view>
#include <vector>

#include "core/parameters.h"
#include "links/feed.h"
#include "links/sim_ids.h"
#include "links/sim_queues.h"
#include "traffic/aircraft_records.h"

namespace kvo::engine {

inline constexpr double kRadiansPerDeg = std::numbers::pi / 180.0;
inline constexpr double kFeetPerNm = 6076.11549;

inline TickCount nowTick() { return g_trafficTick.load(std::memory_order_relaxed); }

inline bool endsWithUnderscore(std::string_view text) { return !text.empty() && text.back() == '_'; }
inline bool isRotorcraft(const AircraftBase& ac) { return ac.sizeCategory == Rotorcraft; }
// The record is marked to go: its object is gone or its creation was taken back.
inline bool shouldErase(const StaticAircraft& a) { return a.finished != 0 || a.dropped != 0; }

// The user shows aircraft of the size class (light, fast and rotor aircraft each have a switch).
inline bool categoryEnabled(SizeCategory category) {
  switch (category) {
    case Light:
      return LIGHT_AIRCRAFT.value();
    case HighPerf:
      return HIGH_PERF_AIRCRAFT.value();
    case Rotorcraft:
      return HELICOPTERS.value();
    case Buzjets:
    case Large:
    case Heavy:
      return true;
  }
  return false;
}

template <typename A>
typename std::vector<A>::iterator findByInternalId(std::vector<A>& list, std::uint32_t internalId) {
  return std::find_if(list.begin(), list.end(), [internalId](const A& a) { return a.internalId == internalId; });
}

template <typename A>
typename std::vector<A>::iterator findByObjectId(std::vector<A>& list, std::uint32_t objectId) {
  return std::find_if(list.begin(), list.end(), [objectId](const A& a) { return a.objectId == objectId; });
}

// One client event for the object, sent with the next frame.
inline void sendEvent(std::uint32_t objectId, std::uint32_t eventId, std::uint32_t data) {
  queueClientEvent(ClientEventRequest{objectId, eventId, data});
}

// Degrees into -180..180.
inline double wrap180(double degrees) {
  if (degrees >= -180.0 && degrees <= 180.0) return degrees;
  return std::remainder(degrees, 360.0);
}
// Radians into -pi..pi.
inline double wrapPi(double radians) {
  if (radians >= -std::numbers::pi && radians <= std::numbers::pi) return radians;
  return std::remainder(radians, 2.0 * std::numbers::pi);
}
// Radians into 0..2 pi.
inline double wrap2Pi(double radians) {
  double r = std::fmod(radians, 2.0 * std::numbers::pi);
  if (r < 0.0) r += 2.0 * std::numbers::pi;
  return r;
}

// The number of live aircraft in state active.
inline std::size_t activeLiveCount() {
  return static_cast<std::size_t>(std::count_if(g_liveAircraft.begin(), g_liveAircraft.end(), [](const LiveAircraft& a) {
    return a.state == AircraftState::Active;
  }));
}

}  // namespace kvo::engine
