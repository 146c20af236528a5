// Ground movement: leaving a stand (pull-out or push-back), taxiing with curves and extra points
// at speed changes, the last leg onto a stand, the landing roll, the departure run and the
// take-off up to the moment the aircraft flies.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "core/log.h"
#include "core/parameters.h"
#include "links/sim_ids.h"
#include "links/sim_queues.h"
#include "traffic/park_airports.h"
#include "traffic/parking.h"
#include "traffic/stand_search.h"
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

void sendEvent(const LiveAircraft& ac, std::uint32_t eventId, std::uint32_t data) {
  queueClientEvent(kvo::ClientEventRequest{ac.objectId, eventId, data});
}

bool isCurveStartPhase(GroundPhase phase) { return phase == GroundPhase::PushingBack; }

// The turn step of a push-back's 90 degree curve: 1 / (90 / turn rate / 100, rounded).
double pushBackCurveStep(const LiveAircraft& ac) {
  const double ticks = std::round(90.0 / ac.turnRate / 100.0);
  return (std::isfinite(ticks) && ticks >= 1.0) ? 1.0 / ticks : 1.0;
}

// How a curve from the aircraft runs through the middle point to the end point. The smooth curve
// through the middle point turns back on itself when the aircraft is already near that point (or
// the two legs differ much in length): it would roll backwards first. Such a curve rounds the
// corner at the middle point instead, which always runs forwards; when the middle point does not
// lie between the aircraft and the end, it runs straight to the end.
enum class CurveShape { ThroughMiddle, Corner, Straight };

CurveShape curveShape(double midNorth, double midEast, double endNorth, double endEast) {
  const double controlNorth = 2.0 * midNorth - endNorth / 2.0;
  const double controlEast = 2.0 * midEast - endEast / 2.0;
  const bool startsForward = controlNorth * midNorth + controlEast * midEast > 0.0;
  const bool endsForward =
      (endNorth - controlNorth) * (endNorth - midNorth) + (endEast - controlEast) * (endEast - midEast) > 0.0;
  if (startsForward && endsForward) return CurveShape::ThroughMiddle;
  const bool middleAhead = midNorth * endNorth + midEast * endEast > 0.0;
  const bool endBeyondMiddle = (endNorth - midNorth) * endNorth + (endEast - midEast) * endEast > 0.0;
  return middleAhead && endBeyondMiddle ? CurveShape::Corner : CurveShape::Straight;
}

// A real feed's positions on the ground scatter by several metres from line to line. Taken one by
// one, every scattered point would be a turn of its own and the nose would swing from point to
// point. Points scattered about a straight line are a straight leg: each within the feed's noise
// of it (one now and then up to twice that, never two in a row) and in order along it.
constexpr double kFeedNoiseM = 10.0;
// A bend's points lie on one side of the line, more than their scatter explains: they are a turn.
// Points that scatter less than this are exact, as a smooth feed gives them: they are followed
// as they are.
constexpr double kScatterMinM = 1.0;
// A straight leg runs at most this far off the nose: beyond it a turn has begun, however close
// its points lie (a slow corner's points lie close together).
constexpr double kLegOffNoseRad = 10.0 * kDeg;
// Put onto its leg, a point closer than this to the one before is dropped: the leg runs on to the next.
constexpr double kLegStepMinM = 1.0;

// Whether the points between the ends of a leg, by their sides of it (metres, right above 0),
// scatter about it as a noisy feed's do and show no bend. The scatter is measured by how each
// side differs from the mean of its neighbours' (up to the leg's end, not from its start, which
// may already lie on a leg before), less the part they share: a tilt of the leg changes none of
// it and a steady bend all of them alike, so an exact feed's curve shows no scatter. The end point
// scatters as much as the others and tilts the whole leg.
bool scatteredAboutLine(const std::vector<double>& sides) {
  if (sides.size() < 3) return false;
  std::vector<double> kinks;
  double sum = sides.front();
  for (std::size_t j = 1; j < sides.size(); ++j) {
    sum += sides[j];
    const double next = j + 1 < sides.size() ? sides[j + 1] : 0.0;
    kinks.push_back(sides[j - 1] - 2.0 * sides[j] + next);
  }
  double kinkMean = 0.0;
  for (const double k : kinks) kinkMean += k / static_cast<double>(kinks.size());
  double squares = 0.0;
  for (const double k : kinks) squares += (k - kinkMean) * (k - kinkMean);
  const double m = static_cast<double>(sides.size());
  const double scatter = std::sqrt(squares / (6.0 * (m - 2.0)));
  return scatter >= kScatterMinM && std::abs(sum / m) <= 2.5 * scatter * std::sqrt(1.0 / m + 0.25);
}

