// parameters.xml: loading with clamping and snapping, saving, a corrupt file, concurrent saves.
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "core/log.h"
#include "core/parameters.h"
#include "core/timeutil.h"
#include "parameters_input.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// Points APPDATA at a fresh folder, so the program folder is <tmp>/Ambrelvane, and opens the log
// in the same folder so log lines can be checked.
class ParameterStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("APPDATA")) oldAppData_ = old;
    setenv("APPDATA", tmp_.path().c_str(), 1);
    resetParametersForTests();
    ASSERT_TRUE(openLogFile(tmp_.path()));
  }
  void TearDown() override {
    closeLogFile();
    resetParametersForTests();
    kvo::setUtcNowForTests(std::nullopt);
    if (oldAppData_) {
      setenv("APPDATA", oldAppData_->c_str(), 1);
    } else {
      unsetenv("APPDATA");
    }
  }

  fs::path folder() const { return tmp_.path() / "Ambrelvane"; }
  fs::path file() const { return folder() / "parameters.xml"; }
  std::string log() const { return coretest::readFile(tmp_.path() / "Log.txt"); }

  void writeParameters(const std::vector<std::pair<std::string, std::string>>& entries) {
    pugi::xml_document doc;
    auto root = doc.append_child("parameters");
    for (const auto& [name, value] : entries) {
      auto e = root.append_child("parameter");
      e.append_attribute("name").set_value(name.c_str());
      e.append_attribute("value").set_value(value.c_str());
    }
    fs::create_directories(folder());
    ASSERT_TRUE(doc.save_file(file().c_str()));
  }

  // The value stored for name in the file on disk; nullopt when the file does not parse or has
  // no such entry.
  std::optional<std::string> stored(const std::string& name) const {
    pugi::xml_document doc;
    if (!doc.load_file(file().c_str())) return std::nullopt;
    for (auto e : doc.child("parameters").children("parameter")) {
      if (name == e.attribute("name").value()) return std::string(e.attribute("value").value());
    }
    return std::nullopt;
  }

  coretest::TempFolder tmp_;
  std::optional<std::string> oldAppData_;
};

TEST_F(ParameterStore, ValuesOfEveryKindSurviveASaveAndALoad) {
  LOG.set(false);
  RANGE.set(12);
  MAX_FIT_FL.set(7.5f);
  MSFS_INSTALL_PATH.set(R"(D:\Sim's "Packages" <x> & Zürich ✈)");
  SIM_CHOICE.set("MSFS 2024");
  EXPECT_TRUE(saveBoolParameter(LOG));
  EXPECT_TRUE(saveIntParameter(RANGE));
  EXPECT_TRUE(saveFloatParameter(MAX_FIT_FL));
  EXPECT_TRUE(saveStringParameter(MSFS_INSTALL_PATH));
  EXPECT_TRUE(setAndSaveStringParameter(DESTINATION, "EDDF"));
  EXPECT_TRUE(saveStringParameter(SIM_CHOICE));

  resetParametersForTests();  // defaults, and the store forgets its document
  EXPECT_TRUE(LOG.value());
  loadAllParameters();
  EXPECT_FALSE(LOG.value());
  EXPECT_EQ(RANGE.value(), 12);
  EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 7.5f);
  EXPECT_EQ(MSFS_INSTALL_PATH.value(), R"(D:\Sim's "Packages" <x> & Zürich ✈)");
  EXPECT_EQ(DESTINATION.value(), "EDDF");
  EXPECT_EQ(g_rangeNm, 12.0);
  EXPECT_EQ(g_rangeMeters, 12.0 * 1852);
  EXPECT_FALSE(g_simIs2020);
  EXPECT_NE(log().find("RANGE=12"), std::string::npos);
}

