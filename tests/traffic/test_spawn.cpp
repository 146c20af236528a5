// Spawning live aircraft: when the spawn is decided, the guards that keep an aircraft out, the
// preparation of the creation, and the respawn on a changed flight identity.
#include <gmock/gmock.h>

#include <cmath>
#include <limits>

#include "traffic_test_support.h"

using namespace traffictest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr double kDeg = 0.017453292519943295;

class Spawn : public TrafficTest {
 protected:
  // A buffered aircraft from one record per entry of `airborne`, `northNm` north of the user
  // going east; the first point due at `due`, the others 500 ticks apart.
  kvo::LiveAircraft& buffered(std::uint32_t hexId, const std::string& callsign, TickCount due,
                              std::vector<bool> airborne = {true, true}, double groundSpeedKt = 250.0,
                              double northNm = 30.0, std::string type = "A20N") {
    for (std::size_t i = 0; i < airborne.size(); ++i) {
      const double n = static_cast<double>(i);
      kvo::FeedRecord r = record(hexId, callsign, 1000.0 + 20.0 * n, kUserLat + northNm * kNmLat, kUserLon + 0.02 * n,
                                 airborne[i] ? 3000.0 : 0.0, airborne[i], groundSpeedKt, 90.0 + 5.0 * n, type);
      r.position.verticalSpeed = 1200.0;
      r.position.dueTick = due + 500 * static_cast<TickCount>(i);
      processFeedRecord(r);
    }
    return *live(hexId);
  }
  // A record that changes the identity of an aircraft made by addLive.
  static kvo::FeedRecord update(const kvo::LiveAircraft& ac, const std::string& callsign) {
    return record(ac.internalId, callsign, 1010.0, ac.position.lat, ac.position.lon + 0.01, 8000.0, true, 250.0, 120.0);
  }
};

