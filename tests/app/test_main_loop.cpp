// The main loop's job schedule by sample count, the step with and without a running flight,
// the periodic jobs and the waits before the loop. The sample count is driven directly.
#include "app_fixture.h"
#include "airports/park_stands.h"
#include "links/feed.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/sim_user_model.h"
#include "links/traffic_reader.h"
#include "platform/simconnect/testing.h"

using namespace apptest;
using namespace std::chrono_literals;

namespace {

class MainLoopTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    kvo::simtest::reset();
    resetSimConnectState();
    resetTrafficFeedForTests();
    // The traffic tick talks to the simulator: a connection is open.
    kvo::simtest::setPresent(true);
    HANDLE handle = nullptr;
    ASSERT_EQ(SimConnect_Open(&handle, "Ambrelvane", nullptr, 0, nullptr, 0), S_OK);
    g_simConnect = handle;
  }
  void TearDown() override {
    if (HANDLE handle = g_simConnect.load()) SimConnect_Close(handle);
    resetSimConnectState();
    resetParkStands();
    kvo::simtest::reset();
    AppTest::TearDown();
  }
  // One user sample arrives and the loop takes it.
  bool sampleStep() {
    g_newUserSample = true;
    return mainLoopStep();
  }
  // The sample's own work without the traffic tick (which would move or drop the hand-made
  // aircraft of these tests).
  static bool sampleOnly() {
    processUserSample();
    if (g_stopRequested.load() || g_quitRequested.load()) return false;
    runSampleJobs(g_userSampleCount);
    return true;
  }
  void flightRuns() {
    g_flightRunning = true;
    g_simQueuesNotReady = false;
  }
};

kvo::SampleJobs fifteen(bool thirty = false, bool sixty = false, bool twenty = false, bool day = false) {
  kvo::SampleJobs j;
  j.fifteenGroup = true;
  j.autoRange = thirty;
  j.minutes = sixty;
  j.twentyMinutes = twenty;
  j.day = day;
  return j;
}

kvo::SampleJobs other(bool park, bool lamps, bool twins, bool list) {
  kvo::SampleJobs j;
  j.parkAirport = park;
  j.readerLamps = lamps;
  j.staticTwins = twins;
  j.callsignList = list;
  return j;
}

TEST(SampleSchedule, ExactlyOneGroupRunsAtEachCount) {
  const std::vector<std::pair<int, kvo::SampleJobs>> table{
      {1, other(false, false, false, false)},
      {15, fifteen()},
      {16, other(true, false, false, false)},
      {30, fifteen(true)},
      {59, other(false, true, false, false)},
      {60, fifteen(true, true)},
      {61, other(false, false, true, false)},
      {62, other(false, false, false, true)},
      {240, fifteen(true, true)},     // a multiple of 15 and 16: only the 15-group
      {256, other(true, false, false, false)},
      {885, fifteen()},               // 15 x 59
      {915, fifteen()},               // 15 x 61
      {930, fifteen(true)},           // 15 x 62
      {944, other(true, true, false, false)},   // 16 x 59
      {976, other(true, false, true, false)},  // 16 x 61
      {1200, fifteen(true, true, true)},
      {3599, other(false, true, true, false)},  // 59 x 61
      {86400, fifteen(true, true, true, true)},
  };
  for (const auto& [n, expected] : table) EXPECT_EQ(kvo::sampleJobsAt(n), expected) << "n = " << n;
}

TEST(SampleSchedule, MinutesToTheNextTwentyMinuteMark) {
  EXPECT_EQ(kvo::minutesToNextPassAt(60), 19);
  EXPECT_EQ(kvo::minutesToNextPassAt(1140), 1);
  EXPECT_EQ(kvo::minutesToNextPassAt(1200), 20);
  EXPECT_EQ(kvo::minutesToNextPassAt(1260), 19);
}

TEST_F(MainLoopTest, AStopEndsTheLoopAtTheNextStepAlsoWithoutSamples) {
  flightRuns();
  EXPECT_TRUE(mainLoopStep());  // no sample: the tick only
  const auto tick = g_trafficTick.load();
  requestQuitByUser();
  EXPECT_FALSE(mainLoopStep());  // no sample comes, yet the loop ends
  EXPECT_EQ(g_trafficTick.load(), tick + 1);
  EXPECT_EQ(g_userSampleCount, 0);
}

