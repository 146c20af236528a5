// How far an aircraft's feed scatters its places on the ground: one estimate, made from the feed's
// latest lines, that every ground rule for a scattering feed reads. On an exact feed it is nothing
// and none of those rules acts. Where a scattering feed gives true noses, its moving lines are
// placed by them (followNoses).
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "core/geometry.h"
#include "traffic/ground_detail.h"
#include "traffic/movement.h"
#include "traffic/movement_util.h"

using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace kvo::mv {

namespace {

// The lines the estimate is made from: the feed's latest on the ground, some 30 s of them (what
// the program holds ahead of an aircraft), judged in windows of a few lines each.
constexpr std::size_t kScatterLines = 15;
constexpr std::size_t kWindowLines = 5;
// Fewer windows than this tell too little: the estimate stays as it was.
constexpr std::size_t kLeastWindows = 3;
// A window whose ends lie closer than this has no way to fit a curve along.
constexpr double kLeastChordM = 1.0;

// A window's lines, metres north and east of its first.
using Window = std::array<std::pair<double, double>, kWindowLines>;

// The scatter of standing lines (metres north and east of one of them, two at least): their
// spread about their mean place, per axis.
double standingScatter(std::span<const std::pair<double, double>> places) {
  const double count = static_cast<double>(places.size());
  double north = 0.0;
  double east = 0.0;
  for (const auto& [n, e] : places) {
    north += n / count;
    east += e / count;
  }
  double squares = 0.0;
  for (const auto& [n, e] : places) squares += (n - north) * (n - north) + (e - east) * (e - east);
  return std::sqrt(squares / (2.0 * (count - 1.0)));
}

// The scatter of moving lines: how far they lie from the circle (or the straight line) that fits
// them best. A taxi's path is made of straights and arcs, so an exact feed's lines lie on one
// nearly everywhere, while scattered lines lie about it by their scatter. In the frame of the
// window's chord (x along it, y to its side, in chords) a circle is y = a + b x + c (x^2 + y^2):
// a straight line where c is 0, and linear in a, b and c.
std::optional<double> movingScatter(const Window& w) {
  const auto [endNorth, endEast] = w.back();
  const double chord = std::hypot(endNorth, endEast);
  if (chord < kLeastChordM) return std::nullopt;
  const double unitNorth = endNorth / chord;
  const double unitEast = endEast / chord;
  std::array<std::array<double, 3>, kWindowLines> rows{};
  std::array<double, kWindowLines> ys{};
  for (std::size_t i = 0; i < kWindowLines; ++i) {
    const auto [along, right] = alongAndRight(w[i].first, w[i].second, unitNorth, unitEast);
    const double x = along / chord;
    const double y = right / chord;
    rows[i] = {1.0, x, x * x + y * y};
    ys[i] = y;
  }
  // The normal equations, solved by elimination with the largest pivot.
  std::array<std::array<double, 4>, 3> m{};
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < 3; ++c) {
      for (std::size_t i = 0; i < kWindowLines; ++i) m[r][c] += rows[i][r] * rows[i][c];
    }
    for (std::size_t i = 0; i < kWindowLines; ++i) m[r][3] += rows[i][r] * ys[i];
  }
  for (std::size_t p = 0; p < 3; ++p) {
    std::size_t best = p;
    for (std::size_t r = p + 1; r < 3; ++r) {
      if (std::abs(m[r][p]) > std::abs(m[best][p])) best = r;
    }
    std::swap(m[p], m[best]);
    if (std::abs(m[p][p]) < 1e-12) return std::nullopt;
    for (std::size_t r = 0; r < 3; ++r) {
      if (r == p) continue;
      const double f = m[r][p] / m[p][p];
      for (std::size_t c = p; c < 4; ++c) m[r][c] -= f * m[p][c];
    }
  }
  double squares = 0.0;
  for (std::size_t i = 0; i < kWindowLines; ++i) {
    double fitted = 0.0;
    for (std::size_t c = 0; c < 3; ++c) fitted += m[c][3] / m[c][c] * rows[i][c];
    squares += (ys[i] - fitted) * (ys[i] - fitted);
  }
  return chord * std::sqrt(squares / (kWindowLines - 3));
}

