// The traffic tick: feed intake, the steps of every live aircraft, the pacing of creations and
// removals, the in-range request; the engine's containers with their reservation and reset.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <utility>

#include "aircraft/aircraft_types.h"
#include "aircraft/dbase.h"
#include "aircraft/livery_db.h"
#include "airports/park_stands.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/timeutil.h"
#include "core/user_error.h"
#include "links/engine_calls.h"
#include "links/qnh_reader.h"
#include "links/rt_link.h"
#include "links/sim_client.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "platform/simconnect/simconnect.h"
#include "shared_state/main_window.h"
#include "shared_state/run_clock.h"
#include "traffic/engine_detail.h"
#include "traffic/ground_detail.h"
#include "traffic/movement_util.h"
#include "traffic/park_airports.h"
#include "traffic/stand_search.h"
#include "traffic/static_aircraft.h"
#include "traffic/movement.h"
#include "traffic/traffic_engine.h"

std::deque<kvo::CreateRequest> g_addingStack;
std::deque<kvo::CreateRequest> g_queuedCreates;
std::deque<std::uint32_t> g_removeQueue;
std::vector<std::uint32_t> g_pendingCreateIds;
std::vector<kvo::SimConnectResult> g_deferredResults;
std::vector<std::string> g_ghostCallsigns;
std::list<std::uint32_t> g_duplicateCheckQueue;
std::uint32_t g_selectedObjectId = 0;
std::filesystem::path g_callsignListFile = "Callsign2ObjectId.txt";
std::atomic<bool> g_trimLivePending{false};

using namespace kvo;
using namespace kvo::engine;

namespace {

bool g_trafficContainersReserved = false;  // worker only

// A fast aircraft flying straight takes one point per 450 m, a slow one on the ground one per
// 20 m: nm, and seconds at most.
constexpr double kAirborneSpacingNm = 0.2429805615550756;
constexpr double kGroundSpacingNm = 0.010799136069114472;
constexpr double kSpacingMaxSeconds = 15.0;

// A point below 10000 ft within 120 ft of the park airport's elevation looks like an aircraft on
// the ground reported airborne (or the reverse): it is not taken for a new or buffered aircraft.
bool nearParkElevation(double altFt) {
  const double elevation = g_parkAirport.empty() ? -1000.0 : g_parkAirportElevation;
  return altFt > 0.0 && altFt < 10000.0 && std::abs(altFt - elevation) <= 120.0;
}

double trackDifferenceDeg(double a, double b) { return std::abs(wrap180(a - b)); }

// Seconds within which a straight-going point after the last one adds nothing.
double spacingSeconds(double spacingNm, double groundSpeedKt, bool capped) {
  if (groundSpeedKt == 0.0) return kSpacingMaxSeconds;
  const double t = spacingNm / (groundSpeedKt / 3600.0);
  return capped ? std::min(t, kSpacingMaxSeconds) : t;
}

// The record of a known aircraft adds nothing or contradicts the last point.
bool ignoreUpdate(const LiveAircraft& ac, const FeedRecord& record) {
  if (ac.trackPoints.empty()) return false;
  const TrackPoint& last = ac.trackPoints.back();
  const TrackPoint& next = record.position;
  const double dt = record.timestamp - ac.feedTime;
  if (!(dt > 1.0)) return true;
  const double lastGs = last.groundSpeedKt;
  const double gs = next.groundSpeedKt;
  if (lastGs > 5.0 && gs >= 10.0 * lastGs) return true;
  if (gs > 5.0 && lastGs >= 10.0 * gs) return true;
  if (lastGs <= 5.0 && gs >= 80.0) return true;
  if (gs <= 5.0 && lastGs >= 80.0) return true;
  // While pushing back every line counts: they give the push's pace and where it stops (a tug's
  // pace and a standing aircraft's lines would otherwise be thinned to one in 15 s).
  if (ac.standRouteState < 1 && ac.phase != GroundPhase::PushingBack) {
    const double turn = trackDifferenceDeg(next.trackDeg, last.trackDeg);
    if (next.airborne != 0 && gs > 120.0 && turn <= 1.0 && dt <= spacingSeconds(kAirborneSpacingNm, gs, false)) {
      return true;
    }
    if (next.airborne == 0 && gs <= 30.0 && turn <= 2.0 && dt <= spacingSeconds(kGroundSpacingNm, gs, true)) {
      return true;
    }
  }
  return false;
}

// The type of the registration in the data base; empty when it does not know it.
std::string typeOfRegistration(const std::string& registration) {
  if (registration.empty()) return {};
  const auto record = findRegcode(registration);
  return record ? record->type : std::string();
}

// The tick's creation request of the newest spawned aircraft.
void buildNextCreateRequest() {
  if (g_pendingCreateIds.empty()) return;
  const std::uint32_t id = g_pendingCreateIds.back();
  g_pendingCreateIds.pop_back();
  const auto it = findByInternalId(g_liveAircraft, id);
  if (it == g_liveAircraft.end()) return;
  if (it->callsign.empty()) {
    logArrowLine(fmt::format("{} {} objectid = 0?", "lf_handleAddingStack", aircraftText(*it)));
    return;
  }
  g_addingStack.push_back(CreateRequest{initPositionFromBlock(it->position), it->callsign, it->liveryTitle, it->internalId});
}

void swapPositionBuffers() {
  std::unique_lock lock(g_simQueueMutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    // At 50 frames a second or less a frame is long: this tick's positions go rather than
    // stall the tick.
    if (g_frameRate.load() <= 50.0f) {
      g_positionBufferFill->clear();
      return;
    }
    lock.lock();
  }
  std::swap(g_positionBufferFill, g_positionBufferSend);
  g_positionBufferFill->clear();
}

void deleteCallsignList() {
  // A missing file is no error; any other failure is thrown.
  std::filesystem::remove(g_callsignListFile);
}

}  // namespace

