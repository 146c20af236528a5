// The simulator's results (created, removed, ground data, centre of gravity, create failed),
// the activation delay, and every road by which an aircraft leaves the simulator.
#include <gmock/gmock.h>

#include "traffic_test_support.h"

using namespace traffictest;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

constexpr double kDeg = 0.017453292519943295;

class SimResults : public TrafficTest {
 protected:
  void SetUp() override {
    TrafficTest::SetUp();
    g_trafficTick = 1;  // off the pacing ticks
  }

  static std::size_t lightsToggles(std::uint32_t objectId) {
    std::size_t n = 0;
    for (const auto& c : simtest::callsOf("SimConnect_TransmitClientEvent")) {
      if (c.args.at(0) == std::to_string(objectId) && c.args.at(1) == "213") ++n;
    }
    return n;
  }

  static std::vector<std::uint32_t> liveOrder() {
    std::vector<std::uint32_t> ids;
    for (const auto& a : g_liveAircraft) ids.push_back(a.internalId);
    return ids;
  }
};

TEST_F(SimResults, ALiveAircraftIsActivatedTwoHundredTicksAfterItsObjectWasPaired) {
  addLive(20001, "DLH1", AircraftState::Adding2Sim);
  postResult(2, 20001, SimResultKind::CreatedLive, 0.0, 3000.0);  // the user's ids are no AI object
  postResult(150, 20001, SimResultKind::CreatedLive, 0.0, 3000.0);
  tick();
  EXPECT_EQ(live(20001)->objectId, 150u);
  EXPECT_EQ(simtest::callsOf("SimConnect_RequestDataOnSimObject").back().text(),
            "SimConnect_RequestDataOnSimObject(102, 405, 150, ONCE, 0, 0, 0, 0)");
  tick(48);
  EXPECT_EQ(lightsToggles(150), 0u);
  tick();
  EXPECT_EQ(lightsToggles(150), 1u);
  tick(150);
  EXPECT_EQ(lightsToggles(150), 2u);
  EXPECT_EQ(live(20001)->state, AircraftState::Adding2Sim);
  tick();  // 200 ticks after the tick that paired it
  EXPECT_EQ(live(20001)->state, AircraftState::Active);
  const auto events = queuedEvents(150);
  ASSERT_GE(events.size(), 9u);  // the movement may add its own behind them
  EXPECT_THAT(std::vector<std::string>(events.begin(), events.begin() + 9),
              ElementsAre(ev(kvo::kEventEngineAutoStart, 0), ev(kvo::kEventSpoilersSet, 0), ev(kvo::kEventNavLightsSet, 1),
                          ev(kvo::kEventBeaconLightsSet, 1), ev(kvo::kEventLandingLightsSet, 1),
                          ev(kvo::kEventTaxiLightsSet, 0), ev(kvo::kEventStrobesSet, 1), ev(kvo::kEventLogoLightsSet, 1),
                          ev(kvo::kEventCabinLightsSet, 1)));
}

TEST_F(SimResults, AParkedCreationTakesItsStandOverAndStartsWithEnginesOff) {
  addStand(5, "A5", 1);
  addStatic(1, "EZY7*", AircraftState::Active, 5, 160);
  g_staticCandidates = {{5, 0, "DLH", "A20N", "DLH9", "", "", 1}, {6, 0, "DLH", "A20N", "DLH8", "", "", 1}};
  kvo::LiveAircraft& ac = addLive(20001, "DLH1", AircraftState::Adding2Sim);
  for (auto& p : ac.trackPoints) p.airborne = 0;
  ac.phase = GroundPhase::Parked;
  ac.standId = 5;
  postResult(150, 20001, SimResultKind::CreatedLive);
  tick();
  EXPECT_EQ(live(20001)->onGround, 1);
  ASSERT_EQ(g_staticCandidates.size(), 1u);
  EXPECT_EQ(g_staticCandidates[0].standId, 6u);
  EXPECT_EQ(g_staticAircraft[0].state, AircraftState::RemovingFromSim);
  EXPECT_TRUE(removalQueued(160));
  EXPECT_THAT(log(), HasSubstr("A5      : DLH1     parks over static EZY7* \xE2\x80\x94 static will be removed"));

  NAV_LIGHTS_WHILE_PARKED.set(false);
  activateLiveAircraft(*live(20001));
  EXPECT_THAT(queuedEvents(150),
              ElementsAre(ev(kvo::kEventGearSet, 1), ev(kvo::kEventSpoilersSet, 0), ev(kvo::kEventEngineAutoShutdown, 0),
                          ev(kvo::kEventNavLightsSet, 0), ev(kvo::kEventBeaconLightsSet, 0),
                          ev(kvo::kEventLandingLightsSet, 0), ev(kvo::kEventTaxiLightsSet, 0), ev(kvo::kEventStrobesSet, 0),
                          ev(kvo::kEventLogoLightsSet, 1), ev(kvo::kEventCabinLightsSet, 1), ev(kvo::kEventThrottleSet, 0),
                          ev(kvo::kEventFlapsSet, 0)));
}

