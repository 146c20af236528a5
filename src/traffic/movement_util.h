#pragma once
// Small helpers shared by the movement files (airborne, ground, landing). Not for other callers.
#include <cmath>
#include <cstdint>
#include <numbers>

#include "airports/park_stands.h"
#include "links/feed.h"
#include "traffic/aircraft_records.h"
#include "traffic/park_airports.h"

namespace kvo::mv {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kTwoPi = 2.0 * std::numbers::pi;
inline constexpr double kDeg = std::numbers::pi / 180.0;  // one degree in radians
inline constexpr double kFeetPerNm = 6076.11549;
inline constexpr double kMetresPerNm = 1852.0;
inline constexpr double kSameSpotDeg = 1e-8;  // positions this close count as the same spot
inline constexpr double kPushBackStandsKt = 0.5;  // a line of the feed's push-back this slow stands
// How far a scattering feed puts a standing aircraft's place off where it stands, in its scatter
// (the stand's leave watch, the stand search after a stop).
inline constexpr double kStandingScatters = 2.5;
// A helicopter turns on the spot before it moves off farther than this from its nose.
inline constexpr double kTurnOnTheSpotRad = 45.0 * kDeg;

// Into -pi..pi.
inline double wrapPi(double a) {
  if (a >= -kPi && a <= kPi) return a;
  a = std::remainder(a, kTwoPi);
  return a;
}
// Into 0..2 pi.
inline double wrap2Pi(double a) {
  if (a >= 0.0 && a < kTwoPi) return a;
  a = std::fmod(a, kTwoPi);
  if (a < 0.0) a += kTwoPi;
  return a;
}
// Degrees into -180..180.
inline double wrap180(double d) {
  if (d >= -180.0 && d <= 180.0) return d;
  return std::remainder(d, 360.0);
}

inline bool sameSpot(double lat1, double lon1, double lat2, double lon2) {
  return std::abs(lat1 - lat2) <= kSameSpotDeg && std::abs(lon1 - lon2) <= kSameSpotDeg;
}
inline bool sameSpot(const TrackPoint& a, const TrackPoint& b) { return sameSpot(a.lat, a.lon, b.lat, b.lon); }

inline double pointDistanceNm(const TrackPoint& a, const TrackPoint& b) { return distanceNm(a.lat, a.lon, b.lat, b.lon); }
inline double distanceFromAircraftNm(const LiveAircraft& ac, const TrackPoint& p) {
  return distanceNm(ac.position.lat, ac.position.lon, p.lat, p.lon);
}

inline TickCount nowTick() { return g_trafficTick.load(std::memory_order_relaxed); }
inline bool isRotorcraft(const AircraftBase& ac) { return ac.sizeCategory == Rotorcraft; }
// A helicopter has no roll rules: it keeps the landing roll's configuration from its touchdown
// (it idles, spoilers in), but no point of its contradicts a roll and none behind it is dropped
// (it comes down from any way and may move off any way, back along its approach too), and its
// points do not run on where they end (it waits where it set down, as a taxiing aircraft does).
inline bool hasRollRules(const AircraftBase& ac) { return !isRotorcraft(ac); }
inline bool parkAirportSet() { return !g_parkAirport.empty(); }

// The park airport's stand with this id; nullptr when there is none.
inline Stand* findParkStand(std::uint32_t standId) {
  if (standId == 0) return nullptr;
  for (Stand& s : g_parkStands) {
    if (s.id == standId) return &s;
  }
  return nullptr;
}

}  // namespace kvo::mv
