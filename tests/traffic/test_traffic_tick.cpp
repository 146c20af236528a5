// The traffic tick: feed intake and its filters, the pacing of creations and removals, the
// periodic simulator requests, the position buffers and the engine's containers.
#include <gmock/gmock.h>

#include <limits>

#include "core/timeutil.h"
#include "traffic_test_support.h"

using namespace traffictest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using TrafficTick = TrafficTest;

TEST_F(TrafficTick, TakesAtMostTwoFeedRecordsPerTick) {
  for (std::uint32_t id : {20001u, 20002u, 20003u}) feed(record(id, "DLH" + std::to_string(id), 1000.0, 51.0, 8.0));
  tick();
  EXPECT_EQ(g_liveAircraft.size(), 2u);
  tick();
  ASSERT_EQ(g_liveAircraft.size(), 3u);
  EXPECT_EQ(g_liveAircraft[2].state, AircraftState::Buffer);
  EXPECT_EQ(g_liveAircraft[2].trackPoints.front().dueTick, 3000);
}

TEST_F(TrafficTick, FiltersUpdatesOfAKnownAircraft) {
  struct Case {
    const char* name;
    double seconds, firstKt, secondKt, firstTrack, secondTrack;
    bool airborne, accepted;
    bool pushingBack = false;  // its lines give the push's pace and where it stops: none is thinned
    double feedTime = 0.0;     // the feed's time when the second comes (0: none yet)
    bool parked = false;       // its thinned standing lines still tell where its feed puts it
    std::size_t noted = 0;     // ... those among its lines for the feed's scatter
  };
  const Case cases[] = {
      {"0.8 s later", 0.8, 250, 250, 90, 120, true, false},
      {"1.2 s later, turning", 1.2, 250, 250, 90, 120, true, true},
      {"older", -5.0, 250, 250, 90, 120, true, false},
      {"600 kt after 50 kt", 5.0, 50, 600, 90, 120, true, false},
      {"499 kt after 50 kt", 5.0, 50, 499, 90, 120, true, true},
      {"25 kt after 300 kt", 5.0, 300, 25, 90, 120, true, false},
      {"31 kt after 300 kt", 5.0, 300, 31, 90, 120, true, true},
      {"80 kt after 5 kt", 5.0, 5, 80, 90, 120, false, false},
      {"79 kt after 5 kt", 5.0, 5, 79, 90, 120, false, true},
      {"4 kt after 85 kt", 5.0, 85, 4, 90, 120, false, false},
      {"4 kt after 79 kt", 5.0, 79, 4, 90, 120, false, true},
      {"300 kt straight, 2.9 s", 2.9, 300, 300, 90, 90.5, true, false},
      {"300 kt straight, 3.0 s", 3.0, 300, 300, 90, 90.5, true, true},
      {"300 kt straight across north, 2.9 s", 2.9, 300, 300, 359.6, 0.3, true, false},
      {"20 kt on the ground straight, 1.9 s", 1.9, 20, 20, 90, 91, false, false},
      {"20 kt on the ground straight, 2.0 s", 2.0, 20, 20, 90, 91, false, true},
      {"standing, 14 s", 14.0, 0, 0, 90, 90, false, false},
      {"standing, 16 s", 16.0, 0, 0, 90, 90, false, true},
      {"pushing back at 2.5 kt straight, 2 s", 2.0, 2.5, 2.5, 90, 90, false, true, true},
      {"pushing back, standing, 2 s", 2.0, 0, 0, 90, 90, false, true, true},
      {"parked, standing, 14 s", 14.0, 0, 0, 90, 90, false, false, false, 0.0, true, 1},
      {"parked, standing, the same line again", 0.0, 0, 0, 90, 90, false, false, false, 0.0, true, 0},
      {"parked, 20 kt on the ground straight, 1.9 s", 1.9, 20, 20, 90, 91, false, false, false, 0.0, true, 0},
      // A wild stamp would make every true line after it look older.
      {"an hour past the feed's time", 3600.0, 250, 250, 90, 120, true, false, false, 1030.0},
      {"300 s past the feed's time", 330.0, 250, 250, 90, 120, true, true, false, 1030.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetTrafficEngineForTests();
    const double alt = c.airborne ? 8000.0 : 0.0;
    kvo::FeedRecord first = record(20001, "DLH1", 1000.0, 51.0, 8.0, alt, c.airborne, c.firstKt, c.firstTrack);
    kvo::FeedRecord second =
        record(20001, "DLH1", 1000.0 + c.seconds, 51.0, 8.01, alt, c.airborne, c.secondKt, c.secondTrack);
    processFeedRecord(first);
    if (c.pushingBack) live(20001)->phase = GroundPhase::PushingBack;
    if (c.parked) {
      live(20001)->phase = GroundPhase::Parked;
      live(20001)->feedTime = first.timestamp;  // as the intake keeps it
      // Heard later, as the intake hears it: a line sent twice comes again some seconds on.
      second.position.dueTick = first.position.dueTick + 100 * std::max(2, static_cast<int>(c.seconds));
    }
    const std::size_t notedBefore = live(20001)->scatterLines.size();
    g_feedEpochTime = c.feedTime;
    processFeedRecord(second);
    g_feedEpochTime = 0.0;
    // A push-back keeps the lines it hears beside its own points.
    EXPECT_EQ(live(20001)->trackPoints.size() + live(20001)->pushBackFeedLines.size(), c.accepted ? 2u : 1u);
    if (c.parked) {
      EXPECT_EQ(live(20001)->scatterLines.size() - notedBefore, c.noted);
    }
  }
}

TEST_F(TrafficTick, NewAircraftNeedAKnownTypeAndAnEnabledSizeClass) {
  installDataBase("<reg reg=\"D-AINA\" airline=\"DLH\" type=\"A20N\" operator=\"\" cargo=\"0\"/>");
  LIGHT_AIRCRAFT.set(false);
  struct Case {
    std::uint32_t hexId;
    const char* callsign;
    const char* type;
    const char* registration;
    const char* madeAs;  // nullptr: not made
  };
  const Case cases[] = {
      {20001, "DLH1", "", "D-AINA", "A20N"},      // type from the registration
      {20002, "DLH2", "XXXX", "D-AINA", "A20N"},  // unknown type, known registration
      {20003, "DLH3", "XXXX", "D-XXXX", nullptr},
      {20004, "DLH1", "A20N", "", nullptr},  // a new id flying a known flight
      {20005, "DLH1", "B77W", "", "B77W"},   // same callsign, another type
      {20006, "N12AB", "C172", "", nullptr},  // light aircraft switched off
      {9999, "DLH9", "A20N", "", nullptr},    // a static aircraft's id
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hexId);
    kvo::FeedRecord r = record(c.hexId, c.callsign, 1000.0, 51.0, 8.0, 8000.0, true, 250.0, 90.0, c.type);
    r.registration = c.registration;
    processFeedRecord(r);
    ASSERT_EQ(live(c.hexId) != nullptr, c.madeAs != nullptr);
    if (c.madeAs != nullptr) {
      EXPECT_EQ(live(c.hexId)->type, c.madeAs);
    }
  }
}

