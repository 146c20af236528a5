// Ground movement: leaving a stand (pull-out; the push-back is push_back.cpp), taxiing with
// curves and extra points at speed changes, the nose and the pace along a curve, the
// configuration on the ground, the last leg onto a stand and the landing roll. The
// straight legs of a scattering feed are straight_legs.cpp, the take-off take_off.cpp.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "core/log.h"
#include "core/parameters.h"
#include "links/sim_ids.h"
#include "links/sim_queues.h"
#include "traffic/park_airports.h"
#include "traffic/parking.h"
#include "traffic/stand_search.h"
#include "traffic/ground_detail.h"
#include "traffic/traffic_engine.h"
#include "traffic/movement.h"
#include "traffic/movement_util.h"

using namespace kvo::mv;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace {

constexpr double kMidPointMinNm = 0.02699784017278618;  // 50 m
constexpr double kParkTriggerNm = 0.018898488120950324;  // 35 m

// On a take-off roll, a leg that runs within this of the roll's way is driven with the nose on the
// roll's way: farther off, the aircraft is still turning onto the runway.
constexpr double kRollLegRad = 45.0 * kDeg;

bool isCurveStartPhase(GroundPhase phase) { return phase == GroundPhase::PushingBack; }

// How a curve from the aircraft runs through the middle point to the end point. The smooth curve
// through the middle point turns back on itself when the aircraft is already near that point (or
// the two legs differ much in length): it would roll backwards first. Such a curve rounds the
// corner at the middle point instead, which always runs forwards; when the middle point does not
// lie between the aircraft and the end, it runs straight to the end.
enum class CurveShape { ThroughMiddle, Corner, Straight };

CurveShape curveShape(double midNorth, double midEast, double endNorth, double endEast) {
  const double controlNorth = curveControl(midNorth, endNorth);
  const double controlEast = curveControl(midEast, endEast);
  const bool startsForward = controlNorth * midNorth + controlEast * midEast > 0.0;
  const bool endsForward =
      (endNorth - controlNorth) * (endNorth - midNorth) + (endEast - controlEast) * (endEast - midEast) > 0.0;
  if (startsForward && endsForward) return CurveShape::ThroughMiddle;
  const bool middleAhead = midNorth * endNorth + midEast * endEast > 0.0;
  const bool endBeyondMiddle = (endNorth - midNorth) * endNorth + (endEast - midEast) * endEast > 0.0;
  return middleAhead && endBeyondMiddle ? CurveShape::Corner : CurveShape::Straight;
}

// On a scattering feed the middle point of a turn is a scattered corner point: a curve through it,
// or round it, leaves off the nose and arrives off the way out, and the nose swings at both ends
// (or the aircraft stands to turn it). The curve rounds the corner where the way in along the nose
// meets the way out onto the end point instead: it leaves along the nose and arrives along the way
// out (on the straight leg that runs on from the middle point through the end point, `ontoLeg`;
// without such a leg the way out is only a chord of the feed's path). Where the two ways do not
// meet ahead of both ends, or meet farther from the middle point than a scattered point lies,
// there is no such corner; but a corner anywhere on the leg before its middle point is where the
// aircraft turns onto the leg (setting off after a push-back, or onto a leg its nose is still far
// off). A helicopter's nose tells little of its way (it turns on the spot): its curve toward its
// control point is kept where it leaves within kCurveKinkRad of the nose and arrives that close to
// the leg after it.
constexpr double kCornerFromMiddleM = 20.0;
constexpr double kCurveKinkRad = 10.0 * kDeg;
constexpr double kCornerMinSine = 0.05;  // some 3 degrees: ways closer to parallel meet anywhere
// A corner on the leg before its middle point lies at most this far along the nose: a leg nearly
// behind the nose meets its line far off, and the aircraft would run off along its nose to turn.
constexpr double kSetOffCornerMostM = 40.0;
// Where there is no such corner and the curve would leave far off the nose (the aircraft sets off
// from a standstill onto a leg that begins where it stands, after a push-back or on a U-turn), the
// curve still leaves along the nose, toward a corner this share of the way to its end and at most
// this far ahead: an aeroplane does not turn on the spot.
constexpr double kNoseCornerShare = 0.2;
constexpr double kNoseCornerMostM = 10.0;
constexpr double kFarOffNoseRad = 45.0 * kDeg;

std::optional<std::pair<double, double>> tangentCorner(double heading, std::optional<std::pair<double, double>> kept,
                                                       double midNorth, double midEast, double endNorth, double endEast,
                                                       bool ontoLeg) {
  const double outLength = std::hypot(endNorth - midNorth, endEast - midEast);
  if (outLength <= 0.0) return std::nullopt;
  const double inNorth = std::cos(heading);
  const double inEast = std::sin(heading);
  const double outNorth = (endNorth - midNorth) / outLength;
  const double outEast = (endEast - midEast) / outLength;
  if (kept) {
    // The curve leaves toward its control point and arrives from it.
    const auto [controlNorth, controlEast] = *kept;
    const double leaves = wrapPi(std::atan2(controlEast, controlNorth) - heading);
    const double arrives =
        wrapPi(std::atan2(endEast - controlEast, endNorth - controlNorth) - std::atan2(outEast, outNorth));
    if (std::abs(leaves) <= kCurveKinkRad && (!ontoLeg || std::abs(arrives) <= kCurveKinkRad)) return std::nullopt;
  }
  const double det = inNorth * outEast - inEast * outNorth;
  if (std::abs(det) < kCornerMinSine) return std::nullopt;
  const double ahead = (endNorth * outEast - endEast * outNorth) / det;
  const double before = (inNorth * endEast - inEast * endNorth) / det;
  if (ahead <= 0.0 || before <= 0.0) return std::nullopt;
  const double cornerNorth = ahead * inNorth;
  const double cornerEast = ahead * inEast;
  const bool onLegBeforeMiddle = ontoLeg && before >= outLength && ahead <= kSetOffCornerMostM;
  if (!onLegBeforeMiddle && std::hypot(cornerNorth - midNorth, cornerEast - midEast) > kCornerFromMiddleM) {
    return std::nullopt;
  }
  return std::make_pair(cornerNorth, cornerEast);
}

// On a scattering feed the next point tells no way where it lies nearer to the aircraft than the
// feed's scatter (the way to it, or a curve through it, points anywhere), or where it lies far off
// the nose while the point after it lies back along it: a lone scattered point, not a turn (a
// taxiway does not jog aside and back within two lines). The point after it is driven to instead.
// Not for a helicopter: its nose, which it turns on the spot, tells nothing of its way.
constexpr double kLoneOffNoseRad = 40.0 * kDeg;
constexpr double kLoneBackOnNoseRad = 20.0 * kDeg;

bool tellsNoWay(const LiveAircraft& ac) {
  const TrackPoint& at = ac.trackPoints[0];
  const TrackPoint& next = ac.trackPoints[1];
  const TrackPoint& after = ac.trackPoints[2];
  // A point placed by the feed's noses tells its way (they carry it there from the line before).
  if (ac.noseLed && trueNose(next)) return false;
  if (pointDistanceNm(at, next) * kMetresPerNm < ac.groundScatterM) return true;
  const double nose = ac.position.heading;
  return std::abs(wrapPi(initialBearing(at.lat, at.lon, next.lat, next.lon) - nose)) > kLoneOffNoseRad &&
         std::abs(wrapPi(initialBearing(at.lat, at.lon, after.lat, after.lon) - nose)) <= kLoneBackOnNoseRad;
}

// On a scattering feed a turn's curve ends short of a sharp turn at its end point: ending on that
// corner point, the aircraft would reach it with the way on far off its nose and stand there to
// turn (or slide round it), the corner's own curve having no room to begin. It ends three fifths of
// the way along its last leg instead, and the next curve rounds the corner from there. A last leg
// within twice the scatter is the corner point's own scatter.
constexpr double kSharpTurnRad = 45.0 * kDeg;
constexpr double kShortOfSharpTurn = 0.6;

void endCurveShortOfSharpTurn(LiveAircraft& ac) {
  auto& track = ac.trackPoints;
  if (ac.groundScatterM <= 0.0 || isRotorcraft(ac) || track.size() < 4 || track[2].stationary != 0 ||
      track[3].stationary != 0) {
    return;
  }
  const TrackPoint& from = track[1];
  const TrackPoint& corner = track[2];
  const double in = initialBearing(from.lat, from.lon, corner.lat, corner.lon);
  const double out = initialBearing(corner.lat, corner.lon, track[3].lat, track[3].lon);
  const double lengthM = pointDistanceNm(from, corner) * kMetresPerNm;
  if (std::abs(wrapPi(out - in)) <= kSharpTurnRad || lengthM <= 2.0 * ac.groundScatterM) return;
  const kvo::LatLon at = destinationPoint(from.lat, from.lon, in, kShortOfSharpTurn * lengthM / kMetresPerNm * kFeetPerNm);
  const double speedKt = from.groundSpeedKt + kShortOfSharpTurn * (corner.groundSpeedKt - from.groundSpeedKt);
  const auto due = from.dueTick + static_cast<kvo::TickCount>(
                                      std::llround(kShortOfSharpTurn * static_cast<double>(corner.dueTick - from.dueTick)));
  track.insert(track.begin() + 2, groundPointAt(from, at, speedKt, due));
}

// Points from the feed that the aircraft taxies along (not a route of the program's own).
bool followsFeedOnGround(const LiveAircraft& ac) {
  return ac.phase == GroundPhase::Taxi && ac.standRouteState < 1;
}

bool movesWithSpeedChange(const TrackPoint& a, const TrackPoint& b) {
  return (a.groundSpeedKt > 0.0 || b.groundSpeedKt > 0.0) && std::abs(a.groundSpeedKt - b.groundSpeedKt) > 5.0 &&
         pointDistanceNm(a, b) * kMetresPerNm >= 100.0;
}

// Shapes the way to the next point: on a straight leg of a scattering feed the next point is put
// onto the leg; a turn becomes a curve, or a point half-way on a long slow leg before a sharp turn;
// a leg with a large change of speed gets a point half-way. Gives the way of a straight leg.
std::optional<double> shapeNextLeg(LiveAircraft& ac) {
  const bool feedLeg = followsFeedOnGround(ac);
  auto& track = ac.trackPoints;
  while (feedLeg && !isRotorcraft(ac) && ac.groundScatterM > 0.0 && track.size() >= 3 && track[1].stationary == 0 &&
         track[2].stationary == 0 && tellsNoWay(ac)) {
    track.erase(track.begin() + 1);
    // The way runs to the point after it now, not to the point dropped.
    ac.referenceHeading = initialBearing(track[0].lat, track[0].lon, track[1].lat, track[1].lon);
  }
  if (feedLeg && straightenNextPoint(ac, 0, ac.position.heading)) {
    const TrackPoint& first = ac.trackPoints[0];
    const TrackPoint& second = ac.trackPoints[1];
    const double way = initialBearing(first.lat, first.lon, second.lat, second.lon);
    splitForSpeedChange(ac);
    return way;
  }
  const std::size_t size = ac.trackPoints.size();
  if (size >= 3 && ac.trackPoints[2].stationary == 0) {
    // The turn runs onto the leg that follows, not toward the scatter of its first point.
    const bool ontoLeg = feedLeg && straightenNextPoint(ac, 1, std::nullopt);
    const double turn = std::abs(headingChangeAfterNextPoint(ac)) / kDeg;
    const TrackPoint& first = ac.trackPoints[0];
    const TrackPoint& second = ac.trackPoints[1];
    // On a scattering feed, where most of the turn lies at the aircraft itself (setting off far off
    // its nose), a point half-way would leave it rolling half the leg far off its nose: the curve
    // from here takes it.
    const double atAircraft =
        std::abs(wrapPi(initialBearing(first.lat, first.lon, second.lat, second.lon) - ac.position.heading)) / kDeg;
    const bool turnsHere = ac.groundScatterM > 0.0 && atAircraft > turn / 2.0;
    if (turn > 45.0 && !turnsHere && pointDistanceNm(first, second) > kMidPointMinNm &&
        first.groundSpeedKt <= 43.0 && std::max<kvo::TickCount>(second.dueTick - first.dueTick, 25) >= 600) {
      insertMidPoint(ac);
    } else if (turn > 3.0 && (turn <= 160.0 || (ac.groundScatterM > 0.0 && !isRotorcraft(ac)))) {
      // On a scattering feed an aeroplane turns about through the curve as well: split there, it
      // would roll straight back with its nose swinging round.
      if (sameSpot(first, ac.trackPoints[2])) {
        splitForSpeedChange(ac);
      } else {
        endCurveShortOfSharpTurn(ac);
        setUpCurve(ac, ontoLeg);
        ac.curveAngle = turn;
      }
    } else {
      splitForSpeedChange(ac);
    }
  } else if (size >= 3 || ac.standRouteState < 1) {
    splitForSpeedChange(ac);
  }
  return std::nullopt;
}

// Where the nose turns to (the segment bearing, which the step toward the next point set to the way
// to it) and whether it is turning, by the turn still to make:
// - along a curve the curve steers the nose;
// - on a straight leg of a scattering feed, the leg's way;
// - on a take-off roll, the roll's way off a standing or along a leg within the scatter of it: not
//   while still turning onto the runway, nor on the leg onto the line-up (its standing turns the
//   nose in place);
// - standing before a take-off roll (the line-up), the roll's way: the nose turns in place at its
//   base rate.
void aimNose(LiveAircraft& ac, bool moving, std::optional<double> straightLeg) {
  if (!moving) {
    if (ac.takeOffRoll == 0) return;
    const auto roll = rollHeading(ac, 1);
    ac.turning = roll ? 1 : 0;
    if (roll) {
      ac.turnRate = ac.turnRateBase;
      ac.referenceHeading = *roll;
    }
    return;
  }
  if (straightLeg) ac.referenceHeading = *straightLeg;
  if (ac.curve.isSet()) {
    ac.turning = 0;
    return;
  }
  const auto roll = rollHeading(ac, 0);
  const bool ontoStanding = ac.trackPoints.size() >= 3 && ac.trackPoints[2].stationary != 0;
  if (roll && (ac.trackPoints[0].stationary != 0 || ac.trackPoints[0].groundSpeedKt == 0.0 ||
               (!ontoStanding && std::abs(wrapPi(*roll - ac.referenceHeading)) <= kRollLegRad))) {
    ac.referenceHeading = *roll;
  }
  ac.turnDeltaDeg = std::abs(wrapPi(ac.referenceHeading - ac.position.heading)) / kDeg;
  ac.turning = ac.turnDeltaDeg > 3.0 ? 1 : 0;
}

void nextPosGroundSteps(LiveAircraft& ac) {
  switch (ac.phase) {
    case GroundPhase::PushingBack:
      if (!pushBackStep(ac) && ac.trackPoints.size() >= 2) retimeNextPoint(ac);
      return;
    case GroundPhase::Parked: {
      setRouteTolerances(ac);
      if (ac.departureRequested != 0) {
        const TrackPoint& last = ac.trackPoints.back();
        const double off = std::round(
            wrap180((initialBearing(ac.standLat, ac.standLon, last.lat, last.lon) - ac.standHeading) / kDeg));
        if (std::abs(off) < 90.0) {
          pullOutOfStand(ac);
        } else {
          startPushBack(ac);
        }
      }
      if (ac.trackPoints.size() >= 2) retimeNextPoint(ac);
      return;
    }
    default:
      break;
  }

  const bool moving = ac.trackPoints.at(1).stationary == 0;
  const std::optional<double> straightLeg = moving ? shapeNextLeg(ac) : std::nullopt;
  aimNose(ac, moving, straightLeg);

  if (ac.trackPoints.back().stationary != 0 && ac.phase == GroundPhase::Taxi && g_parkAirportLoaded.load()) {
    const bool justLeftStand = ac.previousPhase == GroundPhase::Parked ||
                               ac.previousPhase == GroundPhase::PushingBack ||
                               ac.previousPhase == GroundPhase::PushedBack;
    if (ac.towed != 0 || !justLeftStand) {
      if (ac.standRouteState < 1) {
        if (ac.trackPoints.at(1).groundSpeedKt <= 5.0 &&
            distanceFromAircraftNm(ac, ac.trackPoints.back()) <= kParkTriggerNm) {
          try2Park(ac, false);
        }
      } else {
        try2Park(ac, ac.landed != 0);
      }
    }
  }
  if (ac.trackPoints.size() >= 2) retimeNextPoint(ac);
}

}  // namespace

