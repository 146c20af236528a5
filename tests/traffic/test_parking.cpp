// Making way and parking: who gives way to a live aircraft taking a stand, the drive onto the
// stand and the arrival there, what an aircraft does at the end of its feed, and the limit on
// parked aircraft.
#include <gtest/gtest.h>

#include <chrono>
#include <numbers>

#include "shared_state/run_clock.h"
#include "core/timeutil.h"
#include "links/sim_ids.h"
#include "traffic/movement_util.h"
#include "stand_test_support.h"
#include "test_movement_support.h"

namespace {

using kvo::AircraftState;
using kvo::GroundPhase;
using standtest::slot;
using standtest::StandTest;

// resolveCallsignConflict: a live aircraft parked on the stand and a newcomer's callsign.
struct ConflictCase {
  const char* name;
  std::string parked;
  std::string newcomer;
  std::uint8_t watch;
  bool allowed;
  bool removed;
};

TEST_F(StandTest, AParkedAircraftGivesWayToItsOwnCallsignAndToTheOriginalOfAGhost) {
  const std::vector<ConflictCase> cases{
      {"same callsign", "DLH1", "DLH1", 0, true, true},
      {"newcomer is the parked one plus a character", "DLH1", "DLH1_", 0, false, false},
      {"newcomer is the parked one minus its last character", "DLH1_", "DLH1", 0, true, true},
      {"the parked one is a ghost", "EZY9_", "DLH1", 0, true, true},
      {"the newcomer is a ghost", "EZY9", "DLH1_", 0, false, false},
      {"both are ghosts", "EZY9_", "DLH1_", 0, true, true},
      {"both are ghosts, the parked one watched leaving", "EZY9_", "DLH1_", 1, false, false},
      {"the parked one is being watched leaving", "EZY9", "DLH1", 1, false, false},
      {"another aircraft", "EZY9", "DLH1", 0, true, true},
      {"empty newcomer", "A", "", 0, true, true},
      {"both empty", "", "", 0, true, true},
  };
  for (const ConflictCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_parkStands.clear();
    stand(1, "A1", 0.0, 20.0);
    kvo::LiveAircraft& l = ground(0xAA0001, c.parked, "A20N", 0.0, GroundPhase::Parked, 1);
    l.standWatch = c.watch;
    EXPECT_EQ(resolveCallsignConflict(1, c.newcomer), c.allowed);
    EXPECT_EQ(l.state == AircraftState::RemovingFromSim, c.removed);
    g_liveAircraft.clear();
  }
  // Not active yet, or taxiing: nothing to resolve.
  ground(0xAA0002, "DLH1", "A20N", 0.0, GroundPhase::Taxi, 1);
  EXPECT_TRUE(resolveCallsignConflict(1, "EZY9"));
  EXPECT_EQ(g_liveAircraft.back().state, AircraftState::Active);
}

// Neighbours overlap when 1.1 x the two half spans reach the distance between the stands: two
// A320neo (17.9 m each) need 39.38 m.
TEST_F(StandTest, NeighboursThatWouldOverlapGiveWayLiveOrStatic) {
  for (const double apartM : {39.0, 40.0}) {
    SCOPED_TRACE(apartM);
    g_parkStands.clear();
    kvo::Stand& own = stand(1, "A1", 0.0, 20.0);
    own.adjacentIds = {2, 3};
    stand(2, "A2", apartM, 20.0);
    stand(3, "A3", -apartM, 20.0);
    ground(0xAA0002, "EZY2", "A20N", apartM, GroundPhase::Parked, 2);
    addStatic(7, "STAT*", AircraftState::Active, 3, 77).halfSpanNm = 17.9 * standtest::kM;
    kvo::LiveAircraft& newcomer = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Taxi);
    const kvo::Stand& s = standById(1);
    const bool overlaps = apartM < 39.38;
    EXPECT_EQ(checkAdjacentStands(s.adjacentIds, s, newcomer), overlaps ? 0u : 2u);
    for (std::uint32_t id : s.adjacentIds) removeAtAdjacentStand(id, newcomer, s);
    makeWayForStand(newcomer, s);
    EXPECT_EQ(live(0xAA0002)->state == AircraftState::RemovingFromSim, overlaps);
    EXPECT_EQ(g_staticAircraft[0].state == AircraftState::RemovingFromSim, overlaps);
    g_liveAircraft.clear();
    g_staticAircraft.clear();
  }
}

