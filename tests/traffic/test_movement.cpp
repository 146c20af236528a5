// Airborne movement: the due-tick schedule, steps toward the next point, configuration in the
// air, the per-tick integration, the flare and the take-off climb.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "traffic/test_movement_support.h"

using namespace movetest;
using kvo::GroundPhase;
using kvo::LiveAircraft;

namespace {

struct DueCase {
  const char* name;
  kvo::TickCount dueOffset;  // second point's due tick - now
  std::int64_t ticks;        // travel time
  std::int32_t early;
  std::int32_t late;
  std::int32_t standRoute;
  kvo::TickCount expectedOffset;
};

class DueTickRule : public MovementTest, public ::testing::WithParamInterface<DueCase> {};

TEST_P(DueTickRule, ClampsTheWishedTick) {
  const DueCase& c = GetParam();
  setTick(kNow);
  LiveAircraft ac = makeAircraft(Large);
  ac.trackPoints = {point(50.0, 8.0, kNow - 100), point(50.01, 8.0, kNow + c.dueOffset)};
  ac.earlyTolerance = c.early;
  ac.lateTolerance = c.late;
  ac.standRouteState = c.standRoute;
  clampDueTick(ac, c.ticks);
  EXPECT_EQ(ac.trackPoints[1].dueTick - kNow, c.expectedOffset) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Schedule, DueTickRule,
    ::testing::Values(DueCase{"within the window", 1000, 1200, 1000, 1000, 0, 1200},
                      DueCase{"later than due + late", 1000, 5000, 1000, 1000, 0, 2000},
                      DueCase{"earlier than due - early", 5000, 100, 1000, 1000, 0, 4000},
                      DueCase{"travel below 25 ticks", 0, 3, 1000, 1000, 0, 25},
                      DueCase{"generated route is not clamped", 1000, 5000, 1000, 1000, 1, 5000},
                      DueCase{"due long past never goes before now", -5000, 100, 1000, 1000, 0, 0},
                      DueCase{"wider late tolerance", 1000, 5000, 3000, 5000, 0, 5000}),
    [](const ::testing::TestParamInfo<DueCase>& info) { return "case" + std::to_string(info.index); });

TEST_F(MovementTest, TravelTicksAreBoundedAndANaNIsAnError) {
  EXPECT_EQ(travelTicks(1.0, 360.0), 1000);
  EXPECT_EQ(travelTicks(0.0001, 500.0), 25);
  EXPECT_EQ(travelTicks(1.0, 0.0), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(travelTicks(1.0, 1e-300), std::numeric_limits<std::int32_t>::max());
  EXPECT_THROW(travelTicks(std::nan(""), 100.0), kvo::MovementError);
  EXPECT_THROW(travelTicks(1.0, std::nan("")), kvo::MovementError);
  EXPECT_THROW(travelTicks(0.0, 0.0), kvo::MovementError);
}

TEST_F(MovementTest, NaNSpeedRemovesTheAircraftAfterRepeatedFailures) {
  LiveAircraft ac = makeAircraft(Large);
  ac.trackPoints = {point(50.0, 8.0, kNow, std::nan(""), 5000, true), point(50.05, 8.0, kNow + 1000, 250, 5000, true)};
  placeAtFirst(ac, 0.0);
  for (int i = 1; i < kvo::kMaxMovementFailures; ++i) {
    EXPECT_THROW(nextPosMain(ac), kvo::MovementError);
    EXPECT_EQ(ac.state, kvo::AircraftState::Active) << "failure " << i;
  }
  EXPECT_THROW(nextPosMain(ac), kvo::MovementError);
  EXPECT_EQ(ac.state, kvo::AircraftState::RemovingFromSim);
}

// A pushed-back aircraft that held longer than it may is removed where its track ends: the feed's
// lines kept through its push-back go nowhere then, as the intake hands none to an aircraft on its
// way out.
TEST_F(MovementTest, AnAircraftRemovedWhereItsTrackEndsTakesNoKeptLine) {
  LiveAircraft ac = makeAircraft(Large);
  ac.onGround = 1;
  ac.phase = GroundPhase::PushedBack;
  ac.trackPoints = {point(50.0, 8.0, kNow)};
  placeAtFirst(ac, 0.0);
  ac.holding = 1;
  ac.holdingSince = kNow - (MAX_HOLDING_MINUTES.value() + 1) * 6000;
  ac.pushBackFeedLines = {pointFrom(ac.trackPoints.front(), 0.0, 150.0, kNow + 3000)};
  nextPosMain(ac);
  EXPECT_EQ(ac.state, kvo::AircraftState::RemovingFromSim);
  EXPECT_EQ(ac.phase, GroundPhase::PushedBack);
  EXPECT_EQ(ac.trackPoints.size(), 1u);
}

TEST_F(MovementTest, StationaryPointIsSkippedInTheAirAndStopsOnTheGround) {
  for (const bool onGround : {false, true}) {
    LiveAircraft ac = makeAircraft(Large);
    ac.onGround = onGround ? 1 : 0;
    ac.phase = onGround ? GroundPhase::Taxi : GroundPhase::Flying;
    const double alt = onGround ? 0.0 : 4000.0;
    ac.trackPoints = {point(50.0, 8.0, kNow, 200, alt, !onGround), point(50.0, 8.0 + 5e-9, kNow + 500, 200, alt, !onGround),
                      point(50.05, 8.0, kNow + 2000, 200, alt, !onGround)};
    placeAtFirst(ac, 0.0);
    nextPosMain(ac);
    if (onGround) {
      ASSERT_EQ(ac.trackPoints.size(), 2u);
      EXPECT_EQ(ac.trackPoints.front().stationary, 1);
      EXPECT_EQ(ac.latStep, 0.0);
      EXPECT_EQ(ac.lonStep, 0.0);
    } else {
      ASSERT_EQ(ac.trackPoints.size(), 1u);
      EXPECT_DOUBLE_EQ(ac.trackPoints.front().lat, 50.05);
      EXPECT_GT(ac.latStep, 0.0);
    }
  }
}

// The ticks to the next point on the ground. Between two standing points (a move the feed did not
// show) at the pace of their due ticks, at least 1 kt and at most the stand speed: lines handed on
// after a push-back were due a tick after the aircraft's own place 20 m off, and it jumped there. A
// helicopter on a scattering feed reaches its point by its due tick, catching up at most twice its
// pace: set down behind its line, whose due tick had passed, it covered 30 m in a quarter second.
TEST_F(MovementTest, TheNextPointOnTheGroundIsReachedAtItsPace) {
  struct Row {
    const char* what;
    bool helicopter;  // on a scattering feed, at 17 kt; else standing at both points
    double metres;
    kvo::TickCount dueIn;
    double paceKt;  // the pace it goes at; 0: the stand speed
  };
  const std::vector<Row> rows{
      {"standing, 20 m, due a tick later", false, 20.0, 1, 0.0},
      {"standing, 20 m over 20 s", false, 20.0, 2000, 20.0 / 20.0 / 0.514444},
      {"standing, a metre over 3 s: the slowest pace", false, 1.0, 300, 1.0},
      {"a helicopter whose due tick passed", true, 30.0, -150, 2.0 * 17.0},
      {"a helicopter due sooner than its pace gets it there", true, 30.0, 250, 30.0 / 2.5 / 0.514444},
      {"a helicopter due later", true, 30.0, 1000, 17.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LiveAircraft ac = makeAircraft(row.helicopter ? Rotorcraft : Large);
    ac.onGround = 1;
    ac.phase = GroundPhase::Taxi;
    ac.groundScatterM = row.helicopter ? 5.0 : 0.0;
    const double kt = row.helicopter ? 17.0 : 0.0;
    ac.trackPoints = {point(50.0, 8.0, kNow, kt), point(50.0 + row.metres / 111132.95, 8.0, kNow + row.dueIn, kt)};
    placeAtFirst(ac, 0.0);
    setTick(kNow);
    retimeNextPoint(ac);
    const double paceKt = row.paceKt > 0.0 ? row.paceKt : ac.standSpeedKt;
    EXPECT_NEAR(static_cast<double>(ac.trackPoints[1].dueTick - kNow), row.metres / (paceKt * 0.514444) * 100.0, 2.0);
  }
}

TEST_F(MovementTest, LongitudeWrapsAndTheDateLineIsCrossedTheShortWay) {
  LiveAircraft ac = makeAircraft(Large);
  ac.phase = GroundPhase::Flying;
  ac.trackPoints = {point(10.0, 179.99, kNow, 300, 30000, true), point(10.0, -179.99, kNow + 100, 300, 30000, true)};
  placeAtFirst(ac, 90.0 * kDeg);
  ac.aglFt = 30000.0;
  nextPosMain(ac);
  const kvo::TickCount n = ac.trackPoints.front().dueTick - kNow;
  ASSERT_GT(n, 25);
  EXPECT_NEAR(ac.lonStep, 0.02 / static_cast<double>(n), 1e-12) << "eastward across the date line";
  for (kvo::TickCount i = 0; i < n; ++i) curveStep(ac);
  EXPECT_NEAR(ac.position.lon, -179.99, 1e-6);

  // A latitude beyond the pole folds over it.
  ac.position.lat = 89.99995;
  ac.position.lon = 10.0;
  ac.latStep = 0.0001;
  ac.lonStep = 0.0;
  curveStep(ac);
  EXPECT_NEAR(ac.position.lat, 89.99995, 1e-9);
  EXPECT_NEAR(ac.position.lon, -170.0, 1e-9);
}

// Horizontal integration by phase without a curve: who follows the steps, who turns to the
// segment bearing and who stays. The segment bearing lies 10 degrees off the nose, or far off it:
// onto a stand or while turning the nose still turns at its turn rate, an aeroplane's at most 25
// degrees a second however far a sharp turn has quickened it (a light aircraft's three times).
struct PhaseCase {
  GroundPhase phase;
  bool moves;
  bool headingFollowsStep;
  bool turnsToSegment;
  double segmentDeg = 10.0;
  bool turning = false;
  SizeCategory category = Large;
  double quickened = 1.0;  // the turn rate against the base rate
  double turnDeg = 0.0;    // the nose's turn in the tick where not the turn rate
};

class HorizontalByPhase : public MovementTest, public ::testing::WithParamInterface<PhaseCase> {};

TEST_P(HorizontalByPhase, StepsHeadingAndPosition) {
  const PhaseCase& c = GetParam();
  LiveAircraft ac = makeAircraft(c.category);
  ac.phase = c.phase;
  ac.onGround = 1;
  ac.trackPoints = {point(50.0, 8.0, kNow + 1000, 10)};
  placeAtFirst(ac, 0.0);
  ac.turnRate = ac.turnRateBase * c.quickened;
  ac.latStep = 1e-6;
  ac.lonStep = 2e-6;
  ac.headingStep = 0.001;
  ac.referenceHeading = c.segmentDeg * kDeg;
  ac.turning = c.turning ? 1 : 0;
  curveStep(ac);
  EXPECT_EQ(ac.position.lat != 50.0, c.moves);
  if (c.headingFollowsStep) {
    EXPECT_NEAR(ac.position.heading, 0.001, 1e-12);
  } else if (c.turnsToSegment) {
    EXPECT_NEAR(ac.position.heading, c.turnDeg > 0.0 ? c.turnDeg * kDeg : ac.turnRate, 1e-12);
  } else {
    EXPECT_EQ(ac.position.heading, 0.0);
  }
  EXPECT_EQ(ac.position.pitch, ac.staticPitch) << "on the ground the attitude is the static one";
}

INSTANTIATE_TEST_SUITE_P(Phases, HorizontalByPhase,
                         ::testing::Values(PhaseCase{GroundPhase::Flying, true, true, false},
                                           PhaseCase{GroundPhase::Parked, true, true, false},
                                           PhaseCase{GroundPhase::Birth, true, true, false},
                                           PhaseCase{GroundPhase::Taxi, true, false, false},
                                           PhaseCase{GroundPhase::PushingBack, true, false, false},
                                           PhaseCase{GroundPhase::PushedBack, false, false, false},
                                           PhaseCase{GroundPhase::Parking, true, false, true},
                                           PhaseCase{GroundPhase::Parking, true, false, true, 90.0},
                                           PhaseCase{GroundPhase::Taxi, true, false, true, 90.0, true},
                                           PhaseCase{GroundPhase::Taxi, true, false, true, 90.0, true, Light, 3.0, 0.25},
                                           PhaseCase{GroundPhase::Parking, true, false, true, 90.0, false, Buzjets, 3.0, 0.25},
                                           PhaseCase{GroundPhase::Taxi, true, false, true, 90.0, true, Large, 3.0}));

// Bank per category: never beyond the maximum bank, never faster than the maximum change.
struct BankCase {
  SizeCategory category;
  double maxBankDeg;
  double maxChangeDeg;
};

class BankLimits : public MovementTest, public ::testing::WithParamInterface<BankCase> {};

TEST_P(BankLimits, HoldForALongTurn) {
  const BankCase& c = GetParam();
  LiveAircraft ac = makeAircraft(c.category);
  ac.phase = GroundPhase::Flying;
  ac.trackPoints = {point(50.0, 8.0, kNow + 100000, 200, 5000, true)};
  placeAtFirst(ac, 0.0);
  double maxBank = 0.0;
  double maxChange = 0.0;
  for (int leg = 0; leg < 60; ++leg) {
    turnLimitsForCategory(ac, 3.0, 100);  // far more heading change than any bank
    for (int i = 0; i < 100; ++i) {
      const double before = ac.position.bank;
      curveStep(ac);
      maxChange = std::max(maxChange, std::abs(ac.position.bank - before));
      maxBank = std::max(maxBank, std::abs(ac.position.bank));
    }
  }
  EXPECT_LE(maxBank, c.maxBankDeg * kDeg + 1e-9);
  EXPECT_GT(maxBank, c.maxBankDeg * kDeg * 0.99) << "the turn reaches the bank limit";
  EXPECT_LE(maxChange, c.maxChangeDeg * kDeg + 1e-12);
  EXPECT_LT(ac.position.bank, 0.0) << "a right turn banks with the simulator's sign";
}

INSTANTIATE_TEST_SUITE_P(Categories, BankLimits,
                         ::testing::Values(BankCase{Light, 40, 0.035}, BankCase{Buzjets, 35, 0.0275},
                                           BankCase{Large, 30, 0.02}, BankCase{Heavy, 20, 0.015},
                                           BankCase{HighPerf, 90, 0.1}, BankCase{Rotorcraft, 75, 0.06}));

// Runs airborneConfiguration for a two-point track (first -> second).
void configureBetween(LiveAircraft& ac, const kvo::TrackPoint& first, const kvo::TrackPoint& second) {
  ac.trackPoints = {first, second};
  airborneConfiguration(ac);
}

TEST_F(MovementTest, LandingDescentByQnh) {
  g_parkAirport = "EDDF";
  g_parkAirportElevation = 300.0;
  struct Case {
    std::int32_t qnh;
    bool parkAirport;
    double expectedStep;  // feet per tick
  };
  const double meanVs = (-700.0 + -500.0) / 2.0;
  for (const Case& c : {Case{1020, true, (meanVs - 42.0) / 6000.0}, Case{1010, true, (300.0 - 1300.0) / 1000.0},
                        Case{1013, false, -601.0 / 6000.0}, Case{1030, false, (meanVs - 102.0) / 6000.0}}) {
    g_qnh = c.qnh;
    g_parkAirport = c.parkAirport ? "EDDF" : "";
    LiveAircraft ac = makeAircraft(Large);
    ac.phase = GroundPhase::Flying;
    ac.position.lat = 50.0;
    ac.position.lon = 8.0;
    ac.position.altFt = 1300.0;
    ac.aglFt = 1000.0;
    configureBetween(ac, point(50.0, 8.0, kNow, 140, 1500, true, -700),
                     point(50.03, 8.0, kNow + 1000, 140, 300, false, -500));
    EXPECT_NEAR(ac.verticalStep, c.expectedStep, 1e-9) << "qnh " << c.qnh;
    const auto events = takeEvents();
    EXPECT_EQ(eventData(events, kvo::kEventGearSet), std::vector<std::uint32_t>{1}) << "qnh " << c.qnh;
  }
}

// The last 100 ft above the ground are flown down at 600 ft/min, whatever the feed says.
TEST_F(MovementTest, TheLastHundredFeetAreFlownGently) {
  g_qnh = 1013;
  for (const auto& [agl, expected] : {std::pair{50.0, -600.0}, std::pair{150.0, -1500.0}}) {
    LiveAircraft ac = makeAircraft(Large);
    ac.aglFt = agl;
    ac.trackPoints = {point(50.0, 8.0, kNow, 140, 300, true, -1500), point(50.01, 8.0, kNow + 1000, 140, 100, true, -1500)};
    EXPECT_EQ(approachVerticalSpeed(ac), expected) << agl;
  }
}

TEST_F(MovementTest, CrossingTenThousandFeetConfiguresOncePerCrossing) {
  LiveAircraft ac = makeAircraft(Large);
  ac.phase = GroundPhase::Flying;
  ac.aglFt = 9000.0;
  std::vector<std::size_t> lightSets;
  for (const double alt : {12000.0, 11000.0, 9000.0, 8000.0, 11000.0, 10500.0}) {
    ac.position.altFt = alt;
    configureBetween(ac, point(50.0, 8.0, kNow, 250, alt, true), point(50.05, 8.0, kNow + 1000, 250, alt, true));
    lightSets.push_back(countEvents(takeEvents(), kvo::kEventNavLightsSet));
  }
  EXPECT_EQ(lightSets, (std::vector<std::size_t>{1, 0, 1, 0, 1, 0}));
}

TEST_F(MovementTest, ApproachNearTheParkAirportConfiguresOnceAndGoAroundOnce) {
  g_parkAirport = "EDDF";
  g_parkAirportLat = 50.03;
  g_parkAirportLon = 8.57;
  LiveAircraft ac = makeAircraft(Large);
  ac.standId = 9;
  ac.standLat = 50.0;
  ac.throttleIndex = 3;
  ac.flapsIndex = 2;
  ac.position.lat = 50.0;
  ac.position.lon = 8.5;
  ac.trackPoints = {point(50.0, 8.5, kNow, 150, 1500, true, -700), point(50.01, 8.52, kNow + 1000, 150, 1200, true)};
  configureApproach(ac);
  auto events = takeEvents();
  EXPECT_EQ(ac.descent, 1);
  EXPECT_EQ(eventData(events, kvo::kEventThrottleSet), std::vector<std::uint32_t>{4914});
  EXPECT_EQ(eventData(events, kvo::kEventFlapsSet), std::vector<std::uint32_t>{16383});
  EXPECT_EQ(eventData(events, kvo::kEventGearSet), std::vector<std::uint32_t>{1});
  EXPECT_EQ(g_duplicateCheckQueue.size(), 1u);
  EXPECT_EQ(ac.standId, 0u);
  EXPECT_EQ(ac.standLat, 0.0);
  EXPECT_EQ(ac.lateTolerance, 3000);
  EXPECT_EQ(ac.earlyTolerance, 3000);

  // Descending on: nothing more. A climb-out: the go-around configuration once.
  configureApproach(ac);
  EXPECT_EQ(countEvents(takeEvents(), kvo::kEventGearSet), 0u);
  ac.trackPoints.front().verticalSpeed = 900.0;
  ac.landingStage = 2;
  configureApproach(ac);
  events = takeEvents();
  EXPECT_EQ(eventData(events, kvo::kEventThrottleSet), std::vector<std::uint32_t>{16383});
  EXPECT_EQ(eventData(events, kvo::kEventGearSet), std::vector<std::uint32_t>{0});
  EXPECT_EQ(ac.descent, 0);
  EXPECT_EQ(ac.landingStage, 0);
  configureApproach(ac);
  EXPECT_EQ(countEvents(takeEvents(), kvo::kEventGearSet), 0u);
}

TEST_F(MovementTest, LowDescentWithoutApproachFlagStillDescends) {
  LiveAircraft ac = makeAircraft(Large);
  ac.phase = GroundPhase::Flying;
  ac.position.altFt = 1500.0;
  ac.aglFt = 800.0;
  configureBetween(ac, point(50.0, 8.0, kNow, 150, 1500, true, -700), point(50.02, 8.0, kNow + 1000, 150, 1000, true));
  EXPECT_NEAR(ac.verticalStep, -0.5, 1e-9);
  // Level or a slight climb low down keeps the climb floor.
  configureBetween(ac, point(50.0, 8.0, kNow, 150, 1500, true), point(50.02, 8.0, kNow + 1000, 150, 1500, true));
  EXPECT_NEAR(ac.verticalStep, 0.2, 1e-9);
}

TEST_F(MovementTest, RotorcraftNeverGetsGearOrFlaps) {
  g_parkAirport = "EDDF";
  g_parkAirportLat = 50.0;
  g_parkAirportLon = 8.0;
  for (const SizeCategory category : {Rotorcraft, Large}) {
    LiveAircraft ac = makeAircraft(category);
    ac.phase = GroundPhase::Flying;
    for (const double agl : {12000.0, 3000.0, 2200.0, 400.0}) {
      ac.aglFt = agl;
      ac.position.altFt = agl;
      configureBetween(ac, point(50.0, 8.0, kNow, 100, agl, true, -500), point(50.01, 8.0, kNow + 1000, 100, 0, false));
      configureBetween(ac, point(50.0, 8.0, kNow, 100, agl, true, 900), point(50.01, 8.0, kNow + 1000, 100, agl, true));
    }
    const auto events = takeEvents();
    const std::size_t gearAndFlaps = countEvents(events, kvo::kEventGearSet) + countEvents(events, kvo::kEventFlapsSet);
    if (category == Rotorcraft) {
      EXPECT_EQ(gearAndFlaps, 0u);
    } else {
      EXPECT_GT(gearAndFlaps, 0u);
    }
  }
}

// A helicopter climbing out low down at 500 ft/min, its feed's altitudes scattered by up to
// 15 ft from line to line: its altitude rises second after second, never bobbing down.
TEST_F(MovementTest, AHelicopterClimbsSteadilyThroughScatteredAltitudes) {
  constexpr double kGroundFt = 1400.0;
  constexpr double kScatterFt[] = {15.0, -12.0, 8.0, -15.0, 11.0, -6.0, 14.0, -10.0};
  std::vector<kvo::TrackPoint> feed;
  for (int i = 0; i < 60; ++i) {
    const double alt = kGroundFt + 100.0 + i * 2.0 * 500.0 / 60.0 + kScatterFt[i % 8];
    feed.push_back(point(47.8 + i * 0.0004, 13.0, kNow + 3000 + i * 200, 40.0, alt, true, 500.0));
  }
  LiveAircraft ac = onFeed(Rotorcraft, GroundPhase::Flying, feed, 0.0);
  ac.aglFt = ac.position.altFt - kGroundFt;
  std::size_t fed = 2;
  double lastAlt = ac.position.altFt;
  int downs = 0;
  for (int tick = 1; tick <= 9000; ++tick) {
    takeDueLines(ac, feed, fed);
    if (tick % 20 == 0) reportGround(ac, kGroundFt);
    runTicks(ac, 1);
    if (tick % 100 != 0) continue;
    if (ac.position.altFt < lastAlt - 1.0) ++downs;
    lastAlt = ac.position.altFt;
  }
  EXPECT_EQ(downs, 0);
  EXPECT_NEAR(ac.position.altFt, kGroundFt + 100.0 + 90.0 * 500.0 / 60.0, 60.0) << "it keeps up with the climb";
}

TEST_F(MovementTest, FlareStagesByHeight) {
  LiveAircraft ac = makeAircraft(Large);
  ac.phase = GroundPhase::Flying;
  ac.descent = 1;
  ac.throttleIndex = 1;
  ac.trackPoints = {point(50.0, 8.0, kNow + 1000, 140, 0, false, -700)};
  placeAtFirst(ac, 0.0);
  ac.position.altFt = 60.0;
  struct Stage {
    double agl;
    std::int32_t stage;
    double step;
    double vs;
  };
  for (const Stage& s : {Stage{45, 0, 0.0, -700}, Stage{40, 1, -0.1, -601}, Stage{31, 1, -0.1, -601},
                         Stage{30, 2, -0.075, -450}, Stage{20, 3, -0.05, -300}, Stage{13, 4, -0.025, -150},
                         Stage{5, 4, -0.025, -150}}) {
    ac.aglFt = s.agl;
    curveStep(ac);
    EXPECT_EQ(ac.landingStage, s.stage) << "agl " << s.agl;
    EXPECT_EQ(ac.verticalStep, s.step) << "agl " << s.agl;
    EXPECT_EQ(ac.trackPoints.front().verticalSpeed, s.vs) << "agl " << s.agl;
  }
  EXPECT_EQ(eventData(takeEvents(), kvo::kEventThrottleSet), std::vector<std::uint32_t>{0});
  for (int i = 0; i < 2000; ++i) curveStep(ac);
  EXPECT_NEAR(ac.position.pitch, -4.0 * kDeg, 1e-12) << "the flare pitch stops at 4 degrees nose up";
}

TEST_F(MovementTest, LiftOffClimbRampsAndGearGoesUpOnTime) {
  LiveAircraft ac = makeAircraft(Large);
  ac.phase = GroundPhase::TakeOff;
  ac.onGround = 1;
  ac.trackPoints = {point(50.1, 8.0, kNow + 5000, 160, 500, true, 2000)};
  placeAtFirst(ac, 0.0);
  ac.position.altFt = 0.0;
  ac.aglFt = 0.0;
  ac.verticalStep = 1.0;
  ac.takeOffCounter = static_cast<std::int32_t>(ac.rotationTicks);
  ac.pitchStep = (ac.rotationPitch - ac.position.pitch) / ac.takeOffCounter;
  const int rotation = static_cast<int>(ac.rotationTicks);
  std::vector<double> climbs;
  int gearTick = -1;
  for (int tick = 1; tick <= rotation + 320; ++tick) {
    const double before = ac.position.altFt;
    curveStep(ac);
    climbs.push_back(ac.position.altFt - before);
    if (gearTick < 0 && countEvents(takeEvents(), kvo::kEventGearSet) > 0) gearTick = tick;
  }
  EXPECT_EQ(ac.onGround, 0) << "the rotation hands over to the air rules";
  EXPECT_EQ(climbs[rotation - 1], 0.0);
  EXPECT_NEAR(climbs[rotation], 0.1, 1e-12);
  EXPECT_NEAR(climbs[rotation + 99], 0.2, 1e-12);
  EXPECT_NEAR(climbs[rotation + 199], 0.5, 1e-12);
  EXPECT_NEAR(climbs[rotation + 299], 1.0, 1e-12);
  EXPECT_EQ(gearTick, rotation + 300);

  // Flying once high enough with the climb pitch reached.
  EXPECT_EQ(ac.phase, GroundPhase::TakeOff);
  ac.aglFt = 800.0;
  for (int i = 0; i < 2000 && ac.phase == GroundPhase::TakeOff; ++i) curveStep(ac);
  EXPECT_EQ(ac.phase, GroundPhase::Flying);
  EXPECT_LE(ac.position.pitch, ac.climbPitch + 1e-12);
  EXPECT_EQ(ac.throttleIndex, 3u);
  EXPECT_EQ(ac.takeOffCounter, 1);
}

}  // namespace