// A window's figure is its scatter scaled by how much lower the quarter of such windows lies that
// scatter least: of scattered lines, a quarter of the windows show at most this share of the
// scatter (two free figures of a circle's residuals, eight of a standing spread).
constexpr double kMovingQuarter = 0.536;
constexpr double kStandingQuarter = 0.796;
// The estimate is the figure that a quarter of the windows lie below: a few windows across the
// start of a turn, or across an S-bend's change of side, fit no one circle even on an exact feed,
// and stay above it.
constexpr double kQuarter = 0.25;

// How fast an aircraft may have gone between lines: the fastest of the speeds they give, with room
// for speeding up and slowing down between them.
constexpr double kSpeedRoom = 1.25;
constexpr double kSpeedRoomKt = 3.0;
// How much a scattering feed's scatter (per axis) may lengthen one leg between two lines: some two
// and a half times it, and a few metres more.
constexpr double kLegScatters = 2.5;
constexpr double kLegFloorM = 2.5;
// The room is made for at least a receiver's usual scatter: the estimate reads less for a while
// where the feed stops or starts to turn, and nothing before it has lines enough. An exact feed's
// lines never lie beyond their speeds' reach, so the room spares them.
constexpr double kLeastScatterM = 6.0;

// How far an aircraft may have gone from line `from` to line `to`, over `legs` legs between lines
// of the feed (each lengthened by the scatter), at most at `fastestKt`.
double reachM(const TrackPoint& from, const TrackPoint& to, double fastestKt, double scatterM, double legs) {
  const double hours = std::max(static_cast<double>(to.dueTick - from.dueTick) / kvo::kTicksPerHour, 0.0);
  const double scatter = std::max(scatterM, kLeastScatterM);
  // Lines that all show the aircraft standing leave it no room to have moved between them.
  const double kt = fastestKt < kPushBackStandsKt ? 0.0 : fastestKt * kSpeedRoom + kSpeedRoomKt;
  return kt * kMetresPerNm * hours + legs * (kLegScatters * scatter + kLegFloorM);
}

double metres(const TrackPoint& a, const TrackPoint& b) { return pointDistanceNm(a, b) * kMetresPerNm; }

// Whether a line lies farther from the line before than their speeds, the time between them and
// the scatter allow.
bool beyondReach(const TrackPoint& before, const TrackPoint& line, double scatterM) {
  return metres(before, line) > reachM(before, line, std::max(before.groundSpeedKt, line.groundSpeedKt), scatterM, 1.0);
}

// A receiver's line now and then lies tens of metres off, aside or along the way, within what the
// speeds allow of a step: it is off where the way between its neighbours, at their speeds, puts
// the aircraft at its time by more than a receiver's usual scatter, and the way through it is
// longer than those speeds carry the aircraft (a real turn's line lies on a way no longer); legsM
// is the way out to it and on. An exact feed's lines lie on their way, however far apart.
constexpr double kStrayOffM = 30.0;
constexpr double kStrayLongerM = 10.0;

bool offTheWay(const TrackPoint& before, const TrackPoint& line, const TrackPoint& after, double legsM) {
  const auto wayM = [](const TrackPoint& a, const TrackPoint& b) {
    const double hours = std::max(static_cast<double>(b.dueTick - a.dueTick) / kvo::kTicksPerHour, 0.0);
    return (a.groundSpeedKt + b.groundSpeedKt) / 2.0 * hours * kMetresPerNm;
  };
  const double toLine = wayM(before, line);
  const double way = toLine + wayM(line, after);
  if (way <= 0.0) return false;
  double lineNorth = 0.0;
  double lineEast = 0.0;
  double afterNorth = 0.0;
  double afterEast = 0.0;
  toLocalMetres(before.lat, before.lon, line.lat, line.lon, lineNorth, lineEast);
  toLocalMetres(before.lat, before.lon, after.lat, after.lon, afterNorth, afterEast);
  const double share = toLine / way;
  return legsM > way + kStrayLongerM &&
         std::hypot(lineNorth - share * afterNorth, lineEast - share * afterEast) > kStrayOffM;
}

// Whether a line lies so far off where the lines before and after it put the aircraft that it
// cannot have been there.
bool strayLine(const TrackPoint& before, const TrackPoint& line, const TrackPoint& after, double scatterM) {
  const double fastestKt = std::max({before.groundSpeedKt, line.groundSpeedKt, after.groundSpeedKt});
  const double reach = reachM(before, after, fastestKt, scatterM, 2.0);
  const double fromBefore = metres(before, line);
  const double toAfter = metres(line, after);
  // The aircraft cannot have made one of the two legs at its own ends' speeds (a line that shows
  // it standing cannot lie far from the next that does; the way out and on, longer than both legs'
  // reach, has one of them beyond its own), while the neighbours agree with each other, and the
  // line lies off both of them by more than scatter: the line alone is off (not one of its
  // neighbours).
  return (beyondReach(before, line, scatterM) || beyondReach(line, after, scatterM) ||
          offTheWay(before, line, after, fromBefore + toAfter)) &&
         metres(before, after) <= reach && std::min(fromBefore, toAfter) > reachM(line, line, 0.0, scatterM, 1.0);
}

