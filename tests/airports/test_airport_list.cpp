#include <algorithm>
#include <cmath>
#include <numbers>
#include <filesystem>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "airports/airport_list.h"
#include "core/geometry.h"
#include "core/log.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

const fs::path kShippedList = fs::path(AMBV_DATA_DIR) / "input" / "airports_msfs.xml";

class AirportList : public ::testing::Test {
 protected:
  void SetUp() override {
    resetAirportList();
    ASSERT_TRUE(openLogFile(dir_.path()));
  }
  void TearDown() override {
    closeLogFile();
    resetAirportList();
  }
  std::string logText() { return coretest::readFile(dir_ / "Log.txt"); }

  coretest::TempFolder dir_;
};

kvo::Airport airport(const char* icao, double lat, double lon, const char* iata = "") {
  return kvo::Airport{icao, iata, lat, lon, 100.0};
}

// The answer by looking at every airport, for comparison with the index.
std::optional<std::string> closestByScan(kvo::LatLon p) {
  std::optional<std::string> best;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (const auto& a : g_airports) {
    const double d = distanceNm(p.lat, p.lon, a.latitude, a.longitude);
    if (d <= kClosestAirportRangeNm && d < bestDistance) {
      bestDistance = d;
      best = a.icao;
    }
  }
  return best;
}

TEST_F(AirportList, ShippedListReadsSortedWithNamesAndLabels) {
  ASSERT_TRUE(readAirportsFile(kShippedList));
  EXPECT_EQ(g_airports.size(), 7691u);
  EXPECT_TRUE(std::is_sorted(g_airports.begin(), g_airports.end(),
                             [](const kvo::Airport& a, const kvo::Airport& b) { return a.icao < b.icao; }));
  const kvo::Airport* lows = findAirport("LOWS");
  ASSERT_NE(lows, nullptr);
  EXPECT_EQ(lows->iata, "SZG");
  EXPECT_EQ(lows->altitude, 1411.0);
  EXPECT_EQ(airportName("LOWS"), "Salzburg Airport");
  EXPECT_EQ(airportLabel("LOWS"), "LOWS (SZG)");
  EXPECT_EQ(airportLabel("07MT"), "07MT");  // no IATA code
  EXPECT_EQ(airportLabel("ZZZZ"), "ZZZZ");  // not in the list
  EXPECT_EQ(airportLabel(""), "?");
  EXPECT_EQ(findAirport("LOW"), nullptr);
  EXPECT_EQ(airportXmlPath("LOWS"), fs::path("LOWS.xml"));
  EXPECT_EQ(airportXmlPath("airports/learned/stock/LOWS"), fs::path("airports/learned/stock/LOWS.xml"));

  // Once read, later calls do nothing, whatever they name.
  EXPECT_TRUE(readAirportsFile(dir_ / "missing.xml"));
  EXPECT_EQ(g_airports.size(), 7691u);
}

TEST_F(AirportList, BadRecordsAreSkippedAndAFailedReadCanBeRepeated) {
  EXPECT_FALSE(readAirportsFile(dir_ / "missing.xml"));
  coretest::writeFile(dir_ / "list.xml",
                      "<airports><meta/>"
                      "<airport icao=\"BBBB\" iata=\"BBB\" lat=\"1\" lon=\"2\" elev=\"x\"/>"
                      "<airport icao=\"AAAA\" lat=\"1\" lon=\"2\" elev=\"12\"/>"
                      "<airport icao=\"BBBB\" lat=\"5\" lon=\"5\" elev=\"1\"/>"
                      "<airport icao=\"\" lat=\"1\" lon=\"2\"/>"
                      "<airport icao=\"CCCC\" lon=\"2\"/>"
                      "<airport icao=\"DDDD\" lat=\"nan\" lon=\"2\"/>"
                      "<airport icao=\"EEEE\" lat=\"1\" lon=\"200\"/>"
                      "</airports>");
  ASSERT_TRUE(readAirportsFile(dir_ / "list.xml"));
  ASSERT_EQ(g_airports.size(), 2u);
  EXPECT_EQ(g_airports[0].icao, "AAAA");
  EXPECT_EQ(g_airports[1].icao, "BBBB");
  EXPECT_EQ(g_airports[1].latitude, 1.0);  // the first of a repeated code is kept
  EXPECT_EQ(g_airports[1].altitude, 0.0);  // unreadable elevation
  EXPECT_NE(logText().find("5 airport records skipped (1 repeated code)"), std::string::npos);
  EXPECT_NE(logText().find("Airport names not read"), std::string::npos);
  EXPECT_EQ(airportName("AAAA"), "");
}

