// Ground motion over draws of the noisy session's noise, of the other kinds of noisy feed and over
// both stored sessions, each played through the program in a process of its own on a virtual clock
// (tools/ground_check/ground_replay.h) and scored by the ground check (docs/ground-motion.md).
// Every draw's figures are printed for people to judge, and per kind the worst figure of each of
// the noisy kinds' rules; a draw is held to having run and made the aircraft of its flights and to
// the noisy kinds' rules that every draw keeps, the stored sessions and the session's own draws
// also to keeping near their feed's path (the check's path rule). The real-time end-to-end runs
// of the stored sessions remain the judges of the whole program.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/geometry.h"
#include "ground_replay.h"
#include "lows_session.h"
#include "session.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = AMBV_SOURCE_DIR;
const fs::path kAirportFile = kSource / "data/airports/archive/stock/LOWS.xml";
// Draws of the noisy session's noise besides the stored one's; of each other kind of noise.
constexpr unsigned long long kSeeds[] = {1, 2, 3, 4, 5};
constexpr unsigned long long kKindSeeds[] = {1, 2, 3};
// The smooth session through the span its real-time run checks: the first departures' push-backs,
// taxi starts and line-up, and three turn-offs.
constexpr double kSmoothSessionSeconds = 400.0;

struct Draw {
  std::string name;
  fs::path session;
  double seconds = 0.0;  // 0: all of it
  bool noisy = true;
  fs::path exactSession;  // whose paths a noisy draw is held to: the flights its noise was drawn over
  std::string kind = rtsession::lows::kSessionKind;
  // Lines another sender puts beside the session's; with them, the arrival must still reach its stand.
  decltype(groundreplay::Options::beside) beside = {};
};

// What a draw's process hands back.
struct Scored {
  std::string failure;
  std::string report;                // groundcheck::format
  std::vector<std::string> broken;   // groundcheck::failures, shown only
  std::set<std::string> callsigns;   // the program-made aircraft the simulator showed
  int failedCreations = -1;
  nlohmann::json figures;            // the summary line's figures
  nlohmann::json ends;               // each aircraft's last sample (latitude, longitude, second), its objects
  double lastSecond = 0.0;           // of the recording
};

// The figures of the noisy kinds' rules, shown per kind (the worst over its draws), with the
// limit each is to keep: the nose the wrong way before a turn, an aeroplane's nose turn in one
// second, its turn standing while its feed rolls, straight-leg nose error (s.d. and largest),
// backward steps outside a push-back, runs far off above 6 kt, a helicopter's drift and nose
// turn while its feed stands, its distance from its feed's path and how far it moves on after
// its feed stops, and any aircraft's distance from its feed's path. A pivot counts from 10 deg, a
// run far off from the check's 3 s; a helicopter keeps to its feed's path within the kind's
// scatter (its largest jitter and twice its wander: limit below 0). The rules every draw keeps are
// held; the others are shown only.
struct Rule {
  const char* key;
  const char* what;
  double limit;
  bool aeroplanes;  // whom it judges
  bool helicopters;
  bool held;
};
const Rule kRules[] = {
    {"wrongWayDeg", "nose the wrong way before a turn (deg)", 15.0, true, false, false},
    {"noseTurnDeg", "nose turn in one second (deg)", 30.0, true, false, true},
    {"pivotDeg", "pivot standing while the feed rolls (deg)", 10.0, true, false, false},
    {"straightStdDeg", "straight-leg nose error s.d. (deg)", 4.0, true, false, false},
    {"straightMaxDeg", "straight-leg largest nose error (deg)", 20.0, true, false, false},
    {"backwardSteps", "backward steps outside a push-back", 0.0, true, true, false},
    {"farOffSeconds", "longest run >45 deg off above 6 kt (s)", 3.0, true, true, false},
    {"standDriftM", "standing helicopter's drift (m)", 1.0, false, true, true},
    {"standTurnDeg", "standing helicopter's nose turn (deg)", 5.0, false, true, true},
    {"heliPathM", "helicopter off its feed's path on the ground (m)", -1.0, false, true, false},
    {"stopMovesM", "helicopter moving on after its feed stops (m)", 1.0, false, true, true},
    {"pathM", "any aircraft off its feed's path (m)", 25.0, true, true, false},
};

