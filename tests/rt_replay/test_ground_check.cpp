// The ground-motion check's rules on made-up tracks: what counts as moving, as off its motion, as
// backward, and what a push-back is.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ground_check.h"

namespace {

using groundcheck::Sample;

// One second of an aircraft on the ground: moving along `bearingDeg` at `kt`, its nose on
// `headingDeg`.
struct Step {
  double bearingDeg;
  double kt;
  double headingDeg;
};

// An aircraft made standing on the ground (its first sample is where it was made), then the steps.
std::vector<Sample> track(const std::vector<Step>& steps) {
  constexpr double kPi = 3.14159265358979323846;
  const double metresPerDeg = 6371000.0 * kPi / 180.0;
  Sample s{0.0, 1001, 47.79, 13.0, steps.empty() ? 0.0 : steps.front().headingDeg, true};
  std::vector<Sample> out{s};
  s.second += 1.0;
  out.push_back(s);
  for (const Step& step : steps) {
    const double metres = step.kt * 1852.0 / 3600.0;
    s.lat += metres * std::cos(step.bearingDeg * kPi / 180.0) / metresPerDeg;
    s.lon += metres * std::sin(step.bearingDeg * kPi / 180.0) / metresPerDeg / std::cos(s.lat * kPi / 180.0);
    s.headingDeg = step.headingDeg;
    s.second += 1.0;
    out.push_back(s);
  }
  return out;
}

TEST(GroundCheck, CountsMovingOffAndBackwardSamplesAndFindsThePushBack) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    int moving, off, backward;
    bool pushedBack;
    double longestFarOffSeconds;
  };
  const Step north{0.0, 10.0, 0.0};
  const Step pushSouth{180.0, 3.0, 0.0};
  const std::vector<Case> cases = {
      {"aligned", {north, north, north}, 3, 0, 0, false, 0.0},
      {"standing, the nose turning", {{90.0, 0.5, 90.0}, {90.0, 0.5, 180.0}}, 0, 0, 0, false, 0.0},
      {"a push-back, then forward", {pushSouth, pushSouth, pushSouth, north, north}, 5, 0, 0, true, 0.0},
      {"a push-back after a stop", {pushSouth, {0.0, 0.0, 0.0}, pushSouth, north}, 3, 0, 0, true, 0.0},
      {"backward after moving forward", {north, {180.0, 5.0, 0.0}, {180.0, 5.0, 0.0}}, 3, 2, 2, false, 0.0},
      {"sliding sideways",
       {north, {60.0, 10.0, 0.0}, {60.0, 10.0, 10.0}, {60.0, 10.0, 30.0}, {60.0, 10.0, 60.0}},
       5,
       3,
       0,
       false,
       2.0},
      {"off but slow", {{60.0, 5.0, 0.0}, {60.0, 5.0, 0.0}}, 2, 2, 0, false, 0.0},
      {"a jump onto a stand", {{45.0, 80.0, 0.0}, {0.0, 0.0, 0.0}}, 0, 0, 0, false, 0.0},
  };
  for (const Case& c : cases) {
    const groundcheck::Report report = groundcheck::check({{"TEST1", track(c.steps)}}, {});
    const auto found = report.aircraft.find("TEST1");
    const groundcheck::AircraftReport r =
        found == report.aircraft.end() ? groundcheck::AircraftReport{} : found->second;
    EXPECT_EQ(r.movingSamples, c.moving) << c.what;
    EXPECT_EQ(r.offSamples, c.off) << c.what;
    EXPECT_EQ(report.backwardSamples, c.backward) << c.what;
    EXPECT_EQ(r.pushedBack, c.pushedBack) << c.what;
    EXPECT_DOUBLE_EQ(r.longestFarOffSeconds(), c.longestFarOffSeconds) << c.what;
  }
}

}  // namespace
