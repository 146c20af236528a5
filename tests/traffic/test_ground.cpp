// Ground movement: taxi turns (curve, extra point or straight), leaving a stand, the push-back
// and its turn, the take-off decision, the landing roll and the last leg onto a stand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <optional>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "core/geometry.h"
#include "platform/simconnect/testing.h"
#include "traffic/ground_detail.h"
#include "traffic/movement_util.h"
#include "traffic/test_movement_support.h"

using namespace movetest;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace {

LiveAircraft taxiing(SizeCategory category = Large) {
  LiveAircraft ac = makeAircraft(category);
  ac.onGround = 1;
  ac.phase = GroundPhase::Taxi;
  ac.previousPhase = GroundPhase::Flying;
  return ac;
}

// A taxi track A -> B (200 m north) -> C (200 m on, turned by the given angle).
struct TurnCase {
  const char* name;
  double turnDeg;
  double speedA;
  double speedB;
  kvo::TickCount gapAB;  // due tick of B - due tick of A
  bool curve;
  std::size_t pointsAfter;  // track size after nextPosGround
};

class TaxiTurns : public MovementTest, public ::testing::WithParamInterface<TurnCase> {};

TEST_P(TaxiTurns, CurveExtraPointOrStraight) {
  const TurnCase& c = GetParam();
  LiveAircraft ac = taxiing();
  const TrackPoint a = point(50.0, 8.0, kNow, c.speedA);
  const TrackPoint b = pointFrom(a, 0.0, 200.0, kNow + c.gapAB, c.speedB);
  const TrackPoint cc = pointFrom(b, c.turnDeg, 200.0, kNow + c.gapAB + 2000, c.speedB);
  ac.trackPoints = {a, b, cc};
  placeAtFirst(ac, 0.0);
  ac.referenceHeading = 0.0;
  nextPosGround(ac);
  EXPECT_EQ(ac.curve.isSet(), c.curve) << c.name;
  EXPECT_EQ(ac.trackPoints.size(), c.pointsAfter) << c.name;
  if (c.curve) {
    EXPECT_NEAR(ac.curveAngle, c.turnDeg, 0.01) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ground, TaxiTurns,
    ::testing::Values(TurnCase{"30 degrees: a curve", 30, 15, 15, 1000, true, 2},
                      TurnCase{"3 degree bend: straight", 2.5, 15, 15, 1000, false, 3},
                      TurnCase{"170 degrees with a speed change: straight with a midpoint", 170, 15, 30, 300, false, 4},
                      TurnCase{"170 degrees at one speed: straight", 170, 15, 15, 300, false, 3},
                      TurnCase{"90 degrees slow and long: an extra point first", 90, 10, 10, 800, false, 4},
                      TurnCase{"90 degrees soon due: a curve", 90, 10, 10, 300, true, 2},
                      TurnCase{"90 degrees fast: a curve", 90, 50, 50, 1000, true, 2}),
    [](const ::testing::TestParamInfo<TurnCase>& info) { return "case" + std::to_string(info.index); });

TEST_F(MovementTest, CurvePositionFollowsTheCurveRecord) {
  LiveAircraft ac = taxiing();
  const TrackPoint a = point(50.0, 8.0, kNow, 15);
  const TrackPoint b = pointFrom(a, 0.0, 150.0, kNow + 500, 15);
  const TrackPoint c = pointFrom(b, 40.0, 150.0, kNow + 1000, 15);
  ac.trackPoints = {a, b, c};
  placeAtFirst(ac, 0.0);
  nextPosMain(ac);
  ASSERT_TRUE(ac.curve.isSet());
  ASSERT_GT(ac.curveTStep, 0.0);
  const kvo::CurveRecord curve = ac.curve;
  ac.turnRate = ac.turnRateBase / 20.0;  // as slow as the retiming makes it on a long gentle curve
  kvo::LatLon start;
  double startHeading = 0.0;
  ASSERT_TRUE(interpolateCurve(curve, start, startHeading, 0.0));
  // The nose turns with the curve, never further off its way than at the start.
  const double startOff = std::abs(kvo::mv::wrapPi(startHeading - ac.position.heading));
  for (int i = 1; i <= 2000; ++i) {
    curveStep(ac);
    kvo::LatLon expected;
    double heading = 0.0;
    ASSERT_TRUE(interpolateCurve(curve, expected, heading, std::min(i * ac.curveTStep, 0.999999)));
    ASSERT_NEAR(ac.position.lat, expected.lat, 1e-12) << i;
    ASSERT_NEAR(ac.position.lon, expected.lon, 1e-12) << i;
    ASSERT_LE(std::abs(kvo::mv::wrapPi(heading - ac.position.heading)), startOff + 0.01) << i;
  }
  // The curve starts at the aircraft, passes the middle point and ends at the last one.
  kvo::LatLon end;
  double heading = 0.0;
  ASSERT_TRUE(interpolateCurve(curve, end, heading, 0.999999));
  EXPECT_LT(distanceNm(end.lat, end.lon, c.lat, c.lon) * 1852.0, 0.1);
  kvo::LatLon middle;
  ASSERT_TRUE(interpolateCurve(curve, middle, heading, 0.5));
  EXPECT_LT(distanceNm(middle.lat, middle.lon, b.lat, b.lon) * 1852.0, 0.1);
}

// A taxiing aircraft (nose north, 12 kt) on a scattering feed, its next points given as metres
// north and east of it, a line every 2 s, the last standing where `stops`.
struct ScatteredTaxi {
  LiveAircraft ac;
  std::vector<TrackPoint> points;
};

ScatteredTaxi scatteredTaxi(double scatterM, const std::vector<std::pair<double, double>>& ahead, bool stops = false) {
  ScatteredTaxi t{taxiing(), {}};
  t.ac.groundScatterM = scatterM;
  const TrackPoint a = point(50.0, 8.0, kNow, 12);
  t.ac.trackPoints = {a};
  kvo::TickCount due = kNow;
  for (const auto& [north, east] : ahead) {
    due += 200;
    t.ac.trackPoints.push_back(pointFrom(a, std::atan2(east, north) / kDeg, std::hypot(north, east), due, 12));
  }
  if (stops) {
    TrackPoint stand = t.ac.trackPoints.back();
    stand.dueTick += 200;
    stand.groundSpeedKt = 0.0;
    stand.stationary = 1;
    t.ac.trackPoints.push_back(stand);
  }
  t.points.assign(t.ac.trackPoints.begin(), t.ac.trackPoints.end());
  placeAtFirst(t.ac, 0.0);
  t.ac.referenceHeading = 0.0;
  return t;
}

// Points along a straight leg from a corner (north, east) on the given bearing, every 15 m,
// scattered 2 m to either side in turn.
std::vector<std::pair<double, double>> legFrom(double north, double east, double bearingDeg, int count) {
  std::vector<std::pair<double, double>> leg{{north, east}};
  const double along = bearingDeg * kDeg;
  for (int i = 1; i <= count; ++i) {
    const double side = i % 2 == 0 ? -2.0 : 2.0;
    leg.emplace_back(north + 15.0 * i * std::cos(along) - side * std::sin(along),
                     east + 15.0 * i * std::sin(along) + side * std::cos(along));
  }
  return leg;
}

// On a scattering feed a turn's middle point lies off the corner by its scatter, and the curve
// through it would leave off the nose or arrive off the leg that follows: the curve leaves along
// the nose and arrives along the way out, without a kink at either end, also where the aircraft
// sets off far off its nose onto a leg whose corner lies far from the turn's point.
TEST_F(MovementTest, ScatteredCornerCurveJoinsTheWaysInAndOut) {
  struct Case {
    const char* name;
    std::vector<std::pair<double, double>> ahead;  // metres north and east of the aircraft
    double wayOutDeg;
    kvo::TickCount laterTicks = 0;  // every point this much later than a line every 2 s
  };
  const std::vector<Case> cases{
      // The corner 100 m ahead, its line scattered 8 m aside; 100 m on at 60 degrees.
      {"corner point scattered aside", {{100.0, 8.0}, {150.0, 86.6}}, 60.0},
      {"would arrive off the leg after the corner", legFrom(40.0, 0.0, 60.0, 6), 60.0},
      // The way to the next point 70 degrees off the nose, 55 m long: the turn lies at the aircraft.
      {"setting off onto a leg far off the nose",
       legFrom(55.0 * std::cos(70.0 * kDeg), 55.0 * std::sin(70.0 * kDeg), 100.0, 6), 100.0, 600},
      // Turning about 40 m ahead, back on a way 10 m aside.
      {"turning about", legFrom(40.0, 0.0, 170.0, 6), 170.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScatteredTaxi t = scatteredTaxi(4.0, c.ahead);
    for (std::size_t i = 1; i < t.ac.trackPoints.size(); ++i) t.ac.trackPoints[i].dueTick += c.laterTicks;
    nextPosGround(t.ac);
    ASSERT_TRUE(t.ac.curve.isSet());
    kvo::LatLon at;
    double startHeading = 0.0;
    double endHeading = 0.0;
    ASSERT_TRUE(interpolateCurve(t.ac.curve, at, startHeading, 0.0));
    ASSERT_TRUE(interpolateCurve(t.ac.curve, at, endHeading, 0.999999));
    EXPECT_NEAR(kvo::mv::wrapPi(startHeading) / kDeg, 0.0, 1.0) << "leaves along the nose";
    EXPECT_NEAR(kvo::mv::wrapPi(endHeading - c.wayOutDeg * kDeg) / kDeg, 0.0, 2.5) << "arrives along the way out";
    const TrackPoint& end = t.ac.trackPoints[1];
    EXPECT_LT(distanceNm(at.lat, at.lon, end.lat, end.lon) * 1852.0, 0.1) << "ends at the point after the turn";
    EXPECT_LT(distanceNm(end.lat, end.lon, t.points[2].lat, t.points[2].lon) * 1852.0, 3.0) << "near the feed's";
  }
  // A helicopter turns about on the spot.
  ScatteredTaxi heli = scatteredTaxi(4.0, cases.back().ahead);
  heli.ac.sizeCategory = Rotorcraft;
  nextPosGround(heli.ac);
  EXPECT_FALSE(heli.ac.curve.isSet());
  // Onto a leg that begins where the aircraft stands: the curve leaves along the nose, toward a
  // corner at most 10 m ahead. The curve's heading as it leaves, and the most the measure (of metres
  // north and east of the aircraft) reaches along it.
  auto leaves = [](const std::vector<std::pair<double, double>>& ahead, auto measure) {
    ScatteredTaxi t = scatteredTaxi(4.0, ahead);
    nextPosGround(t.ac);
    EXPECT_TRUE(t.ac.curve.isSet());
    double startDeg = 0.0;
    double most = 0.0;
    for (double u = 0.0; u < 1.0; u += 0.01) {
      kvo::LatLon at;
      double heading = 0.0;
      double north = 0.0;
      double east = 0.0;
      interpolateCurve(t.ac.curve, at, heading, u);
      if (u == 0.0) startDeg = kvo::mv::wrapPi(heading) / kDeg;
      toLocalMetres(t.points[0].lat, t.points[0].lon, at.lat, at.lon, north, east);
      most = std::max(most, measure(north, east));
    }
    return std::pair{startDeg, most};
  };
  // A long leg (lines 40 m apart) 75 degrees off the nose: the curve swings out from it by half
  // the corner's distance at most.
  const double off = 75.0 * kDeg;
  const auto [longLegDeg, widestM] =
      leaves({{40.0 * std::cos(off), 40.0 * std::sin(off)}, {80.0 * std::cos(off), 80.0 * std::sin(off)},
              {120.0 * std::cos(off), 120.0 * std::sin(off)}},
             [&](double north, double east) { return std::abs(north * std::sin(off) - east * std::cos(off)); });
  EXPECT_NEAR(longLegDeg, 0.0, 1.0);
  EXPECT_LT(widestM, 6.0);
  // A leg nearly behind the nose, beginning 10 m aside: it turns about close by, not after a run
  // along its nose to where the leg's line meets the nose's.
  const auto [behindDeg, farthestM] =
      leaves(legFrom(0.0, 10.0, 174.0, 6), [](double north, double east) { return std::hypot(north, east); });
  EXPECT_NEAR(behindDeg, 0.0, 1.0);
  EXPECT_LT(farthestM, 30.0);
}

// On a scattering feed (4 m, 8 m for the point nearer than that) some next points tell no way: one
// nearer to the aircraft than the scatter, one far off the nose with the point after it back on
// the nose's line, one of two between on a short leg scattered twice as far as the other may be,
// one before the point where the aircraft stops. The aircraft sets off along its nose, not
// through them. Two points off alike on a feed scattering by 1 m are a bend: the next one stays.
TEST_F(MovementTest, ScatteredPointsThatTellNoWay) {
  struct Case {
    const char* name;
    double scatterM;
    std::vector<std::pair<double, double>> ahead;
    bool stops;
    bool bend;
    bool noseLed = false;  // the feed's noses placed the points: they tell their way
  };
  const std::vector<Case> cases{
      {"nearer than the scatter, before a turn", 8.0, {{5.0, 3.0}, {25.0, 0.0}, {40.0, 12.0}, {50.0, 30.0}}, false, false},
      {"a lone point aside", 4.0, {{8.0, 10.0}, {25.0, 0.5}, {40.0, 10.0}, {50.0, 30.0}}, false, false},
      {"two between, one scattered twice as far", 4.0, {{25.0, 14.0}, {45.0, 1.0}, {65.0, 0.0}, {80.0, 18.0}}, false, false},
      {"one between, stopping at the end", 4.0, {{12.0, 7.0}, {25.0, 0.5}}, true, false},
      {"two between off alike: a bend", 1.0, {{20.0, 3.0}, {40.0, 2.2}, {60.0, 0.0}, {80.0, 18.0}}, false, true},
      {"placed by the noses, nearer than the scatter", 8.0, {{5.0, 3.0}, {25.0, 0.0}, {40.0, 12.0}, {50.0, 30.0}}, false, true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScatteredTaxi t = scatteredTaxi(c.scatterM, c.ahead, c.stops);
    if (c.noseLed) {
      t.ac.noseLed = true;
      for (std::size_t i = 1; i < t.ac.trackPoints.size(); ++i) t.ac.trackPoints[i].trueHeading = 30.0 * kDeg;
      t.points.assign(t.ac.trackPoints.begin(), t.ac.trackPoints.end());
    }
    nextPosGround(t.ac);
    if (c.bend) {
      const TrackPoint& next = t.ac.trackPoints[1];
      const double kept = c.noseLed ? 1.0 : 0.1;  // put onto its leg, not dropped
      EXPECT_LT(distanceNm(next.lat, next.lon, t.points[1].lat, t.points[1].lon) * 1852.0, kept) << "followed as it is";
      continue;
    }
    double way = 0.0;
    if (t.ac.curve.isSet()) {
      kvo::LatLon at;
      ASSERT_TRUE(interpolateCurve(t.ac.curve, at, way, 0.0));
    } else {
      const TrackPoint& from = t.ac.trackPoints[0];
      const TrackPoint& to = t.ac.trackPoints[1];
      way = initialBearing(from.lat, from.lon, to.lat, to.lon);
    }
    EXPECT_LT(std::abs(kvo::mv::wrapPi(way)) / kDeg, 10.0);
  }
}

// A parked aircraft whose feed shows it departing: pull out forward or push back by the bearing
// of the last point from the stand heading.
class LeavingStand : public MovementTest {
 protected:
  LiveAircraft parkedAt(double departureBearingDeg) {
    kvo::Stand stand;
    stand.id = 7;
    stand.name = "A12";
    stand.latitude = 50.0;
    stand.longitude = 8.0;
    stand.radius = 0.02;
    g_parkStands = {stand};
    LiveAircraft ac = makeAircraft(Large);
    ac.onGround = 1;
    ac.phase = GroundPhase::Parked;
    ac.standId = 7;
    ac.standLat = 50.0;
    ac.standLon = 8.0;
    ac.standHeading = 0.0;
    ac.departureRequested = 1;
    const TrackPoint here = point(50.0, 8.0, kNow, 0);
    ac.trackPoints = {here, pointFrom(here, departureBearingDeg, 100.0, kNow + 2000, 8)};
    placeAtFirst(ac, 0.0);
    return ac;
  }
};

// Lines queued before the aircraft was created on its stand go through the stand's watch: the
// first that shows it leaving requests the departure, and a scattered later line nearer the stand
// does not take the request back (its point queued, the aircraft would slide there parked).
TEST_F(LeavingStand, QueuedLinesShowingTheLeaveRequestTheDeparture) {
  LiveAircraft ac = parkedAt(180.0);
  ac.departureRequested = 0;
  ac.trackPoints.resize(1);
  TrackPoint standing = ac.trackPoints.front();
  standing.stationary = 1;
  const std::deque<TrackPoint> queued{standing, pointFrom(standing, 180.0, 30.0, kNow + 200, 2.3),
                                      pointFrom(standing, 180.0, 21.0, kNow + 400, 2.3)};
  watchStandLines(ac, queued);
  EXPECT_EQ(ac.departureRequested, 1);
  EXPECT_EQ(ac.trackPoints.size(), 2u);
}

TEST_F(LeavingStand, HundredDegreesOffPushesBack) {
  LiveAircraft ac = parkedAt(100.0);
  nextPosGround(ac);
  EXPECT_EQ(ac.phase, GroundPhase::PushingBack);
  EXPECT_EQ(ac.previousPhase, GroundPhase::Parked);
  EXPECT_EQ(ac.pushBackCounter, 2);
  ASSERT_EQ(ac.trackPoints.size(), 4u);  // here, midpoint, B behind, one side point
  const TrackPoint& b = ac.trackPoints[2];
  const double behindNm = distanceNm(50.0, 8.0, b.lat, b.lon);
  EXPECT_NEAR(behindNm, 2.5 * 0.02, 1e-6);
  EXPECT_NEAR(initialBearing(50.0, 8.0, b.lat, b.lon), 3.141592653589793, 1e-6) << "straight back";
  EXPECT_NEAR(distanceNm(b.lat, b.lon, ac.trackPoints[3].lat, ac.trackPoints[3].lon), ac.halfSpanNm, 1e-6);
  EXPECT_NEAR(distanceNm(b.lat, b.lon, ac.pendingSidePoint.lat, ac.pendingSidePoint.lon), ac.halfSpanNm, 1e-6);
  EXPECT_GT(ac.trackPoints[3].dueTick, ac.trackPoints[1].dueTick);
  const auto events = takeEvents();
  EXPECT_EQ(eventData(events, kvo::kEventTaxiLightsSet), std::vector<std::uint32_t>{1});
}

TEST_F(LeavingStand, EightyDegreesOffPullsOutForward) {
  LiveAircraft ac = parkedAt(80.0);
  nextPosGround(ac);
  EXPECT_EQ(ac.phase, GroundPhase::Taxi);
  ASSERT_EQ(ac.trackPoints.size(), 2u);
  const TrackPoint& out = ac.trackPoints[1];
  EXPECT_NEAR(distanceNm(50.0, 8.0, out.lat, out.lon), 2.0 * ac.halfSpanNm, 1e-6);
  EXPECT_NEAR(initialBearing(50.0, 8.0, out.lat, out.lon), 0.0, 1e-6);
  EXPECT_EQ(out.groundSpeedKt, ac.standSpeedKt);
  EXPECT_EQ(ac.departureRequested, 0);
  const auto events = takeEvents();
  EXPECT_EQ(countEvents(events, kvo::kEventEngineAutoStart), 1u);
  EXPECT_EQ(eventData(events, kvo::kEventFlapsSet), std::vector<std::uint32_t>{3072});
}

// The line showing the aircraft 100 m off at 8 kt comes 24 s into the feed's move: it stands until
// then, as a helicopter lifting off its pad does while its feed stands. Where the feed's standing
// lines before it put the aircraft 20 m along its way (a scattering feed's place off the stand),
// the move from there comes 19 s into it; standing lines before a move of the feed's own are not
// where it last stood.
TEST_F(LeavingStand, PullingOutStartsWhenTheFeedsMoveStarted) {
  struct Row {
    const char* name;
    std::vector<std::pair<double, double>> heard;  // metres out along the way, knots
    double fromM;
  };
  const Row rows[] = {
      {"no line heard before", {}, 0.0},
      {"standing 20 m out", {{17.0, 0.0}, {23.0, 0.0}}, 20.0},
      {"standing 20 m out after a move", {{0.0, 0.0}, {10.0, 3.0}, {17.0, 0.0}, {23.0, 0.0}}, 20.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    setTick(kNow);
    LiveAircraft ac = parkedAt(80.0);
    ac.trackPoints.back().dueTick = kNow + 5000;
    kvo::TickCount due = kNow - 1000;
    for (const auto& [metres, kt] : row.heard) {
      ac.scatterLines.push_back(pointFrom(ac.trackPoints[0], 80.0, metres, due += 100, kt));
    }
    const kvo::TickCount feedSetOff = kNow + 5000 - travelTicks((100.0 - row.fromM) / 1852.0, 8.0);
    runTicks(ac, static_cast<int>(feedSetOff - kNow) - 100);
    EXPECT_LT(distanceNm(50.0, 8.0, ac.position.lat, ac.position.lon) * 1852.0, 0.1) << "set off before the feed";
    runTicks(ac, 300);
    EXPECT_GT(distanceNm(50.0, 8.0, ac.position.lat, ac.position.lon) * 1852.0, 0.3) << "still standing";
  }
}

TEST_F(LeavingStand, UnknownStandStaysParked) {
  LiveAircraft ac = parkedAt(170.0);
  g_parkStands.clear();
  nextPosGround(ac);
  EXPECT_EQ(ac.phase, GroundPhase::Parked);
  EXPECT_EQ(ac.trackPoints.size(), 2u);
}

// Runs a push-back from its start to the end of the turn leg.
TEST_F(LeavingStand, PushBackTurnsOntoTheSideFromTheFeed) {
  for (const bool turn : {true, false}) {
    LiveAircraft ac = parkedAt(170.0);
    nextPosGround(ac);
    ASSERT_EQ(ac.phase, GroundPhase::PushingBack);
    ac.trackPoints.pop_front();  // the aircraft moves on to the midpoint
    ac.pushBackTurn = turn ? 1 : 0;
    ac.pushBackSide = 1;
    ac.pushBackFeedStopped = turn ? 0 : 1;  // without a turn the feed's push-back has ended straight
    const TrackPoint side = ac.pendingSidePoint;
    const TrackPoint b = ac.trackPoints[1];
    nextPosGround(ac);
    EXPECT_EQ(ac.pushBackCounter, 1);
    if (!turn) {
      EXPECT_FALSE(ac.curve.isSet());
      ASSERT_EQ(ac.trackPoints.size(), 2u);
      EXPECT_EQ(ac.trackPoints.back().lat, b.lat);
      continue;
    }
    ASSERT_TRUE(ac.curve.isSet());
    EXPECT_EQ(ac.curveAngle, 90.0);
    EXPECT_NEAR(ac.curveTStep, 1.0 / std::round(90.0 / ac.turnRateBase / 100.0), 1e-12);
    ASSERT_EQ(ac.trackPoints.size(), 2u);
    EXPECT_EQ(ac.trackPoints.back().lat, side.lat) << "the pending side point ends the turn";
    // Pushed backwards: the nose points away from the way the curve goes.
    groundConfiguration(ac);
    EXPECT_NEAR(ac.curveTStep, 1.0 / std::round(90.0 / ac.turnRateBase / 100.0), 1e-12)
        << "the push-back turn keeps its own pace";
    EXPECT_LT(ac.displayTasKt, 0.0);
    ac.trackPoints.pop_front();
    for (int i = 0; i < 3000; ++i) curveStep(ac);
    kvo::LatLon at;
    double curveHeading = 0.0;
    ASSERT_TRUE(interpolateCurve(ac.curve, at, curveHeading, ac.curveT));
    const double reversed = std::remainder(curveHeading + 3.141592653589793 - ac.position.heading, 2.0 * 3.141592653589793);
    EXPECT_LT(std::abs(reversed), 1.0 * kDeg);
  }
}

TEST_F(LeavingStand, PushBackRunsToItsEndAndWaitsForTheFeed) {
  LiveAircraft ac = parkedAt(170.0);
  ac.trackPoints.resize(1);
  ac.trackPoints.push_back(point(49.9995, 8.0001, kNow + 2000, 8));  // the feed: moving off behind
  runTicks(ac, 20000);
  ASSERT_EQ(ac.state, kvo::AircraftState::Active);
  EXPECT_EQ(ac.phase, GroundPhase::PushedBack);
  EXPECT_EQ(ac.holding, 1);
  // Straight back by 2.5 stand radii, nose still on the stand heading.
  EXPECT_NEAR(distanceNm(50.0, 8.0, ac.position.lat, ac.position.lon), 2.5 * 0.02, 0.002);
  EXPECT_NEAR(initialBearing(50.0, 8.0, ac.position.lat, ac.position.lon), 3.141592653589793, 0.02);
  EXPECT_NEAR(std::remainder(ac.position.heading, 2.0 * 3.141592653589793), 0.0, 1.0 * kDeg);

  // The feed shows it taxiing away: it follows, setting off when the feed's move began (the 167 m
  // to the line take 27 s at its 12 kt), not when the line came.
  TrackPoint away = point(ac.position.lat - 0.0015, ac.position.lon, g_trafficTick.load() + 3000, 12);
  decodeExisting(ac, away);
  EXPECT_EQ(ac.phase, GroundPhase::Taxi);
  EXPECT_EQ(ac.holding, 0);
  const kvo::LatLon pushedTo{ac.position.lat, ac.position.lon};
  runTicks(ac, 200);
  EXPECT_LT(distanceNm(pushedTo.lat, pushedTo.lon, ac.position.lat, ac.position.lon) * 1852.0, 0.5);
  // Starting from a standstill the schedule runs behind the feed by up to the late tolerance.
  runTicks(ac, 11800);
  EXPECT_LT(distanceNm(ac.position.lat, ac.position.lon, away.lat, away.lon) * 1852.0, 2.0);
  EXPECT_NEAR(ac.position.heading, 3.141592653589793, 2.0 * kDeg) << "turned onto the taxi leg";
}

// A push-back fed as the feed delivers it (every 2 s, 30 s ahead): the tug pushes straight for a
// while and turns the nose only after the program's own push-back has reached its turn. The
// push-back must begin when the feed's does (never before a line that shows it standing), at its
// pace, end facing where the feed's ends and near its place, and never roll backwards once it
// taxies; a line without a true heading gives the nose by its track turned round. Taxiing, it
// keeps to the feed's path.
struct Leg {
  double metres;
  double turnDeg;      // turned along the leg, right above 0
  double endKt;        // speed at its end, reached evenly
  double holdS = 0.0;  // a standstill instead of a move
};

struct LateTurnCase {
  const char* name;
  std::vector<Leg> legs;  // the push-back's legs, then a stop and the taxi forwards
  bool trueHeadings = true;
  double scatterM = 0.0;  // the most a line's place is off its path (and at least 3 m), as receivers scatter it
  int longestStandS = 5;  // the longest the push-back may stand once moving, while the feed's push goes on
  double turnShare = 0.0;  // the slowest its tug turn goes, as a share of the feed's fastest push
  // The aircraft is first heard this far into the feed and created on its stand once its first
  // line is nearly due, the lines heard meanwhile queued as the intake queues them; 0: parked before.
  double heardFromS = 0.0;
  // A push within the scatter's reach: the stand's watch sees it leave late, and the push's start
  // is reckoned back from scattered lines, so the push-back is not held to it.
  bool leavesLate = false;
  double standRadiusM = 20.0;
  double halfSpanNm = 0.0097;
  // A receiver's error that has wandered this far to the left of the way back while the push runs.
  double wanderLeftM = 0.0;
  unsigned scatterSeed = 28;  // draws the lines' scatter
};

TEST_F(LeavingStand, PushBackWithALateTugTurnEndsOnTheFeedsSide) {
  constexpr double kStandDeg = 63.5;
  constexpr double kMetresPerDeg = 111132.95;
  constexpr std::size_t kPushLegs = 5;
  const std::vector<LateTurnCase> cases{
      // Straight back 55 m, a 90 degree turn of the nose to the right on a 20 m radius, 26 m on.
      {"long straight push, 26 m on after the turn",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 3.0}, {52.0, 0.0, 3.0}, {31.4, 90.0, 3.0}, {26.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 20.0}, {200.0, 0.0, 12.0}}},
      // Straight back 39 m from a small stand, the turn of the nose, and a stop 5 m on.
      {"short straight push from a small stand, a stop right after the turn",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 3.0}, {36.0, 0.0, 3.0}, {31.4, 89.2, 3.0}, {5.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 12.0}, {200.0, 0.0, 12.0}}},
      {"the long push turned left, lines without a true heading",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 3.0}, {52.0, 0.0, 3.0}, {31.4, -90.0, 3.0}, {26.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 20.0}, {200.0, 0.0, 12.0}},
       false},
      {"a straight push of 75 m",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 3.0}, {57.0, 0.0, 3.0}, {15.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 2.0},
        {0.0, 0.0, 0.0, 20.0}, {200.0, 0.0, 12.0}}},
      {"a straight push of 80 m on scattered lines without a true heading",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 2.5}, {62.0, 0.0, 2.5}, {15.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 2.0},
        {0.0, 0.0, 0.0, 20.0}, {200.0, 0.0, 12.0}},
       false, 8.0},
      // The tug turn goes on at the feed's pace all along, not crawling into it.
      {"the long push at an even pace through its turn",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 3.0}, {52.0, 0.0, 3.0}, {31.4, 90.0, 3.0}, {26.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 20.0}, {200.0, 0.0, 12.0}},
       true, 0.0, 5, 0.9},
      // The fit of such lines strays back by metres now and then: the tug goes on, slower.
      {"a straight push of 80 m on scattered lines, never standing",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 2.5}, {62.0, 0.0, 2.5}, {15.0, 0.0, 0.0}, {0.0, 0.0, 0.0, 2.0},
        {0.0, 0.0, 0.0, 20.0}, {200.0, 0.0, 12.0}},
       false, 8.0, 1},
      // The taxi sets off 4 s after the push and turns 40 m on: the lines of its first 30 s come
      // while the push-back still runs, and it must not cut the turn for want of them.
      {"a short stop after the push, a turn soon after",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 3.0}, {52.0, 0.0, 3.0}, {31.4, 90.0, 3.0}, {26.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 4.0}, {10.0, 0.0, 8.0}, {30.0, 0.0, 8.0}, {47.0, -90.0, 8.0}, {100.0, 0.0, 8.0}}},
      // The program starts while the push runs: it follows the rest of the feed's push, not the taxi.
      {"first heard 18 s into the long push",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 3.0}, {52.0, 0.0, 3.0}, {31.4, 90.0, 3.0}, {26.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 20.0}, {200.0, 0.0, 12.0}},
       true, 0.0, 5, 0.0, 18.0},
      // Heard 10 s into a straight push of 36 m: its lines heard before it was made on its stand are
      // the push so far, and it goes on to where the feed's push ends.
      {"first heard 10 s into a straight push of 36 m",
       {{0.0, 0.0, 0.0, 6.0}, {3.0, 0.0, 2.5}, {30.0, 0.0, 2.5}, {3.4, 0.0, 0.0}, {0.0, 0.0, 0.0, 2.0},
        {0.0, 0.0, 0.0, 20.0}, {200.0, 0.0, 12.0}},
       true, 0.0, 5, 0.0, 16.0},
      // A light aircraft pushed 10 m from a small stand, its nose turned on a 5 m radius, its lines
      // scattered by 3-8 m: the true noses show the tug turn, which the scattered places cannot.
      {"a short push with a turn on scattered lines, then the taxi",
       {{0.0, 0.0, 0.0, 6.0}, {2.0, 0.0, 2.0}, {8.0, 0.0, 2.0}, {7.9, 90.0, 2.0}, {1.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 10.0}, {60.0, 0.0, 7.0}},
       true, 8.0, 5, 0.0, 0.0, true, 8.0, 0.003},
      // The same push while the receiver's error has wandered 8 m to the left: the places swing
      // left, the noses heard ahead turn right.
      {"a short push turning right on places wandered to the left",
       {{0.0, 0.0, 0.0, 6.0}, {2.0, 0.0, 2.0}, {8.0, 0.0, 2.0}, {7.9, 90.0, 2.0}, {1.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 10.0}, {60.0, 0.0, 7.0}},
       true, 8.0, 5, 0.0, 0.0, true, 8.0, 0.003, 8.0},
      // Scattered by up to 10 m, the places of this draw seem to go forward along the nose at more
      // than half the push's 2 kt: the push-back must not take it for rolling on its own.
      {"a short push with a turn on lines scattered by up to 10 m",
       {{0.0, 0.0, 0.0, 6.0}, {2.0, 0.0, 2.0}, {8.0, 0.0, 2.0}, {7.9, 90.0, 2.0}, {1.0, 0.0, 0.0},
        {0.0, 0.0, 0.0, 10.0}, {60.0, 0.0, 7.0}},
       true, 10.0, 5, 0.0, 0.0, true, 8.0, 0.003, 0.0, 72},
  };
  for (const LateTurnCase& c : cases) {
    SCOPED_TRACE(c.name);
    resetWorld();
    const std::vector<Leg>& legs = c.legs;
    std::vector<TrackPoint> feed;
    double north = 0.0, east = 0.0, speed = 0.0, elapsed = 0.0, nextSample = 0.0;
    double motion = kStandDeg + 180.0;
    double feedEndDeg = kStandDeg;
    TrackPoint feedPushEnd;
    kvo::TickCount feedPushStart = 0;
    kvo::TickCount feedLastStands = 0;  // the last line before the push, standing
    double feedPeakKt = 0.0;
    std::mt19937 scatter(c.scatterSeed);
    std::vector<std::pair<double, double>> taxiPath;  // the feed's taxi as it moved, metres north and east
    for (std::size_t i = 0; i < legs.size(); ++i) {
      const bool backwards = i < kPushLegs;
      if (i == kPushLegs) motion += 180.0;
      auto emit = [&] {
        for (; elapsed >= nextSample; nextSample += 2.0) {
          TrackPoint p =
              point(50.0 + north / kMetresPerDeg, 8.0 + east / (kMetresPerDeg * std::cos(50.0 * kDeg)),
                    kNow + 3000 + static_cast<kvo::TickCount>(std::lround(nextSample * 100.0)), speed / 0.514444);
          const double heading = std::fmod(motion + (backwards ? 180.0 : 0.0) + 720.0, 360.0);
          p.trackDeg = std::fmod(motion + 720.0, 360.0);
          if (c.trueHeadings) {
            p.trueHeading = heading * kDeg;
            p.trueHeadingGiven = 1;
          }
          if (backwards && speed > 0.0) feedEndDeg = heading;
          if (backwards) feedPushEnd = p;
          if (backwards && speed > 0.0 && feedPushStart == 0) feedPushStart = p.dueTick;
          if (feedPushStart == 0) feedLastStands = p.dueTick;
          feedPeakKt = std::max(feedPeakKt, backwards ? p.groundSpeedKt : 0.0);
          if (backwards && speed > 0.0 && c.wanderLeftM > 0.0) {
            const double left = (kStandDeg + 180.0 - 90.0) * kDeg;
            p.lat += c.wanderLeftM * std::cos(left) / kMetresPerDeg;
            p.lon += c.wanderLeftM * std::sin(left) / (kMetresPerDeg * std::cos(50.0 * kDeg));
          }
          if (c.scatterM > 0.0 && !feed.empty()) {
            const double off = std::uniform_real_distribution<double>(3.0, c.scatterM)(scatter);
            const double way = std::uniform_real_distribution<double>(0.0, 360.0)(scatter) * kDeg;
            p.lat += off * std::cos(way) / kMetresPerDeg;
            p.lon += off * std::sin(way) / (kMetresPerDeg * std::cos(50.0 * kDeg));
          }
          feed.push_back(p);
        }
      };
      if (legs[i].holdS > 0.0) {
        speed = 0.0;
        for (const double end = elapsed + legs[i].holdS; elapsed < end; elapsed += 0.05) emit();
        continue;
      }
      const double v1 = legs[i].endKt * 0.514444;
      const double accel = (v1 * v1 - speed * speed) / (2.0 * legs[i].metres);
      for (double s = 0.0; s < legs[i].metres; elapsed += 0.05) {
        const double ds = std::max(speed, 0.05) * 0.05;
        motion += legs[i].turnDeg * ds / legs[i].metres;
        north += ds * std::cos(motion * kDeg);
        east += ds * std::sin(motion * kDeg);
        if (!backwards) taxiPath.push_back({north, east});
        s += ds;
        speed = std::sqrt(std::max(speed * speed + 2.0 * accel * ds, 0.0));
        emit();
      }
    }

    kvo::Stand stand;
    stand.id = 10;
    stand.name = "10";
    stand.latitude = feed.front().lat;
    stand.longitude = feed.front().lon;
    stand.heading = kStandDeg;
    stand.radius = c.standRadiusM / 1852.0;
    g_parkStands = {stand};
    LiveAircraft ac = makeAircraft(Large, c.halfSpanNm);
    ac.onGround = 1;
    ac.phase = GroundPhase::Parked;
    ac.standId = 10;
    ac.standLat = stand.latitude;
    ac.standLon = stand.longitude;
    ac.standHeading = kStandDeg * kDeg;
    ac.standRouteState = 1;
    TrackPoint parked = feed.front();
    parked.dueTick = kNow + 60480000;  // the point a week ahead that holds a parked aircraft
    parked.stationary = 1;
    ac.trackPoints = {parked};
    placeAtFirst(ac, kStandDeg * kDeg);

    std::size_t fed = 1;
    kvo::TickCount begins = feedPushStart;
    if (c.heardFromS > 0.0) {
      // Queued before the creation as the intake does: a line close to the one before merges into it.
      const kvo::TickCount heard = kNow + static_cast<kvo::TickCount>(std::lround(c.heardFromS * 100.0));
      while (feed[fed].dueTick - kvo::kFeedDelayTicks < heard) ++fed;
      LiveAircraft born = makeAircraft(Large);
      born.phase = GroundPhase::Birth;
      born.trackPoints = {feed[fed++]};
      const kvo::TickCount created = born.trackPoints.front().dueTick - 300;
      while (feed[fed].dueTick - kvo::kFeedDelayTicks <= created) decodeExisting(born, feed[fed++]);
      setTick(created);
      watchStandLines(ac, born.trackPoints);
      begins = std::max(begins, created);
    }
    bool pushedBack = false;
    bool leftStand = false;
    int standingInPushS = 0;  // seconds the push-back has stood since it began to move
    double prevLat = ac.position.lat, prevLon = ac.position.lon;
    for (int tick = 0; tick < 30000 && ac.state == kvo::AircraftState::Active && !ac.trackPoints.empty(); ++tick) {
      const kvo::TickCount now = g_trafficTick.load();
      takeDueLines(ac, feed, fed);
      // The push-back has ended (the taxi may begin in the same tick).
      if (!pushedBack && (ac.phase == GroundPhase::PushedBack || (leftStand && ac.phase == GroundPhase::Taxi))) {
        pushedBack = true;
        EXPECT_LT(std::abs(std::remainder(ac.position.heading / kDeg - feedEndDeg, 360.0)), 20.0)
            << "the push-back ends facing " << ac.position.heading / kDeg << ", the feed's " << feedEndDeg;
        EXPECT_LT(distanceNm(ac.position.lat, ac.position.lon, feedPushEnd.lat, feedPushEnd.lon) * 1852.0, 5.0)
            << "the push-back ends where the feed's does";
      }
      const bool offStand = distanceNm(ac.position.lat, ac.position.lon, ac.standLat, ac.standLon) * 1852.0 > 0.3;
      if (offStand && !leftStand) {
        leftStand = true;
        EXPECT_GE(now, feedLastStands) << "the push-back begins before a line that shows the feed standing";
        if (!c.leavesLate) {
          EXPECT_NEAR(static_cast<double>(now - begins), 0.0, 300.0) << "the push-back begins with the feed's";
        }
      }
      if (now % 100 == 0) {
        const double metres = distanceNm(prevLat, prevLon, ac.position.lat, ac.position.lon) * 1852.0;
        if (metres > 0.3 && ac.phase == GroundPhase::Taxi) {
          const double way = initialBearing(prevLat, prevLon, ac.position.lat, ac.position.lon);
          const double off = std::abs(std::remainder(ac.position.heading - way, 2.0 * 3.141592653589793));
          EXPECT_LT(off / kDeg, 45.0) << "taxiing off its nose at tick " << now - kNow;
          const double n = (ac.position.lat - 50.0) * kMetresPerDeg;
          const double e = (ac.position.lon - 8.0) * kMetresPerDeg * std::cos(50.0 * kDeg);
          double nearest = 1e9;
          for (const auto& [pn, pe] : taxiPath) nearest = std::min(nearest, std::hypot(n - pn, e - pe));
          EXPECT_LT(nearest, 8.0) << "off the feed's taxi path at tick " << now - kNow;
        }
        // A push-back is one move: a long stop in it reads as its end, the rest as rolling backwards.
        if (ac.phase == GroundPhase::PushingBack && ac.position.lat != ac.standLat) {
          EXPECT_LT(metres, 1.5 * feedPeakKt * 0.514444) << "faster than the feed's push at tick " << now - kNow;
          if (ac.curve.isSet()) {
            EXPECT_GE(metres, c.turnShare * feedPeakKt * 0.514444) << "a slow tug turn at tick " << now - kNow;
          }
          if (metres > 0.3) {
            EXPECT_LE(standingInPushS, c.longestStandS) << "the push-back stood before moving on at tick " << now - kNow;
            standingInPushS = 0;
          } else {
            ++standingInPushS;
          }
        }
        prevLat = ac.position.lat;
        prevLon = ac.position.lon;
      }
      runTicks(ac, 1);
    }
    EXPECT_TRUE(pushedBack);
  }
}

