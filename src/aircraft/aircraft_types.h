#pragma once
// The aircraft types of the data base: half wing spans and size classes.
#include <atomic>
#include <string>
#include <string_view>

#include "aircraft/size_category.h"

struct AircraftTypeRecord {
  std::string icao;
  double halfSpanNm = 0.0;  // half the wing span, nautical miles
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

// Filling and emptying the tables (the data base reader; tests).
void addAircraftType(std::string_view icao, double wingSpanMetres, unsigned categoryMask);
void clearAircraftTypes();