TEST_F(SimResults, AStaticAircraftIsParkedTwoHundredTicksAfterItsObjectWasPaired) {
  addStand(5, "A5", 0);
  addStatic(7, "DLH9*", AircraftState::Adding2Sim, 5);
  postResult(160, 7, SimResultKind::CreatedStatic);
  tick(200);
  EXPECT_EQ(g_staticAircraft[0].state, AircraftState::Adding2Sim);
  tick();
  EXPECT_EQ(g_staticAircraft[0].state, AircraftState::Active);
  EXPECT_EQ(g_staticAircraft[0].objectId, 160u);
  EXPECT_THAT(queuedEvents(160),
              ElementsAre(ev(kvo::kEventThrottleSet, 0), ev(kvo::kEventFlapsSet, 0), ev(kvo::kEventEngineAutoShutdown, 0),
                          ev(kvo::kEventNavLightsSet, 1), ev(kvo::kEventBeaconLightsSet, 0),
                          ev(kvo::kEventLandingLightsSet, 0), ev(kvo::kEventTaxiLightsSet, 0), ev(kvo::kEventStrobesSet, 0),
                          ev(kvo::kEventLogoLightsSet, 1), ev(kvo::kEventCabinLightsSet, 1)));
  EXPECT_THAT(log(), HasSubstr("A5      : DLH9*    parked"));
}

TEST_F(SimResults, TheStaticCentreOfGravityIsTakenWithinItsLimits) {
  struct Case {
    double cgFt, pitchDeg, expectedCgFt, expectedPitchDeg;
  };
  for (const Case& c : {Case{0.5, 1.0, 7.0, 1.0}, Case{36.0, -0.5, 7.0, -0.5}, Case{12.0, 3.0, 12.0, 0.7},
                        Case{35.0, -1.0, 35.0, 0.7}, Case{1.0, 2.5, 1.0, 2.5}}) {
    SCOPED_TRACE(c.cgFt);
    resetTrafficEngineForTests();
    addLive(20001, "DLH1", AircraftState::Active, 150).staticCgFt = 7.0;
    postResult(150, 0, SimResultKind::StaticCg, c.cgFt, c.pitchDeg * kDeg);
    handleSimConnectResults();
    EXPECT_DOUBLE_EQ(live(20001)->staticCgFt, c.expectedCgFt);
    EXPECT_NEAR(live(20001)->staticPitch, c.expectedPitchDeg * kDeg, 1e-12);
  }
}

TEST_F(SimResults, GroundDataLandsAnAircraftAndHoldsItOnTheGround) {
  kvo::LiveAircraft& ac = addLive(20001, "DLH1", AircraftState::Active, 150);
  ac.descent = 1;
  ac.staticCgFt = 8.0;
  ac.staticPitch = -0.01;
  ac.position.pitch = -0.05;
  ac.takeOffCounter = 0;
  addLive(20002, "DLH2", AircraftState::Active, 151).position.altFt = 1500.0;
  postResult(150, 1, SimResultKind::GroundData, 364.0, 2.0);
  postResult(151, 0, SimResultKind::GroundData, 364.0, 1136.0);
  handleSimConnectResults();
  const kvo::LiveAircraft& landed = *live(20001);
  EXPECT_TRUE(landed.onGround && landed.landingRoll && landed.derotation && !landed.descent);
  EXPECT_DOUBLE_EQ(landed.position.altFt, 372.0);
  EXPECT_NEAR(landed.pitchStep, 0.04 / 350.0, 1e-15);  // Large: 350 ground-slot ticks
  EXPECT_THAT(queuedEvents(150), ElementsAre(ev(kvo::kEventSpoilersSet, 16383)));
  EXPECT_THAT(g_duplicateCheckQueue, ElementsAre(20001u));
  // In the air only the height above ground is taken.
  EXPECT_DOUBLE_EQ(live(20002)->aglFt, 1136.0);
  EXPECT_DOUBLE_EQ(live(20002)->position.altFt, 1500.0);
}