// The take-off decision on the departure run.
struct TakeOffCase {
  const char* name;
  double firstSpeed;
  std::vector<TrackPoint> later;
  bool starts;
  double expectedStep;  // vertical step when it starts (NaN: not checked)
};

TEST_F(MovementTest, TakeOffDecision) {
  const TrackPoint air1 = point(50.01, 8.0, kNow + 1000, 150, 100, true, 0);
  const TrackPoint air2 = point(50.02, 8.0, kNow + 2000, 160, 300, true, 0);
  const TrackPoint gnd2 = point(50.02, 8.0, kNow + 2000, 150, 0, false, 0);
  auto climbing = [](TrackPoint p) {
    p.verticalSpeed = 1500;
    return p;
  };
  auto slow = [](TrackPoint p) {
    p.groundSpeedKt = 120;
    return p;
  };
  const double climb = kvo::liveCategoryValues(Large).climbStep;
  const std::vector<TakeOffCase> cases{
      {"all later airborne at take-off speed", 120, {air1, air2}, true, climb},
      {"one later point on the ground waits", 120, {air1, gnd2}, false, 0},
      {"below take-off speed waits", 120, {slow(air1), slow(air2)}, false, 0},
      {"all climbing, one on the ground", 120, {climbing(air1), climbing(gnd2)}, true, climb},
      {"all climbing and airborne", 120, {climbing(air1), climbing(air2)}, true, 100.0 / 1000.0},
      {"too slow to decide", 40, {air1, air2}, false, 0},
  };
  for (const TakeOffCase& c : cases) {
    LiveAircraft ac = taxiing();
    ac.takeOffRoll = 1;
    ac.trackPoints = {point(50.0, 8.0, kNow, c.firstSpeed)};
    ac.trackPoints.insert(ac.trackPoints.end(), c.later.begin(), c.later.end());
    placeAtFirst(ac, 0.0);
    groundConfiguration(ac);
    EXPECT_EQ(ac.phase == GroundPhase::TakeOff, c.starts) << c.name;
    if (c.starts) {
      EXPECT_NEAR(ac.verticalStep, c.expectedStep, 1e-12) << c.name;
      EXPECT_EQ(ac.takeOffCounter, static_cast<std::int32_t>(ac.rotationTicks)) << c.name;
    }
  }
}