TEST_F(MainLoopTest, EachSampleCountsOnceAndRunsItsJobs) {
  flightRuns();
  g_mainWindow.minutesToNextPass = 0;
  for (int n = 1; n <= 60; ++n) ASSERT_TRUE(sampleStep());
  EXPECT_EQ(g_userSampleCount, 60);
  EXPECT_EQ(g_mainWindow.minutesToNextPass.load(), 19);
  EXPECT_EQ(g_mainWindow.messageClock.load(), 60);
  EXPECT_TRUE(mainLoopStep());  // a step without a sample counts nothing
  EXPECT_EQ(g_userSampleCount, 60);
}

TEST_F(MainLoopTest, TwentyMinuteJobPlansAParkPassAndItsTwoPhasesFollow) {
  flightRuns();
  g_parkAirportLoaded = true;
  g_userSampleCount = 1199;
  ASSERT_TRUE(sampleStep());  // n = 1200
  EXPECT_EQ(g_mainWindow.minutesToNextPass.load(), 20);
  EXPECT_TRUE(g_parkPassPending.load());
  EXPECT_FALSE(g_parkPassPhase);  // phase one waits for the next 15-sample job
  for (int i = 0; i < 15; ++i) ASSERT_TRUE(sampleStep());
  EXPECT_EQ(g_userSampleCount, 1215);
  EXPECT_TRUE(g_parkPassPhase);
  EXPECT_TRUE(g_trafficReader.collectCallsigns.load());
  for (int i = 0; i < 15; ++i) ASSERT_TRUE(sampleStep());
  EXPECT_FALSE(g_parkPassPhase);
  EXPECT_FALSE(g_parkPassPending.load());
  g_trafficReader.takeCollectedCallsigns();

  // With INITIAL_LOAD_ONLY on no pass is planned.
  INITIAL_LOAD_ONLY.set(true);
  g_userSampleCount = 2399;
  ASSERT_TRUE(sampleStep());
  EXPECT_FALSE(g_parkPassPending.load());
}

TEST_F(MainLoopTest, TheDayRestartsTheCount) {
  flightRuns();
  g_userSampleCount = kvo::kSamplesPerDay - 1;
  ASSERT_TRUE(sampleStep());
  EXPECT_EQ(g_userSampleCount, 0);
  ASSERT_TRUE(sampleStep());
  EXPECT_EQ(g_userSampleCount, 1);
}

TEST_F(MainLoopTest, WithoutAFlightTheFeedClosesAndThePauseIsLoggedOnce) {
  setTrafficFeedOpen(true);
  {
    std::lock_guard lock(g_simQueueMutex);
    g_positionBufferFill->push_back({});
    g_positionBufferSend->push_back({});
  }
  // The idle work (here a pending "Re-read") comes once a second: every 100th step.
  g_parkCheckPending = true;
  for (int i = 0; i < 99; ++i) ASSERT_TRUE(mainLoopStep());
  EXPECT_TRUE(g_parkCheckPending.load());
  ASSERT_TRUE(mainLoopStep());
  EXPECT_FALSE(g_parkCheckPending.load());
  for (int i = 0; i < 150; ++i) ASSERT_TRUE(mainLoopStep());
  EXPECT_FALSE(g_trafficFeedOpen.load());
  EXPECT_TRUE(g_flightPaused);
  {
    std::lock_guard lock(g_simQueueMutex);
    EXPECT_TRUE(g_positionBuffers[0].empty());
    EXPECT_TRUE(g_positionBuffers[1].empty());
  }
  const std::string text = log();
  EXPECT_EQ(text.find("Flight not running"), text.rfind("Flight not running"));
  requestQuitByUser();
  EXPECT_FALSE(mainLoopStep());  // a stop is seen within one step

  // The first sample after the pause opens the feed again.
  clearRunEndState();
  flightRuns();
  ASSERT_TRUE(sampleStep());
  EXPECT_FALSE(g_flightPaused);
  EXPECT_TRUE(g_trafficFeedOpen.load());
  EXPECT_TRUE(contains(log(), "Flight resumed"));
}

