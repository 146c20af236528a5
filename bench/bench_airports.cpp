// The closest-airport search over the world's list, and the read and write of a large airport
// file (500 stands with 20 uses each).
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "airports/airport_file.h"
#include "airports/airport_list.h"

namespace {

namespace fs = std::filesystem;

void loadWorld() {
  if (g_airports.empty() && !readAirportsFile(fs::path(AMBV_DATA_DIR) / "input" / "airports_msfs.xml")) {
    throw std::runtime_error("airport list not found");
  }
}

// Positions near airports (most find one) or anywhere on earth (most find none).
std::vector<kvo::LatLon> positions(bool nearAirports) {
  std::mt19937 engine(7);
  std::uniform_int_distribution<std::size_t> pick(0, g_airports.size() - 1);
  std::uniform_real_distribution<double> offset(-0.1, 0.1);
  std::uniform_real_distribution<double> lat(-90.0, 90.0);
  std::uniform_real_distribution<double> lon(-180.0, 180.0);
  std::vector<kvo::LatLon> out(4096);
  for (auto& p : out) {
    if (nearAirports) {
      const auto& a = g_airports[pick(engine)];
      p = {std::clamp(a.latitude + offset(engine), -90.0, 90.0), a.longitude};
    } else {
      p = {lat(engine), lon(engine)};
    }
  }
  return out;
}

void BM_FindClosestAirport(benchmark::State& state) {
  loadWorld();
  const auto points = positions(state.range(0) != 0);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(findClosestAirport(points[i++ & 4095]));
  }
}
BENCHMARK(BM_FindClosestAirport)->Arg(1)->Arg(0)->ArgName("nearAirports");

kvo::AirportFileRecord bigRecord() {
  kvo::AirportFileRecord r;
  r.icao = "ZZBG";
  r.name = "Benchmark";
  r.publisher = "stock";
  for (std::uint32_t i = 1; i <= 500; ++i) {
    kvo::Stand s;
    s.id = i;
    s.name = "GATE " + std::to_string(i);
    s.latitude = 50.0 + i * 1e-4;
    s.longitude = 8.5 + i * 1e-4;
    s.heading = i % 360;
    s.radius = 20.0 / kvo::kMetresPerNm;
    if (i > 1) s.adjacentIds.push_back(i - 1);
    if (i < 500) s.adjacentIds.push_back(i + 1);
    for (std::uint32_t u = 1; u <= 20; ++u) {
      kvo::StandUse use;
      use.airline = "DLH";
      use.type = "A320";
      use.key = "D-A" + std::to_string(i * 100 + u);
      use.callsign = "DLH" + std::to_string(u);
      use.halfHours = 0xFull << (u % 44);
      use.weekday = u % 7 + 1;
      use.optionId = u;
      use.real = u % 2;
      s.uses.push_back(use);
    }
    r.stands.push_back(std::move(s));
  }
  return r;
}

fs::path benchFile() { return fs::temp_directory_path() / "ambv_bench_airport_file.xml"; }

void BM_WriteAirportFile500x20(benchmark::State& state) {
  const auto record = bigRecord();
  for (auto _ : state) {
    if (!kvo::writeAirportFile(record, benchFile())) state.SkipWithError("write failed");
  }
  state.SetLabel(std::to_string(fs::file_size(benchFile())) + " bytes");
  fs::remove(benchFile());
}
BENCHMARK(BM_WriteAirportFile500x20)->Unit(benchmark::kMillisecond);

void BM_ReadAirportFile500x20(benchmark::State& state) {
  if (!kvo::writeAirportFile(bigRecord(), benchFile())) state.SkipWithError("write failed");
  kvo::AirportFileRecord record;
  for (auto _ : state) {
    if (!kvo::readAirportFile(benchFile(), record).empty()) state.SkipWithError("read failed");
  }
  fs::remove(benchFile());
}
BENCHMARK(BM_ReadAirportFile500x20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
