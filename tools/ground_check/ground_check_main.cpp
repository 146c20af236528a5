// Checks how the AI aircraft move on the ground in a run (docs/ground-motion.md): records the
// stand-in simulator's state file once a second for some minutes, or reads such a recording, or
// replays the session through the program in seconds, and prints per aircraft and in total the
// heading against the direction of motion, backward moves outside a push-back, the push-backs'
// ends against the replayed feed's, how far aircraft move while their feed stands still and how
// steady their noses are on the feed's straight legs.
//
//   ambv_ground_check [--state run/simulator-state.json] [--minutes 12] [--record FILE]
//                     [--samples FILE] [--session tools/rt_replay/session-lows.rtrec] [--speed 1]
//                     [--shown 34] [--noisy]
//   ambv_ground_check --replay [--seconds S] [--session FILE] [--noisy]
//   ambv_ground_check --seed N [--kind K] [--seconds S]
//
// --record keeps the states it read, one per line, for a later --samples. --speed is the replay's
// (ambv_rt_replay --speed). --shown is the simulator second at which the session's start shows (the
// replay's start plus the feed's 30 s). --noisy holds the run to the noisy session's rules as well
// (docs/ground-motion.md) and reads tools/rt_replay/session-lows-noisy.rtrec unless --session names
// another; a noisy session's paths, which the check holds the aircraft to, are those of the exact
// session its noise was drawn over (ambv_make_session --noisy with no noise). --replay plays the session through the program inside this process on a virtual clock
// (ground_replay.h), S seconds of it (all by default), and checks what the simulator showed.
// --seed does so with the noisy session's noise drawn anew with the seed (any number but 0; the
// session ambv_make_session --noisy --seed N makes). --kind names the kind of noise (lows_session.h,
// noisyKinds) of the --seed draw, or of the --noisy session read; a kind other than the session's
// own is judged wholly by its exact session (groundcheck::takeExact). Run from the repository's root. Exits 1 when a
// rule of the check is broken, 2 on a wrong call or when the replay did not run.
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "ground_check.h"
#include "ground_replay.h"
#include "lows_session.h"
#include "support/test_support.h"

namespace {

struct Options {
  std::string state = "run/simulator-state.json";
  double minutes = 12.0;
  std::string record;
  std::string samples;
  std::string session;
  double speed = 1.0;
  double shown = 34.0;
  bool noisy = false;
  bool replay = false;
  double seconds = 0.0;
  unsigned long long seed = 0;
  std::string kind = rtsession::lows::kSessionKind;
};

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--noisy" || a == "--replay") {
      (a == "--noisy" ? o.noisy : o.replay) = true;
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
    } else if (a == "--seconds") {
      o.seconds = std::atof(value.c_str());
      if (!(o.seconds > 0.0)) return false;
    } else if (a == "--kind") {
      o.kind = value;
    } else if (a == "--seed") {
      o.seed = std::strtoull(value.c_str(), nullptr, 10);
      if (o.seed == 0 || value[0] == '-') return false;
      o.noisy = o.replay = true;
    } else {
      return false;
    }
  }
  // The replay runs in real time's steps, from the session it reads or draws.
  if (o.kind != rtsession::lows::kSessionKind && !o.noisy) return false;
  if (o.replay && (!o.samples.empty() || o.speed != 1.0 || (o.seed != 0 && !o.session.empty()))) return false;
  if (o.session.empty()) {
    o.session = o.noisy ? "tools/rt_replay/session-lows-noisy.rtrec" : "tools/rt_replay/session-lows.rtrec";
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

// The session's replay through the program, or nothing when it did not run (said on standard
// error); the simulator second at which the session's start shows goes to `shown`.
std::optional<groundcheck::Recording> replay(const Options& o, double& shown) {
  const coretest::TempFolder folder;
  groundreplay::Options replay;
  replay.session = std::filesystem::absolute(o.session);
  replay.sessionSeconds = o.seconds;
  replay.folder = folder / "installation";
  groundreplay::Run run = groundreplay::replaySession(replay);
  if (!run.ran()) {
    std::cerr << "ambv_ground_check: the replay did not run: " << run.failure << "\n" << run.log;
    return std::nullopt;
  }
  shown = run.feedShownSecond;
  return std::move(run.recording);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::cerr << "usage: ambv_ground_check [--state FILE] [--minutes N] [--record FILE] [--samples FILE] "
                 "[--session FILE] [--speed X] [--shown SECONDS] [--noisy] [--replay [--seconds S]] [--seed N] [--kind K]\n";
    return 2;
  }
  // A new draw of the noisy session's noise.
  std::optional<coretest::TempFolder> drawn;
  if (o.seed != 0) {
    o.session = (drawn.emplace() / "session.rtrec").string();
    try {
      coretest::writeFile(o.session, rtsession::lows::makeNoisySession("data/airports/archive/stock/LOWS.xml", o.seed, o.kind));
    } catch (const std::exception& e) {
      std::cerr << "ambv_ground_check: " << e.what() << "\n";
      return 2;
    }
  }
  std::ifstream session(o.session, std::ios::binary);
  if (!session) {
    std::cerr << "ambv_ground_check: cannot read " << o.session << "\n";
    return 2;
  }
  groundcheck::Feed feed = groundcheck::readFeed(session);
  if (o.noisy) {
    // Scattered lines are no path: the noise was drawn over the exact session's flights.
    std::istringstream exact;
    try {
      exact.str(rtsession::lows::makeNoisySession("data/airports/archive/stock/LOWS.xml", 0, o.kind));
    } catch (const std::exception& e) {
      std::cerr << "ambv_ground_check: " << e.what() << "\n";
      return 2;
    }
    if (o.kind == rtsession::lows::kSessionKind) {
      groundcheck::takePaths(feed, exact);
    } else {
      groundcheck::takeExact(feed, exact);
    }
  }
  groundcheck::Recording recording;
  if (!o.samples.empty()) {
    std::ifstream in(o.samples, std::ios::binary);
    if (!in) {
      std::cerr << "ambv_ground_check: cannot read " << o.samples << "\n";
      return 2;
    }
    recording = groundcheck::readRecording(in);
  } else if (o.replay) {
    auto replayed = replay(o, o.shown);
    if (!replayed) return 2;
    recording = std::move(*replayed);
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
