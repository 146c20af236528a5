#include "app/startup_checks.h"

#include <fmt/format.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "aircraft/dbase.h"
#include "airports/airport_list.h"
#include "app/controls.h"
#include "app/data_updates.h"
#include "app/main_loop.h"
#include "app/run_control.h"
#include "app/sim_detection.h"
#include "core/files.h"
#include "core/log.h"
#include "core/timeutil.h"
#include "core/user_error.h"
#include "links/udp_reader.h"
#include "shared_state/main_window.h"

namespace fs = std::filesystem;

bool g_dataBaseRead = false;
std::atomic<std::int32_t> g_startRange{0};

namespace {

// The folders of the working folder, in the order they are made.
constexpr const char* kDataFolders[] = {
    "output",           "output/info",          "output/errors",           "airports",
    "airports/learned", "airports/learned/stock", "airports/learned/simaddon", "airports/learned/thirdparty",
    "airports/my_simaddon", "airports/my_thirdparty", "input/my_regcodes"};

StringParameter& chosenInstallPath() { return g_simIs2020.load() ? MSFS_INSTALL_PATH : MSFS_2024_INSTALL_PATH; }

}  // namespace

bool existsOrThrow(const fs::path& path) {
  std::error_code ec;
  const bool found = fs::exists(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("exists", path, ec);
  return found;
}

void stripCommunityFolder(StringParameter& installPath) {
  std::string text = installPath.value();
  constexpr std::string_view kBackslashed = "\\Community";
  constexpr std::string_view kSlashed = "/Community";
  if (text.size() < kBackslashed.size()) return;
  // Only the ending goes: "D:\Community\MSFS\Community" keeps its first "\Community".
  if (text.ends_with(kBackslashed) || text.ends_with(kSlashed)) {
    text.erase(text.size() - kBackslashed.size());
    setAndSaveStringParameter(installPath, text);
  }
}

void prepareDataFolders() {
  for (const char* folder : kDataFolders) {
    const fs::path path(folder);
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("status", path, ec);
    if (!fs::is_directory(status)) {
      fs::create_directories(path, ec);
      if (ec) throw fs::filesystem_error("create_directories", path, ec);
    }
  }
  for (const char* obsolete : {"input/AIG-regcodes0.xml", "input/AIG-regcodes00.xml"}) {
    if (existsOrThrow(obsolete)) {
      std::error_code ec;
      fs::remove(obsolete, ec);
      if (ec) throw fs::filesystem_error("remove", fs::path(obsolete), ec);
    }
  }
}

void applySimulatorChoice() {
  for (CheckBoxParameter* box : {&LOG, &ALWAYS_ON_TOP}) enableControl(box->binding, true);
  enableControl(LEARN_SOFT.binding, false);
  for (CheckBoxParameter* box : {&NAV_LIGHTS_WHILE_PARKED, &GUID_CHANGES, &CALLSIGN_OBJECTIDS, &SCAN_LIVERIES,
                                 &LIG_AUTOMATIC, &LIG_PRIORITIZE, &SCAN_AIRPORTS}) {
    enableControl(box->binding, true);
  }
  enableControl(MATCHING_DEPTH.binding, true);
  fillListControl(MATCHING_DEPTH);
  for (CheckBoxParameter* box : {&LIGHT_AIRCRAFT, &HELICOPTERS, &HIGH_PERF_AIRCRAFT}) enableControl(box->binding, true);
  enableControl(RANGE.binding, !AUTO_RANGE.value());
  fillListControl(RANGE);
  enableControl(AUTO_RANGE.binding, true);
  enableControl(AR_ABOVE_HEIGHT.binding, AUTO_RANGE.value());
  fillListControl(AR_ABOVE_HEIGHT);
  for (CheckBoxParameter* box : {&COLLISION_USER_GND, &COLLISION_USER_AIR, &COLLISION_LIVE_PARKED_GND}) {
    enableControl(box->binding, true);
  }
  enableControl(BLOCK_CALLSIGN.binding, true);
  enableControl(g_unblockButton.binding, !BLOCK_CALLSIGN.empty());
  enableControl(MAX_PARK_SEL.binding, true);
  fillListControl(MAX_PARK_SEL);
  enableControl(MAX_LIVE_SEL.binding, true);
  fillListControl(MAX_LIVE_SEL);
  enableControl(STRAIGHT_PBS_ONLY.binding, true);
  enableControl(CALLSIGN_2_OBJECTID.binding, false);
  fillListControl(AI_PACKAGE_SELECTOR);
  enableControl(AI_PACKAGE_SELECTOR.binding, LIG_AUTOMATIC.value());
  g_simIs2020 = SIM_CHOICE.value() == "MSFS 2020";
  enableControl(SIM_CHOICE.binding, true);
  fillListControl(SIM_CHOICE);
  enableControl(CALLSIGN_OBJECTIDS.binding, g_simIs2020.load());
  enableControl(DESTINATION.binding, false);
  enableControl(AIRP_RANGE.binding, true);
  fillListControl(AIRP_RANGE);
  enableControl(AIRP_HEIGHT.binding, true);
  fillListControl(AIRP_HEIGHT);
  enableControl(g_reReadButton.binding, false);
  for (CheckBoxParameter* box : {&PARK_FAKE, &WEEK, &PARK_SOFT}) enableControl(box->binding, true);
  enableControl(parking_percentage.binding, false);
  parking_percentage.set(30);  // not saved
  clearTextBox(parking_percentage.binding.controlId);
  enableControl(INITIAL_LOAD_ONLY.binding, true);
  MAX_FIT_FL.set(static_cast<float>(MAX_FIT.value()) * 0.5f + 0.5f);  // not saved
  enableControl(MAX_FIT_FL.binding, false);
  clearTextBox(MAX_FIT_FL.binding.controlId);
  enableControl(g_flushStaticButton.binding, false);
}

void runStartupChecks() {
  loadAllParameters();
  g_mainWindow.invalidate(g_statusAreaRect);
  // The edition held before this run's choice of simulator is applied.
  stripCommunityFolder(g_simIs2020.load() ? MSFS_INSTALL_PATH : MSFS_2024_INSTALL_PATH);
  prepareDataFolders();
  g_savedMaxLive = MAX_LIVE_SEL.value();
  if (!g_restarting.load() || versionCheckDueOnRestart()) checkVersions();
  applySimulatorChoice();
  setAndSaveStringParameter(PROGRAM_INSTALL_PATH, fs::current_path().string());
  refreshCurrentWeekSlot();
  if (!g_dataBaseRead) {
    readDbase();
    g_dataBaseRead = true;
  }
  if (!readAirportsFile("airports_msfs.xml")) {
    // Without the airport list no park airport can ever be found: the user must repair it.
    throw kvo::UserErrorException(
        kvo::kNoAirportListErrorCode,
        fmt::format("The airport list input/airports_msfs.xml is missing or empty, please reinstall {}", "Ambrelvane"));
  }
  StringParameter& installPath = chosenInstallPath();
  ALL_INSTALL_PATH.set(installPath.value());
  enableControl(ALL_INSTALL_PATH.binding, true);
  setTextBoxString(ALL_INSTALL_PATH);
  if (ALL_INSTALL_PATH.empty()) {
    const fs::path detected = detectSimulator();
    if (detected.empty()) {
      throw kvo::UserErrorException(
          kvo::kNoInstallPathErrorCode,
          "No install path detected, type full path to your Community folder above, and press Enter");
    }
    setAndSaveStringParameter(installPath, detected.string());
    ALL_INSTALL_PATH.set(detected.string());
    setTextBoxString(ALL_INSTALL_PATH);
  }
  g_mainWindow.invalidate(g_panelRect);
  const fs::path appData = getAppDataPath();
  const bool found = !appData.empty() && existsOrThrow(appData / "InsideSystems" / "RealTraffic.jar");
  g_realTrafficOnThisPc = found;
  g_mainWindow.showMessage(fmt::format("RealTraffic {}detected at this PC", found ? "" : "not "), true);
  g_startRange = RANGE.value();
}

void resetStartupChecksState() {
  g_dataBaseRead = false;
  g_savedMaxLive = 0;
  g_startRange = 0;
}