// On the landing roll the spoilers go in and the flaps to their first step once the aircraft is
// down to 90 kt; turned off the runway it is configured for the taxi.
TEST_F(MovementTest, LandingRollConfigurationBySpeedAndTurn) {
  struct Case {
    double speedKt, turnDeg;
    bool slowedDown, turnedOff;
  };
  for (const Case& c : {Case{120.0, 0.0, false, false}, Case{91.0, 0.0, false, false}, Case{90.0, 0.0, true, false},
                        Case{60.0, 14.0, true, false}, Case{60.0, 16.0, false, true}}) {
    SCOPED_TRACE(c.speedKt);
    LiveAircraft ac = taxiing();
    ac.objectId = 301;
    ac.landingRoll = 1;
    ac.flapsIndex = 3;
    ac.runwayHeading = 1.0;
    ac.position.heading = 1.0 + c.turnDeg * kDeg;
    ac.trackPoints = {point(50.0, 8.0, kNow, c.speedKt), point(50.01, 8.0, kNow + 1000, c.speedKt)};
    takeEvents();
    landingRollConfiguration(ac);
    const auto events = takeEvents();
    EXPECT_EQ(ac.flapsIndex, c.slowedDown ? 1u : c.turnedOff ? 0u : 3u);
    EXPECT_EQ(countEvents(events, kvo::kEventSpoilersSet), c.slowedDown || c.turnedOff ? 1u : 0u);
    EXPECT_EQ(ac.landingRoll, c.turnedOff ? 0 : 1);
  }
}