nlohmann::json ruleFigures(const groundcheck::AircraftReport& a) {
  int backward = 0;
  for (const auto& s : a.backwardRuns) backward += s.samples;
  return {{"helicopter", a.rotorcraft},
          {"wrongWayDeg", a.wrongWayDeg},
          {"noseTurnDeg", a.fastestNoseTurnDeg},
          {"pivotDeg", a.pivotDeg},
          {"straightStdDeg", a.straightSamples > 0 ? a.straightStdDeg : 0.0},
          {"straightMaxDeg", a.straightMaxDeg},
          {"backwardSteps", backward},
          {"farOffSeconds", a.longestFarOffSeconds()},
          {"standDriftM", a.standDriftM},
          {"standTurnDeg", a.standTurnDeg},
          {"heliPathM", a.pathMaxM},
          {"stopMovesM", a.stopMovesM},
          {"pathM", a.pathMaxM}};
}

// One draw, in the calling (forked) process: replayed, scored and written to the file.
void scoreDraw(const Draw& d, const fs::path& folder, const fs::path& out) {
  groundreplay::Options o;
  o.session = d.session;
  o.sessionSeconds = d.seconds;
  o.folder = folder;
  o.beside = d.beside;
  const groundreplay::Run run = groundreplay::replaySession(o);
  nlohmann::json j;
  j["failure"] = run.failure;
  j["failedCreations"] = run.failedCreations;
  j["callsigns"] = nlohmann::json::array();
  double lastSecond = 0.0;
  for (const auto& [callsign, samples] : run.recording) {
    j["callsigns"].push_back(callsign);
    std::set<int> objects;
    for (const auto& sample : samples) objects.insert(sample.objectId);
    j["ends"][callsign] = {samples.back().lat, samples.back().lon, samples.back().second, objects.size()};
    lastSecond = std::max(lastSecond, samples.back().second);
  }
  j["lastSecond"] = lastSecond;
  groundcheck::Limits limits = d.noisy ? groundcheck::Limits::noisyFeed() : groundcheck::Limits{};
  const groundcheck::Report report =
      groundreplay::checkReplay(run, d.session, limits, d.exactSession, d.kind != rtsession::lows::kSessionKind);
  j["report"] = groundcheck::format(report, limits);
  j["broken"] = groundcheck::failures(report, limits);
  nlohmann::json& f = j["figures"];
  f["offShare"] = report.offShare();
  f["straightStdDeg"] = report.straightStdDeg;
  f["noseTurnDeg"] = report.fastestNoseTurnDeg;
  f["pathM"] = report.largestPathM;
  f["pathLimitM"] = limits.pathM;
  for (const auto& [callsign, a] : report.aircraft) {
    if (a.straightSamples > 0) f["straight"][callsign] = {a.straightStdDeg, a.straightMaxDeg};
    if (a.pathSamples > 0) f["path"][callsign] = {a.pathMaxM, a.pathP95M};
    f["rules"][callsign] = ruleFigures(a);
  }
  if (!run.ran()) j["log"] = run.log;
  std::ofstream(out) << j.dump();
}

Scored readScored(const fs::path& file) {
  Scored s;
  const auto j = nlohmann::json::parse(coretest::readFile(file), nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    s.failure = "the draw's process left no result";
    return s;
  }
  s.failure = j.value("failure", "");
  if (j.contains("log")) s.failure += "\n" + j["log"].get<std::string>();
  s.report = j.value("report", "");
  s.broken = j.value("broken", std::vector<std::string>{});
  s.callsigns = j.value("callsigns", std::set<std::string>{});
  s.failedCreations = j.value("failedCreations", -1);
  s.figures = j.value("figures", nlohmann::json::object());
  s.ends = j.value("ends", nlohmann::json::object());
  s.lastSecond = j.value("lastSecond", 0.0);
  return s;
}

