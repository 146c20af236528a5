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
//
// Besides the session's own noise ("session", the default) the noisy session comes in other kinds
// of feed, each as receivers of some make give it (noisyKinds): their lines scatter from 2 to
// 10 m, some with an error that wanders over tens of seconds, some with a point now and then
// 30-50 m off, lines every 1 to 10 s, the true heading from the nose, from the track or missing.
// Those kinds also carry more flights: a light aircraft taxiing slowly with tight turns and
// backtracking on the runway with a 180 degree turn, a helicopter hover-taxiing between pads, one
// landing on its pad and standing, and an airliner on a long straight at 25 kt. Seed 0 gives a
// kind's flights without noise, each reporting every second (every 2 s the session's own): the
// exact feed its draws are judged against.
inline constexpr unsigned long long kNoisySeed = 20261208;
struct NoisyKind {
  std::string name;
  std::string what;  // one line for people
  double jitterMinM = 3.0;
  double jitterMaxM = 8.0;
  double headingDeg = 2.0;
  double wanderM = 0.0;
  double wanderSeconds = 30.0;
  double outlierShare = 0.0;
  Noise::Heading heading = Noise::Heading::Nose;
  int reportSeconds = 2;
  int reportMaxSeconds = 0;  // above 0: uneven gaps of 1 to this many seconds
  bool moreFlights = true;
};
const std::vector<NoisyKind>& noisyKinds();
// The kind of that name; throws std::invalid_argument naming the kinds when there is none.
const NoisyKind& noisyKind(const std::string& name);
inline const char* const kSessionKind = "session";
SessionSettings noisySettings(unsigned long long seed = kNoisySeed, const std::string& kind = kSessionKind);
std::vector<Flight> noisyFlights(const AirportFile& airport, const std::string& kind = kSessionKind);
std::string makeNoisySession(const std::filesystem::path& airportFile, unsigned long long seed = kNoisySeed,
                             const std::string& kind = kSessionKind);

// The layout, for the session's checks: the runway's thresholds (15 first) in the session's frame.
struct Runway {
  Vec threshold15;
  Vec threshold33;
};
Runway runway();

}  // namespace rtsession::lows
