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

constexpr double kRollNearNm = 50.0 / 1852.0;
constexpr double kRollFarNm = 150.0 / 1852.0;
constexpr double kRollAgreeRad = 30.0 * kDeg;
constexpr double kRollLegRad = 45.0 * kDeg;
constexpr double kRollScatterNm = 20.0 / 1852.0;  // two points' scatter: nearer than this is no way back

// The way a take-off roll runs from track point `from`: toward the last point on the ground, far
// enough ahead that the scatter of the feed's positions near the line-up does not sway it. Only
// where the points ahead run steadily away and a nearer one agrees: a backtrack, its turn at the
// runway end or a turn onto the runway runs its own way.
std::optional<double> rollHeading(const LiveAircraft& ac, std::size_t from) {
  const auto& track = ac.trackPoints;
  if (ac.takeOffRoll == 0 || isRotorcraft(ac) || from >= track.size()) return std::nullopt;
  const TrackPoint& at = track[from];
  std::optional<double> near;
  std::optional<double> far;
  double farthest = 0.0;
  for (std::size_t j = from + 1; j < track.size() && track[j].airborne == 0; ++j) {
    const double d = pointDistanceNm(at, track[j]);
    if (d < farthest - kRollScatterNm) return std::nullopt;
    farthest = std::max(farthest, d);
    const double bearing = initialBearing(at.lat, at.lon, track[j].lat, track[j].lon);
    if (!near && d >= kRollNearNm) near = bearing;
    far = d >= kRollFarNm ? std::optional<double>(bearing) : std::nullopt;
  }
  if (!near || !far || std::abs(wrapPi(*far - *near)) > kRollAgreeRad) return std::nullopt;
  return far;
}

bool isCurveStartPhase(GroundPhase phase) { return phase == GroundPhase::PushingBack; }

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
bool scatteredAboutLine(const std::vector<double>& sides, double& scatter) {
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
  scatter = std::sqrt(squares / (6.0 * (m - 2.0)));
  return scatter >= kScatterMinM && std::abs(sum / m) <= 2.5 * scatter * std::sqrt(1.0 / m + 0.25);
}

// Near a turn too few points are queued to tell scatter from a bend, and each scattered point
// there swung the nose. Once an aircraft's feed has shown its scatter on a straight leg, a leg
// ahead along the nose with two points between is straight where both lie within this many times
// that scatter of it. With one point between, the leg's end lies in the turn as readily: the
// aircraft ran on straight and took the turn late and sharply.
constexpr double kShortLegScatters = 2.5;

