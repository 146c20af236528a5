// The park airport as the run has it before the park airport list exists: the airport the user's
// aircraft stands at, when it has an airport file, with its stands and the traffic reader told.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "airports/airport_folders.h"
#include "airports/airport_list.h"
#include "core/download.h"
#include "links/traffic_reader.h"
#include "traffic_test_support.h"

namespace {

using traffictest::TrafficTest;

constexpr double kLowsLat = 47.793301;
constexpr double kLowsLon = 13.0043;
constexpr double kStandLat = 47.7970224;  // stand 1
constexpr double kStandLon = 13.0055043;

std::string airportFile(const std::string& icao, bool withMeta) {
  const std::string meta =
      withMeta ? " <meta>\n  <info name=\"author\" value=\"Ambrelvane\" />\n  <info name=\"version\" value=\"1.0.0\" />\n"
                 "  <info name=\"MSFS\" value=\"MSFS\" />\n </meta>\n"
               : "";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<airport icao=\"" + icao + "\">\n" + meta +
         " <parameters>\n  <parameter name=\"airport_name\" value=\"Salzburg Airport\" />\n"
         "  <parameter name=\"publisher\" value=\"stock\" />\n  <parameter name=\"handmade\" value=\"true\" />\n"
         "  <parameter name=\"altitude\" value=\"1411\" />\n  <parameter name=\"num_parkpos\" value=\"2\" />\n"
         " </parameters>\n <parkpositions>\n"
         "  <parkpos id=\"1\" lat=\"47.7970224\" lon=\"13.0055043\" heading=\"63.5\" radius=\"20\" neighbours=\"2\" "
         "manual=\"false\" radius_change=\"false\" cargo_change=\"false\" cargo=\"false\" ramp=\"false\" heli=\"false\" />\n"
         "  <parkpos id=\"2\" lat=\"47.7966399\" lon=\"13.0057882\" heading=\"63.5\" radius=\"20\" neighbours=\"1\" "
         "manual=\"false\" radius_change=\"false\" cargo_change=\"false\" cargo=\"false\" ramp=\"false\" heli=\"false\" />\n"
         " </parkpositions>\n</airport>\n";
}

class ParkAirportLeast : public TrafficTest {
 protected:
  void SetUp() override {
    TrafficTest::SetUp();
    g_airportsFolder = folder_ / "airports";
    std::filesystem::create_directories(g_airportsFolder / "archive" / "stock");
    coretest::writeFile(g_airportsFolder / "archive" / "stock" / "LOWS.xml", airportFile("LOWS", true));
    // A missing stock file is asked for on the download site: a port nobody listens on refuses.
    setDownloadSiteUrl("http://127.0.0.1:1/");
    setAirportList({{"LOWS", "SZG", kLowsLat, kLowsLon, 1411.0},
                    {"LOWI", "INN", 47.2602, 11.3439, 1906.0},
                    {"EDMS", "", 48.8694, 12.5239, 1108.0}});
    g_trafficReader.clearParkAirportPosition();
    g_trafficReader.clearReferenceElevation();
  }
  void TearDown() override {
    TrafficTest::TearDown();
    resetAirportList();
    resetAirportFolders();
    resetDownloadSettings();
    g_trafficReader.clearParkAirportPosition();
    g_trafficReader.clearReferenceElevation();
  }
};

TEST_F(ParkAirportLeast, TheAirportTheUserStandsAtBecomesTheParkAirportAndIsForgottenWhenCleared) {
  setUser(kStandLat, kStandLon, 1411.0, true);
  handleParkAirport(true);

  EXPECT_EQ(g_parkAirport, "LOWS");
  EXPECT_EQ(g_parkAirportIata, "SZG");
  EXPECT_DOUBLE_EQ(g_parkAirportLat, kLowsLat);
  EXPECT_DOUBLE_EQ(g_parkAirportLon, kLowsLon);
  EXPECT_DOUBLE_EQ(g_parkAirportElevation, 1411.0);
  ASSERT_EQ(g_parkStands.size(), 2u);
  EXPECT_TRUE(g_parkAirportLoaded.load());
  // Ground traffic at the airport is kept from now on, and judged against its elevation.
  const kvo::TrafficReference ref = g_trafficReader.reference();
  EXPECT_TRUE(ref.parkAirportSet);
  EXPECT_DOUBLE_EQ(ref.parkLat, kLowsLat);
  EXPECT_TRUE(ref.referenceElevationKnown);
  EXPECT_DOUBLE_EQ(ref.referenceElevation, 1411.0);
  EXPECT_NE(log().find("The park airport is LOWS (SZG)"), std::string::npos) << log();
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::parkAirportName), "Salzburg Airport");
  EXPECT_EQ(g_mainWindow.standCount.load(), 2u);
  EXPECT_TRUE(g_mainWindow.parkFileLoaded.load());

  // Chosen once: a later call while the user taxis elsewhere keeps it and reads nothing again.
  g_parkStands.pop_back();
  setUser(47.2602, 11.3439, 1906.0, true);
  handleParkAirport(false);
  EXPECT_EQ(g_parkAirport, "LOWS");
  EXPECT_EQ(g_parkStands.size(), 1u);

  clearParkAirport();
  EXPECT_TRUE(g_parkAirport.empty());
  EXPECT_TRUE(g_parkAirportIata.empty());
  EXPECT_EQ(g_parkAirportElevation, 0.0);
  EXPECT_TRUE(g_parkStands.empty());
  EXPECT_FALSE(g_parkAirportLoaded.load());
  EXPECT_FALSE(g_trafficReader.reference().parkAirportSet);
  EXPECT_FALSE(g_trafficReader.reference().referenceElevationKnown);
  EXPECT_TRUE(g_mainWindow.displayText(&kvo::MainWindow::parkAirportName).empty());
  EXPECT_EQ(g_mainWindow.standCount.load(), 0u);
}