namespace {

constexpr double kMaxSlipRad = 25.0 * kDeg;
constexpr double kSlipCatchUpTicks = 30.0;
constexpr kvo::TickCount kSlideTicks = 200;  // a leg at least this long ahead is a slide, not a scattered bend
// Along a curve an aircraft slows where its nose is more than kSlowOffRad off its way, and stands
// where it is kWaitOffRad off or more; behind its schedule it rolls up to kMaxCatchUpPace times its
// pace.
constexpr double kWaitOffRad = 40.0 * kDeg;
constexpr double kMaxCatchUpPace = 1.5;
// A helicopter catches up with its feed at up to twice its pace: hover-taxiing at 8 kt it turns
// round on the spot in some 6 s, and at half again its pace it was still behind where its feed
// stopped.
constexpr double kMaxRotorCatchUpPace = 2.0;
// An aircraft this near a point stands at it.
constexpr double kAtPointM = 1.0;

}  // namespace

// Rolling along a curve, an aircraft does not slide sideways for long: where it reaches a sharp
// corner at walking pace, the nose would lag the curve's way at its turn rate for seconds. On a leg
// of kSlideTicks or more it catches up with what lies beyond kMaxSlipRad within a fraction of a
// second. A shorter leg keeps the turn rate: there the bend is mostly a scattered point's, and the
// next leg bends back. Only the way the aircraft moves is caught up with: a stand's heading, or a
// straight leg's bearing the nose turns onto, is taken at the turn rate.
double kvo::mv::slipCatchUp(const LiveAircraft& ac, double way) {
  const double slip = std::abs(wrapPi(way - ac.position.heading));
  if (slip <= kMaxSlipRad || ac.trackPoints.empty() || ac.trackPoints.front().dueTick - nowTick() < kSlideTicks) {
    return 0.0;
  }
  return (slip - kMaxSlipRad) / kSlipCatchUpTicks;
}

