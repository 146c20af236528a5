#include "app/main_loop.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <string>
#include <thread>

#include "aircraft/aircraft_types.h"
#include "aircraft/livery_db.h"
#include "airports/park_stands.h"
#include "airports/stand.h"
#include "app/controls.h"
#include "app/option_handlers.h"
#include "app/paint.h"
#include "app/run_timing.h"
#include "core/geometry.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/run_flags.h"
#include "core/timeutil.h"
#include "links/feed.h"
#include "links/rt_link.h"
#include "links/sim_client.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/sim_user_model.h"
#include "links/traffic_reader.h"
#include "links/udp_reader.h"
#include "platform/mmtimer/mmtimer.h"
#include "shared_state/main_window.h"
#include "traffic/aircraft_records.h"
#include "traffic/park_airports.h"
#include "traffic/static_aircraft.h"
#include "traffic/movement.h"
#include "traffic/traffic_engine.h"

bool g_flightPaused = false;
std::atomic<bool> g_parkPassPending{false};
bool g_parkPassPhase = false;
std::atomic<bool> g_parkCheckPending{false};
std::atomic<bool> g_flushStaticPending{false};
std::atomic<bool> g_blockCallsignPending{false};
std::atomic<bool> g_callsignLookupPending{false};

namespace {

using namespace std::chrono_literals;
using kvo::AircraftState;

constexpr std::int32_t kNotRunningSteps = 100;  // steps between the once-a-second idle work
constexpr double kFeetPerNm = 6076.11549;

std::int32_t g_notRunningCountdown = kNotRunningSteps;  // worker only
// The user position of the last static ground check (worker only).
bool g_lastStaticCheckKnown = false;
kvo::LatLon g_lastStaticCheckPosition;

bool stopping() { return g_stopRequested.load() || g_quitRequested.load(); }

void refreshWeekSlot() { refreshCurrentWeekSlot(); }

kvo::UserAircraftData snapshot() {
  std::lock_guard lock(g_simQueueMutex);
  return g_userAircraftSnapshot;
}

void storeSnapshot(const kvo::UserAircraftData& data) {
  std::lock_guard lock(g_simQueueMutex);
  g_userAircraftSnapshot = data;
}

void emptyPositionBuffers() {
  std::lock_guard lock(g_simQueueMutex);
  for (auto& buffer : g_positionBuffers) buffer.clear();
}

// Angle difference brought into -pi..pi.
double normalised(double radians) {
  constexpr double pi = std::numbers::pi;
  radians = std::fmod(radians, 2.0 * pi);
  if (radians > pi) radians -= 2.0 * pi;
  if (radians < -pi) radians += 2.0 * pi;
  return radians;
}

double userHalfSpan() { return g_userHalfWingSpan.load().value_or(g_maxHalfWingSpan.load()); }

bool isActive(const kvo::StaticAircraft& a) { return a.state == AircraftState::Active; }

kvo::LatLon positionOf(const kvo::LiveAircraft& a) { return {a.position.lat, a.position.lon}; }

// The user in the air: a live aircraft on the runway ahead, or one whose track passes within
// 700 ft, goes; at most one per sample.
void airborneCollisionCheck(const kvo::UserAircraftData& user) {
  const kvo::LatLon u{user.lat, user.lon};
  for (auto& ac : g_liveAircraft) {
    if (!isActive(ac)) continue;
    const double d = distanceNm(u, positionOf(ac));
    const double bearing = initialBearing(u, positionOf(ac));
    if (ac.onGround != 0 && user.aglFt < 500.0 && d <= 1.0) {
      const double offsetFt = std::abs(std::sin(normalised(bearing - user.heading))) * d * kFeetPerNm;
      if (offsetFt <= 50.0) {
        removeAircraftFromSim(ac);
        return;
      }
    }
    if (d <= 4.0 && std::abs(ac.position.altFt - user.altFt) < 1000.0) {
      const double a = normalised(ac.position.heading - bearing) * 180.0 / std::numbers::pi;
      const double e = std::abs(90.0 - std::abs(a));
      if (std::cos(e * std::numbers::pi / 180.0) * d * kFeetPerNm <= 700.0) {
        removeAircraftFromSim(ac);
        return;
      }
    }
  }
}

// The user on the ground: a live aircraft overlapping the user goes; else, once per user
// position, a static one.
void groundCollisionCheck(const kvo::UserAircraftData& user) {
  const kvo::LatLon u{user.lat, user.lon};
  const double span = userHalfSpan();
  for (auto& ac : g_liveAircraft) {
    if (ac.onGround != 0 && isActive(ac) && distanceNm(u, positionOf(ac)) <= (span + ac.halfSpanNm) * 1.15) {
      removeAircraftFromSim(ac);
      return;
    }
  }
  if (g_lastStaticCheckKnown && std::abs(u.lat - g_lastStaticCheckPosition.lat) < 1e-8 &&
      std::abs(u.lon - g_lastStaticCheckPosition.lon) < 1e-8) {
    return;
  }
  g_lastStaticCheckKnown = true;
  g_lastStaticCheckPosition = u;
  for (auto& ac : g_staticAircraft) {
    if (isActive(ac) && distanceNm(u, {ac.standLat, ac.standLon}) <= (span + ac.halfSpanNm) * 1.1) {
      removeAircraftFromSim(ac);
      return;
    }
  }
}

// Every 61st sample: a static aircraft that stands in for a live one now on the ground goes.
void removeStaticTwin() {
  if (g_staticAircraft.empty() || g_liveAircraft.empty()) return;
  for (const auto& live : g_liveAircraft) {
    if (live.onGround == 0 || !isActive(live)) continue;
    const std::string starred = live.callsign + "*";
    for (auto& twin : g_staticAircraft) {
      const bool same = twin.callsign == starred || (!live.registration.empty() && twin.registration == live.registration);
      if (same && isActive(twin)) {
        removeAircraftFromSim(twin);
        return;
      }
    }
  }
}

void runDuplicateCheck() {
  if (g_duplicateCheckQueue.empty() || g_liveAircraft.empty()) return;
  const std::uint32_t id = g_duplicateCheckQueue.front();
  for (auto& ac : g_liveAircraft) {
    if (ac.internalId != id) continue;
    if (ac.coupledSearchDone == 0) {
      lf_searchForCoupledCsAroundThisTime(ac, g_currentWeekSlot.load());
      ac.coupledSearchDone = 1;
    }
    removeSameRegcodeOrCallsign(ac, ac.onGround != 0);
    break;
  }
  // The aircraft may be gone; the id leaves the queue either way.
  if (!g_duplicateCheckQueue.empty() && g_duplicateCheckQueue.front() == id) g_duplicateCheckQueue.pop_front();
}

void runCallsignLookup() {
  const std::string wanted = CALLSIGN_2_OBJECTID.value();
  for (const auto& ac : g_liveAircraft) {
    if (isActive(ac) && ac.callsign == wanted) {
      g_selectedObjectId = ac.objectId;  // its removal or respawn clears the shown id
      g_mainWindow.setDisplayText(&kvo::MainWindow::objectIdText, fmt::format("= {}", ac.objectId), g_panelRect);
      g_callsignLookupPending = false;
      return;
    }
  }
  g_selectedObjectId = 0;
  g_mainWindow.setDisplayText(&kvo::MainWindow::objectIdText, {}, g_panelRect);
  g_mainWindow.invalidate(g_panelRect);
  g_mainWindow.showMessage(fmt::format("callsign '{}' is unknown", wanted), true);
  g_callsignLookupPending = false;
}

void runBlockCallsign() {
  const std::string blocked = BLOCK_CALLSIGN.value();
  if (!blocked.empty()) {
    for (auto& ac : g_liveAircraft) {
      if (isActive(ac) && ac.callsign == blocked) {
        removeAircraftFromSim(ac);
        break;
      }
    }
  }
  g_blockCallsignPending = false;
}

}  // namespace

