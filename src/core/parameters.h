#pragma once
// The program's settings: one global object per setting, named exactly by its key in
// parameters.xml (RANGE, MAX_LIVE_SEL, parking_percentage ...), and the store that loads them from
// and saves them to that file in the program's folder.
//
// Access from program code (any thread):
//   bool, int, float:  RANGE.value(), RANGE.set(12). The values are atomics, so a reader always
//                      sees a whole value. set() of the numeric kinds clamps to [minimum, maximum]
//                      and returns the value now in force.
//   text:              DESTINATION.value() returns a copy; DESTINATION.set("EDDF"). The text is
//                      guarded by the parameter's own small lock.
//   saving:            saveIntParameter(RANGE) writes the current value into parameters.xml at
//                      once; a failure is logged, never thrown.
// The control bindings (window handle, previous window procedure) are set on the window thread
// when the controls are created, before any run starts, and only read afterwards.
//
// No parameter may be read during static initialisation: the globals of other translation units
// are built in an unspecified order. registerParameter() is safe at any time.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/win32.h"

namespace pugi {
class xml_document;
}

// Ties a parameter to its child control of the main window.
struct ControlBinding {
  std::uint16_t controlId = 0;  // child-window id of the control
  std::int32_t row = 0;         // y of the control's row in the client area
  HWND hwnd = nullptr;          // set when the control is created
  LONG_PTR previousProc = 0;    // an edit box's window procedure before subclassing
};

enum class ParameterKind { Bool, Int, Float, String, Button };

// What a load found for one parameter.
enum class LoadOutcome {
  Missing,     // no entry: the current value stays (the default after start-up)
  Taken,       // the stored value is in force as it was
  Adjusted,    // the stored value was clamped to the limits or snapped onto a list entry
  Unreadable,  // the stored text is no value of this kind: the current value stays
};

class Parameter {
 public:
  Parameter(const Parameter&) = delete;
  Parameter& operator=(const Parameter&) = delete;
  virtual ~Parameter() = default;

  const std::string& name() const noexcept { return name_; }
  virtual ParameterKind kind() const noexcept = 0;

  // The current value as parameters.xml holds it ("true"/"false", decimal, text).
  virtual std::string storedText() const = 0;
  // Takes a value read from parameters.xml, fitted to the limits or list of the parameter.
  virtual LoadOutcome takeStoredText(std::string_view text) = 0;
  virtual void resetToDefault() = 0;

 protected:
  explicit Parameter(std::string_view name) : name_(name) {}

 private:
  std::string name_;
};

class BoolParameter : public Parameter {
 public:
  BoolParameter(std::string_view name, bool defaultValue);

  bool value() const noexcept { return value_.load(); }
  void set(bool v) noexcept { value_.store(v); }
  bool defaultValue() const noexcept { return default_; }

  ParameterKind kind() const noexcept override { return ParameterKind::Bool; }
  std::string storedText() const override;
  LoadOutcome takeStoredText(std::string_view text) override;
  void resetToDefault() override { set(default_); }

 private:
  const bool default_;
  std::atomic<bool> value_;
};

class IntParameter : public Parameter {
 public:
  IntParameter(std::string_view name, std::int32_t defaultValue, std::int32_t minimum,
               std::int32_t maximum);

  std::int32_t value() const noexcept { return value_.load(); }
  std::int32_t set(std::int32_t v) noexcept;  // clamps; returns the value stored
  std::int32_t clamp(std::int32_t v) const noexcept;
  std::int32_t defaultValue() const noexcept { return default_; }
  std::int32_t minimum() const noexcept { return minimum_; }
  std::int32_t maximum() const noexcept { return maximum_; }
  // The value a stored number becomes on loading: clamped here, also snapped onto the list in
  // the combo kind.
  virtual std::int32_t fitStoredValue(std::int64_t v) const noexcept;

  ParameterKind kind() const noexcept override { return ParameterKind::Int; }
  std::string storedText() const override;
  LoadOutcome takeStoredText(std::string_view text) override;
  void resetToDefault() override { value_.store(default_); }

