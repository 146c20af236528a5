#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "core/geometry.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kFeetPerNm = 6076.11549;

TEST(Geometry, DistanceIsTrueNauticalMiles) {
  // One degree of latitude is 60 nm on the program's sphere; a doubled factor would give 120.
  EXPECT_NEAR(distanceNm(0.0, 0.0, 1.0, 0.0), 60.0, 1e-6);
  // EGLL to KJFK, about 2990 nm great circle.
  const kvo::LatLon egll{51.4775, -0.461389};
  const kvo::LatLon kjfk{40.639722, -73.778889};
  EXPECT_NEAR(distanceNm(egll, kjfk), 2991.0, 30.0);
  EXPECT_DOUBLE_EQ(distanceNm(egll, kjfk), distanceNm(kjfk, egll));
  EXPECT_DOUBLE_EQ(distanceNm(egll, egll), 0.0);
  // Antipodes: half the circumference, no NaN from rounding.
  EXPECT_NEAR(distanceNm(0.0, 0.0, 0.0, 180.0), kPi * kEarthRadiusNm, 1e-6);
  // Across the antimeridian the short way.
  EXPECT_NEAR(distanceNm(0.0, 179.5, 0.0, -179.5), 60.0, 1e-6);
}

TEST(Geometry, InitialBearingCardinalDirections) {
  struct Case {
    double lat2, lon2, expected;
  };
  const Case cases[] = {{1.0, 0.0, 0.0}, {0.0, 1.0, kPi / 2}, {-1.0, 0.0, kPi}, {0.0, -1.0, 3 * kPi / 2}};
  for (const auto& c : cases) {
    const double b = initialBearing(0.0, 0.0, c.lat2, c.lon2);
    EXPECT_NEAR(b, c.expected, 1e-9) << c.lat2 << "," << c.lon2;
    EXPECT_GE(b, 0.0);
    EXPECT_LT(b, 2 * kPi);
  }
  EXPECT_NEAR(initialBearing({0.0, 0.0}, {1.0, 0.0}), 0.0, 1e-12);
}

TEST(Geometry, DestinationPointRoundTrip) {
  const kvo::LatLon start{51.4775, -0.461389};
  for (double bearing : {0.0, 1.0, 2.5, 4.0, 6.0}) {
    for (double nm : {0.01, 1.0, 100.0, 1500.0}) {
      const kvo::LatLon p = destinationPoint(start.lat, start.lon, bearing, nm * kFeetPerNm);
      EXPECT_NEAR(distanceNm(start, p), nm, nm * 1e-9 + 1e-9);
      EXPECT_NEAR(initialBearing(start, p), bearing, 1e-6) << bearing << " " << nm;
    }
  }
}

TEST(Geometry, DestinationPointBringsLongitudeIntoRange) {
  const kvo::LatLon p = destinationPoint(0.0, 179.9, kPi / 2, 60.0 * kFeetPerNm);
  EXPECT_NEAR(p.lon, -179.1, 1e-6);
  EXPECT_NEAR(p.lat, 0.0, 1e-9);
  const kvo::LatLon q = destinationPoint(0.0, -179.9, 3 * kPi / 2, 60.0 * kFeetPerNm);
  EXPECT_NEAR(q.lon, 179.1, 1e-6);
}

kvo::CurveRecord curveThrough(kvo::LatLon start, kvo::LatLon mid, kvo::LatLon end) {
  kvo::CurveRecord c;
  c.startLat = start.lat;
  c.startLon = start.lon;
  toLocalMetres(start.lat, start.lon, mid.lat, mid.lon, c.midNorth, c.midEast);
  toLocalMetres(start.lat, start.lon, end.lat, end.lon, c.endNorth, c.endEast);
  return c;
}