// The farthest queued point that ends a straight leg from point `from`; 0 when none beyond the
// next point does. With a nose given, the leg also keeps to it.
std::size_t straightLegEnd(const LiveAircraft& ac, std::size_t from, std::optional<double> nose) {
  const auto& track = ac.trackPoints;
  const TrackPoint& origin = track[from];
  std::size_t end = 0;
  std::vector<double> sides;
  for (std::size_t k = from + 2; k < track.size(); ++k) {
    const TrackPoint& last = track[k];
    if (last.stationary != 0 || last.airborne != 0) break;
    double endNorth = 0.0;
    double endEast = 0.0;
    toLocalMetres(origin.lat, origin.lon, last.lat, last.lon, endNorth, endEast);
    const double length = std::hypot(endNorth, endEast);
    if (length <= kFeedNoiseM) continue;
    const double unitNorth = endNorth / length;
    const double unitEast = endEast / length;
    double reached = 0.0;
    bool outside = false;
    bool scattered = true;
    sides.clear();
    for (std::size_t j = from + 1; j < k && scattered; ++j) {
      double north = 0.0;
      double east = 0.0;
      toLocalMetres(origin.lat, origin.lon, track[j].lat, track[j].lon, north, east);
      const double along = north * unitNorth + east * unitEast;
      const double side = north * unitEast - east * unitNorth;
      const bool out = std::abs(side) > kFeedNoiseM;
      scattered = track[j].stationary == 0 && std::abs(side) <= 2.0 * kFeedNoiseM && !(out && outside) &&
                  along >= reached - kFeedNoiseM && along <= length + kFeedNoiseM;
      outside = out;
      reached = std::max(reached, along);
      sides.push_back(side);
    }
    if (!scattered || length < reached - kFeedNoiseM) break;
    if (!scatteredAboutLine(sides)) continue;
    if (nose && std::abs(wrapPi(std::atan2(endEast, endNorth) - *nose)) > kLegOffNoseRad) continue;
    end = k;
  }
  return end;
}

// Puts the point after point `from` onto the straight leg that runs from there beyond it; false
// when it ends no leg but a turn.
bool straightenNextPoint(LiveAircraft& ac, std::size_t from, std::optional<double> nose) {
  auto& track = ac.trackPoints;
  for (;;) {
    const std::size_t end = straightLegEnd(ac, from, nose);
    if (end == 0) return false;
    const TrackPoint& origin = track[from];
    TrackPoint& next = track[from + 1];
    double endNorth = 0.0;
    double endEast = 0.0;
    double north = 0.0;
    double east = 0.0;
    toLocalMetres(origin.lat, origin.lon, track[end].lat, track[end].lon, endNorth, endEast);
    toLocalMetres(origin.lat, origin.lon, next.lat, next.lon, north, east);
    const double along = (north * endNorth + east * endEast) / std::hypot(endNorth, endEast);
    if (along < kLegStepMinM) {
      track.erase(track.begin() + static_cast<std::ptrdiff_t>(from) + 1);
      continue;
    }
    const kvo::LatLon on = destinationPoint(origin.lat, origin.lon, std::atan2(endEast, endNorth),
                                            along / kMetresPerNm * kFeetPerNm);
    next.lat = on.lat;
    next.lon = on.lon;
    return true;
  }
}