TEST_F(SimResults, EveryStateHasItsWayOut) {
  removeAircraftFromSim(addLive(20001, "A1", AircraftState::Buffer));
  g_addingStack = {request(20002, "A2")};
  removeAircraftFromSim(addLive(20002, "A2", AircraftState::Adding2Sim));
  EXPECT_THAT(g_addingStack, IsEmpty());
  kvo::LiveAircraft& active = addLive(20003, "A3", AircraftState::Active, 152);
  removeAircraftFromSim(active);
  removeAircraftFromSim(active);
  removeAircraftFromSim(addLive(20004, "A4", AircraftState::LiveryRespawn, 153));  // queued by the respawn
  removeAircraftFromSim(addLive(20005, "A5", AircraftState::Active, 0));
  EXPECT_THAT(g_removeQueue, ElementsAre(152u));
  EXPECT_THAT(log(), HasSubstr("removeAircraftFromSim removing act A5"));
  tick();
  EXPECT_THAT(liveOrder(), ElementsAre(20003u, 20004u));  // the others never reached the simulator
  frame();
  EXPECT_THAT(callArgs("SimConnect_AIRemoveObject", 0), IsEmpty());  // tick 1: no removal pace
}

// ---- the mended faults ----

TEST_F(SimResults, ARemovalAskedForDuringTheCreationFollowsTheActivation) {
  addLive(20001, "DLH1", AircraftState::Adding2Sim);
  removeAircraftFromSim(*live(20001));  // its request has gone to the simulator
  EXPECT_EQ(live(20001)->removeRequested, 1);
  postResult(150, 20001, SimResultKind::CreatedLive);
  tick(201);
  EXPECT_EQ(live(20001)->state, AircraftState::RemovingFromSim);
  EXPECT_TRUE(removalQueued(150));
}

TEST_F(SimResults, AStaticAircraftCanBeRemovedWhileItIsCreated) {
  addStatic(7, "DLH9*", AircraftState::Adding2Sim, 5);
  g_queuedCreates = {request(7, "DLH9*"), request(8, "DLH8*")};
  removeAircraftFromSim(g_staticAircraft[0]);
  ASSERT_EQ(g_queuedCreates.size(), 1u);
  EXPECT_EQ(g_queuedCreates[0].internalId, 8u);
  tick();
  EXPECT_THAT(g_staticAircraft, IsEmpty());

  addStatic(9, "DLH7*", AircraftState::Adding2Sim, 5);  // its request has gone
  removeAircraftFromSim(g_staticAircraft[0]);
  postResult(161, 9, SimResultKind::CreatedStatic);
  tick(201);
  EXPECT_EQ(g_staticAircraft[0].state, AircraftState::RemovingFromSim);
  EXPECT_TRUE(removalQueued(161));
}

TEST_F(SimResults, AnObjectWithoutItsAircraftIsRemovedAndActivatesNoOther) {
  addLive(20001, "DLH1", AircraftState::Adding2Sim);
  postResult(150, 20001, SimResultKind::CreatedLive);
  tick();
  g_liveAircraft.clear();                             // the aircraft went while its object settled
  addLive(20001, "DLH1", AircraftState::Adding2Sim);  // and the same hex id flies again
  tick(200);
  EXPECT_EQ(live(20001)->state, AircraftState::Adding2Sim);
  EXPECT_THAT(g_deferredResults, IsEmpty());
  EXPECT_TRUE(removalQueued(150));

  // An object the simulator removed while it settled ends its wait (and its static aircraft).
  addStatic(7, "DLH9*", AircraftState::Adding2Sim, 5);
  postResult(161, 7, SimResultKind::CreatedStatic);
  tick();
  postResult(161, 0, SimResultKind::RemovedBySim);
  tick(201);
  EXPECT_THAT(g_staticAircraft, IsEmpty());
  EXPECT_FALSE(removalQueued(161));
}

