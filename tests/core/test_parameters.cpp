// The settings table, the kinds' limits and the list helpers.
#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/parameters.h"
#include "platform/win32/win32.h"

namespace {

std::string kindName(const Parameter& p) {
  if (dynamic_cast<const CheckBoxParameter*>(&p)) return "check";
  if (dynamic_cast<const IntComboParameter*>(&p)) return "int combo";
  if (dynamic_cast<const StringComboParameter*>(&p)) return "text combo";
  if (dynamic_cast<const EditIntParameter*>(&p)) return "edit int";
  if (dynamic_cast<const EditFloatParameter*>(&p)) return "edit float";
  if (dynamic_cast<const EditStringParameter*>(&p)) return "edit text";
  if (dynamic_cast<const ButtonParameter*>(&p)) return "button";
  if (dynamic_cast<const BoolParameter*>(&p)) return "bool";
  if (dynamic_cast<const IntParameter*>(&p)) return "int";
  if (dynamic_cast<const FloatParameter*>(&p)) return "float";
  if (dynamic_cast<const StringParameter*>(&p)) return "text";
  return "?";
}

struct Row {
  std::string name;
  std::string kind;
  std::string defaultText;
  double minimum = 0;  // numeric kinds only
  double maximum = 0;
  std::vector<std::string> entries;  // combo kinds only
  int controlId = 0;                 // 0: no control binding
  int row = 0;
};

std::vector<std::string> texts(std::initializer_list<int> values) {
  std::vector<std::string> v;
  for (int x : values) v.push_back(std::to_string(x));
  return v;
}

const std::vector<std::string> kCounts = texts({0, 10, 25, 50, 75, 100, 500});

const std::vector<Row> kTable = {
    {"SIM_CHOICE", "text combo", "MSFS 2020", 0, 0, {"MSFS 2020", "MSFS 2024"}, 0x8016, 119},
    {"ALL_INSTALL_PATH", "edit text", "", 0, 0, {}, 0x8014, 119},
    {"SCAN_LIVERIES", "check", "true", 0, 0, {}, 0x801D, 147},
    {"LIG_AUTOMATIC", "check", "true", 0, 0, {}, 0x801E, 147},
    {"AI_PACKAGE_SELECTOR", "text combo", "AIG, FSLTL, JF", 0, 0,
     {"AIG, FSLTL, JF", "AIG, JF, FSLTL", "FSLTL, AIG, JF", "FSLTL, JF, AIG", "JF, AIG, FSLTL",
      "JF, FSLTL, AIG"},
     0x8017, 147},
    {"LIG_PRIORITIZE", "check", "false", 0, 0, {}, 0x801F, 147},
    {"SUPPRESS_STUB", "check", "true", 0, 0, {}, 0x8020, 147},
    {"LOG", "check", "true", 0, 0, {}, 0x800B, 147},
    {"ALWAYS_ON_TOP", "check", "false", 0, 0, {}, 0x8003, 147},
    {"SCAN_AIRPORTS", "check", "true", 0, 0, {}, 0x8021, 175},
    {"NAV_LIGHTS_WHILE_PARKED", "check", "true", 0, 0, {}, 0x800A, 175},
    {"LEARN_SOFT", "check", "true", 0, 0, {}, 0x8009, 175},
    {"MATCHING_DEPTH", "int combo", "4", 1, 4, texts({1, 2, 3, 4}), 0x8028, 203},
    {"LIGHT_AIRCRAFT", "check", "true", 0, 0, {}, 0x8029, 203},
    {"HELICOPTERS", "check", "true", 0, 0, {}, 0x802A, 203},
    {"HIGH_PERF_AIRCRAFT", "check", "true", 0, 0, {}, 0x802B, 203},
    {"AEROWINX", "check", "false", 0, 0, {}, 0x8007, 203},
    {"GUID_CHANGES", "check", "true", 0, 0, {}, 0x8005, 203},
    {"RANGE", "int combo", "40", 2, 100,
     texts({2, 3, 4, 5, 6, 8, 10, 12, 14, 16, 18, 20, 25, 30, 35, 40, 50, 65, 80, 100}), 0x8032, 231},
    {"AUTO_RANGE", "check", "true", 0, 0, {}, 0x8033, 231},
    {"AR_ABOVE_HEIGHT", "int combo", "48000", 18000, 48000,
     texts({18000, 21000, 24000, 27000, 30000, 33000, 36000, 39000, 42000, 45000, 48000}), 0x8034,
     231},
    {"CALLSIGN_OBJECTIDS", "check", "false", 0, 0, {}, 0x8036, 231},
    {"COLLISION_USER_GND", "check", "true", 0, 0, {}, 0x8042, 287},
    {"COLLISION_USER_AIR", "check", "true", 0, 0, {}, 0x8041, 287},
    {"COLLISION_LIVE_PARKED_GND", "check", "false", 0, 0, {}, 0x8043, 287},
    {"BLOCK_CALLSIGN", "edit text", "", 0, 0, {}, 0x803C, 259},
    {"CALLSIGN_2_OBJECTID", "edit text", "", 0, 0, {}, 0x8006, 259},
    {"MAX_PARK_SEL", "int combo", "500", 0, 500, kCounts, 0x804E, 315},
    {"MAX_LIVE_SEL", "int combo", "500", 0, 500, kCounts, 0x804F, 315},
    {"DESTINATION", "edit text", "", 0, 0, {}, 0x8047, 343},
    {"AIRP_RANGE", "int combo", "20", 5, 30, texts({5, 10, 15, 20, 25, 30}), 0x8048, 343},
    {"AIRP_HEIGHT", "int combo", "18000", 2000, 48000,
     texts({2000, 4000, 6000, 8000, 10000, 12000, 14000, 16000, 18000, 36000, 48000}), 0x8049, 343},
    {"STRAIGHT_PBS_ONLY", "check", "false", 0, 0, {}, 0x8058, 315},
    {"PARK_FAKE", "check", "false", 0, 0, {}, 0x8054, 371},
    {"WEEK", "check", "false", 0, 0, {}, 0x8056, 371},
    {"PARK_SOFT", "check", "true", 0, 0, {}, 0x8053, 371},
    {"parking_percentage", "edit int", "30", 0, 100, {}, 0x8050, 371},
    {"INITIAL_LOAD_ONLY", "check", "false", 0, 0, {}, 0x8052, 371},
    {"MAX_FIT_FL", "edit float", "24", 0.5, 24.0, {}, 0x8057, 371},
    {"MAX_FIT", "edit int", "47", 0, 47, {}, 0x8055, 371},
    {"CUSTOM_PARKING_PERCENTAGE", "int", "-1", -1, 100, {}, 0, 0},
    {"HOLDING_THRESHOLD_METERS", "int", "250", 10, 4000, {}, 0, 0},
    {"MAX_HOLDING_MINUTES", "int", "20", 1, 60, {}, 0, 0},
    {"RANDOM", "bool", "true", 0, 0, {}, 0, 0},
    {"PORT_NUMBER", "text", "10747", 0, 0, {}, 0, 0},
    {"MSFS_INSTALL_PATH", "text", "", 0, 0, {}, 0, 0},
    {"MSFS_2024_INSTALL_PATH", "text", "", 0, 0, {}, 0, 0},
    {"PROGRAM_INSTALL_PATH", "text", "", 0, 0, {}, 0, 0},
    {"AIG_VERSION", "text", "", 0, 0, {}, 0, 0},
    {"DBASE_VERSION", "text", "", 0, 0, {}, 0, 0},
    {"MYSIMADDON24_VERSION", "text", "", 0, 0, {}, 0, 0},
    {"Unblock", "button", "", 0, 0, {}, 0x803D, 257},
    {"Re-read", "button", "", 0, 0, {}, 0x8046, 341},
    {"Flush static", "button", "", 0, 0, {}, 0x805A, 369},
};

class ParameterTable : public ::testing::Test {
 protected:
  void SetUp() override { resetParametersForTests(); }
  void TearDown() override { resetParametersForTests(); }
};

TEST_F(ParameterTable, EveryParameterHasItsKindDefaultLimitsEntriesAndControl) {
  ASSERT_EQ(programParameters().size(), kTable.size()) << "a parameter is missing from a list";
  for (const Row& r : kTable) {
    SCOPED_TRACE(r.name);
    Parameter* p = findParameter(r.name);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(kindName(*p), r.kind);
    EXPECT_EQ(p->storedText(), r.defaultText);
    if (auto* ip = dynamic_cast<IntParameter*>(p)) {
      EXPECT_EQ(ip->minimum(), r.minimum);
      EXPECT_EQ(ip->maximum(), r.maximum);
    }
    if (auto* fp = dynamic_cast<FloatParameter*>(p)) {
      EXPECT_FLOAT_EQ(fp->minimum(), static_cast<float>(r.minimum));
      EXPECT_FLOAT_EQ(fp->maximum(), static_cast<float>(r.maximum));
    }
    std::vector<std::string> entries;
    if (auto* c = dynamic_cast<IntComboParameter*>(p)) {
      for (int e : c->entries()) entries.push_back(std::to_string(e));
    }
    if (auto* c = dynamic_cast<StringComboParameter*>(p)) entries = c->entries();
    EXPECT_EQ(entries, r.entries);
    const ControlBinding* b = bindingOf(*p);
    EXPECT_EQ(b == nullptr, r.controlId == 0);
    if (b != nullptr) {
      EXPECT_EQ(b->controlId, r.controlId);
      EXPECT_EQ(b->row, r.row);
      EXPECT_EQ(b->hwnd, nullptr);
      EXPECT_EQ(b->previousProc, 0);
    }
    // Every stored name must be usable in the lookup of parameters.xml.
    if (r.kind != "button") {
      EXPECT_TRUE(isSafeParameterName(r.name));
    }
  }
}

TEST_F(ParameterTable, ControlIdsAreUnique) {
  std::set<int> ids;
  for (Parameter* p : programParameters()) {
    if (const ControlBinding* b = bindingOf(*p)) {
      EXPECT_TRUE(ids.insert(b->controlId).second) << p->name();
    }
  }
}

TEST_F(ParameterTable, PackageOrdersAreTheSixOrdersOfTheThreePackages) {
  std::set<std::string> seen;
  for (std::string e : AI_PACKAGE_SELECTOR.entries()) {
    seen.insert(e);
    std::vector<std::string> parts;
    for (size_t pos; (pos = e.find(", ")) != std::string::npos; e.erase(0, pos + 2)) {
      parts.push_back(e.substr(0, pos));
    }
    parts.push_back(e);
    std::sort(parts.begin(), parts.end());
    EXPECT_EQ(parts, (std::vector<std::string>{"AIG", "FSLTL", "JF"}));
  }
  EXPECT_EQ(seen.size(), 6u);
}

TEST_F(ParameterTable, SetClampsToTheLimits) {
  EXPECT_EQ(parking_percentage.set(150), 100);
  EXPECT_EQ(parking_percentage.value(), 100);
  EXPECT_EQ(CUSTOM_PARKING_PERCENTAGE.set(-7), -1);
  EXPECT_EQ(RANGE.set(1), 2);
  EXPECT_FLOAT_EQ(MAX_FIT_FL.set(0.2f), 0.5f);
  EXPECT_FLOAT_EQ(MAX_FIT_FL.set(30.0f), 24.0f);
  EXPECT_FLOAT_EQ(MAX_FIT_FL.set(std::nanf("")), 24.0f);
}

TEST_F(ParameterTable, ResetPutsValuesAndHandlesBack) {
  LOG.set(false);
  RANGE.set(12);
  DESTINATION.set("EDDF");
  MAX_FIT_FL.set(3.5f);
  RANGE.binding.hwnd = reinterpret_cast<HWND>(0x1234);
  g_simIs2020 = false;
  g_rangeNm = 12;
  resetParametersForTests();
  EXPECT_TRUE(LOG.value());
  EXPECT_EQ(RANGE.value(), 40);
  EXPECT_EQ(DESTINATION.value(), "");
  EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 24.0f);
  EXPECT_EQ(RANGE.binding.hwnd, nullptr);
  EXPECT_EQ(RANGE.binding.controlId, 0x8032);
  EXPECT_TRUE(g_simIs2020);
  EXPECT_EQ(g_rangeNm, 40.0);
  EXPECT_EQ(g_rangeMeters, 40.0 * 1852);
}

