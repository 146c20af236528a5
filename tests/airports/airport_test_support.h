#pragma once
// Helpers of the airport tests: records with every field set, file texts, field-by-field checks.
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "airports/airport_file.h"
#include "airports/stand.h"

namespace airporttest {

inline kvo::StandUse makeUse(std::string airline, std::string type, std::string key, std::string callsign,
                             std::string second, std::uint64_t halfHours, std::uint32_t weekday,
                             std::uint32_t optionId, std::uint32_t fixed, std::uint32_t real) {
  kvo::StandUse u;
  u.airline = std::move(airline);
  u.type = std::move(type);
  u.key = std::move(key);
  u.callsign = std::move(callsign);
  u.secondCallsign = std::move(second);
  u.halfHours = halfHours;
  u.weekday = weekday;
  u.optionId = optionId;
  u.fixed = fixed;
  u.real = real;
  return u;
}

inline kvo::Stand makeStand(std::uint32_t id, std::string name, double lat, double lon, double radiusMetres) {
  kvo::Stand s;
  s.id = id;
  s.name = std::move(name);
  s.latitude = lat;
  s.longitude = lon;
  s.radius = radiusMetres / kvo::kMetresPerNm;
  return s;
}

// The XML of an airport file around the given "parkpositions" content.
inline std::string airportFileText(const std::string& parkpositions, const std::string& parameters = "") {
  return fmt::format(
      "<?xml version=\"1.0\"?>\n<airport icao=\"ZZTS\"><meta><info name=\"author\" value=\"x\"/></meta>"
      "<parameters>{}</parameters><parkpositions>{}</parkpositions></airport>\n",
      parameters, parkpositions);
}

inline std::string parkpos(const std::string& id, double lat, double lon, double radiusMetres,
                           const std::string& extra = "", const std::string& uses = "") {
  return fmt::format("<parkpos id=\"{}\" lat=\"{}\" lon=\"{}\" radius=\"{}\" {}>{}</parkpos>", id, lat, lon,
                     radiusMetres, extra, uses);
}

inline void expectSameUse(const kvo::StandUse& a, const kvo::StandUse& b) {
  EXPECT_EQ(a.airline, b.airline);
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(a.key, b.key);
  EXPECT_EQ(a.callsign, b.callsign);
  EXPECT_EQ(a.secondCallsign, b.secondCallsign);
  EXPECT_EQ(a.halfHours, b.halfHours);
  EXPECT_EQ(a.optionId, b.optionId);
  EXPECT_EQ(a.weekday, b.weekday);
  EXPECT_EQ(a.fixed, b.fixed);
  EXPECT_EQ(a.real, b.real);
}

// Every field that the file stores (not the bookings and run-time marks).
inline void expectSameStand(const kvo::Stand& a, const kvo::Stand& b) {
  SCOPED_TRACE("stand " + a.name);
  EXPECT_EQ(a.id, b.id);
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.latitude, b.latitude);
  EXPECT_EQ(a.longitude, b.longitude);
  EXPECT_EQ(a.heading, b.heading);
  EXPECT_EQ(a.radius, b.radius);
  EXPECT_EQ(a.adjacentIds, b.adjacentIds);
  EXPECT_EQ(a.manual, b.manual);
  EXPECT_EQ(a.radius_change, b.radius_change);
  EXPECT_EQ(a.cargo_change, b.cargo_change);
  EXPECT_EQ(a.cargo, b.cargo);
  EXPECT_EQ(a.ramp, b.ramp);
  EXPECT_EQ(a.heli, b.heli);
  ASSERT_EQ(a.uses.size(), b.uses.size());
  for (std::size_t i = 0; i < a.uses.size(); ++i) expectSameUse(a.uses[i], b.uses[i]);
}

inline std::vector<std::string> standNames(const std::vector<kvo::Stand>& stands) {
  std::vector<std::string> names;
  for (const auto& s : stands) names.push_back(s.name);
  return names;
}

}  // namespace airporttest