// The farthest queued point that ends a straight leg from point `from`; 0 when none beyond the
// next point does. With a nose given, the leg also keeps to it. A leg shown scattered records the
// feed's scatter.
std::size_t straightLegEnd(LiveAircraft& ac, std::size_t from, std::optional<double> nose) {
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
    if (nose && std::abs(wrapPi(std::atan2(endEast, endNorth) - *nose)) > kLegOffNoseRad) continue;
    double scatter = 0.0;
    if (scatteredAboutLine(sides, scatter)) {
      ac.groundScatterM = scatter;
    } else {
      const double band = std::min(kShortLegScatters * ac.groundScatterM, kFeedNoiseM);
      const bool shortLeg = nose && ac.groundScatterM > 0.0 && sides.size() == 2 &&
                            std::all_of(sides.begin(), sides.end(), [&](double side) { return std::abs(side) <= band; });
      if (!shortLeg) continue;
    }
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

// ---- the push-back on the feed's pace ----------------------------------------------------------
//
// The push-back keeps its own shape (straight back, then the tug turn onto the side the feed
// shows), while the feed's lines give its pace and its end: it follows the feed's push a second
// at a time and ends where the feed's push ends. Single positions jitter by several metres on a
// real feed, so the feed's place is a fit over the lines of a few seconds.

constexpr kvo::TickCount kFollowStepTicks = 100;
constexpr kvo::TickCount kFeedFitTicks = 600;     // lines due this close to a tick count in its fit
constexpr kvo::TickCount kFeedStandsTicks = 1000;  // no way made for this long: the feed's push has ended
constexpr double kFollowProgressM = 0.2;          // less in a second is standing
constexpr double kCatchUp = 1.25;                 // the most a push-back goes faster than the feed's
constexpr double kTurnSwingM = 6.0;               // a tail swung aside this far shows the tug turn
constexpr double kScatterSwing = 3.0;             // on a scattering feed: this many times its scatter
constexpr double kFeetPerMetre = kFeetPerNm / kMetresPerNm;

// A straight line of the push-back: through a place along a bearing (radians).
struct PushAxis {
  double lat;
  double lon;
  double bearing;
};

PushAxis standAxis(const LiveAircraft& ac) { return {ac.standLat, ac.standLon, wrap2Pi(ac.standHeading + kPi)}; }

// Metres along the axis and to its right of a place.
std::pair<double, double> axisOffsets(const PushAxis& axis, double lat, double lon) {
  double north = 0.0;
  double east = 0.0;
  toLocalMetres(axis.lat, axis.lon, lat, lon, north, east);
  const double c = std::cos(axis.bearing);
  const double s = std::sin(axis.bearing);
  return {north * c + east * s, east * c - north * s};
}

kvo::LatLon offsetPlace(double lat, double lon, double bearing, double metres) {
  if (metres < 0.0) return destinationPoint(lat, lon, wrap2Pi(bearing + kPi), -metres * kFeetPerMetre);
  return destinationPoint(lat, lon, bearing, metres * kFeetPerMetre);
}

kvo::LatLon axisPlace(const PushAxis& axis, double along, double right) {
  const kvo::LatLon a = offsetPlace(axis.lat, axis.lon, axis.bearing, along);
  return offsetPlace(a.lat, a.lon, axis.bearing + kPi / 2.0, right);
}

// The feed's push is known once two of its lines are, up to its latest line.
bool feedKnownAt(const LiveAircraft& ac, kvo::TickCount tick) {
  return ac.pushBackFeedLines.size() >= 2 && ac.pushBackFeedLines.back().dueTick >= tick;
}

// A least-squares straight line of values over time.
struct LineFit {
  double n = 0.0, st = 0.0, stt = 0.0, sx = 0.0, stx = 0.0;
  void add(double t, double x) {
    n += 1.0;
    st += t;
    stt += t * t;
    sx += x;
    stx += t * x;
  }
  double det() const { return n * stt - st * st; }
  bool sloped() const { return n >= 3.0 && det() > 1e-9; }
  double slope() const { return sloped() ? (n * stx - st * sx) / det() : 0.0; }
  double at(double t) const { return sloped() ? (sx - slope() * st) / n + slope() * t : sx / n; }
};

// Where the feed's push is at a tick (at most its latest line's), in metres along and to the right
// of the axis: a straight-line fit over time of the lines due within a few seconds of it.
std::optional<std::pair<double, double>> feedPlaceAt(const LiveAircraft& ac, const PushAxis& axis,
                                                     kvo::TickCount tick) {
  if (ac.pushBackFeedLines.empty()) return std::nullopt;
  tick = std::min(tick, ac.pushBackFeedLines.back().dueTick);
  LineFit along;
  LineFit right;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    const double dt = static_cast<double>(p.dueTick - tick);
    if (std::abs(dt) > static_cast<double>(kFeedFitTicks)) continue;
    const auto [a, r] = axisOffsets(axis, p.lat, p.lon);
    along.add(dt, a);
    right.add(dt, r);
  }
  if (along.n == 0.0) return std::nullopt;
  return std::pair{along.at(0.0), right.at(0.0)};
}

// The feed's push stands by the tick: its latest line due by then is (nearly) still.
bool feedStandsAt(const LiveAircraft& ac, kvo::TickCount tick) {
  const TrackPoint* latest = nullptr;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (p.dueTick <= tick) latest = &p;
  }
  return latest != nullptr && latest->groundSpeedKt < kPushBackStandsKt;
}

// The pace of the feed's push: the mean speed of its lines until it stands, at most the stand
// speed; the stand speed while the feed has shown none.
double pushSpeedKt(const LiveAircraft& ac) {
  double sum = 0.0;
  int count = 0;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (p.groundSpeedKt < kPushBackStandsKt) break;
    sum += p.groundSpeedKt;
    ++count;
  }
  return count == 0 ? ac.standSpeedKt : std::clamp(sum / count, 1.0, ac.standSpeedKt);
}