// ---- rounding ------------------------------------------------------------------------------

TEST(RoundToRangeStep, Table) {
  const std::vector<std::pair<int, int>> cases = {
      {-5, 2},  {0, 2},   {2, 2},   {3, 3},   {6, 6},   {7, 8},   {8, 8},   {9, 10},
      {10, 10}, {11, 12}, {13, 14}, {15, 16}, {17, 18}, {19, 20}, {22, 20}, {23, 25},
      {28, 30}, {33, 35}, {37, 35}, {38, 40}, {39, 40}, {44, 40}, {45, 50}, {56, 50},
      {57, 65}, {72, 65}, {73, 80}, {89, 80}, {90, 100}, {100, 100}, {5000, 100}};
  for (auto [in, out] : cases) EXPECT_EQ(roundToRangeStep(in), out) << in;
}

TEST(RoundToHeightStep, Table) {
  const std::vector<std::pair<int, int>> cases = {
      {-1, 2000},     {2999, 2000},   {3000, 4000},   {5000, 6000},   {7000, 8000},
      {9000, 10000},  {11000, 12000}, {13000, 14000}, {15000, 16000}, {16999, 16000},
      {17000, 18000}, {26999, 18000}, {27000, 36000}, {46999, 36000}, {47000, 48000},
      {90000, 48000}};
  for (auto [in, out] : cases) EXPECT_EQ(roundToHeightStep(in), out) << in;
}