kvo::SampleJobs kvo::sampleJobsAt(std::int32_t n) {
  SampleJobs jobs;
  if (n % 15 == 0) {
    jobs.fifteenGroup = true;
    jobs.autoRange = n % 30 == 0;
    jobs.minutes = jobs.autoRange && n % 60 == 0;
    jobs.twentyMinutes = jobs.minutes && n % 1200 == 0;
    jobs.day = jobs.twentyMinutes && n % kSamplesPerDay == 0;
    return jobs;
  }
  jobs.parkAirport = n % 16 == 0;
  jobs.readerLamps = n % 59 == 0;
  jobs.staticTwins = n % 61 == 0;
  jobs.callsignList = n % 62 == 0;
  return jobs;
}

std::int32_t kvo::minutesToNextPassAt(std::int32_t n) {
  const std::int32_t m = n / 60;
  return 20 * (m / 20 + 1) - m;
}

bool startUserAircraftRequests() {
  while (!(g_flightRunning.load() && !g_simQueuesNotReady.load())) {
    if (stopping()) return false;
    kvo::runWait(100ms);
  }
  // A failed request is reported inside and ends the run; the waits below then see the stop.
  requestUserAircraftOnGround();
  for (;;) {
    const auto user = snapshot();
    if (g_userOnGround.load().has_value() && kvo::isKnownPosition(user.lat, user.lon)) break;
    if (stopping()) return false;
    storeSnapshot(requestUserAircraftPosition());
    kvo::runWait(500ms);
  }
  requestUserAircraftTitleAndModel();
  for (;;) {
    const auto user = snapshot();
    if (kvo::isKnownPosition(user.lat, user.lon)) break;
    if (stopping()) return false;
    storeSnapshot(requestUserAircraftPosition());
    kvo::runWait(200ms);
  }
  return !stopping();
}

