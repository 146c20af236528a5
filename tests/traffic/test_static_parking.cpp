// Static parking: the plan per half hour of the week and its settings, the re-plan that keeps,
// replaces and adds static aircraft, their creation at the pace of the creation queue, their
// removal, the close of the park airport and the two gauges.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <numbers>
#include <stdexcept>

#include "airports/airport_file.h"
#include "core/timeutil.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
#include "shared_state/run_clock.h"
#include "stand_test_support.h"

namespace {

using kvo::AircraftState;
using kvo::GroundPhase;
using kvo::StandUse;
using standtest::slot;

constexpr std::uint64_t halves(std::uint32_t lo, std::uint32_t hi) {
  return ((std::uint64_t{2} << hi) - 1) & ~((std::uint64_t{1} << lo) - 1);
}

StandUse use(std::string airline, std::string key, std::string cs, std::uint32_t day, std::uint64_t halfHours,
             std::uint32_t real = 1, std::string type = "A20N") {
  StandUse u;
  u.airline = std::move(airline);
  u.type = std::move(type);
  u.key = std::move(key);
  const auto colon = cs.find(':');
  u.callsign = cs.substr(0, colon);
  if (colon != std::string::npos) u.secondCallsign = cs.substr(colon + 1);
  u.weekday = day;
  u.halfHours = halfHours;
  u.real = real;
  return u;
}

class StaticParkingTest : public standtest::StandTest {
 protected:
  void SetUp() override {
    StandTest::SetUp();
    CUSTOM_PARKING_PERCENTAGE.set(100);
    g_currentWeekSlot = slot(3, 20);  // Wednesday 10:00
  }
  void TearDown() override {
    setParkFileSaverForTests({});
    g_trafficReader.takeCollectedCallsigns();
    StandTest::TearDown();
  }
  // Stand n, 100 m apart in a row east of the user, heading 63.5, with its uses numbered.
  static kvo::Stand& planStand(std::uint32_t n, std::vector<StandUse> uses, std::uint8_t heli = 0) {
    kvo::Stand& s = stand(n, "S" + std::to_string(n), 100.0 * n, 20.0);
    s.heading = 63.5;
    s.heli = heli;
    s.uses = std::move(uses);
    std::int32_t number = 0;
    for (StandUse& u : s.uses) u.number = ++number;
    return s;
  }
  // The candidates as "stand:fit", by stand.
  static std::string plan() {
    std::vector<StaticCandidate> sorted = g_staticCandidates;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.standId < b.standId; });
    std::string out;
    for (const StaticCandidate& c : sorted) out += fmt::format("{}S{}:{}", out.empty() ? "" : " ", c.standId, c.fitSteps);
    return out;
  }
  // Every candidate created and its object reported: all static aircraft active.
  static void createAll() {
    while (!g_staticCandidates.empty()) spawnStaticAircraft();
    g_queuedCreates.clear();
    std::uint32_t object = 500;
    for (kvo::StaticAircraft& s : g_staticAircraft) {
      s.state = AircraftState::Active;
      s.objectId = object++;
    }
  }
  static kvo::StaticAircraft* staticOn(std::uint32_t standId) {
    for (auto& s : g_staticAircraft) {
      if (s.standId == standId) return &s;
    }
    return nullptr;
  }
  // A line of the feed with the callsign reaches the traffic reader while it collects.
  void flyLive(const std::string& callsign) {
    g_rangeNm = 50.0;
    g_trafficReader.setReferencePosition(traffictest::kUserLat, traffictest::kUserLon);
    line_ = fmt::format("RTTFC,4000001,{},{},9000,0,1000,90,250,{},A20N,D-ABCD,EDDF,LOWS,1700000000,0,0,adsb_icao,0,"
                        "0,-1,0,0,-1,0,90,0,0,A3",
                        traffictest::kUserLat + 0.1, traffictest::kUserLon, callsign);
    g_trafficReader.fields.clear();
    for (std::size_t at = 0;;) {
      const std::size_t comma = line_.find(',', at);
      g_trafficReader.fields.push_back(std::string_view(line_).substr(at, comma - at));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    kvo::FeedRecord record;
    g_trafficReader.decodeLine(record);
  }

 private:
  std::string line_;
};

// The plan per slot, weekday and settings over six stands: S1 real Wednesday 10:00-11:00, S2
// real Wednesday 09:00, S3 soft Wednesday 10:00, S4 real Friday 10:00, S5 a heli stand
// Wednesday 10:00, S6 with nothing.
struct PlanCase {
  const char* name;
  kvo::WeekSlot now;
  std::function<void()> settings;
  std::string plan;
  std::int32_t wanted;
  bool soft;
  std::string fit;  // fit steps reached by the real and the soft pass (MAX_FIT + 1: not enough)
};