// How far along its curve an aircraft rolls this tick. Where its nose is far off the curve's way
// (a sharp junction, or setting off after a push-back with its way far off the nose) it slows, and
// waits where the nose is farther off still, while the nose turns at its bounded rate: rolling on,
// it would slide sideways. Behind its schedule it rolls faster, up to kMaxCatchUpPace times its
// pace, to reach the curve's end by its due tick. Only on a scattering feed, whose turn points are
// scattered corners; a push-back's turn keeps its own pace.
double kvo::mv::curvePace(const LiveAircraft& ac) {
  if (ac.phase == GroundPhase::PushingBack) return evenCurvePace(ac);
  // A helicopter's curve runs evenly along it (its step is timed to catch up already), but no
  // faster than half again its step where the curve doubles back and its parameter stands still.
  if (isRotorcraft(ac)) return std::min(evenCurvePace(ac), kMaxCatchUpPace * ac.curveTStep);
  // An exact feed's curve is taken at its even step: its corners are the feed's own.
  if (ac.trackPoints.empty() || ac.groundScatterM <= 0.0) return ac.curveTStep;
  kvo::LatLon at;
  double way = 0.0;
  if (!interpolateCurve(ac.curve, at, way, ac.curveT)) return ac.curveTStep;
  const double off = std::abs(wrapPi(way - ac.position.heading));
  const double share = std::clamp((kWaitOffRad - off) / (kWaitOffRad - kSlowOffRad), 0.0, 1.0);
  const double ticksLeft = static_cast<double>(std::max<kvo::TickCount>(ac.trackPoints.front().dueTick - nowTick(), 1));
  const double due = std::clamp((1.0 - ac.curveT) / ticksLeft, ac.curveTStep, kMaxCatchUpPace * ac.curveTStep);
  return share * due;
}

