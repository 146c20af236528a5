// The straight legs of a scattering feed: points that scatter about a straight line are driven as
// that line, not point by point.
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "core/geometry.h"
#include "traffic/ground_detail.h"
#include "traffic/movement_util.h"

using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace kvo::mv {

namespace {

// A real feed's positions on the ground scatter by several metres from line to line. Taken one by
// one, every scattered point would be a turn of its own and the nose would swing from point to
// point. On a scattering feed, points scattered about a straight line are a straight leg: each
// within the feed's noise of it (one now and then up to twice that, never two in a row) and in
// order along it. An exact feed's points are followed as they are.
constexpr double kFeedNoiseM = 10.0;
// A straight leg runs at most this far off the nose: beyond it a turn has begun, however close
// its points lie (a slow corner's points lie close together).
constexpr double kLegOffNoseRad = 10.0 * kDeg;
// Put onto its leg, a point closer than this to the one before is dropped: the leg runs on to the next.
constexpr double kLegStepMinM = 1.0;
// The mean side of a straight leg's points lies at most this many of its standard errors off the
// leg (were the scatter drawn normally, one straight leg in eighty would lie farther); a bend's
// points lie farther to one side.
constexpr double kMeanSideErrors = 2.5;
// The end point scatters as much as the others and tilts the whole leg: its points lie along it
// evenly, their mean about half-way, so the tilt moves their mean side by half the end point's
// scatter: a quarter of its variance, beside the mean's own (the variance over their count).
constexpr double kEndTiltVariance = 0.25;

// Whether the points between the ends of a leg, by their sides of it (metres, right above 0),
// scatter about it as the feed's scatter explains and show no bend. At least three are needed to
// tell.
bool scatteredAboutLine(const std::vector<double>& sides, double scatter) {
  if (sides.size() < 3) return false;
  double sum = 0.0;
  for (const double side : sides) sum += side;
  const double m = static_cast<double>(sides.size());
  return std::abs(sum / m) <= kMeanSideErrors * scatter * std::sqrt(1.0 / m + kEndTiltVariance);
}

// Near a turn few points are queued, too few to tell scatter from a bend, and a scattered point
// taken as a turn swings the nose. On a scattering feed a leg ahead along the nose with two points
// between is straight where both lie within this many times the feed's scatter of it, or where one lies within half that and the other within twice
// that (as on a long leg, one point now and then scatters twice as far; a bend's points lie off
// alike). With one point between, the leg's end lies in the turn as readily: such a leg is left a
// turn, or the aircraft would run on straight and take the turn late and sharply; unless the
// aircraft stops at its end (no turn follows) and the end lies on the nose's line within the band.
constexpr double kShortLegScatters = 2.5;

bool shortLegAlongNose(const std::vector<double>& sides, double endNorth, double endEast, double nose, double band,
                       bool stopsThere) {
  if (sides.size() == 2) {
    const auto [nearer, farther] = std::minmax({std::abs(sides[0]), std::abs(sides[1])});
    return farther <= band || (nearer <= band / 2.0 && farther <= 2.0 * band);
  }
  return sides.size() == 1 && stopsThere &&
         std::abs(alongAndRight(endNorth, endEast, std::cos(nose), std::sin(nose)).second) <= band;
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
      const auto [along, side] = alongAndRight(north, east, unitNorth, unitEast);
      const bool out = std::abs(side) > kFeedNoiseM;
      scattered = track[j].stationary == 0 && std::abs(side) <= 2.0 * kFeedNoiseM && !(out && outside) &&
                  along >= reached - kFeedNoiseM && along <= length + kFeedNoiseM;
      outside = out;
      reached = std::max(reached, along);
      sides.push_back(side);
    }
    if (!scattered || length < reached - kFeedNoiseM) break;
    if (nose && std::abs(wrapPi(std::atan2(endEast, endNorth) - *nose)) > kLegOffNoseRad) continue;
    if (!scatteredAboutLine(sides, ac.groundScatterM)) {
      const double band = std::min(kShortLegScatters * ac.groundScatterM, kFeedNoiseM);
      const bool stopsThere = k + 1 < track.size() && track[k + 1].stationary != 0;
      if (!nose || !shortLegAlongNose(sides, endNorth, endEast, *nose, band, stopsThere)) continue;
    }
    end = k;
  }
  return end;
}

