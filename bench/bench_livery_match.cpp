// One livery match against a data base of 30,000 liveries (200 types, 300 airlines, 3 package
// folders), per rung of the ladder and for a mix of requests. Target: under 5 microseconds.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <fmt/format.h>

#include "aircraft/aircraft_types.h"
#include "aircraft/livery_db.h"
#include "aircraft/livery_match.h"
#include "core/parameters.h"

namespace {

struct Aircraft {
  Aircraft(std::string a, std::string t, std::string r)
      : airline(std::move(a)), type(std::move(t)), registration(std::move(r)) {}
  std::string airline;
  std::string type;
  std::string registration;
  std::string callsign = "BENCH1";
  std::string_view liveryTitle;
  std::uint8_t cargo = 0;
  std::uint8_t reverseThrust = 0;
};

std::string typeName(int t) { return fmt::format("T{:03}", t); }
std::string airlineName(int a) { return fmt::format("{}{}{}", char('A' + a / 26 % 26), char('A' + a % 26), 'X'); }

void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  std::vector<AircraftTypeData> types;
  std::vector<std::vector<std::string>> families;
  for (int t = 0; t < 200; ++t) {
    types.push_back({typeName(t), "", 35.0, 1u << Large});
    if (t % 5 == 0) families.emplace_back();
    families.back().push_back(typeName(t));
  }
  replaceAircraftTypes(types, families);
  std::vector<LiveryData> liveries;
  liveries.reserve(30000);
  for (int i = 0; i < 30000; ++i) {
    // Airline a flies the types a % 200 .. + 9 (skipping every fifth), so related types exist.
    const int a = i % 300;
    const int t = (a + (i / 300) % 10) % 200;
    liveries.push_back(LiveryData{airlineName(a), typeName(t), fmt::format("Livery {} {} {}", airlineName(a), typeName(t), i),
                                  i % 97 == 0 ? fmt::format("REG{}", i) : "", static_cast<std::uint32_t>(i % 3),
                                  static_cast<std::uint8_t>(i % 11 == 0)});
  }
  buildLiveryDb(liveries);
  MATCHING_DEPTH.set(4);
}

void matchLoop(benchmark::State& state, std::vector<Aircraft> requests) {
  setUp();
  RANDOM.set(state.range(0) != 0);
  std::size_t i = 0;
  std::size_t matched = 0;
  for (auto _ : state) {
    Aircraft& ac = requests[i++ % requests.size()];
    matchLiveAcLivery(ac);
    matched += ac.liveryTitle.empty() ? 0 : 1;
    benchmark::DoNotOptimize(ac.liveryTitle);
  }
  state.counters["matched"] = benchmark::Counter(static_cast<double>(matched) / static_cast<double>(state.iterations()));
}

void BM_MatchSpecialLivery(benchmark::State& state) {
  matchLoop(state, {{airlineName(0), typeName(0), "REG0"}, {airlineName(10), typeName(12), "REG970"}});
}
void BM_MatchAirlineType(benchmark::State& state) {
  std::vector<Aircraft> r;
  for (int a = 0; a < 300; a += 7) r.push_back({airlineName(a), typeName((a + 3) % 200), ""});
  matchLoop(state, r);
}
void BM_MatchAirlineRelated(benchmark::State& state) {
  std::vector<Aircraft> r;
  for (int a = 0; a < 300; a += 7) r.push_back({airlineName(a), typeName((a + 12) % 200), ""});
  matchLoop(state, r);
}
void BM_MatchTypeOnly(benchmark::State& state) {
  std::vector<Aircraft> r;
  for (int t = 0; t < 200; t += 3) r.push_back({"ZZZ", typeName(t), ""});
  matchLoop(state, r);
}
void BM_MatchMix(benchmark::State& state) {
  std::vector<Aircraft> r;
  for (int k = 0; k < 400; ++k) {
    const int a = (k * 37) % 300;
    switch (k % 4) {
      case 0: r.push_back({airlineName(a), typeName((a + 2) % 200), ""}); break;
      case 1: r.push_back({airlineName(a), typeName((a + 40) % 200), ""}); break;
      case 2: r.push_back({"ZZZ", typeName(k % 200), ""}); break;
      default: r.push_back({airlineName(a), "UNKN", fmt::format("N{}", k)}); break;
    }
  }
  matchLoop(state, r);
}

}  // namespace

BENCHMARK(BM_MatchSpecialLivery)->Arg(0)->Arg(1);
BENCHMARK(BM_MatchAirlineType)->Arg(0)->Arg(1);
BENCHMARK(BM_MatchAirlineRelated)->Arg(0)->Arg(1);
BENCHMARK(BM_MatchTypeOnly)->Arg(0)->Arg(1);
BENCHMARK(BM_MatchMix)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
