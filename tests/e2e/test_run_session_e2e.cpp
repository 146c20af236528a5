// The run command's own picture end to end: the working folder laid out as scripts/run does,
// the stand-in simulator with its default scenario, and the replay tool sending the run command's
// session (tools/rt_replay/session-lows.rtrec, invented traffic at Salzburg). The simulator's
// state file shows where each created aircraft is; within the session's first minutes an
// arrival must come to rest on a stand of the shipped LOWS airport file, and a departure must
// leave its stand backwards and later climb above 3000 ft. The checks are on positions only, so
// they hold whether the program or the feed puts an aircraft onto its stand. Through the session's
// first push-backs and landings the aircraft on the ground must move along their noses, and no
// aeroplane's nose may turn more than 30 degrees in one second (tools/ground_check,
// docs/ground-motion.md).
//
// Beside it, in a run of its own, the noisy session (tools/rt_replay/session-lows-noisy.rtrec: the
// feed as receivers hear it, scattered on the ground, some flights without a true heading): there
// the aircraft must also stand still while their feed stands, end their push-backs where the
// feed's end, and hold a steady nose on straight legs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>

#include "e2e_support.h"
#include "ground_check.h"
#include "lows_session.h"

using namespace e2e;

namespace {

// The replay's speed (it scales the feed times, speeds and rates alike, so that the aircraft
// still move as fast as their lines say). Real time: the program's own turn rates and push-back
// legs do not speed up with the feed, so a faster replay shows aircraft lagging behind their turns
// that a user never sees.
constexpr double kReplaySpeed = 1.0;
// The ground motion is checked through this much of the session: the push-backs of four
// departures and their taxi starts, the line-up of the first, and three landings' turn-offs.
constexpr double kGroundCheckedSessionSeconds = 400.0;
const fs::path kSession = fs::path(AMBV_SOURCE_DIR) / "tools/rt_replay/session-lows.rtrec";
// The noisy session, all of it: as long a run as the smooth one's, so that the two side by side
// take no longer than one.
const fs::path kNoisySession = fs::path(AMBV_SOURCE_DIR) / "tools/rt_replay/session-lows-noisy.rtrec";
const double kNoisySessionSeconds = rtsession::lows::noisySettings().seconds;
// The feed is shown this long after it is sent.
constexpr double kFeedDelaySeconds = 30.0;

using rtsession::Vec;
// Positions in metres around Salzburg, as the session's maker places them.
const rtsession::LocalFrame kFrame = rtsession::lows::settings().frame;

const rtsession::AirportFile& lows() {
  static const rtsession::AirportFile file =
      rtsession::readAirportFile(fs::path(AMBV_SOURCE_DIR) / "data/airports/archive/stock/LOWS.xml");
  return file;
}

const rtsession::Stand* standNear(Vec at, double withinM) {
  for (const rtsession::Stand& s : lows().stands) {
    if (rtsession::length(kFrame.toLocal(s.at) - at) <= withinM) return &s;
  }
  return nullptr;
}

struct Sample {
  double second;  // since the replay started
  Vec at;
  double altFt;
  bool onGround;
};

// What the run showed: every program-made aircraft's samples, by callsign.
struct Run {
  bool ran = false;
  std::string failure;
  std::map<std::string, std::vector<Sample>> samples;
  groundcheck::Recording ground;
  std::string parkedArrival;  // callsign, and the stand it stopped on
  std::string parkedStand;
  std::string departure;
  std::string departureStand;
  std::optional<int> exitCode;
  int failedCreations = -1;
  std::string log;
  double feedShownSecond = 0.0;  // the simulator second at which the session's start shows
};

// An aircraft that came down from the air and stands still on the ground on a stand.
bool parkedArrival(const std::vector<Sample>& t, std::string& stand) {
  if (t.size() < 6 || t.front().onGround) return false;
  const Sample& last = t.back();
  std::size_t still = 0;
  for (auto it = t.rbegin(); it != t.rend() && it->onGround && rtsession::length(it->at - last.at) < 0.3; ++it) ++still;
  const rtsession::Stand* s = standNear(last.at, 3.0);
  if (still < 5 || s == nullptr) return false;
  stand = s->id;
  return true;
}

// An aircraft that first stood on a stand, left it tail first and later climbed above 3000 ft.
bool pushedBackAndClimbed(const std::vector<Sample>& t, std::string& stand) {
  if (t.empty() || !t.front().onGround) return false;
  const rtsession::Stand* s = standNear(t.front().at, 3.0);
  if (s == nullptr) return false;
  const Vec standAt = kFrame.toLocal(s->at);
  const auto away = std::find_if(t.begin(), t.end(), [&](const Sample& x) { return rtsession::length(x.at - standAt) > 6.0; });
  if (away == t.end() || !away->onGround) return false;
  const bool tailFirst = std::abs(rtsession::signedDeg(rtsession::bearingOf(away->at - standAt) - s->headingDeg - 180.0)) < 30.0;
  const bool climbed = std::any_of(away, t.end(), [](const Sample& x) { return !x.onGround && x.altFt > 3000.0; });
  stand = s->id;
  return tailFirst && climbed;
}

Run runSession(const fs::path& session, double checkedSessionSeconds) {
  Run r;
  Installation at;
  at.writeScenario();
  Program program(at);
  if (!program.started()) {
    r.failure = "the program did not start";
    return r;
  }
  // Ground traffic is kept only once the park airport is set.
  r.failure = startTraffic(at, TrafficSender(at), "The park airport is LOWS");
  if (!r.failure.empty()) return r;

  // The replay tool sending the session once into the installation's network.
  Program replay(at, AMBV_RT_REPLAY,
                 {"--file", session.string(), "--speed", std::to_string(kReplaySpeed), "--quiet"});
  if (!replay.started()) {
    r.failure = "the replay tool did not start";
    return r;
  }
  const auto start = std::chrono::steady_clock::now();
  // The state file is rewritten every second: the replay started half a second after the last one.
  r.feedShownSecond = at.state().value_or(nlohmann::json::object()).value("elapsedSeconds", 0.0) + 0.5 + kFeedDelaySeconds;
  double lastElapsed = -1.0;
  // Through the ground check's span; the feed is 30 s late. The session's first departure climbs
  // through 3000 ft about 3:20 into it: the arrival and the departure show well before the end.
  const auto bound =
      std::chrono::milliseconds(static_cast<long long>(1000.0 * (checkedSessionSeconds / kReplaySpeed + 40.0)));
  while (std::chrono::steady_clock::now() - start < bound) {
    if (const auto state = at.newState(lastElapsed)) {
      groundcheck::addState(*state, r.ground);
      const double second = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      r.failedCreations = state->value("failedCreations", -1);
      for (const auto& o : programObjectsIn(state)) {
        r.samples[o.value("atcId", "")].push_back(
            {second, kFrame.toLocal({o.value("latitude", 0.0), o.value("longitude", 0.0)}), o.value("altitudeFt", 0.0),
             o.value("onGround", false)});
      }
    }
    std::this_thread::sleep_for(200ms);
  }
  for (const auto& [callsign, t] : r.samples) {
    std::string stand;
    if (r.parkedArrival.empty() && parkedArrival(t, stand)) {
      r.parkedArrival = callsign;
      r.parkedStand = stand;
    }
    if (r.departure.empty() && pushedBackAndClimbed(t, stand)) {
      r.departure = callsign;
      r.departureStand = stand;
    }
  }
  program.signal(SIGTERM);
  r.exitCode = program.waitForExit(30s);
  r.log = at.log();
  r.ran = true;
  return r;
}

const Run& run() {
  static const Run r = runSession(kSession, kGroundCheckedSessionSeconds);
  return r;
}

const Run& noisyRun() {
  static const Run r = runSession(kNoisySession, kNoisySessionSeconds);
  return r;
}

// The ground check of a run against its session.
groundcheck::Report checkGround(const Run& r, const fs::path& session, groundcheck::Limits& limits) {
  std::ifstream in(session, std::ios::binary);
  limits.timeScale = kReplaySpeed;
  limits.feedShownSecond = r.feedShownSecond;
  const groundcheck::Report report = groundcheck::check(r.ground, groundcheck::readFeed(in), limits);
  std::printf("%s", groundcheck::format(report, limits).c_str());
  for (const auto& [callsign, a] : report.aircraft) {
    EXPECT_TRUE(!a.pushedBack || a.feedPushKnown) << callsign << " pushed back; the feed shows no push-back";
  }
  for (const std::string& failure : groundcheck::failures(report, limits)) ADD_FAILURE() << failure;
  return report;
}

class RunSessionEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(run().ran) << run().failure; }
};