// Every draw in a process of its own (the program's state is the process's), one after another.
std::vector<Scored> scoreDraws(const std::vector<Draw>& draws, const coretest::TempFolder& folder) {
  std::vector<Scored> out;
  for (std::size_t i = 0; i < draws.size(); ++i) {
    const fs::path own = folder / ("draw-" + std::to_string(i));
    fs::create_directories(own);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      scoreDraw(draws[i], own / "installation", own / "scored.json");
      ::_exit(0);
    }
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    out.push_back(readScored(own / "scored.json"));
    if (pid <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      out.back().failure = "the draw's process failed\n" + out.back().failure;
    }
  }
  return out;
}

// The flights that report at the airport from the session's start: the program must make each.
std::set<std::string> expectedCallsigns(const std::vector<rtsession::Flight>& flights) {
  std::set<std::string> out;
  for (const auto& f : flights) {
    if (f.startSecond <= 0.0 && f.kind != rtsession::Flight::Kind::Overflight) out.insert(f.id.callsign);
  }
  return out;
}

std::string summary(const std::string& name, const nlohmann::json& f) {
  char text[200];
  std::snprintf(text, sizeof text, "%-16s %5.1f%% off, nose turns up to %2.0f deg in 1 s, straight legs s.d. %4.1f deg:",
                name.c_str(), 100.0 * f.value("offShare", 0.0), f.value("noseTurnDeg", 0.0), f.value("straightStdDeg", 0.0));
  std::string line = text;
  if (f.contains("straight")) {
    for (const auto& [callsign, sd] : f["straight"].items()) {
      std::snprintf(text, sizeof text, " %s %.1f (up to %.0f)", callsign.c_str(), sd[0].get<double>(), sd[1].get<double>());
      line += text;
    }
  }
  line += "; off the path (largest, 95th percentile, m):";
  if (f.contains("path")) {
    for (const auto& [callsign, m] : f["path"].items()) {
      std::snprintf(text, sizeof text, " %s %.1f/%.1f", callsign.c_str(), m[0].get<double>(), m[1].get<double>());
      line += text;
    }
  }
  return line;
}

// Per kind, the worst of each rule's figure over its draws and the aircraft that gave it.
struct Worst {
  double figure = 0.0;
  std::string where;
};
using KindWorst = std::map<std::string, std::map<std::string, Worst>>;

void takeWorst(const std::string& kind, const std::string& draw, const nlohmann::json& figures, KindWorst& worst) {
  if (!figures.contains("rules")) return;
  for (const auto& [callsign, f] : figures["rules"].items()) {
    const bool helicopter = f.value("helicopter", false);
    for (const Rule& r : kRules) {
      if (helicopter ? !r.helicopters : !r.aeroplanes) continue;
      const double figure = f.value(r.key, 0.0);
      Worst& w = worst[kind][r.key];
      if (figure > w.figure || w.where.empty()) w = {figure, callsign + " " + draw};
    }
  }
}

std::string kindSummary(const KindWorst& worst) {
  std::string out;
  char text[240];
  for (const auto& [kind, rules] : worst) {
    out += "kind " + kind + ":\n";
    const auto& table = rtsession::lows::noisyKind(kind);
    for (const Rule& r : kRules) {
      const auto w = rules.find(r.key);
      if (w == rules.end()) continue;
      const double limit = r.limit >= 0.0 ? r.limit : table.jitterMaxM + 2.0 * table.wanderM;
      std::snprintf(text, sizeof text, "  %-50s %6.1f (limit %4.1f)%s  %s\n", r.what, w->second.figure, limit,
                    w->second.figure > limit ? " OVER" : "     ", w->second.where.c_str());
      out += text;
    }
  }
  return out;
}

// Attacks on the feed beside the smooth session: its arrival must still reach its stand.
const std::string kArrival = "DLH5YA";