void warnNoTraffic() {
  // Bounded by 150 rounds (15 s); a stop ends it sooner, as every wait of the run does.
  for (int round = 0; round < 150 && g_feedEpochTime.load() == 0.0; ++round) {
    if (stopping()) return;
    kvo::runWait(100ms);
  }
  if (g_feedEpochTime.load() == 0.0) logLine("No traffic in this region?");
}

void runMainLoop() {
  handleParkAirport(true);
  updateReaderLamps();
  g_userSampleCount = 0;
  auto next = std::chrono::steady_clock::now() + 10ms;
  refreshWeekSlot();
  setTrafficFeedOpen(true);
  enableControl(CALLSIGN_2_OBJECTID.binding, true);
  timeBeginPeriod(1);
  try {
    while (mainLoopStep()) {
      const auto now = std::chrono::steady_clock::now();
      if (next > now) {
        // Whole milliseconds, rounded up.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
        std::this_thread::sleep_for(wait);
      }
      // A user sample aligns the schedule to its arrival; a late step is never made up.
      if (g_newUserSample.load()) next = std::chrono::steady_clock::now();
      next += 10ms;
    }
  } catch (...) {
    timeEndPeriod(1);
    throw;
  }
  timeEndPeriod(1);
}

bool mainLoopStep() {
  if (g_flightRunning.load() && !g_simQueuesNotReady.load()) {
    lf_handleAddingStack();
    bool expected = true;
    if (!g_newUserSample.compare_exchange_strong(expected, false)) {
      // A stop must not wait for the next sample: samples may never come again.
      return !stopping();
    }
    processUserSample();
    if (stopping()) return false;
    runSampleJobs(g_userSampleCount);
    return true;
  }
  handleFlightNotRunning();
  return !stopping();
}

void runSampleJobs(std::int32_t n) {
  const kvo::SampleJobs jobs = kvo::sampleJobsAt(n);
  if (jobs.fifteenGroup) {
    const auto user = snapshot();
    g_trafficReader.setReferencePosition(user.lat, user.lon);
    if (g_rtProfEdition.load()) sendSimTimeToRT(g_simTime.load());
    if (!g_reservedStand.empty()) freeReservedStand();
    finishParkAirportCheck();
    runPeriodicJobs();
    return;
  }
  if (jobs.parkAirport && !g_parkPassPhase) handleParkAirport(false);
  if (jobs.readerLamps) updateReaderLamps();
  if (jobs.staticTwins) removeStaticTwin();
  if (jobs.callsignList && CALLSIGN_OBJECTIDS.value() && g_simIs2020.load()) listParkedAircraft();
}