void installEngineCalls() {
  g_dropLiveTrafficCall = dropLiveTraffic;
  g_findStandAtCall = findStandAt;
  g_saveUserStandCall = saveUserStandAtParkAirport;
}

void requestLiveTrim() { g_trimLivePending = true; }

void lf_handleAddingStack() {
  handleSimConnectResults();
  if (g_trimLivePending.exchange(false)) trimLiveAircraft();
  updateAllLiveAircraft();
  paceSimRequests();
  {
    std::lock_guard lock(g_trafficFeedMutex);
    for (int i = 0; i < kFeedRecordsPerTick && !g_trafficFeed.empty(); ++i) {
      try {
        processFeedRecord(g_trafficFeed.front());
      } catch (const UserErrorException&) {
        g_trafficFeed.pop_front();
        throw;
      } catch (const std::exception& e) {
        // The record goes either way: kept, it would fail again every tick.
        logArrowLine(fmt::format("{} exception: {}", "processFeedRecord", e.what()));
      }
      g_trafficFeed.pop_front();
    }
  }
  buildNextCreateRequest();
  requestAircraftInRange();
  g_trafficTick.fetch_add(1);
}

void processFeedRecord(FeedRecord& record) {
  // A line read before the feed's aircraft agreed on a time (a wild first line) is judged now: one
  // record never takes an aircraft's time far past the feed's, where its true lines would all look
  // older than its last.
  if (isFarAheadOfTheFeed(record.timestamp)) return;
  const auto it = findByInternalId(g_liveAircraft, record.hexId);
  if (it != g_liveAircraft.end()) {
    LiveAircraft& ac = *it;
    if (ac.state == AircraftState::LiveryRespawn || ac.state == AircraftState::RemovingFromSim) return;
    if (ignoreUpdate(ac, record)) {
      // A parked aircraft's lines are thinned to one in 15 s, yet each tells where its feed puts
      // it standing: without them a push's start was reckoned from a standing line 10 s old.
      const TrackPoint& line = record.position;
      if (ac.phase == GroundPhase::Parked && record.timestamp - ac.feedTime > 1.0 && line.airborne == 0 &&
          line.groundSpeedKt < kvo::mv::kPushBackStandsKt) {
        kvo::mv::noteFeedLine(ac, line);
      }
      return;
    }
    if (ac.state == AircraftState::Buffer && nearParkElevation(record.position.altFt)) return;
    if (!respawnCheck(ac, record)) return;
    ac.feedTime = record.timestamp;
    decodeExisting(ac, record.position);
    return;
  }
  if (!record.callsign.empty()) {
    const bool sameFlight = std::any_of(g_liveAircraft.begin(), g_liveAircraft.end(), [&](const LiveAircraft& a) {
      return a.callsign == record.callsign && a.type == record.type;
    });
    if (sameFlight) return;
  }
  acceptNewFeedId(record);
}

void acceptNewFeedId(FeedRecord& record) {
  // Internal ids up to 10000 belong to static aircraft: such an id cannot be taken for a live one.
  if (!isLiveInternalId(record.hexId)) return;
  if (record.type.empty()) record.type = typeOfRegistration(record.registration);
  if (isKnownType(record.type)) {
    makeLiveAircraft(record);
    return;
  }
  std::string type = typeOfRegistration(record.registration);
  if (type.empty()) return;
  record.type = std::move(type);
  makeLiveAircraft(record);
}

void makeLiveAircraft(FeedRecord& record) {
  const SizeCategory category = getSizeCategory(record.type);
  if (!categoryEnabled(category)) return;
  if (nearParkElevation(record.position.altFt)) return;
  record.coupledCallsign1 = record.callsign;
  record.coupledCallsign2.clear();
  record.coupledSearchDone = 0;
  AircraftBase base = makeAircraftBase(record);
  base.internalId = record.hexId;
  base.turnRate = base.turnRateBase;
  const LiveCategoryValues& values = liveCategoryValues(base.sizeCategory);
  base.climbStep = values.climbStep;
  base.standSpeedKt = values.standSpeedKt;
  g_liveAircraft.push_back(initLiveAircraft(std::move(base), record.position, record.timestamp));
}

