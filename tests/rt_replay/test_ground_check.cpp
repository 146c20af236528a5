// The ground-motion check's rules on made-up tracks: what counts as moving, as off its motion, as
// backward, and what a push-back is; and, against a made-up feed, where a push-back ends, how far a
// standing aircraft moves and how steady the nose is on a straight leg.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
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

// The feed of a flight TEST1 that moves as the samples do, one line every 2 s from session second 0.
std::string feedOf(const std::vector<Sample>& samples, const std::vector<Step>& steps) {
  std::string out;
  for (std::size_t i = 0; i < samples.size(); i += 2) {
    const double kt = i < 2 ? 0.0 : steps[i - 2].kt;
    char line[400];
    std::snprintf(line, sizeof line,
                  "%zu 49005 RTTFC,4860999,%.7f,%.7f,0,0,1,0.0,%.1f,TEST1,A320,D-ATST,SZG,DUS,%zu,0,,adsb_icao,0,0,-1,0,"
                  "0,0,0,%.1f,0,none,A3\n",
                  i * 1000, samples[i].lat, samples[i].lon, kt, 1780000000 + i, samples[i].headingDeg);
    out += line;
  }
  return out;
}

groundcheck::Feed feedOf(const std::vector<Step>& fed) {
  std::istringstream session(feedOf(track(fed), fed));
  return groundcheck::readFeed(session);
}

void repeat(std::vector<Step>& to, Step step, int seconds) { to.insert(to.end(), seconds, step); }

// The AI's steps: the feed's, with `instead` from step `from` on; checked against the feed on the
// noisy session's rules, the feed shown from the simulator's start.
groundcheck::Report checkInstead(const std::vector<Step>& fed, const groundcheck::Feed& feed, std::size_t from,
                                 const std::vector<Step>& instead, groundcheck::Limits& limits) {
  std::vector<Step> steps(fed.begin(), fed.begin() + static_cast<long>(from));
  steps.insert(steps.end(), instead.begin(), instead.end());
  steps.insert(steps.end(), fed.begin() + static_cast<long>(std::min(fed.size(), from + instead.size())), fed.end());
  limits = groundcheck::Limits::noisyFeed();
  limits.feedShownSecond = 0.0;
  return groundcheck::check({{"TEST1", track(steps)}}, feed, limits);
}

TEST(GroundCheck, MeasuresThePushBacksEndTheStandingDriftAndTheNoseOnStraightLegsAgainstTheFeed) {
  // The feed: standing 40 s, pushed back 30 s at 3 kt, standing 40 s, taxiing straight on at 10 kt
  // for 40 s.
  std::vector<Step> fed;
  repeat(fed, {0.0, 0.0, 0.0}, 38);
  repeat(fed, {180.0, 3.0, 0.0}, 30);
  repeat(fed, {0.0, 0.0, 0.0}, 40);
  repeat(fed, {0.0, 10.0, 0.0}, 40);
  const groundcheck::Feed feed = feedOf(fed);

  struct Case {
    const char* what;
    std::size_t from;  // the AI's steps: the feed's, with these from here on
    std::vector<Step> instead;
    double pushEndGapM, standDriftM, standTurnDeg, straightStdDeg;
    int failures;
  };
  std::vector<Step> swinging;
  for (int i = 0; i < 40; ++i) swinging.push_back({0.0, 10.0, i % 10 < 5 ? 8.0 : -8.0});
  const std::vector<Case> cases = {
      {"as the feed", 0, {}, 0.0, 0.0, 0.0, 0.0, 0},
      {"pushing on 20 m past the feed's end", 68, std::vector<Step>(4, {180.0, 9.72, 0.0}), 20.0, 0.0, 0.0, 0.0, 1},
      {"creeping 3 m while the feed stands", 86, std::vector<Step>(12, {90.0, 0.5, 0.0}), 0.0, 3.1, 0.0, 0.0, 1},
      {"turning its nose 20 degrees while the feed stands", 86, std::vector<Step>(12, {0.0, 0.0, 20.0}), 0.0, 0.0, 20.0,
       0.0, 0},
      {"the nose swinging 8 degrees either way on the straight leg", 108, swinging, 0.0, 0.0, 0.0, 7.2, 1},
  };
  for (const Case& c : cases) {
    groundcheck::Limits limits;
    const groundcheck::Report report = checkInstead(fed, feed, c.from, c.instead, limits);
    const groundcheck::AircraftReport& r = report.aircraft.at("TEST1");
    EXPECT_TRUE(r.pushedBack && r.feedPushKnown) << c.what;
    EXPECT_NEAR(r.pushEndGapM, c.pushEndGapM, 0.5) << c.what;
    EXPECT_EQ(r.stills, 2) << c.what;
    EXPECT_NEAR(r.standDriftM, c.standDriftM, 0.2) << c.what;
    EXPECT_NEAR(r.standTurnDeg, c.standTurnDeg, 0.1) << c.what;
    EXPECT_GE(r.straightSamples, 15) << c.what;
    EXPECT_NEAR(r.straightStdDeg, c.straightStdDeg, 0.5) << c.what;
    EXPECT_EQ(groundcheck::failures(report, limits).size(), static_cast<std::size_t>(c.failures)) << c.what;
  }
  // A record that ends during the push-back (10 s into it, some 30 m short of the feed's end) does not
  // judge it by where it stood then.
  groundcheck::Limits limits = groundcheck::Limits::noisyFeed();
  limits.feedShownSecond = 0.0;
  const groundcheck::Report cut =
      groundcheck::check({{"TEST1", track(std::vector<Step>(fed.begin(), fed.begin() + 48))}}, feed, limits);
  EXPECT_TRUE(cut.aircraft.at("TEST1").pushGoesOn);
  EXPECT_EQ(cut.pushBacksOff + cut.pushBacksFar, 0);
}