TEST_F(AirportList, ClosestAirportAtTheEdgeOfFiveNauticalMiles) {
  setAirportList({airport("EDGE", 10.0, 20.0), airport("FARR", 10.5, 20.0)});
  EXPECT_EQ(findClosestAirport({10.0 + 4.999 / 60.0, 20.0}), "EDGE");
  EXPECT_EQ(findClosestAirport({10.0 - 5.001 / 60.0, 20.0}), std::nullopt);
  const double east = 4.999 / 60.0 / std::cos(10.0 * std::numbers::pi / 180.0);
  EXPECT_EQ(findClosestAirport({10.0, 20.0 + east}), "EDGE");
  EXPECT_EQ(findClosestAirport({10.0, 20.0 + east * 5.002 / 4.999}), std::nullopt);
  EXPECT_EQ(findClosestAirport({10.3, 20.0}), std::nullopt);  // 18 nm from one, 12 from the other
}

TEST_F(AirportList, ClosestAirportAcrossTheAntimeridianAndThePoles) {
  setAirportList({airport("EAST", 0.0, 179.98), airport("WEST", 10.0, -179.99), airport("NPOL", 89.99, 0.0),
                  airport("SPOL", -89.98, 45.0)});
  EXPECT_EQ(findClosestAirport({0.0, -179.99}), "EAST");  // 1.8 nm across the line
  EXPECT_EQ(findClosestAirport({10.0, 179.99}), "WEST");
  EXPECT_EQ(findClosestAirport({89.99, 180.0}), "NPOL");  // 1.2 nm over the pole
  EXPECT_EQ(findClosestAirport({90.0, -123.0}), "NPOL");
  EXPECT_EQ(findClosestAirport({-90.0, 0.0}), "SPOL");
  EXPECT_EQ(findClosestAirport({-89.9, -135.0}), std::nullopt);  // 7.2 nm over the pole
  setAirportList({airport("NPO2", 89.95, 90.0)});
  EXPECT_EQ(findClosestAirport({89.97, -90.0}), "NPO2");  // 4.8 nm over the pole
  EXPECT_EQ(findClosestAirport({89.96, -90.0}), std::nullopt);  // 5.4 nm
}

TEST_F(AirportList, ClosestAirportNearestWinsTiesByCodeAndNonsenseFindsNothing) {
  EXPECT_EQ(findClosestAirport({1.0, 1.0}), std::nullopt);  // empty list
  setAirportList({airport("BBBB", 1.0, 1.02), airport("AAAA", 1.0, 0.98), airport("CCCC", 1.0, 1.01)});
  EXPECT_EQ(findClosestAirport({1.0, 1.0}), "CCCC");
  EXPECT_EQ(findClosestAirport({1.0, 0.995}), "AAAA");
  setAirportList({airport("BBBB", 1.0, 1.015625), airport("AAAA", 1.0, 0.984375)});  // exactly as far
  EXPECT_EQ(findClosestAirport({1.0, 1.0}), "AAAA");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(findClosestAirport({nan, 1.0}), std::nullopt);
  EXPECT_EQ(findClosestAirport({1.0, std::numeric_limits<double>::infinity()}), std::nullopt);
  EXPECT_EQ(findClosestAirport({95.0, 1.0}), std::nullopt);
  // A list changed without setAirportList is still searched right.
  g_airports.push_back(airport("ZZZZ", 40.0, 40.0));
  EXPECT_EQ(findClosestAirport({40.0, 40.01}), "ZZZZ");
}

TEST_F(AirportList, ClosestAirportAgreesWithAFullScanOverTheWorld) {
  ASSERT_TRUE(readAirportsFile(kShippedList));
  std::mt19937 engine(12345);
  std::uniform_int_distribution<std::size_t> pick(0, g_airports.size() - 1);
  std::uniform_real_distribution<double> offset(-0.07, 0.07);
  int found = 0;
  for (int i = 0; i < 2000; ++i) {
    const auto& a = g_airports[pick(engine)];
    const kvo::LatLon p{std::clamp(a.latitude + offset(engine), -90.0, 90.0),
                        std::remainder(a.longitude + offset(engine) * 1.5, 360.0)};
    const auto expected = closestByScan(p);
    ASSERT_EQ(findClosestAirport(p), expected) << p.lat << "," << p.lon;
    found += expected.has_value();
  }
  EXPECT_GT(found, 800);  // both answers occur often
  EXPECT_EQ(findClosestAirport({47.7933, 13.0043}), "LOWS");
}

}  // namespace