// On the take-off roll the throttle follows the speeds of the next two points.
TEST_F(MovementTest, TakeOffRollThrottleBySpeed) {
  struct Case {
    double g1, g2;
    std::uint32_t throttle;
  };
  for (const Case c : {Case{26, 10, 4}, Case{10, 31, 4}, Case{21, 10, 2}, Case{10, 26, 2}, Case{16, 10, 1},
                       Case{10, 21, 1}, Case{14, 19, 0}}) {
    LiveAircraft ac = taxiing();
    ac.takeOffRoll = 1;
    ac.trackPoints = {point(50.0, 8.0, kNow, c.g1), point(50.001, 8.0, kNow + 500, c.g2)};
    placeAtFirst(ac, 0.0);
    groundConfiguration(ac);
    EXPECT_EQ(ac.throttleIndex, c.throttle) << c.g1 << " " << c.g2;
  }
}

// A departure fed point by point: lining up, the run, the lift-off and the climb-out, with the
// simulator's ground reports every 20 ticks.
TEST_F(MovementTest, DepartureRunTakeOffAndClimbOut) {
  constexpr double kElevation = 1400.0;
  std::vector<TrackPoint> points;
  kvo::TickCount due = kNow + 3000;
  double along = 0.0;
  double previous = 10.0;
  auto add = [&](double speed, bool airborne, double altFt, double vs) {
    along += (previous + speed) / 2.0 * 2.0 / 3600.0;
    previous = speed;
    const kvo::LatLon at = destinationPoint(47.0, 13.0, 90.0 * kDeg, along * 6076.11549);
    points.push_back(point(at.lat, at.lon, due, speed, altFt, airborne, vs));
    due += 200;
  };
  points.push_back(point(47.0, 13.0, due, 10));
  due += 200;
  for (const double speed : {10.0, 25.0, 45.0, 65.0, 85.0, 105.0, 125.0, 145.0, 155.0}) add(speed, false, 0.0, 0.0);
  for (int i = 1; i <= 25; ++i) add(160.0, true, kElevation + i * 66.7, 2000.0);

  LiveAircraft ac = onFeed(Large, GroundPhase::Taxi, points, 90.0 * kDeg);
  ac.position.altFt = kElevation + ac.staticCgFt;

  std::size_t fed = 2;
  double worstNm = 0.0;
  bool sawTakeOff = false;
  bool gearUp = false;
  double lowestAgl = 1e9;
  for (int i = 0; i < 20000 && ac.state == kvo::AircraftState::Active; ++i) {
    const kvo::TickCount now = g_trafficTick.load();
    takeDueLines(ac, points, fed);
    for (const TrackPoint& p : points) {
      if (p.dueTick == now) worstNm = std::max(worstNm, distanceNm(ac.position.lat, ac.position.lon, p.lat, p.lon));
    }
    if (now % 20 == 0) reportGround(ac, kElevation);
    sawTakeOff = sawTakeOff || ac.phase == GroundPhase::TakeOff;
    for (const auto& e : takeEvents()) gearUp = gearUp || (e.eventId == kvo::kEventGearSet && e.data == 0);
    lowestAgl = std::min(lowestAgl, ac.position.altFt - kElevation);
    if (ac.phase == GroundPhase::Flying && ac.aglFt > 1000.0) break;
    runTicks(ac, 1);
  }
  EXPECT_EQ(ac.takeOffRoll, 1) << "the departure run began";
  EXPECT_TRUE(sawTakeOff);
  EXPECT_EQ(ac.phase, GroundPhase::Flying);
  EXPECT_EQ(ac.onGround, 0);
  EXPECT_TRUE(gearUp);
  EXPECT_GE(lowestAgl, ac.staticCgFt - 1.0);
  EXPECT_LT(worstNm * 1852.0, 30.0) << "each point reached at its due tick";
}

