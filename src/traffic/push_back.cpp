// The push-back on the feed's pace: the push-back's own shape (straight back from the stand, then
// the tug turn), its pace, turn and end taken from the feed's lines heard while it runs, and the
// taxi lines heard meanwhile handed on when it ends.
#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/geometry.h"
#include "core/parameters.h"
#include "links/sim_ids.h"
#include "traffic/ground_detail.h"
#include "traffic/movement.h"
#include "traffic/movement_util.h"
#include "traffic/traffic_engine.h"

using namespace kvo::mv;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace {

// The push-back keeps its own shape (straight back, then the tug turn onto the side the feed
// shows), while the feed's lines give its pace and its end: it follows the feed's push a second
// at a time and ends where the feed's push ends. Single positions jitter by several metres on a
// real feed, so the feed's place is a fit over the lines of a few seconds.

constexpr kvo::TickCount kFollowStepTicks = 100;
constexpr kvo::TickCount kFeedFitTicks = 600;     // lines due this close to a tick count in its fit
constexpr kvo::TickCount kFeedStandsTicks = 1000;  // no way made for this long: the feed's push has ended
constexpr double kFollowProgressM = 0.2;          // less in a second is standing
constexpr double kCatchUp = 1.25;                 // the most a push-back goes faster than the feed's
constexpr double kSlowestShare = 0.5;             // ... and the least share of the feed's pace it goes,
constexpr double kMostAheadM = 5.0;               // while no farther ahead of the feed's place than this
constexpr double kTurnSwingM = 6.0;               // a tail swung aside this far shows the tug turn
constexpr double kScatterSwing = 3.0;             // on a scattering feed: this many times its scatter
constexpr double kFeetPerMetre = kFeetPerNm / kMetresPerNm;
// The slowest pace a push-back takes from the feed's: a few lines just above standing, at the
// push's start or end, would otherwise time its legs and its tug turn as a crawl.
constexpr double kPushMinKt = 1.0;
// A tug pushes at a walking pace: a line faster than this shows the aircraft rolling on its own,
// also where the feed gives no nose to tell which way it points.
constexpr double kTugMostKt = 5.0;
// The tug turn's corner lies at least this far back from where the aircraft is, so that the turn
// still starts backwards where the feed's push has gone no farther.
constexpr double kCornerBackM = 1.0;
// Where the tug turn ends and how long it takes depend on each other (the feed's place when it is
// done, its length at the feed's pace): each round of the fit takes the one from the other found
// in the round before, and this many settle them.
constexpr int kTurnFitRounds = 3;
constexpr double kPushBackTurnShown = 5.0 * kDeg;  // a smaller change of the nose is a straight push
constexpr std::size_t kMaxPushBackLines = 150;     // five minutes of lines
// The way a line's place goes: a fit over the lines of this long up to it, at least this many.
constexpr kvo::TickCount kNoseFirstTicks = 1200;
constexpr double kNoseFirstLines = 5.0;

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
  return alongAndRight(north, east, std::cos(axis.bearing), std::sin(axis.bearing));
}

kvo::LatLon offsetPlace(double lat, double lon, double bearing, double metres) {
  if (metres < 0.0) return destinationPoint(lat, lon, wrap2Pi(bearing + kPi), -metres * kFeetPerMetre);
  return destinationPoint(lat, lon, bearing, metres * kFeetPerMetre);
}

kvo::LatLon axisPlace(const PushAxis& axis, double along, double right) {
  const kvo::LatLon a = offsetPlace(axis.lat, axis.lon, axis.bearing, along);
  return offsetPlace(a.lat, a.lon, axis.bearing + kPi / 2.0, right);
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

// A pushed aircraft moves tail first: a line whose true nose points the way its place goes, over
// the lines of some seconds up to it, shows the aircraft rolling on its own, no longer pushed.
bool rollsNoseFirst(const LiveAircraft& ac, const TrackPoint& line) {
  const std::optional<double> nose = trueNose(line);
  if (!nose || line.groundSpeedKt < kPushBackStandsKt) return false;
  LineFit north;
  LineFit east;
  double span = 0.0;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    const double dt = static_cast<double>(p.dueTick - line.dueTick);
    if (dt > 0.0 || dt < -static_cast<double>(kNoseFirstTicks)) continue;
    span = std::max(span, -dt);
    double n = 0.0;
    double e = 0.0;
    toLocalMetres(ac.standLat, ac.standLon, p.lat, p.lon, n, e);
    north.add(dt, n);
    east.add(dt, e);
  }
  // Fewer lines, or lines of a few seconds, scatter too much to tell the way.
  if (north.n < kNoseFirstLines || span < 0.6 * static_cast<double>(kNoseFirstTicks) || !north.sloped()) return false;
  // Metres a tick the place goes along the nose: at least half the line's speed that way, and
  // more than a fit of places scattering by the feed's scatter strays (twice its standard error):
  // at a hand push's 2 kt, lines scattered by 6-10 m showed a C172 rolling nose first while it
  // was still pushed, and its push-back ended before its tug turn.
  const double ahead = north.slope() * std::cos(*nose) + east.slope() * std::sin(*nose);
  const double strays = 2.0 * ac.groundScatterM / std::sqrt(north.det() / north.n);
  return ahead > std::max(0.5 * line.groundSpeedKt * kMetresPerNm / kvo::kTicksPerHour, strays);
}