TEST_F(ParameterStore, LoadedValuesAreClampedAndSnappedAndWrittenBack) {
  struct Case {
    std::string name, storedText, expected;
  };
  const std::vector<Case> cases = {
      {"RANGE", "7", "8"},                  // older versions offered other radii
      {"RANGE", "1000", "100"},
      {"AIRP_HEIGHT", "5000", "6000"},
      {"AIRP_HEIGHT", "40000", "36000"},
      {"MAX_LIVE_SEL", "30", "25"},         // the nearest entry, the smaller on a tie
      {"MAX_PARK_SEL", "-3", "0"},
      {"AR_ABOVE_HEIGHT", "20000", "21000"},
      {"parking_percentage", "150", "100"},
      {"MAX_HOLDING_MINUTES", "-5", "1"},
      {"HOLDING_THRESHOLD_METERS", "99999999999999999999999", "4000"},
      {"HOLDING_THRESHOLD_METERS", "-99999999999999999999999", "10"},
      {"MAX_FIT_FL", "0.2", "0.5"},
      {"MAX_FIT_FL", "1e-60", "0.5"},     // too small for a float: 0, then the minimum
      {"MAX_FIT_FL", "1e60", "24"},
      {"MAX_FIT", " 12 ", "12"},
      {"LOG", "False", "false"},
      {"RANDOM", "maybe", "true"},          // unreadable: the default stays
      {"MAX_FIT", "12abc", "47"},
      {"SIM_CHOICE", "MSFS 2024", "MSFS 2024"},
      {"SIM_CHOICE", "other sim", "MSFS 2020"},
      {"AI_PACKAGE_SELECTOR", "jf,aig, FSLTL", "JF, AIG, FSLTL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " " + c.storedText);
    resetParametersForTests();
    writeParameters({{c.name, c.storedText}});
    loadAllParameters();
    Parameter* p = findParameter(c.name);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->storedText(), c.expected);
    EXPECT_EQ(stored(c.name), c.expected) << "the value in force is written back";
  }
}

TEST_F(ParameterStore, MissingEntriesAndAMissingFolderAreWrittenOnLoad) {
  ASSERT_FALSE(fs::exists(folder()));
  loadAllParameters();
  ASSERT_TRUE(fs::exists(file()));
  for (Parameter* p : programParameters()) {
    SCOPED_TRACE(p->name());
    if (p == &ALL_INSTALL_PATH || p->kind() == ParameterKind::Button) {
      EXPECT_EQ(stored(p->name()), std::nullopt);
    } else {
      EXPECT_EQ(stored(p->name()), p->storedText());
    }
  }
}

TEST_F(ParameterStore, TheInstallPathOfTheChosenSimulatorIsNeverLoaded) {
  writeParameters({{"ALL_INSTALL_PATH", "C:\\old"}});
  loadAllParameters();
  EXPECT_EQ(ALL_INSTALL_PATH.value(), "");
}

TEST_F(ParameterStore, ACorruptFileIsKeptAsideAndAFreshOneWritten) {
  kvo::setUtcNowForTests(kvo::Clock::from_time_t(1709348645));  // 2024-03-02 03:04:05 UTC
  const std::string broken = R"(<?xml version="1.0"?><parameters><parameter name="RANGE" value="10")";
  fs::create_directories(folder());
  coretest::writeFile(file(), broken);

  loadAllParameters();
  const fs::path aside = folder() / "parameters.xml.bad-20240302-030405";
  ASSERT_TRUE(fs::exists(aside));
  EXPECT_EQ(coretest::readFile(aside), broken);
  EXPECT_EQ(stored("LOG"), "true") << "a fresh, well-formed file";
  EXPECT_NE(log().find("===> "), std::string::npos);
  EXPECT_NE(log().find("not well-formed"), std::string::npos);
  EXPECT_NE(log().find("parameters.xml.bad-20240302-030405"), std::string::npos);

  // A second bad file in the same second does not overwrite the first one kept aside.
  coretest::writeFile(file(), "<settings/>");
  loadAllParameters();
  EXPECT_EQ(coretest::readFile(aside), broken);
  EXPECT_EQ(coretest::readFile(folder() / "parameters.xml.bad-20240302-030405-1"), "<settings/>");
  EXPECT_TRUE(stored("RANGE").has_value());
}

TEST_F(ParameterStore, ASaveBeforeTheFirstLoadKeepsTheOtherSettings) {
  writeParameters({{"RANGE", "10"}, {"LOG", "false"}});
  MAX_FIT.set(5);
  EXPECT_TRUE(saveIntParameter(MAX_FIT));
  EXPECT_EQ(stored("RANGE"), "10");
  EXPECT_EQ(stored("LOG"), "false");
  EXPECT_EQ(stored("MAX_FIT"), "5");
}

TEST_F(ParameterStore, ASaveUpdatesItsEntryInPlace) {
  writeParameters({{"RANGE", "10"}});
  loadAllParameters();
  RANGE.set(65);
  saveIntParameter(RANGE);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(file().c_str()));
  EXPECT_EQ(doc.select_nodes("/parameters/parameter[@name='RANGE']").size(), 1u);
  EXPECT_EQ(stored("RANGE"), "65");
}