TEST_F(TrafficTick, PointsAtTheParkAirportsElevationAreNotTakenForNewAircraft) {
  auto accepted = [&](double altFt, const char* parkAirport, double elevation) {
    resetTrafficEngineForTests();
    g_parkAirport = parkAirport;
    g_parkAirportElevation = elevation;
    kvo::FeedRecord r = record(20001, "DLH1", 1000.0, 51.0, 8.0, altFt);
    processFeedRecord(r);
    return live(20001) != nullptr;
  };
  EXPECT_TRUE(accepted(350.0, "", 0.0));  // no park airport: every altitude passes
  EXPECT_FALSE(accepted(350.0, "EDDF", 300.0));
  EXPECT_TRUE(accepted(450.0, "EDDF", 300.0));
  EXPECT_TRUE(accepted(10000.0, "EDDF", 9950.0));

  // Nor for an aircraft still buffered; one that flies takes it.
  for (const AircraftState state : {AircraftState::Buffer, AircraftState::Active}) {
    resetTrafficEngineForTests();
    g_parkAirport = "EDDF";
    g_parkAirportElevation = 300.0;
    kvo::FeedRecord high = record(20001, "DLH1", 1000.0, 51.0, 8.0, 3000.0);
    kvo::FeedRecord low = record(20001, "DLH1", 1010.0, 51.0, 8.05, 350.0);
    processFeedRecord(high);
    live(20001)->state = state;
    processFeedRecord(low);
    EXPECT_EQ(live(20001)->trackPoints.size(), state == AircraftState::Buffer ? 1u : 2u);
  }
}

TEST_F(TrafficTick, PacesCreationsLiveFirstAndRemovals) {
  g_addingStack = {request(20001, "LIVE1"), request(20002, "LIVE2")};
  g_queuedCreates = {request(7, "STAT7*")};
  g_removeQueue = {101, 102, 103};
  tickUntil(11);  // removals at ticks 0 and 10: one per 100 ms
  frame();
  EXPECT_THAT(callArgs("SimConnect_AIRemoveObject", 0), ElementsAre("101", "102"));
  tickUntil(50);  // ticks 0..49: one creation, removals at 0, 10, 20, 30, 40
  frame();
  EXPECT_THAT(callArgs("SimConnect_AICreateNonATCAircraft", 1), ElementsAre("\"LIVE1\""));
  EXPECT_THAT(callArgs("SimConnect_AIRemoveObject", 0), ElementsAre("101", "102", "103"));
  tickUntil(101);
  frame();
  EXPECT_THAT(callArgs("SimConnect_AICreateNonATCAircraft", 1), ElementsAre("\"LIVE1\"", "\"LIVE2\"", "\"STAT7*\""));
}

