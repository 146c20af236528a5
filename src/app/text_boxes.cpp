#include "app/text_boxes.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>
#include <system_error>

#include "airports/airport_list.h"
#include "airports/park_stands.h"
#include "app/controls.h"
#include "app/main_loop.h"
#include "app/run_control.h"
#include "app/startup_checks.h"
#include "core/log.h"
#include "core/text.h"
#include "shared_state/main_window.h"
#include "traffic/park_airport_file.h"
#include "traffic/park_airports.h"

namespace fs = std::filesystem;

namespace {

enum class NumberRead { Ok, Invalid, OutOfRange };

// The whole text as one number (blanks around it allowed, a leading '+' too); anything else in
// the text makes it invalid.
template <typename T>
NumberRead readNumber(std::string_view text, T& out) {
  text = trimView(text);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, out);
  if (error == std::errc::result_out_of_range) return NumberRead::OutOfRange;
  if (error != std::errc{} || stop != end) return NumberRead::Invalid;
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(out)) return NumberRead::Invalid;
  }
  return NumberRead::Ok;
}

// Characters, not bytes: UTF-8 continuation bytes do not count.
std::size_t characterCount(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// A refused entry: the message says why, the box shows the value in force again.
void refuse(const StringParameter& box, const std::string& why) {
  showAndLog(why);
  setTextBoxString(box);
}

// The typed code (a callsign, an airport) in upper case when its length is valid and it is not
// the value in force already; otherwise the entry is refused.
std::optional<std::string> newCodeOf(const StringParameter& box, std::string_view what, const std::string& typed,
                                     bool lengthValid) {
  if (!lengthValid) {
    refuse(box, fmt::format("{} '{}' is not valid", what, typed));
    return std::nullopt;
  }
  std::string code = toUpperAscii(typed);
  if (code == box.value()) {
    refuse(box, fmt::format("{} '{}' was already set ...", what, code));
    return std::nullopt;
  }
  return code;
}

void showSame(const Parameter& parameter, std::string_view value) {
  showAndLog(fmt::format("Same {} value {}, no changes made", parameter.name(), value));
}

}  // namespace

std::int32_t kvo::maxFitForHours(float hours) {
  const long steps = std::lround(2.0 * static_cast<double>(hours)) - 1;
  return static_cast<std::int32_t>(std::clamp<long>(steps, MAX_FIT.minimum(), MAX_FIT.maximum()));
}

bool lf_processTbInt(EditIntParameter& parameter) {
  const auto typed = readTypedText(parameter);
  if (!typed) return false;
  bool changed = false;
  try {
    std::int32_t value = 0;
    if (trimView(*typed).empty()) {
      if (&parameter == &parking_percentage) {
        parameter.set(0);
      } else {
        parameter.set(parameter.defaultValue());
        saveIntParameter(parameter);
      }
      changed = true;
    } else {
      switch (readNumber(*typed, value)) {
        case NumberRead::Invalid:
          showAndLog(fmt::format("invalid input: {}", *typed));
          break;
        case NumberRead::OutOfRange:
          logArrowLine(fmt::format("{}: {}, h={} ", "lf_processTbInt", "stoi argument out of range", *typed));
          g_mainWindow.showMessage(fmt::format("invalid input: {}", *typed), false);
          break;
        case NumberRead::Ok:
          if (value == parameter.value()) {
            showSame(parameter, std::to_string(value));
          } else {
            parameter.set(value);  // clamped to the limits
            if (&parameter != &parking_percentage) saveIntParameter(parameter);
            changed = true;
          }
          break;
      }
    }
    if (changed) g_mainWindow.showMessage(fmt::format("The new {} is {}", parameter.name(), parameter.value()), false);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: {}, h={} ", "lf_processTbInt", e.what(), *typed));
    changed = false;
  }
  setTextBoxInt(parameter);
  return changed;
}

bool lf_processTbFloat(EditFloatParameter& parameter) {
  const auto typed = readTypedText(parameter);
  if (!typed) return false;
  bool changed = false;
  try {
    double typedHours = 0.0;
    if (trimView(*typed).empty()) {
      parameter.resetToDefault();
      MAX_FIT.resetToDefault();
      saveIntParameter(MAX_FIT);
      changed = true;
    } else if (readNumber(*typed, typedHours) != NumberRead::Ok) {
      logLine(fmt::format("{}: {}, h={}", "lf_processTbFloat", "invalid stof argument", *typed));
      g_mainWindow.showMessage(fmt::format("invalid input: {}", *typed), false);
    } else if (static_cast<float>(typedHours) == parameter.value()) {
      showSame(parameter, fmt::format("{}", parameter.value()));
    } else {
      MAX_FIT.set(kvo::maxFitForHours(parameter.clamp(static_cast<float>(typedHours))));
      saveIntParameter(MAX_FIT);
      parameter.set(static_cast<float>(MAX_FIT.value()) * 0.5f + 0.5f);
      changed = true;
    }
    if (changed) {
      g_mainWindow.showMessage(fmt::format("The new {} is {:.1F}", parameter.name(), parameter.value()), false);
    }
  } catch (const std::exception& e) {
    logLine(fmt::format("{}: {}, h={}", "lf_processTbFloat", e.what(), *typed));
    changed = false;
  }
  setTextBoxFloat(parameter);
  return changed;
}

void announceResponseDelay() {
  if (!g_parkAirportLoaded.load()) return;
  g_parkParamsChanged = true;
  if (INITIAL_LOAD_ONLY.value()) {
    g_mainWindow.clearMessage();
    return;
  }
  const std::int32_t n = g_userSampleCount.load();
  const std::int32_t seconds = 15 * (n / 15 + 1) - n;
  if (seconds > 0) {
    g_mainWindow.showMessage(fmt::format("{} will respond in {} second{} ...", kvo::kProgramName, seconds,
                                         pluralSuffix(seconds)),
                             false);
  }
  g_parkPassPending = true;
}