// When the feed's push began: where a straight-line fit of its moving lines' places over time
// leaves the stand; from a single line, as long before it as the line lies from the stand at the
// push's pace.
kvo::TickCount feedPushStart(const LiveAircraft& ac) {
  const PushAxis axis = standAxis(ac);
  const TrackPoint& first = ac.pushBackFeedLines.front();
  LineFit along;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (p.groundSpeedKt < kPushBackStandsKt) break;
    along.add(static_cast<double>(p.dueTick - first.dueTick), axisOffsets(axis, p.lat, p.lon).first);
  }
  if (along.slope() > 0.0) {
    return first.dueTick + static_cast<kvo::TickCount>(std::lround(-along.at(0.0) / along.slope()));
  }
  return first.dueTick - travelTicks(distanceNm(ac.standLat, ac.standLon, first.lat, first.lon), pushSpeedKt(ac));
}

double turnRateTicks(const LiveAircraft& ac) { return std::round(90.0 / ac.turnRate / 100.0); }

double curveLengthM(const kvo::CurveRecord& curve) {
  constexpr int kSteps = 16;
  double metres = 0.0;
  kvo::LatLon previous{curve.startLat, curve.startLon};
  for (int i = 1; i <= kSteps; ++i) {
    kvo::LatLon at;
    double heading = 0.0;
    if (!interpolateCurve(curve, at, heading, std::min(static_cast<double>(i) / kSteps, 0.999999))) break;
    metres += distanceNm(previous.lat, previous.lon, at.lat, at.lon) * kMetresPerNm;
    previous = at;
  }
  return metres;
}

// The step of the push-back's tug turn: at the turn rate through 90 degrees, and once the feed's
// push is known no faster than its pace.
double pushBackCurveStep(const LiveAircraft& ac) {
  double ticks = turnRateTicks(ac);
  if (ac.pushBackFeedLines.size() >= 2) {
    const double metresPerTick = pushSpeedKt(ac) * kMetresPerNm / kvo::kTicksPerHour;
    ticks = std::max(ticks, std::round(curveLengthM(ac.curve) / metresPerTick));
  }
  return (std::isfinite(ticks) && ticks >= 1.0) ? 1.0 / ticks : 1.0;
}

// How far aside the feed's tail must swing to show the tug turn: a fixed distance on a steady
// feed; on a scattering one several times the scatter of its push's lines, since a fit over a few
// seconds of lines scattering by several metres strays aside by as much on a straight push. The
// scatter is read from how far aside consecutive moving lines jump: a push, straight or turning,
// moves a line only a metre or two aside.
double turnSwingM(const LiveAircraft& ac, const PushAxis& axis) {
  double sum = 0.0;
  int count = 0;
  std::optional<double> previous;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (p.groundSpeedKt < kPushBackStandsKt) break;
    const double right = axisOffsets(axis, p.lat, p.lon).second;
    if (previous) {
      sum += (right - *previous) * (right - *previous);
      ++count;
    }
    previous = right;
  }
  const double scatter = count == 0 ? 0.0 : std::sqrt(sum / count / 2.0);
  return std::max(kTurnSwingM, kScatterSwing * scatter);
}

// The side the feed's push has swung the tail to, away from the straight leg, by the time a turn
// begun a second from now would be done at the turn rate: 1 to the right of the way back, -1 to
// the left, 0 none. The place of a position fit over several lines shows the tug turn where the
// nose of single lines does not: a track from jittering positions points anywhere.
int feedSwing(const LiveAircraft& ac) {
  if (STRAIGHT_PBS_ONLY.value()) return 0;
  const kvo::TickCount tick = nowTick() + kFollowStepTicks + static_cast<kvo::TickCount>(turnRateTicks(ac));
  const PushAxis axis = standAxis(ac);
  const auto feed = feedPlaceAt(ac, axis, tick);
  if (!feed || std::abs(feed->second) < turnSwingM(ac, axis)) return 0;
  return feed->second > 0.0 ? 1 : -1;
}

// The push-back goes on with the feed's push while the feed's goes on: until the feed's tug turn
// has begun (before the turn), its push stands or makes no way for a while.
bool followsFeed(const LiveAircraft& ac, bool beforeTurn) {
  const kvo::TickCount now = nowTick();
  const kvo::TickCount next = now + kFollowStepTicks;
  if (!feedKnownAt(ac, next) || feedStandsAt(ac, next)) return false;
  if (beforeTurn && feedSwing(ac) != 0) return false;
  return ac.pushBackWaitSince == 0 || now - ac.pushBackWaitSince < kFeedStandsTicks;
}

