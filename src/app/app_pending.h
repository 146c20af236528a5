#pragma once
// What the window's handlers and painting need of parts that are built elsewhere and not yet
// here: each does the least that keeps the window sound until its own code replaces it.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "core/geometry.h"

// The version check of the data files and their download. Here: nothing.
void checkVersions();

// A setting that the park airport's file keeps changed since the file was read (the park
// airport file code saves the file when the park airport is closed).
extern std::atomic<bool> g_parkParamsChanged;

// The position of the first entry of the park airport list (worker only). Here: the park
// airport, while one is set.
std::optional<kvo::LatLon> firstParkAirportPosition();

// The park airport's RealTraffic traffic week (weekdays with learned real uses). Here: 0.
std::uint32_t parkAirportTrafficWeek();

// The airport files the last add-on airport scan copied for offline learning, and the folder
// they went to; nothing when none. Here: none.
struct OfflineLearningCopies {
  std::uint32_t count = 0;
  std::string folder;
};
std::optional<OfflineLearningCopies> offlineLearningCopies();

// The add-on airport scan's state back to its start before a new scan. Here: nothing.
void resetAddonScanState();
