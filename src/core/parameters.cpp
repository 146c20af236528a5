// The parameter kinds, the program's settings with their defaults, limits, lists and controls,
// and the list helpers. The store parameters.xml is in parameters_store.cpp.
#include "core/parameters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

#include "core/log.h"
#include "core/text.h"
#include "core/utf.h"

namespace {

// A mistake in the table below must show at once, not as a strange value at run time.
void requireDefinition(bool ok, std::string_view name, std::string_view what) {
  if (!ok) throw std::invalid_argument(fmt::format("parameter {}: {}", name, what));
}

// A decimal integer with optional blanks around it and an optional sign. A number too large
// for 64 bits saturates, so that clamping still gives the nearest limit.
std::optional<std::int64_t> parseInteger(std::string_view text) {
  text = trimView(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (end != text.data() + text.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    return text.front() == '-' ? std::numeric_limits<std::int64_t>::min()
                               : std::numeric_limits<std::int64_t>::max();
  }
  if (ec != std::errc()) return std::nullopt;
  return v;
}

std::optional<float> parseFloat(std::string_view text) {
  text = trimView(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  float v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (end != text.data() + text.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    // Too large a magnitude saturates like the integers; too small a one is as good as 0.
    const double d = std::strtod(std::string(text).c_str(), nullptr);
    if (std::abs(d) < 1.0) return 0.0f;
    return d < 0 ? -std::numeric_limits<float>::max() : std::numeric_limits<float>::max();
  }
  if (ec != std::errc() || !std::isfinite(v)) return std::nullopt;
  return v;
}

// Blanks removed, letters in upper case: "aig,fsltl, jf" matches "AIG, FSLTL, JF".
std::string comboKey(std::string_view text) {
  std::string key;
  for (char c : text) {
    if (c != ' ' && c != '\t') key.push_back(c);
  }
  return toUpperAscii(key);
}

}  // namespace

// ---- kinds ---------------------------------------------------------------------------------

BoolParameter::BoolParameter(std::string_view name, bool defaultValue)
    : Parameter(name), default_(defaultValue), value_(defaultValue) {}

std::string BoolParameter::storedText() const { return value() ? "true" : "false"; }

LoadOutcome BoolParameter::takeStoredText(std::string_view text) {
  if (text == "true" || text == "false") {
    set(text == "true");
    return LoadOutcome::Taken;
  }
  const std::string_view trimmed = trimView(text);
  if (equalsIgnoreCase(trimmed, "true") || equalsIgnoreCase(trimmed, "false")) {
    set(equalsIgnoreCase(trimmed, "true"));
    return LoadOutcome::Adjusted;
  }
  return LoadOutcome::Unreadable;
}

IntParameter::IntParameter(std::string_view name, std::int32_t defaultValue, std::int32_t minimum,
                           std::int32_t maximum)
    : Parameter(name), default_(defaultValue), minimum_(minimum), maximum_(maximum),
      value_(defaultValue) {
  requireDefinition(minimum <= maximum, name, "minimum above maximum");
  requireDefinition(minimum <= defaultValue && defaultValue <= maximum, name,
                    "default outside the limits");
}

std::int32_t IntParameter::clamp(std::int32_t v) const noexcept {
  return std::clamp(v, minimum_, maximum_);
}

std::int32_t IntParameter::set(std::int32_t v) noexcept {
  const std::int32_t clamped = clamp(v);
  value_.store(clamped);
  return clamped;
}

std::int32_t IntParameter::fitStoredValue(std::int64_t v) const noexcept {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(v, minimum_, maximum_));
}

std::string IntParameter::storedText() const { return std::to_string(value()); }

LoadOutcome IntParameter::takeStoredText(std::string_view text) {
  const auto parsed = parseInteger(text);
  if (!parsed) return LoadOutcome::Unreadable;
  const std::int32_t fitted = fitStoredValue(*parsed);
  value_.store(fitted);
  return fitted == *parsed ? LoadOutcome::Taken : LoadOutcome::Adjusted;
}

FloatParameter::FloatParameter(std::string_view name, float defaultValue, float minimum,
                               float maximum)
    : Parameter(name), default_(defaultValue), minimum_(minimum), maximum_(maximum),
      value_(defaultValue) {
  requireDefinition(minimum <= maximum, name, "minimum above maximum");
  requireDefinition(minimum <= defaultValue && defaultValue <= maximum, name,
                    "default outside the limits");
}

float FloatParameter::clamp(float v) const noexcept {
  if (std::isnan(v)) return default_;
  return std::clamp(v, minimum_, maximum_);
}

float FloatParameter::set(float v) noexcept {
  const float clamped = clamp(v);
  value_.store(clamped);
  return clamped;
}

std::string FloatParameter::storedText() const { return fmt::format("{}", value()); }

LoadOutcome FloatParameter::takeStoredText(std::string_view text) {
  const auto parsed = parseFloat(text);
  if (!parsed) return LoadOutcome::Unreadable;
  const float fitted = set(*parsed);
  return fitted == *parsed ? LoadOutcome::Taken : LoadOutcome::Adjusted;
}

StringParameter::StringParameter(std::string_view name, std::string_view defaultValue)
    : Parameter(name), default_(defaultValue), value_(defaultValue) {}

std::string StringParameter::value() const {
  std::lock_guard lock(mutex_);
  return value_;
}

void StringParameter::set(std::string v) {
  std::lock_guard lock(mutex_);
  value_ = std::move(v);
}

bool StringParameter::empty() const {
  std::lock_guard lock(mutex_);
  return value_.empty();
}

LoadOutcome StringParameter::takeStoredText(std::string_view text) {
  // A value that is not clean text (a hand-edited file) is refused like any other outside text:
  // the value in force stays.
  if (!kvo::isCleanText(text)) return LoadOutcome::Unreadable;
  std::string fitted = fitStoredValue(text);
  const bool same = fitted == text;
  set(std::move(fitted));
  return same ? LoadOutcome::Taken : LoadOutcome::Adjusted;
}

CheckBoxParameter::CheckBoxParameter(std::string_view name, bool defaultValue,
                                     std::uint16_t controlId, std::int32_t row)
    : BoolParameter(name, defaultValue), binding{controlId, row} {}

EditIntParameter::EditIntParameter(std::string_view name, std::int32_t defaultValue,
                                   std::int32_t minimum, std::int32_t maximum,
                                   std::uint16_t controlId, std::int32_t row)
    : IntParameter(name, defaultValue, minimum, maximum), binding{controlId, row} {}

EditFloatParameter::EditFloatParameter(std::string_view name, float defaultValue, float minimum,
                                       float maximum, std::uint16_t controlId, std::int32_t row)
    : FloatParameter(name, defaultValue, minimum, maximum), binding{controlId, row} {}

EditStringParameter::EditStringParameter(std::string_view name, std::string_view defaultValue,
                                         std::uint16_t controlId, std::int32_t row)
    : StringParameter(name, defaultValue), binding{controlId, row} {}

IntComboParameter::IntComboParameter(std::string_view name, std::int32_t defaultValue,
                                     std::int32_t minimum, std::int32_t maximum,
                                     std::vector<std::int32_t> entries, std::uint16_t controlId,
                                     std::int32_t row, Snap snap)
    : IntParameter(name, defaultValue, minimum, maximum), binding{controlId, row},
      entries_(std::move(entries)), snap_(snap) {
  requireDefinition(!entries_.empty(), name, "no entries");
  requireDefinition(std::is_sorted(entries_.begin(), entries_.end()), name, "entries not sorted");
  requireDefinition(entries_.front() >= minimum && entries_.back() <= maximum, name,
                    "entry outside the limits");
  requireDefinition(indexOf(defaultValue) >= 0, name, "default is no entry");
}

int IntComboParameter::indexOf(std::int32_t v) const noexcept {
  const auto it = std::find(entries_.begin(), entries_.end(), v);
  return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
}

std::int32_t IntComboParameter::nearestEntry(std::int32_t v) const noexcept {
  // Entries are sorted; on a tie the smaller entry wins.
  std::int32_t best = entries_.front();
  for (const std::int32_t e : entries_) {
    if (std::abs(std::int64_t{e} - v) < std::abs(std::int64_t{best} - v)) best = e;
  }
  return best;
}

std::int32_t IntComboParameter::fitStoredValue(std::int64_t v) const noexcept {
  const std::int32_t clamped = IntParameter::fitStoredValue(v);
  if (snap_ != nullptr) {
    const std::int32_t snapped = snap_(clamped);
    if (indexOf(snapped) >= 0) return snapped;
  }
  return nearestEntry(clamped);
}

StringComboParameter::StringComboParameter(std::string_view name, std::string_view defaultValue,
                                           std::vector<std::string> entries,
                                           std::uint16_t controlId, std::int32_t row)
    : StringParameter(name, defaultValue), binding{controlId, row}, entries_(std::move(entries)) {
  requireDefinition(indexOf(defaultValue) >= 0, name, "default is no entry");
}

int StringComboParameter::indexOf(std::string_view v) const noexcept {
  const auto it = std::find(entries_.begin(), entries_.end(), v);
  return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
}

std::string StringComboParameter::fitStoredValue(std::string_view v) const {
  if (indexOf(v) >= 0) return std::string(v);
  const std::string key = comboKey(v);
  for (const auto& e : entries_) {
    if (comboKey(e) == key) return e;
  }
  return defaultValue();
}

ButtonParameter::ButtonParameter(std::string_view caption, std::uint16_t controlId,
                                 std::int32_t row)
    : Parameter(caption), binding{controlId, row} {}

// ---- the settings ------------------------------------------------------------------------
// Rows: the option rows are 119 + 28 k; the controls' ids and rows follow the window's layout.

namespace {

constexpr std::int32_t kDefaultRange = 40;

std::vector<std::string> packageOrders() {
  return {"AIG, FSLTL, JF", "AIG, JF, FSLTL", "FSLTL, AIG, JF",
          "FSLTL, JF, AIG", "JF, AIG, FSLTL", "JF, FSLTL, AIG"};
}

std::vector<std::int32_t> steps(std::int32_t from, std::int32_t to, std::int32_t step) {
  std::vector<std::int32_t> v;
  for (std::int32_t x = from; x <= to; x += step) v.push_back(x);
  return v;
}

std::vector<std::int32_t> heightEntries() {
  std::vector<std::int32_t> v = steps(2000, 18000, 2000);
  v.push_back(36000);
  v.push_back(48000);
  return v;
}

const std::vector<std::int32_t> kSelectionCounts = {0, 10, 25, 50, 75, 100, 500};

}  // namespace

StringComboParameter SIM_CHOICE("SIM_CHOICE", "MSFS 2020", {"MSFS 2020", "MSFS 2024"}, 0x8016, 119);
EditStringParameter ALL_INSTALL_PATH("ALL_INSTALL_PATH", "", 0x8014, 119);
CheckBoxParameter SCAN_LIVERIES("SCAN_LIVERIES", true, 0x801D, 147);
CheckBoxParameter LIG_AUTOMATIC("LIG_AUTOMATIC", true, 0x801E, 147);
StringComboParameter AI_PACKAGE_SELECTOR("AI_PACKAGE_SELECTOR", "AIG, FSLTL, JF", packageOrders(),
                                         0x8017, 147);
CheckBoxParameter LIG_PRIORITIZE("LIG_PRIORITIZE", false, 0x801F, 147);
CheckBoxParameter SUPPRESS_STUB("SUPPRESS_STUB", true, 0x8020, 147);
CheckBoxParameter LOG("LOG", true, 0x800B, 147);
CheckBoxParameter ALWAYS_ON_TOP("ALWAYS_ON_TOP", false, 0x8003, 147);
CheckBoxParameter SCAN_AIRPORTS("SCAN_AIRPORTS", true, 0x8021, 175);
CheckBoxParameter NAV_LIGHTS_WHILE_PARKED("NAV_LIGHTS_WHILE_PARKED", true, 0x800A, 175);
CheckBoxParameter LEARN_SOFT("LEARN_SOFT", true, 0x8009, 175);
IntComboParameter MATCHING_DEPTH("MATCHING_DEPTH", 4, 1, 4, {1, 2, 3, 4}, 0x8028, 203);
CheckBoxParameter LIGHT_AIRCRAFT("LIGHT_AIRCRAFT", true, 0x8029, 203);
CheckBoxParameter HELICOPTERS("HELICOPTERS", true, 0x802A, 203);
CheckBoxParameter HIGH_PERF_AIRCRAFT("HIGH_PERF_AIRCRAFT", true, 0x802B, 203);
CheckBoxParameter AEROWINX("AEROWINX", false, 0x8007, 203);
CheckBoxParameter GUID_CHANGES("GUID_CHANGES", true, 0x8005, 203);
IntComboParameter RANGE("RANGE", kDefaultRange, 2, 100,
                        {2, 3, 4, 5, 6, 8, 10, 12, 14, 16, 18, 20, 25, 30, 35, 40, 50, 65, 80, 100},
                        0x8032, 231, roundToRangeStep);
CheckBoxParameter AUTO_RANGE("AUTO_RANGE", true, 0x8033, 231);
IntComboParameter AR_ABOVE_HEIGHT("AR_ABOVE_HEIGHT", 48000, 18000, 48000, steps(18000, 48000, 3000),
                                  0x8034, 231);
CheckBoxParameter CALLSIGN_OBJECTIDS("CALLSIGN_OBJECTIDS", false, 0x8036, 231);
CheckBoxParameter COLLISION_USER_GND("COLLISION_USER_GND", true, 0x8042, 287);
CheckBoxParameter COLLISION_USER_AIR("COLLISION_USER_AIR", true, 0x8041, 287);
CheckBoxParameter COLLISION_LIVE_PARKED_GND("COLLISION_LIVE_PARKED_GND", false, 0x8043, 287);
EditStringParameter BLOCK_CALLSIGN("BLOCK_CALLSIGN", "", 0x803C, 259);
EditStringParameter CALLSIGN_2_OBJECTID("CALLSIGN_2_OBJECTID", "", 0x8006, 259);
IntComboParameter MAX_PARK_SEL("MAX_PARK_SEL", 500, 0, 500, kSelectionCounts, 0x804E, 315);
IntComboParameter MAX_LIVE_SEL("MAX_LIVE_SEL", 500, 0, 500, kSelectionCounts, 0x804F, 315);
std::atomic<std::int32_t> g_savedMaxLive{0};
EditStringParameter DESTINATION("DESTINATION", "", 0x8047, 343);
IntComboParameter AIRP_RANGE("AIRP_RANGE", 20, 5, 30, steps(5, 30, 5), 0x8048, 343);
IntComboParameter AIRP_HEIGHT("AIRP_HEIGHT", 18000, 2000, 48000, heightEntries(), 0x8049, 343,
                              roundToHeightStep);
CheckBoxParameter STRAIGHT_PBS_ONLY("STRAIGHT_PBS_ONLY", false, 0x8058, 315);
CheckBoxParameter PARK_FAKE("PARK_FAKE", false, 0x8054, 371);
CheckBoxParameter WEEK("WEEK", false, 0x8056, 371);
CheckBoxParameter PARK_SOFT("PARK_SOFT", true, 0x8053, 371);
EditIntParameter parking_percentage("parking_percentage", 30, 0, 100, 0x8050, 371);
CheckBoxParameter INITIAL_LOAD_ONLY("INITIAL_LOAD_ONLY", false, 0x8052, 371);
EditFloatParameter MAX_FIT_FL("MAX_FIT_FL", 24.0f, 0.5f, 24.0f, 0x8057, 371);
EditIntParameter MAX_FIT("MAX_FIT", 47, 0, 47, 0x8055, 371);
IntParameter CUSTOM_PARKING_PERCENTAGE("CUSTOM_PARKING_PERCENTAGE", -1, -1, 100);
IntParameter HOLDING_THRESHOLD_METERS("HOLDING_THRESHOLD_METERS", 250, 10, 4000);
IntParameter MAX_HOLDING_MINUTES("MAX_HOLDING_MINUTES", 20, 1, 60);
BoolParameter RANDOM("RANDOM", true);
StringParameter PORT_NUMBER("PORT_NUMBER", "10747");
StringParameter MSFS_INSTALL_PATH("MSFS_INSTALL_PATH", "");
StringParameter MSFS_2024_INSTALL_PATH("MSFS_2024_INSTALL_PATH", "");
StringParameter PROGRAM_INSTALL_PATH("PROGRAM_INSTALL_PATH", "");
StringParameter AIG_VERSION("AIG_VERSION", "");
StringParameter DBASE_VERSION("DBASE_VERSION", "");
StringParameter MYSIMADDON24_VERSION("MYSIMADDON24_VERSION", "");
ButtonParameter g_unblockButton("Unblock", 0x803D, 257);
ButtonParameter g_reReadButton("Re-read", 0x8046, 341);
ButtonParameter g_flushStaticButton("Flush static", 0x805A, 369);

std::atomic<double> g_rangeNm{kDefaultRange};
std::atomic<double> g_rangeMeters{kDefaultRange * 1852.0};
std::atomic<bool> g_simIs2020{true};

// ---- lists ---------------------------------------------------------------------------------

const std::vector<Parameter*>& programParameters() {
  static const std::vector<Parameter*> all = {
      &SIM_CHOICE, &ALL_INSTALL_PATH, &SCAN_LIVERIES, &LIG_AUTOMATIC, &AI_PACKAGE_SELECTOR,
      &LIG_PRIORITIZE, &SUPPRESS_STUB, &LOG, &ALWAYS_ON_TOP, &SCAN_AIRPORTS,
      &NAV_LIGHTS_WHILE_PARKED, &LEARN_SOFT, &MATCHING_DEPTH, &LIGHT_AIRCRAFT, &HELICOPTERS,
      &HIGH_PERF_AIRCRAFT, &AEROWINX, &GUID_CHANGES, &RANGE, &AUTO_RANGE, &AR_ABOVE_HEIGHT,
      &CALLSIGN_OBJECTIDS, &COLLISION_USER_GND, &COLLISION_USER_AIR, &COLLISION_LIVE_PARKED_GND,
      &BLOCK_CALLSIGN, &CALLSIGN_2_OBJECTID, &MAX_PARK_SEL, &MAX_LIVE_SEL, &DESTINATION,
      &AIRP_RANGE, &AIRP_HEIGHT, &STRAIGHT_PBS_ONLY, &PARK_FAKE, &WEEK, &PARK_SOFT,
      &parking_percentage, &INITIAL_LOAD_ONLY, &MAX_FIT_FL, &MAX_FIT, &CUSTOM_PARKING_PERCENTAGE,
      &HOLDING_THRESHOLD_METERS, &MAX_HOLDING_MINUTES, &RANDOM, &PORT_NUMBER, &MSFS_INSTALL_PATH,
      &MSFS_2024_INSTALL_PATH, &PROGRAM_INSTALL_PATH, &AIG_VERSION, &DBASE_VERSION,
      &MYSIMADDON24_VERSION, &g_unblockButton, &g_reReadButton, &g_flushStaticButton};
  return all;
}

ControlBinding* bindingOf(Parameter& parameter) noexcept {
  return const_cast<ControlBinding*>(bindingOf(static_cast<const Parameter&>(parameter)));
}

const ControlBinding* bindingOf(const Parameter& parameter) noexcept {
  if (const auto* p = dynamic_cast<const CheckBoxParameter*>(&parameter)) return &p->binding;
  if (const auto* p = dynamic_cast<const EditIntParameter*>(&parameter)) return &p->binding;
  if (const auto* p = dynamic_cast<const EditFloatParameter*>(&parameter)) return &p->binding;
  if (const auto* p = dynamic_cast<const EditStringParameter*>(&parameter)) return &p->binding;
  if (const auto* p = dynamic_cast<const IntComboParameter*>(&parameter)) return &p->binding;
  if (const auto* p = dynamic_cast<const StringComboParameter*>(&parameter)) return &p->binding;
  if (const auto* p = dynamic_cast<const ButtonParameter*>(&parameter)) return &p->binding;
  return nullptr;
}

// ---- list helpers --------------------------------------------------------------------------

std::int32_t roundToRangeStep(std::int32_t v) noexcept {
  if (v < 3) return 2;
  if (v >= 100) return 100;
  if (v <= 6) return v;
  if (v >= 90) return 100;
  if (v >= 73) return 80;
  if (v >= 57) return 65;
  if (v >= 45) return 50;
  if (v >= 38) return 40;
  if (v >= 33) return 35;
  if (v >= 28) return 30;
  if (v >= 23) return 25;
  if (v >= 19) return 20;
  if (v >= 17) return 18;
  if (v >= 15) return 16;
  if (v >= 13) return 14;
  if (v >= 11) return 12;
  if (v >= 9) return 10;
  return 8;
}

std::int32_t roundToHeightStep(std::int32_t v) noexcept {
  if (v >= 47000) return 48000;
  if (v >= 27000) return 36000;
  if (v >= 17000) return 18000;
  if (v >= 15000) return 16000;
  if (v >= 13000) return 14000;
  if (v >= 11000) return 12000;
  if (v >= 9000) return 10000;
  if (v >= 7000) return 8000;
  if (v >= 5000) return 6000;
  if (v >= 3000) return 4000;
  return 2000;
}

namespace {

// Resets the list and adds the texts; the current value's entry is selected, none when the
// value is no entry.
void fillCombo(HWND combo, const std::vector<std::string>& texts, int selected) {
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const auto& text : texts) {
    const std::u16string wide = win32::utf8ToWide(text);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(static_cast<INT_PTR>(selected)), 0);
}

bool comboExists(const ControlBinding& binding) {
  return binding.hwnd != nullptr && IsWindow(binding.hwnd);
}

}  // namespace

void fillIntCombo(const IntComboParameter& parameter) {
  if (!comboExists(parameter.binding)) return;
  try {
    std::vector<std::string> texts;
    for (const std::int32_t e : parameter.entries()) texts.push_back(std::to_string(e));
    fillCombo(parameter.binding.hwnd, texts, parameter.indexOf(parameter.value()));
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("fillIntCombo exception: {}", e.what()));
  }
}

void fillStringCombo(const StringComboParameter& parameter) {
  if (!comboExists(parameter.binding)) return;
  try {
    fillCombo(parameter.binding.hwnd, parameter.entries(), parameter.indexOf(parameter.value()));
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("fillStringCombo exception: {}", e.what()));
  }
}