 private:
  const std::int32_t default_;
  const std::int32_t minimum_;
  const std::int32_t maximum_;
  std::atomic<std::int32_t> value_;
};

class FloatParameter : public Parameter {
 public:
  FloatParameter(std::string_view name, float defaultValue, float minimum, float maximum);

  float value() const noexcept { return value_.load(); }
  float set(float v) noexcept;  // clamps (a NaN becomes the default); returns the value stored
  float clamp(float v) const noexcept;
  float defaultValue() const noexcept { return default_; }
  float minimum() const noexcept { return minimum_; }
  float maximum() const noexcept { return maximum_; }

  ParameterKind kind() const noexcept override { return ParameterKind::Float; }
  std::string storedText() const override;
  LoadOutcome takeStoredText(std::string_view text) override;
  void resetToDefault() override { value_.store(default_); }

 private:
  const float default_;
  const float minimum_;
  const float maximum_;
  std::atomic<float> value_;
};

class StringParameter : public Parameter {
 public:
  StringParameter(std::string_view name, std::string_view defaultValue);

  std::string value() const;
  void set(std::string v);
  bool empty() const;
  const std::string& defaultValue() const noexcept { return default_; }
  // The value a stored text becomes on loading: as it is here; the combo kind keeps only its
  // list entries.
  virtual std::string fitStoredValue(std::string_view v) const { return std::string(v); }

  ParameterKind kind() const noexcept override { return ParameterKind::String; }
  std::string storedText() const override { return value(); }
  LoadOutcome takeStoredText(std::string_view text) override;
  void resetToDefault() override { set(default_); }

 private:
  const std::string default_;
  mutable std::mutex mutex_;
  std::string value_;
};

class CheckBoxParameter : public BoolParameter {
 public:
  CheckBoxParameter(std::string_view name, bool defaultValue, std::uint16_t controlId,
                    std::int32_t row);
  ControlBinding binding;
};

class EditIntParameter : public IntParameter {
 public:
  EditIntParameter(std::string_view name, std::int32_t defaultValue, std::int32_t minimum,
                   std::int32_t maximum, std::uint16_t controlId, std::int32_t row);
  ControlBinding binding;
};

class EditFloatParameter : public FloatParameter {
 public:
  EditFloatParameter(std::string_view name, float defaultValue, float minimum, float maximum,
                     std::uint16_t controlId, std::int32_t row);
  ControlBinding binding;
};

class EditStringParameter : public StringParameter {
 public:
  EditStringParameter(std::string_view name, std::string_view defaultValue,
                      std::uint16_t controlId, std::int32_t row);
  ControlBinding binding;
};

// A drop-down list of numbers. Loading snaps a stored value onto an entry: with the given
// rounding function when there is one (RANGE, AIRP_HEIGHT), else onto the nearest entry.
class IntComboParameter : public IntParameter {
 public:
  using Snap = std::int32_t (*)(std::int32_t);
  IntComboParameter(std::string_view name, std::int32_t defaultValue, std::int32_t minimum,
                    std::int32_t maximum, std::vector<std::int32_t> entries,
                    std::uint16_t controlId, std::int32_t row, Snap snap = nullptr);

  const std::vector<std::int32_t>& entries() const noexcept { return entries_; }
  int indexOf(std::int32_t v) const noexcept;  // -1 when v is no entry
  std::int32_t nearestEntry(std::int32_t v) const noexcept;
  std::int32_t fitStoredValue(std::int64_t v) const noexcept override;

  ControlBinding binding;

 private:
  const std::vector<std::int32_t> entries_;
  const Snap snap_;
};

// A drop-down list of texts. Loading keeps a stored text that is an entry (also when it differs
// only in blanks or letter case); anything else becomes the default.
class StringComboParameter : public StringParameter {
 public:
  StringComboParameter(std::string_view name, std::string_view defaultValue,
                       std::vector<std::string> entries, std::uint16_t controlId,
                       std::int32_t row);