// A feed as real ones are on the ground: a line every 2 s, each position scattered by 3-8 m. On
// a straight leg the nose and the speed hold, up to a turn (where too few points lie ahead to tell
// scatter from a bend); a turn is still driven through, the nose keeping up with its bends; a
// helicopter standing, mid-taxi or parked on its pad, stays there, nose and all.
TEST_F(MovementTest, NoisyFeedOnTheGround) {
  struct Case {
    const char* name;
    SizeCategory category;
    std::vector<Leg> legs;
    double startKt;
    double jitterM = 3.0;  // each position scattered by this and up to 5 m more
    bool noses = false;    // the lines give the true nose, within 2 degrees
  };
  const std::vector<Case> cases{
      {"straight leg", Large, {{700.0, 0.0, 17.0}}, 17.0},
      {"straight leg of a rough feed (10-15 m) that gives true noses", Large, {{700.0, 0.0, 17.0}}, 17.0, 10.0, true},
      {"90 degree junction", Large, {{200.0, 0.0, 15.0}, {40.0, 90.0, 12.0}, {450.0, 0.0, 15.0}}, 15.0},
      {"standing helicopter", Rotorcraft, {{0.0, 0.0, 0.0, 100.0}}, 0.0},
      {"helicopter parked on its pad", Rotorcraft, {{0.0, 0.0, 0.0, 100.0}}, 0.0},
  };
  constexpr double kMetresPerDeg = 111132.95;
  const double cosLat = std::cos(47.8 * kDeg);
  struct Truth {
    double north, east, way, kt;
    bool straight;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetWorld();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Truth> truth;
    std::vector<TrackPoint> feed;
    double north = 0.0, east = 0.0, way = 0.0, speed = c.startKt * 0.514444, elapsed = 0.0, nextLine = 0.0;
    bool straight = true;
    auto emit = [&] {
      truth.push_back({north, east, way, speed / 0.514444, straight});
      for (; elapsed >= nextLine; nextLine += 2.0) {
        const double r = c.jitterM + 5.0 * unit(random);
        const double a = 360.0 * kDeg * unit(random);
        feed.push_back(point(47.8 + (north + r * std::cos(a)) / kMetresPerDeg,
                             13.0 + (east + r * std::sin(a)) / (kMetresPerDeg * cosLat),
                             kNow + 3000 + static_cast<kvo::TickCount>(std::lround(nextLine * 100.0)), speed / 0.514444));
        if (c.noses) {
          feed.back().trueHeading = kvo::mv::wrap2Pi(way + (2.0 * unit(random) - 1.0) * 2.0 * kDeg);
          feed.back().trackDeg = std::fmod(way / kDeg + 90.0, 360.0);  // no copy of the nose
        }
      }
    };
    for (const Leg& leg : c.legs) {
      straight = leg.turnDeg == 0.0;
      if (leg.holdS > 0.0) {
        for (const double end = elapsed + leg.holdS; elapsed < end; elapsed += 0.05) emit();
        continue;
      }
      const double v1 = leg.endKt * 0.514444;
      const double accel = (v1 * v1 - speed * speed) / (2.0 * leg.metres);
      for (double s = 0.0; s < leg.metres; elapsed += 0.05) {
        const double ds = std::max(speed, 0.05) * 0.05;
        way += leg.turnDeg * kDeg * ds / leg.metres;
        north += ds * std::cos(way);
        east += ds * std::sin(way);
        s += ds;
        speed = std::sqrt(std::max(speed * speed + 2.0 * accel * ds, 0.0));
        emit();
      }
    }

    LiveAircraft ac = taxiing(c.category);
    if (std::string_view(c.name).find("parked") != std::string_view::npos) {
      ac.phase = GroundPhase::Parked;
      ac.standLat = feed.front().lat;
      ac.standLon = feed.front().lon;
      ac.halfSpanNm = 5.0 / 1852.0;
    }
    // Moving, it starts on its first two lines (as the spawn gives them), standing on its first.
    const std::size_t first = c.startKt > 0.0 ? 2 : 1;
    ac.trackPoints.assign(feed.begin(), feed.begin() + static_cast<std::ptrdiff_t>(first));
    placeAtFirst(ac, 0.0);
    setTick(feed.front().dueTick);
    auto local = [&](double lat, double lon) {
      return std::pair{(lat - 47.8) * kMetresPerDeg, (lon - 13.0) * kMetresPerDeg * cosLat};
    };
    const auto [startNorth, startEast] = local(ac.position.lat, ac.position.lon);
    // The middle of the turn, which a corner cut would pass by far.
    const auto turn = std::find_if(truth.begin(), truth.end(), [](const Truth& t) { return !t.straight; });
    const auto turnEnd = std::find_if(turn, truth.end(), [](const Truth& t) { return t.straight; });
    const Truth turnMiddle = turn == truth.end() ? truth.front() : *(turn + (turnEnd - turn) / 2);
    std::size_t fed = first;
    double prevNorth = startNorth, prevEast = startEast;
    int moving = 0, off = 0, straightSamples = 0;
    double errorSum = 0.0, errorSquares = 0.0, worstSpeedKt = 0.0, worstGapM = 0.0, nearestTurnM = 1e9;
    double worstApproachDeg = 0.0;  // the nose's error on the straight before the turn
    // Measured while the feed still runs 30 s ahead.
    for (int tick = 1; g_trafficTick.load() < feed.back().dueTick - 3000; ++tick) {
      takeDueLines(ac, feed, fed);
      runTicks(ac, 1);
      ASSERT_EQ(ac.state, kvo::AircraftState::Active);
      if (tick % 100 != 0) continue;
      const auto [n, e] = local(ac.position.lat, ac.position.lon);
      const Truth* nearest = &truth.front();
      for (const Truth& t : truth) {
        if (std::hypot(t.north - n, t.east - e) < std::hypot(nearest->north - n, nearest->east - e)) nearest = &t;
      }
      worstGapM = std::max(worstGapM, std::hypot(nearest->north - n, nearest->east - e));
      nearestTurnM = std::min(nearestTurnM, std::hypot(turnMiddle.north - n, turnMiddle.east - e));
      const double stepM = std::hypot(n - prevNorth, e - prevEast);
      if (stepM > 0.5) {
        ++moving;
        const double motion = std::atan2(e - prevEast, n - prevNorth);
        if (std::abs(std::remainder(ac.position.heading - motion, 2.0 * 3.141592653589793)) > 20.0 * kDeg) ++off;
        if (tick > 500) {
          const double error = std::remainder(ac.position.heading - nearest->way, 2.0 * 3.141592653589793) / kDeg;
          ++straightSamples;
          errorSum += error;
          errorSquares += error * error;
          worstSpeedKt = std::max(worstSpeedKt, std::abs(stepM / 0.514444 - nearest->kt));
          if (turn != truth.end() && nearest < &*turn) worstApproachDeg = std::max(worstApproachDeg, std::abs(error));
        }
      }
      prevNorth = n;
      prevEast = e;
    }
    const auto [endNorth, endEast] = local(ac.position.lat, ac.position.lon);
    if (c.startKt == 0.0) {
      EXPECT_LT(std::hypot(endNorth - startNorth, endEast - startEast), 2.0) << "it stays";
      EXPECT_EQ(ac.position.heading, 0.0) << "nose and all";
    } else if (turn == truth.end()) {
      const double mean = errorSum / straightSamples;
      EXPECT_LT(std::sqrt(errorSquares / straightSamples - mean * mean), 5.0) << "the nose's error";
      EXPECT_LT(worstSpeedKt, 3.0) << "the speed";
      EXPECT_EQ(off, 0) << "samples more than 20 degrees off the motion";
    } else {
      EXPECT_LT(nearestTurnM, 5.0) << "driven round the turn, not across";
      EXPECT_LE(off, 1) << "samples more than 20 degrees off the motion: the nose keeps up with the bends";
      EXPECT_LT(worstApproachDeg, 10.0) << "the nose on the straight before the turn, its last points scattered";
      EXPECT_LT(worstGapM, 10.0) << "the path's distance from the feed's";
      EXPECT_LT(std::abs(std::remainder(ac.position.heading - way, 2.0 * 3.141592653589793)), 5.0 * kDeg)
          << "the nose on the leg after the turn";
    }
  }
}

