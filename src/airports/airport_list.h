#pragma once
// The world's airports (input\airports_msfs.xml with input\airports_msfs_names.xml) and the
// closest-airport search over them.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/geometry.h"

namespace kvo {

struct Airport {
  std::string icao;
  std::string iata;        // empty when the airport has none
  double latitude = 0.0;   // degrees
  double longitude = 0.0;  // degrees
  double altitude = 0.0;   // elevation, feet
};

}  // namespace kvo

// The airport list, sorted by code, codes unique. Filled by readAirportsFile (or, in tests, by
// setAirportList); the start-up worker fills it once and every thread only reads it afterwards.
extern std::vector<kvo::Airport> g_airports;

// Loads the list from the file (a relative name is taken in the working folder's "input"
// folder) and the names from the file beside it whose name has "_names" after the stem. Once the
// list holds airports, later calls do nothing. True when the list is not empty. Records without
// a usable code or position and repeated codes are skipped with a log line.
bool readAirportsFile(const std::filesystem::path& fileName);

// Replaces the list (sorted and made unique here) and rebuilds the search index; the names are
// kept. For tests and tools.
void setAirportList(std::vector<kvo::Airport> airports);

// Empties the list, the names and the index, so that the next readAirportsFile reads again.
void resetAirportList();

// The airport with exactly this code; nullptr when the list has none.
const kvo::Airport* findAirport(std::string_view code);

// The airport's name from the names file; empty when unknown.
std::string airportName(std::string_view code);

// The code of the closest airport within 5 nm of the position (great circle, the edge
// included); none when no airport is that close or the position is not a number. Of two at the
// same distance the one first in code order wins.
std::optional<std::string> findClosestAirport(kvo::LatLon position);
inline constexpr double kClosestAirportRangeNm = 5.0;

// The code ("?" when empty), followed by " (IATA)" when the airport has an IATA code.
std::string airportLabel(std::string_view code);

// The name with ".xml" appended, as a path.
std::filesystem::path airportXmlPath(std::string_view name);