  const std::vector<std::string>& entries() const noexcept { return entries_; }
  int indexOf(std::string_view v) const noexcept;  // -1 when v is no entry
  std::string fitStoredValue(std::string_view v) const override;

  ControlBinding binding;

 private:
  const std::vector<std::string> entries_;
};

// A push button of the main window; its name is its caption. It holds no value and is never
// stored.
class ButtonParameter : public Parameter {
 public:
  ButtonParameter(std::string_view caption, std::uint16_t controlId, std::int32_t row);

  ParameterKind kind() const noexcept override { return ParameterKind::Button; }
  std::string storedText() const override { return {}; }
  LoadOutcome takeStoredText(std::string_view) override { return LoadOutcome::Unreadable; }
  void resetToDefault() override {}

  ControlBinding binding;
};

// ---- the settings ------------------------------------------------------------------------
// Livery and airport scans, simulator.
extern StringComboParameter SIM_CHOICE;           // "MSFS 2020" / "MSFS 2024"
extern EditStringParameter ALL_INSTALL_PATH;      // set at each start-up, never loaded
extern CheckBoxParameter SCAN_LIVERIES;
extern CheckBoxParameter LIG_AUTOMATIC;
extern StringComboParameter AI_PACKAGE_SELECTOR;  // six orders of "AIG", "FSLTL", "JF"
extern CheckBoxParameter LIG_PRIORITIZE;
extern CheckBoxParameter SUPPRESS_STUB;
extern CheckBoxParameter LOG;
extern CheckBoxParameter ALWAYS_ON_TOP;
extern CheckBoxParameter SCAN_AIRPORTS;
extern CheckBoxParameter NAV_LIGHTS_WHILE_PARKED;
extern CheckBoxParameter LEARN_SOFT;
extern IntComboParameter MATCHING_DEPTH;
extern CheckBoxParameter LIGHT_AIRCRAFT;
extern CheckBoxParameter HELICOPTERS;
extern CheckBoxParameter HIGH_PERF_AIRCRAFT;
extern CheckBoxParameter AEROWINX;
extern CheckBoxParameter GUID_CHANGES;
// Traffic radius.
extern IntComboParameter RANGE;  // nm
extern CheckBoxParameter AUTO_RANGE;
extern IntComboParameter AR_ABOVE_HEIGHT;  // ft
extern CheckBoxParameter CALLSIGN_OBJECTIDS;
extern CheckBoxParameter COLLISION_USER_GND;
extern CheckBoxParameter COLLISION_USER_AIR;
extern CheckBoxParameter COLLISION_LIVE_PARKED_GND;
extern EditStringParameter BLOCK_CALLSIGN;
extern EditStringParameter CALLSIGN_2_OBJECTID;
extern IntComboParameter MAX_PARK_SEL;
extern IntComboParameter MAX_LIVE_SEL;
// The user's MAX_LIVE_SEL, taken at start-up and on a change while no park airport is loaded;
// clearing the park airport puts it back. Written by the start-up worker and the window thread.
extern std::atomic<std::int32_t> g_savedMaxLive;
extern EditStringParameter DESTINATION;
extern IntComboParameter AIRP_RANGE;   // nm
extern IntComboParameter AIRP_HEIGHT;  // ft above ground
extern CheckBoxParameter STRAIGHT_PBS_ONLY;
// Static parking.
extern CheckBoxParameter PARK_FAKE;
extern CheckBoxParameter WEEK;
extern CheckBoxParameter PARK_SOFT;
extern EditIntParameter parking_percentage;
extern CheckBoxParameter INITIAL_LOAD_ONLY;
extern EditFloatParameter MAX_FIT_FL;  // hours, = MAX_FIT x 0.5 + 0.5
extern EditIntParameter MAX_FIT;       // half-hour steps; has a control id but no control
// Without a control.
extern IntParameter CUSTOM_PARKING_PERCENTAGE;  // -1: not in use
extern IntParameter HOLDING_THRESHOLD_METERS;
extern IntParameter MAX_HOLDING_MINUTES;
extern BoolParameter RANDOM;
extern StringParameter PORT_NUMBER;
extern StringParameter MSFS_INSTALL_PATH;
extern StringParameter MSFS_2024_INSTALL_PATH;
extern StringParameter PROGRAM_INSTALL_PATH;
extern StringParameter AIG_VERSION;
extern StringParameter DBASE_VERSION;
extern StringParameter MYSIMADDON24_VERSION;
// The push buttons.
extern ButtonParameter g_unblockButton;       // "Unblock"
extern ButtonParameter g_reReadButton;        // "Re-read"
extern ButtonParameter g_flushStaticButton;   // "Flush static"

