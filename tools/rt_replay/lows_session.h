#pragma once
// The made-up session at Salzburg (LOWS) that the run command replays: its airport layout and
// flights (tools/rt_replay/make_session.cpp describes the layout).
#include <filesystem>
#include <string>
#include <vector>

#include "session_maker.h"

namespace rtsession::lows {

// The session's settings: title, frame around the airport, length, QNH.
SessionSettings settings();
// The flights, their stands taken from the airport file.
std::vector<Flight> flights(const AirportFile& airport);
// The session file's text.
std::string makeSession(const std::filesystem::path& airportFile);

// The noisy variant: other flights at the same airport over a shorter span, as receivers hear them
// (positions on the ground scattered, noses a little off, tracks from the scattered positions, some
// flights without a true heading, a gap, a line sent twice and one sent late): push-backs ending
// with the nose right, left and straight back at a tug's pace, a runway backtrack with its turn
// and line-up, a helicopter standing on its pad before it lifts off and one hover-taxiing.
// The seed draws the noise; the stored noisy session is the default seed's draw, and any other
// (not 0) is another draw of the same kinds of noise over the same flights.
inline constexpr unsigned long long kNoisySeed = 20261208;
SessionSettings noisySettings(unsigned long long seed = kNoisySeed);
std::vector<Flight> noisyFlights(const AirportFile& airport);
std::string makeNoisySession(const std::filesystem::path& airportFile, unsigned long long seed = kNoisySeed);

// The layout, for the session's checks: the runway's thresholds (15 first) in the session's frame.
struct Runway {
  Vec threshold15;
  Vec threshold33;
};
Runway runway();

}  // namespace rtsession::lows
