#pragma once
// The livery scan: every aircraft.cfg of the installed AI traffic packages is read, each
// [FLTSIM.N] section becomes one livery (title, airline, type, ATC id), and the result is
// written to output\LiveriesScanned.xml with the scan reports in output\info and output\errors.
// The livery data base is then built from that file.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "aircraft/cfg_text.h"
#include "core/parameters.h"

// One scanned livery.
struct LiveryData {
  std::string airline;  // ICAO airline code; empty when the livery names none
  std::string type;     // ICAO type designator
  std::string title;    // the title by which the simulator creates the aircraft
  std::string atcid;    // the registration painted on it; may be empty
  std::uint32_t folderIndex = 0;  // package order: lower wins
  std::uint8_t cargo = 0;

  bool operator==(const LiveryData&) const = default;
};

// The folders that the user names for the scan when LIG_AUTOMATIC is off; the number is the
// folder index (lower wins).
inline constexpr std::size_t kLiveryFolderParameters = 10;
extern StringParameter lfolder0, lfolder1, lfolder2, lfolder3, lfolder4, lfolder5, lfolder6, lfolder7,
    lfolder8, lfolder9;

// The scanned liveries were turned into the livery data base in this process. Cleared by the
// scan switch and the simulator switch so that the next run processes them again.
extern std::atomic<bool> g_scannedLiveriesProcessed;

inline constexpr std::uintmax_t kMaxAircraftCfgBytes = 8u * 1024u * 1024u;

struct LiveryScanSettings {
  std::filesystem::path packagesFolder;  // the simulator's packages folder (ALL_INSTALL_PATH)
  bool automatic = true;                 // LIG_AUTOMATIC: the AI packages in package order
  std::string packageOrder = "AIG, FSLTL, JF";
  bool prioritize = false;    // LIG_PRIORITIZE
  bool suppressStub = true;   // SUPPRESS_STUB
  std::vector<std::string> manualFolders;  // lfolder0.. (index = folder index); empty ones skipped
  std::chrono::milliseconds workerTimeout{10000};
};
LiveryScanSettings liveryScanSettingsFromParameters();

// A folder whose aircraft.cfg files are scanned, with its folder index.
struct LiverySource {
  std::filesystem::path folder;
  std::uint32_t folderIndex = 0;
  std::string label;  // "AIG", "FSLTL", "JF", "user" or "lfolder3"
};
// In automatic mode: the AI traffic packages below Community, Community2024, Official,
// Official2020 and Official2024 (also in their OneStore and Steam sub-folders), each with the
// index of its kind in the package order (AIG, FSLTL, JF; user-aitraffic packages after them).
// Otherwise the lfolder folders (absolute, or relative to the packages folder or its Community
// folder). Sorted by folder index, then path.
std::vector<LiverySource> findLiverySources(const LiveryScanSettings& settings, std::vector<std::string>& notes);

inline constexpr std::size_t kMaxCfgFilesPerPackage = 20000;

// Every aircraft.cfg below the folder (names compared without case), sorted; texture, model,
// panel and sound folders and links are not entered. capped is set when the walk stopped at
// kMaxCfgFilesPerPackage files.
std::vector<std::filesystem::path> findAircraftCfgFiles(const std::filesystem::path& folder, bool& capped);

// What a worker reads from one aircraft.cfg.
struct FltsimEntry {
  int index = 0;
  std::string title;
  std::string airline;       // icao_airline
  std::string parkingCodes;  // atc_parking_codes
  std::string parkingTypes;  // atc_parking_types
  std::string atcid;         // atc_id
  std::string uiVariation;   // ui_variation
  bool hasTitle = false;
};
struct CfgFileScan {
  std::string error;  // not empty: the file could not be read as an aircraft.cfg
  TextEncoding encoding = TextEncoding::Utf8;
  std::string generalType;    // [GENERAL] icao_type_designator
  std::string icaoModel;      // [GENERAL] icao_model
  std::string baseContainer;  // last part of [VARIATION]/[LIVERY] base_container
  std::vector<FltsimEntry> entries;
  std::vector<std::string> notes;
};
CfgFileScan scanAircraftCfgText(std::string_view bytes);
CfgFileScan scanAircraftCfgFile(const std::filesystem::path& path);  // never throws

struct ScanReports {
  // output\errors
  std::vector<std::string> noFltsimSection;     // AircraftCfgWithNoFltsimSection.txt
  std::vector<std::string> invalidAirlines;     // InvalidAirlineCodes.txt
  std::vector<std::string> invalidAircraft;     // InvalidAircraftCodes.txt
  std::vector<std::string> invalidFiles;        // InvalidAircraftCfgFiles.txt
  std::vector<std::string> incompleteSections;  // IncompleFltsimSections.txt
  // output\info
  std::vector<std::string> conversions;      // AirlineModelConversions.txt
  std::vector<std::string> offlineRegcodes;  // OfflineRegcodes.txt
  std::vector<std::string> inlineRegcodes;   // InlineRegcodes.txt
  std::vector<std::string> fixes;            // Fixes.txt
};

struct LiveryScanResult {
  std::vector<LiverySource> sources;
  std::vector<LiveryData> liveries;  // in package order, then file and section order
  ScanReports reports;
  std::size_t files = 0;
  std::size_t timedOut = 0;
  std::size_t cappedFolders = 0;  // folders of which only the first kMaxCfgFilesPerPackage files were read
  bool completed = true;  // false when a stop request ended the scan early
};

// Scans without touching any file of the working folder.
LiveryScanResult runLiveryScan(const LiveryScanSettings& settings);

// The reports, one file each, replaced on every scan.
bool writeScanReports(const std::filesystem::path& outputFolder, const ScanReports& reports);
bool writeScannedLiveries(const std::filesystem::path& file, const LiveryScanResult& result,
                          const LiveryScanSettings& settings);
// The liveries of a LiveriesScanned.xml; false (and out untouched) when the file cannot be read.
bool readScannedLiveries(const std::filesystem::path& file, std::vector<LiveryData>& out);

std::filesystem::path scannedLiveriesPath(const std::filesystem::path& workFolder = {});

// Called by the start-up worker on every run. When SCAN_LIVERIES is on: scans, writes the file
// and the reports, switches SCAN_LIVERIES off (saved, its check box cleared) and builds the
// livery data base; otherwise builds the data base from the file once per process. Returns the
// number of liveries in the data base (0 when none), which the caller shows as the main
// window's livery count. Never throws.
std::uint64_t scanLiveries(const std::filesystem::path& workFolder = {});