// Too few lines to judge windows by, as for an aircraft first heard standing: its feed scatters
// where its standing lines lie apart, as an exact feed's never do; by how far apart they lie, up to
// a receiver's usual scatter, since one stray line among a few would make it seem tens of metres.
double standingSpreadM(const std::deque<TrackPoint>& lines) {
  std::size_t first = lines.size();
  while (first > 0 && lines[first - 1].groundSpeedKt < kPushBackStandsKt) --first;
  if (lines.size() - first < 2) return 0.0;
  std::vector<std::pair<double, double>> places(lines.size() - first);
  for (std::size_t i = 0; i < places.size(); ++i) {
    toLocalMetres(lines[first].lat, lines[first].lon, lines[first + i].lat, lines[first + i].lon, places[i].first,
                  places[i].second);
  }
  const double spread = standingScatter(places);
  return spread < kExactScatterM ? 0.0 : std::min(spread, kLeastScatterM);
}

}  // namespace

double feedScatterM(const std::deque<TrackPoint>& lines, double previous) {
  std::vector<double> figures;
  for (std::size_t i = 0; i + kWindowLines <= lines.size(); ++i) {
    Window w{};
    int standing = 0;
    for (std::size_t k = 0; k < kWindowLines; ++k) {
      const TrackPoint& p = lines[i + k];
      toLocalMetres(lines[i].lat, lines[i].lon, p.lat, p.lon, w[k].first, w[k].second);
      if (p.groundSpeedKt < kPushBackStandsKt) ++standing;
    }
    if (standing == static_cast<int>(kWindowLines)) {
      figures.push_back(standingScatter(w) / kStandingQuarter);
    } else if (standing == 0) {
      if (const auto s = movingScatter(w)) figures.push_back(*s / kMovingQuarter);
    }
  }
  if (figures.size() < kLeastWindows) return std::max(previous, standingSpreadM(lines));
  const auto quarter = figures.begin() + static_cast<std::ptrdiff_t>(kQuarter * static_cast<double>(figures.size()));
  std::nth_element(figures.begin(), quarter, figures.end());
  return *quarter < kExactScatterM ? 0.0 : *quarter;
}

bool noteFeedLine(LiveAircraft& ac, const TrackPoint& line) {
  auto& lines = ac.scatterLines;
  // A flight's ground lines before it took off tell nothing of those after it lands.
  if (line.airborne != 0) {
    lines.clear();
    return true;
  }
  // A line heard before (the taxi's lines held through a push-back are handed on again) is kept once.
  if (!lines.empty() && line.dueTick <= lines.back().dueTick) return true;
  lines.push_back(line);
  // The line before this one, held ahead of the aircraft, is judged now that it has neighbours on
  // both sides: a stray line is not driven to, and tells nothing of the feed's scatter. Where it
  // is still queued last behind the point the aircraft drives to, it leaves the track (and the
  // held lines of a push-back). Where the aircraft drives to it already (a standing aircraft sets
  // off for its next line at once), it stops where it is, and goes on to this line from there at
  // the speed of the line before the stray: a slowing stray's and a stop's make a crawl.
  if (const std::size_t n = lines.size(); n >= 3 && strayLine(lines[n - 3], lines[n - 2], lines[n - 1], ac.groundScatterM)) {
    const TrackPoint& stray = lines[n - 2];
    auto& track = ac.trackPoints;
    if (!track.empty() && sameSpot(track.back(), stray)) {
      if (track.size() >= 2) {
        track.pop_back();
      } else {
        track.back().lat = ac.position.lat;
        track.back().lon = ac.position.lon;
        track.back().dueTick = nowTick() + 1;
        track.back().groundSpeedKt = lines[n - 3].groundSpeedKt;
      }
    }
    auto& pushed = ac.pushBackFeedLines;
    if (!pushed.empty() && sameSpot(pushed.back(), stray)) pushed.pop_back();
    lines.erase(lines.end() - 2);
  }
  if (lines.size() > kScatterLines) lines.pop_front();
  ac.groundScatterM = feedScatterM(lines, ac.groundScatterM);
  // A line beyond reach of the line before does not join the track: once queued it may be driven
  // to before the next line can tell it strayed (a standing aircraft drives to its next line at
  // once). Where it did not stray, the next line leads on from it. Where the line before was
  // beyond reach of its own, the feed's speeds tell nothing of its steps, and the line joins.
  const std::size_t n = lines.size();
  return n < 3 || !beyondReach(lines[n - 2], lines[n - 1], ac.groundScatterM) ||
         beyondReach(lines[n - 3], lines[n - 2], ac.groundScatterM);
}