// A second more along the axis, to where the feed's push is a second from now, at most a little
// faster than its pace; before the turn the points still ahead (the turn and its ends) move on with it.
// Where the feed has made no way it stands that second.
void followFeedStep(LiveAircraft& ac, const PushAxis& axis, bool beforeTurn) {
  const kvo::TickCount now = nowTick();
  TrackPoint step = ac.trackPoints.front();
  const double here = axisOffsets(axis, step.lat, step.lon).first;
  const auto feed = feedPlaceAt(ac, axis, now + kFollowStepTicks);
  // Catching up with the feed a little faster than its pace, never faster than the stand speed.
  const double mostKt = std::min(kCatchUp * pushSpeedKt(ac), ac.standSpeedKt);
  const double most = mostKt * kMetresPerNm * static_cast<double>(kFollowStepTicks) / kvo::kTicksPerHour;
  const double metres = std::clamp(feed ? feed->first - here : 0.0, 0.0, most);
  if (ac.pushBackWaitSince == 0 || metres > kFollowProgressM) ac.pushBackWaitSince = now;
  auto moveOn = [&](TrackPoint& p) {
    const kvo::LatLon at = offsetPlace(p.lat, p.lon, axis.bearing, metres);
    p.lat = at.lat;
    p.lon = at.lon;
  };
  moveOn(step);
  if (beforeTurn) {
    const kvo::TickCount delay = std::max<kvo::TickCount>(now + kFollowStepTicks - step.dueTick, 0);
    for (std::size_t i = 1; i < ac.trackPoints.size(); ++i) {
      moveOn(ac.trackPoints[i]);
      ac.trackPoints[i].dueTick += delay;
    }
    moveOn(ac.pendingSidePoint);
    ac.pendingSidePoint.dueTick += delay;
  } else {
    ac.trackPoints.resize(1);
  }
  step.dueTick = now + kFollowStepTicks;
  step.groundSpeedKt = metres / kMetresPerNm * kvo::kTicksPerHour / static_cast<double>(kFollowStepTicks);
  step.stationary = metres > 0.0 ? 0 : 1;
  ac.trackPoints.insert(ac.trackPoints.begin() + 1, step);
}

// The tug turn ends where the feed's push is when the turn is done, its corner on the straight
// leg abreast of that place: the nose ends square to the stand as the template's does, and the
// push-back where the feed's. Without a known feed or a tail swung aside the template stays.
void fitTurnToFeed(LiveAircraft& ac) {
  if (ac.trackPoints.size() < 3 || !feedKnownAt(ac, nowTick())) return;
  const PushAxis axis = standAxis(ac);
  const TrackPoint& here = ac.trackPoints.front();
  const double hereAlong = axisOffsets(axis, here.lat, here.lon).first;
  const double metresPerTick = pushSpeedKt(ac) * kMetresPerNm / kvo::kTicksPerHour;
  double ticks = turnRateTicks(ac);
  double corner = 0.0;
  double side = 0.0;
  for (int i = 0; i < 3; ++i) {
    const auto feed = feedPlaceAt(ac, axis, nowTick() + static_cast<kvo::TickCount>(std::lround(ticks)));
    if (!feed) return;
    corner = std::max(feed->first, hereAlong + 1.0);
    side = std::abs(feed->second);
    ticks = std::max(turnRateTicks(ac), (corner - hereAlong + side) / metresPerTick);
  }
  if (side < turnSwingM(ac, axis)) return;
  auto place = [&](TrackPoint& p, double right) {
    const kvo::LatLon at = axisPlace(axis, corner, right);
    p.lat = at.lat;
    p.lon = at.lon;
  };
  place(ac.trackPoints[1], 0.0);
  place(ac.pendingSidePoint, side);
  place(ac.trackPoints[2], -side);
}

