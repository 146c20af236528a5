#include "aircraft/aircraft_types.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <unordered_map>

std::atomic<double> g_maxHalfWingSpan{0.0};

namespace {

struct TypeEntry {
  double halfSpanNm = 0.0;
  unsigned categoryMask = 0;  // bit n = in the set of SizeCategory n
  int family = -1;            // index into g_families
};

// Read once at start-up, then read from several threads.
std::shared_mutex g_typesMutex;
std::unordered_map<std::string, TypeEntry> g_types;
std::vector<std::vector<std::string>> g_families;

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

SizeCategory categoryOfMask(unsigned mask) {
  for (SizeCategory c : {Large, Heavy, Buzjets, Rotorcraft, HighPerf}) {
    if (mask & (1u << c)) return c;
  }
  return Light;
}

}  // namespace

std::string_view kvo::sizeCategoryText(SizeCategory category) {
  static constexpr std::array<std::string_view, kSizeCategoryCount> kTexts{"Light", "Buzjets", "Large",
                                                                           "Heavy", "HighPerf", "Rotorcraft"};
  // The message the table lookups have always thrown with.
  if (category >= kTexts.size()) throw std::out_of_range("invalid unordered_map<K, T> key");
  return kTexts[category];
}

double categoryHalfSpanNm(SizeCategory category) {
  return kCategorySpanMetres.at(category) / 2.0 / kMetresPerNm;
}

unsigned categoryBitOfSetName(std::string_view setName) {
  if (setName == "large") return 1u << Large;
  if (setName == "heavy") return 1u << Heavy;
  if (setName == "buzjet") return 1u << Buzjets;
  if (setName == "rotorcraft") return 1u << Rotorcraft;
  if (setName == "highperf") return 1u << HighPerf;
  return 0;
}

SizeCategory getSizeCategory(std::string_view icaoType) {
  unsigned mask = 0;
  {
    std::shared_lock lock(g_typesMutex);
    auto it = g_types.find(std::string(icaoType));
    if (it != g_types.end()) mask = it->second.categoryMask;
  }
  return categoryOfMask(mask);
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

std::vector<std::string> relatedTypes(std::string_view icaoType) {
  std::shared_lock lock(g_typesMutex);
  auto it = g_types.find(std::string(icaoType));
  if (it == g_types.end() || it->second.family < 0) return {};
  const SizeCategory own = categoryOfMask(it->second.categoryMask);
  std::vector<std::string> out;
  for (const std::string& other : g_families[static_cast<std::size_t>(it->second.family)]) {
    if (other == icaoType) continue;
    auto o = g_types.find(other);
    if (o != g_types.end() && categoryOfMask(o->second.categoryMask) == own) out.push_back(other);
  }
  return out;
}

std::size_t aircraftTypeCount() {
  std::shared_lock lock(g_typesMutex);
  return g_types.size();
}

std::vector<std::string> knownTypeDesignators() {
  std::shared_lock lock(g_typesMutex);
  std::vector<std::string> out;
  out.reserve(g_types.size());
  for (const auto& [icao, entry] : g_types) out.push_back(icao);
  return out;
}

void addAircraftType(std::string_view icao, double wingSpanMetres, unsigned categoryMask) {
  const double half = wingSpanMetres / 2.0 / kMetresPerNm;
  std::unique_lock lock(g_typesMutex);
  TypeEntry& entry = g_types[std::string(icao)];
  entry.halfSpanNm = half;
  entry.categoryMask = categoryMask;
  if (half > g_maxHalfWingSpan.load()) g_maxHalfWingSpan = half;
}

void replaceAircraftTypes(const std::vector<AircraftTypeData>& types,
                          const std::vector<std::vector<std::string>>& families) {
  std::unordered_map<std::string, TypeEntry> table;
  table.reserve(types.size());
  double maxHalf = 0.0;
  for (const AircraftTypeData& t : types) {
    const double half = t.spanMetres / 2.0 / kMetresPerNm;
    table[t.icao] = TypeEntry{half, t.categoryMask, -1};
    maxHalf = std::max(maxHalf, half);
  }
  std::vector<std::vector<std::string>> kept;
  for (const auto& family : families) {
    std::vector<std::string> members;
    for (const std::string& type : family) {
      auto it = table.find(type);
      // A type belongs to one family only; an unknown type cannot be matched anyway.
      if (it == table.end() || it->second.family >= 0) continue;
      it->second.family = static_cast<int>(kept.size());
      members.push_back(type);
    }
    if (!members.empty()) kept.push_back(std::move(members));
  }
  std::unique_lock lock(g_typesMutex);
  g_types.swap(table);
  g_families.swap(kept);
  g_maxHalfWingSpan = maxHalf;
}

void clearAircraftTypes() {
  std::unique_lock lock(g_typesMutex);
  g_types.clear();
  g_families.clear();
  g_maxHalfWingSpan = 0.0;
}