TEST_F(Spawn, IsDecidedAheadOfTheFirstPoint) {
  struct Case {
    const char* name;
    std::vector<bool> airborne;
    double groundSpeedKt;
    TickCount lead;
    bool spawned;
  };
  const Case cases[] = {
      {"airborne", {true, true}, 250.0, 100, true},
      {"on the ground at 12 kt", {false, false}, 12.0, 300, true},
      {"standing on the ground", {false, false}, 0.0, 100, true},
      {"on the ground at an unknown speed", {false, false}, std::numeric_limits<double>::quiet_NaN(), 300, true},
      {"a single point", {true}, 250.0, 100, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetTrafficEngineForTests();
    g_trafficTick = 9000;
    buffered(20001, "DLH1", 10000, c.airborne, c.groundSpeedKt);
    tickUntil(10000 - c.lead);
    EXPECT_EQ(live(20001)->state, AircraftState::Buffer);
    tick();
    if (!c.spawned) {
      EXPECT_EQ(live(20001), nullptr);
      continue;
    }
    EXPECT_EQ(live(20001)->state, AircraftState::Adding2Sim);
    EXPECT_EQ(live(20001)->phase, c.airborne[0] ? GroundPhase::Flying : GroundPhase::Taxi);
  }
}

TEST_F(Spawn, MixedPointsLoseTheirFrontUntilOneKindRemains) {
  g_trafficTick = 9000;
  buffered(20001, "DLH1", 10000, {true, false, false}, 100.0);
  tickUntil(9901);
  EXPECT_EQ(live(20001)->trackPoints.size(), 2u);
  tickUntil(10200);  // the new front is on the ground and moving, due at 10500
  EXPECT_EQ(live(20001)->state, AircraftState::Buffer);
  tick();
  EXPECT_EQ(live(20001)->state, AircraftState::Adding2Sim);
}

TEST_F(Spawn, TheLiveMaximumRemovesAFartherAircraftOrGivesWay) {
  MAX_LIVE_SEL.set(10);
  for (double farthest : {20.2, 20.05}) {
    SCOPED_TRACE(farthest);
    resetTrafficEngineForTests();
    for (std::uint32_t i = 0; i < 9; ++i) addLive(30000 + i, "A" + std::to_string(i), AircraftState::Active, 100 + i, 5.0 + i);
    addLive(30009, "FAR", AircraftState::Active, 109, farthest);
    decideSpawn(buffered(20001, "DLH1", g_trafficTick.load(), {true, true}, 250.0, 20.0));
    const bool removesFar = farthest > 20.1;
    EXPECT_EQ(live(30009)->state, removesFar ? AircraftState::RemovingFromSim : AircraftState::Active);
    EXPECT_EQ(live(20001)->state, removesFar ? AircraftState::Adding2Sim : AircraftState::Buffer);
    EXPECT_EQ(live(20001)->finished, removesFar ? 0 : 1);
  }
}

// While 11 creations wait, a new aircraft is not born: its front point goes instead.
TEST_F(Spawn, AFullAddingStackHoldsBirthsBack) {
  for (const std::size_t waiting : {10u, 11u}) {
    resetTrafficEngineForTests();
    for (std::uint32_t i = 0; i < waiting; ++i) g_addingStack.push_back(request(30000 + i, "W" + std::to_string(i)));
    kvo::LiveAircraft& ac = buffered(20001, "DLH1", g_trafficTick.load(), {true, true, true});
    decideSpawn(ac);
    EXPECT_EQ(live(20001)->state, waiting < 11 ? AircraftState::Adding2Sim : AircraftState::Buffer) << waiting;
    EXPECT_EQ(live(20001)->trackPoints.size(), waiting < 11 ? 3u : 2u) << waiting;
  }
}

TEST_F(Spawn, GhostsStayOutWhileTheirOriginalFlies) {
  addLive(30000, "AB123", AircraftState::Active, 150);
  decideSpawn(buffered(20001, "AB123_", g_trafficTick.load()));
  EXPECT_EQ(live(20001)->finished, 1);

  // The plain callsign spawned: its ghost goes and is known from then on.
  resetTrafficEngineForTests();
  addLive(30000, "AB123_", AircraftState::Active, 150);
  decideSpawn(buffered(20001, "AB123", g_trafficTick.load()));
  EXPECT_EQ(live(20001)->state, AircraftState::Adding2Sim);
  EXPECT_EQ(live(30000)->state, AircraftState::RemovingFromSim);
  EXPECT_THAT(g_ghostCallsigns, ElementsAre("AB123_"));
  EXPECT_THAT(log(), HasSubstr("AB123_   is a ghost and will be removed, continue with AB123"));
  decideSpawn(buffered(20002, "AB123_", g_trafficTick.load(), {true, true}, 250.0, 40.0, "B77W"));
  EXPECT_EQ(live(20002)->finished, 1);
}

TEST_F(Spawn, IdentityFromTheRegistrationAndTheCallsign) {
  installDataBase("<reg reg=\"D-AINA\" airline=\"DLH\" type=\"A20N\" operator=\"EWG\" cargo=\"1\"/>");
  kvo::LiveAircraft& byRegistration = buffered(20001, "@@@@@@@@", g_trafficTick.load());
  byRegistration.registration = "D-AINA";
  decideSpawn(byRegistration);
  EXPECT_EQ(live(20001)->airline, "EWG");  // the operator
  EXPECT_EQ(live(20001)->cargo, 1);
  EXPECT_EQ(live(20001)->callsign, "D-AINA");
  EXPECT_EQ(live(20001)->state, AircraftState::Adding2Sim);

  kvo::LiveAircraft& byCallsign = buffered(20002, "EZY12AB", g_trafficTick.load(), {true, true}, 250.0, 35.0);
  byCallsign.airline.clear();
  decideSpawn(byCallsign);
  EXPECT_EQ(live(20002)->liveryTitle, "Airbus A320neo EZY");

  kvo::LiveAircraft& privately = buffered(20003, "N123AB", g_trafficTick.load(), {true, true}, 120.0, 40.0, "C172");
  privately.airline.clear();
  decideSpawn(privately);
  EXPECT_EQ(live(20003)->airline, "PVT");
  EXPECT_EQ(live(20003)->liveryTitle, "Cessna 172");
}

TEST_F(Spawn, BlockedCallsignsAndAircraftWithoutLiveryStayOut) {
  BLOCK_CALLSIGN.set("DLH1");
  decideSpawn(buffered(20001, "DLH1", g_trafficTick.load()));
  EXPECT_EQ(live(20001)->finished, 1);

  MATCHING_DEPTH.set(2);  // airline and type only
  kvo::LiveAircraft& noLivery = buffered(20002, "XXX12", g_trafficTick.load(), {true, true}, 250.0, 35.0, "B77W");
  noLivery.airline = "XXX";
  noLivery.registration = "D-ABCD";
  decideSpawn(noLivery);
  EXPECT_EQ(live(20002)->finished, 1);
  EXPECT_TRUE(g_noMatchTitles.contains("XXX B77W D-ABCD"));
}

TEST_F(Spawn, TheCreationStartsWhereAndHowTheFirstPointSays) {
  kvo::LiveAircraft& ac = buffered(20001, "DLH1", g_trafficTick.load());
  const kvo::TrackPoint first = ac.trackPoints[0];
  const kvo::TrackPoint second = ac.trackPoints[1];
  decideSpawn(ac);
  const kvo::LiveAircraft* a = live(20001);
  EXPECT_THAT(g_pendingCreateIds, ElementsAre(20001u));
  EXPECT_THAT(g_duplicateCheckQueue, ElementsAre(20001u));
  EXPECT_DOUBLE_EQ(a->position.verticalSpeedFps, 20.0);               // 1200 ft/min
  EXPECT_NEAR(a->position.pitch, (-3.0 - 2.0 * 2.2) * kDeg, 1e-12);  // climbing
  EXPECT_NEAR(a->position.heading, initialBearing(first.lat, first.lon, second.lat, second.lon), 1e-12);
  EXPECT_EQ(liveryTitleForRequest(20001), "Airbus A320neo DLH");
  g_trafficTick = 1;
  tick();
  ASSERT_EQ(g_addingStack.size(), 1u);
  const kvo::CreateRequest& r = g_addingStack.front();
  EXPECT_EQ(r.tailNumber, "DLH1");
  EXPECT_EQ(r.title, "Airbus A320neo DLH");
  EXPECT_DOUBLE_EQ(r.initPosition.latitude, first.lat);
  EXPECT_NEAR(r.initPosition.pitch, -7.4, 1e-9);
  EXPECT_EQ(r.initPosition.onGround, 0u);
}

TEST_F(Spawn, TheUserCollisionGuard) {
  struct Case {
    const char* name;
    bool userOnGround;
    double userAglFt, northNm, eastNm;
    bool pointAirborne, tooCloseBefore, dropped;
    double userSpeedKt = -1.0;  // unless given: 0 on the ground, 200 in the air
  };
  const Case cases[] = {
      {"user on the ground, point 100 m away", true, 0.0, 0.054, 0.0, false, false, true},
      {"user on the ground, point 200 m away", true, 0.0, 0.108, 0.0, false, false, false},
      {"user taxiing, airborne point of an aircraft once too close", true, 0.0, 3.0, 0.0, true, true, true, 10.0},
      {"user standing, airborne point of an aircraft once too close", true, 0.0, 3.0, 0.0, true, true, false, 5.0},
      {"user in the air, point ahead", false, 5000.0, 3.0, 0.0, true, false, true},
      {"user in the air, point passing 1800 ft off", false, 5000.0, 3.0, 0.3, true, false, true},
      {"user in the air, point abeam", false, 5000.0, 0.0, 3.0, true, false, false},
      {"user in the air, far point of an aircraft once too close", false, 5000.0, 10.0, 0.0, true, true, true},
      {"user on approach, ground point ahead", false, 800.0, 1.0, 0.0, false, false, true},
      {"user on approach, ground point abeam", false, 800.0, 0.0, 1.0, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetTrafficEngineForTests();
    setUser(kUserLat, kUserLon, c.userOnGround ? 0.0 : 5500.0, c.userOnGround, c.userAglFt);
    if (c.userSpeedKt >= 0.0) g_userAircraftSnapshot.groundSpeedKt = c.userSpeedKt;
    const double lon = kUserLon + c.eastNm * kNmLat / std::cos(kUserLat * kDeg);
    kvo::FeedRecord r = record(20001, "DLH1", 1000.0, kUserLat + c.northNm * kNmLat, lon,
                               c.pointAirborne ? 6000.0 : 0.0, c.pointAirborne, 150.0);
    processFeedRecord(r);
    live(20001)->tooClose = c.tooCloseBefore ? 1 : 0;
    EXPECT_EQ(tooCloseToUser(*live(20001)), c.dropped);
    EXPECT_EQ(live(20001)->trackPoints.empty(), c.dropped);
  }
}

TEST_F(Spawn, ANewCallsignRespawnsTheAircraftUnderIt) {
  kvo::LiveAircraft& ac = addLive(30000, "DLH1", AircraftState::Active, 150);
  ac.position.heading = 1.0;
  g_trafficTick = 5001;
  kvo::FeedRecord r = update(ac, "DLH9");
  processFeedRecord(r);
  EXPECT_EQ(live(30000)->state, AircraftState::LiveryRespawn);
  EXPECT_EQ(live(30000)->callsign, "DLH9");
  EXPECT_EQ(live(30000)->trackPoints.front().dueTick, 5002);
  EXPECT_THAT(g_removeQueue, ElementsAre(150u));
  EXPECT_THAT(log(), HasSubstr(" respawns"));

  // The simulator removes the old object; the record comes back and is created again.
  postResult(150, 0, SimResultKind::RemovedBySim);
  tick();
  const kvo::LiveAircraft* a = live(30000);
  EXPECT_EQ(a->objectId, 0u);
  EXPECT_EQ(a->throttleIndex, kvo::kNoThrottleSent);
  EXPECT_EQ(a->state, AircraftState::Adding2Sim);
  EXPECT_NEAR(a->position.heading, 1.0, 1e-12);
  ASSERT_EQ(g_addingStack.size(), 1u);
  EXPECT_EQ(g_addingStack.back().tailNumber, "DLH9");
}

TEST_F(Spawn, WithoutGuidChangesTheCallsignChangesInPlace) {
  GUID_CHANGES.set(false);
  kvo::LiveAircraft& ac = addLive(30000, "DLH1", AircraftState::Active, 150);
  kvo::FeedRecord r = update(ac, "DLH9");
  processFeedRecord(r);
  EXPECT_EQ(live(30000)->state, AircraftState::Active);
  EXPECT_EQ(live(30000)->callsign, "DLH9");
  EXPECT_EQ(live(30000)->trackPoints.size(), 3u);
  EXPECT_TRUE(g_removeQueue.empty());
}

// A new airline or special livery readies an aircraft for its new creation; without the
// respawn it must go on as it was: a taxiing aircraft still takes its moving points and
// starts its take-off run.
TEST_F(Spawn, WithoutGuidChangesANewLiveryKeepsTheAircraftGoing) {
  GUID_CHANGES.set(false);
  installDataBase("<reg reg=\"D-AIAA\" airline=\"DLH\" type=\"A20N\"/><reg reg=\"G-EZAA\" airline=\"EZY\" type=\"A20N\"/>");
  buildLiveryDb({livery("DLH", "A20N", "Airbus A320neo DLH"), livery("DLH", "A20N", "DLH special", "D-AIXX"),
                 livery("EZY", "A20N", "Airbus A320neo EZY")});
  struct Case {
    const char* name;
    std::string oldRegistration, newRegistration, callsign;
  };
  const Case cases[] = {{"special livery", "", "D-AIXX", "DLH1"}, {"airline", "D-AIAA", "G-EZAA", "EZY12"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetTrafficEngineForTests();
    kvo::LiveAircraft& ac = addLive(30000, "DLH1", AircraftState::Active, 150);
    ac.registration = c.oldRegistration;
    ac.phase = GroundPhase::Taxi;
    ac.onGround = 1;
    for (kvo::TrackPoint& p : ac.trackPoints) {
      p.airborne = 0;
      p.altFt = 0.0;
      p.groundSpeedKt = 20.0;
    }
    double time = 1000.0;
    for (double speed : {50.0, 60.0}) {
      time += 5.0;
      kvo::FeedRecord r =
          record(30000, c.callsign, time, ac.position.lat, ac.position.lon + 0.06 + (time - 1000.0) * 4e-4, 0.0, false, speed);
      r.registration = c.newRegistration;
      processFeedRecord(r);
    }
    const kvo::LiveAircraft* a = live(30000);
    EXPECT_EQ(a->state, AircraftState::Active);
    EXPECT_EQ(a->phase, GroundPhase::Taxi);
    EXPECT_EQ(a->liveryTitle, "Airbus A320neo DLH");  // what its object wears
    EXPECT_EQ(a->registration, c.newRegistration);
    EXPECT_EQ(a->trackPoints.size(), 4u);
    EXPECT_EQ(a->takeOffRoll, 1);
    EXPECT_TRUE(g_removeQueue.empty());
  }
}

// Both ends of the route changed: a new flight of the airframe, created anew. The return leg to
// the park airport before the feed has caught up is not one.
TEST_F(Spawn, ANewLegRespawnsTheAircraftButNotItsReturnToTheParkAirport) {
  struct Case {
    const char* name;
    std::string parkIata, origin, destination;
    bool respawned;
  };
  const Case cases[] = {{"new leg", "", "MUC", "CDG", true},
                        {"return to the park airport", "FRA", "LHR", "FRA", false},
                        {"new destination only", "", "FRA", "CDG", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetTrafficEngineForTests();
    g_parkAirportIata = c.parkIata;
    kvo::LiveAircraft& ac = addLive(30000, "DLH1", AircraftState::Active, 150);
    ac.origin = "FRA";
    ac.destination = "LHR";
    kvo::FeedRecord r = update(ac, "DLH1");
    r.origin = c.origin;
    r.destination = c.destination;
    processFeedRecord(r);
    EXPECT_EQ(live(30000)->state, c.respawned ? AircraftState::LiveryRespawn : AircraftState::Active);
    EXPECT_EQ(g_removeQueue.size(), c.respawned ? 1u : 0u);
  }
}

TEST_F(Spawn, AGhostThatGetsItsPlainCallsignIsRespawnedOnce) {
  kvo::LiveAircraft& ac = addLive(30000, "AB123_", AircraftState::Active, 150);
  kvo::FeedRecord r = update(ac, "AB123");
  processFeedRecord(r);
  EXPECT_EQ(live(30000)->state, AircraftState::LiveryRespawn);
  EXPECT_THAT(g_removeQueue, ElementsAre(150u));
  EXPECT_TRUE(g_ghostCallsigns.empty());
}

TEST_F(Spawn, ASpecialLiveryOfTheNewRegistrationRespawnsWithIt) {
  buildLiveryDb({livery("DLH", "A20N", "Airbus A320neo DLH"), livery("DLH", "A20N", "DLH special", "D-AIXX")});
  kvo::LiveAircraft& ac = addLive(30000, "DLH1", AircraftState::Active, 150);
  kvo::FeedRecord r = update(ac, "DLH1");
  r.registration = "D-AIXX";
  processFeedRecord(r);
  EXPECT_EQ(live(30000)->state, AircraftState::LiveryRespawn);
  EXPECT_EQ(live(30000)->phase, GroundPhase::Birth);
  postResult(150, 0, SimResultKind::RemovedBySim);
  tick();
  EXPECT_EQ(live(30000)->state, AircraftState::Adding2Sim);
  EXPECT_EQ(live(30000)->liveryTitle, "DLH special");
}

}  // namespace