// The push-back ends where it is: its last point here.
void endPushBackHere(LiveAircraft& ac) {
  TrackPoint end = ac.trackPoints.front();
  end.dueTick = nowTick() + kvo::kMinTravelTicks;
  end.groundSpeedKt = 0.0;
  end.stationary = 1;
  ac.trackPoints.resize(1);
  ac.trackPoints.push_back(end);
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
      // Off the standing, or along the leg within its scatter: not while still turning onto the
      // runway, nor on the leg onto the line-up (its standing turns the nose in place).
      const auto roll = rollHeading(ac, 0);
      const bool ontoStanding = ac.trackPoints.size() >= 3 && ac.trackPoints[2].stationary != 0;
      if (roll && (ac.trackPoints[0].stationary != 0 || ac.trackPoints[0].groundSpeedKt == 0.0 ||
                   (!ontoStanding && std::abs(wrapPi(*roll - ac.referenceHeading)) <= kRollLegRad))) {
        ac.referenceHeading = *roll;
      }
      ac.turnDeltaDeg = std::abs(wrapPi(ac.referenceHeading - ac.position.heading)) / kDeg;
      ac.turning = ac.turnDeltaDeg > 3.0 ? 1 : 0;
    } else {
      ac.turning = 0;
    }
  } else if (ac.takeOffRoll != 0) {
    // Standing before the roll (the line-up): the nose turns onto the runway in place.
    const auto roll = rollHeading(ac, 1);
    ac.turning = roll ? 1 : 0;
    if (roll) {
      ac.turnRate = ac.turnRateBase;
      ac.referenceHeading = *roll;
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

// Standing where it is until the tick, as the second point: a move from a standstill starts when
// the feed's move started, not when the line showing it arrives.
void standUntil(LiveAircraft& ac, kvo::TickCount start, double speedKt) {
  if (start <= nowTick() + kvo::kMinTravelTicks) return;
  TrackPoint wait = groundPointAt(ac.trackPoints.front(), {ac.position.lat, ac.position.lon}, speedKt, start);
  wait.stationary = 1;
  ac.trackPoints.insert(ac.trackPoints.begin() + 1, wait);
}

void pullOutOfStand(LiveAircraft& ac) {
  ac.standRouteState = 0;
  ac.departureRequested = 0;
  const kvo::LatLon ahead =
      destinationPoint(ac.standLat, ac.standLon, ac.standHeading, 2.0 * ac.halfSpanNm * kFeetPerNm);
  // The line that showed the aircraft leaving comes some way into the feed's move: it set off as
  // long before it as that way takes at the line's speed.
  const TrackPoint& shown = ac.trackPoints.back();
  const double shownKt = shown.groundSpeedKt > kPushBackStandsKt ? shown.groundSpeedKt : ac.standSpeedKt;
  const kvo::TickCount start =
      shown.stationary != 0
          ? nowTick()
          : std::max(nowTick(),
                     shown.dueTick - travelTicks(distanceNm(ac.standLat, ac.standLon, shown.lat, shown.lon), shownKt));
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

void startPushBack(LiveAircraft& ac) {
  ac.standRouteState = 0;
  const double back = wrap2Pi(ac.standHeading + kPi);
  const kvo::Stand* stand = findParkStand(ac.standId);
  if (stand == nullptr) return;
  // From the line that showed the aircraft leaving on, the feed's lines give the push-back's pace;
  // it begins when the feed's push began.
  ac.pushBackFeedLines.assign(1, ac.trackPoints.back());
  const double speed = pushSpeedKt(ac);
  const kvo::TickCount now = nowTick();
  const kvo::TickCount start = std::max(now, feedPushStart(ac));
  const kvo::LatLon b = destinationPoint(ac.position.lat, ac.position.lon, back, 2.5 * stand->radius * kFeetPerNm);
  TrackPoint& first = ac.trackPoints.at(0);
  first.groundSpeedKt = speed;
  ac.referenceHeading = ac.position.heading;
  const std::int32_t toB = travelTicks(distanceNm(ac.position.lat, ac.position.lon, b.lat, b.lon), speed);
  const TrackPoint pointB = groundPointAt(first, b, speed, start + toB);
  ac.trackPoints.resize(1);
  ac.trackPoints.push_back(pointB);
  insertMidPoint(ac);

  const kvo::LatLon side1 = destinationPoint(b.lat, b.lon, back + kPi / 2.0, ac.halfSpanNm * kFeetPerNm);
  const kvo::LatLon side2 = destinationPoint(b.lat, b.lon, back - kPi / 2.0, ac.halfSpanNm * kFeetPerNm);
  const TrackPoint& mid = ac.trackPoints[1];
  auto sidePoint = [&](kvo::LatLon at) {
    const std::int32_t fromMid = travelTicks(distanceNm(mid.lat, mid.lon, at.lat, at.lon), speed);
    return groundPointAt(pointB, at, speed, start + toB / 2 + fromMid);
  };
  ac.pendingSidePoint = sidePoint(side1);
  const TrackPoint second = sidePoint(side2);
  ac.trackPoints.push_back(second);
  ac.pushBackCounter = 2;
  if (start > now + kvo::kMinTravelTicks) {
    standUntil(ac, start, speed);
    ac.pushBackCounter = 3;
  }
  setLights(ac, {1, 1, 0, 1, 0, 1, 0});
  setPhase(ac, GroundPhase::PushingBack);
  ac.pushBackTurn = 0;
  ac.pushBackSide = 0;
  ac.pushBackFeedStopped = 0;
  ac.pushBackWaitSince = 0;
}

bool pushBackStep(LiveAircraft& ac) {
  --ac.pushBackCounter;
  if (ac.pushBackCounter == 2) {
    // Standing on the stand: the lines come since may show the feed's push began later.
    const kvo::TickCount delay = feedPushStart(ac) - nowTick();
    if (delay > kvo::kMinTravelTicks && ac.trackPoints.size() >= 2) {
      for (std::size_t i = 1; i < ac.trackPoints.size(); ++i) ac.trackPoints[i].dueTick += delay;
      ac.pendingSidePoint.dueTick += delay;
      TrackPoint wait = ac.trackPoints.front();
      wait.dueTick = nowTick() + delay;
      wait.stationary = 1;
      ac.trackPoints.insert(ac.trackPoints.begin() + 1, wait);
      ac.pushBackCounter = 3;
      return true;
    }
    return false;
  }
  if (ac.pushBackCounter == 1) {
    // The straight leg goes on with the feed's push until its turn begins or it ends.
    if (ac.trackPoints.size() >= 3 && followsFeed(ac, true)) {
      followFeedStep(ac, standAxis(ac), true);
      ac.pushBackCounter = 2;
      return true;
    }
    ac.pushBackWaitSince = 0;
    if (feedKnownAt(ac, nowTick() + kFollowStepTicks)) {
      // A known feed shows the turn and its side by where its push has gone.
      const int swing = feedSwing(ac);
      ac.pushBackTurn = swing != 0 ? 1 : 0;
      if (swing != 0) ac.pushBackSide = swing > 0 ? 1 : 0;
    }
    if (ac.pushBackTurn != 0) {
      fitTurnToFeed(ac);
      if (ac.pushBackSide != 0) ac.trackPoints.back() = ac.pendingSidePoint;
      if (ac.trackPoints.size() >= 3) {
        setUpCurve(ac);
        // The turn is done when the curve is: the push-back ends no sooner.
        ac.trackPoints.at(1).dueTick = nowTick() + static_cast<kvo::TickCount>(std::lround(1.0 / ac.curveTStep));
        return true;
      }
    } else if (feedKnownAt(ac, nowTick() + kFollowStepTicks) && ac.trackPoints.size() >= 2) {
      // The feed's push ended straight, where the push-back now is.
      endPushBackHere(ac);
      return true;
    } else if (ac.trackPoints.size() > 2) {
      ac.trackPoints.pop_back();
    }
    return false;
  }
  if (ac.pushBackCounter < 1) {
    // After the turn the tug may push on straight, as far as the feed's does.
    if (ac.pushBackTurn != 0 && followsFeed(ac, false)) {
      followFeedStep(ac, PushAxis{ac.position.lat, ac.position.lon, wrap2Pi(ac.position.heading + kPi)}, false);
      ac.pushBackCounter = 1;
      ac.standRouteState = 0;  // the points the track's end predicted are gone
      return true;
    }
    ac.pushBackWaitSince = 0;
    // The feed's lines since its push stopped are its taxi's: heard while the push-back went on,
    // they are kept for the hold that follows (nextPosMain hands them on).
    auto& lines = ac.pushBackFeedLines;
    lines.erase(lines.begin(), std::find_if(lines.begin(), lines.end(), [](const TrackPoint& p) {
                  return p.groundSpeedKt < kPushBackStandsKt;
                }));
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
  return false;
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
  ac.referenceHeading = isRotorcraft(ac) ? wayIn : standHeading;
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
