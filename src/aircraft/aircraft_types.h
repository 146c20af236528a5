#pragma once
// The aircraft types of the data base: half wing spans, size classes and families of related
// types. Filled once by the data base reader (whole tables at once), then read from any thread.
#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "aircraft/size_category.h"

struct AircraftTypeRecord {
  std::string icao;
  double halfSpanNm = 0.0;  // half the wing span, nautical miles
};

// One type as the data base file gives it.
struct AircraftTypeData {
  std::string icao;
  std::string name;
  double spanMetres = 0.0;
  unsigned categoryMask = 0;  // bit n = in the set of SizeCategory n
};

// Half wing span in nm of the type; a type that the data base does not hold gets the value kept
// for its size category.
double getWingspan(std::string_view icaoType);
// Size class from the data base's type sets, tested in the order large, heavy, buzjet,
// rotorcraft, high performance; light when the type is in none.
SizeCategory getSizeCategory(std::string_view icaoType);
bool isKnownType(std::string_view icaoType);
// Largest half wing span (nm) of the data base's types; set when the data base is read.
extern std::atomic<double> g_maxHalfWingSpan;

// Half span kept for each size category, for types the data base does not hold.
double categoryHalfSpanNm(SizeCategory category);

// The set bit of a size-class set name ("large", "heavy", "buzjet", "rotorcraft", "highperf");
// 0 for any other name.
unsigned categoryBitOfSetName(std::string_view setName);

// The other types of the type's family that share its size class, in the family's order; empty
// for a type without a family.
std::vector<std::string> relatedTypes(std::string_view icaoType);
std::size_t aircraftTypeCount();
// Every designator of the table, in no particular order.
std::vector<std::string> knownTypeDesignators();

// Filling and emptying the tables (the data base reader; tests).
void addAircraftType(std::string_view icao, double wingSpanMetres, unsigned categoryMask);
// Replaces types and families together, so no reader sees a half-filled table.
void replaceAircraftTypes(const std::vector<AircraftTypeData>& types,
                          const std::vector<std::vector<std::string>>& families);
void clearAircraftTypes();