TEST_F(SimResults, ACreationIsTakenBackByInternalIdWhereverItWaits) {
  addLive(20001, "DLH1", AircraftState::Adding2Sim);
  addLive(20002, "DLH1", AircraftState::Adding2Sim);  // the same callsign
  addLive(20003, "DLH3", AircraftState::Adding2Sim);
  g_addingStack = {request(20001, "DLH1"), request(20002, "DLH1")};
  g_pendingCreateIds = {20003};
  removeAircraftFromSim(*live(20002));
  removeAircraftFromSim(*live(20003));
  ASSERT_EQ(g_addingStack.size(), 1u);
  EXPECT_EQ(g_addingStack[0].internalId, 20001u);
  EXPECT_THAT(g_pendingCreateIds, IsEmpty());
  tick();
  EXPECT_THAT(liveOrder(), ElementsAre(20001u));
}

TEST_F(SimResults, AFileSystemErrorUsesTheResultsUpAllTheSame) {
  g_flightPlanFolder = folder_ / std::string(300, 'x');  // a name no file system takes
  addLive(20001, "DLH1", AircraftState::Active, 150).flightPlanWritten = 1;
  addLive(20002, "DLH2", AircraftState::Active, 151);
  postResult(150, 0, SimResultKind::RemovedBySim);
  postResult(151, 0, SimResultKind::RemovedBySim);
  handleSimConnectResults();
  EXPECT_THAT(g_liveAircraft, IsEmpty());
  EXPECT_THAT(log(), HasSubstr("onAircraftRemovedBySim exception"));
  std::lock_guard lock(g_simResultsMutex);
  EXPECT_THAT(g_simResults, IsEmpty());
}

TEST_F(SimResults, AnErasedRecordGivesItsStandBack) {
  kvo::Stand& stand = addStand(5, "A5", 1);
  addLive(20001, "DLH1", AircraftState::Active, 150).standId = 5;
  postResult(150, 0, SimResultKind::RemovedBySim);  // not asked for
  tick();
  EXPECT_EQ(stand.occupied, 0);

  // Removed on purpose: the stand went back at once and may be taken again before the record goes.
  addLive(20002, "DLH2", AircraftState::Active, 151).standId = 5;
  stand.occupied = 1;
  removeAircraftFromSim(*live(20002));
  EXPECT_EQ(stand.occupied, 0);
  stand.occupied = 1;
  postResult(151, 0, SimResultKind::RemovedBySim);
  tick();
  EXPECT_EQ(stand.occupied, 1);
}

TEST_F(SimResults, ErasingKeepsTheOrderOfTheOthers) {
  addLive(20001, "A1", AircraftState::Active, 150);
  addLive(20002, "A2", AircraftState::Adding2Sim);
  addLive(20003, "A3", AircraftState::Active, 152);
  addLive(20004, "A4", AircraftState::Active, 153);
  addStatic(1, "S1*", AircraftState::Active, 0, 160);
  addStatic(2, "S2*", AircraftState::Adding2Sim);
  addStatic(3, "S3*", AircraftState::Active, 0, 162);
  postResult(0, 20002, SimResultKind::CreateFailed);
  postResult(150, 0, SimResultKind::RemovedBySim);
  postResult(160, 0, SimResultKind::RemovedBySim);
  handleSimConnectResults();
  EXPECT_THAT(liveOrder(), ElementsAre(20003u, 20004u));
  EXPECT_TRUE(isFailedLiveryTitle("Airbus A320neo DLH"));
  ASSERT_EQ(g_staticAircraft.size(), 2u);
  EXPECT_EQ(g_staticAircraft[0].internalId, 2u);
}

// ---- removal rules ----

TEST_F(SimResults, ALoweredMaximumRemovesTheFarthestAircraft) {
  for (std::uint32_t i = 0; i < 30; ++i) addLive(20001 + i, "A" + std::to_string(i), AircraftState::Active, 150 + i, 1.0 + i);
  MAX_LIVE_SEL.set(10);
  requestLiveTrim();
  tick();
  for (const auto& a : g_liveAircraft) {
    EXPECT_EQ(a.state == AircraftState::RemovingFromSim, a.internalId > 20010) << a.callsign;
  }
}

