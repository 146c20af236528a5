#pragma once
// The park airport of the benchmarks: EDXX at the user's position (50 N, 8 E), its stands in rows
// of 25, 60 m apart, from 0.01 degrees south of the user.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "airports/park_stands.h"
#include "traffic/park_airports.h"
#include "traffic/stand_search.h"

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

}  // namespace benchpark