TEST_F(RunSessionEndToEnd, AnArrivalComesToRestOnAStandOfTheAirportFile) {
  EXPECT_FALSE(run().parkedArrival.empty()) << "no arrival parked; aircraft seen: " << run().samples.size();
  std::printf("%s parked on stand %s\n", run().parkedArrival.c_str(), run().parkedStand.c_str());
}

TEST_F(RunSessionEndToEnd, ADepartureLeavesItsStandBackwardsAndClimbsAbove3000Feet) {
  EXPECT_FALSE(run().departure.empty()) << "no departure pushed back and climbed out";
  std::printf("%s pushed back from stand %s\n", run().departure.c_str(), run().departureStand.c_str());
}

TEST_F(RunSessionEndToEnd, EveryFlightOfTheFirstMinutesAppearsWithALiveryAndTheProgramClosesCleanly) {
  // Every flight at the airport that reports from the session's start. The overflights are left
  // out: with the automatic radius on (the default) a user on the ground sees 10 nm, which they
  // enter only late in the run.
  std::set<std::string> expected;
  for (const auto& f : rtsession::lows::flights(lows())) {
    if (f.startSecond <= 0.0 && f.kind != rtsession::Flight::Kind::Overflight) expected.insert(f.id.callsign);
  }
  EXPECT_GE(expected.size(), 8u);
  std::set<std::string> seen;
  for (const auto& [callsign, t] : run().samples) seen.insert(callsign);
  for (const std::string& callsign : expected) EXPECT_EQ(seen.count(callsign), 1u) << callsign << " never appeared";
  EXPECT_EQ(run().failedCreations, 0);
  EXPECT_EQ(run().exitCode, 0);
  for (const char* fault : {"nextPosMain", "nextPosGround", "decodeExisting", "exception"}) {
    EXPECT_FALSE(contains(run().log, fault)) << fault << "\n" << run().log;
  }
}

