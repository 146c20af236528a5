// The movement of 500 live aircraft per 10 ms tick, in every phase: cruise and turns, approach
// with the flare, the departure run and take-off, taxi with curves, push-back. One iteration is
// one tick of what the traffic tick does for each active aircraft (the step to the next point
// when it is due, the per-tick integration and the position buffer).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

#include "aircraft/size_category.h"
#include "airports/park_stands.h"
#include "core/geometry.h"
#include "links/feed.h"
#include "links/sim_queues.h"
#include "traffic/aircraft_records.h"
#include "traffic/traffic_engine.h"
#include "traffic/movement.h"

namespace {

constexpr double kDeg = 0.017453292519943295;
constexpr int kAircraft = 500;
constexpr int kTicks = 6000;        // iterations of one run
constexpr int kPointGap = 200;      // ticks between feed points
constexpr int kPoints = kTicks / kPointGap + 10;

enum class Kind { Cruise, Approach, Departure, Taxi, PushBack };

kvo::TrackPoint at(kvo::LatLon p, kvo::TickCount due, double gs, double alt, bool airborne, double vs) {
  kvo::TrackPoint t;
  t.lat = p.lat;
  t.lon = p.lon;
  t.altFt = alt;
  t.groundSpeedKt = gs;
  t.tasKt = gs;
  t.verticalSpeed = vs;
  t.dueTick = due;
  t.airborne = airborne ? 1 : 0;
  return t;
}

kvo::LiveAircraft makeOne(int index, Kind kind) {
  static constexpr SizeCategory kCategories[] = {Light, Buzjets, Large, Heavy, HighPerf, Rotorcraft};
  const SizeCategory category = kCategories[index % 6];
  kvo::LiveAircraft ac;
  ac.callsign = "BNCH" + std::to_string(index);
  ac.sizeCategory = category;
  ac.halfSpanNm = 0.01;
  const kvo::CategoryValues& values = kvo::categoryValues(category);
  ac.turnRateBase = ac.turnRate = values.turnRateDegPerTick * kDeg;
  ac.rotationPitch = values.rotationPitchDeg * kDeg;
  ac.climbPitch = values.climbPitchDeg * kDeg;
  ac.rotationTicks = values.rotationTicks;
  ac.climbOutTicks = values.climbOutTicks;
  ac.flareTicks = values.flareTicks;
  ac.climbStep = kvo::liveCategoryValues(category).climbStep;
  ac.standSpeedKt = kvo::liveCategoryValues(category).standSpeedKt;
  ac.staticCgFt = 10.0;
  ac.internalId = 0x400000 + static_cast<std::uint32_t>(index);
  ac.objectId = 1000 + static_cast<std::uint32_t>(index);
  ac.state = kvo::AircraftState::Active;

  const kvo::LatLon origin{45.0 + (index % 25) * 0.1, 10.0 + (index / 25) * 0.1};
  const kvo::TickCount start = g_trafficTick.load();
  const bool ground = kind == Kind::Departure || kind == Kind::Taxi || kind == Kind::PushBack;
  ac.onGround = ground ? 1 : 0;
  ac.phase = ground ? kvo::GroundPhase::Taxi : kvo::GroundPhase::Flying;
  double heading = (index * 37 % 360) * kDeg;
  kvo::LatLon p = origin;
  double alt = kind == Kind::Cruise ? 30000.0 : kind == Kind::Approach ? 1400.0 : 0.0;
  for (int i = 0; i < kPoints; ++i) {
    const kvo::TickCount due = start + static_cast<kvo::TickCount>(i) * kPointGap;
    double gs = 0.0;
    bool airborne = !ground;
    double vs = 0.0;
    switch (kind) {
      case Kind::Cruise:
        gs = 450.0;
        heading += (i % 8 < 4 ? 3.0 : -3.0) * kDeg;  // gentle S-turns
        break;
      case Kind::Approach:
        gs = 140.0;
        vs = -700.0;
        alt = std::max(alt - 23.0, 0.0);
        break;
      case Kind::Departure:
        gs = std::min(10.0 + i * 12.0, 170.0);
        airborne = gs > 160.0;
        vs = airborne ? 2000.0 : 0.0;
        alt = airborne ? alt + 66.0 : 0.0;
        break;
      case Kind::Taxi:
      case Kind::PushBack:
        gs = i % 5 == 4 ? 8.0 : 18.0;
        heading += (i % 3 == 0 ? 40.0 : -25.0) * kDeg;  // turns that make curves
        break;
    }
    ac.trackPoints.push_back(at(p, due, gs, alt, airborne, vs));
    p = destinationPoint(p.lat, p.lon, heading, gs * kPointGap / 360000.0 * 6076.11549);
  }
  ac.position.lat = origin.lat;
  ac.position.lon = origin.lon;
  ac.position.altFt = alt;
  ac.position.heading = heading;
  if (kind == Kind::Approach) {
    ac.descent = 1;
    ac.aglFt = 300.0;  // inside the flare height
  }
  if (kind == Kind::Departure) ac.takeOffRoll = 1;
  if (kind == Kind::PushBack) {
    ac.phase = kvo::GroundPhase::Parked;
    ac.departureRequested = 1;
    ac.standId = 1;
    ac.standLat = origin.lat;
    ac.standLon = origin.lon;
    ac.standHeading = heading + 3.141592653589793;  // the feed leaves behind it: a push-back
  }
  return ac;
}

// One stand and kAircraft aircraft in every kind of movement, the tick at 1000.
std::vector<kvo::LiveAircraft> setUpAircraft() {
  resetTrafficFeedForTests();
  g_trafficTick.store(1000);
  kvo::Stand stand;
  stand.id = 1;
  stand.radius = 0.02;
  g_parkStands = {stand};
  std::vector<kvo::LiveAircraft> aircraft;
  aircraft.reserve(kAircraft);
  for (int i = 0; i < kAircraft; ++i) aircraft.push_back(makeOne(i, static_cast<Kind>(i % 5)));
  return aircraft;
}

void BM_MovementTick(benchmark::State& state) {
  std::vector<kvo::LiveAircraft> aircraft = setUpAircraft();
  {
    std::lock_guard lock(g_simQueueMutex);
    g_positionBufferFill->reserve(kAircraft);
    g_clientEventQueue.reserve(8192);
  }
  std::size_t errors = 0;
  for (auto _ : state) {
    const kvo::TickCount now = g_trafficTick.load();
    for (kvo::LiveAircraft& ac : aircraft) {
      if (ac.state != kvo::AircraftState::Active || ac.trackPoints.empty()) continue;
      try {
        if (now >= ac.trackPoints.front().dueTick) {
          nextPosMain(ac);
          fillPositionSpeeds(ac);
        }
        if (ac.state == kvo::AircraftState::Active && !ac.trackPoints.empty() &&
            ac.trackPoints.front().stationary == 0) {
          curveStep(ac);
        }
      } catch (const std::exception&) {
        ++errors;
      }
      g_positionBufferFill->push_back(kvo::AiPositionUpdate{ac.position, ac.objectId});
    }
    g_trafficTick.fetch_add(1);
    // What the frame flush would empty.
    g_positionBufferFill->clear();
    if (now % 100 == 0) {
      std::lock_guard lock(g_simQueueMutex);
      g_clientEventQueue.clear();
    }
  }
  std::size_t active = 0;
  for (const auto& ac : aircraft) active += ac.state == kvo::AircraftState::Active ? 1 : 0;
  state.counters["active_at_end"] = static_cast<double>(active);
  state.counters["errors"] = static_cast<double>(errors);
  state.counters["ns_per_aircraft"] =
      benchmark::Counter(static_cast<double>(kAircraft), benchmark::Counter::kIsIterationInvariantRate |
                                                             benchmark::Counter::kInvert);
  g_parkStands.clear();
}

BENCHMARK(BM_MovementTick)->Iterations(kTicks)->Unit(benchmark::kMicrosecond);

// The worst tick: every aircraft reaches a point at once (the feed's points of all aircraft fall
// due on the same ticks above too, once every 200 ticks). Each iteration jumps to the next due.
void BM_EveryAircraftDue(benchmark::State& state) {
  std::vector<kvo::LiveAircraft> aircraft = setUpAircraft();
  for (auto _ : state) {
    for (kvo::LiveAircraft& ac : aircraft) {
      if (ac.state != kvo::AircraftState::Active || ac.trackPoints.empty()) continue;
      try {
        nextPosMain(ac);
        fillPositionSpeeds(ac);
        if (ac.state == kvo::AircraftState::Active && !ac.trackPoints.empty()) curveStep(ac);
      } catch (const std::exception&) {
      }
    }
    g_trafficTick.fetch_add(kPointGap);
    std::lock_guard lock(g_simQueueMutex);
    g_clientEventQueue.clear();
  }
  g_parkStands.clear();
}

BENCHMARK(BM_EveryAircraftDue)->Iterations(kPoints - 12)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