// A copy of the template point at another place, moving on the ground.
TrackPoint kvo::mv::groundPointAt(const TrackPoint& templ, kvo::LatLon at, double speedKt, kvo::TickCount due) {
  TrackPoint p = templ;
  p.lat = at.lat;
  p.lon = at.lon;
  p.groundSpeedKt = speedKt;
  p.tasKt = speedKt;
  p.verticalSpeed = 0.0;
  p.dueTick = due;
  p.airborne = 0;
  p.stationary = 0;
  p.roll.reset();
  p.trueHeading.reset();
  p.trueHeadingGiven = 0;
  return p;
}

void nextPosGround(LiveAircraft& ac) {
  try {
    nextPosGroundSteps(ac);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: {}, {}, sz:{}", "nextPosGround", e.what(), kvo::aircraftText(ac), ac.trackPoints.size()));
    throw;
  }
}

void retimeNextPoint(LiveAircraft& ac) {
  const TrackPoint& first = ac.trackPoints.at(0);
  const TrackPoint& second = ac.trackPoints.at(1);
  const kvo::TickCount now = nowTick();
  if (second.stationary != 0) {
    const kvo::TickCount gap = std::max<kvo::TickCount>(second.dueTick - first.dueTick, 25);
    const kvo::TickCount wait = std::max<kvo::TickCount>(first.dueTick - now + gap, 25);
    clampDueTick(ac, wait);
    return;
  }
  ac.turnRate = ac.turnRateBase;
  // A helicopter that turned on the spot still stands short of the point just due: its leg runs
  // from where it stands, not from that point (timed from there, it dashed 40 m at 50 kt).
  const bool rotor = isRotorcraft(ac);
  const bool shortOfPoint = rotor && distanceFromAircraftNm(ac, first) * kMetresPerNm > kAtPointM;
  const double lengthNm = rotor ? distanceFromAircraftNm(ac, second) : pointDistanceNm(first, second);
  const double speedKt = segmentSpeed(ac);
  std::int32_t n = travelTicks(lengthNm, speedKt);
  // A helicopter goes from point to point a longer way than the feed's where the feed scatters, and
  // stands while it turns on the spot: at the feed's speed it falls behind and crawls on long after
  // its feed has stopped. It reaches each point by its due tick, catching up no faster than
  // kMaxRotorCatchUpPace: set down behind a line whose due tick had passed, it jumped there.
  if (rotor && (ac.groundScatterM > 0.0 || shortOfPoint)) {
    const std::int32_t fastest = travelTicks(lengthNm, kMaxRotorCatchUpPace * speedKt);
    n = static_cast<std::int32_t>(std::clamp<kvo::TickCount>(second.dueTick - now, fastest, n));
  }
  if (ac.curve.isSet() || ac.turning != 0) {
    const double angle = ac.curve.isSet() ? ac.curveAngle : ac.turnDeltaDeg;
    const double k = std::max(std::round(angle / ac.turnRate / 100.0), 1.0);
    if (angle > 0.0 && lengthNm > 0.0 && std::isfinite(k)) {
      const double r = n / k;
      if (angle <= 45.0) {
        if (r >= 1.2) {
          const double z = std::min({r, r * 10.0 / angle, r * 30.0 * 0.0005399568034557236 / lengthNm});
          if (z > 0.0) ac.turnRate /= z;
        } else if (r > 0.0) {
          ac.turnRate /= r;
        }
      } else {
        ac.turnRate *= std::min(r, std::min(angle, 90.0) / 30.0);
        if (angle >= 90.0) {
          ac.earlyTolerance = std::max(ac.earlyTolerance, 2000);
          ac.lateTolerance = std::max(ac.lateTolerance, 2000);
        }
      }
    }
  }
  clampDueTick(ac, n);
}