TEST_F(RunSessionEndToEnd, AircraftOnTheGroundMoveAlongTheirNosesAndPushBackAsTheFeedDoes) {
  groundcheck::Limits limits;
  const groundcheck::Report report = checkGround(run(), kSession, limits);
  // Every departure of the span pushes back, and the arrivals taxi: the check has something to see.
  EXPECT_GE(report.pushBacks, 4);
  EXPECT_GE(report.movingSamples, 300);
}

class NoisySessionEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(noisyRun().ran) << noisyRun().failure; }
};

TEST_F(NoisySessionEndToEnd, OnANoisyFeedAircraftStandStillPushBackToTheFeedsEndAndHoldTheirNosesSteady) {
  groundcheck::Limits limits = groundcheck::Limits::noisyFeed();
  const groundcheck::Report report = checkGround(noisyRun(), kNoisySession, limits);
  // The three push-backs, the stands before and after them and the helicopters', and the taxiing
  // on straight legs: the check has something to see.
  EXPECT_GE(report.pushBacks, 3);
  int stills = 0;
  for (const auto& [callsign, r] : report.aircraft) stills += r.stills;
  EXPECT_GE(stills, 5);
  EXPECT_GE(report.straightSamples, 60);
  EXPECT_EQ(noisyRun().failedCreations, 0);
  EXPECT_EQ(noisyRun().exitCode, 0);
}

}  // namespace