using Beside = decltype(groundreplay::Options::beside);

double stampOf(const std::string& line) { return std::atof(rtreplay::field(line, rtreplay::kTimestampField).c_str()); }

// 5 lines a second of an aircraft far outside the traffic radius, stamped 400 s behind the feed
// (each its own, as a sender's clock gives them).
Beside staleStream() {
  return [last = 0.0, lastMs = std::int64_t{0}, template_ = std::string(), nextMs = std::int64_t{0}](
             std::int64_t ms, const std::vector<std::string>& sent) mutable -> std::vector<std::string> {
    for (const std::string& line : sent) {
      last = std::max(last, stampOf(line));
      lastMs = ms;
      template_ = line;
    }
    if (template_.empty() || ms < nextMs) return {};
    nextMs = ms + 200;
    std::string line = template_;
    rtreplay::replaceField(line, rtreplay::kHexIdField, "4999001");
    rtreplay::replaceField(line, 2, "10.0");
    rtreplay::replaceField(line, 3, "10.0");
    const double now = last + static_cast<double>(ms - lastMs) / 1000.0;
    rtreplay::replaceField(line, rtreplay::kTimestampField, rtreplay::feedTimeText(now - 400.0));
    return {line};
  };
}

// The arrival's line at 1:30 of the session (taxiing to its stand) sent again twice, stamped an
// hour and an hour and a second ahead.
Beside wildPair() {
  return [sentPair = false, start = -1.0](std::int64_t, const std::vector<std::string>& sent) mutable {
    std::vector<std::string> out;
    for (const std::string& line : sent) {
      if (start < 0.0) start = stampOf(line);
      if (sentPair || rtreplay::field(line, 9) != kArrival || stampOf(line) < start + 90.0) continue;
      sentPair = true;
      for (const double ahead : {3600.0, 3601.0}) {
        std::string wild = line;
        rtreplay::replaceField(wild, rtreplay::kTimestampField, rtreplay::feedTimeText(stampOf(line) + ahead));
        out.push_back(wild);
      }
    }
    return out;
  };
}

// Where the arrival's feed ends within the replayed span.
std::pair<double, double> feedEnd(const fs::path& session, double seconds) {
  std::ifstream in(session);
  std::string error;
  std::pair<double, double> end{0.0, 0.0};
  for (const rtreplay::Datagram& d : rtreplay::readSession(in, error)) {
    if (d.offsetMs > seconds * 1000.0 || rtreplay::field(d.payload, 9) != kArrival) continue;
    end = {std::atof(rtreplay::field(d.payload, 2).c_str()), std::atof(rtreplay::field(d.payload, 3).c_str())};
  }
  return end;
}