kvo::LiveAircraft activeLive(std::uint32_t id, double lat, double lon, double altFt, double headingRad, bool ground) {
  kvo::LiveAircraft a;
  a.internalId = id;
  a.objectId = id;
  a.state = kvo::AircraftState::Active;
  a.position.lat = lat;
  a.position.lon = lon;
  a.position.altFt = altFt;
  a.position.heading = headingRad;
  a.onGround = ground ? 1 : 0;
  a.halfSpanNm = 0.01;
  a.callsign = "CS" + std::to_string(id);
  return a;
}

void userAt(double lat, double lon, double altFt, double aglFt, double headingRad) {
  std::lock_guard lock(g_simQueueMutex);
  g_userAircraftSnapshot.lat = lat;
  g_userAircraftSnapshot.lon = lon;
  g_userAircraftSnapshot.altFt = altFt;
  g_userAircraftSnapshot.aglFt = aglFt;
  g_userAircraftSnapshot.heading = headingRad;
}

TEST_F(MainLoopTest, AircraftOnTheRunwayAheadGoesOnlyBelow500Feet) {
  flightRuns();
  g_userOnGround.store(false);
  // Runway heading north; the live aircraft 0.8 nm ahead, 30 ft to the side, far above the
  // user's altitude so that the track check does not apply.
  const double ahead = 0.8 / 60.0;
  for (double agl : {400.0, 600.0}) {
    g_liveAircraft.clear();
    g_liveAircraft.push_back(activeLive(20001, 50.0 + ahead, 8.0 + 30.0 / 6076.0 / 60.0 / std::cos(50.0 * 3.14159265 / 180.0),
                                        100.0, 0.0, true));
    userAt(50.0, 8.0, 2000.0, agl, 0.0);
    ASSERT_TRUE(sampleOnly());
    EXPECT_EQ(g_liveAircraft[0].state == kvo::AircraftState::RemovingFromSim, agl < 500.0) << agl;
  }
}