TEST_F(TrafficTick, BuildsTheRequestOfTheNewestSpawnedAircraftFirst) {
  addLive(20001, "DLH1", AircraftState::Adding2Sim);
  addLive(20002, "DLH2", AircraftState::Adding2Sim);
  addLive(20003, "", AircraftState::Adding2Sim);
  g_pendingCreateIds = {20001, 20002, 20003};
  g_trafficTick = 1;  // off the pacing ticks
  tick(3);
  EXPECT_THAT(log(), HasSubstr("===> lf_handleAddingStack "));
  EXPECT_THAT(log(), HasSubstr("DLH A20N objectid = 0?"));
  ASSERT_EQ(g_addingStack.size(), 2u);
  EXPECT_EQ(g_addingStack[0].tailNumber, "DLH2");
  EXPECT_EQ(g_addingStack[1].tailNumber, "DLH1");
  EXPECT_EQ(g_addingStack[1].title, "Airbus A320neo DLH");
}

TEST_F(TrafficTick, AsksForTheAircraftInRangeAndTakesTheUserData) {
  {
    std::lock_guard lock(g_simQueueMutex);
    g_userAircraft.lat = 51.5;  // the client thread's newest data
  }
  g_trafficTick = 1;
  tickUntil(100);
  EXPECT_DOUBLE_EQ(g_userAircraftSnapshot.lat, kUserLat);
  tick();  // tick 100
  EXPECT_DOUBLE_EQ(g_userAircraftSnapshot.lat, 51.5);
  const auto inRange = simtest::callsOf("SimConnect_RequestDataOnSimObjectType");
  ASSERT_EQ(inRange.size(), 5u);  // ticks 20, 40, 60, 80, 100
  EXPECT_EQ(inRange[0].text(), "SimConnect_RequestDataOnSimObjectType(101, 404, 98156, AIRCRAFT)");  // 50 nm and 3 more
  EXPECT_THAT(callArgs("SimConnect_RequestDataOnSimObject", 0), ElementsAre("109"));
}

TEST_F(TrafficTick, AFailedInRangeRequestEndsTheRun) {
  simtest::failCall("SimConnect_RequestDataOnSimObjectType", 1);
  tickUntil(21);
  EXPECT_THAT(log(), HasSubstr("SimConnect request ac within range fails"));
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSimConnectError);
  EXPECT_EQ(simtest::callsOf("SimConnect_RequestDataOnSimObjectType").size(), 1u);  // none once not ready
}

TEST_F(TrafficTick, ABusyQueueLockDropsTheTicksPositionsAtLowFrameRates) {
  g_frameRate = 30.0f;
  std::lock_guard lock(g_simQueueMutex);  // the client thread is sending
  g_positionBufferFill->push_back(kvo::AiPositionUpdate{{}, 101});
  g_positionBufferSend->push_back(kvo::AiPositionUpdate{{}, 100});
  updateAllLiveAircraft();
  EXPECT_TRUE(g_positionBufferFill->empty());
  ASSERT_EQ(g_positionBufferSend->size(), 1u);  // not swapped
  EXPECT_EQ(g_positionBufferSend->front().objectId, 100u);
}

TEST_F(TrafficTick, TheClockRunsPastThirtyTwoBits) {
  constexpr TickCount start = std::numeric_limits<std::int32_t>::max() - 150;
  g_trafficTick = start;
  for (int i = 0; i < 3; ++i) feed(record(20001, "DLH1", 1000.0 + 5.0 * i, 50.5, 8.0 + 0.02 * i, 8000.0, true, 250.0, 90.0 + 10.0 * i));
  tickUntil(start + 3000);
  frame();
  ASSERT_NE(live(20001), nullptr);
  EXPECT_EQ(live(20001)->state, AircraftState::Adding2Sim);
  EXPECT_GT(live(20001)->trackPoints.back().dueTick, std::numeric_limits<std::int32_t>::max());
  EXPECT_THAT(callArgs("SimConnect_AICreateNonATCAircraft", 1), ElementsAre("\"DLH1\""));
}

TEST_F(TrafficTick, ReservesOnceAndEmptiesEverythingBetweenRuns) {
  coretest::writeFile(g_callsignListFile, "old");
  reserveTrafficContainers();
  EXPECT_FALSE(std::filesystem::exists(g_callsignListFile));
  EXPECT_GE(g_liveAircraft.capacity(), 512u);

  addLive(20001, "DLH1", AircraftState::Active, 101);
  addStatic(1, "DLH1*", AircraftState::Active, 0, 102);
  g_addingStack.push_back(request(20002, "X"));
  g_removeQueue.push_back(5);
  g_pendingCreateIds.push_back(20003);
  g_deferredResults.push_back({});
  g_parkAirport = "EDDF";
  g_qnh = 1020;
  feed(record(20009, "Z", 1.0, 1.0, 1.0));
  postResult(0, 0, SimResultKind::RemovedBySim);
  resetTraffic();
  EXPECT_TRUE(g_liveAircraft.empty() && g_staticAircraft.empty() && g_addingStack.empty() && g_removeQueue.empty() &&
              g_pendingCreateIds.empty() && g_deferredResults.empty() && g_parkAirport.empty());
  EXPECT_EQ(g_qnh.load(), 1013);
  EXPECT_EQ(trafficFeedSize(), 0u);
  std::lock_guard lock(g_simResultsMutex);
  EXPECT_TRUE(g_simResults.empty());
}

}  // namespace