TEST_F(ParkAirportLeast, NoParkAirportUnlessTheUserStandsNearAnAirportWithAReadableFile) {
  struct Case {
    const char* name;
    double lat;
    double lon;
    std::optional<bool> onGround;
    std::function<void(const std::filesystem::path&)> prepare;
    const char* message;  // the message line afterwards; empty for none
  };
  const std::vector<Case> cases{
      {"in the air over the airport", kStandLat, kStandLon, false, {}, ""},
      {"on-ground state not known yet", kStandLat, kStandLon, std::nullopt, {}, ""},
      {"no position yet", 0.0, 0.0, true, {}, ""},
      // 6 nm north of Salzburg, no other airport near.
      {"6 nm from every airport", kLowsLat + 0.1, kLowsLon, true, {},
       "User aircraft on the ground, no airport in sight"},
      {"at an airport without a file", 47.2602, 11.3439, true, {},
       "User aircraft on the ground at LOWI, no airport file found"},
      {"a file the reader refuses", kStandLat, kStandLon, true,
       [](const std::filesystem::path& stock) { coretest::writeFile(stock / "LOWS.xml", airportFile("LOWS", false)); },
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    coretest::writeFile(g_airportsFolder / "archive" / "stock" / "LOWS.xml", airportFile("LOWS", true));
    if (c.prepare) c.prepare(g_airportsFolder / "archive" / "stock");
    g_mainWindow.clearMessage();
    setUser(c.lat, c.lon, 1411.0, c.onGround.value_or(false));
    if (!c.onGround) g_userOnGround.reset();

    handleParkAirport(true);

    EXPECT_TRUE(g_parkAirport.empty());
    EXPECT_TRUE(g_parkStands.empty());
    EXPECT_FALSE(g_trafficReader.reference().parkAirportSet);
    EXPECT_FALSE(g_trafficReader.reference().referenceElevationKnown);
    EXPECT_EQ(g_parkAirportElevation, 0.0);
    const std::string shown = g_mainWindow.displayText(&kvo::MainWindow::messageText);
    if (c.message != nullptr) {
      EXPECT_EQ(shown, c.message);
    } else {
      EXPECT_FALSE(shown.empty()) << "the reader's reason is shown";
    }
  }
}

}  // namespace