TEST_F(StaticParkingTest, ThePlanTakesTheUsesOfTheHalfHourRealFirstAsTheSettingsSay) {
  const std::vector<PlanCase> cases{
      {"all on: real, widened back to 09:00, then soft", slot(3, 20), [] {}, "S1:0 S2:2 S3:0 S5:0", 6, true, "48/48"},
      {"no fit beyond the half hour", slot(3, 20), [] { MAX_FIT.set(0); }, "S1:0 S3:0 S5:0", 6, true, "1/1"},
      {"neither soft nor fake", slot(3, 20), [] { PARK_SOFT.set(false); }, "S1:0 S2:2 S5:0", 6, false, "48/-1"},
      {"fake alone allows the soft pass", slot(3, 20), [] { PARK_SOFT.set(false); PARK_FAKE.set(true); },
       "S1:0 S2:2 S3:0 S5:0", 6, true, "48/48"},
      {"week: any weekday", slot(3, 20), [] { WEEK.set(true); MAX_FIT.set(0); }, "S1:0 S3:0 S4:0 S5:0", 6, true, "1/1"},
      {"Friday", slot(5, 20), [] { MAX_FIT.set(0); }, "S4:0", 6, false, "1/1"},
      {"no helicopters", slot(3, 20), [] { HELICOPTERS.set(false); MAX_FIT.set(0); }, "S1:0 S3:0", 6, true, "1/1"},
      // 30 % of 6 stands is 2: the first round has them, and the soft pass is not needed.
      {"parking percentage", slot(3, 20), [] { CUSTOM_PARKING_PERCENTAGE.set(-1); }, "S1:0 S5:0", 2, false, "0/-1"},
      {"custom percentage", slot(3, 20), [] { CUSTOM_PARKING_PERCENTAGE.set(50); }, "S1:0 S2:2 S5:0", 3, false, "2/-1"},
      {"max park", slot(3, 20), [] { MAX_PARK_SEL.set(1); }, "S1:0", 1, false, "0/-1"},
      {"max park 0 switches it off", slot(3, 20), [] { MAX_PARK_SEL.set(0); }, "", 0, false, ""},
      // Thursday 00:30 looks back across midnight to Wednesday 10:30 (28 back), 10:00, 09:00.
      {"across midnight", slot(4, 1), [] { PARK_SOFT.set(false); }, "S1:28 S2:31 S5:29", 6, false, "48/-1"},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    resetParametersForTests();
    CUSTOM_PARKING_PERCENTAGE.set(100);
    RANDOM.set(false);
    g_parkStands.clear();
    planStand(1, {use("DLH", "D-AAA1", "DLH1", 3, halves(20, 21))});
    planStand(2, {use("DLH", "D-AAA2", "DLH2", 3, halves(18, 18))});
    planStand(3, {use("EZY", "G-EZA3", "EZY3", 3, halves(20, 20), 0)});
    planStand(4, {use("DLH", "D-AAA4", "DLH4", 5, halves(20, 20))});
    planStand(5, {use("DLH", "D-AAA5", "DLH5", 3, halves(20, 20), 1, "A139")}, 1);
    planStand(6, {});
    g_currentWeekSlot = c.now;
    c.settings();
    reportStaticParking();
    EXPECT_EQ(plan(), c.plan);
    EXPECT_EQ(g_mainWindow.wantedParkCount.load(), c.wanted);
    EXPECT_EQ(g_staticParkingBusy.load(), !c.plan.empty());
    EXPECT_EQ(g_mainWindow.softStaticParking.load(), c.soft);
    if (!c.fit.empty()) {
      EXPECT_EQ(fmt::format("{}/{}", g_realFitSteps, g_softFitSteps), c.fit);
    }
  }
  EXPECT_EQ(kvo::weekSlotBack(slot(2, 0), 3), slot(1, 45)) << "Tuesday 00:15 three back: Monday 22:30";
  EXPECT_EQ(kvo::weekSlotBack(slot(1, 1), 2), slot(7, 47));
}

TEST_F(StaticParkingTest, TheWantedCountIsAShareOfTheStandsUpToMaxPark) {
  struct Case {
    std::size_t stands;
    std::int32_t percent;
    std::int32_t maxPark;
    std::int64_t wanted;
    std::int32_t shownPercent;
  };
  const std::vector<Case> cases{
      // Up to 3 stands at least one is wanted below 50 %, and also none at all.
      {0, 30, 500, 1, 0}, {0, 50, 500, 1, 0}, {1, 30, 500, 1, 100}, {3, 10, 500, 1, 33}, {3, 30, 500, 1, 33},
      {3, 50, 500, 2, 67}, {4, 10, 500, 0, 0}, {4, 30, 500, 1, 25}, {10, 30, 500, 3, 30}, {10, 100, 4, 4, 40},
      {10, 100, 0, 0, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stands << " stands, " << c.percent << " %, max " << c.maxPark);
    g_parkStands.clear();
    for (std::size_t i = 1; i <= c.stands; ++i) planStand(static_cast<std::uint32_t>(i), {});
    CUSTOM_PARKING_PERCENTAGE.set(c.percent);
    MAX_PARK_SEL.set(c.maxPark);
    EXPECT_EQ(wantedStaticCount(), c.wanted);
    EXPECT_EQ(g_mainWindow.wantedParkPercent.load(), c.shownPercent);
  }
}