void insertMidPoint(LiveAircraft& ac) {
  const TrackPoint& first = ac.trackPoints.at(0);
  const TrackPoint& second = ac.trackPoints.at(1);
  TrackPoint mid = first;
  mid.lat = (first.lat + second.lat) / 2.0;
  mid.lon = wrap180(first.lon + wrap180(second.lon - first.lon) / 2.0);
  mid.groundSpeedKt = (first.groundSpeedKt + second.groundSpeedKt) / 2.0;
  mid.altFt = (first.altFt + second.altFt) / 2.0;
  mid.dueTick = static_cast<kvo::TickCount>(std::llround((static_cast<double>(first.dueTick) + second.dueTick) / 2.0));
  mid.stationary = 0;
  mid.airborne = mid.altFt > 0.0 ? 1 : 0;
  if (mid.airborne == 0) mid.altFt = 0.0;
  ac.trackPoints.insert(ac.trackPoints.begin() + 1, mid);
}

void splitForSpeedChange(LiveAircraft& ac) {
  if (movesWithSpeedChange(ac.trackPoints.at(0), ac.trackPoints.at(1))) insertMidPoint(ac);
}

void setUpCurve(LiveAircraft& ac, bool ontoLeg) {
  TrackPoint& first = ac.trackPoints.at(0);
  const TrackPoint& second = ac.trackPoints.at(1);
  TrackPoint& third = ac.trackPoints.at(2);
  if (third.groundSpeedKt == 0.0) third.groundSpeedKt = (first.groundSpeedKt + second.groundSpeedKt) / 2.0;
  const bool pushBack = isCurveStartPhase(ac.phase);
  kvo::CurveRecord curve;
  curve.startLat = ac.position.lat;
  curve.startLon = ac.position.lon;
  double midNorth = 0.0;
  double midEast = 0.0;
  toLocalMetres(curve.startLat, curve.startLon, second.lat, second.lon, midNorth, midEast);
  toLocalMetres(curve.startLat, curve.startLon, third.lat, third.lon, curve.endNorth, curve.endEast);
  // On a scattering feed the middle point is a scattered corner of the turn: the curve through it
  // swings out before it (the nose first turns the wrong way) and on past it; an aeroplane's curve
  // rounds it.
  const bool rotor = isRotorcraft(ac);
  CurveShape shape = pushBack ? CurveShape::Corner : curveShape(midNorth, midEast, curve.endNorth, curve.endEast);
  if (shape == CurveShape::ThroughMiddle && ac.groundScatterM > 0.0 && !rotor) shape = CurveShape::Corner;
  // The curve's control point: for the smooth curve through the middle point, the middle point for
  // a corner there, half-way to the end for a straight run.
  const std::pair<double, double> shapeControl =
      shape == CurveShape::ThroughMiddle ? std::pair{curveControl(midNorth, curve.endNorth), curveControl(midEast, curve.endEast)}
      : shape == CurveShape::Corner      ? std::pair{midNorth, midEast}
                                         : std::pair{curve.endNorth / 2.0, curve.endEast / 2.0};
  auto corner = pushBack || shape == CurveShape::Straight || ac.groundScatterM <= 0.0
                    ? std::nullopt
                    : tangentCorner(ac.position.heading, rotor ? std::optional{shapeControl} : std::nullopt,
                                    midNorth, midEast, curve.endNorth, curve.endEast, ontoLeg);
  if (!corner && !pushBack && ac.groundScatterM > 0.0) {
    const auto [controlNorth, controlEast] = shape == CurveShape::ThroughMiddle ? std::pair{midNorth, midEast} : shapeControl;
    if (std::abs(wrapPi(std::atan2(controlEast, controlNorth) - ac.position.heading)) > kFarOffNoseRad) {
      const double along = std::min(std::hypot(curve.endNorth, curve.endEast) * kNoseCornerShare, kNoseCornerMostM);
      corner = std::pair{along * std::cos(ac.position.heading), along * std::sin(ac.position.heading)};
    }
  }
  if (shape == CurveShape::ThroughMiddle && !corner) {
    curve.midNorth = midNorth;
    curve.midEast = midEast;
  } else {
    // The curve's record holds the point it passes half-way, from its control point: the corner
    // along the nose where there is one.
    const auto [controlNorth, controlEast] = corner ? *corner : shapeControl;
    curve.midNorth = curveMiddle(controlNorth, curve.endNorth);
    curve.midEast = curveMiddle(controlEast, curve.endEast);
  }
  ac.curve = curve;
  ac.curveT = 0.0;
  ac.trackPoints.erase(ac.trackPoints.begin() + 1);
  if (pushBack) {
    ac.curveTStep = pushBackCurveStep(ac);
    ac.curveAngle = 90.0;
  } else {
    ac.curveTStep = 1.0 / ticksToSecondPoint(ac);
  }
}

