// How far an aircraft's feed scatters its places on the ground: one estimate, made from the feed's
// latest lines, that every ground rule for a scattering feed reads. On an exact feed it is nothing
// and none of those rules acts.
#include <algorithm>
#include <array>
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

// The scatter of standing lines: their spread about their mean place, per axis.
double standingScatter(const Window& w) {
  double north = 0.0;
  double east = 0.0;
  for (const auto& [n, e] : w) {
    north += n / kWindowLines;
    east += e / kWindowLines;
  }
  double squares = 0.0;
  for (const auto& [n, e] : w) squares += (n - north) * (n - north) + (e - east) * (e - east);
  return std::sqrt(squares / (2.0 * (kWindowLines - 1)));
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
  if (figures.size() < kLeastWindows) return previous;
  const auto quarter = figures.begin() + static_cast<std::ptrdiff_t>(kQuarter * static_cast<double>(figures.size()));
  std::nth_element(figures.begin(), quarter, figures.end());
  return *quarter < kExactScatterM ? 0.0 : *quarter;
}

void noteFeedLine(LiveAircraft& ac, const TrackPoint& line) {
  auto& lines = ac.scatterLines;
  // A flight's ground lines before it took off tell nothing of those after it lands.
  if (line.airborne != 0) {
    lines.clear();
    return;
  }
  // A line heard before (the taxi's lines held through a push-back are handed on again) is kept once.
  if (!lines.empty() && line.dueTick <= lines.back().dueTick) return;
  lines.push_back(line);
  if (lines.size() > kScatterLines) lines.pop_front();
  ac.groundScatterM = feedScatterM(lines, ac.groundScatterM);
}

}  // namespace kvo::mv
