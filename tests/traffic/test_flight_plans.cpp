// Flight plans: the eight lines by category, codes from the feed that cannot go into the file, the
// file handed to the simulator when the aircraft is created, and the folder's life.
#include <gmock/gmock.h>

#include "core/files.h"
#include "platform/test_support.h"
#include "traffic_test_support.h"

using namespace traffictest;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace fs = std::filesystem;

namespace {

class FlightPlans : public TrafficTest {
 protected:
  void SetUp() override {
    TrafficTest::SetUp();
    appData_.emplace("APPDATA", (folder_ / "roaming").string());
    ASSERT_TRUE(createFlightPlanFolders());
  }
  void TearDown() override {
    gf_removeFlightPlanFolder();
    appData_.reset();
    TrafficTest::TearDown();
  }
  static kvo::LiveAircraft aircraft(SizeCategory category, std::string origin, std::string destination) {
    kvo::LiveAircraft ac;
    ac.callsign = "BAW1";
    ac.sizeCategory = category;
    ac.origin = std::move(origin);
    ac.destination = std::move(destination);
    return ac;
  }
  std::optional<kvo::platformtest::ScopedEnv> appData_;
};

TEST_F(FlightPlans, EightLinesWithTheRuleOfTheCategory) {
  EXPECT_EQ(g_flightPlanFolder, folder_ / "roaming" / "Ambrelvane" / "orig_dest");
  const fs::path path = flightPlanPath(1234);
  EXPECT_EQ(path, g_flightPlanFolder / "1234.pln");
  ASSERT_TRUE(writeFlightPlan(path, aircraft(Heavy, "EGLL", "KJFK")));
  EXPECT_EQ(coretest::readFile(path),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SimBase.Document Type=\"AceXML\" version=\"4,3\">\n"
            "<FlightPlan.FlightPlan>\n<FPType>IFR</FPType>\n<DepartureID>EGLL</DepartureID>\n"
            "<DestinationID>KJFK</DestinationID>\n</FlightPlan.FlightPlan>\n</SimBase.Document>\n");

  const std::vector<std::pair<SizeCategory, const char*>> rules{
      {Light, "VFR"}, {Buzjets, "IFR"}, {Large, "IFR"}, {Heavy, "IFR"}, {HighPerf, "VFR"}, {Rotorcraft, "VFR"}};
  for (const auto& [category, rule] : rules) {
    SCOPED_TRACE(rule);
    ASSERT_TRUE(writeFlightPlan(path, aircraft(category, "LOWS", "EDDF")));
    EXPECT_THAT(coretest::readFile(path), HasSubstr(std::string("\n<FPType>") + rule + "</FPType>\n"));
  }
}

TEST_F(FlightPlans, CodesThatAreNoAirportCodesGiveNoFile) {
  const std::vector<std::pair<std::string, std::string>> codes{
      {"ED/DF", "LOWS"}, {"EDDF", "LO<WS"}, {"EDDF\n", "LOWS"}, {"EDDF", "ABCDEFGHI"}, {"eddf", "LOWS"}, {"", "LOWS"}};
  for (const auto& [origin, destination] : codes) {
    SCOPED_TRACE(origin + " " + destination);
    const kvo::LiveAircraft ac = aircraft(Large, origin, destination);
    EXPECT_FALSE(flightPlanCodesUsable(ac));
    EXPECT_FALSE(writeFlightPlan(flightPlanPath(77), ac));
    EXPECT_FALSE(fs::exists(flightPlanPath(77)));
  }
  EXPECT_THAT(log(), HasSubstr("no flight plan: origin 'ED/DF' or destination 'LOWS' is no airport code"));
  EXPECT_THAT(log(), HasSubstr("origin 'EDDF?' or destination 'LOWS'"));
  EXPECT_TRUE(flightPlanCodesUsable(aircraft(Large, "ABCDEFGH", "A1")));
}

TEST_F(FlightPlans, ACreatedAircraftGetsItsPlanWhileItLivesAndOneLineWhenItCannot) {
  kvo::LiveAircraft& ac = addLive(20001, "DLH1", AircraftState::Adding2Sim);
  ac.origin = "EDDF";
  ac.destination = "LOWS";
  kvo::LiveAircraft& bad = addLive(20002, "DLH2", AircraftState::Adding2Sim);
  bad.origin = "EDDF";
  bad.destination = "LO/WS";
  postResult(150, 20001, SimResultKind::CreatedLive, 0.0, 3000.0);
  postResult(151, 20002, SimResultKind::CreatedLive, 0.0, 3000.0);
  tick();

  ASSERT_TRUE(fs::exists(g_flightPlanFolder / "150.pln"));
  const auto plans = callArgs("SimConnect_AISetAircraftFlightPlan", 1);
  EXPECT_EQ(plans, std::vector<std::string>{"\"" + (g_flightPlanFolder / "150.pln").string() + "\""});
  EXPECT_EQ(live(20001)->flightPlanWritten, 1);
  EXPECT_EQ(live(20002)->flightPlanWritten, 0);
  EXPECT_FALSE(fs::exists(g_flightPlanFolder / "151.pln"));
  EXPECT_THAT(log(), HasSubstr("no flight plan: origin 'EDDF' or destination 'LO/WS' is no airport code"));
  EXPECT_THAT(log(), Not(HasSubstr("creating a flight plan failed")));

  // The simulator's removal takes the file with the aircraft.
  postResult(150, 0, SimResultKind::RemovedBySim);
  tick();
  EXPECT_FALSE(fs::exists(g_flightPlanFolder / "150.pln"));
}

TEST_F(FlightPlans, TheFolderIsMadeAtStartAndGoesAtTheClose) {
  ASSERT_TRUE(fs::is_directory(g_flightPlanFolder));
  ASSERT_TRUE(writeFlightPlan(flightPlanPath(9), aircraft(Light, "LOWS", "LOWI")));
  EXPECT_TRUE(gf_removeFlightPlanFolder());
  EXPECT_FALSE(fs::exists(g_flightPlanFolder));
  const std::size_t before = log().size();
  EXPECT_TRUE(gf_removeFlightPlanFolder()) << "already gone";
  EXPECT_EQ(log().size(), before) << "nothing logged";

  // Never made: nothing is removed and no plan is written into the working folder.
  g_flightPlanFolder.clear();
  EXPECT_TRUE(gf_removeFlightPlanFolder());
  EXPECT_TRUE(fs::exists(folder_.path()));
  EXPECT_FALSE(writeFlightPlan(flightPlanPath(9), aircraft(Light, "LOWS", "LOWI")));
  EXPECT_FALSE(fs::exists("9.pln"));

  // A file where the program's folder should be: no folder, false.
  fs::remove_all(folder_ / "roaming");
  fs::create_directories(folder_ / "roaming");
  coretest::writeFile(folder_ / "roaming" / "Ambrelvane", "a file");
  EXPECT_FALSE(createFlightPlanFolders());
}

}  // namespace