TEST_F(StandTest, StaticAircraftOnTheStandMakeWayAlsoWhileBeingCreated) {
  kvo::Stand& s = stand(1, "A1", 0.0, 20.0);
  addStatic(1, "ONE*", AircraftState::Active, 1, 71);
  addStatic(2, "QUEUED*", AircraftState::Buffer, 2);
  addStatic(3, "SENT*", AircraftState::Adding2Sim, 3);
  g_queuedCreates.push_back(request(2, "QUEUED*"));
  kvo::LiveAircraft& newcomer = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Taxi);
  makeWayForStand(newcomer, s);
  EXPECT_EQ(g_staticAircraft[0].state, AircraftState::RemovingFromSim);
  for (std::uint32_t id : {2u, 3u}) {
    g_staticAircraft[id - 1].standId = 1;
  }
  g_staticAircraft.erase(g_staticAircraft.begin());
  makeWayForStand(newcomer, s);
  ASSERT_EQ(g_staticAircraft.size(), 1u) << "the queued creation is taken back and its record erased";
  EXPECT_TRUE(g_queuedCreates.empty());
  EXPECT_EQ(g_staticAircraft[0].callsign, "SENT*");
  g_staticAircraft[0].state = AircraftState::Adding2Sim;
  makeWayForStand(newcomer, s);
  EXPECT_EQ(g_staticAircraft[0].removeRequested, 1) << "already sent: removed once it exists";
  EXPECT_NE(log().find("queued A1      : QUEUED*  "), std::string::npos) << log();
}

// A landed aircraft that stops 8 m short of a stand drives onto it, parks and shuts down.
TEST_F(StandTest, ALandedAircraftDrivesOntoTheNearestFittingStandAndParks) {
  kvo::Stand& s = stand(1, "A1", 8.0, 20.0);
  kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Taxi);
  ac.landed = 1;
  g_currentWeekSlot = slot(3, 10);
  try2Park(ac, true);
  ASSERT_EQ(ac.phase, GroundPhase::Parking);
  EXPECT_EQ(ac.standId, 1u);
  EXPECT_EQ(ac.trackPoints.size(), 3u) << "onto the stand, then standing there";
  // The same track end is not tried again.
  ac.phase = GroundPhase::Taxi;
  try2Park(ac, true);
  EXPECT_EQ(ac.trackPoints.size(), 3u);
  ac.phase = GroundPhase::Parking;

  movetest::takeEvents();
  movetest::runTicks(ac, 2000);
  ASSERT_EQ(ac.state, AircraftState::Active);
  EXPECT_EQ(ac.phase, GroundPhase::Parked);
  EXPECT_LT(distanceNm(ac.position.lat, ac.position.lon, s.latitude, s.longitude) / standtest::kM, 2.0);
  EXPECT_EQ(movetest::countEvents(movetest::takeEvents(), kvo::kEventEngineAutoShutdown), 1u);
  ASSERT_EQ(s.uses.size(), 1u) << "the use is learned";
  EXPECT_EQ(s.uses[0].key, "D-DLH1");
  EXPECT_EQ(ac.parkWeekSlot, slot(3, 10));
  ASSERT_EQ(g_idSlotStamps.size(), 1u);
  EXPECT_EQ(g_duplicateCheckQueue.back(), 0xAA0001u);
  EXPECT_NE(log().find("A1      : DLH1     arrived at stand"), std::string::npos) << log();
  // Its feed has ended: it stays for a week, but the stand is offered again, and an arrival that
  // stops in front of it takes it over.
  ASSERT_EQ(ac.trackPoints.size(), 1u);
  EXPECT_GE(ac.trackPoints.front().dueTick - g_trafficTick.load(), 60480000 - 2000);
  EXPECT_EQ(s.occupied, 0);
  kvo::LiveAircraft& next = ground(0xAA0003, "EZY3", "A20N", 8.0, GroundPhase::Taxi);
  next.landed = 1;
  try2Park(next, true);
  EXPECT_EQ(next.standId, 1u);
  EXPECT_EQ(live(0xAA0001)->state, AircraftState::RemovingFromSim);
  EXPECT_NE(log().find("A1      : DLH1     removed, EZY3 wants to park there"), std::string::npos) << log();
  // Another aircraft that gets to a stand already taken is removed; the stand stays taken.
  standById(1).occupied = 1;
  kvo::LiveAircraft& late = ground(0xAA0002, "EZY2", "A20N", 8.0, GroundPhase::Parking, 1);
  arriveAtStand(late);
  EXPECT_EQ(late.state, AircraftState::RemovingFromSim);
  EXPECT_EQ(standById(1).occupied, 1);
}