// A taxiing aeroplane goes where its nose points: on the ground it does not slide. A receiver's
// nose errs by a degree or two and its speed hardly at all, while its places scatter by metres
// from line to line, as far as a slow aircraft goes in two lines; in a tight turn at walking pace
// no curve through them fits, and along a straight their way errs by tens of degrees. Carried by
// the noses and speeds from line to line, the places keep the turn's shape and the leg's way; the
// pull toward each line's own place, a share of its offset that grows with the time since the
// line before (about a tenth for lines 2 s apart), keeps them from wandering off over a minute.
// Across a gap of more than a few seconds the noses at its ends tell no shape of the way between;
// a place farther off than the scatter allows says the noses have lost the aircraft's way. Both
// start anew from the line's own place. Not on an exact feed (its places are the path), not for a
// helicopter (it hover-taxis sideways) nor on a push-back (it rolls backwards).
namespace {
constexpr double kNosePullSeconds = 20.0;
constexpr double kNoseGapSeconds = 6.0;
constexpr double kNoseLostScatters = 5.0;
constexpr double kNoseLostLeastM = 15.0;
}  // namespace

void followNoses(LiveAircraft& ac, TrackPoint& line) {
  ac.noseLed = false;
  const std::optional<TrackPoint> before = ac.noseLedLine;
  if (before && line.dueTick <= before->dueTick) return;  // heard before, or out of order
  ac.noseLedLine = line;
  // A line without a nose amid lines with noses (its heading copied from its track) goes on along
  // the nose before it.
  const std::optional<double> from = before ? trueNose(*before) : std::nullopt;
  const std::optional<double> nose = trueNose(line) ? trueNose(line) : from;
  if (!before || !nose || ac.groundScatterM <= 0.0 || isRotorcraft(ac) || ac.phase != GroundPhase::Taxi ||
      ac.standRouteState >= 1 || ac.takeOffRoll != 0 || line.airborne != 0 || before->airborne != 0 ||
      line.groundSpeedKt < kPushBackStandsKt) {
    return;
  }
  const double seconds = static_cast<double>(line.dueTick - before->dueTick) * 3600.0 / kTicksPerHour;
  if (seconds > kNoseGapSeconds) return;
  // The way between two noses is an arc: its chord runs along their mean.
  const double halfTurn = wrapPi(*nose - from.value_or(*nose)) / 2.0;
  const double way = *nose - halfTurn;
  const double arcM = (before->groundSpeedKt + line.groundSpeedKt) / 2.0 * seconds * kMetresPerNm / 3600.0;
  const double chordM = std::abs(halfTurn) > 1e-9 ? arcM * std::sin(halfTurn) / halfTurn : arcM;
  const double carriedNorth = chordM * std::cos(way);
  const double carriedEast = chordM * std::sin(way);
  double north = 0.0;
  double east = 0.0;
  toLocalMetres(before->lat, before->lon, line.lat, line.lon, north, east);
  const double offM = std::hypot(north - carriedNorth, east - carriedEast);
  if (offM > std::max(kNoseLostLeastM, kNoseLostScatters * ac.groundScatterM)) return;
  const double pull = 1.0 - std::exp(-seconds / kNosePullSeconds);
  const double toNorth = carriedNorth + pull * (north - carriedNorth);
  const double toEast = carriedEast + pull * (east - carriedEast);
  const kvo::LatLon at = destinationPoint(before->lat, before->lon, std::atan2(toEast, toNorth),
                                          std::hypot(toNorth, toEast) / kMetresPerNm * kFeetPerNm);
  line.lat = at.lat;
  line.lon = at.lon;
  ac.noseLedLine = line;
  ac.noseLed = true;
}

}  // namespace kvo::mv
