// The replay tool's treatment of a traffic line: its feed time moved to the moment of sending,
// its speeds and rates scaled with the replay's speed, and new aircraft ids in later rounds.
#include <gtest/gtest.h>

#include <cstdlib>

#include "session.h"

namespace {

// A session line of the made-up Salzburg session, recorded at 1780000002.
const std::string kLine =
    "RTTFC,4860101,47.762443,13.027342,1940,-706,0,328.8,133.0,DLH5YA,A20N,D-AINA,FRA,SZG,1780000002,0,LH1710,"
    "adsb_icao,2048,128,-1,0.202,1.5,0.0,324.3,328.8,-706,none,A3";

TEST(ReplayedTrafficLine, MovesTheFeedTimeScalesSpeedsAndRatesAndRenumbersLaterRounds) {
  struct Case {
    double speed;
    unsigned round;
    const char* time;
    const char* hex;
    const char* groundSpeed;
    const char* verticalRate;
    const char* turnRate;
  };
  const Case cases[] = {
      {1.0, 0, "1900000002", "4860101", "133.0", "-706", "1.5"},
      {1.0, 1, "1900000002", "4960101", "133.0", "-706", "1.5"},
      {1.5, 0, "1900000001.33", "4860101", "199.5", "-1059.0", "2.2"},
      {0.5, 2, "1900000004", "5060101", "66.5", "-353.0", "0.8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    const std::string out = rtreplay::replayedTrafficLine(kLine, 1780000000, 1900000000, c.speed, c.round);
    EXPECT_EQ(rtreplay::field(out, rtreplay::kTimestampField), c.time);
    EXPECT_EQ(rtreplay::field(out, rtreplay::kHexIdField), c.hex);
    EXPECT_EQ(rtreplay::field(out, 8), c.groundSpeed);
    EXPECT_EQ(rtreplay::field(out, 5), c.verticalRate);
    EXPECT_EQ(rtreplay::field(out, 22), c.turnRate);
    // Positions, headings and a missing airspeed (-1) stay as they are.
    for (const std::size_t i : {2u, 3u, 4u, 7u, 20u, 25u, 28u}) EXPECT_EQ(rtreplay::field(out, i), rtreplay::field(kLine, i));
  }
}

TEST(ReplayedTrafficLine, LinesTwoSecondsApartStayMoreThanASecondApartBelowDoubleSpeed) {
  for (const double speed : {1.0, 1.25, 1.5, 1.9}) {
    double previous = -1.0;
    for (long long recorded = 1780000000; recorded < 1780000040; recorded += 2) {
      std::string line = kLine;
      rtreplay::replaceField(line, rtreplay::kTimestampField, std::to_string(recorded));
      const double t = std::atof(
          rtreplay::field(rtreplay::replayedTrafficLine(line, 1780000000, 1900000000, speed, 0), rtreplay::kTimestampField).c_str());
      EXPECT_TRUE(previous < 0.0 || t - previous > 1.0) << "at speed " << speed;
      previous = t;
    }
  }
}

}  // namespace