// The live traffic radius and the served simulator, read by several threads.
extern std::atomic<double> g_rangeNm;      // nm, from RANGE, then the radius selection
extern std::atomic<double> g_rangeMeters;  // g_rangeNm x 1852
extern std::atomic<bool> g_simIs2020;      // SIM_CHOICE is "MSFS 2020"; clear: MSFS 2024

// ---- lists -------------------------------------------------------------------------------
// Every parameter object of this file, buttons included, in the order above.
const std::vector<Parameter*>& programParameters();
// A parameter of this file or a registered one by its name (a button by its caption); nullptr
// when there is none.
Parameter* findParameter(std::string_view name);
// Adds a parameter that lives elsewhere (the main window's position) to the ones
// loadAllParameters loads and resetParametersForTests resets. The object must stay alive until
// it is unregistered. Registering twice is harmless.
void registerParameter(Parameter& parameter);
void unregisterParameter(Parameter& parameter);
// The control binding of a parameter of a bound kind; nullptr for the plain kinds.
ControlBinding* bindingOf(Parameter& parameter) noexcept;
const ControlBinding* bindingOf(const Parameter& parameter) noexcept;

// ---- the store parameters.xml ----------------------------------------------------------------
// programFolder()/"parameters.xml"
std::filesystem::path parametersFilePath();

// Reads parameters.xml into every parameter (not ALL_INSTALL_PATH), fits the values to their
// limits and lists, writes back the entries that were missing or changed, then sets g_rangeNm,
// g_rangeMeters and g_simIs2020. A file that is not well-formed is renamed aside
// (parameters.xml.bad-YYYYMMDD-HHMMSS), logged, and replaced by a fresh one.
void loadAllParameters();

// Reads the entry of one parameter from a parsed parameters.xml; logs "{}={}" with the value in
// force when log is set.
LoadOutcome loadParameter(Parameter& parameter, const pugi::xml_document& doc, bool log);
LoadOutcome loadIntParameter(IntParameter& parameter, const pugi::xml_document& doc, bool log);

// Write the current value into parameters.xml at once (find or create the entry, write the file
// atomically). Safe from any thread. A failure is logged and gives false; nothing throws.
bool saveBoolParameter(const BoolParameter& parameter);
bool saveIntParameter(const IntParameter& parameter);
bool saveFloatParameter(const FloatParameter& parameter);
bool saveStringParameter(const StringParameter& parameter);
bool setAndSaveStringParameter(StringParameter& parameter, std::string text);

// True for names that can stand in the XPath of a lookup: letters, digits and '_' only.
bool isSafeParameterName(std::string_view name) noexcept;

// ---- list helpers ------------------------------------------------------------------------
// Snap a radius (nm) onto an entry of RANGE, a height (ft) onto an entry of AIRP_HEIGHT.
std::int32_t roundToRangeStep(std::int32_t nm) noexcept;
std::int32_t roundToHeightStep(std::int32_t ft) noexcept;

// Fill the bound drop-down list with the entries and select the current value (no selection
// when it is no entry). Nothing happens while the control does not exist.
void fillIntCombo(const IntComboParameter& parameter);
void fillStringCombo(const StringComboParameter& parameter);

// Every value back to its default (registered parameters too), the control bindings' handles
// cleared, the store's document forgotten, the globals above back to their start values. The
// store finds the file's place when it first reads it: a test that points APPDATA elsewhere
// calls this first.
void resetParametersForTests();
