// Movement through the whole program at Salzburg (LOWS), where the default scenario parks the
// user's aircraft: a synthetic feed (made here, no recording of real traffic) of an approach and
// landing on runway 15 with a taxi that stops in front of stand 5, a departure with take-off from
// runway 33 and a push-back from stand 10 followed by a taxi is sent to the real process on UDP. The stand-in simulator, running by
// itself, writes where each created aircraft is into its state file every second; each aircraft
// must pass close to each feed point about 30 s after it was sent, touch the ground where the
// feed does and end where the feed ends. The three replay at once, in one run of the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>

#include <pugixml.hpp>

#include "lows_flights.h"

using namespace e2e;

namespace {

// Metres beside the runway's centre line, and metres along it from the threshold of 15.
double metresFromCentreLine(LatLonFt p, double& fromThreshold15) {
  double along = 0.0;
  const double d = metresToSegment(p, kThreshold15, kThreshold33, along);
  fromThreshold15 = along * metresBetween(kThreshold15, kThreshold33);
  return d;
}

struct Sample {
  std::chrono::steady_clock::time_point when;
  LatLonFt at;
  double altFt;
  bool onGround;
  double headingDeg = 0.0;
  double tasKt = 0.0;
  bool enginesOff = false;  // the last engine event was the shut-down
};

// Departure from 33, a rolling take-off: taxiing in from the east at 20 kt, a right turn onto the
// runway 150 m past the threshold, the take-off roll accelerating at 3.4 kt/s to lift-off at
// 150 kt, then a climb at 2000 ft/min.
Flight departure() {
  const double in = wrap360(kRunway33Deg - 90.0);
  Path path({47.79, 13.01}, in, kFieldElevationFt);
  path.point(in, 20.0, 0.0).straight(in, 20.0, 20.0, 2).turn(in, 90.0, 20.0, 3);
  path.straight(kRunway33Deg, 27.0, 150.0, 19).straight(kRunway33Deg, 155.0, 170.0, 15, 2000.0);
  std::vector<FeedPoint> points = path.points();
  // Moved so that the turn ends on the centre line.
  const LatLonFt lineUp = offset(kThreshold33, kRunway33Deg, 150.0 / kMetresPerNm);
  const double dLat = lineUp.lat - points[5].at.lat;
  const double dLon = lineUp.lon - points[5].at.lon;
  for (FeedPoint& p : points) p.at = {p.at.lat + dLat, p.at.lon + dLon};
  return {4860002, "RYR5CD", "B738", "EI-DWB", "LOWS", "EDDF", points};
}

// Push-back from stand 10: after 50 s on the stand (the program watches a parked aircraft from
// its creation on) the tug pushes the aircraft 18 m straight back and then round a quarter turn
// to face south-south-east, engines start while it stands for 12 s, and it taxis away at 20 kt.
// The program pushes back by its own rule, longer than the feed's, refusing the feed meanwhile,
// and takes the feed up again once it has done so.
Flight pushBackAndTaxi() {
  const double back = wrap360(kStand10HeadingDeg + 180.0);
  Path path(kStand10, kStand10HeadingDeg, kFieldElevationFt);
  path.hold(25).straight(back, 3.0, 3.0, 6, 0.0, true).turn(back, 90.0, 3.0, 12, true).hold(6);
  const double out = wrap360(kStand10HeadingDeg + 90.0);
  path.straight(out, 5.0, 20.0, 4).straight(out, 20.0, 20.0, 10);
  return {4860003, "BAW9EF", "A321", "G-EUXD", "LOWS", "EGLL", path.points()};
}

// One run of the program with the three flights fed together; every test reads it.
struct Replay {
  bool ran = false;
  std::string failure;
  std::vector<Flight> flights;
  std::map<std::string, std::vector<Sample>> samples;
  std::chrono::steady_clock::time_point watchedUntil{};
  std::string log;
  std::optional<int> exitCode;
};

Replay runReplay() {
  Replay r;
  r.flights = {landing(), departure(), pushBackAndTaxi()};
  Installation at;
  at.writeScenario();
  Program program(at);
  if (!program.started()) {
    r.failure = "the program did not start";
    return r;
  }
  TrafficSender sender(at);
  r.failure = startTrafficAtLows(at, sender);
  if (!r.failure.empty()) return r;

  std::mutex samplesMutex;
  std::atomic<bool> watching{true};
  std::thread watcher([&] {
    double lastElapsed = -1.0;
    while (watching.load()) {
      if (const auto state = at.newState(lastElapsed)) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(samplesMutex);
        for (const auto& o : programObjectsIn(state)) {
          const auto& events = o.contains("events") ? o["events"] : nlohmann::json::object();
          r.samples[o.value("atcId", "")].push_back({now, {o.value("latitude", 0.0), o.value("longitude", 0.0)},
                                                     o.value("altitudeFt", 0.0), o.value("onGround", false),
                                                     o.value("headingDeg", 0.0), o.value("trueAirspeedKt", 0.0),
                                                     events.contains("ENGINE_AUTO_SHUTDOWN")});
        }
      }
      std::this_thread::sleep_for(150ms);
    }
  });