TEST(RoundToSteps, EveryResultIsAnEntryAndEveryEntryStaysPut) {
  for (int v = -50; v <= 300; ++v) EXPECT_GE(RANGE.indexOf(roundToRangeStep(v)), 0) << v;
  for (int v = -5000; v <= 80000; v += 250) {
    EXPECT_GE(AIRP_HEIGHT.indexOf(roundToHeightStep(v)), 0) << v;
  }
  for (int e : RANGE.entries()) EXPECT_EQ(roundToRangeStep(e), e);
  for (int e : AIRP_HEIGHT.entries()) EXPECT_EQ(roundToHeightStep(e), e);
}

// ---- filling the lists ---------------------------------------------------------------------

class ComboFill : public ::testing::Test {
 protected:
  void SetUp() override {
    resetParametersForTests();
    parent_ = CreateWindowExW(0, u"ParameterTestWindow", u"test", WS_OVERLAPPED, 0, 0, 880, 516,
                              nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
  }
  void TearDown() override {
    if (parent_ != nullptr) DestroyWindow(parent_);
    resetParametersForTests();
  }

  HWND makeCombo(int id) {
    return CreateWindowExW(0, u"ComboBox", u"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, 0, 0, 50,
                           200, parent_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
                           nullptr);
  }

  static std::vector<std::u16string> items(HWND combo) {
    std::vector<std::u16string> v;
    const auto n = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
      const auto len = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
      std::u16string text(static_cast<size_t>(len) + 1, u'\0');
      SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
      text.resize(static_cast<size_t>(len));
      v.push_back(text);
    }
    return v;
  }

