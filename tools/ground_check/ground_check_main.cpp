// Checks how the AI aircraft move on the ground in a run (docs/ground-motion.md): records the
// stand-in simulator's state file once a second for some minutes, or reads such a recording, and
// prints per aircraft and in total the heading against the direction of motion, backward moves
// outside a push-back, the push-backs' ends against the replayed feed's, how far aircraft move
// while their feed stands still and how steady their noses are on the feed's straight legs.
//
//   ambv_ground_check [--state run/simulator-state.json] [--minutes 12] [--record FILE]
//                     [--samples FILE] [--session tools/rt_replay/session-lows.rtrec] [--speed 1]
//                     [--shown 34] [--noisy]
//
// --record keeps the states it read, one per line, for a later --samples. --speed is the replay's
// (ambv_rt_replay --speed). --shown is the simulator second at which the session's start shows (the
// replay's start plus the feed's 30 s). --noisy holds the run to the noisy session's rules as well
// (docs/ground-motion.md). Exits 1 when a rule of the check is broken.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "ground_check.h"

namespace {

struct Options {
  std::string state = "run/simulator-state.json";
  double minutes = 12.0;
  std::string record;
  std::string samples;
  std::string session = "tools/rt_replay/session-lows.rtrec";
  double speed = 1.0;
  double shown = 34.0;
  bool noisy = false;
};

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--noisy") {
      o.noisy = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (a == "--state") {
      o.state = value;
    } else if (a == "--minutes") {
      o.minutes = std::atof(value.c_str());
      if (!(o.minutes > 0.0)) return false;
    } else if (a == "--record") {
      o.record = value;
    } else if (a == "--samples") {
      o.samples = value;
    } else if (a == "--session") {
      o.session = value;
    } else if (a == "--shown") {
      o.shown = std::atof(value.c_str());
    } else if (a == "--speed") {
      o.speed = std::atof(value.c_str());
      if (!(o.speed > 0.0 && o.speed <= 100.0)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// Reads the state file each 200 ms for the minutes, taking each state once (the stand-in
// rewrites it every second).
groundcheck::Recording record(const Options& o) {
  groundcheck::Recording recording;
  std::ofstream keep;
  if (!o.record.empty()) keep.open(o.record, std::ios::binary | std::ios::trunc);
  double last = -1.0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(60.0 * o.minutes);
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream in(o.state, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const nlohmann::json state = nlohmann::json::parse(text.str(), nullptr, false);
    if (!state.is_discarded() && state.is_object() && state.value("elapsedSeconds", -1.0) != last) {
      last = state.value("elapsedSeconds", -1.0);
      groundcheck::addState(state, recording);
      if (keep) keep << state.dump() << '\n' << std::flush;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return recording;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::cerr << "usage: ambv_ground_check [--state FILE] [--minutes N] [--record FILE] [--samples FILE] "
                 "[--session FILE] [--speed X] [--shown SECONDS] [--noisy]\n";
    return 2;
  }
  std::ifstream session(o.session, std::ios::binary);
  if (!session) {
    std::cerr << "ambv_ground_check: cannot read " << o.session << "\n";
    return 2;
  }
  const groundcheck::Feed feed = groundcheck::readFeed(session);
  groundcheck::Recording recording;
  if (!o.samples.empty()) {
    std::ifstream in(o.samples, std::ios::binary);
    if (!in) {
      std::cerr << "ambv_ground_check: cannot read " << o.samples << "\n";
      return 2;
    }
    recording = groundcheck::readRecording(in);
  } else {
    recording = record(o);
  }
  groundcheck::Limits limits = o.noisy ? groundcheck::Limits::noisyFeed() : groundcheck::Limits{};
  limits.timeScale = o.speed;
  limits.feedShownSecond = o.shown;
  const groundcheck::Report report = groundcheck::check(recording, feed, limits);
  std::cout << groundcheck::format(report, limits);
  const auto broken = groundcheck::failures(report, limits);
  for (const std::string& f : broken) std::cout << "FAIL " << f << "\n";
  return broken.empty() ? 0 : 1;
}
