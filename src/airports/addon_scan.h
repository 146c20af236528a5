#pragma once
// The add-on airport scan: the BGL files of the simulator's Community packages are read for
// their airports, and every add-on airport with parking stands or helipads gets an airport file
// in airports\my_thirdparty\<ICAO>\<ICAO>.xml with the package's publisher from its
// manifest.json, which the airport-file search then finds before the stock file. What was found
// and what could not be read goes to output\AirportsScanLog.txt (docs/addon-airports.md).
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "airports/stand.h"

namespace kvo {

// A helipad the last scan found.
struct HelipadPosition {
  std::string icao;
  double latitude = 0.0;
  double longitude = 0.0;
  double heading = 0.0;
  double radius = 0.0;  // nautical miles: half the larger of length and width
};

// The publisher of a package from its manifest.json: "creator", else "manufacturer", else
// "unknown". problem is not empty when the manifest is missing or unreadable.
struct PackageInfo {
  std::string title;
  std::string manufacturer;
  std::string creator;
  std::string publisher;
  std::string problem;
};

struct AddonScanSettings {
  std::filesystem::path packagesFolder;  // ALL_INSTALL_PATH
  std::filesystem::path reportFile = "output/AirportsScanLog.txt";
  std::chrono::milliseconds workerTimeout{10000};
};

struct AddonScanResult {
  std::size_t packages = 0;      // Community packages looked at
  std::size_t bglFiles = 0;      // BGL files read
  std::size_t airportFiles = 0;  // airport files written
  std::size_t offlineCopies = 0; // of them copied into the offline-learning folder
  std::size_t helipads = 0;      // usable helipads found (also of airports not written)
  std::size_t problems = 0;      // report lines about things that could not be read or written
  std::size_t cappedPackages = 0;  // packages of which only the first BGL files were read
  std::vector<std::string> report;
  std::vector<HelipadPosition> helipadPositions;
  // False when a stop request ended the scan: no report then, and only some (whole) files.
  bool completed = true;
};

}  // namespace kvo

// The result flag: the last scan ran to its end. Cleared by the simulator switch.
extern std::atomic<bool> g_addonScanCompleted;
// One more than the number of helipads found by the last scan (1 before any scan).
extern std::atomic<std::uint32_t> g_helipadCounter;
// The helipads of the last scan, in package, file and record order; use under the mutex.
extern std::vector<kvo::HelipadPosition> g_helipadPositions;
extern std::mutex g_helipadPositionsMutex;
// The offline-learning folder "TBLO" of the working folder: when it exists, every airport file
// the scan writes is copied into it as <ICAO>.xml. The count of the last scan's copies is shown
// in the option panel while it is not 0.
extern std::filesystem::path g_offlineLearningFolder;
extern std::atomic<std::uint32_t> g_offlineLearningFileCount;

// The package's title, makers and publisher from manifest.json (never throws).
kvo::PackageInfo gf_searchManifest(const std::filesystem::path& packageFolder);

// The parking name code, number and suffix as the stand's id: GATE_A 12 -> "A12", GATE 3 ->
// "G3", PARKING 7 -> "P7", N_PARKING 2 -> "PN2", DOCK 1 -> "D1", NONE 5 -> "5", a suffix letter
// appended ("A12B").
std::string standNameOf(std::uint8_t nameCode, std::uint16_t number, std::uint8_t suffix);

// Scans and writes; the report lines are also written to settings.reportFile.
kvo::AddonScanResult runAddonAirportScan(const kvo::AddonScanSettings& settings);

// Called by the start-up worker while SCAN_AIRPORTS is on: scans the packages of ALL_INSTALL_PATH,
// fills the globals above and, when the scan ran to its end, switches SCAN_AIRPORTS off (saved,
// its check box cleared). Never throws.
void scanAddonAirports();

// The state the simulator switch resets (and each scan starts from): result flag cleared,
// helipad counter 1, helipad list emptied, no copies counted.
void resetAddonScanState();
