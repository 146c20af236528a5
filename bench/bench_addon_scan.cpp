// The add-on airport scan: 200 Community packages with 5 airport BGL files each (1,000 airports
// of 50 stands), read, merged and written as airport files with the report, once with the worker
// pool (one slot per hardware thread) and once with a single worker. Files per second are the
// items per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <fmt/format.h>

#include "airports/addon_scan.h"
#include "airports/airport_folders.h"
#include "bgl/bgl_writer.h"
#include "core/worker_slots.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPackages = 200;
constexpr int kFilesPerPackage = 5;
constexpr int kStands = 50;

// The synthetic packages folder, made once per process and removed at exit.
struct Tree {
  fs::path root;
  Tree() {
    const char* base = std::getenv("AMBV_TEST_TMP");
    root = (base != nullptr && *base != '\0' ? fs::path(base) : fs::temp_directory_path()) /
           fmt::format("bench-addon-scan-{}", std::random_device{}());
    for (int p = 0; p < kPackages; ++p) {
      const fs::path package = root / "Packages" / "Community" / fmt::format("studio{:03}-airports", p);
      fs::create_directories(package / "scenery");
      std::ofstream(package / "manifest.json") << fmt::format(R"({{"title": "Airports {}", "creator": "Studio {}"}})", p, p);
      for (int f = 0; f < kFilesPerPackage; ++f) {
        const int n = p * kFilesPerPackage + f;
        bglw::Airport a;
        a.icao = fmt::format("Z{}{:03}", static_cast<char>('A' + n / 1000), n % 1000);
        a.name = fmt::format("Bench airport {}", n);
        a.lat = -60.0 + n * 0.1;
        a.lon = -170.0 + n * 0.3;
        a.deleteFlags = 0x0080;
        for (int s = 0; s < kStands; ++s) {
          bglw::Parking stand;
          stand.number = static_cast<std::uint16_t>(s + 1);
          stand.type = static_cast<std::uint8_t>(1 + s % 10);
          stand.radius = 12.0f + static_cast<float>(s % 4) * 6.0f;
          stand.heading = 90.0f;
          stand.lat = a.lat + (s / 10) * 0.0006;
          stand.lon = a.lon + (s % 10) * 0.0005;
          stand.airlines = {"DLH", "AUA"};
          a.parkings.push_back(stand);
        }
        const std::string bytes = bglw::bglFile({a});
        std::ofstream(package / "scenery" / (a.icao + ".bgl"), std::ios::binary).write(bytes.data(),
                                                                                         static_cast<std::streamsize>(bytes.size()));
      }
    }
  }
  ~Tree() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Tree& tree() {
  static Tree t;
  return t;
}

void scanOnce(benchmark::State& state, unsigned slots) {
  Tree& t = tree();
  g_airportsFolder = t.root / "airports";
  kvo::AddonScanSettings settings;
  settings.packagesFolder = t.root / "Packages";
  settings.reportFile = t.root / "output" / "AirportsScanLog.txt";
  std::size_t written = 0;
  for (auto _ : state) {
    setMaxWorkerSlots(slots);
    const kvo::AddonScanResult result = runAddonAirportScan(settings);
    written = result.airportFiles;
  }
  if (written != static_cast<std::size_t>(kPackages * kFilesPerPackage)) state.SkipWithError("airport files missing");
  state.SetItemsProcessed(state.iterations() * kPackages * kFilesPerPackage);
  state.counters["airports"] = static_cast<double>(written);
  state.counters["workers"] = slots;
}

void BM_AddonScanPool(benchmark::State& state) { scanOnce(state, std::max(1u, std::thread::hardware_concurrency())); }
void BM_AddonScanOneWorker(benchmark::State& state) { scanOnce(state, 1); }

}  // namespace

BENCHMARK(BM_AddonScanPool)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_AddonScanOneWorker)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

BENCHMARK_MAIN();