// The user in the air: a live aircraft within 4 nm and 1000 ft whose course passes the user
// within 700 ft goes; one that passes farther, flies farther away or higher, or (on the runway
// ahead) stands more than 50 ft to the side of the user's line, stays.
TEST_F(MainLoopTest, AirborneChecksByDistanceAltitudeAndMissDistance) {
  flightRuns();
  g_userOnGround.store(false);
  const double eastDeg = 1.0 / 60.0 / std::cos(50.0 * 3.14159265 / 180.0);  // one nm east at 50 N
  struct Case {
    const char* name;
    double eastNm, altFt, headingDeg;
    bool onGround;
    double aglFt;
    bool removed;
  };
  const Case cases[] = {
      {"crossing 600 ft off", 2.0, 5200.0, 267.17, false, 5000.0, true},
      {"crossing 1000 ft off", 2.0, 5200.0, 265.28, false, 5000.0, false},
      {"crossing 5 nm away", 5.0, 5200.0, 270.0, false, 5000.0, false},
      {"crossing 1200 ft higher", 2.0, 6200.0, 270.0, false, 5000.0, false},
      {"on the runway 80 ft to the side", 80.0 / 6076.11549, 100.0, 0.0, true, 400.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_liveAircraft.clear();
    if (c.onGround) {
      // Ahead on the runway (north), to the side by eastNm.
      g_liveAircraft.push_back(activeLive(20001, 50.0 + 0.8 / 60.0, 8.0 + c.eastNm * eastDeg, c.altFt, 0.0, true));
    } else {
      g_liveAircraft.push_back(activeLive(20001, 50.0, 8.0 + c.eastNm * eastDeg, c.altFt, c.headingDeg * 3.14159265358979 / 180.0, false));
    }
    userAt(50.0, 8.0, 5000.0, c.aglFt, 0.0);
    ASSERT_TRUE(sampleOnly());
    EXPECT_EQ(g_liveAircraft[0].state == kvo::AircraftState::RemovingFromSim, c.removed);
  }
}

TEST_F(MainLoopTest, AircraftWhoseTrackCrossesTheUserGoesOnePerSample) {
  flightRuns();
  g_userOnGround.store(false);
  userAt(50.0, 8.0, 5000.0, 5000.0, 0.0);
  // Both 2 nm east at the user's altitude, flying west (towards the user); one per sample.
  g_liveAircraft.push_back(activeLive(20001, 50.0, 8.0 + 2.0 / 60.0 / std::cos(50.0 * 3.14159265 / 180.0), 5200.0,
                                      1.5 * 3.14159265, false));
  g_liveAircraft.push_back(g_liveAircraft[0]);
  g_liveAircraft[1].internalId = 20002;
  // A third one flying north far to the side stays.
  g_liveAircraft.push_back(activeLive(20003, 50.0, 8.0 + 3.0 / 60.0 / std::cos(50.0 * 3.14159265 / 180.0), 5000.0,
                                      0.0, false));
  ASSERT_TRUE(sampleOnly());
  EXPECT_EQ(g_liveAircraft[0].state, kvo::AircraftState::RemovingFromSim);
  EXPECT_EQ(g_liveAircraft[1].state, kvo::AircraftState::Active);
  ASSERT_TRUE(sampleOnly());
  EXPECT_EQ(g_liveAircraft[1].state, kvo::AircraftState::RemovingFromSim);
  EXPECT_EQ(g_liveAircraft[2].state, kvo::AircraftState::Active);
}

TEST_F(MainLoopTest, StaticGroundCheckRunsOncePerUserPosition) {
  flightRuns();
  g_userOnGround.store(true);
  g_userHalfWingSpan.store(0.01);
  userAt(50.0, 8.0, 300.0, 0.0, 0.0);
  // Static aircraft far away: the check runs and keeps the position.
  kvo::StaticAircraft far;
  far.state = kvo::AircraftState::Active;
  far.standLat = 51.0;
  far.standLon = 8.0;
  far.halfSpanNm = 0.01;
  g_staticAircraft.push_back(far);
  ASSERT_TRUE(sampleOnly());
  // One appears next to the unmoved user: not checked again until the user moves.
  kvo::StaticAircraft near = far;
  near.standLat = 50.0;
  g_staticAircraft.push_back(near);
  ASSERT_TRUE(sampleOnly());
  EXPECT_EQ(g_staticAircraft[1].state, kvo::AircraftState::Active);
  userAt(50.0000001, 8.0, 300.0, 0.0, 0.0);
  ASSERT_TRUE(sampleOnly());
  EXPECT_EQ(g_staticAircraft[1].state, kvo::AircraftState::RemovingFromSim);

  // Overlapping is 1.1 x both half spans (here 0.022 nm) or closer.
  for (const auto& [northNm, removed] : {std::pair{0.021, true}, std::pair{0.024, false}}) {
    g_staticAircraft.clear();
    kvo::StaticAircraft next = far;
    next.standLat = 50.0 + northNm / 60.0;
    g_staticAircraft.push_back(next);
    userAt(50.0, 8.0 + northNm / 1000.0, 300.0, 0.0, 0.0);  // a new position each time
    ASSERT_TRUE(sampleOnly());
    EXPECT_EQ(g_staticAircraft[0].state == kvo::AircraftState::RemovingFromSim, removed) << northNm;
  }
}

// The user on the ground: a live aircraft on the ground that overlaps the user (1.15 x both
// half spans) goes; one in the air or clear of the user stays, and so does every one while the
// check is off.
TEST_F(MainLoopTest, LiveAircraftOverlappingTheUserOnTheGroundGo) {
  flightRuns();
  g_userOnGround.store(true);
  g_userHalfWingSpan.store(0.01);
  userAt(50.0, 8.0, 300.0, 0.0, 0.0);
  struct Case {
    double northNm;  // the half spans add up to 0.02 nm: the limit is 0.023 nm
    bool onGround, checkOn, removed;
  };
  const Case cases[] = {{0.022, true, true, true},   {0.0215, true, true, true}, {0.024, true, true, false},
                        {0.010, false, true, false}, {0.010, true, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.northNm);
    g_liveAircraft.clear();
    COLLISION_USER_GND.set(c.checkOn);
    g_liveAircraft.push_back(activeLive(20001, 50.0 + c.northNm / 60.0, 8.0, 300.0, 0.0, c.onGround));
    ASSERT_TRUE(sampleOnly());
    EXPECT_EQ(g_liveAircraft[0].state == kvo::AircraftState::RemovingFromSim, c.removed);
  }
}

// Every aircraft queued for the duplicate check is checked at one user sample, in order: here
// each finds the static twin of its airframe (same registration), which goes.
TEST_F(MainLoopTest, TheDuplicateCheckTakesOneQueuedAircraftPerSample) {
  flightRuns();
  for (std::uint32_t i = 0; i < 2; ++i) {
    g_liveAircraft.push_back(activeLive(20001 + i, 10.0, 10.0 + i, 0.0, 0.0, true));
    g_liveAircraft.back().registration = "D-AIA" + std::to_string(i);
    kvo::StaticAircraft twin;
    twin.state = kvo::AircraftState::Active;
    twin.objectId = 301 + i;
    twin.internalId = 1 + i;
    twin.registration = "D-AIA" + std::to_string(i);
    g_staticAircraft.push_back(twin);
  }
  g_duplicateCheckQueue = {99999, 20001, 20002};  // the first has gone meanwhile
  for (int sample = 0; sample < 3; ++sample) ASSERT_TRUE(sampleOnly());
  EXPECT_EQ(g_staticAircraft[0].state, kvo::AircraftState::RemovingFromSim);
  EXPECT_EQ(g_staticAircraft[1].state, kvo::AircraftState::RemovingFromSim);
  EXPECT_TRUE(g_duplicateCheckQueue.empty());
}

// "Flush static": taken at the next sample, once, and from then on only the initial load.
TEST_F(MainLoopTest, FlushingStaticAircraftIsTakenOnceAndKeepsTheInitialLoadOnly) {
  flightRuns();
  INITIAL_LOAD_ONLY.set(false);
  g_flushStaticPending = true;
  ASSERT_TRUE(sampleOnly());
  EXPECT_FALSE(g_flushStaticPending.load());
  EXPECT_TRUE(INITIAL_LOAD_ONLY.value());
}

// A live aircraft that moves on the ground (taxi or parking) removes a static aircraft it
// would run into; one that stands still, flies or keeps clear removes none, and none is removed
// while the check is off.
TEST_F(MainLoopTest, ALiveAircraftTaxiingIntoAStaticOneRemovesIt) {
  flightRuns();
  g_userOnGround.store(false);
  COLLISION_USER_AIR.set(false);
  struct Case {
    const char* name;
    kvo::GroundPhase phase;
    bool moved, checkOn;
    double northNm;  // from the static aircraft; the limit is 1.1 x 0.02 nm
    bool removed;
  };
  const Case cases[] = {{"taxiing into it", kvo::GroundPhase::Taxi, true, true, 0.021, true},
                        {"parking into it", kvo::GroundPhase::Parking, true, true, 0.021, true},
                        {"taxiing past it", kvo::GroundPhase::Taxi, true, true, 0.023, false},
                        {"standing", kvo::GroundPhase::Taxi, false, true, 0.010, false},
                        {"parked", kvo::GroundPhase::Parked, true, true, 0.010, false},
                        {"check off", kvo::GroundPhase::Taxi, true, false, 0.010, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_liveAircraft.clear();
    g_staticAircraft.clear();
    COLLISION_LIVE_PARKED_GND.set(c.checkOn);
    kvo::StaticAircraft parked;
    parked.state = kvo::AircraftState::Active;
    parked.objectId = 301;
    parked.internalId = 1;
    parked.callsign = "STAT1*";
    parked.standLat = 10.0;
    parked.standLon = 10.0;
    parked.halfSpanNm = 0.01;
    g_staticAircraft.push_back(parked);
    g_liveAircraft.push_back(activeLive(20001, 10.0 + c.northNm / 60.0, 10.0, 0.0, 0.0, true));
    g_liveAircraft[0].phase = c.phase;
    g_liveAircraft[0].previousLat = g_liveAircraft[0].position.lat - (c.moved ? 1e-6 : 0.0);
    g_liveAircraft[0].previousLon = g_liveAircraft[0].position.lon;
    ASSERT_TRUE(sampleOnly());
    EXPECT_EQ(g_staticAircraft[0].state == kvo::AircraftState::RemovingFromSim, c.removed);
  }
}

TEST_F(MainLoopTest, BlockedCallsignAndLookupAreTakenAtTheNextSample) {
  flightRuns();
  g_liveAircraft.push_back(activeLive(20001, 10.0, 10.0, 0.0, 0.0, false));
  g_liveAircraft[0].objectId = 4711;
  CALLSIGN_2_OBJECTID.set("CS20001");
  g_callsignLookupPending = true;
  ASSERT_TRUE(sampleOnly());
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::objectIdText), "= 4711");
  EXPECT_EQ(g_selectedObjectId, 4711u);  // so that its removal clears the shown id
  EXPECT_FALSE(g_callsignLookupPending.load());

  CALLSIGN_2_OBJECTID.set("NONE1");
  g_callsignLookupPending = true;
  ASSERT_TRUE(sampleOnly());
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::objectIdText), "");
  EXPECT_EQ(g_selectedObjectId, 0u);
  EXPECT_EQ(message(), "callsign 'NONE1' is unknown");

  BLOCK_CALLSIGN.set("CS20001");
  g_blockCallsignPending = true;
  ASSERT_TRUE(sampleOnly());
  EXPECT_EQ(g_liveAircraft[0].state, kvo::AircraftState::RemovingFromSim);
  EXPECT_FALSE(g_blockCallsignPending.load());
}