  playFlights(sender, r.flights);
  // The last points fall due 30 s after they were sent; then the tracks end.
  std::this_thread::sleep_for(36s);
  watching = false;
  watcher.join();
  r.watchedUntil = std::chrono::steady_clock::now();
  program.signal(SIGTERM);
  r.exitCode = program.waitForExit(30s);
  r.log = at.log();
  r.ran = true;
  return r;
}

const Replay& replay() {
  static const Replay r = runReplay();
  return r;
}

const Flight& flight(const Replay& r, const std::string& callsign) {
  return *std::find_if(r.flights.begin(), r.flights.end(), [&](const Flight& f) { return f.callsign == callsign; });
}

struct Following {
  std::size_t checked = 0;
  double worstMetres = 0.0;   // beside a point's place
  double worstSeconds = 0.0;  // passing a point before or after its due time
  double worstAltFt = 0.0;    // off an airborne point's altitude
  double firstSeconds = 0.0;  // the first and the last point's, signed (late above 0)
  double lastSeconds = 0.0;
};

// How closely the aircraft kept to its (moving) feed points: the nearest place on the sampled
// track within `window` of a point's due time, and when it was there. Only the points from index
// `first` on that fell due while the state was watched are looked at, and not the last: the
// aircraft leaves the simulator as it gets there. Points from index `end` on are not looked at.
Following following(const Flight& f, const std::vector<Sample>& track, std::chrono::steady_clock::time_point watchedUntil,
                    std::size_t first = 0, std::chrono::seconds window = 6s, std::size_t end = SIZE_MAX) {
  Following out;
  if (track.size() < 2) return out;
  // The first points go by while the aircraft is created and activated.
  const auto from = track.front().when + 8s;
  for (std::size_t i = first; i + 1 < std::min(end, f.points.size()); ++i) {
    const FeedPoint& p = f.points[i];
    const auto due = p.sent + 30s;
    if (due < from || due + 4s > watchedUntil) continue;
    ++out.checked;
    double best = 1e9;
    double altAtBest = 0.0;
    double secondsOff = 1e9;
    for (std::size_t k = 1; k < track.size(); ++k) {
      if (track[k].when < due - window || track[k - 1].when > due + window) continue;
      double along = 0.0;
      const double d = metresToSegment(p.at, track[k - 1].at, track[k].at, along);
      if (d < best) {
        best = d;
        altAtBest = track[k - 1].altFt + along * (track[k].altFt - track[k - 1].altFt);
        const auto passed = track[k - 1].when + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                    (track[k].when - track[k - 1].when) * along);
        secondsOff = std::chrono::duration<double>(passed - due).count();
      }
    }
    out.worstMetres = std::max(out.worstMetres, best);
    out.worstSeconds = std::max(out.worstSeconds, std::abs(secondsOff));
    out.firstSeconds = out.checked == 1 ? secondsOff : out.firstSeconds;
    out.lastSeconds = secondsOff;
    if (p.airborne()) out.worstAltFt = std::max(out.worstAltFt, std::abs(altAtBest - p.altFt));
  }
  std::printf("%s: %zu points checked, farthest %.1f m, %.1f s off the due time, %.0f ft off the altitude\n",
              f.callsign.c_str(), out.checked, out.worstMetres, out.worstSeconds, out.worstAltFt);
  return out;
}

// Metres from the point to the nearest place on the whole sampled track, whenever it was there.
double metresFromTrack(LatLonFt p, const std::vector<Sample>& track) {
  double best = 1e9;
  for (std::size_t k = 1; k < track.size(); ++k) {
    double along = 0.0;
    best = std::min(best, metresToSegment(p, track[k - 1].at, track[k].at, along));
  }
  return best;
}

class MovementEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const Replay& r = replay();
    ASSERT_TRUE(r.ran) << r.failure;
  }
  static const std::vector<Sample>& track(const std::string& callsign) {
    static const std::vector<Sample> none;
    const auto it = replay().samples.find(callsign);
    return it == replay().samples.end() ? none : it->second;
  }
};

