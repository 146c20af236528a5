// The traffic tick with 500 live aircraft in every state and a full feed, at a park airport of
// 500 stands with 20 learned uses each: time per tick and per aircraft. Each round builds the
// same world afresh (not timed) and times 300 ticks of it (the waiting objects are activated
// within them). Beside it, the two stand searches over that park airport.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "aircraft/aircraft_types.h"
#include "aircraft/livery_db.h"
#include "core/parameters.h"
#include "links/feed.h"
#include "links/sim_client.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"
#include "airports/park_stands.h"
#include "traffic/park_airports.h"
#include "traffic/stand_search.h"
#include "traffic/traffic_engine.h"

#include "bench_park_airport.h"

namespace {

using benchpark::kUserLat;
using benchpark::kUserLon;
constexpr int kAircraft = 500;
constexpr int kTicksPerRound = 300;

kvo::FeedRecord makeRecord(std::uint32_t hexId, int n, double timestamp, kvo::TickCount due) {
  kvo::FeedRecord r;
  r.hexId = hexId;
  r.callsign = "DLH" + std::to_string(hexId % 100000);
  r.type = "A20N";
  r.airline = "DLH";
  r.timestamp = timestamp;
  const double ring = 5.0 + (hexId % 40);  // 5..44 nm from the user
  r.position.lat = kUserLat + ring / 60.0;
  r.position.lon = kUserLon + 0.004 * n;
  r.position.altFt = 3000.0 + 50.0 * (hexId % 100);
  r.position.airborne = 1;
  r.position.groundSpeedKt = 250.0;
  r.position.trackDeg = 90.0 + (n % 7);
  r.position.tasKt = 250.0;
  r.position.dueTick = due;
  return r;
}

constexpr int kStands = 500;
constexpr int kUsesPerStand = 20;
using benchpark::kMetreLat;

// 500 stands in rows 60 m apart south of the user, radius 15..35 m, a tenth of them ramps, a
// twentieth cargo; each with 20 real uses spread over the week and the airlines.
void loadParkAirport() {
  std::vector<kvo::Stand> stands;
  const char* airlines[] = {"DLH", "BAW", "EZY", "RYR", "AFR"};
  for (int i = 0; i < kStands; ++i) {
    kvo::Stand s = benchpark::gridStand(i);
    s.radius = (15.0 + (i % 21)) / 1852.0;
    s.ramp = i % 10 == 0 ? 1 : 0;
    s.cargo = i % 20 == 7 ? 1 : 0;
    for (int u = 0; u < kUsesPerStand; ++u) {
      kvo::StandUse use;
      use.airline = airlines[(i + u) % 5];
      use.type = u % 3 == 0 ? "A20N" : "B738";
      use.key = "D-A" + std::to_string(i * kUsesPerStand + u);
      use.callsign = use.airline + std::to_string(100 + u);
      use.halfHours = std::uint64_t{7} << ((i + 3 * u) % 45);
      use.optionId = static_cast<std::uint32_t>(u + 1);
      use.weekday = static_cast<std::uint32_t>(1 + (i + u) % 7);
      use.real = u % 4 == 0 ? 0 : 1;
      s.uses.push_back(std::move(use));
    }
    stands.push_back(std::move(s));
  }
  benchpark::installParkAirport(std::move(stands));
}

// 500 aircraft: 100 buffered (due later), 100 waiting for their object, 200 active, 50 in a
// respawn and 50 on their way out; the feed full of updates of all of them.
void buildWorld() {
  benchpark::clearEngine();
  reserveTrafficContainers();
  loadParkAirport();
  g_trafficTick = 1000001;
  const kvo::TickCount now = g_trafficTick.load();
  for (int i = 0; i < kAircraft; ++i) {
    const std::uint32_t hexId = 0x400000u + static_cast<std::uint32_t>(i);
    // First points fall due all through the round, so every tick moves some aircraft on.
    const kvo::TickCount due = now + 20 + (i % 250);
    kvo::FeedRecord first = makeRecord(hexId, 0, 1000.0, due);
    makeLiveAircraft(first);
    kvo::LiveAircraft& ac = g_liveAircraft.back();
    for (int n = 1; n < 40; ++n) ac.trackPoints.push_back(makeRecord(hexId, n, 1000.0 + 5.0 * n, due + 500 * n).position);
    ac.position.lat = ac.trackPoints.front().lat;
    ac.position.lon = ac.trackPoints.front().lon;
    ac.position.altFt = ac.trackPoints.front().altFt;
    ac.liveryTitle = "Airbus A320neo DLH";
    ac.feedTime = 1000.0 + 5.0 * 39;
    const std::uint32_t objectId = 1000u + static_cast<std::uint32_t>(i);
    if (i < 100) {
      for (auto& p : ac.trackPoints) p.dueTick += 100000;  // not yet due
    } else if (i < 200) {
      ac.state = kvo::AircraftState::Adding2Sim;
      ac.objectId = objectId;
      g_deferredResults.push_back({objectId, hexId, 0, kvo::SimResultKind::CreatedLive, 0.0, 3000.0});
    } else if (i < 400) {
      ac.state = kvo::AircraftState::Active;
      ac.phase = kvo::GroundPhase::Flying;
      ac.objectId = objectId;
    } else if (i < 450) {
      ac.state = kvo::AircraftState::LiveryRespawn;
      ac.objectId = objectId;
    } else {
      ac.state = kvo::AircraftState::RemovingFromSim;
      ac.objectId = objectId;
    }
  }
  setTrafficFeedOpen(true);
  for (std::size_t n = 0; n < kvo::FeedQueue::capacity(); ++n) {
    const std::uint32_t hexId = 0x400000u + static_cast<std::uint32_t>(n % kAircraft);
    const int k = 40 + static_cast<int>(n / kAircraft);
    appendToTrafficFeed(makeRecord(hexId, k, 1000.0 + 5.0 * k, 0));
  }
}

void BM_TrafficTick(benchmark::State& state) {
  benchpark::setUpAircraft();
  benchpark::connectUserAloft();
  std::int64_t ticks = 0;
  for (auto _ : state) {
    state.PauseTiming();
    buildWorld();
    state.ResumeTiming();
    for (int t = 0; t < kTicksPerRound; ++t) lf_handleAddingStack();
    ticks += kTicksPerRound;
  }
  // What the world looked like after the last round: a check that the load is what it claims.
  std::size_t active = 0;
  for (const auto& a : g_liveAircraft) active += a.state == kvo::AircraftState::Active ? 1 : 0;
  state.counters["active_at_end"] = static_cast<double>(active);
  state.counters["live_at_end"] = static_cast<double>(g_liveAircraft.size());
  state.counters["feed_left"] = static_cast<double>(trafficFeedSize());
  state.SetItemsProcessed(ticks);
  state.counters["ticks"] = benchmark::Counter(static_cast<double>(ticks));
  state.counters["aircraft"] = kAircraft;
  benchpark::tearDownEngine();
}
BENCHMARK(BM_TrafficTick)->Unit(benchmark::kMillisecond);

// An A320neo of Lufthansa looking for a stand.
kvo::LiveAircraft searchingAircraft() {
  kvo::LiveAircraft ac;
  ac.airline = "DLH";
  ac.type = "A20N";
  ac.callsign = "DLH101";
  ac.registration = "D-AINA";
  ac.halfSpanNm = 17.9 / 1852.0;
  ac.sizeCategory = Large;
  ac.internalId = 0x3C0001;
  return ac;
}

void BM_CollectStandOptions(benchmark::State& state) {
  resetParametersForTests();
  LOG.set(false);
  RANDOM.set(false);
  loadParkAirport();
  const kvo::LiveAircraft ac = searchingAircraft();
  std::uint32_t half = 0;
  std::size_t found = 0;
  for (auto _ : state) {
    // Through the half hours of Wednesday: every call meets other bookings.
    const kvo::Stand* s = collectStandOptions(kvo::makeWeekSlot(3, half++ % 48), ac, true);
    found += s != nullptr ? 1 : 0;
    benchmark::DoNotOptimize(s);
  }
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
  state.counters["stands"] = kStands;
  g_parkStands.clear();
  parkStandsChanged();
}
BENCHMARK(BM_CollectStandOptions)->Unit(benchmark::kMicrosecond);

void BM_FindStandForArrival(benchmark::State& state) {
  resetParametersForTests();
  LOG.set(false);
  loadParkAirport();
  const kvo::LiveAircraft ac = searchingAircraft();
  // Track ends 10 m from stands that fit (radius 20 m and more), in every row.
  std::vector<kvo::LatLon> ends;
  for (const kvo::Stand& s : g_parkStands) {
    if (s.radius * 1852.0 >= 20.0) ends.push_back({s.latitude + 10.0 * kMetreLat, s.longitude});
  }
  std::size_t i = 0;
  std::size_t found = 0;
  for (auto _ : state) {
    const kvo::Stand* s = findStandForArrival(ends[i++ % ends.size()], ac, 0.029697624190064796, true);
    found += s != nullptr ? 1 : 0;
    benchmark::DoNotOptimize(s);
  }
  state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
  state.counters["stands"] = kStands;
  g_parkStands.clear();
  parkStandsChanged();
}
BENCHMARK(BM_FindStandForArrival)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