kvo::SimPathChoice kvo::classifySimPath(const std::string& text) {
  std::string trimmed = text;
  while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
  const fs::path path(trimmed);
  if (!existsOrThrow(path)) return {SimPathKind::Missing, {}};
  // The last component decides: "C:\CommunityGames\MSFS\Community" is the Community folder of
  // "C:\CommunityGames\MSFS".
  const std::size_t cut = trimmed.find_last_of("/\\");
  const std::string_view last = cut == std::string::npos ? std::string_view(trimmed)
                                                         : std::string_view(trimmed).substr(cut + 1);
  if (equalsIgnoreCase(last, "Community") && cut != std::string::npos) {
    const std::string parent = cut == 0 ? trimmed.substr(0, 1) : trimmed.substr(0, cut);
    if (existsOrThrow(fs::path(parent) / "Community")) return {SimPathKind::CommunityFolder, parent};
  }
  if (existsOrThrow(path / "Community")) return {SimPathKind::PackagesFolder, trimmed};
  return {SimPathKind::Other, {}};
}

void lf_newSimPath(StringParameter& installPath, const std::string& text) {
  g_mainWindow.clearError();
  g_mainWindow.clearMessage();
  if (text.empty()) {
    if (!installPath.empty()) setAndSaveStringParameter(installPath, "");
    return;
  }
  const kvo::SimPathChoice choice = kvo::classifySimPath(text);
  switch (choice.kind) {
    case kvo::SimPathKind::Missing:
      showAndLog(fmt::format("This install path does not exist: {}", text));
      setTextBoxString(ALL_INSTALL_PATH);
      return;
    case kvo::SimPathKind::Other:
      showAndLog("This path exists but is not a path to Community ...");
      setTextBoxString(ALL_INSTALL_PATH);
      return;
    case kvo::SimPathKind::PackagesFolder:
    case kvo::SimPathKind::CommunityFolder:
      setAndSaveStringParameter(installPath, choice.stored);
      ALL_INSTALL_PATH.set(choice.stored);
      setTextBoxString(ALL_INSTALL_PATH);
      restartForNewCommunityPath();
      return;
  }
}

void restartForNewCommunityPath() {
  showAndLog(fmt::format("Community path found, {} will restart ...", kvo::kProgramName));
  endRunWithReason(kvo::kExitNewSettings, 3);
}

void processInstallPath() {
  // A new path is the user's repair of a start-up error: the error makes way for the answer.
  g_mainWindow.clearError();
  const auto typed = readTypedText(ALL_INSTALL_PATH);
  if (!typed) return;
  lf_newSimPath(g_simIs2020.load() ? MSFS_INSTALL_PATH : MSFS_2024_INSTALL_PATH, *typed);
}

void processBlockCallsign() {
  g_mainWindow.clearMessage();
  const auto typed = readTypedText(BLOCK_CALLSIGN);
  if (!typed) return;
  if (typed->empty()) {
    if (!BLOCK_CALLSIGN.empty()) unblockCallsign();
    return;
  }
  const std::size_t length = characterCount(*typed);
  const auto callsign = newCodeOf(BLOCK_CALLSIGN, "callsign", *typed, length >= 4 && length <= 8);
  if (!callsign) return;
  setAndSaveStringParameter(BLOCK_CALLSIGN, *callsign);
  setTextBoxString(BLOCK_CALLSIGN);
  enableControl(g_unblockButton.binding, true);
  showAndLog(fmt::format("live aircraft with callsign '{}' will be blocked", *callsign));
  g_blockCallsignPending = true;
}

void unblockCallsign() {
  const std::string former = BLOCK_CALLSIGN.value();
  if (former.empty()) return;
  setAndSaveStringParameter(BLOCK_CALLSIGN, "");
  setTextBoxString(BLOCK_CALLSIGN);
  enableControl(g_unblockButton.binding, false);
  showAndLog(fmt::format("no more blocking of live aircraft '{}'", former));
  g_blockCallsignPending = true;
}

void processDestination() {
  g_mainWindow.clearMessage();
  const auto typed = readTypedText(DESTINATION);
  if (!typed) return;
  if (typed->empty()) {
    DESTINATION.set("");  // saved empty by the closing down
    enableControl(g_reReadButton.binding, true);
    showAndLog("destination set to empty");
    return;
  }
  const auto code = newCodeOf(DESTINATION, "destination", *typed, characterCount(*typed) == 4);
  if (!code) return;
  if (const kvo::Airport* airport = findAirport(*code)) {
    setDestination(*code, {airport->latitude, airport->longitude});
    return;
  }
  refuse(DESTINATION, fmt::format("destination '{}' is unknown ...", *code));
}

void setDestination(std::string_view code, kvo::LatLon position) {
  setAndSaveStringParameter(DESTINATION, std::string(code));
  setTextBoxString(DESTINATION);
  showAndLog(fmt::format("New destination: {}", code));
  addParkAirport(std::string(code), position);
  enableControl(g_reReadButton.binding, false);
}

void processCallsignObjectId() {
  const auto typed = readTypedText(CALLSIGN_2_OBJECTID);
  if (!typed) return;
  if (typed->empty()) {
    if (!CALLSIGN_2_OBJECTID.empty()) {
      CALLSIGN_2_OBJECTID.set("");
      setTextBoxString(CALLSIGN_2_OBJECTID);
    }
    return;
  }
  CALLSIGN_2_OBJECTID.set(toUpperAscii(*typed));  // not saved
  setTextBoxString(CALLSIGN_2_OBJECTID);
  g_callsignLookupPending = true;
}