// A line that shows the aircraft rolling on its own: faster than a tug pushes, or nose first.
bool rollsOnItsOwn(const LiveAircraft& ac, const TrackPoint& p) {
  return p.groundSpeedKt > kTugMostKt || rollsNoseFirst(ac, p);
}

// A line that ends the feed's push: (nearly) still, or rolling on its own.
bool endsPush(const LiveAircraft& ac, const TrackPoint& p) {
  return p.groundSpeedKt < kPushBackStandsKt || rollsOnItsOwn(ac, p);
}

// The lines of the feed's push: those before the first that shows the aircraft rolling on its own
// or moving again after it stood (its taxi's), and whether there is such a line (the push is then
// known to its end).
std::pair<std::span<const TrackPoint>, bool> pushLines(const LiveAircraft& ac) {
  const std::vector<TrackPoint>& lines = ac.pushBackFeedLines;
  bool moved = false;
  bool stood = false;  // after it moved
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool stands = lines[i].groundSpeedKt < kPushBackStandsKt;
    if ((stood && !stands) || rollsOnItsOwn(ac, lines[i])) return {std::span<const TrackPoint>(lines.data(), i), true};
    stood = stood || (moved && stands);
    moved = moved || !stands;
  }
  return {std::span<const TrackPoint>(lines.data(), lines.size()), false};
}

// The feed's push is known once two of its lines are, up to its latest line (to its end once the
// feed shows the aircraft rolling on its own).
bool feedKnownAt(const LiveAircraft& ac, kvo::TickCount tick) {
  const auto [lines, ended] = pushLines(ac);
  return lines.size() >= 2 && (ended || lines.back().dueTick >= tick);
}

// Where the feed's push is at a tick (at most its latest line's), in metres along and to the right
// of the axis: a straight-line fit over time of the lines due within a few seconds of it.
std::optional<std::pair<double, double>> feedPlaceAt(const LiveAircraft& ac, const PushAxis& axis,
                                                     kvo::TickCount tick) {
  const std::span<const TrackPoint> lines = pushLines(ac).first;
  if (lines.empty()) return std::nullopt;
  tick = std::min(tick, lines.back().dueTick);
  LineFit along;
  LineFit right;
  for (const TrackPoint& p : lines) {
    const double dt = static_cast<double>(p.dueTick - tick);
    if (std::abs(dt) > static_cast<double>(kFeedFitTicks)) continue;
    const auto [a, r] = axisOffsets(axis, p.lat, p.lon);
    along.add(dt, a);
    right.add(dt, r);
  }
  if (along.n == 0.0) return std::nullopt;
  return std::pair{along.at(0.0), right.at(0.0)};
}

// The feed's latest line due by the tick, if any.
const TrackPoint* latestFeedLine(const LiveAircraft& ac, kvo::TickCount tick) {
  const TrackPoint* latest = nullptr;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (p.dueTick <= tick) latest = &p;
  }
  return latest;
}

// The feed's push stands by the tick: its latest line due by then is (nearly) still or no longer
// pushed, or its taxi has begun.
bool feedStandsAt(const LiveAircraft& ac, kvo::TickCount tick) {
  const auto [lines, ended] = pushLines(ac);
  if (ended && ac.pushBackFeedLines[lines.size()].dueTick <= tick) return true;
  const TrackPoint* latest = latestFeedLine(ac, tick);
  return latest != nullptr && endsPush(ac, *latest);
}

// The pace of the feed's push: the mean speed of its lines until it stands, at most the stand
// speed; the stand speed while the feed has shown none.
double pushSpeedKt(const LiveAircraft& ac) {
  double sum = 0.0;
  int count = 0;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (endsPush(ac, p)) break;
    sum += p.groundSpeedKt;
    ++count;
  }
  return count == 0 ? ac.standSpeedKt : std::clamp(sum / count, kPushMinKt, ac.standSpeedKt);
}

