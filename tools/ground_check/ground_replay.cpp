#include "ground_replay.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "aircraft/livery_db.h"
#include "aircraft/livery_scan.h"
#include "airports/addon_scan.h"
#include "app/entry.h"
#include "app/main_loop.h"
#include "app/option_handlers.h"
#include "app/run_control.h"
#include "app/run_timing.h"
#include "app/startup_checks.h"
#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/timeutil.h"
#include "core/worker_slots.h"
#include "installation.h"
#include "links/feed.h"
#include "links/qnh_reader.h"
#include "links/rt_link.h"
#include "links/sim_client.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
#include "links/udp_reader.h"
#include "platform/simconnect/testing.h"
#include "session.h"
#include "shared_state/main_window.h"
#include "shared_state/run_clock.h"
#include "traffic/flight_plans.h"
#include "traffic/park_airports.h"
#include "traffic/traffic_engine.h"

namespace groundreplay {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The simulator client dispatches every millisecond; the main loop steps every 10.
constexpr std::chrono::milliseconds kDispatchPace = 1ms;
constexpr std::chrono::milliseconds kMainLoopPace = 10ms;
// The feed is shown this long after it is sent; the recording goes on this long after the
// replayed span, as the real-time run's.
constexpr double kFeedDelaySeconds = 30.0;
constexpr double kRecordedAfterSeconds = 40.0;
// Bounds of the waits before the replay, in virtual time.
constexpr std::chrono::milliseconds kConnectBound = 60s;
constexpr std::chrono::milliseconds kParkAirportBound = 60s;
constexpr const char* kParkAirport = "LOWS";

class Replay {
 public:
  explicit Replay(const Options& options) : options_(options) {}

  Run run() {
    Run out;
    try {
      setUp();
      startUp();
      runTraffic(out);
    } catch (const std::exception& e) {
      out.failure = e.what();
    }
    out.recording = std::move(recording_);
    out.failedCreations = failedCreations_;
    tearDown();
    out.log = coretest::readFile(work() / "Log.txt");
    return out;
  }

 private:
  fs::path work() const { return e2e::Folders{options_.folder}.work(); }