// Where a scattering feed shows an aircraft stopped, it may lie that much farther from the stand it
// stopped on; an exact feed's stop is where it is.
TEST_F(StandTest, AStopOnAScatteringFeedFindsItsStandFartherOff) {
  for (const auto& [row, scatterM, parks] : {std::tuple{0u, 0.0, false}, std::tuple{1u, 8.0, true}}) {
    // Each row at its own place, 500 m apart.
    stand(row + 1, "A" + std::to_string(row + 1), 26.0, 20.0, 500.0 * row);
    kvo::LiveAircraft& ac = ground(0xAA0001 + row, "DLH" + std::to_string(row + 1), "A20N", 0.0, GroundPhase::Taxi, 0,
                                   500.0 * row);
    ac.groundScatterM = scatterM;
    try2Park(ac, false);
    EXPECT_EQ(ac.phase == GroundPhase::Parking, parks) << scatterM;
  }
}

// The scatter that puts a stop off its stand may also have carried the aircraft past the stand's
// mark: within it, an aeroplane stops where it is rather than backing onto the mark. A helicopter
// whose pad lies far off its nose turns toward it on the spot first, and goes there nose first.
TEST_F(StandTest, OntoAStandBehindOnAScatteringFeedNeverBackwards) {
  struct Row {
    const char* name;
    double scatterM;
    double standEastM;  // the aircraft stands at 0 with its nose east
    bool helicopter;
    bool staysPut;
    bool backs;  // some step moves more than 90 degrees off the nose
    double noseDeg = 90.0;
  };
  const Row rows[] = {
      {"3 m past, scatter 4 m", 4.0, -3.0, false, true, false},
      {"9.5 m past, within 2.5 scatters", 4.0, -9.5, false, true, false},
      {"11 m past, beyond them", 4.0, -11.0, false, false, true},
      {"3 m ahead", 4.0, 3.0, false, false, false},
      {"an exact feed", 0.0, -3.0, false, false, true},
      {"a helicopter onto its pad", 4.0, -6.0, true, false, false},
      {"a helicopter onto its pad 100 degrees off its nose", 4.0, -6.0, true, false, false, 10.0},
  };
  std::uint32_t id = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ++id;
    // Each row at its own place, 500 m apart.
    const double northM = 500.0 * id;
    kvo::Stand& s = stand(id, "A" + std::to_string(id), row.standEastM, 20.0, northM);
    s.heli = row.helicopter ? 1 : 0;
    s.heading = 100.0;
    kvo::LiveAircraft& ac = ground(0xAA0000 + id, "DLH" + std::to_string(id), "A20N", 0.0, GroundPhase::Taxi, 0, northM);
    if (row.helicopter) ac.sizeCategory = Rotorcraft;
    ac.groundScatterM = row.scatterM;
    ac.position.heading = row.noseDeg * std::numbers::pi / 180.0;
    ac.turning = 0;
    const double lat = ac.position.lat;
    const double lon = ac.position.lon;
    try2Park(ac, false);
    ASSERT_EQ(ac.phase, GroundPhase::Parking);
    EXPECT_EQ(ac.standId, id);
    EXPECT_EQ(ac.standLat, row.staysPut ? lat : s.latitude);
    EXPECT_EQ(ac.standLon, row.staysPut ? lon : s.longitude);
    EXPECT_NEAR(ac.standHeading, (row.staysPut ? row.noseDeg : 100.0) * std::numbers::pi / 180.0, 1e-9);
    bool backs = false;
    for (int tick = 0; tick < 3000 && ac.phase == GroundPhase::Parking; ++tick) {
      const double fromLat = ac.position.lat;
      const double fromLon = ac.position.lon;
      movetest::runTicks(ac, 1);
      if (distanceNm(fromLat, fromLon, ac.position.lat, ac.position.lon) / standtest::kM < 0.001) continue;
      const double motion = initialBearing(fromLat, fromLon, ac.position.lat, ac.position.lon);
      backs = backs || std::abs(kvo::mv::wrapPi(motion - ac.position.heading)) > std::numbers::pi / 2.0;
    }
    EXPECT_EQ(ac.phase, GroundPhase::Parked);
    EXPECT_EQ(backs, row.backs);
    const double standM = distanceNm(ac.position.lat, ac.position.lon, ac.standLat, ac.standLon) / standtest::kM;
    EXPECT_LT(standM, row.staysPut ? 0.01 : 2.0);
  }
}