// Points from the feed that the aircraft taxies along (not a route of the program's own).
bool followsFeedOnGround(const LiveAircraft& ac) {
  return ac.phase == GroundPhase::Taxi && ac.standRouteState < 1;
}

bool movesWithSpeedChange(const TrackPoint& a, const TrackPoint& b) {
  return (a.groundSpeedKt > 0.0 || b.groundSpeedKt > 0.0) && std::abs(a.groundSpeedKt - b.groundSpeedKt) > 5.0 &&
         pointDistanceNm(a, b) * kMetresPerNm >= 100.0;
}

// The tug often pushes straight for a while before it turns, and the push-back begins as soon as
// the feed shows the aircraft leaving: at the turn the feed may not have shown the side yet. The
// push-back then goes on straight back until the feed shows the turn, or the feed's push stops
// without one, at most as long as the feed runs ahead.
bool waitsForFeedTurn(const LiveAircraft& ac) {
  if (ac.pushBackTurn != 0 || ac.pushBackFeedStopped != 0 || STRAIGHT_PBS_ONLY.value() || ac.trackPoints.size() < 3) {
    return false;
  }
  return ac.pushBackWaitSince == 0 || nowTick() - ac.pushBackWaitSince < kvo::kFeedDelayTicks;
}

// A second more straight back, as far as the feed's push has gone and at most at the push's pace,
// the turn and its ends moved back with it; where the feed has not gone on, it stands that second.
// Standing at the turn all along would show the push-back ending there and then rolling backwards.
void waitForFeedTurn(LiveAircraft& ac) {
  constexpr kvo::TickCount kStepTicks = 100;
  const kvo::TickCount now = nowTick();
  if (ac.pushBackWaitSince == 0) ac.pushBackWaitSince = now;
  TrackPoint step = ac.trackPoints.front();
  const double stepNm = std::clamp(ac.pushBackFeedReachNm - distanceNm(ac.standLat, ac.standLon, step.lat, step.lon),
                                   0.0, ac.standSpeedKt * static_cast<double>(kStepTicks) / kvo::kTicksPerHour);
  const double back = wrap2Pi(ac.standHeading + kPi);
  auto moveBack = [&](TrackPoint& p) {
    const kvo::LatLon at = destinationPoint(p.lat, p.lon, back, stepNm * kFeetPerNm);
    p.lat = at.lat;
    p.lon = at.lon;
  };
  moveBack(step);
  const kvo::TickCount delay = std::max<kvo::TickCount>(now + kStepTicks - step.dueTick, 0);
  for (std::size_t i = 1; i < ac.trackPoints.size(); ++i) {
    moveBack(ac.trackPoints[i]);
    ac.trackPoints[i].dueTick += delay;
  }
  moveBack(ac.pendingSidePoint);
  ac.pendingSidePoint.dueTick += delay;
  step.dueTick = now + kStepTicks;
  step.stationary = stepNm > 0.0 ? 0 : 1;  // standing, it keeps its speed: the push goes on at its pace
  ac.trackPoints.insert(ac.trackPoints.begin() + 1, step);
  ac.pushBackCounter = 2;
}