// Standing where it is until the tick, as the second point: a move from a standstill starts when
// the feed's move started, not when the line showing it arrives.
void standUntil(LiveAircraft& ac, kvo::TickCount start, double speedKt) {
  if (start <= nowTick() + kvo::kMinTravelTicks) return;
  TrackPoint wait = groundPointAt(ac.trackPoints.front(), {ac.position.lat, ac.position.lon}, speedKt, start);
  wait.stationary = 1;
  ac.trackPoints.insert(ac.trackPoints.begin() + 1, wait);
}

std::optional<kvo::LatLon> kvo::mv::feedStoodAt(const LiveAircraft& ac, kvo::TickCount before) {
  double lat = 0.0;
  double lon = 0.0;
  int count = 0;
  bool moved = false;
  for (const TrackPoint& line : ac.scatterLines) {
    if (line.dueTick >= before) break;
    if (line.groundSpeedKt >= kPushBackStandsKt) {
      moved = true;
      continue;
    }
    if (std::exchange(moved, false)) {
      lat = 0.0;
      lon = 0.0;
      count = 0;
    }
    lat += line.lat;
    lon += line.lon;
    ++count;
  }
  if (count == 0) return std::nullopt;
  return kvo::LatLon{lat / count, lon / count};
}

void pullOutOfStand(LiveAircraft& ac) {
  ac.standRouteState = 0;
  ac.departureRequested = 0;
  ac.pushBackFeedLines.clear();  // held for a push-back (watchStandLines), which this is not
  const kvo::LatLon ahead =
      destinationPoint(ac.standLat, ac.standLon, ac.standHeading, 2.0 * ac.halfSpanNm * kFeetPerNm);
  // It sets off when the feed's move began, as the line that showed it leaving tells: reckoned from
  // where the feed stood before it, which a scattering feed may put metres off the stand.
  const TrackPoint& shown = ac.trackPoints.back();
  const kvo::LatLon from = feedStoodAt(ac, shown.dueTick).value_or(kvo::LatLon{ac.standLat, ac.standLon});
  const kvo::TickCount start =
      shown.stationary != 0 ? nowTick()
                            : std::max(nowTick(), setOffTick(shown, from.lat, from.lon, setOffSpeedKt(ac, shown)));
  TrackPoint& first = ac.trackPoints.at(0);
  first.groundSpeedKt = ac.standSpeedKt;
  const double dist = distanceNm(ac.position.lat, ac.position.lon, ahead.lat, ahead.lon);
  TrackPoint out = groundPointAt(first, ahead, ac.standSpeedKt, start + travelTicks(dist, ac.standSpeedKt));
  out.trackDeg = ac.standHeading / kDeg;
  ac.trackPoints.resize(1);
  ac.trackPoints.push_back(out);
  standUntil(ac, start, ac.standSpeedKt);
  setPhase(ac, GroundPhase::Taxi);
  ac.referenceHeading = ac.position.heading;
  setLights(ac, {1, 1, 0, 1, 0, 1, 0});
  sendEvent(ac, kvo::kEventEngineAutoStart, 0);
  setThrottle(ac, 0);
  gf_setFlaps(ac, 1);
  if (LOG.value()) {
    const kvo::Stand* stand = findParkStand(ac.standId);
    logLine(fmt::format("{:8}: {:8} pulling out", stand != nullptr ? stand->name : std::string(), ac.callsign));
  }
}

