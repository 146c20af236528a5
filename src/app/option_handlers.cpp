#include "app/option_handlers.h"

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "aircraft/livery_db.h"
#include "aircraft/livery_scan.h"
#include "airports/addon_scan.h"
#include "airports/park_stands.h"
#include "app/controls.h"
#include "app/main_loop.h"
#include "app/run_control.h"
#include "app/startup_checks.h"
#include "app/text_boxes.h"
#include "core/geometry.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/utf.h"
#include "links/sim_ids.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "shared_state/main_window.h"
#include "traffic/aircraft_records.h"
#include "traffic/park_airport_file.h"
#include "traffic/park_airports.h"
#include "traffic/traffic_engine.h"

namespace fs = std::filesystem;

std::atomic<bool> g_navLightsPending{false};
std::atomic<bool> g_autoRangePending{false};
std::atomic<bool> g_clearLiveryDbAtRestart{false};

namespace {

// RANGE and the two radius values it sets change together: the window thread and the worker
// both select the radius.
std::mutex g_rangeMutex;

constexpr std::int32_t kScanRestartDelaySeconds = 2;
constexpr std::int32_t kSimulatorRestartDelaySeconds = 3;

// The message when the condition holds, else the message line cleared.
void messageWhen(bool show, std::string_view text) {
  if (show) {
    g_mainWindow.showMessage(text, false);
  } else {
    g_mainWindow.clearMessage();
  }
}

void markParkParamsChangedWhenLoaded() {
  if (g_parkAirportLoaded.load()) g_parkParamsChanged = true;
}

void setAndCheck(CheckBoxParameter& box, bool on) {
  box.set(on);
  saveBoolParameter(box);
  showValueInControl(box);
}

// A scan switched on: at once, by a restart, once RealTraffic has connected; else at the next
// start of the program.
void announceScan(bool on, bool restarts, std::string_view what, std::string_view changedWhat) {
  if (!on) {
    g_mainWindow.clearMessage();
  } else if (restarts) {
    showAndLog(fmt::format("Your {} will be scanned", what));
    endRunWithReason(kvo::kExitNewSettings, kScanRestartDelaySeconds);
  } else {
    g_mainWindow.showMessage(fmt::format("Your {} will be scanned at the next start of {}, recommended after you "
                                         "have add/removed {}",
                                         what, kvo::kProgramName, changedWhat),
                             false);
  }
  g_mainWindow.invalidate(g_panelRect);
}

void onScanLiveries(HWND, bool on) {
  const bool restarts = on && g_scanChangeRestarts.load();
  // The run goes on until it restarts: the data base it uses is cleared between the runs.
  if (restarts) g_clearLiveryDbAtRestart = true;
  announceScan(on, restarts, "liveries", "AI aircraft models/liveries");
}

void onScanAirports(HWND, bool on) {
  announceScan(on, on && g_scanChangeRestarts.load(), "airports", "airports");
}

void onAutoRange(HWND, bool on) {
  g_parkParamsChanged = true;
  enableControl(RANGE.binding, !on);
  enableControl(AR_ABOVE_HEIGHT.binding, on);
  if (on) {
    g_startRange = RANGE.value();
    // The radius follows the user aircraft, which the worker knows: it applies it.
    g_autoRangePending = true;
  } else {
    g_autoRangePending = false;
    selectComboValue(g_startRange.load());
    setTextBoxInt(RANGE);
    g_mainWindow.clearMessage();
  }
}

void onAlwaysOnTop(HWND window, bool on) {
  messageWhen(on, fmt::format("{}'s window will remain visible", kvo::kProgramName));
  SetWindowPos(window, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void onInitialLoadOnly(HWND, bool on) {
  messageWhen(on, "Initial Load Only: static parked aircraft are generated once, no renewal every 20 minutes");
  g_mainWindow.invalidate(g_panelRect);
  markParkParamsChangedWhenLoaded();
}

struct CheckBoxEffect {
  CheckBoxParameter* box;
  void (*effect)(HWND window, bool on);
};

const std::array<CheckBoxEffect, 24>& checkBoxEffects() {
  static const std::array<CheckBoxEffect, 24> table{{
      {&LIG_AUTOMATIC,
       [](HWND, bool on) {
         messageWhen(!on, "The liveries defined by your lfolder parameters will be scanned");
         enableControl(AI_PACKAGE_SELECTOR.binding, on);
       }},
      {&LIG_PRIORITIZE,
       [](HWND, bool on) {
         messageWhen(on, "Liveries, for airl+model, in lower lfolders that are already available will be skipped");
       }},
      {&COLLISION_LIVE_PARKED_GND,
       [](HWND, bool on) {
         messageWhen(!on, "Be aware, no collision avoidance with live aircraft vs parked static on the ground");
       }},
      {&COLLISION_USER_GND,
       [](HWND, bool on) { messageWhen(!on, "Be aware, no collision avoidance with user aircraft on the ground"); }},
      {&COLLISION_USER_AIR,
       [](HWND, bool on) { messageWhen(!on, "Be aware, no collision avoidance with user aircraft in the air"); }},
      {&INITIAL_LOAD_ONLY, onInitialLoadOnly},
      {&ALWAYS_ON_TOP, onAlwaysOnTop},
      {&SUPPRESS_STUB,
       [](HWND, bool on) { messageWhen(on, "Exclude FSLTL-liveries titles ending with _STUB from scan"); }},
      {&GUID_CHANGES,
       [](HWND, bool on) {
         messageWhen(!on, "Be aware, no more livery updates: you miss correct data for Learn, LittleNavMap, etc!");
       }},
      {&AEROWINX,
       [](HWND, bool on) {
         messageWhen(on,
                     fmt::format("Note: This mode is for Aerowinx users only, please re-start {}", kvo::kProgramName));
       }},
      {&AUTO_RANGE, onAutoRange},
      {&SCAN_LIVERIES, onScanLiveries},
      {&SCAN_AIRPORTS, onScanAirports},
      {&PARK_SOFT, [](HWND, bool) { announceResponseDelay(); }},
      {&PARK_FAKE, [](HWND, bool) { announceResponseDelay(); }},
      {&WEEK, [](HWND, bool) { announceResponseDelay(); }},
      // The aircraft belong to the worker: it sends the lights at its next user sample.
      {&NAV_LIGHTS_WHILE_PARKED, [](HWND, bool) { g_navLightsPending = true; }},
      {&LEARN_SOFT, [](HWND, bool) { markParkParamsChangedWhenLoaded(); }},
      {&CALLSIGN_OBJECTIDS, nullptr},
      {&STRAIGHT_PBS_ONLY, nullptr},
      {&LOG, nullptr},
      {&LIGHT_AIRCRAFT, nullptr},
      {&HELICOPTERS, nullptr},
      {&HIGH_PERF_AIRCRAFT, nullptr},
  }};
  return table;
}

// The selected value of an int list, clamped, stored, saved and shown; false when the index is
// no entry of the list.
bool takeListValue(IntComboParameter& list, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.entries().size()) return false;
  list.set(list.entries()[static_cast<std::size_t>(index)]);
  saveIntParameter(list);
  setTextBoxInt(list);
  return true;
}

struct IntListEffect {
  IntComboParameter* list;
  void (*after)(std::int32_t value);
};

const std::array<IntListEffect, 7>& intListEffects() {
  static const std::array<IntListEffect, 7> table{{
      {&MATCHING_DEPTH, nullptr},
      {&MAX_PARK_SEL, [](std::int32_t) { announceResponseDelay(); }},
      {&RANGE,
       [](std::int32_t value) {
         selectComboValue(value);
         g_parkParamsChanged = true;
       }},
      {&AIRP_RANGE, nullptr},
      {&AR_ABOVE_HEIGHT, nullptr},
      {&AIRP_HEIGHT, nullptr},
      {&MAX_LIVE_SEL,
       [](std::int32_t value) {
         if (g_parkAirportLoaded.load()) {
           g_parkParamsChanged = true;
         } else {
           g_savedMaxLive = value;
         }
         requestLiveTrim();  // the worker removes the live aircraft beyond the new maximum
       }},
  }};
  return table;
}

// The position of the first entry of the park airport list, the candidate the choice looks at.
std::optional<kvo::LatLon> firstParkAirportPosition() {
  std::lock_guard lock(g_parkAirportsMutex);
  if (g_parkAirports.empty()) return std::nullopt;
  return kvo::LatLon{g_parkAirports.front().latitude, g_parkAirports.front().longitude};
}

void queueNavLights(bool on) {
  const kvo::ClientEventRequest base{0, kvo::kEventNavLightsSet, on ? 1u : 0u};
  auto queue = [&base](std::uint32_t objectId) {
    kvo::ClientEventRequest event = base;
    event.objectId = objectId;
    queueClientEvent(event);
  };
  for (const auto& aircraft : g_staticAircraft) {
    if (aircraft.state == kvo::AircraftState::Active) queue(aircraft.objectId);
  }
  for (const auto& aircraft : g_liveAircraft) {
    if (aircraft.state == kvo::AircraftState::Active && aircraft.phase == kvo::GroundPhase::Parked) {
      queue(aircraft.objectId);
    }
  }
}

}  // namespace

bool lf_HandleWMCOMMAND(HWND window, WPARAM wParam) {
  try {
    const WORD id = LOWORD(wParam);
    const bool clicked = HIWORD(wParam) == BN_CLICKED;
    if (clicked && handleButtonCommand(window, id)) return true;
    if (clicked && handleCheckBoxCommand(window, id)) return true;
    if (handleComboCommand(window, wParam)) return true;
  } catch (const std::exception& e) {
    reportWindowException("lf_HandleWMCOMMAND", e.what());
  }
  g_mainWindow.invalidate(g_panelRect);
  return false;
}

bool handleButtonCommand(HWND, WORD id) {
  if (id == g_unblockButton.binding.controlId) {
    if (BLOCK_CALLSIGN.empty()) {
      g_mainWindow.showMessage("Nothing to block or unblock...", false);
    } else {
      unblockCallsign();
    }
    return true;
  }
  if (id == g_reReadButton.binding.controlId) {
    g_parkCheckPending = true;
    enableControl(g_reReadButton.binding, false);
    enableControl(DESTINATION.binding, false);
    return true;
  }
  if (id == g_flushStaticButton.binding.controlId) {
    g_mainWindow.showMessage("All static parked aircraft will be removed ...", false);
    g_flushStaticPending = true;
    enableControl(g_flushStaticButton.binding, false);
    return true;
  }
  return false;
}

bool handleCheckBoxCommand(HWND window, WORD id) {
  for (const CheckBoxEffect& entry : checkBoxEffects()) {
    CheckBoxParameter& box = *entry.box;
    if (box.binding.controlId != id) continue;
    const bool on = IsDlgButtonChecked(window, id) != BST_CHECKED;
    CheckDlgButton(window, id, on ? BST_CHECKED : BST_UNCHECKED);
    box.set(on);
    saveBoolParameter(box);
    if (entry.effect != nullptr) entry.effect(window, on);
    return true;
  }
  return false;
}

bool handleComboCommand(HWND window, WPARAM wParam) {
  if (const auto chosen = getComboText(window, SIM_CHOICE.binding.controlId, wParam)) {
    if (chosen->second != SIM_CHOICE.value()) {
      SIM_CHOICE.set(chosen->second);
      saveStringParameter(SIM_CHOICE);
      g_simIs2020 = chosen->second == "MSFS 2020";
      switchSimulator();
    }
    return true;
  }
  if (const auto chosen = getComboText(window, AI_PACKAGE_SELECTOR.binding.controlId, wParam)) {
    if (chosen->second != AI_PACKAGE_SELECTOR.value()) {
      AI_PACKAGE_SELECTOR.set(chosen->second);
      saveStringParameter(AI_PACKAGE_SELECTOR);
      setTextBoxString(AI_PACKAGE_SELECTOR);
    }
    return true;
  }
  for (const IntListEffect& entry : intListEffects()) {
    const auto chosen = getComboText(window, entry.list->binding.controlId, wParam);
    if (!chosen) continue;
    if (takeListValue(*entry.list, chosen->first) && entry.after != nullptr) entry.after(entry.list->value());
    return true;
  }
  return false;
}

std::optional<std::pair<int, std::string>> getComboText(HWND window, WORD id, WPARAM wParam) {
  if (LOWORD(wParam) != id || HIWORD(wParam) != CBN_SELCHANGE) return std::nullopt;
  const HWND list = GetDlgItem(window, id);
  if (list == nullptr) return std::nullopt;
  const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return std::nullopt;
  std::array<WCHAR, 256> buffer{};
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length >= static_cast<LRESULT>(buffer.size())) return std::nullopt;
  const LRESULT copied =
      SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
  if (copied == CB_ERR) return std::nullopt;
  const std::u16string_view entry(buffer.data(), static_cast<std::size_t>(copied));
  return std::pair{static_cast<int>(index), win32::wideToUtf8(entry)};
}

