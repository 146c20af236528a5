// Static parking at a park airport of 500 stands whose uses cover every half hour of the week
// (48 x 7 uses per stand, a quarter of them soft, each stand next to the two beside it): the plan
// for a slot of the week (the real pass, widened as far as MAX_FIT, and the soft pass, RANDOM on),
// for the default share of stands, for all of them, and for a day without uses; and the traffic
// tick with 500 static and 300 live aircraft while 50 more are created from the plan's candidates.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "aircraft/aircraft_types.h"
#include "aircraft/livery_db.h"
#include "airports/park_stands.h"
#include "core/parameters.h"
#include "links/feed.h"
#include "links/sim_client.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"
#include "shared_state/run_clock.h"
#include "traffic/park_airports.h"
#include "traffic/stand_search.h"
#include "traffic/static_aircraft.h"
#include "traffic/traffic_engine.h"

#include "bench_park_airport.h"

namespace {

using benchpark::kUserLat;
using benchpark::kUserLon;
constexpr int kStands = 500;

void loadParkAirport(int count = kStands) {
  std::vector<kvo::Stand> stands;
  const char* airlines[] = {"DLH", "BAW", "EZY", "RYR", "AFR"};
  for (int i = 0; i < count; ++i) {
    kvo::Stand s = benchpark::gridStand(i);
    s.radius = 25.0 / 1852.0;
    if (i % 25 != 0) s.adjacentIds.push_back(s.id - 1);
    if (i % 25 != 24) s.adjacentIds.push_back(s.id + 1);
    std::int32_t number = 0;
    for (std::uint32_t day = 1; day <= 7; ++day) {
      for (std::uint32_t half = 0; half < 48; ++half) {
        kvo::StandUse use;
        use.airline = airlines[(i + half) % 5];
        use.type = "A20N";
        use.key = "D-" + std::to_string(i) + "-" + std::to_string(day * 48 + half);
        use.callsign = use.airline + std::to_string(1000 + half);
        use.secondCallsign = use.airline + std::to_string(2000 + half);
        use.halfHours = std::uint64_t{1} << half;
        use.weekday = day;
        use.real = half % 4 == 0 ? 0 : 1;
        use.number = ++number;
        s.uses.push_back(std::move(use));
      }
    }
    stands.push_back(std::move(s));
  }
  benchpark::installParkAirport(std::move(stands));
}

// The plan of one slot of the week, the stands' marks and uses fresh for every round.
// The second argument 1 takes Sunday's uses away and plans for Sunday: round after round comes
// back empty until the fit reaches back into Saturday.
void BM_CalculateStaticParking(benchmark::State& state) {
  benchpark::setUpAircraft();
  RANDOM.set(true);
  resetTrafficEngineForTests();
  loadParkAirport();
  if (state.range(1) != 0) {
    for (kvo::Stand& s : g_parkStands) std::erase_if(s.uses, [](const kvo::StandUse& u) { return u.weekday == 7; });
  }
  CUSTOM_PARKING_PERCENTAGE.set(static_cast<std::int32_t>(state.range(0)));
  const std::int64_t wanted = wantedStaticCount();
  std::uint32_t round = 0;
  std::size_t planned = 0;
  for (auto _ : state) {
    state.PauseTiming();
    g_staticCandidates.clear();
    clearPlanMarks();
    for (kvo::Stand& s : g_parkStands) {
      std::int32_t n = 0;
      for (kvo::StandUse& u : s.uses) u.number = ++n;
    }
    const kvo::WeekSlot now = kvo::makeWeekSlot(state.range(1) != 0 ? 7 : 1 + round % 7, (round * 7) % 48);
    ++round;
    state.ResumeTiming();
    calculateStaticParking(now, wanted, 0);
    planned = g_staticCandidates.size();
  }
  state.counters["wanted"] = static_cast<double>(wanted);
  state.counters["planned"] = static_cast<double>(planned);
  state.counters["uses"] = static_cast<double>(kStands * 48 * (state.range(1) != 0 ? 6 : 7));
  g_staticCandidates.clear();
  g_parkStands.clear();
  parkStandsChanged();
}
BENCHMARK(BM_CalculateStaticParking)->Args({30, 0})->Args({100, 0})->Args({30, 1})->Unit(benchmark::kMillisecond);

// 300 live aircraft flying with their tracks ahead, 500 static aircraft parked on the stands
// and 50 candidates still to be created on stands of their own.
void buildWorld() {
  benchpark::clearEngine();
  reserveTrafficContainers();
  loadParkAirport(kStands + 50);
  g_currentWeekSlot = kvo::makeWeekSlot(3, 20);
  g_trafficTick = 1000000;
  const kvo::TickCount now = g_trafficTick.load();
  for (int i = 0; i < 300; ++i) {
    const std::uint32_t hexId = 0x400000u + static_cast<std::uint32_t>(i);
    kvo::FeedRecord r;
    r.hexId = hexId;
    r.callsign = "DLH" + std::to_string(i);
    r.type = "A20N";
    r.airline = "DLH";
    r.timestamp = 1000.0;
    r.position.lat = kUserLat + (5.0 + i % 40) / 60.0;
    r.position.lon = kUserLon + 0.004 * i;
    r.position.altFt = 3000.0 + 50.0 * (i % 100);
    r.position.airborne = 1;
    r.position.groundSpeedKt = 250.0;
    r.position.trackDeg = 90.0;
    r.position.tasKt = 250.0;
    r.position.dueTick = now + 20 + i % 250;
    makeLiveAircraft(r);
    kvo::LiveAircraft& ac = g_liveAircraft.back();
    for (int n = 1; n < 40; ++n) {
      kvo::TrackPoint p = r.position;
      p.lon += 0.02 * n;
      p.dueTick += 500 * n;
      ac.trackPoints.push_back(p);
    }
    ac.position.lat = r.position.lat;
    ac.position.lon = r.position.lon;
    ac.position.altFt = r.position.altFt;
    ac.liveryTitle = "Airbus A320neo DLH";
    ac.state = kvo::AircraftState::Active;
    ac.phase = kvo::GroundPhase::Flying;
    ac.objectId = 1000u + static_cast<std::uint32_t>(i);
  }
  for (int i = 0; i < kStands + 50; ++i) {
    kvo::Stand& s = g_parkStands[static_cast<std::size_t>(i)];
    const kvo::StandUse& u = s.uses[2 * 48 + 20];
    if (i >= kStands) {
      s.adjacentIds.clear();
      g_staticCandidates.push_back(StaticCandidate{s.id, 0, "DLH", "A20N", u.callsign, u.secondCallsign, u.key, 1});
      continue;
    }
    kvo::AircraftTexts texts;
    texts.airline = "DLH";
    texts.type = "A20N";
    texts.callsign = u.callsign + "*";
    texts.registration = u.key;
    kvo::AircraftBase base = kvo::makeAircraftBase(texts);
    base.internalId = static_cast<std::uint32_t>(i + 1);
    base.liveryTitle = "Airbus A320neo DLH";
    g_staticAircraft.push_back(kvo::initStaticAircraft(std::move(base), s.id, {s.latitude, s.longitude, 0.0}, 0));
    g_staticAircraft.back().state = kvo::AircraftState::Active;
    g_staticAircraft.back().objectId = 5000u + static_cast<std::uint32_t>(i);
    g_staticAircraft.back().parkWeekSlot = g_currentWeekSlot.load();
  }
  g_staticSerial = kStands;
  setTrafficFeedOpen(true);
}

void BM_TickWithStaticAircraft(benchmark::State& state) {
  benchpark::setUpAircraft();
  benchpark::connectUserAloft();
  constexpr int kTicksPerRound = 3000;  // 30 s: every candidate created
  std::int64_t ticks = 0;
  for (auto _ : state) {
    state.PauseTiming();
    buildWorld();
    state.ResumeTiming();
    for (int t = 0; t < kTicksPerRound; ++t) lf_handleAddingStack();
    ticks += kTicksPerRound;
  }
  state.counters["static_at_end"] = static_cast<double>(g_staticAircraft.size());
  state.counters["live_at_end"] = static_cast<double>(g_liveAircraft.size());
  state.counters["candidates_left"] = static_cast<double>(g_staticCandidates.size());
  state.SetItemsProcessed(ticks);
  benchpark::tearDownEngine();
}
BENCHMARK(BM_TickWithStaticAircraft)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