// Exact feeds (a line every 2 s, nothing scattered) through junctions and bends: none of the
// scattering feed's rules may act. The feed's scatter is judged nothing all along, and the aircraft
// keeps to the feed's path within the curves drawn between its lines.
TEST_F(MovementTest, ExactFeedKeepsToItsPath) {
  struct Case {
    const char* name;
    std::vector<Leg> legs;
  };
  const std::vector<Case> cases{
      {"90 degree junction of 25 m radius", {{150.0, 0.0, 15.0}, {39.27, 90.0, 15.0}, {200.0, 0.0, 15.0}}},
      {"S-bend of 2 x 25 degrees", {{150.0, 0.0, 15.0}, {40.0, 25.0, 15.0}, {40.0, -25.0, 15.0}, {200.0, 0.0, 15.0}}},
      {"S-bend of 2 x 40 degrees", {{150.0, 0.0, 15.0}, {40.0, 40.0, 15.0}, {40.0, -40.0, 15.0}, {200.0, 0.0, 15.0}}},
      {"a straight whose end lies in a turn", {{130.0, 0.0, 12.0}, {60.0, 70.0, 12.0}, {200.0, 0.0, 12.0}}},
      {"120 degree turn of 15 m radius", {{150.0, 0.0, 12.0}, {31.4, 120.0, 12.0}, {200.0, 0.0, 12.0}}},
  };
  constexpr double kMetresPerDeg = 111132.95;
  const double cosLat = std::cos(47.8 * kDeg);
  auto local = [&](double lat, double lon) {
    return std::pair{(lat - 47.8) * kMetresPerDeg, (lon - 13.0) * kMetresPerDeg * cosLat};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetWorld();
    std::vector<TrackPoint> feed;
    std::vector<std::pair<double, double>> path;  // the feed's lines, metres north and east
    double north = 0.0, east = 0.0, way = 0.0, elapsed = 0.0, nextLine = 0.0;
    const double speed = c.legs.front().endKt * 0.514444;
    auto emit = [&] {
      for (; elapsed >= nextLine; nextLine += 2.0) {
        path.emplace_back(north, east);
        feed.push_back(point(47.8 + north / kMetresPerDeg, 13.0 + east / (kMetresPerDeg * cosLat),
                             kNow + 3000 + static_cast<kvo::TickCount>(std::lround(nextLine * 100.0)), speed / 0.514444));
      }
    };
    emit();
    for (const Leg& leg : c.legs) {
      for (double s = 0.0; s < leg.metres; s += speed * 0.01) {
        way += leg.turnDeg * kDeg * speed * 0.01 / leg.metres;
        north += speed * 0.01 * std::cos(way);
        east += speed * 0.01 * std::sin(way);
        elapsed += 0.01;
        emit();
      }
    }
    LiveAircraft ac = taxiing();
    ac.trackPoints.assign(feed.begin(), feed.begin() + 2);
    placeAtFirst(ac, 0.0);
    setTick(feed.front().dueTick);
    std::size_t fed = 2;
    double farthestM = 0.0;
    double mostScatterM = 0.0;
    double slowestMps = 1e9;
    std::optional<std::pair<double, double>> lastSecond;
    for (int tick = 1; g_trafficTick.load() < feed.back().dueTick - 3000; ++tick) {
      takeDueLines(ac, feed, fed);
      runTicks(ac, 1);
      mostScatterM = std::max(mostScatterM, ac.groundScatterM);
      if (tick % 100 != 0) continue;
      const auto [n, e] = local(ac.position.lat, ac.position.lon);
      if (lastSecond) slowestMps = std::min(slowestMps, std::hypot(n - lastSecond->first, e - lastSecond->second));
      lastSecond = std::pair{n, e};
      double nearest = 1e9;
      for (std::size_t k = 1; k < path.size(); ++k) {
        const auto [n0, e0] = path[k - 1];
        const double dn = path[k].first - n0, de = path[k].second - e0;
        const double t = std::clamp(((n - n0) * dn + (e - e0) * de) / std::max(dn * dn + de * de, 1e-9), 0.0, 1.0);
        nearest = std::min(nearest, std::hypot(n - n0 - t * dn, e - e0 - t * de));
      }
      farthestM = std::max(farthestM, nearest);
    }
    EXPECT_EQ(mostScatterM, 0.0) << "the feed judged scattered";
    // A curve drawn through three lines 15 m apart cuts inside a junction's arc by some 2 m.
    EXPECT_LT(farthestM, 2.5) << "the farthest from the feed's path";
    // No slow-down for a scattering feed's corners acts: it would halt the 120 degree turn.
    EXPECT_GT(slowestMps / speed, 0.5) << "the slowest second's pace, of the feed's";
  }
}

}  // namespace

