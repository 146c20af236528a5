#pragma once
// Shared set-up of the movement tests: a live aircraft of a category, track points, the client
// events the movement queued, and a clean world (tick, park airport, stands, parameters).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

#include "aircraft/size_category.h"
#include "core/geometry.h"
#include "airports/park_stands.h"
#include "core/parameters.h"
#include "links/feed.h"
#include "links/qnh_reader.h"
#include "links/sim_ids.h"
#include "links/sim_queues.h"
#include "traffic/park_airports.h"
#include "traffic/movement.h"
#include "traffic/traffic_engine.h"

namespace movetest {

inline constexpr double kDeg = 0.017453292519943295;
inline constexpr double kFeetPerMetre = 3.280839895;
inline constexpr kvo::TickCount kNow = 100000;  // the tick every test starts at

inline kvo::LiveAircraft makeAircraft(SizeCategory category, double halfSpanNm = 0.0097) {
  kvo::LiveAircraft ac;
  ac.callsign = "TST123";
  ac.registration = "D-TEST";
  ac.airline = "TST";
  ac.type = "TEST";
  ac.sizeCategory = category;
  ac.halfSpanNm = halfSpanNm;
  const kvo::CategoryValues& values = kvo::categoryValues(category);
  ac.turnRateBase = values.turnRateDegPerTick * kDeg;
  ac.turnRate = ac.turnRateBase;
  ac.rotationPitch = values.rotationPitchDeg * kDeg;
  ac.climbPitch = values.climbPitchDeg * kDeg;
  ac.rotationTicks = values.rotationTicks;
  ac.climbOutTicks = values.climbOutTicks;
  ac.flareTicks = values.flareTicks;
  ac.groundSlotTicks = values.groundSlotTicks;
  ac.climbStep = kvo::liveCategoryValues(category).climbStep;
  ac.standSpeedKt = kvo::liveCategoryValues(category).standSpeedKt;
  ac.staticCgFt = 10.0;
  ac.staticPitch = 0.7 * kDeg;
  ac.internalId = 0xABC123;
  ac.objectId = 42;
  ac.state = kvo::AircraftState::Active;
  return ac;
}

inline kvo::TrackPoint point(double lat, double lon, kvo::TickCount due, double gs = 0.0, double alt = 0.0,
                             bool airborne = false, double vs = 0.0) {
  kvo::TrackPoint p;
  p.lat = lat;
  p.lon = lon;
  p.altFt = alt;
  p.groundSpeedKt = gs;
  p.tasKt = gs;
  p.verticalSpeed = vs;
  p.dueTick = due;
  p.airborne = airborne ? 1 : 0;
  return p;
}

// A copy of p moved by the given metres along the bearing, due then, at that ground speed.
inline kvo::TrackPoint pointFrom(const kvo::TrackPoint& p, double bearingDeg, double metres, kvo::TickCount due,
                                 double gs = 10.0) {
  const kvo::LatLon at = destinationPoint(p.lat, p.lon, bearingDeg * kDeg, metres * kFeetPerMetre);
  kvo::TrackPoint q = p;
  q.lat = at.lat;
  q.lon = at.lon;
  q.dueTick = due;
  q.groundSpeedKt = gs;
  q.stationary = 0;
  return q;
}

// Places the aircraft on its first point with the given heading.
inline void placeAtFirst(kvo::LiveAircraft& ac, double headingRad) {
  const kvo::TrackPoint& p = ac.trackPoints.front();
  ac.position.lat = p.lat;
  ac.position.lon = p.lon;
  ac.position.altFt = p.altFt;
  ac.position.heading = headingRad;
}

inline std::vector<kvo::ClientEventRequest> takeEvents() {
  std::lock_guard lock(g_simQueueMutex);
  std::vector<kvo::ClientEventRequest> out;
  out.swap(g_clientEventQueue);
  return out;
}

inline std::size_t countEvents(const std::vector<kvo::ClientEventRequest>& events, std::uint32_t id) {
  return static_cast<std::size_t>(
      std::count_if(events.begin(), events.end(), [id](const kvo::ClientEventRequest& e) { return e.eventId == id; }));
}

inline std::vector<std::uint32_t> eventData(const std::vector<kvo::ClientEventRequest>& events, std::uint32_t id) {
  std::vector<std::uint32_t> out;
  for (const auto& e : events) {
    if (e.eventId == id) out.push_back(e.data);
  }
  return out;
}

inline void setTick(kvo::TickCount tick) { g_trafficTick.store(tick); }

// An aircraft of the category on the feed's first two lines, in the phase (on the ground unless
// flying), with the given heading and the clock at the first line; the rest is for takeDueLines
// from the third line on.
inline kvo::LiveAircraft onFeed(SizeCategory category, kvo::GroundPhase phase, const std::vector<kvo::TrackPoint>& feed,
                                double headingRad) {
  kvo::LiveAircraft ac = makeAircraft(category);
  ac.onGround = phase == kvo::GroundPhase::Flying ? 0 : 1;
  ac.phase = phase;
  ac.trackPoints = {feed[0], feed[1]};
  placeAtFirst(ac, headingRad);
  setTick(feed[0].dueTick);
  return ac;
}

// What the traffic tick does for an active aircraft, for n ticks from the current one.
inline void runTicks(kvo::LiveAircraft& ac, int n) {
  for (int i = 0; i < n && ac.state == kvo::AircraftState::Active && !ac.trackPoints.empty(); ++i) {
    if (g_trafficTick.load() >= ac.trackPoints.front().dueTick) {
      nextPosMain(ac);
      fillPositionSpeeds(ac);
    }
    if (ac.state == kvo::AircraftState::Active && !ac.trackPoints.empty()) {
      if (ac.trackPoints.front().stationary == 0) {
        curveStep(ac);
      } else {
        standStep(ac);
      }
    }
    g_trafficTick.fetch_add(1);
  }
}

// Hands the aircraft the feed's lines as the intake does: each one 30 s before it is due.
inline void takeDueLines(kvo::LiveAircraft& ac, const std::vector<kvo::TrackPoint>& feed, std::size_t& fed) {
  while (fed < feed.size() && feed[fed].dueTick - kvo::kFeedDelayTicks <= g_trafficTick.load()) decodeExisting(ac, feed[fed++]);
}

// The simulator's ground report for an object at most 2500 ft above flat ground (what the
// results code does with it): on the ground at most the static CG height + 3 ft up.
inline void reportGround(kvo::LiveAircraft& ac, double groundFt) {
  const double agl = ac.position.altFt - groundFt;
  if (agl > 2500.0) return;
  const bool onGround = agl <= ac.staticCgFt + 3.0;
  if (onGround && ac.onGround == 0 && ac.takeOffCounter < 2 && ac.phase != kvo::GroundPhase::TakeOff) {
    if (ac.landingStage != 0 || ac.descent != 0) setGroundSlots(ac);
    ac.onGround = 1;
    ac.verticalStep = 0.0;
    ac.takeOffCounter = 1;
  }
  ac.aglFt = agl;
  if (ac.onGround != 0 || ac.takeOffCounter >= 2) ac.position.altFt = ac.staticCgFt + groundFt;
}

// A clean world for each test.
class MovementTest : public ::testing::Test {
 protected:
  void SetUp() override { resetWorld(); }
  void TearDown() override { resetWorld(); }

  static void resetWorld() {
    resetTrafficFeedForTests();
    setTick(kNow);
    takeEvents();
    g_parkAirport.clear();
    g_parkAirportElevation = 0.0;
    g_parkAirportLat = 0.0;
    g_parkAirportLon = 0.0;
    g_parkStands.clear();
    g_parkAirportLoaded = false;
    g_qnh = 1013;
    g_duplicateCheckQueue.clear();
    STRAIGHT_PBS_ONLY.set(false);
    HOLDING_THRESHOLD_METERS.set(250);
    LOG.set(false);
  }
};

}  // namespace movetest