  // The installation, its environment and the virtual clock.
  void setUp() {
    const e2e::Folders at{options_.folder};
    fs::create_directories(options_.folder);
    e2e::layOut(at, AMBV_WORK_DIR);
    fs::copy_file(fs::path(AMBV_SOURCE_DIR) / "data/sim" / kvo::simtest::kScenarioFileName,
                  work() / kvo::simtest::kScenarioFileName);
    ::setenv("APPDATA", at.roaming().c_str(), 1);
    ::setenv("LOCALAPPDATA", at.local().c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", at.runtime().c_str(), 1);
    previousFolder_ = fs::current_path();
    fs::current_path(work());
    kvo::simtest::runByItself(work(), kvo::simtest::Clock::Manual);
    // The program's UTC clock starts at this PC's time: what the program stamps with the system
    // clock itself (a parked aircraft's time) stays close to it.
    utcStart_ = std::chrono::floor<std::chrono::seconds>(kvo::Clock::now());
    kvo::setUtcNowForTests(utcStart_);
    kvo::setRunWaitHookForTests([this](std::chrono::milliseconds d) { pass(d); });
    session_ = readSession();
  }

  std::vector<rtreplay::Datagram> readSession() const {
    std::ifstream in(options_.session, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + options_.session.string());
    std::string error;
    std::vector<rtreplay::Datagram> datagrams = rtreplay::readSession(in, error);
    if (!error.empty() || datagrams.empty()) {
      throw std::runtime_error(options_.session.string() + ": " + (error.empty() ? "no datagrams" : error));
    }
    return datagrams;
  }

  // The process's start and the start-up worker's steps up to the traffic.
  void startUp() {
    openLogFile(work());
    installEngineCalls();
    g_appDataFolder = programFolder();
    fs::create_directories(g_appDataFolder);
    // As on a restart: no version check of the data files, which would go to the network.
    g_restarting = true;
    runStartupChecks();
    setMaxWorkerSlots(std::max(1u, std::thread::hardware_concurrency()));
    if (!fs::exists(scannedLiveriesPath()) && !SCAN_LIVERIES.value()) SCAN_LIVERIES.set(true);
    g_mainWindow.liveryCount = scanLiveries();
    if (SCAN_AIRPORTS.value()) scanAddonAirports();
    createFlightPlanFolders();
    lf_readMyParkAirports();
  }

  // The run's steps from the simulator's connection to the main loop, then the main loop until the
  // replay's end.
  void runTraffic(Run& out) {
    reserveTrafficContainers();
    reserveLiveryDb();
    reserveSimConnectQueues();
    connect();
    if (!startUserAircraftRequests()) throw std::runtime_error("no user aircraft");
    if (AUTO_RANGE.value()) applyAutoRange();
    openRealTrafficLink();
    setTrafficFeedOpen(false);
    for (kvo::UdpReader* reader : std::initializer_list<kvo::UdpReader*>{&g_qnhReader, &g_trafficReader}) {
      reader->onConnected();
      kvo::logReaderConnected(reader->name());
      if (reader == &g_qnhReader) kvo::runWait(2s);
    }
    sendUserPositionToRT();
    {
      std::lock_guard lock(g_simQueueMutex);
      g_trafficReader.setReferencePosition(g_userAircraftSnapshot.lat, g_userAircraftSnapshot.lon);
    }
    // The line the end-to-end runs send first, from far away and out of range: the run sees that
    // traffic comes and starts its main loop, which makes the user's airport the park airport.
    g_trafficReader.handleDatagram(
        e2e::FeedAircraft{4869999, "AFR1", "A320", "F-HBNA", 48.0, 2.0, 30000, 90, 450}.line(utcNowSeconds()));
    warnNoTraffic();
    refreshCurrentWeekSlot();

    // The main loop.
    handleParkAirport(true);
    updateReaderLamps();
    g_userSampleCount = 0;
    refreshCurrentWeekSlot();
    setTrafficFeedOpen(true);
    const auto parkBound = nowMs_ + kParkAirportBound.count();
    while (g_parkAirport != kParkAirport) {
      if (nowMs_ > parkBound) throw std::runtime_error(std::string("no park airport ") + kParkAirport);
      step();
    }
    replayStartMs_ = nowMs_;
    epochStart_ = utcNowSeconds();
    recordedStart_ = -1;
    for (const rtreplay::Datagram& d : session_) {
      if (d.port == kvo::kTrafficPort) {
        recordedStart_ = std::atoll(rtreplay::field(d.payload, rtreplay::kTimestampField).c_str());
        break;
      }
    }
    out.feedShownSecond = static_cast<double>(replayStartMs_ - worldStartMs_) / 1000.0 + kFeedDelaySeconds;
    const double seconds =
        options_.sessionSeconds > 0.0 ? options_.sessionSeconds : static_cast<double>(session_.back().offsetMs) / 1000.0;
    const auto end = replayStartMs_ + static_cast<std::int64_t>(1000.0 * (seconds + kRecordedAfterSeconds));
    while (nowMs_ < end) step();
  }

  // The simulator client's connection: opened once the simulator runs, then the ids declared.
  void connect() {
    // The simulator's world starts with the first open that finds its scenario.
    worldStartMs_ = nowMs_;
    const auto bound = nowMs_ + kConnectBound.count();
    HANDLE handle = nullptr;
    while (SimConnect_Open(&handle, kvo::kSimClientName, nullptr, 0, nullptr, 0) < 0 || handle == nullptr) {
      if (nowMs_ > bound) throw std::runtime_error("the simulator did not start");
      pass(100ms);
    }
    g_simConnect = handle;
    defineSimConnectData();
  }

  // One main-loop step and the time up to the next.
  void step() {
    if (!mainLoopStep()) throw std::runtime_error("the main loop ended");
    pass(kMainLoopPace);
  }

  // Virtual time passing: the simulator's world moves on, the client dispatches what it sent, the
  // replay sends what falls due, and the state of every new second is recorded.
  void pass(std::chrono::milliseconds duration) {
    for (auto left = duration; left > 0ms; left -= kDispatchPace) {
      kvo::simtest::advanceWorld(kDispatchPace);
      nowMs_ += kDispatchPace.count();
      kvo::setUtcNowForTests(utcStart_ + std::chrono::milliseconds(nowMs_));
      if (const HANDLE h = g_simConnect.load()) {
        if (SimConnect_CallDispatch(h, dispatchSimConnect, nullptr) < 0) throw std::runtime_error("the simulator went");
      }
      sendDue();
      if (nowMs_ % 1000 == 0) record();
    }
  }

  // The session's datagrams that fall due, to the readers as the UDP loop hands them on.
  void sendDue() {
    if (replayStartMs_ < 0) return;
    std::vector<std::string> sent;
    for (; next_ < session_.size() && replayStartMs_ + session_[next_].offsetMs <= nowMs_; ++next_) {
      const rtreplay::Datagram& d = session_[next_];
      if (d.port == kvo::kTrafficPort) {
        sent.push_back(
            recordedStart_ >= 0 ? rtreplay::replayedTrafficLine(d.payload, recordedStart_, epochStart_, 1.0, 0) : d.payload);
        g_trafficReader.handleDatagram(sent.back());
      } else if (d.port == kvo::kQnhPort) {
        g_qnhReader.handleDatagram(d.payload);
      }
    }
    if (options_.beside && (!sent.empty() || nowMs_ % 10 == 0)) {
      for (const std::string& line : options_.beside(nowMs_ - replayStartMs_, sent)) g_trafficReader.handleDatagram(line);
    }
  }

  void record() {
    const auto state = e2e::simulatorState(work());
    if (!state || !state->contains("objects") || state->value("elapsedSeconds", -1.0) == lastElapsed_) return;
    lastElapsed_ = state->value("elapsedSeconds", -1.0);
    failedCreations_ = state->value("failedCreations", -1);
    if (replayStartMs_ >= 0) groundcheck::addState(*state, recording_);
  }

  void tearDown() {
    if (const HANDLE h = g_simConnect.exchange(nullptr)) SimConnect_Close(h);
    kvo::setRunWaitHookForTests({});
    kvo::setUtcNowForTests(std::nullopt);
    closeLogFile();
    if (!previousFolder_.empty()) fs::current_path(previousFolder_);
  }

  const Options& options_;
  fs::path previousFolder_;
  kvo::Clock::time_point utcStart_;
  std::int64_t nowMs_ = 0;  // virtual milliseconds since the simulator's start
  std::vector<rtreplay::Datagram> session_;
  std::size_t next_ = 0;
  std::int64_t worldStartMs_ = 0;
  std::int64_t replayStartMs_ = -1;
  long long epochStart_ = 0;
  long long recordedStart_ = -1;
  double lastElapsed_ = -1.0;
  int failedCreations_ = -1;
  groundcheck::Recording recording_;
};

}  // namespace

Run replaySession(const Options& options) {
  static bool replayed = false;
  if (replayed) {
    Run out;
    out.failure = "one replay per process";
    return out;
  }
  replayed = true;
  return Replay(options).run();
}

groundcheck::Report checkReplay(const Run& run, const std::filesystem::path& session, groundcheck::Limits& limits,
                                const std::filesystem::path& exactSession, bool judgedByExact) {
  std::ifstream in(session, std::ios::binary);
  limits.feedShownSecond = run.feedShownSecond;
  groundcheck::Feed feed = groundcheck::readFeed(in);
  if (!exactSession.empty()) {
    std::ifstream exact(exactSession, std::ios::binary);
    if (judgedByExact) {
      groundcheck::takeExact(feed, exact);
    } else {
      groundcheck::takePaths(feed, exact);
    }
  }
  return groundcheck::check(run.recording, feed, limits);
}

}  // namespace groundreplay