void updateAllLiveAircraft() {
  // By index: a step may mark other aircraft, never add or erase one.
  for (std::size_t i = 0; i < g_liveAircraft.size(); ++i) updateLiveAc(g_liveAircraft[i]);
  // Every marked record goes, also one that another aircraft's step marked after its own step.
  if (std::any_of(g_liveAircraft.begin(), g_liveAircraft.end(), shouldErase)) {
    for (const LiveAircraft& a : g_liveAircraft) {
      // A record that never reached "removingfromsim" has not given its stand back yet.
      if (shouldErase(a) && a.state != AircraftState::RemovingFromSim) freeStand(a.standId);
    }
    std::erase_if(g_liveAircraft, shouldErase);
  }
  // A static aircraft whose creation was taken back has nothing left in the simulator.
  if (std::any_of(g_staticAircraft.begin(), g_staticAircraft.end(), shouldErase)) {
    std::erase_if(g_staticAircraft, shouldErase);
  }
  swapPositionBuffers();
}

void paceSimRequests() {
  const TickCount tick = nowTick();
  if (tick % kRemovalPaceTicks == 0 && !g_removeQueue.empty()) {
    {
      std::lock_guard lock(g_simQueueMutex);
      g_simRemoveQueue.push_back(g_removeQueue.front());
    }
    g_removeQueue.pop_front();
  }
  if (tick % kCreationPaceTicks != 0) return;
  if (!g_addingStack.empty()) {
    queueCreateRequest(g_addingStack.front());
    g_addingStack.pop_front();
    return;
  }
  if (!g_queuedCreates.empty()) {
    queueCreateRequest(g_queuedCreates.front());
    g_queuedCreates.pop_front();
  }
  if (!g_staticCandidates.empty()) spawnStaticAircraft();
}

void requestAircraftInRange() {
  const TickCount tick = nowTick();
  if (tick % kInRangePaceTicks == 0) {
    std::lock_guard lock(g_simQueueMutex);
    if (!g_simQueuesNotReady.load()) {
      const double metres = std::clamp(g_rangeMeters.load() + kvo::kInRangeMarginMetres, 0.0, 4.0e9);
      if (SimConnect_RequestDataOnSimObjectType(g_simConnect.load(), kReqAircraftInRange, kDefAircraftInRange,
                                                static_cast<DWORD>(metres), kSimObjectTypeAircraft) < 0) {
        logArrowLine("SimConnect request ac within range fails");
        reportSimConnectRequestError();
      }
    }
  }
  if (tick % kUserPositionPaceTicks == 0) {
    sendUserPositionToRT();
    const UserAircraftData user = requestUserAircraftPosition();
    // The SimConnect thread reads the snapshot under the lock: it is written under it too.
    std::lock_guard lock(g_simQueueMutex);
    g_userAircraftSnapshot = user;
  }
}

void reserveTrafficContainers() {
  if (g_trafficContainersReserved) return;
  g_liveAircraft.reserve(512);
  g_staticAircraft.reserve(256);
  g_pendingCreateIds.reserve(64);
  g_deferredResults.reserve(128);
  g_ghostCallsigns.reserve(64);
  g_parkStands.reserve(512);
  g_staticCandidates.reserve(512);
  {
    std::lock_guard lock(g_simResultsMutex);
    g_simResults.reserve(256);
  }
  g_trafficContainersReserved = true;
  deleteCallsignList();
}

void resetTraffic() {
  // The park airport.
  g_parkAirport.clear();
  g_parkAirportIata.clear();
  g_parkAirportElevation = 0.0;
  g_parkAirportLat = 0.0;
  g_parkAirportLon = 0.0;
  g_mainWindow.setDisplayText(&MainWindow::parkAirportName, {}, g_statisticsRect);
  const bool liveCounted = g_mainWindow.parkedLiveCount.exchange(0) != 0;
  const bool staticCounted = g_mainWindow.parkedStaticCount.exchange(0) != 0;
  if (liveCounted || staticCounted) g_mainWindow.invalidate(g_statisticsRect);

  {
    std::lock_guard lock(g_simResultsMutex);
    g_simResults.clear();
  }
  g_deferredResults.clear();
  g_ghostCallsigns.clear();
  g_staticCandidates.clear();
  clearLiveryRequests();
  g_pendingCreateIds.clear();
  g_duplicateCheckQueue.clear();

  g_removeQueue = {};
  g_addingStack = {};
  g_queuedCreates = {};
  g_staticAircraft.clear();

  clearTrafficFeed();
  deleteCallsignList();

  g_staticParkingBusy = false;
  g_mainWindow.invalidateAll();
  // The park airport list, the state flags of the park airport search, the id-slot stamps, the
  // plan's lists and the park airport file's texts belong to the stand and parking code.
  resetParkingStateForNewRun();
  g_selectedObjectId = 0;
  g_trimLivePending = false;
  g_liveAircraft.clear();
  resetParkStands();
  resetStandState();

  g_qnh = kvo::kStandardQnh;
  g_currentWeekSlot = 0;
  g_noMatchTitles.clear();
}

void resetTrafficEngineForTests() {
  resetTraffic();
  g_trafficContainersReserved = false;
}