void switchSimulator() {
  const fs::path scanned = scannedLiveriesPath();
  std::error_code ec;
  fs::remove(scanned, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("remove", scanned, ec);
  // The run goes on until it restarts: what it uses is cleared between the runs.
  g_clearLiveryDbAtRestart = true;
  setAndCheck(SCAN_AIRPORTS, true);
  setAndCheck(SCAN_LIVERIES, true);
  showAndLog(fmt::format("Switching Simulator to {}", g_simIs2020.load() ? "MSFS 2020" : "MSFS 2024"));
  ALL_INSTALL_PATH.set("");
  setTextBoxString(ALL_INSTALL_PATH);
  if (!g_simIs2020.load()) setAndSaveStringParameter(MYSIMADDON24_VERSION, "");
  endRunWithReason(kvo::kExitNewSettings, kSimulatorRestartDelaySeconds);
}

std::int32_t kvo::autoRangeFor(bool onGround, double heightAboveGroundFt, std::optional<double> parkAirportDistanceNm) {
  if (onGround) return 10;
  if (heightAboveGroundFt > AR_ABOVE_HEIGHT.value()) return 100;
  if (heightAboveGroundFt > AIRP_HEIGHT.value()) return 40;
  const double d = parkAirportDistanceNm.value_or(10000.0);
  if (d <= 7.0) return 10;
  if (d < 37.0) return roundToRangeStep(static_cast<std::int32_t>(std::lround(d)) + 3);
  return 40;
}

void applyAutoRange() {
  const std::int32_t kept = RANGE.value();
  kvo::UserAircraftData user;
  {
    std::lock_guard lock(g_simQueueMutex);
    user = g_userAircraftSnapshot;
  }
  std::optional<double> distance;
  if (const auto park = firstParkAirportPosition()) distance = distanceNm({user.lat, user.lon}, *park);
  selectComboValue(kvo::autoRangeFor(g_userOnGround.load().value_or(false), user.aglFt, distance));
  if (RANGE.value() != kept) setTextBoxInt(RANGE);
}

void selectComboValue(std::int32_t rangeNm) {
  {
    std::lock_guard lock(g_rangeMutex);
    const std::int32_t range = RANGE.set(rangeNm);
    g_rangeNm = static_cast<double>(range);
    g_rangeMeters = static_cast<double>(range) * 1852.0;
  }
  if (RANGE.indexOf(RANGE.value()) >= 0) showValueInControl(RANGE);
}

void takeWindowRequests() {
  if (g_navLightsPending.exchange(false)) queueNavLights(NAV_LIGHTS_WHILE_PARKED.value());
  if (g_autoRangePending.exchange(false) && AUTO_RANGE.value()) applyAutoRange();
}

void takeDeferredLiveryClear() {
  if (!g_clearLiveryDbAtRestart.exchange(false)) return;
  clearLiveryDb();
  g_scannedLiveriesProcessed = false;
  resetAddonScanState();
}

void resetOptionHandlersForTests() {
  g_navLightsPending = false;
  g_autoRangePending = false;
  g_clearLiveryDbAtRestart = false;
  g_parkParamsChanged = false;
}