TEST_F(StaticParkingTest, ReservedUsersTakenAndTooNarrowStandsStayFree) {
  planStand(1, {use("DLH", "D-AAA1", "DLH1", 3, halves(20, 20))});  // reserved
  planStand(2, {use("DLH", "D-AAA2", "DLH2", 3, halves(20, 20))});  // flies live as DLH2_
  planStand(3, {use("DLH", "D-AAA3", "DLH3", 3, halves(20, 20))}).adjacentIds = {4};
  planStand(4, {use("DLH", "D-AAA4", "DLH4", 3, halves(20, 20))}).adjacentIds = {3};
  planStand(5, {use("DLH", "D-AAA5", "DLH5", 3, halves(20, 20))});  // the user stands here
  planStand(6, {use("DLH", "D-AAA6", "", 3, halves(20, 20))});      // no callsign
  planStand(7, {use("DLH", "D-AAA3", "DLH7", 3, halves(20, 20))});  // S3's airframe
  // Beside an active static A20N 40 m away a B77W (32.4 m half span) does not fit, an A20N does.
  planStand(8, {use("BAW", "G-BAW8", "BAW8", 3, halves(20, 20), 1, "B77W"), use("DLH", "D-AAA8", "DLH8", 3, halves(20, 20))})
      .adjacentIds = {9};
  const kvo::Stand& s9 = stand(9, "S9", 840.0, 20.0);
  kvo::StaticAircraft& parked = addStatic(90, "X*", AircraftState::Active, 9, 90);
  parked.standLat = s9.latitude;
  parked.standLon = s9.longitude;
  parked.coupledCallsign1.clear();
  g_reservedStand = "S1";
  setUser(traffictest::kUserLat, traffictest::kUserLon + 500.0 * standtest::kMLon, 0.0, true);
  g_trafficReader.startCollectingCallsigns();
  flyLive("DLH2_");
  reportStaticParking();
  EXPECT_EQ(plan(), "S3:0 S6:0 S8:0");
  EXPECT_EQ(standById(2).uses[0].number, 0) << "switched off until the next re-plan";
  EXPECT_EQ(standById(7).uses[0].number, 0);
  for (const StaticCandidate& c : g_staticCandidates) {
    if (c.standId == 8) {
      EXPECT_EQ(c.type, "A20N");
    }
  }
}