TEST_F(StandTest, ParkedOnlyWithinTwoMetresOfTheStand) {
  for (const double offM : {2.5, 1.9}) {
    SCOPED_TRACE(offM);
    g_parkStands.clear();
    stand(1, "A1", 0.0, 20.0);
    kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", offM, GroundPhase::Parking, 1);
    ac.standLon = traffictest::kUserLon;
    arriveAtStand(ac);
    EXPECT_EQ(ac.phase, offM > 2.0 ? GroundPhase::Taxi : GroundPhase::Parked);
    EXPECT_EQ(standById(1).occupied, offM > 2.0 ? 0 : 1);
    g_liveAircraft.clear();
  }
}

TEST_F(StandTest, ThePushedBackAircraftHoldsForItsFeedUnlessSomeoneIsClose) {
  MAX_HOLDING_MINUTES.set(20);
  kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::PushedBack);
  const kvo::TickCount start = g_trafficTick.load();
  ASSERT_TRUE(continueAtTrackEnd(ac));
  EXPECT_EQ(ac.trackPoints.back().dueTick - ac.trackPoints.front().dueTick, 300) << "3 s on";
  EXPECT_EQ(ac.trackPoints.back().stationary, 1);
  EXPECT_EQ(ac.holdingSince, start);
  g_trafficTick = start + 20 * 6000;
  EXPECT_TRUE(continueAtTrackEnd(ac)) << "20 minutes";
  g_trafficTick = start + 21 * 6000;
  EXPECT_FALSE(continueAtTrackEnd(ac)) << "past MAX_HOLDING_MINUTES";

  kvo::LiveAircraft& other = ground(0xAA0002, "EZY2", "A20N", 0.0, GroundPhase::PushedBack);
  ground(0xAA0003, "EZY3", "A20N", 2.2 * 17.9 * 1.2 / 2.0, GroundPhase::Taxi);
  EXPECT_FALSE(continueAtTrackEnd(other)) << "within 1.2 x the half spans: no holding";
  EXPECT_EQ(other.holding, 0);
}

