#include "core/geometry.h"

#include <algorithm>
#include <numbers>

namespace {

constexpr double kDegToRad = std::numbers::pi / 180.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

double normaliseLongitude(double lon) {
  if (lon >= -180.0 && lon <= 180.0) return lon;
  double r = std::fmod(lon + 180.0, 360.0);
  if (r < 0.0) r += 360.0;
  return r - 180.0;
}

double normaliseRadians(double angle) {
  double r = std::fmod(angle, kTwoPi);
  if (r < 0.0) r += kTwoPi;
  if (r >= kTwoPi) r -= kTwoPi;  // fmod of a value just below 0 can round up to 2 pi
  return r;
}

// The latitude whose cosine scales east-west metres; the movement code may hand a start
// latitude above 180 that stands for latitude - 360.
double scaleLatitude(double lat) { return lat > 180.0 ? lat - 360.0 : lat; }

}  // namespace

double distanceNm(double lat1, double lon1, double lat2, double lon2) {
  const double phi1 = lat1 * kDegToRad;
  const double phi2 = lat2 * kDegToRad;
  const double sinHalfDLat = std::sin((lat2 - lat1) * kDegToRad / 2.0);
  const double sinHalfDLon = std::sin((lon2 - lon1) * kDegToRad / 2.0);
  double h = sinHalfDLat * sinHalfDLat + std::cos(phi1) * std::cos(phi2) * sinHalfDLon * sinHalfDLon;
  h = std::clamp(h, 0.0, 1.0);  // rounding can push it a hair outside
  const double centralAngle = 2.0 * std::asin(std::sqrt(h));
  return centralAngle * kEarthRadiusNm;
}

double distanceNm(kvo::LatLon a, kvo::LatLon b) { return distanceNm(a.lat, a.lon, b.lat, b.lon); }

double initialBearing(double lat1, double lon1, double lat2, double lon2) {
  const double phi1 = lat1 * kDegToRad;
  const double phi2 = lat2 * kDegToRad;
  const double dLon = (lon2 - lon1) * kDegToRad;
  const double y = std::sin(dLon) * std::cos(phi2);
  const double x = std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(dLon);
  return normaliseRadians(std::atan2(y, x));
}

double initialBearing(kvo::LatLon a, kvo::LatLon b) { return initialBearing(a.lat, a.lon, b.lat, b.lon); }

kvo::LatLon destinationPoint(double lat, double lon, double bearingRad, double distanceFeet) {
  const double delta = distanceFeet / kEarthRadiusFeet;
  const double phi1 = lat * kDegToRad;
  const double lambda1 = lon * kDegToRad;
  const double sinPhi2 =
      std::clamp(std::sin(phi1) * std::cos(delta) + std::cos(phi1) * std::sin(delta) * std::cos(bearingRad),
                 -1.0, 1.0);
  const double phi2 = std::asin(sinPhi2);
  const double lambda2 = lambda1 + std::atan2(std::sin(bearingRad) * std::sin(delta) * std::cos(phi1),
                                              std::cos(delta) - std::sin(phi1) * sinPhi2);
  return {phi2 / kDegToRad, normaliseLongitude(lambda2 / kDegToRad)};
}

void toLocalMetres(double startLat, double startLon, double lat, double lon, double& north, double& east) {
  // Across the antimeridian the short way round is meant.
  double dLon = lon - startLon;
  if (dLon > 180.0) dLon -= 360.0;
  if (dLon < -180.0) dLon += 360.0;
  north = (lat - startLat) * kMetresPerDegree;
  east = std::cos(scaleLatitude(startLat) * kDegToRad) * kMetresPerDegree * dLon;
}

bool interpolateCurve(const kvo::CurveRecord& curve, kvo::LatLon& out, double& headingRad, double t) {
  if (!curve.isSet() || !std::isfinite(t)) return false;
  t = std::clamp(t, 0.0, 1.0);
  // Quadratic Bezier from the start (0, 0) through the middle point at t = 0.5 to the end.
  const double cN = curveControl(curve.midNorth, curve.endNorth);
  const double cE = curveControl(curve.midEast, curve.endEast);
  const double u = 1.0 - t;
  const double north = 2.0 * u * t * cN + t * t * curve.endNorth;
  const double east = 2.0 * u * t * cE + t * t * curve.endEast;
  const double dNorth = 2.0 * u * cN + 2.0 * t * (curve.endNorth - cN);
  const double dEast = 2.0 * u * cE + 2.0 * t * (curve.endEast - cE);

  const double cosLat = std::cos(scaleLatitude(curve.startLat) * kDegToRad);
  if (!std::isfinite(north) || !std::isfinite(east) || !std::isfinite(dNorth) || !std::isfinite(dEast) ||
      !std::isfinite(curve.startLat) || !std::isfinite(curve.startLon) || std::abs(cosLat) < 1e-12) {
    return false;
  }
  if (dNorth == 0.0 && dEast == 0.0) return false;  // no direction: the points coincide

  out.lat = curve.startLat + north / kMetresPerDegree;
  out.lon = normaliseLongitude(curve.startLon + east / (cosLat * kMetresPerDegree));
  headingRad = normaliseRadians(std::atan2(dEast, dNorth));
  return true;
}