TEST(Geometry, CurvePassesItsThreePoints) {
  const kvo::LatLon start{47.45, 8.55}, mid{47.4506, 8.5512}, end{47.4507, 8.5530};
  const kvo::CurveRecord c = curveThrough(start, mid, end);
  kvo::LatLon p;
  double heading = -1.0;
  ASSERT_TRUE(interpolateCurve(c, p, heading, 0.0));
  EXPECT_NEAR(p.lat, start.lat, 1e-12);
  EXPECT_NEAR(p.lon, start.lon, 1e-12);
  ASSERT_TRUE(interpolateCurve(c, p, heading, 0.5));
  EXPECT_NEAR(p.lat, mid.lat, 1e-10);
  EXPECT_NEAR(p.lon, mid.lon, 1e-10);
  ASSERT_TRUE(interpolateCurve(c, p, heading, 0.999999));
  EXPECT_NEAR(p.lat, end.lat, 1e-8);
  EXPECT_NEAR(p.lon, end.lon, 1e-8);
}

TEST(Geometry, CurveHeadingAtTheEnds) {
  // A quarter turn from north to east: start (0, 0) m, control point (100 N, 0 E), end (100 N,
  // 100 E); the middle point of that curve is (75 N, 25 E).
  kvo::CurveRecord c;
  c.startLat = 10.0;
  c.startLon = 20.0;
  c.midNorth = 75.0;
  c.midEast = 25.0;
  c.endNorth = 100.0;
  c.endEast = 100.0;
  kvo::LatLon p;
  double heading = -1.0;
  ASSERT_TRUE(interpolateCurve(c, p, heading, 0.0));
  EXPECT_NEAR(heading, 0.0, 1e-9);
  ASSERT_TRUE(interpolateCurve(c, p, heading, 0.999999));
  EXPECT_NEAR(heading, kPi / 2, 1e-5);
  ASSERT_TRUE(interpolateCurve(c, p, heading, 0.5));
  EXPECT_NEAR(heading, kPi / 4, 1e-9);

  // A left turn from south to west: headings stay within 0..2 pi.
  c.midNorth = -75.0;
  c.midEast = -25.0;
  c.endNorth = -100.0;
  c.endEast = -100.0;
  ASSERT_TRUE(interpolateCurve(c, p, heading, 0.0));
  EXPECT_NEAR(heading, kPi, 1e-9);
  ASSERT_TRUE(interpolateCurve(c, p, heading, 0.999999));
  EXPECT_NEAR(heading, 3 * kPi / 2, 1e-5);
}

TEST(Geometry, CurveThatCannotBeComputedLeavesOutputsAlone) {
  kvo::LatLon p{1.0, 2.0};
  double heading = 3.0;
  kvo::CurveRecord unset;  // middle point NaN
  EXPECT_FALSE(unset.isSet());
  EXPECT_FALSE(interpolateCurve(unset, p, heading, 0.5));

  kvo::CurveRecord still;  // all three points the same: no direction
  still.midNorth = 0.0;
  EXPECT_FALSE(interpolateCurve(still, p, heading, 0.5));

  kvo::CurveRecord pole;
  pole.startLat = 90.0;
  pole.midNorth = 10.0;
  pole.endNorth = 20.0;
  pole.endEast = 5.0;
  EXPECT_FALSE(interpolateCurve(pole, p, heading, 0.5));

  kvo::CurveRecord ok;
  ok.midNorth = 10.0;
  ok.endNorth = 20.0;
  EXPECT_FALSE(interpolateCurve(ok, p, heading, std::nan("")));
  EXPECT_EQ(p.lat, 1.0);
  EXPECT_EQ(p.lon, 2.0);
  EXPECT_EQ(heading, 3.0);
}

TEST(Geometry, LocalMetresTakeTheShortWayAndTheShiftedLatitude) {
  double north = 0, east = 0;
  toLocalMetres(0.0, 179.9999, 0.0, -179.9999, north, east);
  EXPECT_NEAR(east, 0.0002 * kMetresPerDegree, 1e-6);
  toLocalMetres(0.0, -179.9999, 0.0, 179.9999, north, east);
  EXPECT_NEAR(east, -0.0002 * kMetresPerDegree, 1e-6);
  // A start latitude above 180 stands for latitude - 360.
  double n1 = 0, e1 = 0, n2 = 0, e2 = 0;
  toLocalMetres(370.0, 0.0, 370.0, 0.001, n1, e1);
  toLocalMetres(10.0, 0.0, 10.0, 0.001, n2, e2);
  EXPECT_NEAR(e1, e2, 1e-9);
}

}  // namespace
