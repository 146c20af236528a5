// Landing and track checks: how a new feed position of a known aircraft joins its track.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "core/geometry.h"
#include "traffic/ground_detail.h"
#include "traffic/test_movement_support.h"

using namespace movetest;
using kvo::AircraftState;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace {

LiveAircraft activeAircraft(bool onGround, GroundPhase phase) {
  LiveAircraft ac = makeAircraft(Large);
  ac.onGround = onGround ? 1 : 0;
  ac.phase = phase;
  return ac;
}

TEST_F(MovementTest, IdenticalPositionsOnTheGroundGiveOneStationaryPointAndAreRefusedInTheAir) {
  LiveAircraft ground = activeAircraft(true, GroundPhase::Taxi);
  const TrackPoint a = point(50.0, 8.0, kNow + 3000, 0);
  ground.trackPoints = {a};
  TrackPoint same = a;
  same.dueTick = kNow + 3500;
  same.groundSpeedKt = 3.0;
  decodeExisting(ground, same);
  ASSERT_EQ(ground.trackPoints.size(), 2u);
  EXPECT_EQ(ground.trackPoints.back().stationary, 1);
  EXPECT_EQ(ground.trackPoints.back().groundSpeedKt, 0.0);

  LiveAircraft air = activeAircraft(false, GroundPhase::Flying);
  const TrackPoint b = point(50.0, 8.0, kNow + 3000, 250, 5000, true);
  air.trackPoints = {b};
  TrackPoint again = b;
  again.dueTick = kNow + 3500;
  decodeExisting(air, again);
  EXPECT_EQ(air.trackPoints.size(), 1u);
}

TEST_F(MovementTest, NearPointOnTheGroundBecomesAStationaryCopy) {
  const TrackPoint a = point(50.0, 8.0, kNow + 3000, 2);
  // A standing line, a moving one of a feed whose places scatter and a pushed one (its nose against
  // its way) become copies; a slow move of a feed whose places do not scatter stays a move (taken as
  // stops, the aircraft stood, then leapt after its feed).
  struct Row {
    double scatterM, kt;
    std::optional<double> noseDeg;
    bool moves;
  };
  for (const Row& row : {Row{0.0, 0.0, {}, false}, Row{6.0, 4.0, {}, false}, Row{0.0, 4.0, 180.0, false},
                         Row{0.0, 4.0, {}, true}}) {
    SCOPED_TRACE(row.kt);
    LiveAircraft ac = activeAircraft(true, GroundPhase::Taxi);
    ac.groundScatterM = row.scatterM;
    ac.trackPoints = {point(49.99, 8.0, kNow + 2000, 5), a};
    TrackPoint line = pointFrom(a, 0.0, 10.0, kNow + 3400, row.kt);
    line.trackDeg = 0.0;
    if (row.noseDeg) line.trueHeading = *row.noseDeg * kDeg;
    decodeExisting(ac, line);
    ASSERT_EQ(ac.trackPoints.size(), 3u);
    const TrackPoint& last = ac.trackPoints.back();
    EXPECT_EQ(last.lat == a.lat && last.lon == a.lon && last.stationary == 1, !row.moves);
    EXPECT_EQ(last.groundSpeedKt == 0.0, !row.moves);
    EXPECT_EQ(last.dueTick, kNow + 3400);
  }
  TrackPoint near = pointFrom(a, 0.0, 10.0, kNow + 3400, 0.0);

  // Placed by a scattering feed's noses, a moving line that near is a slow move, not a stop.
  LiveAircraft led = activeAircraft(true, GroundPhase::Taxi);
  led.trackPoints = {point(49.99, 8.0, kNow + 2000, 5), a};
  led.groundScatterM = 6.0;
  for (TrackPoint* p : {&led.trackPoints.back(), &near}) p->trueHeading = 0.0, p->trackDeg = 30.0;
  led.noseLedLine = led.trackPoints.back();
  near.groundSpeedKt = 5.0;
  decodeExisting(led, near);
  ASSERT_EQ(led.trackPoints.size(), 3u);
  EXPECT_EQ(led.trackPoints.back().stationary, 0);
  EXPECT_GT(led.trackPoints.back().lat, a.lat);
}

// A feed's place of a standing aircraft wanders with the receivers' error; the aircraft stays
// where it stopped until a line shows it moving.
TEST_F(MovementTest, StandingLinesOfAWanderingFeedStayWhereTheAircraftStopped) {
  LiveAircraft ac = activeAircraft(true, GroundPhase::Taxi);
  const TrackPoint a = point(50.0, 8.0, kNow + 3000, 0);
  ac.trackPoints = {point(49.999, 8.0, kNow + 2000, 8), a};
  for (int i = 1; i <= 20; ++i) decodeExisting(ac, pointFrom(a, 90.0, 1.5 * i, kNow + 3000 + 200 * i, 0.0));
  for (std::size_t i = 1; i < ac.trackPoints.size(); ++i) {
    const TrackPoint& p = ac.trackPoints[i];
    EXPECT_LT(distanceNm(p.lat, p.lon, a.lat, a.lon) * 1852.0, 0.01) << p.dueTick;
  }
  const TrackPoint rolls = pointFrom(a, 90.0, 32.0, kNow + 7200, 2.0);
  decodeExisting(ac, rolls);
  EXPECT_EQ(ac.trackPoints.back().lon, rolls.lon) << "a moving line joins where it lies";
}

// A taxiing aeroplane on a feed whose places scatter by 6 m and whose true noses err by 2 degrees:
// a 180 degree turn of 15 m radius at 5 kt (north 40 m, the turn about (40, 15), south along east
// 30 m), the lines 5 m apart, taken near its true path; then the lines that keep their own places.
TEST_F(MovementTest, MovingLinesOfAScatteringFeedFollowTheirTrueNoses) {
  const double stepM = 5.0 * 1852.0 / 3600.0 * 2.0;
  const TrackPoint origin = point(50.0, 8.0, kNow, 5.0);
  auto fromPath = [&](const TrackPoint& p) {
    double n = 0.0, e = 0.0;
    toLocalMetres(origin.lat, origin.lon, p.lat, p.lon, n, e);
    return n >= 40.0 ? std::abs(std::hypot(n - 40.0, e - 15.0) - 15.0) : std::min(std::abs(e), std::abs(e - 30.0));
  };
  LiveAircraft ac = activeAircraft(true, GroundPhase::Taxi);
  ac.groundScatterM = 6.0;
  std::mt19937 draw(7);
  std::uniform_real_distribution<double> scatter(-6.0, 6.0);
  double worstRawM = 0.0, worstM = 0.0;
  for (int i = 0; i <= 22; ++i) {
    const double s = stepM * i, a = std::clamp((s - 40.0) / 15.0, 0.0, kvo::mv::kPi);
    const double n = 40.0 + 15.0 * std::sin(a) + std::min(s - 40.0, 0.0) - std::max(s - 40.0 - 15.0 * kvo::mv::kPi, 0.0);
    const double dn = n + scatter(draw), de = 15.0 - 15.0 * std::cos(a) + scatter(draw);
    TrackPoint line = pointFrom(origin, std::atan2(de, dn) / kDeg, std::hypot(dn, de), kNow + 200 * i, 5.0);
    line.trueHeading = a + scatter(draw) / 3.0 * kDeg;
    line.trackDeg = a / kDeg + 30.0;  // the scattered places' track: not the nose
    worstRawM = std::max(worstRawM, fromPath(line));
    kvo::mv::followNoses(ac, line);
    if (i >= 8) worstM = std::max(worstM, fromPath(line));  // the turn, and the straight after it
  }
  EXPECT_GT(worstRawM, 5.0);
  EXPECT_LT(worstM, 2.0) << "the lines keep to the turn";

  // A line 2 s after the one before, along its nose at 5 kt, 5 m aside of where the nose and speed
  // carry it: pulled a tenth toward its place, or left where it lies. Heard again, it changes
  // nothing and is no move; the next line leads on from it as it was placed.
  struct Case {
    const char* name;
    double asideM = 5.0;
    int seconds = 2;
    double scatterM = 6.0;
    bool helicopter = false;
    bool noseIsTrack = false;
    bool heardBefore = true;
    bool landing = false;
    GroundPhase phase = GroundPhase::Taxi;
    bool follows = false;
  };
  const std::vector<Case> cases{
      {.name = "followed", .follows = true},
      {.name = "after a gap of 8 s", .seconds = 8},
      {.name = "6 s apart", .seconds = 6, .follows = true},
      {.name = "farther off than five scatters", .asideM = 31.0},
      {.name = "an exact feed", .scatterM = 0.0},
      {.name = "a helicopter", .helicopter = true},
      {.name = "a heading that is only the track goes on along the nose before", .noseIsTrack = true, .follows = true},
      {.name = "the first line heard", .heardBefore = false},
      {.name = "the first line after the landing", .landing = true},
      {.name = "pushing back", .phase = GroundPhase::PushingBack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LiveAircraft one = activeAircraft(true, c.phase);
    one.groundScatterM = c.scatterM;
    if (c.helicopter) one.sizeCategory = Rotorcraft;
    TrackPoint before = origin;
    before.trueHeading = 90.0 * kDeg;
    before.trackDeg = 80.0;
    before.airborne = c.landing ? 1 : 0;
    if (c.heardBefore) kvo::mv::followNoses(one, before);
    const TrackPoint carried = pointFrom(before, 90.0, stepM / 2.0 * c.seconds, kNow + 100 * c.seconds, 5.0);
    TrackPoint line = pointFrom(carried, 0.0, c.asideM, carried.dueTick, 5.0);
    line.airborne = 0;
    line.trackDeg = c.noseIsTrack ? 90.0 : 80.0;
    const TrackPoint heard = line;
    kvo::mv::followNoses(one, line);
    const double movedM = distanceNm(line.lat, line.lon, heard.lat, heard.lon) * 1852.0;
    EXPECT_NEAR(movedM, c.follows ? std::exp(-c.seconds / 20.0) * c.asideM : 0.0, c.follows ? 0.05 : 0.0);
    TrackPoint again = heard;
    kvo::mv::followNoses(one, again);
    EXPECT_EQ(again.lat, heard.lat);
    EXPECT_FALSE(one.noseLed);
    ASSERT_TRUE(one.noseLedLine.has_value());
    EXPECT_EQ(one.noseLedLine->lat, line.lat);
  }
}

TEST_F(MovementTest, ATrackBeyondTwoHundredPointsRemovesTheAircraft) {
  LiveAircraft ac = activeAircraft(false, GroundPhase::Flying);
  TrackPoint p = point(50.0, 8.0, kNow, 250, 5000, true);
  for (int i = 0; i < 201; ++i) {
    ac.trackPoints.push_back(p);
    p = pointFrom(p, 0.0, 500.0, p.dueTick + 100, 250);
  }
  decodeExisting(ac, p);
  EXPECT_EQ(ac.state, AircraftState::RemovingFromSim);
  EXPECT_EQ(ac.trackPoints.size(), 201u);
}

TEST_F(MovementTest, OvertakenStationaryPointsAreCleared) {
  LiveAircraft ac = activeAircraft(true, GroundPhase::Taxi);
  const TrackPoint moving = point(50.0, 8.0, kNow + 3000, 10);
  TrackPoint stop1 = pointFrom(moving, 0.0, 30.0, kNow + 3200, 0);
  stop1.stationary = 1;
  TrackPoint stop2 = stop1;
  stop2.dueTick = kNow + 3400;
  ac.trackPoints = {moving, stop1, stop2};
  decodeExisting(ac, pointFrom(moving, 0.0, 80.0, kNow + 3600, 12));
  ASSERT_EQ(ac.trackPoints.size(), 2u) << "the feed moved on: the stops behind it go";
  EXPECT_EQ(ac.trackPoints.back().groundSpeedKt, 12.0);

  // A stop that lasted long enough stays.
  LiveAircraft waited = activeAircraft(true, GroundPhase::Taxi);
  stop2.dueTick = kNow + 5000;
  waited.trackPoints = {moving, stop1, stop2};
  decodeExisting(waited, pointFrom(moving, 0.0, 80.0, kNow + 5200, 12));
  EXPECT_EQ(waited.trackPoints.size(), 4u);
}

TEST_F(MovementTest, TouchAndGo) {
  LiveAircraft ac = activeAircraft(true, GroundPhase::Taxi);
  ac.landingRoll = 1;
  ac.descent = 0;
  ac.landed = 1;
  ac.throttleIndex = 0;
  const TrackPoint a = point(50.0, 8.0, kNow + 3000, 130, 200, true);
  ac.trackPoints = {a};
  ac.position.heading = 0.0;
  decodeExisting(ac, pointFrom(a, 0.0, 500.0, kNow + 3300, 140));
  EXPECT_EQ(ac.takeOffRoll, 1);
  EXPECT_EQ(ac.landed, 0);
  EXPECT_EQ(ac.flapsIndex, 1u);
  const auto events = takeEvents();
  EXPECT_EQ(eventData(events, kvo::kEventThrottleSet), std::vector<std::uint32_t>{11468});
  EXPECT_EQ(eventData(events, kvo::kEventSpoilersSet), std::vector<std::uint32_t>{0}) << "stowed for the climb";
  EXPECT_EQ(ac.trackPoints.size(), 2u);

  // The take-off that follows keeps them stowed.
  startTakeOff(ac);
  EXPECT_EQ(ac.phase, GroundPhase::TakeOff);
  EXPECT_EQ(ac.landingRoll, 0);
  EXPECT_EQ(eventData(takeEvents(), kvo::kEventSpoilersSet), std::vector<std::uint32_t>{0});
}

// A taxiing aircraft starts its take-off run only on two points in a row at 43 kt or more.
TEST_F(MovementTest, TheDepartureRunNeedsTwoFastPoints) {
  LiveAircraft ac = activeAircraft(true, GroundPhase::Taxi);
  const TrackPoint a = point(50.0, 8.0, kNow + 3000, 20);
  ac.trackPoints = {a};
  decodeExisting(ac, pointFrom(a, 0.0, 150.0, kNow + 3300, 50));
  EXPECT_EQ(ac.takeOffRoll, 0);
  decodeExisting(ac, pointFrom(a, 0.0, 350.0, kNow + 3600, 60));
  EXPECT_EQ(ac.takeOffRoll, 1);
}

TEST_F(MovementTest, LandingRollLowersAFasterPoint) {
  LiveAircraft ac = activeAircraft(true, GroundPhase::Taxi);
  ac.landingRoll = 1;
  ac.takeOffRoll = 1;  // keeps the departure rules out of this test
  const TrackPoint a = point(50.0, 8.0, kNow + 3000, 45);
  ac.trackPoints = {point(49.999, 8.0, kNow + 2800, 60), a};
  ac.position.heading = 0.0;
  decodeExisting(ac, pointFrom(a, 0.0, 150.0, kNow + 3300, 60));
  ASSERT_EQ(ac.trackPoints.size(), 3u);
  EXPECT_EQ(ac.trackPoints.back().groundSpeedKt, 45.0);
  decodeExisting(ac, pointFrom(a, 0.0, 300.0, kNow + 3600, 38));
  EXPECT_EQ(ac.trackPoints.back().groundSpeedKt, 38.0);
}

// A lone line far off where the lines before and after it put the aircraft is not driven to; the
// lines of real turns, backtracks, push-backs, rolls and stand arrivals all stay, on an exact feed
// and on a scattering one alike.
TEST_F(MovementTest, ALoneLineFarOffIsDroppedAndRealShapesStay) {
  struct Leg {
    double bearingDeg;
    double metres;
    int seconds;
    double kt;  // the speed of the line it leads to
  };
  struct Row {
    const char* what;
    double scatterM;
    double firstKt;
    Leg toLine;
    Leg toNext;
    bool dropped;
    bool drivenTo = false;  // the aircraft already drives to the line when the next comes
  };
  const std::vector<Row> rows{
      {"standing, one line 40 m off", 5.0, 0.0, {90.0, 40.0, 2, 0.0}, {270.0, 38.0, 2, 0.0}, true},
      {"straight at 15 kt, one line 40 m to the side", 5.0, 15.0, {69.0, 42.9, 2, 15.0}, {291.0, 42.9, 2, 15.0}, true},
      {"straight at 20 kt, lines 5 s apart, one 35 m to the side", 5.0, 20.0, {34.3, 62.2, 5, 20.0}, {325.7, 62.2, 5, 20.0}, true},
      {"slowing from 60 kt before the scatter is known, one line 35 m aside", 0.0, 60.0, {15.2, 133.3, 5, 40.0}, {335.6, 84.8, 5, 20.0}, true},
      {"straight at 20 kt, lines 5 s apart, one 25 m to the side", 5.0, 20.0, {25.9, 57.2, 5, 20.0}, {334.1, 57.2, 5, 20.0}, false},
      {"slowing from 60 to 5 kt, one line 28 m aside where the speeds put it", 0.0, 60.0, {13.6, 119.0, 5, 30.0}, {328.1, 53.0, 5, 5.0}, false},
      {"exact 90 deg turn, lines 10 s apart at 30 kt", 0.0, 30.0, {0.0, 150.0, 10, 30.0}, {90.0, 150.0, 10, 30.0}, false},
      {"the same turn on a scattering feed", 8.0, 30.0, {0.0, 150.0, 10, 30.0}, {90.0, 150.0, 10, 30.0}, false},
      {"backtrack, round at the runway's end", 5.0, 15.0, {0.0, 50.0, 10, 5.0}, {180.0, 50.0, 10, 15.0}, false},
      {"push-back with the tug's turn", 5.0, 0.0, {180.0, 3.0, 2, 2.0}, {230.0, 4.0, 2, 3.0}, false},
      {"take-off roll", 5.0, 60.0, {0.0, 72.0, 2, 80.0}, {0.0, 92.0, 2, 100.0}, false},
      {"arrival turning onto its stand", 5.0, 8.0, {0.0, 12.0, 2, 5.0}, {90.0, 6.0, 3, 0.0}, false},
      {"coming to a stop, its first standing line 47 m back", 10.0, 2.7, {270.0, 47.0, 9, 0.0}, {90.0, 45.0, 17, 0.0}, true},
      {"slowing to a stop, driven to already, a line 45 m aside", 5.0, 10.0, {270.0, 45.0, 5, 2.3}, {71.6, 47.4, 20, 0.0}, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LiveAircraft ac = activeAircraft(true, GroundPhase::Taxi);
    ac.groundScatterM = row.scatterM;  // three lines are too few to judge it anew
    const TrackPoint first = point(50.0, 8.0, kNow + 3000, row.firstKt);
    ac.trackPoints = {pointFrom(first, 180.0, 20.0, kNow + 2800, row.firstKt)};
    const TrackPoint line =
        pointFrom(first, row.toLine.bearingDeg, row.toLine.metres, first.dueTick + 100 * row.toLine.seconds, row.toLine.kt);
    const TrackPoint next =
        pointFrom(line, row.toNext.bearingDeg, row.toNext.metres, line.dueTick + 100 * row.toNext.seconds, row.toNext.kt);
    for (const TrackPoint& p : {first, line, next}) {
      if (row.drivenTo && p.dueTick == next.dueTick) ac.trackPoints = {ac.trackPoints.back()};
      decodeExisting(ac, p);
    }
    // Stopped short of a stray it drove to, it goes on at the pace before the stray, not a crawl.
    EXPECT_TRUE(!row.drivenTo || (ac.trackPoints.size() >= 2 && segmentSpeed(ac) >= row.firstKt / 2.0));
    const bool inLines = std::any_of(ac.scatterLines.begin(), ac.scatterLines.end(),
                                     [&](const TrackPoint& p) { return p.dueTick == line.dueTick; });
    const bool inTrack = std::any_of(ac.trackPoints.begin(), ac.trackPoints.end(),
                                     [&](const TrackPoint& p) { return std::abs(p.lat - line.lat) < 1e-8 && std::abs(p.lon - line.lon) < 1e-8; });
    EXPECT_EQ(inLines, !row.dropped);
    EXPECT_FALSE(row.dropped && inTrack);
  }
}

// The watch on a parked aircraft.
class StandWatch : public MovementTest {
 protected:
  LiveAircraft parked(double halfSpanMetres) {
    kvo::Stand stand;
    stand.id = 5;
    stand.latitude = 50.0;
    stand.longitude = 8.0;
    stand.occupied = 1;
    g_parkStands = {stand};
    LiveAircraft ac = makeAircraft(Large, halfSpanMetres / 1852.0);
    ac.onGround = 1;
    ac.phase = GroundPhase::Parked;
    ac.standId = 5;
    ac.standLat = 50.0;
    ac.standLon = 8.0;
    ac.trackPoints = {point(50.0, 8.0, kNow + 1000, 0)};
    ac.trackPoints[0].stationary = 1;
    placeAtFirst(ac, 0.0);
    return ac;
  }
  // A line of the feed moving away north (at a walking pace unless said).
  static TrackPoint north(double metres, kvo::TickCount due, double kt = 2.0) {
    return pointFrom(point(50.0, 8.0, due, 0), 0.0, metres, due, kt);
  }
};

TEST_F(StandWatch, CreepingAwayLeavesOnlyAfterAQuarterSpanInThreeSteps) {
  LiveAircraft ac = parked(20.5);  // a quarter span is 10.25 m
  int leftAt = -1;
  for (int m = 0; m <= 20 && leftAt < 0; ++m) {
    decodeExisting(ac, north(m * 1.01, kNow + 3000 + m * 100));
    if (ac.departureRequested != 0) leftAt = m;
  }
  EXPECT_EQ(leftAt, 11);
  EXPECT_EQ(ac.standLeaveCounter, 3);
  EXPECT_EQ(g_parkStands[0].occupied, 0) << "the stand is free again";
  EXPECT_EQ(ac.phase, GroundPhase::Parked) << "the ground mover starts the exit";
}

TEST_F(StandWatch, MovingMoreThanHalfASpanLeavesAtOnce) {
  LiveAircraft ac = parked(20.0);
  decodeExisting(ac, north(0, kNow + 3000, 0.0));
  EXPECT_EQ(ac.departureRequested, 0);
  decodeExisting(ac, north(21, kNow + 3200));
  EXPECT_EQ(ac.departureRequested, 1);
  EXPECT_EQ(ac.trackPoints.size(), 2u);

  // A line that shows the aircraft standing is the feed's scatter, however far off it lies.
  LiveAircraft scattered = parked(20.0);
  decodeExisting(scattered, north(0, kNow + 3000, 0.0));
  decodeExisting(scattered, north(40, kNow + 3100, 0.0));
  EXPECT_EQ(scattered.departureRequested, 0);

  // Heard first while it already moves, it is measured from the stand.
  LiveAircraft heardMoving = parked(20.0);
  decodeExisting(heardMoving, north(21, kNow + 3000));
  EXPECT_EQ(heardMoving.departureRequested, 1);
}

// A small aeroplane's push of some metres on a scattering feed never leaves the scatter's reach:
// it leaves once its lines' speeds (2 kt, a line every 5 s) carry it half a span from where it last
// stood. Standing lines that lie apart show the feed scatters before its scatter can be judged;
// repeated, it is exact. Places metres north of the stand.
TEST_F(StandWatch, AShortPushLeavesWhenItsSpeedsCarryItHalfASpan) {
  struct Row {
    const char* what;
    std::vector<double> standing;
    std::vector<double> moving;
    int leavesAt;  // the moving line that shows it leaving, -1 none
  };
  const std::vector<Row> rows{
      {"scattered standing lines: at the second moving line", {4.0, 13.0, 1.0}, {12.0, 15.0, 18.0}, 1},
      {"repeated standing lines: at the first beyond half a span", {0.0, 0.0, 0.0}, {12.0, 15.0, 18.0}, 0},
      {"speeds beyond half a span, places within the scatter: stays", {4.0, 13.0, 1.0}, {5.0, 7.0, 6.0}, -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LiveAircraft ac = parked(5.5);
    kvo::TickCount due = kNow + 3000;
    for (const double m : row.standing) decodeExisting(ac, north(m, due += 500, 0.0));
    int leftAt = -1;
    for (std::size_t i = 0; i < row.moving.size() && leftAt < 0; ++i) {
      decodeExisting(ac, north(row.moving[i], due += 500));
      if (ac.departureRequested != 0) leftAt = static_cast<int>(i);
    }
    EXPECT_EQ(leftAt, row.leavesAt);
  }
}

TEST_F(StandWatch, JumpFarAwayRemovesTheAircraft) {
  LiveAircraft ac = parked(20.0);
  decodeExisting(ac, north(300, kNow + 3000));
  EXPECT_EQ(ac.state, AircraftState::RemovingFromSim);
  EXPECT_EQ(ac.trackPoints.size(), 1u);

  LiveAircraft nearer = parked(20.0);
  decodeExisting(nearer, north(150, kNow + 3000));
  EXPECT_EQ(nearer.state, AircraftState::Active);
  EXPECT_EQ(nearer.departureRequested, 1);
}

TEST_F(StandWatch, HeavyThatLeavesSoonAfterParkingWasTowed) {
  for (const int minutes : {50, 70}) {
    LiveAircraft ac = parked(30.0);
    ac.sizeCategory = Heavy;
    ac.landed = 1;
    ac.standRouteState = 1;
    // The point of a parked aircraft is due one week after it parked.
    ac.trackPoints.front().dueTick = kNow - minutes * 6000 + 60480000;
    recordStandDeparture(ac);
    EXPECT_EQ(ac.towed, minutes == 50 ? 1 : 0) << minutes;
    EXPECT_EQ(ac.landed, 0);
    EXPECT_EQ(ac.standRouteState, 0);
    EXPECT_EQ(ac.trackPoints.front().dueTick, kNow + 1);
  }
}

TEST_F(MovementTest, PushBackTurnSideComesFromTheFeed) {
  struct Case {
    bool straightOnly;
    double headingDeg;  // true heading of the feed point
    std::uint8_t turn;
    std::uint8_t side;
  };
  // A nose within a few degrees of the aircraft's is a straight push: the side stays open.
  for (const Case& c : {Case{false, 30, 1, 1}, Case{false, -30, 1, 0}, Case{true, 30, 0, 0}, Case{false, 2, 0, 0}}) {
    STRAIGHT_PBS_ONLY.set(c.straightOnly);
    LiveAircraft ac = activeAircraft(true, GroundPhase::PushingBack);
    ac.pushBackCounter = 2;
    ac.trackPoints = {point(50.0, 8.0, kNow + 1000, 3)};
    placeAtFirst(ac, 0.0);
    TrackPoint p = point(50.0001, 8.0, kNow + 3000, 3);
    p.trueHeading = c.headingDeg * kDeg;
    decodeExisting(ac, p);
    EXPECT_EQ(ac.trackPoints.size(), 1u) << "every point is refused while pushing back";
    EXPECT_EQ(ac.pushBackTurn, c.turn) << c.headingDeg;
    EXPECT_EQ(ac.pushBackSide, c.side) << c.headingDeg;
  }
  // A track of 0 and no true heading give no turn.
  LiveAircraft ac = activeAircraft(true, GroundPhase::PushingBack);
  ac.pushBackCounter = 2;
  ac.trackPoints = {point(50.0, 8.0, kNow + 1000, 3)};
  decodeExisting(ac, point(50.0001, 8.0, kNow + 3000, 3));
  EXPECT_EQ(ac.pushBackTurn, 0);
}

TEST_F(MovementTest, HoldingAfterThePushBack) {
  HOLDING_THRESHOLD_METERS.set(250);
  // Clearly away, it taxies with the feed: where the feed's places do not scatter, along the feed's
  // move heard while it held, from its first line ahead of the nose (one aside, where the push-back
  // ended off the feed's, is left out); where they scatter, those lines were its scatter.
  for (const double scatterM : {0.0, 6.0}) {
    SCOPED_TRACE(scatterM);
    LiveAircraft ac = activeAircraft(true, GroundPhase::PushedBack);
    ac.halfSpanNm = 0.01;
    ac.holdDistanceNm = 900.0;
    ac.groundScatterM = scatterM;
    ac.trackPoints = {point(50.0, 8.0, kNow + 1000, 0)};
    placeAtFirst(ac, 0.0);
    const TrackPoint& here = ac.trackPoints.front();
    decodeExisting(ac, pointFrom(here, 0.0, 2.0, kNow + 3000, 0));  // where the feed's push ended
    EXPECT_EQ(ac.holding, 1);
    EXPECT_EQ(ac.holdingSince, kNow);
    EXPECT_EQ(ac.trackPoints.size(), 1u);

    const TrackPoint aside = pointFrom(here, 90.0, 3.0, kNow + 4000, 2);
    const TrackPoint ahead = pointFrom(here, 10.0, 0.025 * 1852.0, kNow + 6000, 5);
    for (const TrackPoint& p : {aside, ahead, ahead}) decodeExisting(ac, p);  // one heard twice
    EXPECT_EQ(ac.phase, GroundPhase::PushedBack);
    decodeExisting(ac, pointFrom(ac.trackPoints.front(), 0.0, 0.08 * 1852.0, kNow + 8000, 10));
    EXPECT_EQ(ac.phase, GroundPhase::Taxi);
    EXPECT_EQ(ac.holding, 0);
    // Where it is, its wait for the feed's set-off, the held line, the line.
    ASSERT_EQ(ac.trackPoints.size(), scatterM > 0.0 ? 3u : 4u);
    EXPECT_EQ(ac.trackPoints[2].lon == ahead.lon, scatterM == 0.0);
  }

  // Holding and then too far from where it waits: removed.
  LiveAircraft far = activeAircraft(true, GroundPhase::PushedBack);
  far.holding = 1;
  far.trackPoints = {point(50.0, 8.0, kNow + 1000, 0)};
  decodeExisting(far, pointFrom(far.trackPoints.front(), 0.0, 300.0, kNow + 3000, 8));
  EXPECT_EQ(far.state, AircraftState::RemovingFromSim);
  EXPECT_EQ(far.holding, 0);
}

// A whole arrival at the park airport, fed point by point as the feed would deliver it (30 s
// ahead of each due tick), with the simulator's ground reports every 20 ticks.
struct FeedPoint {
  TrackPoint point;
  bool airborne;
};

class Arrival : public MovementTest {
 protected:
  static constexpr double kElevation = 1400.0;
  static constexpr double kRunwayLat = 47.0;
  static constexpr double kRunwayLon = 13.0;

  static std::vector<TrackPoint> arrivalPoints() {
    std::vector<TrackPoint> out;
    kvo::TickCount due = kNow + 3000;
    // Final approach: 140 kt on a 3 degree path from 4 nm out, a point every 2 s.
    const double step = 140.0 * 2.0 / 3600.0;
    for (int i = 52; i > 0; --i) {
      const double d = i * step;
      const kvo::LatLon at = destinationPoint(kRunwayLat, kRunwayLon, 270.0 * kDeg, d * 6076.11549);
      out.push_back(point(at.lat, at.lon, due, 140, kElevation + d * 318.4, true, -742));
      due += 200;
    }
    // The landing roll along the runway, slowing down, then a turn-off and a stop.
    double along = 0.0;
    double speed = 130.0;
    while (speed > 20.0) {
      const kvo::LatLon at = destinationPoint(kRunwayLat, kRunwayLon, 90.0 * kDeg, along * 6076.11549);
      out.push_back(point(at.lat, at.lon, due, speed));
      along += (speed - 4.5) * 2.0 / 3600.0;
      speed -= 9.0;
      due += 200;
    }
    kvo::LatLon at = destinationPoint(kRunwayLat, kRunwayLon, 90.0 * kDeg, along * 6076.11549);
    for (int i = 0; i < 4; ++i) {
      at = destinationPoint(at.lat, at.lon, (90.0 + 20.0 * (i + 1)) * kDeg, 20.0 * 2.0 / 3600.0 * 6076.11549);
      out.push_back(point(at.lat, at.lon, due, 20));
      due += 200;
    }
    out.push_back(point(at.lat, at.lon, due, 0));
    out.push_back(point(at.lat, at.lon, due + 200, 0));
    return out;
  }
};

TEST_F(Arrival, ApproachFlareTouchdownRollOutAndStop) {
  g_parkAirport = "LOWS";
  g_parkAirportElevation = kElevation;
  g_parkAirportLat = kRunwayLat;
  g_parkAirportLon = kRunwayLon;
  g_qnh = 1013;
  const std::vector<TrackPoint> points = arrivalPoints();
  LiveAircraft ac = onFeed(Large, GroundPhase::Flying, points, 90.0 * kDeg);

  std::size_t fed = 2;
  double worstAirNm = 0.0;
  double worstGroundNm = 0.0;
  double lowestAgl = 1e9;
  kvo::TickCount touchdownTick = -1;
  double touchdownAlongNm = 0.0;
  std::size_t maxLandingStage = 0;
  for (int i = 0; i < 60000 && ac.state == AircraftState::Active; ++i) {
    const kvo::TickCount now = g_trafficTick.load();
    takeDueLines(ac, points, fed);
    for (const TrackPoint& p : points) {
      if (p.dueTick != now) continue;
      const double d = distanceNm(ac.position.lat, ac.position.lon, p.lat, p.lon);
      (p.airborne != 0 ? worstAirNm : worstGroundNm) = std::max(p.airborne != 0 ? worstAirNm : worstGroundNm, d);
    }
    if (now % 20 == 0) reportGround(ac, kElevation);
    if (touchdownTick < 0 && ac.landed != 0) {
      touchdownTick = now;
      touchdownAlongNm = distanceNm(kRunwayLat, kRunwayLon, ac.position.lat, ac.position.lon) *
                         (ac.position.lon >= kRunwayLon ? 1.0 : -1.0);
    }
    maxLandingStage = std::max<std::size_t>(maxLandingStage, static_cast<std::size_t>(ac.landingStage));
    lowestAgl = std::min(lowestAgl, ac.position.altFt - kElevation);
    runTicks(ac, 1);
  }
  EXPECT_LT(worstAirNm * 1852.0, 30.0) << "each approach point reached at its due tick";
  EXPECT_LT(worstGroundNm * 1852.0, 40.0) << "each point of the roll and taxi reached at its due tick";
  ASSERT_GE(touchdownTick, 0) << "touched down";
  // The simulator reports the ground at the CG height + 3 ft, where the flare's last stage
  // would begin.
  EXPECT_GE(maxLandingStage, 3u) << "the flare ran";
  EXPECT_GT(touchdownAlongNm, -0.2) << "not short of the runway";
  EXPECT_LT(touchdownAlongNm, 0.5);
  EXPECT_GE(lowestAgl, ac.staticCgFt - 1.0) << "never into the ground";
  EXPECT_EQ(ac.onGround, 1);
  EXPECT_EQ(ac.landingRoll, 0) << "turned off the runway";
  EXPECT_EQ(ac.phase, GroundPhase::Taxi);
  EXPECT_LT(distanceNm(ac.position.lat, ac.position.lon, points.back().lat, points.back().lon) * 1852.0, 5.0)
      << "stopped where the feed stopped";
}

}  // namespace