void drive2Stand(LiveAircraft& ac, double standLat, double standLon, double standHeading) {
  if (ac.trackPoints.empty()) {
    logArrowLine(fmt::format("{} empty sz?", "drive2Stand"));
    return;
  }
  TrackPoint& last = ac.trackPoints.back();
  // A helicopter sets down on its pad from whatever way it comes, nose first.
  const double wayIn = initialBearing(last.lat, last.lon, standLat, standLon);
  const std::int32_t n =
      std::max(travelTicks(distanceNm(last.lat, last.lon, standLat, standLon), ac.standSpeedKt), 100);
  last.groundSpeedKt = ac.standSpeedKt;
  const TrackPoint& first = ac.trackPoints.front();
  const bool there = sameSpot(last.lat, last.lon, standLat, standLon);
  // A helicopter whose pad lies far off its nose first turns toward it where it is, as it does
  // taxiing: a scattering feed's last lines may leave it pointing anywhere.
  const double turnRad = wrapPi(wayIn - ac.position.heading);
  const auto turnTicks =
      isRotorcraft(ac) && ac.groundScatterM > 0.0 && !there && std::abs(turnRad) > kTurnOnTheSpotRad
          ? static_cast<kvo::TickCount>(onTheSpotTurnTicks(ac, turnRad))
          : kvo::TickCount{0};
  TrackPoint turn = last;
  turn.groundSpeedKt = 0.0;
  turn.stationary = 1;
  turn.dueTick = first.dueTick + turnTicks;
  TrackPoint a;
  a.lat = standLat;
  a.lon = standLon;
  a.altFt = ac.position.altFt;
  a.groundSpeedKt = ac.standSpeedKt;
  a.tasKt = ac.standSpeedKt;
  a.trackDeg = standHeading / kDeg;
  a.verticalSpeed = 0.0;
  a.dueTick = first.dueTick + turnTicks + n;
  a.airborne = 0;
  a.stationary = there ? 1 : 0;
  a.trueHeadingGiven = first.trueHeadingGiven;
  a.roll = ac.position.bank;
  TrackPoint b = a;
  b.groundSpeedKt = 0.0;
  b.tasKt = 0.0;
  b.stationary = 1;
  b.dueTick = first.dueTick + turnTicks + 50 + n;
  if (turnTicks > 0) ac.trackPoints.push_back(turn);
  ac.trackPoints.push_back(a);
  ac.trackPoints.push_back(b);
  ac.referenceHeading = isRotorcraft(ac) ? wayIn : standHeading;
  if (ac.standRouteState >= 1) {
    ac.standRouteState = 0;
    setRouteTolerances(ac);
  }
}