TEST_F(MainLoopTest, StaticTwinOfALiveAircraftOnTheGroundGoes) {
  flightRuns();
  g_liveAircraft.push_back(activeLive(20001, 10.0, 10.0, 0.0, 0.0, true));
  kvo::StaticAircraft twin;
  twin.state = kvo::AircraftState::Active;
  twin.callsign = "CS20001*";
  g_staticAircraft.push_back(twin);
  g_userSampleCount = 60;
  ASSERT_TRUE(sampleOnly());  // n = 61
  EXPECT_EQ(g_staticAircraft[0].state, kvo::AircraftState::RemovingFromSim);
}

// "Callsign2ObjectId.txt" is written every 62nd sample, and only for MSFS 2020.
TEST_F(MainLoopTest, TheCallsignListIsWrittenOnlyForTheOlderSimulator) {
  flightRuns();
  g_liveAircraft.push_back(activeLive(20001, 10.0, 10.0, 0.0, 0.0, false));
  CALLSIGN_OBJECTIDS.set(true);
  for (const bool is2020 : {false, true}) {
    g_simIs2020 = is2020;
    g_userSampleCount = 61;
    ASSERT_TRUE(sampleOnly());  // n = 62
    EXPECT_EQ(fs::exists(g_callsignListFile), is2020) << is2020;
  }
  fs::remove(g_callsignListFile);
  CALLSIGN_OBJECTIDS.set(false);
  g_userSampleCount = 123;
  ASSERT_TRUE(sampleOnly());  // n = 124, the option off
  EXPECT_FALSE(fs::exists(g_callsignListFile));
}