TEST_F(ParameterStore, ConcurrentSavesLeaveAWellFormedFileWithEveryValue) {
  loadAllParameters();
  std::vector<IntParameter*> ints = {&parking_percentage,       &MAX_FIT,
                                     &CUSTOM_PARKING_PERCENTAGE, &HOLDING_THRESHOLD_METERS,
                                     &MAX_HOLDING_MINUTES};
  std::vector<StringParameter*> strings = {&BLOCK_CALLSIGN, &DESTINATION, &AIG_VERSION,
                                           &DBASE_VERSION};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < ints.size(); ++i) {
    threads.emplace_back([p = ints[i], i] {
      for (int k = 0; k <= 20; ++k) {
        p->set(static_cast<std::int32_t>(k + i));
        saveIntParameter(*p);
      }
    });
  }
  for (size_t i = 0; i < strings.size(); ++i) {
    threads.emplace_back([p = strings[i], i] {
      for (int k = 0; k <= 20; ++k) setAndSaveStringParameter(*p, fmt::format("v{}-{}", i, k));
    });
  }
  for (auto& t : threads) t.join();

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(file().c_str()));
  for (size_t i = 0; i < ints.size(); ++i) {
    EXPECT_EQ(stored(ints[i]->name()), std::to_string(ints[i]->clamp(static_cast<int>(20 + i))));
  }
  for (size_t i = 0; i < strings.size(); ++i) {
    EXPECT_EQ(stored(strings[i]->name()), fmt::format("v{}-20", i));
  }
  EXPECT_EQ(stored("LOG"), "true");
}

TEST_F(ParameterStore, ASaveThatCannotWriteIsLoggedAndDoesNotThrow) {
  coretest::writeFile(folder(), "a file where the program folder should be");
  RANGE.set(12);
  bool ok = true;
  EXPECT_NO_THROW(ok = saveIntParameter(RANGE));
  EXPECT_FALSE(ok);
  EXPECT_NE(log().find("===> "), std::string::npos);
  EXPECT_EQ(coretest::readFile(folder()), "a file where the program folder should be");
}

TEST_F(ParameterStore, RegisteredParametersAreLoadedAndClamped) {
  IntParameter x("MAIN_WINDOW_X", 400, -30000, 30000);
  registerParameter(x);
  registerParameter(x);
  writeParameters({{"MAIN_WINDOW_X", "-40000"}});
  loadAllParameters();
  EXPECT_EQ(x.value(), -30000);
  EXPECT_EQ(findParameter("MAIN_WINDOW_X"), &x);
  resetParametersForTests();
  EXPECT_EQ(x.value(), 400);
  unregisterParameter(x);
  EXPECT_EQ(findParameter("MAIN_WINDOW_X"), nullptr);
}

TEST_F(ParameterStore, LoadIntParameterReadsOneEntryAndLogsOnlyWhenAsked) {
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(R"(<parameters><parameter name="MAIN_WINDOW_Y" value="1200"/>
      <parameter name="OTHER" value="7"/></parameters>)"));
  IntParameter y("MAIN_WINDOW_Y", 20, -30000, 30000);
  EXPECT_EQ(loadIntParameter(y, doc, false), LoadOutcome::Taken);
  EXPECT_EQ(y.value(), 1200);
  EXPECT_EQ(log().find("MAIN_WINDOW_Y="), std::string::npos);
  IntParameter z("MAIN_WINDOW_Z", 20, -30000, 30000);
  EXPECT_EQ(loadIntParameter(z, doc, true), LoadOutcome::Missing);
  EXPECT_EQ(z.value(), 20);
  EXPECT_NE(log().find("MAIN_WINDOW_Z=20"), std::string::npos);
}

TEST_F(ParameterStore, NamesThatCouldBreakTheLookupAreRefused) {
  for (const char* bad : {"", "a'b", "x]|//*[@name", "Flush static", "a\"b"}) {
    EXPECT_FALSE(isSafeParameterName(bad)) << bad;
  }
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(R"(<parameters><parameter name="a'b" value="7"/></parameters>)"));
  IntParameter evil("a'b", 1, 0, 10);
  LoadOutcome outcome = LoadOutcome::Taken;
  EXPECT_NO_THROW(outcome = loadIntParameter(evil, doc, false));
  EXPECT_EQ(outcome, LoadOutcome::Missing);
  EXPECT_FALSE(saveIntParameter(evil));
}

// Every parameters.xml the fuzzer keeps: the values in force lie within their limits, and the
// file the load wrote back reads back to them.
TEST_F(ParameterStore, FuzzInputsLoadWithinTheLimitsAndReadBackAlike) {
  const auto inputs = coretest::fuzzInputs("parameters");
  for (const auto& [file, data] : inputs) EXPECT_TRUE(fuzzinput::loadParametersInput(data, tmp_.path())) << file;
}

}  // namespace