TEST(GroundReplay, EveryDrawOfTheNoiseAndBothStoredSessionsRunAndMakeTheirAircraft) {
  const coretest::TempFolder folder;
  const fs::path exact = folder / "noisy-exact.rtrec";
  coretest::writeFile(exact, rtsession::lows::makeNoisySession(kAirportFile, 0));
  std::vector<Draw> draws{{"smooth (stored)", kSource / "tools/rt_replay/session-lows.rtrec", kSmoothSessionSeconds, false, {}},
                          {"noisy (stored)", kSource / "tools/rt_replay/session-lows-noisy.rtrec", 0.0, true, exact}};
  const fs::path smoothSession = draws.front().session;
  draws.push_back({"smooth, stale lines beside", smoothSession, kSmoothSessionSeconds, false, {}, rtsession::lows::kSessionKind, staleStream()});
  draws.push_back({"smooth, a wild pair beside", smoothSession, kSmoothSessionSeconds, false, {}, rtsession::lows::kSessionKind, wildPair()});
  for (const unsigned long long seed : kSeeds) {
    const fs::path session = folder / ("noisy-" + std::to_string(seed) + ".rtrec");
    coretest::writeFile(session, rtsession::lows::makeNoisySession(kAirportFile, seed));
    draws.push_back({"noisy seed " + std::to_string(seed), session, 0.0, true, exact});
  }
  // The other kinds, each judged by its own exact feed.
  for (const auto& kind : rtsession::lows::noisyKinds()) {
    if (kind.name == rtsession::lows::kSessionKind) continue;
    const fs::path kindExact = folder / (kind.name + "-exact.rtrec");
    coretest::writeFile(kindExact, rtsession::lows::makeNoisySession(kAirportFile, 0, kind.name));
    for (const unsigned long long seed : kKindSeeds) {
      const fs::path session = folder / (kind.name + "-" + std::to_string(seed) + ".rtrec");
      coretest::writeFile(session, rtsession::lows::makeNoisySession(kAirportFile, seed, kind.name));
      draws.push_back({kind.name + " seed " + std::to_string(seed), session, 0.0, true, kindExact, kind.name});
    }
  }
  const std::vector<Scored> scored = scoreDraws(draws, folder);

  const rtsession::AirportFile lows = rtsession::readAirportFile(kAirportFile);
  const std::set<std::string> smooth = expectedCallsigns(rtsession::lows::flights(lows));
  std::string summaries;
  KindWorst worst;
  for (std::size_t i = 0; i < draws.size(); ++i) {
    const Draw& d = draws[i];
    const Scored& s = scored[i];
    std::printf("==== %s: %s\n%s", d.name.c_str(), d.session.filename().c_str(), s.report.c_str());
    for (const std::string& b : s.broken) std::printf("rule broken (shown only): %s\n", b.c_str());
    summaries += summary(d.name, s.figures) + "\n";
    if (d.noisy) {
      takeWorst(d.kind, d.name, s.figures, worst);
      const nlohmann::json rules = s.figures.value("rules", nlohmann::json::object());
      for (const auto& [callsign, f] : rules.items()) {
        for (const Rule& r : kRules) {
          if (r.held && (f.value("helicopter", false) ? r.helicopters : r.aeroplanes)) {
            EXPECT_LE(f.value(r.key, 0.0), r.limit) << d.name << ": " << callsign << ", " << r.what;
          }
        }
      }
    }
    EXPECT_EQ(s.failure, "") << d.name;
    // Every flight of the draw the program must make, the new kinds' light aircraft and
    // helicopters too: one it does not make (a type it does not know) is named here.
    for (const std::string& callsign : d.noisy ? expectedCallsigns(rtsession::lows::noisyFlights(lows, d.kind)) : smooth) {
      EXPECT_EQ(s.callsigns.count(callsign), 1u) << d.name << ": " << callsign << " never appeared";
    }
    EXPECT_EQ(s.failedCreations, 0) << d.name;
    // The exact session keeps to its feed's path as its curves do; the session's own scattering
    // draws within what telling its scatter from its turns allows. The other kinds' paths are
    // shown only (the per-kind summary below).
    if (d.kind == rtsession::lows::kSessionKind) {
      EXPECT_LE(s.figures.value("pathM", 1e9), s.figures.value("pathLimitM", 0.0)) << d.name << ": off its feed's path";
    }
    if (d.beside) {
      // On its stand at the end, one object all along: not frozen short of it, nor removed as
      // frozen and made anew.
      const auto [standLat, standLon] = feedEnd(d.session, d.seconds);
      const nlohmann::json end = s.ends.value(kArrival, nlohmann::json::array({0.0, 0.0, 0.0, 0}));
      EXPECT_LT(distanceNm(end[0].get<double>(), end[1].get<double>(), standLat, standLon) * 1852.0, 10.0) << d.name;
      EXPECT_GE(end[2].get<double>(), s.lastSecond - 1.0) << d.name;
      EXPECT_EQ(end[3].get<int>(), 1) << d.name << ": " << kArrival << " made anew";
    }
  }
  std::printf("==== Summary\n%s", summaries.c_str());
  std::printf("==== Per kind, the worst of each rule over its draws\n%s", kindSummary(worst).c_str());
}

}  // namespace