// When the feed's push began: where a straight-line fit of its moving lines' places over time
// leaves the stand; from a single line, as long before it as the line lies from the stand at the
// push's pace.
kvo::TickCount feedPushStart(const LiveAircraft& ac) {
  const PushAxis axis = standAxis(ac);
  const TrackPoint& first = ac.pushBackFeedLines.front();
  LineFit along;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (endsPush(ac, p)) break;
    along.add(static_cast<double>(p.dueTick - first.dueTick), axisOffsets(axis, p.lat, p.lon).first);
  }
  const kvo::TickCount start = along.slope() > 0.0
                                   ? first.dueTick + static_cast<kvo::TickCount>(std::lround(-along.at(0.0) / along.slope()))
                                   : setOffTick(first, ac.standLat, ac.standLon, pushSpeedKt(ac));
  // A line heard standing before the push's first shows it had not begun by then: scattered
  // places reckon the start back by seconds too far.
  kvo::TickCount stood = 0;
  for (const TrackPoint& p : ac.scatterLines) {
    if (p.dueTick < first.dueTick && p.groundSpeedKt < kPushBackStandsKt) stood = std::max(stood, p.dueTick);
  }
  return std::max(start, stood);
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

// How far aside the feed's tail must swing to show the tug turn: a fixed distance on a steady
// feed; on a scattering one several times the feed's scatter, since a fit over a few seconds of
// lines scattering by several metres strays aside by as much on a straight push, and at least half
// the span (a tug turn swings the tail that far), since a receiver's error that wanders by 6-8 m
// over tens of seconds strays aside by as much as well.
double turnSwingM(const LiveAircraft& ac) {
  if (ac.groundScatterM <= 0.0) return kTurnSwingM;
  return std::max({kTurnSwingM, kScatterSwing * ac.groundScatterM, ac.halfSpanNm * kMetresPerNm});
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
  if (!feed || std::abs(feed->second) < turnSwingM(ac)) return 0;
  return feed->second > 0.0 ? 1 : -1;
}

// The side of the tug turn the true noses of the feed's push show by the tick, on a scattering
// feed: 1 to the right, -1 to the left, 0 a straight push; nothing when its lines show no nose.
// A receiver's error wanders by metres over tens of seconds, which the place's swing cannot tell
// from a tug turn; a true nose can.
std::optional<int> feedNoseTurn(const LiveAircraft& ac, kvo::TickCount tick) {
  if (STRAIGHT_PBS_ONLY.value() || ac.groundScatterM <= 0.0) return std::nullopt;
  std::optional<int> turn;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (p.dueTick > tick || endsPush(ac, p)) break;
    if (const std::optional<double> nose = trueNose(p)) {
      const double change = wrapPi(*nose - ac.standHeading);
      turn = std::abs(change) < kPushBackTurnShown ? 0 : (change > 0.0 ? 1 : -1);
    }
  }
  return turn;
}

// When the feed's tug turn is done by its true noses, on a scattering feed: at the first line of
// its push whose nose has turned to within the least turn of the latest one's; nothing where the
// lines show no turned nose.
std::optional<kvo::TickCount> feedNoseTurnDone(const LiveAircraft& ac) {
  if (STRAIGHT_PBS_ONLY.value() || ac.groundScatterM <= 0.0) return std::nullopt;
  std::vector<std::pair<kvo::TickCount, double>> noses;
  for (const TrackPoint& p : ac.pushBackFeedLines) {
    if (endsPush(ac, p)) break;
    if (const std::optional<double> nose = trueNose(p)) noses.emplace_back(p.dueTick, *nose);
  }
  if (noses.empty() || std::abs(wrapPi(noses.back().second - ac.standHeading)) < kPushBackTurnShown) return std::nullopt;
  for (const auto& [tick, nose] : noses) {
    if (std::abs(wrapPi(nose - noses.back().second)) < kPushBackTurnShown) return tick;
  }
  return std::nullopt;
}

// The side the feed's push turns to (as feedSwing): by its true noses where they are known, else
// by where its place has swung.
int feedTurn(const LiveAircraft& ac) {
  if (const std::optional<int> nose = feedNoseTurn(ac, nowTick() + kFollowStepTicks)) return *nose;
  return feedSwing(ac);
}