// A copy of the template point at another place, moving on the ground.
TrackPoint groundPointAt(const TrackPoint& templ, kvo::LatLon at, double speedKt, kvo::TickCount due) {
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

void nextPosGroundSteps(LiveAircraft& ac) {
  switch (ac.phase) {
    case GroundPhase::PushingBack:
      pushBackStep(ac);
      if (ac.trackPoints.size() >= 2) retimeNextPoint(ac);
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

  if (ac.trackPoints.at(1).stationary == 0) {
    const bool feedLeg = followsFeedOnGround(ac);
    const bool straight = feedLeg && straightenNextPoint(ac, 0, ac.position.heading);
    const std::size_t size = ac.trackPoints.size();
    if (straight) {
      const TrackPoint& first = ac.trackPoints[0];
      const TrackPoint& second = ac.trackPoints[1];
      ac.referenceHeading = initialBearing(first.lat, first.lon, second.lat, second.lon);
      splitForSpeedChange(ac);
    } else if (size >= 3 && ac.trackPoints[2].stationary == 0) {
      // The turn runs onto the leg that follows, not toward the scatter of its first point.
      if (feedLeg) straightenNextPoint(ac, 1, std::nullopt);
      const double turn = std::abs(headingChangeAfterNextPoint(ac)) / kDeg;
      const TrackPoint& first = ac.trackPoints[0];
      const TrackPoint& second = ac.trackPoints[1];
      if (turn > 45.0 && pointDistanceNm(first, second) > kMidPointMinNm && first.groundSpeedKt <= 43.0 &&
          std::max<kvo::TickCount>(second.dueTick - first.dueTick, 25) >= 600) {
        insertMidPoint(ac);
      } else if (turn > 3.0 && turn <= 160.0) {
        if (sameSpot(first, ac.trackPoints[2])) {
          splitForSpeedChange(ac);
        } else {
          setUpCurve(ac);
          ac.curveAngle = turn;
        }
      } else {
        splitForSpeedChange(ac);
      }
    } else if (size >= 3) {
      splitForSpeedChange(ac);
    } else if (ac.standRouteState < 1) {
      splitForSpeedChange(ac);
    }
    if (!ac.curve.isSet()) {
      ac.turnDeltaDeg = std::abs(wrapPi(ac.referenceHeading - ac.position.heading)) / kDeg;
      ac.turning = ac.turnDeltaDeg > 3.0 ? 1 : 0;
    } else {
      ac.turning = 0;
    }
  }

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
  const double lengthNm = pointDistanceNm(first, second);
  const std::int32_t n = travelTicks(lengthNm, segmentSpeed(ac));
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

void setUpCurve(LiveAircraft& ac) {
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
  const CurveShape shape = pushBack ? CurveShape::Corner : curveShape(midNorth, midEast, curve.endNorth, curve.endEast);
  if (shape == CurveShape::ThroughMiddle) {
    curve.midNorth = midNorth;
    curve.midEast = midEast;
  } else {
    // The curve's record holds the point it passes half-way; with the control point c that is
    // (2 c + end) / 4.
    const double controlNorth = shape == CurveShape::Corner ? midNorth : curve.endNorth / 2.0;
    const double controlEast = shape == CurveShape::Corner ? midEast : curve.endEast / 2.0;
    curve.midNorth = (2.0 * controlNorth + curve.endNorth) / 4.0;
    curve.midEast = (2.0 * controlEast + curve.endEast) / 4.0;
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

void pullOutOfStand(LiveAircraft& ac) {
  ac.standRouteState = 0;
  ac.departureRequested = 0;
  const kvo::LatLon ahead =
      destinationPoint(ac.standLat, ac.standLon, ac.standHeading, 2.0 * ac.halfSpanNm * kFeetPerNm);
  TrackPoint& first = ac.trackPoints.at(0);
  first.groundSpeedKt = ac.standSpeedKt;
  const double dist = distanceNm(ac.position.lat, ac.position.lon, ahead.lat, ahead.lon);
  TrackPoint out = groundPointAt(first, ahead, ac.standSpeedKt, nowTick() + travelTicks(dist, ac.standSpeedKt));
  out.trackDeg = ac.standHeading / kDeg;
  ac.trackPoints.resize(1);
  ac.trackPoints.push_back(out);
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

void startPushBack(LiveAircraft& ac) {
  ac.standRouteState = 0;
  const double back = wrap2Pi(ac.standHeading + kPi);
  const kvo::Stand* stand = findParkStand(ac.standId);
  if (stand == nullptr) return;
  const kvo::TickCount now = nowTick();
  const kvo::LatLon b = destinationPoint(ac.position.lat, ac.position.lon, back, 2.5 * stand->radius * kFeetPerNm);
  TrackPoint& first = ac.trackPoints.at(0);
  first.groundSpeedKt = ac.standSpeedKt;
  ac.referenceHeading = ac.position.heading;
  const std::int32_t toB = travelTicks(distanceNm(ac.position.lat, ac.position.lon, b.lat, b.lon), ac.standSpeedKt);
  const TrackPoint pointB = groundPointAt(first, b, ac.standSpeedKt, now + toB);
  ac.trackPoints.resize(1);
  ac.trackPoints.push_back(pointB);
  insertMidPoint(ac);

  const kvo::LatLon side1 = destinationPoint(b.lat, b.lon, back + kPi / 2.0, ac.halfSpanNm * kFeetPerNm);
  const kvo::LatLon side2 = destinationPoint(b.lat, b.lon, back - kPi / 2.0, ac.halfSpanNm * kFeetPerNm);
  const TrackPoint& mid = ac.trackPoints[1];
  auto sidePoint = [&](kvo::LatLon at) {
    const std::int32_t fromMid = travelTicks(distanceNm(mid.lat, mid.lon, at.lat, at.lon), ac.standSpeedKt);
    return groundPointAt(pointB, at, ac.standSpeedKt, now + toB / 2 + fromMid);
  };
  ac.pendingSidePoint = sidePoint(side1);
  const TrackPoint second = sidePoint(side2);
  ac.trackPoints.push_back(second);
  setLights(ac, {1, 1, 0, 1, 0, 1, 0});
  setPhase(ac, GroundPhase::PushingBack);
  ac.pushBackCounter = 2;
  ac.pushBackTurn = 0;
  ac.pushBackSide = 0;
  ac.pushBackFeedStopped = 0;
  ac.pushBackWaitSince = 0;
  ac.pushBackFeedReachNm = 0.0;
}

void pushBackStep(LiveAircraft& ac) {
  --ac.pushBackCounter;
  if (ac.pushBackCounter == 1) {
    if (waitsForFeedTurn(ac)) {
      waitForFeedTurn(ac);
      return;
    }
    ac.pushBackWaitSince = 0;
    if (ac.pushBackTurn != 0) {
      if (ac.pushBackSide != 0) ac.trackPoints.back() = ac.pendingSidePoint;
      if (ac.trackPoints.size() >= 3) setUpCurve(ac);
    } else if (ac.trackPoints.size() > 2) {
      ac.trackPoints.pop_back();
    }
    return;
  }
  if (ac.pushBackCounter < 1) {
    ac.referenceHeading = ac.position.heading;
    sendEvent(ac, kvo::kEventEngineAutoStart, 0);
    setThrottle(ac, 0);
    gf_setFlaps(ac, 1);
    setPhase(ac, GroundPhase::PushedBack);
    ac.pushBackCounter = 1;
    ac.holdDistanceNm = 900.0;
    ac.standRouteState = 0;
    ac.departureRequested = 0;
  }
}

void drive2Stand(LiveAircraft& ac, double standLat, double standLon, double standHeading) {
  if (ac.trackPoints.empty()) {
    logArrowLine(fmt::format("{} empty sz?", "drive2Stand"));
    return;
  }
  TrackPoint& last = ac.trackPoints.back();
  const std::int32_t n =
      std::max(travelTicks(distanceNm(last.lat, last.lon, standLat, standLon), ac.standSpeedKt), 100);
  last.groundSpeedKt = ac.standSpeedKt;
  const TrackPoint& first = ac.trackPoints.front();
  TrackPoint a;
  a.lat = standLat;
  a.lon = standLon;
  a.altFt = ac.position.altFt;
  a.groundSpeedKt = ac.standSpeedKt;
  a.tasKt = ac.standSpeedKt;
  a.trackDeg = standHeading / kDeg;
  a.verticalSpeed = 0.0;
  a.dueTick = first.dueTick + n;
  a.airborne = 0;
  a.stationary = sameSpot(last.lat, last.lon, standLat, standLon) ? 1 : 0;
  a.trueHeadingGiven = first.trueHeadingGiven;
  a.roll = ac.position.bank;
  TrackPoint b = a;
  b.groundSpeedKt = 0.0;
  b.tasKt = 0.0;
  b.stationary = 1;
  b.dueTick = first.dueTick + 50 + n;
  ac.trackPoints.push_back(a);
  ac.trackPoints.push_back(b);
  ac.referenceHeading = standHeading;
  if (ac.standRouteState >= 1) {
    ac.standRouteState = 0;
    setRouteTolerances(ac);
  }
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

bool reachesTakeOffSpeed(const LiveAircraft& ac) {
  const double speed = kvo::movementLimits(ac.sizeCategory).takeOffSpeedKt;
  return std::all_of(ac.trackPoints.begin() + (ac.trackPoints.empty() ? 0 : 1), ac.trackPoints.end(),
                     [speed](const TrackPoint& p) { return p.groundSpeedKt >= speed; });
}

void beginDepartureRun(LiveAircraft& ac) {
  if (ac.towed != 0) logLine(fmt::format("towed aircraft takes-off? {}", kvo::aircraftText(ac)));
  ac.takeOffRoll = 1;
  setThrottle(ac, 0);
  sendEvent(ac, kvo::kEventSpoilersSet, 0);
  departureConfiguration(ac);
  if (!ac.airline.empty()) planSoftStandOption(ac, true);
}

void departureConfiguration(LiveAircraft& ac) {
  gf_setFlaps(ac, 1);
  ac.descent = 0;
  ac.landed = 0;
  ac.goAroundDone = 0;
  setLights(ac, {1, 1, 1, 1, 1, 1, 0});
  ac.lateTolerance = 5000;
  ac.earlyTolerance = 3000;
}

void startTakeOff(LiveAircraft& ac) {
  ac.takeOffCounter = static_cast<std::int32_t>(std::max<std::uint32_t>(ac.rotationTicks, 1));
  ac.position.bank = 0.0;
  ac.bankStep = 0.0;
  ac.pitchStep = (ac.rotationPitch - ac.position.pitch) / ac.takeOffCounter;
  if (ac.takeOffRoll == 0) beginDepartureRun(ac);
  setPhase(ac, GroundPhase::TakeOff);
  ac.headingStep = 0.0;
  ac.curve.clear();
  if (ac.landingRoll != 0) {
    // A touch-and-go: full power, spoilers stowed for the climb.
    ac.landingRoll = 0;
    ac.descent = 0;
    ac.landed = 0;
    setThrottle(ac, 4);
    if (!isRotorcraft(ac)) sendEvent(ac, kvo::kEventSpoilersSet, 0);
    gf_setFlaps(ac, 1);
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

void takeOffStep(LiveAircraft& ac) {
  kvo::PositionBlock& pos = ac.position;
  ac.takeOffCounter = std::max(ac.takeOffCounter - 1, -1000);
  const std::int32_t counter = ac.takeOffCounter;
  if (counter > 0) {
    // The rotation: from now on the air rules move the aircraft.
    ac.onGround = 0;
    if (pos.pitch > ac.rotationPitch) pos.pitch = std::max(pos.pitch + ac.pitchStep, ac.rotationPitch);
    return;
  }
  const double climbOutStep = (ac.climbPitch - ac.rotationPitch) / std::max<std::uint32_t>(ac.climbOutTicks, 1);
  pos.bank = std::clamp(pos.bank + ac.bankStep, -kPi, kPi);
  if (pos.pitch > ac.climbPitch) pos.pitch = std::max(pos.pitch + climbOutStep, ac.climbPitch);
  if (counter <= -300) {
    pos.altFt += ac.verticalStep;
  } else if (counter <= -200) {
    pos.altFt += ac.verticalStep * 0.5;
  } else if (counter <= -100) {
    pos.altFt += ac.verticalStep * 0.2;
  } else if (counter <= -1) {
    pos.altFt += ac.verticalStep * 0.1;
  }
  if (counter == -300) setGear(ac, false);
  if (counter < -300 && pos.pitch <= ac.climbPitch) {
    ac.pitchStep = 0.0;
    if (ac.aglFt >= 800.0) {
      setThrottle(ac, isRotorcraft(ac) ? 4 : 3);
      setPhase(ac, GroundPhase::Flying);
      ac.takeOffCounter = 1;
    }
  }
}
