// The livery scan: 2,000 synthetic aircraft.cfg files with 10 liveries each (20,000 liveries),
// scanned and written to LiveriesScanned.xml, once with the worker pool (one slot per hardware
// thread) and once with a single worker. Files per second are the items per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <fmt/format.h>

#include "aircraft/aircraft_types.h"
#include "aircraft/livery_scan.h"
#include "core/worker_slots.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 2000;
constexpr int kLiveriesPerFile = 10;

const char* const kTypes[] = {"A20N", "A21N", "A320", "A321", "B738", "B38M", "B77W", "B789", "E190", "CRJ9"};
const char* const kAirlines[] = {"DLH", "BAW", "AFR", "KLM", "UAL", "DAL", "AAL", "EZY", "RYR", "SWR",
                                 "AUA", "IBE", "QFA", "SIA", "UAE", "QTR", "THY", "SAS", "FIN", "TAP"};

// The synthetic packages folder, made once per process and removed at exit.
struct Tree {
  fs::path root;
  Tree() {
    const char* base = std::getenv("AMBV_TEST_TMP");
    root = (base != nullptr && *base != '\0' ? fs::path(base) : fs::temp_directory_path()) /
           fmt::format("bench-livery-scan-{}", std::random_device{}());
    const fs::path airplanes = root / "Community" / "aig-aitraffic-bench" / "SimObjects" / "Airplanes";
    for (int f = 0; f < kFiles; ++f) {
      const fs::path dir = airplanes / fmt::format("AIG_{:04}", f);
      fs::create_directories(dir / "TEXTURE.X");
      std::ofstream out(dir / "aircraft.cfg", std::ios::binary);
      const char* type = kTypes[f % 10];
      out << "[VERSION]\r\nmajor = 1\r\nminor = 0\r\n\r\n[GENERAL]\r\nicao_type_designator = \"" << type
          << "\"\r\nicao_manufacturer = \"MAKER\"\r\nicao_model = \"MODEL\"\r\n\r\n";
      for (int l = 0; l < kLiveriesPerFile; ++l) {
        const char* airline = kAirlines[(f * kLiveriesPerFile + l) % 20];
        out << fmt::format(
            "[FLTSIM.{}]\r\ntitle = \"AIG {} {} livery {}-{}\" ; the livery\r\nmodel = \"\"\r\ntexture = \"X\"\r\n"
            "atc_id = \"\"\r\natc_airline = \"Callsign\"\r\nicao_airline = \"{}\"\r\natc_parking_codes = \"{}\"\r\n"
            "atc_parking_types = \"GATE,RAMP\"\r\nui_variation = \"{} {}\"\r\nisAirTraffic = 1\r\n"
            "isUserSelectable = 0\r\n\r\n",
            l, type, airline, f, l, airline, airline, airline, type);
      }
    }
    for (const char* t : kTypes) addAircraftType(t, 35.0, 1u << Large);
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
  LiveryScanSettings settings;
  settings.packagesFolder = t.root;
  const fs::path xml = t.root / "output" / "LiveriesScanned.xml";
  std::size_t liveries = 0;
  for (auto _ : state) {
    setMaxWorkerSlots(slots);
    const LiveryScanResult result = runLiveryScan(settings);
    if (!writeScannedLiveries(xml, result, settings)) state.SkipWithError("LiveriesScanned.xml not written");
    liveries = result.liveries.size();
  }
  if (liveries != static_cast<std::size_t>(kFiles * kLiveriesPerFile)) state.SkipWithError("liveries missing");
  state.SetItemsProcessed(state.iterations() * kFiles);
  state.counters["liveries"] = static_cast<double>(liveries);
  state.counters["workers"] = slots;
}

void BM_LiveryScanPool(benchmark::State& state) {
  scanOnce(state, std::max(1u, std::thread::hardware_concurrency()));
}
void BM_LiveryScanOneWorker(benchmark::State& state) { scanOnce(state, 1); }

}  // namespace

BENCHMARK(BM_LiveryScanPool)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LiveryScanOneWorker)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

BENCHMARK_MAIN();
