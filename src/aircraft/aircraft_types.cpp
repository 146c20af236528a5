#include "aircraft/aircraft_types.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

std::atomic<double> g_maxHalfWingSpan{0.0};

namespace {

struct TypeEntry {
  double halfSpanNm = 0.0;
  unsigned categoryMask = 0;  // bit n = in the set of SizeCategory n
};

// Read once at start-up, then read from several threads.
std::shared_mutex g_typesMutex;
std::unordered_map<std::string, TypeEntry> g_types;

constexpr double kMetresPerNm = 1852.0;

// Typical spans of each class, used when a type is not in the data base.
constexpr std::array<double, kSizeCategoryCount> kCategorySpanMetres{
    11.0,  // Light
    16.0,  // Buzjets
    36.0,  // Large
    65.0,  // Heavy
    12.0,  // HighPerf
    14.0,  // Rotorcraft (rotor diameter)
};

}  // namespace

double categoryHalfSpanNm(SizeCategory category) {
  return kCategorySpanMetres.at(category) / 2.0 / kMetresPerNm;
}

SizeCategory getSizeCategory(std::string_view icaoType) {
  unsigned mask = 0;
  {
    std::shared_lock lock(g_typesMutex);
    auto it = g_types.find(std::string(icaoType));
    if (it != g_types.end()) mask = it->second.categoryMask;
  }
  for (SizeCategory c : {Large, Heavy, Buzjets, Rotorcraft, HighPerf}) {
    if (mask & (1u << c)) return c;
  }
  return Light;
}

double getWingspan(std::string_view icaoType) {
  {
    std::shared_lock lock(g_typesMutex);
    auto it = g_types.find(std::string(icaoType));
    if (it != g_types.end() && it->second.halfSpanNm > 0.0) return it->second.halfSpanNm;
  }
  return categoryHalfSpanNm(getSizeCategory(icaoType));
}

bool isKnownType(std::string_view icaoType) {
  std::shared_lock lock(g_typesMutex);
  return g_types.contains(std::string(icaoType));
}

void addAircraftType(std::string_view icao, double wingSpanMetres, unsigned categoryMask) {
  const double half = wingSpanMetres / 2.0 / kMetresPerNm;
  std::unique_lock lock(g_typesMutex);
  g_types[std::string(icao)] = TypeEntry{half, categoryMask};
  if (half > g_maxHalfWingSpan.load()) g_maxHalfWingSpan = half;
}

void clearAircraftTypes() {
  std::unique_lock lock(g_typesMutex);
  g_types.clear();
  g_maxHalfWingSpan = 0.0;
}