void groundConfiguration(LiveAircraft& ac) {
  const TrackPoint& first = ac.trackPoints.at(0);
  const TrackPoint& second = ac.trackPoints.at(1);
  const bool rotor = isRotorcraft(ac);
  if (ac.phase == GroundPhase::Parked || ac.phase == GroundPhase::Flying) {
    setPhase(ac, GroundPhase::Taxi);
  } else if (ac.takeOffRoll != 0) {
    const double g1 = first.groundSpeedKt;
    const double g2 = second.groundSpeedKt;
    if (rotor || g1 >= 25.0 || g2 >= 30.0) {
      setThrottle(ac, 4);
    } else if (g1 >= 20.0 || g2 >= 25.0) {
      setThrottle(ac, 2);
    } else if (g1 < 15.0 && g2 < 20.0) {
      setThrottle(ac, 0);
    } else {
      setThrottle(ac, 1);
    }
  } else if (ac.landingRoll != 0) {
    landingRollConfiguration(ac);
  } else {
    setThrottle(ac, rotor ? 4 : 0);
  }
  if (ac.landingRoll == 0 && ac.takeOffRoll == 0) decayTolerances(ac);
  if (ac.landingStage == 0 && ac.phase != GroundPhase::TakeOff) {
    ac.position.pitch = ac.staticPitch;
    ac.pitchStep = 0.0;
    ac.position.bank = 0.0;
    ac.bankStep = 0.0;
  }
  const std::int32_t ticks = ticksToSecondPoint(ac);
  if (ac.curve.isSet() && ac.phase != GroundPhase::PushingBack) ac.curveTStep = 1.0 / ticks;
  ac.displayTasKt = ac.phase == GroundPhase::PushingBack ? -second.groundSpeedKt : second.groundSpeedKt;

  if (ac.takeOffRoll == 0 || ac.phase == GroundPhase::TakeOff || first.groundSpeedKt < 43.0) return;
  const auto later = ac.trackPoints.begin() + 1;
  const bool someSlow = std::any_of(later, ac.trackPoints.end(), [](const TrackPoint& p) { return p.verticalSpeed <= 256.0; });
  if (someSlow) {
    const bool allAirborne = std::all_of(later, ac.trackPoints.end(), [](const TrackPoint& p) { return p.airborne != 0; });
    if (!reachesTakeOffSpeed(ac) || !allAirborne) return;
    ac.verticalStep = ac.climbStep;
  } else {
    const bool someOnGround = std::any_of(later, ac.trackPoints.end(), [](const TrackPoint& p) { return p.airborne == 0; });
    if (someOnGround) {
      ac.verticalStep = ac.climbStep;
    } else {
      ac.verticalStep = std::max(second.altFt - ac.position.altFt, 0.1) / ticks;
    }
  }
  startTakeOff(ac);
}

void landingRollConfiguration(LiveAircraft& ac) {
  const double change = std::abs(wrapPi(ac.position.heading - ac.runwayHeading)) / kDeg;
  const bool light = ac.sizeCategory == Light;
  if (change >= 15.0) {
    // Turned off the runway.
    gf_setFlaps(ac, 0);
    ac.landingRoll = 0;
    ac.runwayHeading = 0.0;
    setThrottle(ac, isRotorcraft(ac) ? 4 : 0);
    sendEvent(ac, kvo::kEventSpoilersSet, 0);
    if (!light) setSpoilersAndThrottles(ac.objectId, false, false);
    setLights(ac, {1, 1, 0, 1, 0, 1, 1});
    return;
  }
  if (ac.trackPoints.at(0).groundSpeedKt <= 90.0) {
    sendEvent(ac, kvo::kEventSpoilersSet, 0);
    if (!light) setSpoilersAndThrottles(ac.objectId, false, false);
    gf_setFlaps(ac, 1);
  }
}
