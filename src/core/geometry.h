#pragma once
// Great-circle geometry on positions in degrees, and the quadratic ground curve of the
// movement code.
#include <cmath>

namespace kvo {

struct LatLon {
  double lat = 0.0;  // degrees
  double lon = 0.0;  // degrees
};

// A ground curve: the start position in degrees, the middle and end points in local metres
// relative to the start (north = dLat x kMetresPerDegree, east = cos(startLat) x
// kMetresPerDegree x dLon). The curve is unset while midNorth is NaN.
struct CurveRecord {
  double startLat = 0.0;
  double startLon = 0.0;
  double midNorth = std::nan("");
  double midEast = 0.0;
  double endNorth = 0.0;
  double endEast = 0.0;

  bool isSet() const { return !std::isnan(midNorth); }
  void clear() { midNorth = std::nan(""); }
};

}  // namespace kvo

inline constexpr double kEarthRadiusNm = 3437.7467707849;
inline constexpr double kEarthRadiusFeet = kEarthRadiusNm * 6076.11549;
inline constexpr double kMetresPerDegree = 111132.95;  // local metres per degree of latitude

// Haversine distance in nautical miles; never fails (NaN in, NaN out).
double distanceNm(kvo::LatLon a, kvo::LatLon b);
double distanceNm(double lat1, double lon1, double lat2, double lon2);

// Initial great-circle bearing from a to b in radians, 0..2 pi (0 = north, clockwise).
double initialBearing(kvo::LatLon a, kvo::LatLon b);
double initialBearing(double lat1, double lon1, double lat2, double lon2);

// The point reached from (lat, lon) along the great circle with the given initial bearing
// (radians) after distanceFeet; longitude brought into -180..180.
kvo::LatLon destinationPoint(double lat, double lon, double bearingRad, double distanceFeet);

// Local metres of a point relative to a start, as the curve record holds them. A start latitude
// above 180 is taken as latitude - 360.
void toLocalMetres(double startLat, double startLon, double lat, double lon, double& north,
                   double& east);

// Position (degrees) and heading (radians, 0..2 pi, north = 0, clockwise) at t (0..0.999999) on
// the quadratic curve through start, middle and end. False when the curve is unset or the
// numbers do not allow a result; out and headingRad are then left untouched.
bool interpolateCurve(const kvo::CurveRecord& curve, kvo::LatLon& out, double& headingRad, double t);

// One coordinate of the curve's quadratic Bezier control point, from the point the curve passes
// half-way (the record's middle) and the end (the start is 0); and back.
inline double curveControl(double middle, double end) { return 2.0 * middle - end / 2.0; }
inline double curveMiddle(double control, double end) { return (2.0 * control + end) / 4.0; }