// The callsign a static aircraft shows, from its candidate's continues flag.
TEST_F(StaticParkingTest, ACandidateShowsItsFirstCallsignWhileItsUseGoesOnAndItsSecondAtTheEnd) {
  struct Case {
    const char* name;
    std::vector<StandUse> uses;
    kvo::WeekSlot now;
    std::string callsign;
  };
  const std::vector<Case> cases{
      {"use goes on", {use("DLH", "D-A1", "DLH1:DLH2", 3, halves(20, 21))}, slot(3, 20), "DLH1*"},
      {"last half hour", {use("DLH", "D-A1", "DLH1:DLH2", 3, halves(19, 20))}, slot(3, 20), "DLH2*"},
      {"one callsign", {use("DLH", "D-A1", "DLH1__", 3, halves(20, 20))}, slot(3, 20), "DLH1*"},
      {"already starred", {use("DLH", "D-A1", "DLH1*:DLH2", 3, halves(20, 21))}, slot(3, 20), "DLH1*"},
      {"no first callsign: airline and id", {use("DLH", "D-A1", ":DLH2", 3, halves(20, 21))}, slot(3, 20), "DLH42*"},
      {"midnight, goes on tomorrow",
       {use("DLH", "D-A1", "DLH1:DLH2", 3, halves(47, 47)), use("DLH", "D-A1", "DLH1:DLH2", 4, halves(0, 3))},
       slot(3, 47), "DLH1*"},
      {"midnight, ends",
       {use("DLH", "D-A1", "DLH1:DLH2", 3, halves(47, 47)), use("DLH", "D-A1", "DLH1:DLH2", 4, halves(1, 3))},
       slot(3, 47), "DLH2*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_parkStands.clear();
    g_staticAircraft.clear();
    planStand(1, c.uses);
    g_currentWeekSlot = c.now;
    g_staticSerial = 41;
    reportStaticParking();
    spawnStaticAircraft();
    ASSERT_EQ(g_staticAircraft.size(), 1u);
    EXPECT_EQ(g_staticAircraft[0].callsign, c.callsign);
  }
  EXPECT_EQ(staticCallsign("ABC123__"), "ABC123*");
  EXPECT_EQ(staticCallsign("ABC*"), "ABC*");
  g_staticSerial = 9999;
  EXPECT_EQ(nextStaticInternalId(), 1u) << "0 names no aircraft for the pairing";
}

// The simulator's answers are paired with the aircraft by ATC id: two uses that give one ATC id
// never show at once, however the callsigns are written, and an aircraft is known by the id it
// shows. One use per stand, Wednesday 10:00-11:00 unless said, now 10:00.
TEST_F(StaticParkingTest, UsesThatGiveOneAtcIdNeverShowAtOnce) {
  struct Use {
    std::string cs;
    std::uint64_t halfHours = halves(20, 21);
  };
  struct Case {
    const char* name;
    std::vector<Use> uses;
    std::string shown;  // first callsign of an aircraft already shown elsewhere ("" none)
    bool replan;        // a re-plan at 10:30 follows
    std::string atcIds;  // of the aircraft not on their way out, sorted
  };
  const std::vector<Case> cases{
      {"first of two, and with underscores", {{"DLH:1234"}, {"DLH___"}}, "", false, "DLH*"},
      {"one underscore", {{"DLH"}, {"DLH_"}}, "", false, "DLH*"},
      {"already starred", {{"DLH*"}, {"DLH"}}, "", false, "DLH*"},
      {"a second callsign shown at the use's end", {{"DLH:1234", halves(19, 20)}, {"1234"}}, "", false, "1234*"},
      {"an aircraft shown already", {{"DLH"}}, "DLH__", false, "DLH*"},
      {"different ones stay apart", {{"DLH1"}, {"DLH12"}, {"DLH1_2"}, {"1DLH1"}}, "", false,
       "1DLH1* DLH1* DLH12* DLH1_2*"},
      {"the last half hour under the second callsign", {{"DLH___:1234"}}, "", true, "1234*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_parkStands.clear();
    g_staticAircraft.clear();
    g_removeQueue.clear();
    g_currentWeekSlot = slot(3, 20);
    std::uint32_t n = 0;
    for (const Use& u : c.uses) {
      ++n;
      planStand(n, {use("DLH", fmt::format("D-AAA{}", n), u.cs, 3, u.halfHours)});
    }
    if (!c.shown.empty()) addStatic(90, staticCallsign(c.shown), AircraftState::Active).coupledCallsign1 = c.shown;
    reportStaticParking();
    createAll();
    if (c.replan) {
      g_currentWeekSlot = slot(3, 21);
      adjustParking();
      while (!g_staticCandidates.empty()) spawnStaticAircraft();
    }
    std::vector<std::string> ids;
    for (const auto& s : g_staticAircraft) {
      if (s.state != AircraftState::RemovingFromSim) ids.push_back(s.callsign);
    }
    std::sort(ids.begin(), ids.end());
    std::string shown;
    for (const std::string& id : ids) shown += (shown.empty() ? "" : " ") + id;
    EXPECT_EQ(shown, c.atcIds);
  }
}

TEST_F(StaticParkingTest, TheCoupledCallsignsComeFromTodaysUsesAroundNow) {
  struct Case {
    const char* name;
    std::string callsign;
    std::string type;
    StandUse u;
    std::string coupled;
  };
  const std::vector<Case> cases{
      {"second callsign flying", "DLH2", "A20N", use("DLH", "D-A1", "DLH1:DLH2", 3, halves(30, 30)), "DLH1:DLH2"},
      {"ghost's trailing underscore", "DLH1_", "A20N", use("DLH", "D-A1", "DLH1:DLH2", 3, halves(10, 10)), "DLH1:DLH2"},
      {"beyond five hours", "DLH1", "A20N", use("DLH", "D-A1", "DLH1:DLH2", 3, halves(31, 31)), "DLH1:"},
      {"a heavy looks seven hours", "DLH1", "B77W", use("DLH", "D-A1", "DLH1:DLH2", 3, halves(34, 34), 1, "B77W"),
       "DLH1:DLH2"},
      {"a heavy not beyond", "DLH1", "B77W", use("DLH", "D-A1", "DLH1:DLH2", 3, halves(35, 35), 1, "B77W"), "DLH1:"},
      {"other weekday", "DLH1", "A20N", use("DLH", "D-A1", "DLH1:DLH2", 4, halves(20, 20)), "DLH1:"},
      {"other airline", "DLH1", "A20N", use("EZY", "D-A1", "DLH1:DLH2", 3, halves(20, 20)), "DLH1:"},
      {"no second callsign", "DLH1", "A20N", use("DLH", "D-A1", "DLH1", 3, halves(20, 20)), "DLH1:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_parkStands.clear();
    g_liveAircraft.clear();
    planStand(1, {c.u});
    kvo::LiveAircraft& ac = ground(0xAB0001, c.callsign, c.type, 0.0, GroundPhase::Taxi);
    ac.coupledCallsign1 = "DLH1";
    ac.coupledCallsign2.clear();
    lf_searchForCoupledCsAroundThisTime(ac, g_currentWeekSlot.load());
    EXPECT_EQ(ac.coupledCallsign1 + ":" + ac.coupledCallsign2, c.coupled);
  }
}

// Creation: one static aircraft per creation slot when no live creation waits, best fit first,
// on its stand with the stand's heading in degrees and a livery of its airline and type.
TEST_F(StaticParkingTest, StaticAircraftAreCreatedOneAtATimeOnTheirStandsWhenNoLiveCreationWaits) {
  planStand(1, {use("DLH", "D-AAA1", "DLH1", 3, halves(20, 21))});
  planStand(2, {use("EZY", "G-EZA2", "EZY2", 3, halves(20, 21))});
  planStand(3, {use("XXX", "X-XXX3", "XXX3", 3, halves(19, 19), 1, "C919")});  // no livery
  reportStaticParking();
  ASSERT_EQ(plan(), "S1:0 S2:0 S3:1");
  g_addingStack.push_back(request(0xAB0001, "DLH9"));
  g_trafficTick = 100;  // a creation tick
  paceSimRequests();
  EXPECT_EQ(g_staticCandidates.size(), 3u) << "the live creation goes first";
  g_trafficTick = 125;
  paceSimRequests();
  EXPECT_EQ(g_staticCandidates.size(), 3u) << "not a creation tick";
  g_trafficTick = 150;
  paceSimRequests();
  ASSERT_EQ(g_queuedCreates.size(), 1u);
  const kvo::CreateRequest& r = g_queuedCreates.front();
  EXPECT_EQ(r.tailNumber, "EZY2*");
  EXPECT_EQ(r.title, "Airbus A320neo EZY");
  EXPECT_DOUBLE_EQ(r.initPosition.latitude, standById(2).latitude);
  EXPECT_DOUBLE_EQ(r.initPosition.longitude, standById(2).longitude);
  EXPECT_DOUBLE_EQ(r.initPosition.heading, 63.5) << "degrees, as the file holds them";
  EXPECT_EQ(r.initPosition.onGround, 1u);
  EXPECT_EQ(g_staticAircraft[0].state, AircraftState::Adding2Sim);
  EXPECT_NEAR(g_staticAircraft[0].standHeading, 63.5 * std::numbers::pi / 180.0, 1e-12);
  EXPECT_EQ(g_staticAircraft[0].parkWeekSlot, slot(3, 20));
  g_trafficTick = 200;
  paceSimRequests();  // the queued one to the simulator, the next built
  ASSERT_EQ(g_queuedCreates.size(), 1u);
  EXPECT_EQ(g_queuedCreates.front().tailNumber, "DLH1*");
  g_trafficTick = 250;
  paceSimRequests();
  EXPECT_TRUE(g_queuedCreates.empty()) << "no livery for the C919: dropped";
  EXPECT_EQ(g_staticAircraft.size(), 2u);
  EXPECT_TRUE(g_staticCandidates.empty());
}

// A use of an airport file whose callsign or airline is longer than an ATC id the simulator keeps
// still makes a static aircraft that is paired with its object and can be removed again: the
// simulator reports the id in a 32-byte field.
TEST_F(StaticParkingTest, AStaticAircraftOfALongCallsignFromAFileIsPairedAndRemoved) {
  struct Case {
    const char* name;
    std::string airline;
    std::string cs;
    std::string tail;  // "#" stands for the internal id
  };
  std::string umlauts = "X";
  for (int i = 0; i < 20; ++i) umlauts += "\xC3\x84";  // 30 bytes end inside the 15th
  const std::vector<Case> cases = {
      {"a 40-byte callsign", "DLH", std::string(40, 'C'), std::string(30, 'C') + "*"},
      {"a 40-byte second callsign, shown in the use's last half hour", "DLH", "DLH1:" + std::string(40, 'D'),
       std::string(30, 'D') + "*"},
      {"a 40-byte airline without a callsign", std::string(40, 'A'), "", std::string(26, 'A') + "#*"},
      {"a callsign of two-byte characters, cut between two", "DLH", umlauts, umlauts.substr(0, 29) + "*"},
  };
  std::uint32_t objectId = 700;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_staticAircraft.clear();
    g_parkStands.clear();
    const std::filesystem::path file = folder_ / "EDXX.xml";
    coretest::writeFile(file, fmt::format("<airport icao=\"EDXX\"><meta/><parkpositions><parkpos id=\"S1\" lat=\"{}\" "
                                          "lon=\"{}\" radius=\"20\"><opt airline=\"{}\" type=\"A20N\" key=\"D-AAA1\" "
                                          "cs=\"{}\" day=\"3\" hh=\"100000\"/></parkpos></parkpositions></airport>",
                                          traffictest::kUserLat, traffictest::kUserLon + 200.0 * standtest::kMLon,
                                          c.airline, c.cs));
    kvo::AirportFileRecord read;
    ASSERT_EQ(kvo::readAirportFile(file, read), "");
    g_parkStands = std::move(read.stands);
    parkStandsChanged();
    reportStaticParking();
    g_trafficTick = 150;
    paceSimRequests();  // built
    ASSERT_EQ(g_queuedCreates.size(), 1u);
    const std::string tail = g_queuedCreates.front().tailNumber;
    std::string expected = c.tail;
    if (const auto at = expected.find('#'); at != std::string::npos) {
      expected.replace(at, 1, std::to_string(g_staticAircraft.back().internalId));
    }
    EXPECT_EQ(tail, expected);
    g_trafficTick = 200;
    paceSimRequests();  // sent
    frame();
    simCreates(objectId, tail);  // the simulator reports the tail number it keeps
    tick(201);
    ASSERT_EQ(g_staticAircraft.size(), 1u);
    EXPECT_EQ(g_staticAircraft[0].state, AircraftState::Active);
    EXPECT_EQ(g_staticAircraft[0].objectId, objectId);
    removeAllStaticAircraft();
    EXPECT_TRUE(removalQueued(objectId));
    ++objectId;
  }
  EXPECT_EQ(log().find("just spawned, but not by"), std::string::npos) << log();
}

TEST_F(StaticParkingTest, ACandidateWhoseStandIsGoneTakenOrBesideAParkedAircraftIsDropped) {
  struct Case {
    const char* name;
    std::function<void()> world;
  };
  const std::vector<Case> cases{
      {"stand gone", [] { g_staticCandidates.back().standId = 77; }},
      {"live parked on it", [] { ground(0xAB0001, "L1", "A20N", 100.0, GroundPhase::Parked, 1); }},
      {"live parking beside it", [] { ground(0xAB0001, "L2", "A20N", 200.0, GroundPhase::Parking, 2); }},
      {"static beside it", [] { addStatic(50, "S*", AircraftState::Adding2Sim, 2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_parkStands.clear();
    g_liveAircraft.clear();
    g_staticAircraft.clear();
    planStand(1, {use("DLH", "D-AAA1", "DLH1", 3, halves(20, 21))}).adjacentIds = {2};
    planStand(2, {});
    reportStaticParking();
    ASSERT_EQ(g_staticCandidates.size(), 1u);
    c.world();
    const std::size_t statics = g_staticAircraft.size();
    spawnStaticAircraft();
    EXPECT_TRUE(g_staticCandidates.empty());
    EXPECT_EQ(g_staticAircraft.size(), statics);
    EXPECT_TRUE(g_queuedCreates.empty());
  }
}

// The re-plan half an hour later, with the fit back to the half hour.
TEST_F(StaticParkingTest, TheReplanKeepsWhatStillFitsAndReplacesAddsOrRecreatesTheRest) {
  MAX_FIT.set(2);
  planStand(1, {use("DLH", "D-AAA1", "DLH1", 3, halves(20, 23))});       // goes on: kept
  planStand(2, {use("DLH", "D-AAA2", "DLH2", 3, halves(19, 19))});       // over: removed
  planStand(3, {use("DLH", "D-AAA3", "DLH3:DLH4", 3, halves(20, 21))});  // last half hour: again as DLH4
  planStand(4, {use("EZY", "G-EZA4", "EZY4", 3, halves(21, 21)),         // DLH5 flies live: replaced
                use("DLH", "D-AAA5", "DLH5", 3, halves(20, 23))});
  planStand(5, {use("EZY", "G-EZA5", "EZY5", 3, halves(21, 23)),         // a newer use replaces DLH6
                use("DLH", "D-AAA6", "DLH6", 3, halves(20, 23))});
  planStand(6, {use("DLH", "D-AAA7", "DLH7", 3, halves(21, 23))});       // new: added
  reportStaticParking();
  ASSERT_EQ(plan(), "S1:0 S2:1 S3:0 S4:0 S5:0");
  createAll();
  EXPECT_EQ(staticOn(3)->callsign, "DLH3*");

  MAX_FIT.set(0);
  g_currentWeekSlot = slot(3, 21);
  g_trafficReader.startCollectingCallsigns();
  flyLive("DLH5");
  adjustParking();
  EXPECT_EQ(plan(), "S3:20 S4:0 S5:0 S6:0");
  EXPECT_EQ(staticOn(1)->state, AircraftState::Active);
  for (std::uint32_t s : {2u, 3u, 4u, 5u}) EXPECT_EQ(staticOn(s)->state, AircraftState::RemovingFromSim) << s;
  EXPECT_EQ(g_removeQueue.size(), 4u);
  EXPECT_TRUE(g_staticParkingBusy.load());
  // Aircraft on their way out keep no successor off their stands.
  createAll();
  std::vector<std::string> created;
  for (const auto& s : g_staticAircraft) created.push_back(s.callsign);
  EXPECT_EQ(created, (std::vector<std::string>{"DLH6*", "DLH5*", "DLH3*", "DLH1*", "DLH2*", "DLH7*", "EZY5*", "EZY4*",
                                               "DLH4*"}));
}

// Across midnight the fit window reaches into yesterday's last half hours: as far back as the
// re-plan's fit, at most to yesterday's 00:30.
TEST_F(StaticParkingTest, AStaticPlacedBeforeMidnightStaysWhileItsUseIsWithinTheFit) {
  struct Case {
    std::int32_t maxFit;  // of the re-plan
    kvo::WeekSlot now;
    std::uint64_t halfHours;  // of its use on Wednesday
    AircraftState after;
  };
  const std::vector<Case> cases{
      {0, slot(4, 0), halves(46, 47), AircraftState::Active},
      {0, slot(4, 0), halves(44, 45), AircraftState::RemovingFromSim},
      {46, slot(4, 0), halves(1, 1), AircraftState::Active},
      {46, slot(4, 0), halves(0, 0), AircraftState::RemovingFromSim},
      // A fit of 47 looks back no further than 47 half hours.
      {47, slot(4, 10), halves(10, 10), AircraftState::Active},
      {47, slot(4, 10), halves(9, 9), AircraftState::RemovingFromSim},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.maxFit << " " << c.halfHours);
    g_parkStands.clear();
    g_staticAircraft.clear();
    g_removeQueue.clear();
    MAX_FIT.set(47);
    planStand(1, {use("DLH", "D-AAA1", "DLH1", 3, c.halfHours)});
    g_currentWeekSlot = slot(3, 47);
    reportStaticParking();
    createAll();
    ASSERT_EQ(g_staticAircraft.size(), 1u);
    MAX_FIT.set(c.maxFit);
    g_currentWeekSlot = c.now;
    adjustParking();
    ASSERT_EQ(g_staticAircraft.size(), 1u);
    EXPECT_EQ(g_staticAircraft[0].state, c.after);
  }
}

TEST_F(StaticParkingTest, ASurplusDropsCandidatesThenTheEarliestStaticsThenTheLongestParkedLive) {
  struct Case {
    const char* name;
    std::int64_t wanted;
    std::size_t candidates;
    std::vector<std::string> removed;
  };
  const std::vector<Case> cases{
      {"room for all", 5, 2, {}},
      {"one candidate too many", 4, 1, {}},
      {"candidates and the earliest static", 2, 0, {"OLD*"}},
      // Static parking off: no maximum for live aircraft.
      {"nothing wanted", 0, 0, {"OLD*", "NEW*"}},
  };
  ground(0xAB0003, "L1", "A20N", 300.0, GroundPhase::Parked, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_staticCandidates.assign(2, StaticCandidate{});
    g_keptStatics = {kvo::KeptStatic{"NEW*", "", "", "", "", "", slot(3, 20), 1, 0},
                     kvo::KeptStatic{"OLD*", "", "", "", "", "", slot(3, 10), 2, 0}};
    g_liveParked = {kvo::LiveParkedEntry{"L1", 3, 30}};
    g_staticRemovals.clear();
    trimParkingSurplus(c.wanted);
    EXPECT_EQ(g_staticCandidates.size(), c.candidates);
    std::vector<std::string> removed;
    for (const auto& r : g_staticRemovals) removed.push_back(r.callsign);
    EXPECT_EQ(removed, c.removed);
    EXPECT_EQ(live(0xAB0003)->state, AircraftState::Active);
  }
  g_staticCandidates.clear();
  g_keptStatics.clear();
  g_liveParked = {kvo::LiveParkedEntry{"L0", 4, 10}, kvo::LiveParkedEntry{"L1", 3, 95}};
  trimParkingSurplus(1);
  EXPECT_EQ(live(0xAB0003)->state, AircraftState::RemovingFromSim) << "the longest parked";
}

TEST_F(StaticParkingTest, LiveAircraftParkedTooLongGoUnlessInitialLoadOnly) {
  struct Case {
    const char* name;
    std::string type;
    int minutes;
    bool initialLoadOnly;
    bool removed;
  };
  const std::vector<Case> cases{
      {"90 minutes", "A20N", 90, false, false}, {"91 minutes", "A20N", 91, false, true},
      {"heavy 180", "B77W", 180, false, false}, {"heavy 181", "B77W", 181, false, true},
      {"initial load only", "A20N", 500, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_liveAircraft.clear();
    INITIAL_LOAD_ONLY.set(c.initialLoadOnly);
    ground(0xAB0001, "L1", c.type, 0.0, GroundPhase::Parked, 1).parkedSince =
        kvo::utcNow() - std::chrono::minutes(c.minutes) - std::chrono::seconds(30);
    collectLiveParked();
    EXPECT_EQ(live(0xAB0001)->state == AircraftState::RemovingFromSim, c.removed);
    EXPECT_EQ(g_liveParked.size(), c.removed ? 0u : 1u);
  }
}

// More live parked aircraft than wanted: the longest parked go, unless static parking is off.
TEST_F(StaticParkingTest, TheReplanRemovesLiveParkedAircraftBeyondTheWantedCount) {
  for (const std::int32_t maxPark : {1, 0}) {
    SCOPED_TRACE(maxPark);
    g_parkStands.clear();
    g_liveAircraft.clear();
    const std::size_t logFrom = log().size();
    planStand(1, {});
    planStand(2, {});
    ground(0xAB0001, "L1", "A20N", 100.0, GroundPhase::Parked, 1).parkedSince = kvo::utcNow() - std::chrono::minutes(10);
    ground(0xAB0002, "L2", "A20N", 200.0, GroundPhase::Parked, 2).parkedSince = kvo::utcNow() - std::chrono::minutes(60);
    MAX_PARK_SEL.set(maxPark);
    adjustParking();
    EXPECT_EQ(live(0xAB0001)->state, AircraftState::Active);
    EXPECT_EQ(live(0xAB0002)->state == AircraftState::RemovingFromSim, maxPark == 1);
    EXPECT_EQ(log().find("live parked L2", logFrom) != std::string::npos, maxPark == 1);
  }
}

TEST_F(StaticParkingTest, RemovalAllAtOnceOrTheOneOnTheReservedStand) {
  planStand(1, {});
  planStand(2, {});
  addStatic(1, "A*", AircraftState::Active, 1, 501);
  addStatic(2, "B*", AircraftState::Adding2Sim, 2);
  g_queuedCreates.push_back(request(2, "B*"));
  addStatic(3, "C*", AircraftState::Adding2Sim, 2);  // already sent
  g_addingStack.push_back(request(3, "LIVE3"));       // a live creation of the same id
  ground(0xAB0001, "L1", "A20N", 0.0, GroundPhase::Parked, 0);  // on no stand
  addStatic(4, "D*", AircraftState::Active, 0, 504);

  g_reservedStand = "NOSUCH";
  freeReservedStand();
  EXPECT_EQ(live(0xAB0001)->state, AircraftState::Active) << "stand not found: nothing on 'stand 0' goes";
  EXPECT_EQ(g_staticAircraft.back().state, AircraftState::Active);
  g_reservedStand = "S1";
  freeReservedStand();
  EXPECT_EQ(g_staticAircraft[0].state, AircraftState::RemovingFromSim);
  EXPECT_TRUE(removalQueued(501));

  removeAllStaticAircraft();
  ASSERT_EQ(g_staticAircraft.size(), 3u) << "the queued creation is taken back and erased";
  EXPECT_EQ(g_staticAircraft[1].callsign, "C*");
  EXPECT_EQ(g_staticAircraft[1].removeRequested, 1);
  EXPECT_TRUE(g_queuedCreates.empty());
  EXPECT_EQ(g_addingStack.size(), 1u) << "live creations are not the static ones'";
  EXPECT_TRUE(removalQueued(504));
}

TEST_F(StaticParkingTest, ClearingTheParkAirportRemovesItsAircraftAndForgetsEveryStandId) {
  planStand(1, {});
  planStand(2, {});
  addStatic(1, "A*", AircraftState::Active, 1, 501);
  kvo::LiveAircraft& parking = ground(0xAB0001, "L1", "A20N", 100.0, GroundPhase::Parking, 1);
  parking.standLat = 1.0;
  ground(0xAB0002, "L2", "A20N", 200.0, GroundPhase::Parked, 2);
  ground(0xAB0003, "L3", "A20N", 0.0, GroundPhase::Flying, 0);
  ground(0xAB0004, "L4", "A20N", 300.0, GroundPhase::Taxi, 0).state = AircraftState::Adding2Sim;
  g_pendingCreateIds.push_back(0xAB0004);  // its request not built yet
  g_staticCandidates.assign(3, StaticCandidate{});
  MAX_LIVE_SEL.set(40);
  g_savedMaxLive = 60;
  g_standUpdates = 2;
  int saves = 0;
  setParkFileSaverForTests([&] {
    ++saves;
    throw std::runtime_error("disk full");
  });
  clearParkAirport();
  EXPECT_EQ(saves, 1);
  EXPECT_NE(log().find("closeParkAirport exception: disk full"), std::string::npos);
  EXPECT_TRUE(removalQueued(501));
  EXPECT_EQ(live(0xAB0001)->standId, 0u) << "a parking aircraft's stand is forgotten too";
  EXPECT_EQ(live(0xAB0001)->state, AircraftState::RemovingFromSim);
  EXPECT_EQ(live(0xAB0002)->state, AircraftState::RemovingFromSim);
  EXPECT_EQ(live(0xAB0003)->state, AircraftState::Active);
  EXPECT_EQ(live(0xAB0004), nullptr) << "a creation not yet sent is taken back";
  EXPECT_TRUE(g_pendingCreateIds.empty());
  EXPECT_TRUE(g_parkStands.empty());
  EXPECT_FALSE(g_parkAirportLoaded.load());
  EXPECT_EQ(MAX_LIVE_SEL.value(), 60);
}

TEST_F(StaticParkingTest, TheGaugesCountParkedAircraftAndAverageTheirHours) {
  g_currentWeekSlot = slot(3, 20);
  addStatic(1, "A*", AircraftState::Active, 1, 501).parkWeekSlot = slot(3, 16);  // 4 half hours
  addStatic(2, "B*", AircraftState::RemovingFromSim, 2, 502).parkWeekSlot = slot(3, 20);
  addStatic(3, "C*", AircraftState::Adding2Sim, 3).parkWeekSlot = slot(3, 20);
  addStatic(4, "D*", AircraftState::Active, 4, 504).parkWeekSlot = slot(7, 40);  // before the week turned
  ground(0xAB0001, "L1", "A20N", 0.0, GroundPhase::Parked, 1).parkWeekSlot = slot(2, 20);  // a day
  ground(0xAB0002, "L2", "A20N", 0.0, GroundPhase::Taxi, 0);
  EXPECT_EQ(updateStaticParkGauge(true), 3u);
  EXPECT_FLOAT_EQ(g_mainWindow.staticAverageHours.load(), 4.0f / 6.0f + 0.5f);
  EXPECT_EQ(updateLiveParkGauge(true), 1u);
  EXPECT_FLOAT_EQ(g_mainWindow.liveAverageHours.load(), 24.5f);
  WEEK.set(true);
  g_mainWindow.staticAverageHours = -1.0f;
  updateStaticParkGauge(true);
  EXPECT_FLOAT_EQ(g_mainWindow.staticAverageHours.load(), -1.0f) << "no average for the whole week";
  g_liveAircraft.clear();
  updateLiveParkGauge(true);
  EXPECT_FLOAT_EQ(g_mainWindow.liveAverageHours.load(), 0.0f);
}

TEST_F(StaticParkingTest, TheParkingControlsAreOffWhileAPlanIsCarriedOut) {
  HWND main = CreateWindowExW(0, u"StaticTestMain", u"", WS_CAPTION, 0, 0, 880, 516, nullptr, nullptr, nullptr, nullptr);
  std::vector<ControlBinding*> bindings{&parking_percentage.binding, &MAX_FIT_FL.binding, &MAX_LIVE_SEL.binding,
                                        &MAX_PARK_SEL.binding, &INITIAL_LOAD_ONLY.binding, &PARK_FAKE.binding,
                                        &PARK_SOFT.binding, &WEEK.binding, &g_flushStaticButton.binding,
                                        &g_reReadButton.binding};
  for (ControlBinding* b : bindings) {
    b->hwnd = CreateWindowExW(0, u"button", u"", WS_CHILD, 0, 0, 10, 10, main, nullptr, nullptr, nullptr);
  }
  planStand(1, {use("DLH", "D-AAA1", "DLH1", 3, halves(20, 21))});
  reportStaticParking();
  EXPECT_TRUE(g_staticParkingBusy.load());
  for (ControlBinding* b : bindings) EXPECT_FALSE(IsWindowEnabled(b->hwnd));
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText),
            "Making changes to airport parking parameters is disabled while static parking takes place ...");
  spawnStaticAircraft();
  handleParkAirport(false);  // the candidates are used up
  EXPECT_FALSE(g_staticParkingBusy.load());
  EXPECT_EQ(g_mainWindow.minutesToNextPass.load(), 19);
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText), "");
  for (ControlBinding* b : bindings) {
    EXPECT_TRUE(IsWindowEnabled(b->hwnd));
    b->hwnd = nullptr;
  }
  DestroyWindow(main);
}

}  // namespace