void runPeriodicJobs() {
  const std::int32_t n = g_userSampleCount;
  if (g_parkPassPending.load()) {
    if (!g_parkPassPhase) {
      g_parkPassPhase = true;
      disableControlsForStaticParking();
      g_trafficReader.startCollectingCallsigns();
    } else {
      g_parkPassPhase = false;
      g_mainWindow.clearError();
      g_mainWindow.clearMessage();
      if (!g_parkAirport.empty() && !g_parkStands.empty()) adjustParking();
      g_parkPassPending = false;
    }
  }
  if (g_mainWindow.g_trafficLamp.load() == kvo::kLampIdle || g_mainWindow.g_qnhLamp.load() == kvo::kLampIdle) {
    updateReaderLamps();
  }
  const kvo::SampleJobs jobs = kvo::sampleJobsAt(n);
  if (!jobs.autoRange) return;
  if (AUTO_RANGE.value()) applyAutoRange();
  if (!jobs.minutes) return;
  g_mainWindow.minutesToNextPass = kvo::minutesToNextPassAt(n);
  g_mainWindow.invalidate(g_panelRect);
  if (!jobs.twentyMinutes) return;
  logNoMatchList();
  if (g_parkAirportLoaded.load() && !INITIAL_LOAD_ONLY.value() && !g_parkPassPending.load()) {
    g_parkPassPending = true;
  }
  if (!jobs.day) return;
  g_userSampleCount = 0;
  logLiveryMatchingSummary();
  clearSpawnMap();
}

void processUserSample() {
  if (g_flightPaused) {
    g_flightPaused = false;
    logLine(fmt::format("{} Flight resumed", currentTimeText()));
    setTrafficFeedOpen(true);
  }
  g_mainWindow.onUserSampleMessageClock();
  refreshCounters();
  refreshWeekSlot();
  g_userSampleCount += 1;
  runDuplicateCheck();
  if (g_callsignLookupPending.load()) runCallsignLookup();
  if (g_flushStaticPending.load()) {
    removeAllStaticAircraft();
    g_flushStaticPending = false;
    if (!INITIAL_LOAD_ONLY.value()) {
      INITIAL_LOAD_ONLY.set(true);
      showValueInControl(INITIAL_LOAD_ONLY);
    }
  }
  const auto user = snapshot();
  const auto onGround = g_userOnGround.load();
  if (onGround.has_value() && !*onGround && COLLISION_USER_AIR.value()) {
    airborneCollisionCheck(user);
  } else if (onGround.has_value() && *onGround && COLLISION_USER_GND.value()) {
    groundCollisionCheck(user);
  }
  if (COLLISION_LIVE_PARKED_GND.value() && !g_staticAircraft.empty()) {
    for (auto& ac : g_liveAircraft) {
      const bool moving = ac.phase == kvo::GroundPhase::Taxi || ac.phase == kvo::GroundPhase::Parking;
      if (ac.onGround != 0 && moving && isActive(ac) && hasMovedSincePreviousStep(ac)) avoidCollisionWithStatic(ac);
    }
  }
  if (g_blockCallsignPending.load()) runBlockCallsign();
  takeWindowRequests();
}

void handleFlightNotRunning() {
  if (!g_flightPaused) {
    setTrafficFeedOpen(false);
    g_flightPaused = true;
    g_notRunningCountdown = kNotRunningSteps;
    emptyPositionBuffers();
    logLine(fmt::format("{} Flight not running", currentTimeText()));
  }
  handleSimConnectResults();
  g_notRunningCountdown -= 1;
  if (g_notRunningCountdown % kNotRunningSteps == 0) {
    finishParkAirportCheck();
    sendUserPositionToRT();
  }
  if (g_notRunningCountdown < 1) {
    g_notRunningCountdown = kNotRunningSteps;
    refreshCounters();
    refreshWeekSlot();
  }
}

void finishParkAirportCheck() {
  if (!g_parkCheckPending.load() || g_staticParkingBusy.load()) return;
  std::string message;
  checkParkAirports(true, message);
  if (!message.empty()) g_mainWindow.showMessage(message, true);
  enableControl(g_reReadButton.binding, true);
  enableControl(DESTINATION.binding, true);
  g_parkCheckPending = false;
}

void resetMainLoopState() {
  g_userSampleCount = 0;
  g_flightPaused = false;
  g_parkPassPending = false;
  g_parkPassPhase = false;
  g_blockCallsignPending = false;
  g_callsignLookupPending = false;
  g_notRunningCountdown = kNotRunningSteps;
  g_lastStaticCheckKnown = false;
  g_lastStaticCheckPosition = {};
}
