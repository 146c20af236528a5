// Makes the replay session tools/rt_replay/session-lows.rtrec that the run command plays: invented
// traffic at Salzburg (LOWS), where the default simulator scenario parks the user, reported every
// 2 s in RealTraffic's traffic-line format, with a QNH datagram every 10 s. No real traffic data
// is in it; its first comment line says so.
//
//   ambv_make_session [--noisy [--kind K] [--seed N]] <airport file> <output file>
//   ambv_make_session data/airports/archive/stock/LOWS.xml tools/rt_replay/session-lows.rtrec
//   ambv_make_session --noisy data/airports/archive/stock/LOWS.xml tools/rt_replay/session-lows-noisy.rtrec
//
// --noisy makes the noisy variant (lows_session.h): other flights, heard as receivers hear them.
// --seed draws its noise anew (any number but 0); without it the draw is the stored session's.
// --kind names the kind of noise and its flights (lows_session.h, noisyKinds: session, fine,
// drift, track, sparse, rough); the default is the session's own.
//
// How the session is laid out (to make one for another airport, copy lows_session.cpp and
// change its layout and flight lists; session_maker.h does the rest):
//
// - Frame. Everything is placed in metres east and north of the airport's reference point. The
//   runway is given by its two thresholds; the taxiways by distances along the runway from one
//   threshold and across from its centre line (the parallel taxiway, the exit and the connectors
//   to the aprons); each apron's taxilane runs a fixed distance behind its row of stands. The
//   stands themselves (place, heading, radius, cargo and heli marks) are read from the airport
//   file, so the aircraft stand exactly where the program's own stand list puts them.
// - Flights. A flight is a track of sections: standing still (parked, engine start, to the end
//   of the session), moving on the ground forwards or backwards (push-back), or flying. A moving
//   section goes through waypoints joined by straight lines with arcs in the corners (a given
//   radius on the ground, a 25 degree bank in the air); its speed changes at constant
//   acceleration from waypoint to waypoint and its altitude linearly with the distance, so
//   speeds, headings, vertical rates and turn rates in the lines follow from the geometry.
// - Arrivals fly from their entry point over a base leg onto a 3 degree final, touch down 300 m
//   past the threshold, brake to the exit, taxi to a stand that fits them and stand there, still
//   reporting, to the end of the session. Each is placed in the session by its touch-down time.
// - Departures stand on their stand from the session's start, push back at their off-block time
//   (backwards onto the taxilane, round to face the way out), stand 12 s for the engines, taxi to
//   the runway, roll and lift off at their type's speed and climb out along legs until they leave
//   the picture (38 nm).
// - The helicopter flies onto its heli stand and stays; the overflights cross at cruise level.
// - Sequencing is by hand: touch-down and off-block times are chosen so that one aircraft at a
//   time uses the runway and no two flights share a stand or come closer than their wing spans
//   allow; tests/rt_replay checks this, with what else the session must hold.
// - On the ground the lines carry the ground flag (field 6), altitude 0 and no airspeed; in the
//   air the altitude, true and indicated airspeed, roll and true heading. Origin and destination
//   are IATA codes (none for the light aircraft and the helicopter, as for most of such flights).
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "lows_session.h"

namespace {

struct Options {
  bool noisy = false;
  unsigned long long seed = rtsession::lows::kNoisySeed;
  std::string kind = rtsession::lows::kSessionKind;
  std::string airportFile;
  std::string output;
};

bool parse(int argc, char** argv, Options& o) {
  std::vector<std::string> files;
  bool seeded = false;
  bool kinded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--noisy") {
      o.noisy = true;
    } else if (a == "--seed") {
      if (i + 1 >= argc) return false;
      const std::string text = argv[++i];
      char* end = nullptr;
      o.seed = std::strtoull(text.c_str(), &end, 10);
      // 0 is no noise at all: the smooth feed under the noisy session's name.
      if (text.empty() || text[0] == '-' || *end != '\0' || o.seed == 0) return false;
      seeded = true;
    } else if (a == "--kind") {
      if (i + 1 >= argc) return false;
      o.kind = argv[++i];
      kinded = true;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2 || ((seeded || kinded) && !o.noisy)) return false;
  o.airportFile = files[0];
  o.output = files[1];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::cerr << "usage: ambv_make_session [--noisy [--kind K] [--seed N]] <airport file> <output file>\n";
    return 2;
  }
  std::string text;
  try {
    text = o.noisy ? rtsession::lows::makeNoisySession(o.airportFile, o.seed, o.kind) : rtsession::lows::makeSession(o.airportFile);
  } catch (const std::exception& e) {
    std::cerr << "ambv_make_session: " << e.what() << "\n";
    return 1;
  }
  const std::string temporary = o.output + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.good()) {
      std::cerr << "ambv_make_session: cannot write " << temporary << "\n";
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), o.output.c_str()) != 0) {
    std::cerr << "ambv_make_session: cannot replace " << o.output << "\n";
    return 1;
  }
  return 0;
}