// Against the feed's motion: a nose standing the wrong way before a turn, a pivot on the spot while
// the feed rolls, and moving on after the feed stops.
TEST(GroundCheck, MeasuresTheNoseBeforeATurnAPivotWhileTheFeedRollsAndMovingOnAfterItStops) {
  // The feed: standing 10 s, north at 10 kt for 40 s, turning right at 15 deg/s to east, east for
  // 20 s, standing 40 s.
  std::vector<Step> fed;
  repeat(fed, {0.0, 0.0, 0.0}, 8);
  repeat(fed, {0.0, 10.0, 0.0}, 40);
  for (int i = 1; i <= 6; ++i) fed.push_back({15.0 * i, 10.0, 15.0 * i});
  repeat(fed, {90.0, 10.0, 90.0}, 20);
  repeat(fed, {90.0, 0.0, 90.0}, 40);
  const groundcheck::Feed feed = feedOf(fed);

  std::vector<Step> pivoting;
  for (int i = 1; i <= 4; ++i) pivoting.push_back({0.0, 0.0, 20.0 * i});
  // What the AI does instead of the feed from a step on, and the figures: the nose the wrong way,
  // the pivot, moving on after the stop.
  const struct {
    const char* what;
    std::size_t from;
    std::vector<Step> instead;
    std::array<double, 3> expected;
  } cases[] = {
      // The line before the turn and the first one in it make a chord 7.5 degrees right of the
      // straight: a nose on the straight stands that far the other way.
      {"as the feed", 0, {}, {7.5, 0.0, 0.0}},
      {"the nose 30 degrees left before the right turn", 42, std::vector<Step>(5, {0.0, 10.0, 330.0}), {37.5, 0.0, 0.0}},
      {"standing, turning its nose 80 degrees while the feed rolls", 20, pivoting, {7.5, 80.0, 0.0}},
      // The feed stands from 76 s: 8 of the 12 steps come from 5 s later.
      {"crawling 5.6 m on after the feed stops", 76, std::vector<Step>(12, {90.0, 0.9, 90.0}), {7.5, 0.0, 3.7}},
  };
  for (const auto& c : cases) {
    groundcheck::Limits limits;
    const groundcheck::AircraftReport r = checkInstead(fed, feed, c.from, c.instead, limits).aircraft.at("TEST1");
    EXPECT_NEAR(r.wrongWayDeg, c.expected[0], 0.5) << c.what;
    EXPECT_NEAR(r.pivotDeg, c.expected[1], 1.0) << c.what;
    EXPECT_NEAR(r.stopMovesM, c.expected[2], 0.5) << c.what;
  }
}

}  // namespace
