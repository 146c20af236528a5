#include "app/startup_checks.h"

#include <fmt/format.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "aircraft/dbase.h"
#include "airports/airport_list.h"
#include "app/app_pending.h"
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
std::int32_t g_startRange = 0;

namespace {

// The folders of the working folder, in the order they are made.
constexpr const char* kDataFolders[] = {
    "output",           "output/info",          "output/errors",           "airports",
    "airports/learned", "airports/learned/stock", "airports/learned/simaddon", "airports/learned/thirdparty",
    "airports/my_simaddon", "airports/my_thirdparty", "input/my_regcodes"};

bool existsOrThrow(const fs::path& path) {
  std::error_code ec;
  const bool found = fs::exists(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("exists", path, ec);
  return found;
}

void enable(const ControlBinding& binding, bool on) {
  if (binding.hwnd != nullptr) EnableWindow(binding.hwnd, on ? TRUE : FALSE);
}

void emptyBox(const ControlBinding& binding) {
  if (binding.hwnd != nullptr) SetWindowTextW(binding.hwnd, u"");
}

StringParameter& chosenInstallPath() { return g_simIs2020.load() ? MSFS_INSTALL_PATH : MSFS_2024_INSTALL_PATH; }

}  // namespace

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
  for (CheckBoxParameter* box : {&LOG, &ALWAYS_ON_TOP}) enable(box->binding, true);
  enable(LEARN_SOFT.binding, false);
  for (CheckBoxParameter* box : {&NAV_LIGHTS_WHILE_PARKED, &GUID_CHANGES, &CALLSIGN_OBJECTIDS, &SCAN_LIVERIES,
                                 &LIG_AUTOMATIC, &LIG_PRIORITIZE, &SCAN_AIRPORTS}) {
    enable(box->binding, true);
  }
  enable(MATCHING_DEPTH.binding, true);
  fillIntCombo(MATCHING_DEPTH);
  for (CheckBoxParameter* box : {&LIGHT_AIRCRAFT, &HELICOPTERS, &HIGH_PERF_AIRCRAFT}) enable(box->binding, true);
  enable(RANGE.binding, !AUTO_RANGE.value());
  fillIntCombo(RANGE);
  enable(AUTO_RANGE.binding, true);
  enable(AR_ABOVE_HEIGHT.binding, AUTO_RANGE.value());
  fillIntCombo(AR_ABOVE_HEIGHT);
  for (CheckBoxParameter* box : {&COLLISION_USER_GND, &COLLISION_USER_AIR, &COLLISION_LIVE_PARKED_GND}) {
    enable(box->binding, true);
  }
  enable(BLOCK_CALLSIGN.binding, true);
  enable(g_unblockButton.binding, !BLOCK_CALLSIGN.empty());
  enable(MAX_PARK_SEL.binding, true);
  fillIntCombo(MAX_PARK_SEL);
  enable(MAX_LIVE_SEL.binding, true);
  fillIntCombo(MAX_LIVE_SEL);
  enable(STRAIGHT_PBS_ONLY.binding, true);
  enable(CALLSIGN_2_OBJECTID.binding, false);
  fillStringCombo(AI_PACKAGE_SELECTOR);
  enable(AI_PACKAGE_SELECTOR.binding, LIG_AUTOMATIC.value());
  g_simIs2020 = SIM_CHOICE.value() == "MSFS 2020";
  enable(SIM_CHOICE.binding, true);
  fillStringCombo(SIM_CHOICE);
  enable(CALLSIGN_OBJECTIDS.binding, g_simIs2020.load());
  enable(DESTINATION.binding, false);
  enable(AIRP_RANGE.binding, true);
  fillIntCombo(AIRP_RANGE);
  enable(AIRP_HEIGHT.binding, true);
  fillIntCombo(AIRP_HEIGHT);
  enable(g_reReadButton.binding, false);
  for (CheckBoxParameter* box : {&PARK_FAKE, &WEEK, &PARK_SOFT}) enable(box->binding, true);
  enable(parking_percentage.binding, false);
  parking_percentage.set(30);  // not saved
  emptyBox(parking_percentage.binding);
  enable(INITIAL_LOAD_ONLY.binding, true);
  MAX_FIT_FL.set(static_cast<float>(MAX_FIT.value()) * 0.5f + 0.5f);  // not saved
  enable(MAX_FIT_FL.binding, false);
  emptyBox(MAX_FIT_FL.binding);
  enable(g_flushStaticButton.binding, false);
}

void runStartupChecks() {
  loadAllParameters();
  g_mainWindow.invalidate(g_statusAreaRect);
  // The edition held before this run's choice is applied (step 6).
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
  enable(ALL_INSTALL_PATH.binding, true);
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