// A helicopter comes down south onto its spot and stands there, or hover-taxies back north the way
// it came first. It sets down on the spot when its feed does (its approach is not dropped for the
// way back), turns round there before it moves off (never backwards, nor dashing after its feed)
// and stays where it stands, nose and all, also where its feed's places on the ground scatter as a
// receiver's do (3-8 m about an error that wanders 6 m over some 40 s, one line now and then 40 m
// off).
// Set down, it takes back the touchdown's spoilers and levers as an aeroplane does after its roll:
// standing it idles, turned away from its way in its landing lights and strobes go off.
TEST_F(MovementTest, HelicopterSetsDownTaxiesAndStands) {
  constexpr double kElevation = 1400.0;
  const kvo::LatLon spot{47.8, 13.0};
  struct Case {
    const char* name;
    int taxiLines;
    bool scattered;
  };
  const Case cases[] = {
      {"stands where it came down", 0, false},
      {"taxies back the way it came", 15, false},
      {"stands where it came down, its feed scattering", 0, true},
  };
  for (const Case& drawn : cases) {
    const int taxiLines = drawn.taxiLines;
    SCOPED_TRACE(drawn.name);
    resetWorld();
    kvo::simtest::reset();  // the calls to the simulator recorded
    g_parkAirport = "LOWS";
    g_parkAirportElevation = kElevation;
    g_parkAirportLat = spot.lat;
    g_parkAirportLon = spot.lon;
    std::vector<TrackPoint> feed;
    kvo::TickCount due = kNow + 3000;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    double wanderNorth = 0.0, wanderEast = 0.0;
    int groundLines = 0;
    auto line = [&](double northM, double kt, double altFt, double vs) {
      double eastM = 0.0;
      if (drawn.scattered && altFt <= 0.0) {
        const double keep = std::exp(-2.0 / 40.0), fresh = 6.0 * std::sqrt(1.0 - keep * keep);
        wanderNorth = keep * wanderNorth + fresh * gauss(random);
        wanderEast = keep * wanderEast + fresh * gauss(random);
        const double r = 3.0 + 5.0 * unit(random), a = 360.0 * kDeg * unit(random);
        const double off = ++groundLines == 12 ? 40.0 : 0.0;
        northM += r * std::cos(a) + wanderNorth + off;
        eastM += r * std::sin(a) + wanderEast;
      }
      const kvo::LatLon north = destinationPoint(spot.lat, spot.lon, 0.0, northM * kFeetPerMetre);
      const kvo::LatLon at = destinationPoint(north.lat, north.lon, 90.0 * kDeg, eastM * kFeetPerMetre);
      feed.push_back(point(at.lat, at.lon, due, kt, altFt, altFt > 0.0, vs));
      due += 200;
    };
    // 60 s down from 400 ft at 40 kt to the spot at 8 kt, back north at 8 kt, 60 s standing.
    for (int i = 0; i < 30; ++i) {
      const double t = 2.0 * i, left = 60.0 - t;
      line(left * (8.0 + (40.0 - 8.0) * left / 120.0) * 0.514444, 8.0 + 32.0 * left / 60.0,
           kElevation + 400.0 * left / 60.0, -400.0);
    }
    for (int i = 0; i <= taxiLines; ++i) line(8.2 * i, taxiLines == 0 ? 0.0 : 8.0, 0.0, 0.0);
    const kvo::TickCount stands = due;
    for (int i = 0; i < 30; ++i) line(8.2 * taxiLines, 0.0, 0.0, 0.0);

    LiveAircraft ac = onFeed(Rotorcraft, GroundPhase::Flying, feed, 180.0 * kDeg);
    std::size_t fed = 2;
    std::optional<kvo::LatLon> down;
    kvo::LatLon atStand{};
    double standHeading = 0.0;
    double worstOffDeg = 0.0, drift = 0.0, turnS = 0.0, standTurnDeg = 0.0;  // turnS: seconds turning on the spot
    double fastestKt = 0.0;
    while (g_trafficTick.load() < feed.back().dueTick - 3000 && ac.state == kvo::AircraftState::Active) {
      const kvo::TickCount now = g_trafficTick.load();
      takeDueLines(ac, feed, fed);
      const double lat = ac.position.lat, lon = ac.position.lon, hdgBefore = ac.position.heading;
      runTicks(ac, 1);
      reportGround(ac, kElevation);
      if (ac.onGround != 0 && !down) down = kvo::LatLon{ac.position.lat, ac.position.lon};
      const double stepM = distanceNm(lat, lon, ac.position.lat, ac.position.lon) * 1852.0;
      if (ac.onGround != 0 && stepM < 0.001 && std::abs(ac.position.heading - hdgBefore) > 1e-6) turnS += 0.01;
      if (ac.onGround != 0) fastestKt = std::max(fastestKt, stepM / 0.01 / 0.514444);
      if (ac.onGround != 0 && stepM > 0.02) {
        const double motion = initialBearing(lat, lon, ac.position.lat, ac.position.lon);
        worstOffDeg = std::max(worstOffDeg, std::abs(kvo::mv::wrapPi(motion - ac.position.heading)) / kDeg);
      }
      if (now == stands) {
        atStand = {ac.position.lat, ac.position.lon};
        standHeading = ac.position.heading;
      }
      if (now > stands) {
        drift = std::max(drift, distanceNm(atStand.lat, atStand.lon, ac.position.lat, ac.position.lon) * 1852.0);
        standTurnDeg = std::max(standTurnDeg, std::abs(kvo::mv::wrapPi(ac.position.heading - standHeading)) / kDeg);
      }
    }
    ASSERT_EQ(ac.state, kvo::AircraftState::Active);
    ASSERT_TRUE(down);
    EXPECT_LT(distanceNm(down->lat, down->lon, spot.lat, spot.lon) * 1852.0, 40.0) << "set down near its spot";
    EXPECT_LT(worstOffDeg, 90.0) << "never backwards";
    EXPECT_LE(fastestKt, 16.5) << "after turning round catches up at twice its feed's 8 kt at most";
    EXPECT_LT(drift, 1.0) << "stands when its feed does, and stays";
    EXPECT_LT(standTurnDeg, 5.0) << "its nose stays where it stands";
    EXPECT_LT(turnS, 7.0) << "turns on the spot at least at its base rate (the 135 degrees to 45 off its way: 6.75 s)";
    std::vector<double> spoilersAndLevers;
    for (const auto& c : kvo::simtest::callsOf("SimConnect_SetDataOnSimObject")) {
      if (c.args.at(0) != std::to_string(kvo::kDefSpoilersThrottles) || c.data.size() != 3 * sizeof(double)) continue;
      spoilersAndLevers.assign(3, 0.0);
      std::memcpy(spoilersAndLevers.data(), c.data.data(), c.data.size());
    }
    EXPECT_EQ(spoilersAndLevers, std::vector<double>(3, 0.0)) << "spoilers in, both levers idle";
    const auto events = takeEvents();
    const auto last = [&](std::uint32_t id) {
      const auto data = eventData(events, id);
      return data.empty() ? -1 : static_cast<int>(data.back());
    };
    if (taxiLines == 0) {
      EXPECT_EQ(last(kvo::kEventThrottleSet), 0) << "idle where it stands";
    } else {
      EXPECT_EQ(last(kvo::kEventLandingLightsSet), 0);
      EXPECT_EQ(last(kvo::kEventStrobesSet), 0);
    }
  }
}