TEST_F(MovementEndToEnd, TheProgramKeepsTheGroundTrafficOfItsParkAirportAndClosesCleanly) {
  const Replay& r = replay();
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(contains(r.log, "User aircraft on the ground at LOWS"));
  EXPECT_FALSE(contains(r.log, "nextPosMain")) << r.log;
  EXPECT_FALSE(contains(r.log, "nextPosGround")) << r.log;
  EXPECT_FALSE(contains(r.log, "decodeExisting")) << r.log;
}

TEST_F(MovementEndToEnd, ALandingFollowsTheGlidePathTouchesDownOnTheRunwayAndRollsOut) {
  const Flight& f = flight(replay(), "DLH7AB");
  const std::vector<Sample>& t = track(f.callsign);
  ASSERT_GE(t.size(), 40u) << f.callsign << " was not created or not seen\n" << replay().log;
  EXPECT_FALSE(t.front().onGround) << "created on the approach";
  // Up to the slow approach of its stand, where it leaves the feed for the stand's own route.
  const auto slow = std::find_if(f.points.begin(), f.points.end(), [](const FeedPoint& p) { return p.speedKt == 4.0; });
  const Following follow = following(f, t, replay().watchedUntil, 0, 6s, static_cast<std::size_t>(slow - f.points.begin()));
  EXPECT_GE(follow.checked, 25u);
  EXPECT_LT(follow.worstMetres, 60.0) << "passes each feed point";
  EXPECT_LT(follow.worstSeconds, 4.0) << "at each point's due time";
  EXPECT_LT(follow.worstAltFt, 100.0) << "at the feed's altitude";

  // Touches down once, on the runway near where the feed does, and stays down.
  const auto firstDown = std::find_if(t.begin(), t.end(), [](const Sample& s) { return s.onGround; });
  ASSERT_NE(firstDown, t.end()) << "never touched down";
  EXPECT_TRUE(std::all_of(firstDown, t.end(), [](const Sample& s) { return s.onGround; })) << "bounced";
  double fromThreshold = 0.0;
  EXPECT_LT(metresFromCentreLine(firstDown->at, fromThreshold), 30.0) << "on the centre line";
  EXPECT_GT(fromThreshold, 0.0) << "not short of the runway";
  EXPECT_LT(fromThreshold, 900.0) << "in the touch-down zone";
  // Ends on the ground where the feed ends, off the runway.
  EXPECT_TRUE(t.back().onGround);
  EXPECT_LT(metresBetween(t.back().at, f.points.back().at), 30.0);
  EXPECT_GT(metresFromCentreLine(t.back().at, fromThreshold), 25.0) << "turned off the runway";
}

// A stand of the shipped airport file, as the program reads it.
struct ShippedStand {
  LatLonFt at{};
  double headingDeg = 0.0;
  double radiusM = 0.0;
  bool found = false;
};
ShippedStand shippedStand(const std::string& name) {
  ShippedStand out;
  pugi::xml_document doc;
  if (!doc.load_file((std::string(AMBV_SOURCE_DIR) + "/data/airports/archive/stock/LOWS.xml").c_str())) return out;
  for (const pugi::xml_node p : doc.child("airport").child("parkpositions").children("parkpos")) {
    if (name != p.attribute("id").as_string()) continue;
    out = {{p.attribute("lat").as_double(), p.attribute("lon").as_double()}, p.attribute("heading").as_double(),
           p.attribute("radius").as_double(), true};
  }
  return out;
}

TEST_F(MovementEndToEnd, TheArrivalTaxisOntoAStandThatFitsItAndParksThereShutDown) {
  const Flight& f = flight(replay(), "DLH7AB");
  const std::vector<Sample>& t = track(f.callsign);
  ASSERT_GE(t.size(), 40u) << replay().log;
  const ShippedStand stand = shippedStand("5");
  ASSERT_TRUE(stand.found);
  // An A320neo has a half span of 17.9 m: the 20 m stand fits it.
  EXPECT_GE(stand.radiusM + 1.8, 35.8 / 2.0);
  const Sample& last = t.back();
  EXPECT_LT(metresBetween(last.at, stand.at), 2.0) << "on the stand's position";
  EXPECT_LT(std::abs(wrap360(last.headingDeg - stand.headingDeg + 180.0) - 180.0), 5.0)
      << "on the stand's heading, not " << last.headingDeg;
  EXPECT_TRUE(last.onGround);
  // Stationary for its last seconds, engines shut down.
  const auto still = std::find_if(t.rbegin(), t.rend(), [&](const Sample& s) { return metresBetween(s.at, last.at) > 0.1; });
  ASSERT_NE(still, t.rbegin());
  EXPECT_GT(std::chrono::duration<double>(last.when - (still - 1)->when).count(), 5.0) << "stands still";
  EXPECT_EQ(last.tasKt, 0.0);
  EXPECT_TRUE(last.enginesOff);
  EXPECT_TRUE(contains(replay().log, "5       : DLH7AB   arrived at stand")) << replay().log;
}

