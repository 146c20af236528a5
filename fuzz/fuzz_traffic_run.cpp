// libFuzzer target: a datagram on its whole road, not only through the decoder: the Traffic
// Reader, the feed, the traffic engine's tick up to the creation in the stand-in simulator, and
// the simulator's state file. A text or number the decoder lets through reaches every writer on
// that road; the state file must stay readable JSON whose objects carry clean names.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "aircraft/data_crypto.h"
#include "aircraft/dbase.h"
#include "aircraft/livery_db.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/utf.h"
#include "links/feed.h"
#include "links/sim_client.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
#include "links/udp_reader.h"
#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"
#include "scratch_folder.h"
#include "traffic/flight_plans.h"
#include "traffic/traffic_engine.h"

namespace {

namespace fs = std::filesystem;
namespace simtest = kvo::simtest;

constexpr double kUserLat = 50.0;
constexpr double kUserLon = 8.5;
// Ticks run per input after the clock jumped to just before the line's point is due: enough for
// the spawn and the paced creation.
constexpr kvo::TickCount kDueTicks = 3000;
constexpr kvo::TickCount kTicksBeforeDue = 150;
constexpr int kTicksPerInput = 250;
// Inputs after which the engine and the simulator's connection start afresh, so that neither
// grows with the run.
constexpr int kInputsPerConnection = 50;
// The byte that ends a datagram of an input: RealTraffic's lines never hold it (and the decoder's
// own target, fuzz_traffic_line, tries it inside a line).
constexpr char kDatagramEnd = '\x1E';
constexpr std::size_t kMaxDatagrams = 8;

void writeFile(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

void writeEncrypted(const fs::path& path, const std::string& plain) {
  const std::vector<std::uint8_t> bytes = gf_streamEncrypt("<?xml version=\"1.0\"?>" + plain, builtInDataKey());
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}

class Road {
 public:
  Road() : folder_(fuzzinput::freshScratchFolder("traffic_run")) {
    writeEncrypted(folder_ / "input" / "dbase.enc",
                   "<dbase><aircraft><type icao=\"A20N\" span_m=\"35.8\" sets=\"large\"/>"
                   "<type icao=\"B738\" span_m=\"35.8\" sets=\"large\"/><type icao=\"C172\" span_m=\"11.0\" sets=\"\"/>"
                   "</aircraft><registrations/></dbase>");
    writeEncrypted(folder_ / "input" / "AIG-regcodes.enc", "<regcodes><registrations/><specialliveries/></regcodes>");
    openLogFile(folder_);
    readDbase(folder_);
    buildLiveryDb({LiveryData{"DLH", "A20N", "Airbus A320neo DLH", "", 0, 0},
                   LiveryData{"RYR", "B738", "Boeing 737 RYR", "", 0, 0},
                   LiveryData{"PVT", "C172", "Cessna 172", "", 0, 0}});
    writeFile(folder_ / simtest::kScenarioFileName,
              R"({"userAircraft": {"latitude": 50.0, "longitude": 8.5, "altitudeFt": 5000},
                  "liveries": ["Airbus A320neo DLH", "Boeing 737 RYR", "Cessna 172"]})");
    g_callsignListFile = folder_ / "Callsign2ObjectId.txt";
    g_flightPlanFolder = folder_ / "plans";
    fs::create_directories(g_flightPlanFolder);
    g_realTrafficOnThisPc.store(true);  // decode every input, also a repeated one
    g_rangeNm.store(100.0);
    g_rangeMeters = 100.0 * 1852.0;
    reader_.setReferencePosition(kUserLat, kUserLon);
    simtest::runByItself(folder_, simtest::Clock::Manual);
    reserveSimConnectQueues();
    reserveTrafficContainers();
    connect();
  }

  // The input is one or more datagrams, each ended by kDatagramEnd (an aircraft is spawned
  // only from two points of its track).
  void run(std::string_view input) {
    setTrafficFeedOpen(true);
    for (std::size_t count = 0; !input.empty() && count < kMaxDatagrams; ++count) {
      const std::size_t end = std::min(input.find(kDatagramEnd), input.size());
      reader_.handleDatagram(input.substr(0, end));
      input.remove_prefix(std::min(end + 1, input.size()));
    }
    while (trafficFeedSize() > 0) lf_handleAddingStack();  // the intake
    g_trafficTick.fetch_add(kDueTicks - kTicksBeforeDue);
    for (int i = 0; i < kTicksPerInput; ++i) {
      lf_handleAddingStack();
      flushSimConnectQueues();
    }
    simtest::advanceWorld(std::chrono::milliseconds(1000));  // one state file
    checkState();
    if (++inputs_ % kInputsPerConnection == 0) {
      SimConnect_Close(g_simConnect.exchange(nullptr));
      resetTraffic();
      connect();
    }
  }

 private:
  void connect() {
    HANDLE handle = nullptr;
    if (SimConnect_Open(&handle, "Ambrelvane", nullptr, 0, nullptr, 0) < 0) __builtin_trap();
    g_simConnect.store(handle);
    g_flightRunning.store(true);
    g_simQueuesNotReady.store(false);
    kvo::UserAircraftData user;
    user.lat = kUserLat;
    user.lon = kUserLon;
    user.altFt = 5000.0;
    user.aglFt = 5000.0;
    user.groundSpeedKt = 200.0;
    std::lock_guard lock(g_simQueueMutex);
    g_userAircraft = user;
    g_userAircraftSnapshot = user;
  }

  void checkState() const {
    std::ifstream in(folder_ / simtest::kStateFileName, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto state = nlohmann::json::parse(text, nullptr, false);
    if (state.is_discarded() || !state.contains("objects")) __builtin_trap();
    for (const auto& o : state["objects"]) {
      const bool clean = kvo::isCleanText(o.value("atcId", std::string("\x01"))) &&
                         kvo::isCleanText(o.value("title", std::string("\x01")));
      const bool finite = o["altitudeFt"].is_number() && std::abs(o["altitudeFt"].get<double>()) < 1e6;
      if (!clean || !finite) __builtin_trap();
    }
  }

  fs::path folder_;
  kvo::TrafficReader& reader_ = g_trafficReader;
  int inputs_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Road road;
  road.run(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
