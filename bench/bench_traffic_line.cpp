// Decoding of RealTraffic traffic lines by the Traffic Reader, feed included: lines per second
// per core for airborne, ground and filtered lines, and the heap allocations per line.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "core/parameters.h"
#include "links/feed.h"
#include "links/traffic_reader.h"
#include "links/udp_reader.h"

// Every heap allocation of the process is counted, so a benchmark can report those per line.
namespace {
std::atomic<std::size_t> g_allocations{0};
// Reached through a pointer the compiler cannot see through: it would otherwise pair the
// replaced operator new with free() and warn about a mismatch.
void (*volatile g_release)(void*) = std::free;
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { g_release(p); }
void operator delete(void* p, std::size_t) noexcept { g_release(p); }

namespace {

std::string line(std::vector<std::pair<int, std::string>> changes) {
  std::vector<std::string> f(43, "0");
  f[0] = "TFC";
  f[1] = "4840203";
  f[2] = "50.1234";
  f[3] = "8.6543";
  f[4] = "12025";
  f[5] = "-1216";
  f[6] = "1";
  f[7] = "245.53";
  f[8] = "281.4";
  f[9] = "DLH4AB";
  f[10] = "A20N";
  f[11] = "D-AINZ";
  f[12] = "FRA";
  f[13] = "LHR";
  f[14] = "1733550000.25";
  f[17] = "adsb_icao";
  f[20] = "292";
  f[23] = "-2.81";
  f[25] = "246.09";
  f[28] = "A3";
  for (const auto& [i, t] : changes) f[static_cast<std::size_t>(i)] = t;
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) out += (i ? "," : "") + f[i];
  return out;
}

void decodeLines(benchmark::State& state, const std::vector<std::string>& lines) {
  g_realTrafficOnThisPc = true;  // no duplicate suppression: every line is decoded
  g_rangeNm = 40.0;
  setTrafficFeedOpen(true);
  kvo::TrafficReader reader;
  reader.setReferencePosition(50.0, 8.5);
  reader.setReferenceElevation(364.0);
  reader.setParkAirportPosition(50.0333, 8.5706);
  for (const auto& l : lines) reader.handleDatagram(l);  // warm: the ring and the field list exist
  std::size_t i = 0;
  const std::size_t before = g_allocations.load();
  for (auto _ : state) {
    reader.handleDatagram(lines[i]);
    if (++i == lines.size()) i = 0;
  }
  const std::size_t allocations = g_allocations.load() - before;
  state.SetItemsProcessed(state.iterations());
  state.counters["allocs/line"] = benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations()));
  state.counters["queued"] = static_cast<double>(trafficFeedSize());
  clearTrafficFeed();
  setTrafficFeedOpen(false);
}

void BM_AirborneLines(benchmark::State& state) {
  std::vector<std::string> lines;
  for (int k = 0; k < 64; ++k) {
    lines.push_back(line({{1, std::to_string(4840203 + k)}, {2, "50.1" + std::to_string(k)}, {4, std::to_string(3000 + 500 * k)}}));
  }
  decodeLines(state, lines);
}

void BM_GroundLines(benchmark::State& state) {
  std::vector<std::string> lines;
  for (int k = 0; k < 64; ++k) {
    lines.push_back(line({{1, std::to_string(4840203 + k)}, {2, "50.03" + std::to_string(k)}, {3, "8.57"}, {4, "375"},
                          {8, std::to_string(k % 20)}, {20, "-1"}, {23, "-1"}}));
  }
  decodeLines(state, lines);
}

void BM_FilteredLines(benchmark::State& state) {
  // Out of range, no type, a glider, a static id: dropped at different steps.
  decodeLines(state, {line({{2, "53.0"}}), line({{10, "null"}}), line({{28, "B1"}}), line({{1, "9000"}})});
}

}  // namespace

BENCHMARK(BM_AirborneLines);
BENCHMARK(BM_GroundLines);
BENCHMARK(BM_FilteredLines);
BENCHMARK_MAIN();