TEST_F(MovementEndToEnd, ADepartureTaxisOntoTheRunwayRollsAndLiftsOffBeforeItsEnd) {
  const Flight& f = flight(replay(), "RYR5CD");
  const std::vector<Sample>& t = track(f.callsign);
  ASSERT_GE(t.size(), 40u) << f.callsign << " was not created or not seen\n" << replay().log;
  EXPECT_TRUE(t.front().onGround) << "created taxiing";
  const Following follow = following(f, t, replay().watchedUntil);
  EXPECT_GE(follow.checked, 25u);
  EXPECT_LT(follow.worstMetres, 60.0) << "passes each feed point";
  EXPECT_LT(follow.worstSeconds, 4.0) << "at each point's due time";
  EXPECT_LT(follow.worstAltFt, 150.0) << "at the feed's altitude";

  // Leaves the ground once, over the runway, and climbs away.
  const auto lift = std::find_if(t.begin(), t.end(), [](const Sample& s) { return !s.onGround; });
  ASSERT_NE(lift, t.end()) << "never lifted off";
  EXPECT_TRUE(std::none_of(lift, t.end(), [](const Sample& s) { return s.onGround; })) << "touched down again";
  double fromThreshold = 0.0;
  EXPECT_LT(metresFromCentreLine(lift->at, fromThreshold), 30.0) << "on the centre line";
  EXPECT_GT(fromThreshold, 300.0) << "before the runway's end";
  EXPECT_GT(t.back().altFt, kFieldElevationFt + 500.0);
}

// The feed's push-back: points 25 to 42 move backwards at 3 kt, 43 to 48 stand, the taxi follows.
// Created on stand 10, the aircraft is given that stand and pushes back from it in the push-back
// phase (straight back by 2.5 stand radii and round), then holds until the feed moves on.
TEST_F(MovementEndToEnd, APushBackFromItsStandThenATaxiFollowTheFeedOnTheGround) {
  const Flight& f = flight(replay(), "BAW9EF");
  const std::vector<Sample>& t = track(f.callsign);
  ASSERT_GE(t.size(), 40u) << f.callsign << " was not created or not seen\n" << replay().log;
  EXPECT_LT(metresBetween(t.front().at, kStand10), 2.0) << "created on its stand";
  EXPECT_LT(std::abs(wrap360(t.front().headingDeg - kStand10HeadingDeg + 180.0) - 180.0), 5.0) << "on its heading";
  EXPECT_TRUE(contains(replay().log, "10      : BAW9EF   parks")) << "given stand 10\n" << replay().log;
  EXPECT_TRUE(std::all_of(t.begin(), t.end(), [](const Sample& s) { return s.onGround; })) << "stays on the ground";

  // Backwards first: away from the stand against the nose.
  const auto moved = std::find_if(t.begin(), t.end(), [](const Sample& s) { return metresBetween(s.at, kStand10) > 3.0; });
  ASSERT_NE(moved, t.end()) << "never left the stand\n" << replay().log;
  const double away =
      std::atan2((moved->at.lon - kStand10.lon) * std::cos(kStand10.lat * kRad), moved->at.lat - kStand10.lat) / kRad;
  EXPECT_LT(std::abs(wrap360(away - (kStand10HeadingDeg + 180.0) + 180.0) - 180.0), 30.0) << "pushed back, bearing " << away;
  EXPECT_LT(std::abs(wrap360(moved->headingDeg - kStand10HeadingDeg + 180.0) - 180.0), 10.0) << "nose to the stand";
  // Then out along the feed's taxi: every taxi point passed (but the first few, which lie closer
  // to where the program's push-back ended than its hold distance), at the feed's pace.
  std::size_t taxi = f.points.size();
  while (taxi > 0 && f.points[taxi - 1].speedKt > 0.0) --taxi;
  ASSERT_LT(taxi + 8, f.points.size());
  double worstOffPath = 0.0;
  for (std::size_t i = taxi + 4; i + 1 < f.points.size(); ++i) {
    worstOffPath = std::max(worstOffPath, metresFromTrack(f.points[i].at, t));
  }
  EXPECT_LT(worstOffPath, 10.0) << "along the feed's taxi";
  const Following steady = following(f, t, replay().watchedUntil, taxi + 6, 25s);
  EXPECT_GE(steady.checked, 4u);
  EXPECT_LT(std::abs(steady.lastSeconds - steady.firstSeconds), 3.0) << "at the feed's pace";
  EXPECT_LT(metresBetween(t.back().at, f.points.back().at), 30.0) << "ends where the feed ends";
}

}  // namespace