// extendTrack: the speed of a predicted point on the ground.
TEST_F(StandTest, PredictedPointsSlowALandingRollAndSpeedUpATakeOffRoll) {
  struct Case {
    double speed;
    bool landing;
    double next;
    double vs;
  };
  const std::vector<Case> cases{{140, true, 100, 0},  {139, true, 80, 0},  {60, true, 30, 0},    {59, true, 20, 0},
                                {30, false, 40, 0},   {31, false, 80, 0},  {140, false, 150, 600},
                                {160, false, 170, 1200}, {161, false, 180, 2400}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Taxi);
    ac.trackPoints.front().groundSpeedKt = c.speed;
    (c.landing ? ac.landingRoll : ac.takeOffRoll) = 1;
    extendTrack(ac, 10);
    EXPECT_EQ(ac.standRouteState, 10);
    EXPECT_EQ(ac.trackPoints.back().groundSpeedKt, c.next);
    EXPECT_EQ(ac.trackPoints.back().verticalSpeed, c.vs);
    EXPECT_EQ(ac.trackPoints.back().dueTick - ac.trackPoints.front().dueTick, 300);
    g_liveAircraft.clear();
  }
  // The count runs down and then stops.
  kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Flying);
  ac.onGround = 0;
  ac.trackPoints.front().airborne = 1;
  ac.trackPoints.front().altFt = 3000.0;
  ac.trackPoints.front().groundSpeedKt = 200.0;
  std::vector<std::int32_t> counts;
  while (continueAtTrackEnd(ac)) {
    counts.push_back(ac.standRouteState);
    ac.trackPoints.pop_front();
  }
  EXPECT_EQ(counts, (std::vector<std::int32_t>{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(ac.standRouteState, -1);
  LIGHT_AIRCRAFT.set(false);
  kvo::LiveAircraft& light = ground(0xAA0002, "DEABC", "C172", 0.0, GroundPhase::Taxi);
  light.takeOffRoll = 1;
  EXPECT_FALSE(continueAtTrackEnd(light)) << "light aircraft switched off";
}

// enforceMaxPark: live parked first (longest first), then the static of the earliest half hour.
struct LimitCase {
  const char* name;
  std::int32_t max;
  bool initialLoadOnly;
  std::uint8_t extra;
  bool liveRemoved;
  bool staticRemoved;
};

TEST_F(StandTest, TheParkLimitRemovesTheLongestParkedLiveThenTheEarliestStatic) {
  const std::vector<LimitCase> cases{
      {"no limit", 0, false, 1, false, false},
      // Two live parked, two static; the count is not taken again after the live one went.
      {"within the limit", 5, false, 1, false, false},
      {"one more live than the limit", 2, false, 1, true, true},
      {"initial load only", 2, true, 1, false, true},
      {"live full after an arrival, statics above", 2, false, 0, false, true},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_mainWindow.wantedParkCount = c.max;
    INITIAL_LOAD_ONLY.set(c.initialLoadOnly);
    const auto now = kvo::utcNow();
    ground(0xAA0001, "NEW1", "A20N", 0.0, GroundPhase::Parked, 1).parkedSince = now - std::chrono::minutes(5);
    ground(0xAA0002, "OLD2", "A20N", 50.0, GroundPhase::Parked, 2).parkedSince = now - std::chrono::minutes(50);
    addStatic(1, "LATE*", AircraftState::Active, 3, 71).parkWeekSlot = slot(2, 5);
    addStatic(2, "EARLY*", AircraftState::Active, 4, 72).parkWeekSlot = slot(1, 40);
    enforceMaxPark(c.extra);
    EXPECT_EQ(live(0xAA0001)->state, AircraftState::Active);
    EXPECT_EQ(live(0xAA0002)->state == AircraftState::RemovingFromSim, c.liveRemoved);
    EXPECT_EQ(g_staticAircraft[0].state, AircraftState::Active);
    EXPECT_EQ(g_staticAircraft[1].state == AircraftState::RemovingFromSim, c.staticRemoved);
    g_liveAircraft.clear();
    g_staticAircraft.clear();
  }

  g_mainWindow.wantedParkCount = 0;
  const auto now = kvo::utcNow();
  for (std::uint32_t i = 1; i <= 3; ++i) {
    ground(0xAA0000 + i, "L" + std::to_string(i), "A20N", 50.0 * i, GroundPhase::Parked, i).parkedSince =
        now - std::chrono::minutes(10 * i);
  }
  removeLiveParked(2);
  EXPECT_EQ(live(0xAA0001)->state, AircraftState::Active);
  EXPECT_EQ(live(0xAA0002)->state, AircraftState::RemovingFromSim);
  EXPECT_EQ(live(0xAA0003)->state, AircraftState::RemovingFromSim);
}

// A live aircraft created on the ground at the park airport claims the stand it stands on.
TEST_F(StandTest, ACreatedAircraftClaimsItsStandButNotTheUsersNorAReservedOne) {
  stand(1, "A1", 0.0, 20.0);
  stand(2, "A2", 100.0, 20.0);
  kvo::LiveAircraft& ac = ground(0xAA0001, "DLH1", "A20N", 0.0, GroundPhase::Birth);
  ac.trackPoints.front().stationary = 1;
  const auto claimed = claimStandForArrival(ac);
  ASSERT_TRUE(claimed.has_value());
  EXPECT_EQ(claimed->id, 1u);

  // Stands 20 m apart, its first line 11 m off its own, nearer the next: the standing lines heard
  // so far tell its stand.
  stand(3, "A3", 300.0, 20.0);
  stand(4, "A4", 320.0, 20.0);
  kvo::LiveAircraft& scattered = ground(0xAA0002, "DLH2", "A20N", 311.0, GroundPhase::Birth);
  scattered.trackPoints.front().stationary = 1;
  for (const double eastM : {311.0, 299.0, 301.0}) {
    kvo::TrackPoint line = scattered.trackPoints.front();
    line.lon = traffictest::kUserLon + eastM * standtest::kMLon;
    line.dueTick += static_cast<kvo::TickCount>(scattered.scatterLines.size()) * 200;
    scattered.scatterLines.push_back(line);
  }
  const auto nearest = claimStandForArrival(scattered);
  ASSERT_TRUE(nearest.has_value());
  EXPECT_EQ(nearest->id, 3u);

  g_reservedStand = "A1";
  EXPECT_FALSE(claimStandForArrival(ac).has_value());
  g_reservedStand.clear();
  setUser(traffictest::kUserLat, traffictest::kUserLon, 0.0, true);
  EXPECT_FALSE(claimStandForArrival(ac).has_value()) << "the user stands there";
  setUser(traffictest::kUserLat + 1.0, traffictest::kUserLon, 5000.0, false);
  ASSERT_TRUE(claimStandForArrival(ac).has_value());

  // A moving first point without a second: nothing. (A point once behind it and taken off again
  // would look slow and near enough.)
  ac.trackPoints.front().stationary = 0;
  ac.trackPoints.push_back(ac.trackPoints.front());
  ac.trackPoints.pop_back();
  EXPECT_FALSE(claimStandForArrival(ac).has_value());
  // Far from the park airport: nothing.
  g_parkAirportLat += 0.2;
  ac.trackPoints.front().stationary = 1;
  EXPECT_FALSE(claimStandForArrival(ac).has_value());
  EXPECT_EQ(ac.finished, 0);
}

}  // namespace