// Where the feed gives true noses (a receiver's heading, not its track), they tell a straight leg
// far better than scattered places, whose way from one to the next errs by tens of degrees: the
// points ahead whose noses hold within a few degrees of their mean are a straight leg along that
// mean, from the point it starts at. Its places keep within the feed's noise of it. With a nose
// given, a leg far off it is a turn, which the curves take.
constexpr double kNoseHoldRad = 5.0 * kDeg;
constexpr double kNoseLegOffRad = 45.0 * kDeg;

struct NoseLeg {
  std::size_t end = 0;
  double way = 0.0;
};

std::optional<NoseLeg> noseLegEnd(const LiveAircraft& ac, std::size_t from, std::optional<double> nose) {
  const auto& track = ac.trackPoints;
  const TrackPoint& origin = track[from];
  const double band = 2.0 * std::max(kFeedNoiseM, kShortLegScatters * ac.groundScatterM);
  std::vector<double> noses;
  double sumSin = 0.0;
  double sumCos = 0.0;
  std::optional<NoseLeg> leg;
  for (std::size_t k = from + 1; k < track.size(); ++k) {
    const TrackPoint& last = track[k];
    const std::optional<double> n = trueNose(last);
    if (last.stationary != 0 || last.airborne != 0 || !n) break;
    noses.push_back(*n);
    sumSin += std::sin(*n);
    sumCos += std::cos(*n);
    const double way = std::atan2(sumSin, sumCos);
    if (std::any_of(noses.begin(), noses.end(), [&](double x) { return std::abs(wrapPi(x - way)) > kNoseHoldRad; })) break;
    double reached = 0.0;
    double along = 0.0;
    double sides = 0.0;
    bool keeps = true;
    for (std::size_t j = from + 1; j <= k && keeps; ++j) {
      double north = 0.0;
      double east = 0.0;
      toLocalMetres(origin.lat, origin.lon, track[j].lat, track[j].lon, north, east);
      const auto [a, side] = alongAndRight(north, east, std::cos(way), std::sin(way));
      keeps = std::abs(side) <= band && a >= reached - band;
      reached = std::max(reached, a);
      along = a;
      sides += side;
    }
    if (!keeps) break;
    // The leg's points lie about a line along the mean nose; the aircraft runs from where it is
    // to that line's end, meeting the line gradually rather than at one point's scatter.
    const double side = sides / static_cast<double>(k - from);
    if (k >= from + 2 && along > kFeedNoiseM) {
      leg = NoseLeg{k, way + std::atan2(side, along)};
    }
  }
  if (leg && nose && std::abs(wrapPi(leg->way - *nose)) > kNoseLegOffRad) return std::nullopt;
  return leg;
}

}  // namespace

bool straightenNextPoint(LiveAircraft& ac, std::size_t from, std::optional<double> nose) {
  if (ac.groundScatterM <= 0.0) return false;
  auto& track = ac.trackPoints;
  while (const std::optional<NoseLeg> leg = noseLegEnd(ac, from, nose)) {
    const TrackPoint& origin = track[from];
    TrackPoint& next = track[from + 1];
    double north = 0.0;
    double east = 0.0;
    toLocalMetres(origin.lat, origin.lon, next.lat, next.lon, north, east);
    const double along = alongAndRight(north, east, std::cos(leg->way), std::sin(leg->way)).first;
    if (along < kLegStepMinM) {
      track.erase(track.begin() + static_cast<std::ptrdiff_t>(from) + 1);
      continue;
    }
    const kvo::LatLon on = destinationPoint(origin.lat, origin.lon, leg->way, along / kMetresPerNm * kFeetPerNm);
    next.lat = on.lat;
    next.lon = on.lon;
    return true;
  }
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
    const double length = std::hypot(endNorth, endEast);
    const double along = alongAndRight(north, east, endNorth / length, endEast / length).first;
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

}  // namespace kvo::mv