// The push-back goes on with the feed's push while the feed's goes on: until the feed's tug turn
// has begun (before the turn), its push stands or makes no way for a while.
bool followsFeed(const LiveAircraft& ac, bool beforeTurn) {
  const kvo::TickCount now = nowTick();
  const kvo::TickCount next = now + kFollowStepTicks;
  if (!feedKnownAt(ac, next) || feedStandsAt(ac, next)) return false;
  if (beforeTurn && feedTurn(ac) != 0) return false;
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
  // Ahead of the feed's fitted place it slows but goes on while the feed's push moves: the fit
  // strays back and forth by metres on a scattering feed, and a tug does not stop for that.
  const double metresPerKt = kMetresPerNm * static_cast<double>(kFollowStepTicks) / kvo::kTicksPerHour;
  const double most = std::min(kCatchUp * pushSpeedKt(ac), ac.standSpeedKt) * metresPerKt;
  const TrackPoint* latest = latestFeedLine(ac, now + kFollowStepTicks);
  // On a scattering feed no slower than 1 kt: the fitted place strays ahead and back by metres,
  // and a crawl after a line just above standing reads as standing mid-push.
  const double slowestKt = ac.groundScatterM > 0.0 ? kPushMinKt : 0.0;
  const double least =
      latest == nullptr ? 0.0 : std::min(std::max(kSlowestShare * latest->groundSpeedKt, slowestKt) * metresPerKt, most);
  const double gap = feed ? feed->first - here : 0.0;
  const auto feedNow = feedPlaceAt(ac, axis, now);
  const bool feedMoves = feed && feedNow && feed->first - feedNow->first > kFollowProgressM;
  // Short of the first line heard of the feed's push (its start reckoned back from later lines)
  // the push goes on at its pace at least: the feed has shown no place to wait for there.
  const std::span<const TrackPoint> lines = pushLines(ac).first;
  const bool beforeLines = !lines.empty() && now + kFollowStepTicks < lines.front().dueTick;
  if (ac.pushBackWaitSince == 0 || gap > kFollowProgressM || feedMoves || beforeLines) ac.pushBackWaitSince = now;
  const bool goesOn = feed && gap > -kMostAheadM;
  const double metres =
      std::clamp(gap, beforeLines ? std::min(pushSpeedKt(ac) * metresPerKt, most) : goesOn ? least : 0.0, most);
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
  // Where the feed's true noses show when its turn is done, that is where it ends; the feed's tail
  // may have swung aside by little yet when its nose begins to turn.
  const std::optional<kvo::TickCount> noseDone = feedNoseTurnDone(ac);
  for (int i = 0; i < kTurnFitRounds; ++i) {
    const kvo::TickCount done = nowTick() + static_cast<kvo::TickCount>(std::lround(ticks));
    const auto feed = feedPlaceAt(ac, axis, noseDone ? std::max(*noseDone, done) : done);
    if (!feed) return;
    corner = std::max(feed->first, hereAlong + kCornerBackM);
    side = std::abs(feed->second);
    ticks = std::max(turnRateTicks(ac), (corner - hereAlong + side) / metresPerTick);
  }
  if (!noseDone && side < turnSwingM(ac)) return;
  // A tug turn swings the tail aside by half the span at least, as the push-back's own turn does;
  // where the fit shows less, its place is lost in the scatter.
  if (noseDone) side = std::max(side, ac.halfSpanNm * kMetresPerNm);
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

// The nose of a line of the feed's push: its true heading, else its track turned round, since
// pushed backwards the aircraft moves tail first. A track of 0 gives none. On a scattering feed only
// a true nose counts: a track between scattered places points anywhere.
std::optional<double> pushBackFeedNose(const LiveAircraft& ac, const TrackPoint& p) {
  if (ac.groundScatterM > 0.0) return trueNose(p);
  if (p.trueHeading) return *p.trueHeading;
  if (p.trackDeg != 0.0) return wrap2Pi(p.trackDeg * kDeg + kPi);
  return std::nullopt;
}

}  // namespace

// The step of the push-back's tug turn: at the turn rate through 90 degrees, and once the feed's
// push is known no faster than its pace.
double kvo::mv::pushBackCurveStep(const LiveAircraft& ac) {
  double ticks = turnRateTicks(ac);
  if (ac.pushBackFeedLines.size() >= 2) {
    const double metresPerTick = pushSpeedKt(ac) * kMetresPerNm / kvo::kTicksPerHour;
    ticks = std::max(ticks, std::round(curveLengthM(ac.curve) / metresPerTick));
  }
  return (std::isfinite(ticks) && ticks >= 1.0) ? 1.0 / ticks : 1.0;
}