  HWND parent_ = nullptr;
};

TEST_F(ComboFill, IntComboGetsEveryEntryAndSelectsTheCurrentValue) {
  RANGE.binding.hwnd = makeCombo(RANGE.binding.controlId);
  ASSERT_NE(RANGE.binding.hwnd, nullptr);
  RANGE.set(12);
  fillIntCombo(RANGE);
  fillIntCombo(RANGE);  // a second fill replaces the list instead of adding to it
  const auto v = items(RANGE.binding.hwnd);
  ASSERT_EQ(v.size(), RANGE.entries().size());
  EXPECT_EQ(v.front(), u"2");
  EXPECT_EQ(v.back(), u"100");
  EXPECT_EQ(SendMessageW(RANGE.binding.hwnd, CB_GETCURSEL, 0, 0), RANGE.indexOf(12));

  RANGE.set(7);  // no entry: nothing selected
  fillIntCombo(RANGE);
  EXPECT_EQ(SendMessageW(RANGE.binding.hwnd, CB_GETCURSEL, 0, 0), CB_ERR);
}

TEST_F(ComboFill, StringComboGetsItsTextsAsUtf16) {
  AI_PACKAGE_SELECTOR.binding.hwnd = makeCombo(AI_PACKAGE_SELECTOR.binding.controlId);
  AI_PACKAGE_SELECTOR.set("JF, AIG, FSLTL");
  fillStringCombo(AI_PACKAGE_SELECTOR);
  const auto v = items(AI_PACKAGE_SELECTOR.binding.hwnd);
  ASSERT_EQ(v.size(), 6u);
  EXPECT_EQ(v[0], u"AIG, FSLTL, JF");
  EXPECT_EQ(SendMessageW(AI_PACKAGE_SELECTOR.binding.hwnd, CB_GETCURSEL, 0, 0), 4);
}

TEST_F(ComboFill, NothingHappensWithoutTheControl) {
  fillIntCombo(MAX_LIVE_SEL);  // no handle yet
  const HWND gone = makeCombo(MAX_LIVE_SEL.binding.controlId);
  DestroyWindow(gone);
  MAX_LIVE_SEL.binding.hwnd = gone;
  fillIntCombo(MAX_LIVE_SEL);
  fillStringCombo(SIM_CHOICE);
  SUCCEED();
}

}  // namespace