TEST_F(MainLoopTest, WaitsForTheFlightAndTheUserAircraft) {
  // The simulator answers: the flight runs after a few polls, then a position.
  kvo::simtest::setPresent(true);
  std::jthread client(SimClient);
  ASSERT_TRUE(coretest::waitFor([] { return kvo::simtest::isConnected(); }));
  int polls = 0;
  onWaitAction = [&](std::chrono::milliseconds d) {
    if (d == 100ms && ++polls == 3) kvo::simtest::startFlight();
    if (d == 500ms || d == 200ms) {
      // The answer to the position request arrives; the on-ground state with it.
      kvo::simtest::sendObjectData(109, 1, {50.0, 8.0, 0.0, 0.0, 0.0, 400.0, 0.0, 0.0, 0, 1, 2024, 0});
      kvo::simtest::sendObjectData(108, 1, {1});
    }
    std::this_thread::sleep_for(5ms);  // the client thread dispatches
  };
  reserveSimConnectQueues();
  EXPECT_TRUE(startUserAircraftRequests());
  EXPECT_GE(polls, 3);
  EXPECT_FALSE(kvo::simtest::callsOf("SimConnect_RequestDataOnSimObject").empty());
  client.request_stop();
}

TEST_F(MainLoopTest, WaitForTheFlightEndsOnAStop) {
  onWaitAction = [](std::chrono::milliseconds) { requestQuitByUser(); };
  EXPECT_FALSE(startUserAircraftRequests());
}

TEST_F(MainLoopTest, NoTrafficIsReportedAfterFifteenSeconds) {
  warnNoTraffic();
  EXPECT_EQ(waitsOf(100ms), 150);
  EXPECT_TRUE(contains(log(), "No traffic in this region?"));
}

}  // namespace