// A curve's parameter runs unevenly along a curve drawn through a corner: taken evenly, a push-back
// would crawl into its tug turn for seconds and leave it at twice the feed's pace.
double kvo::mv::evenCurvePace(const LiveAircraft& ac) {
  constexpr double kProbe = 1e-3;
  const double t = std::min(ac.curveT, 0.999999 - kProbe);
  kvo::LatLon a;
  kvo::LatLon b;
  double heading = 0.0;
  if (!interpolateCurve(ac.curve, a, heading, t) || !interpolateCurve(ac.curve, b, heading, t + kProbe)) {
    return ac.curveTStep;
  }
  const double here = distanceNm(a.lat, a.lon, b.lat, b.lon) * kMetresPerNm / kProbe;  // metres per unit
  const double length = curveLengthM(ac.curve);
  return here > 0.0 && length > 0.0 ? ac.curveTStep * length / here : ac.curveTStep;
}

namespace {

// What a line of the feed's push tells beside its place: whether the push has stopped, and the
// side of the tug turn.
void readPushBackLine(LiveAircraft& ac, const TrackPoint& p) {
  if (endsPush(ac, p)) ac.pushBackFeedStopped = 1;
  // Until the push-back turns, the latest line of the feed's push that shows the tug turning
  // the nose gives the side; a line without a turn (a straight push) leaves it open. Once the
  // feed's push has stopped its lines belong to the taxi.
  if (!STRAIGHT_PBS_ONLY.value() && ac.pushBackCounter >= 2 && ac.pushBackFeedStopped == 0) {
    if (const std::optional<double> nose = pushBackFeedNose(ac, p)) {
      const double change = wrapPi(*nose - ac.position.heading);
      if (std::abs(change) >= kPushBackTurnShown) {
        ac.pushBackSide = change > 0.0 ? 1 : 0;
        ac.pushBackTurn = 1;
      }
    }
  }
}

}  // namespace

void kvo::mv::collectPushBackLine(LiveAircraft& ac, const TrackPoint& p) {
  if (ac.pushBackFeedLines.size() < kMaxPushBackLines) ac.pushBackFeedLines.push_back(p);
  readPushBackLine(ac, p);
}

// The feed's taxi may begin before the push-back ends: its lines heard meanwhile are taken as soon
// as it ends, or the taxi would set off from a line far along its way. None goes to an aircraft on
// its way out (removed by a line before), as the intake hands none to it.
void kvo::mv::takeHeldTaxiLines(LiveAircraft& ac) {
  if (ac.phase == GroundPhase::PushedBack && !ac.pushBackFeedLines.empty()) {
    for (const TrackPoint& p : std::exchange(ac.pushBackFeedLines, {})) {
      if (ac.state == kvo::AircraftState::RemovingFromSim) break;
      decodeExisting(ac, p);
    }
  }
}

void startPushBack(LiveAircraft& ac) {
  ac.standRouteState = 0;
  const double back = wrap2Pi(ac.standHeading + kPi);
  const kvo::Stand* stand = findParkStand(ac.standId);
  if (stand == nullptr) return;
  // From the line that showed the aircraft leaving on, the feed's lines give the push-back's pace;
  // it begins when the feed's push began. An aircraft first heard while its push ran holds the
  // rest of the push's lines heard before it was created (watchStandLines): they count as well.
  const std::vector<TrackPoint> held = ac.pushBackFeedLines;
  ac.pushBackFeedLines.push_back(ac.trackPoints.back());
  std::stable_sort(ac.pushBackFeedLines.begin(), ac.pushBackFeedLines.end(),
                   [](const TrackPoint& a, const TrackPoint& b) { return a.dueTick < b.dueTick; });
  if (ac.pushBackFeedLines.size() > kMaxPushBackLines) ac.pushBackFeedLines.resize(kMaxPushBackLines);
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
  // The line that showed it leaving was read by the stand's watch; the lines held, not yet.
  for (const TrackPoint& p : held) readPushBackLine(ac, p);
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
      // A known feed shows the turn and its side by its true noses, else by where its push has gone.
      const int swing = feedTurn(ac);
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
    lines.erase(lines.begin(),
                std::find_if(lines.begin(), lines.end(), [&](const TrackPoint& p) { return endsPush(ac, p); }));
    ac.referenceHeading = ac.position.heading;
    sendEvent(ac, kvo::kEventEngineAutoStart, 0);
    setThrottle(ac, 0);
    gf_setFlaps(ac, 1);
    setPhase(ac, GroundPhase::PushedBack);
    ac.pushBackCounter = 1;
    ac.holdDistanceNm = 900.0;
    ac.holdLines.clear();
    ac.standRouteState = 0;
    ac.departureRequested = 0;
  }
  return false;
}