// A helicopter's curve that runs on along its nose and then doubles back (its feed turned round)
// hardly moves with its parameter where it turns: stepped there by length, the helicopter leapt
// past the turn in one tick and stepped backwards.
TEST_F(MovementTest, AHelicoptersCurveDoesNotLeapWhereItDoublesBack) {
  LiveAircraft ac = makeAircraft(Rotorcraft);
  ac.onGround = 1;
  ac.phase = GroundPhase::Taxi;
  ac.trackPoints = {point(50.0, 8.0, kNow + 500, 8.0)};
  placeAtFirst(ac, 0.0);
  setTick(kNow);
  ac.curve = {50.0, 8.0, -2.5, 0.0, -30.0, 0.0};  // 10 m on north, then 30 m back south
  ac.curveTStep = 1.0 / 500.0;
  ac.curveT = 0.198;  // just short of where it turns
  EXPECT_LE(kvo::mv::curvePace(ac), 1.5 * ac.curveTStep);
}

// The feed taxis onto the runway from the south, or from a taxiway joining it at 30 degrees, stands
// its 10 s line-up there and rolls along the runway (300°). The aircraft stands the line-up too,
// comes onto it nose first, turns its nose onto the runway meanwhile and rolls nose first, never
// backward.
TEST_F(MovementTest, TakeOffRollStartsLinedUp) {
  constexpr double kRunwayDeg = 300.0;
  for (const double inDeg : {0.0, 330.0}) {
    SCOPED_TRACE(inDeg);
    resetWorld();
    std::vector<TrackPoint> feed;
    kvo::TickCount due = kNow + 3000;
    auto line = [&](const kvo::LatLon& at, double kt) {
      feed.push_back(point(at.lat, at.lon, due, kt));
      due += 200;
    };
    for (int i = 0; i < 10; ++i) line(destinationPoint(47.8, 13.0, (inDeg + 180.0) * kDeg, (10 - i) * 20.0 * kFeetPerMetre), 20.0);
    for (int i = 0; i < 6; ++i) line({47.8, 13.0}, 0.0);
    double along = 0.0, kt = 0.0;
    for (int i = 0; i < 30; ++i) {
      kt = std::min(kt + 7.0, 140.0);
      along += kt * 0.514444 * 2.0;
      line(destinationPoint(47.8, 13.0, kRunwayDeg * kDeg, along * kFeetPerMetre), kt);
    }
    const kvo::TickCount rollStarts = feed[16].dueTick;

    LiveAircraft ac = onFeed(Large, GroundPhase::Taxi, feed, inDeg * kDeg);
    std::size_t fed = 2;
    double stoodS = 0.0, worstOffDeg = 0.0;
    std::optional<double> noseAtRollDeg;
    while (g_trafficTick.load() < feed.back().dueTick - 3000) {
      takeDueLines(ac, feed, fed);
      const double lat = ac.position.lat, lon = ac.position.lon;
      runTicks(ac, 1);
      const double stepM = distanceNm(lat, lon, ac.position.lat, ac.position.lon) * 1852.0;
      if (g_trafficTick.load() > feed[10].dueTick && g_trafficTick.load() < rollStarts && stepM < 0.001) stoodS += 0.01;
      if (stepM > 0.02) {
        const double motion = initialBearing(lat, lon, ac.position.lat, ac.position.lon);
        if (g_trafficTick.load() >= rollStarts && !noseAtRollDeg) noseAtRollDeg = ac.position.heading / kDeg;
        worstOffDeg = std::max(worstOffDeg, std::abs(kvo::mv::wrapPi(motion - ac.position.heading)) / kDeg);
      }
    }
    EXPECT_GE(stoodS, 8.0) << "the line-up is stood";
    ASSERT_TRUE(noseAtRollDeg);
    EXPECT_NEAR(*noseAtRollDeg, kRunwayDeg, 5.0) << "lined up when the roll starts";
    EXPECT_LT(worstOffDeg, 20.0) << "onto the line-up and along the roll nose first";
  }
}