TEST_F(SimResults, TheSameAirframeCannotStandWhileItFlies) {
  auto parked = [](std::uint32_t id, const std::string& reg, const std::string& c1, const std::string& c2) {
    kvo::StaticAircraft& s = addStatic(id, c1 + "*", AircraftState::Active, 0, 160 + id);
    s.registration = reg;
    s.coupledCallsign1 = c1;
    s.coupledCallsign2 = c2;
  };
  parked(1, "D-AINA", "DLH5", "");
  parked(2, "D-AINB", "DLH1", "DLH2");
  parked(3, "D-AINC", "DLH4", "DLH3");
  kvo::LiveAircraft& byReg = addLive(20001, "XYZ1", AircraftState::Active, 150);
  byReg.registration = "D-AINA";
  removeSameRegcodeOrCallsign(byReg, false);
  removeSameRegcodeOrCallsign(addLive(20002, "DLH1", AircraftState::Active, 151), true);
  removeSameRegcodeOrCallsign(addLive(20003, "DLH3_", AircraftState::Active, 152), false);
  for (const auto& s : g_staticAircraft) EXPECT_EQ(s.state, AircraftState::RemovingFromSim) << s.callsign;
  // Two airframes without a registration are not the same airframe.
  kvo::StaticAircraft& unknown = addStatic(4, "EZY9*", AircraftState::Active, 0, 170);
  removeSameRegcodeOrCallsign(addLive(20004, "XYZ2", AircraftState::Active, 153), false);
  EXPECT_EQ(unknown.state, AircraftState::Active);
  EXPECT_THAT(log(), HasSubstr("DLH5*    D-AINA removed, new airborne 'XYZ1' has same regcode D-AINA"));
  EXPECT_THAT(log(), HasSubstr("DLH1*    'DLH1 DLH2' removed, new on ground DLH1 'DLH1' '' has same callsign"));
  EXPECT_THAT(log(), HasSubstr("'DLH4 DLH3' removed, new airborne DLH3_ 'DLH3_' '' has coupled callsign"));
}

TEST_F(SimResults, ATaxiingAircraftRemovesAStaticOneInItsWay) {
  kvo::StaticAircraft& inWay = addStatic(1, "EZY7*", AircraftState::Active, 0, 160);
  kvo::LiveAircraft& ac = addLive(20001, "DLH1", AircraftState::Active, 150);
  ac.position.lat = inWay.standLat;
  ac.position.lon = inWay.standLon;
  ac.landingRoll = 1;
  avoidCollisionWithStatic(ac);
  EXPECT_EQ(inWay.state, AircraftState::Active);
  ac.landingRoll = 0;
  avoidCollisionWithStatic(ac);
  EXPECT_EQ(inWay.state, AircraftState::RemovingFromSim);
  EXPECT_FALSE(hasMovedSincePreviousStep(ac));

  // In the way is within 1.1 x both half spans.
  for (const double factor : {1.05, 1.2}) {
    kvo::StaticAircraft& other = addStatic(2, "EZY8*", AircraftState::Active, 0, 161);
    other.standLat = ac.position.lat + factor * (other.halfSpanNm + ac.halfSpanNm) / 60.0;
    other.standLon = ac.position.lon;
    avoidCollisionWithStatic(ac);
    EXPECT_EQ(g_staticAircraft.back().state == AircraftState::RemovingFromSim, factor < 1.1) << factor;
    g_staticAircraft.pop_back();
  }
}

TEST_F(SimResults, TheCallsignListHasOneSortedLinePerActiveAircraft) {
  addStand(5, "A5", 1);
  kvo::LiveAircraft& parked = addLive(20001, "DLH1", AircraftState::Active, 150);
  parked.onGround = 1;
  parked.phase = GroundPhase::Parked;
  parked.standId = 5;
  addLive(20002, "DLH2", AircraftState::Active, 151);
  addLive(20003, "DLH3", AircraftState::Adding2Sim);
  listParkedAircraft();
  EXPECT_EQ(coretest::readFile(g_callsignListFile),
            "Air DLH2      DLH A20N: 151 \n"
            "Gnd DLH1      DLH A20N: 150 Parked at A5\n");
}

}  // namespace
