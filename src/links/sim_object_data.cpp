#include "links/sim_object_data.h"

#include <fmt/format.h>

#include <algorithm>
#include <unordered_set>

#include "core/geometry.h"
#include "core/log.h"
#include "core/run_flags.h"
#include "core/timeutil.h"
#include "core/user_error.h"
#include "links/engine_calls.h"
#include "links/sim_client.h"
#include "links/sim_ids.h"
#include "links/sim_queues.h"
#include "links/sim_user_model.h"
#include "shared_state/main_window.h"
#include "shared_state/run_end.h"

std::atomic<std::uint32_t> g_userObjectId{2};
kvo::AtomicOptionalBool g_userOnGround;
std::atomic<bool> g_newUserSample{false};
std::atomic<std::int64_t> g_simTime{0};

std::string g_userStand;
std::vector<std::uint32_t> g_addedObjectIds;

std::mutex g_simResultsMutex;
std::vector<kvo::SimConnectResult> g_simResults;

using namespace kvo;

namespace {

// Client thread only.
std::optional<LatLon> g_previousUserPosition;  // for the teleport test
// The objects paired with an aircraft of this program and not yet removed: only their removal
// concerns the traffic engine.
std::unordered_set<std::uint32_t> g_ownObjectIds;

constexpr double kTeleportNm = 10.0;
constexpr double kGroundDataMaxAglFt = 2500.0;

void appendResult(const SimConnectResult& result) {
  std::lock_guard lock(g_simResultsMutex);
  g_simResults.push_back(result);
}

// Removes the first element equal to value by moving the last one into its place.
template <typename T, typename Pred>
bool swapRemoveFirst(std::vector<T>& v, Pred pred, T* removed = nullptr) {
  auto it = std::find_if(v.begin(), v.end(), pred);
  if (it == v.end()) return false;
  if (removed != nullptr) *removed = std::move(*it);
  if (it != v.end() - 1) *it = std::move(v.back());
  v.pop_back();
  return true;
}

void logShortData(const SimObjectDataMessage& m, std::size_t needed) {
  logLine(fmt::format("! SimConnect data of request {} for object {} has {} bytes, {} needed, ignored", m.requestId,
                      m.objectId, m.data.size(), needed));
}

void onUserOnGround(const SimObjectDataMessage& m) {
  const auto value = readSimField<std::int64_t>(m.data, 0);
  if (!value) return logShortData(m, kUserOnGroundSize);
  if (isKnownPosition(g_userAircraft.lat, g_userAircraft.lon)) {
    g_userOnGround.store((static_cast<std::uint64_t>(*value) & 0xFFFFFFFFu) != 0);
  }
  g_newUserSample.exchange(true);
}

void onUserPosition(const SimObjectDataMessage& m) {
  const auto data = readSimField<UserAircraftData>(m.data, 0);
  if (!data) return logShortData(m, kUserAircraftSize);
  UserAircraftData user = *data;
  if (user.altFt < 0.0) user.altFt = 0.0;
  {
    std::lock_guard lock(g_simQueueMutex);
    g_userAircraft = user;
  }

  const LatLon position{user.lat, user.lon};
  if (g_previousUserPosition && isKnownPosition(g_previousUserPosition->lat, g_previousUserPosition->lon) &&
      isKnownPosition(user.lat, user.lon) && distanceNm(*g_previousUserPosition, position) > kTeleportNm) {
    logLine("Teleport");
    endRunWithReason(kExitNewFlight, 45);
  }
  g_previousUserPosition = position;

  const std::string stand = g_findStandAtCall(position);
  if (!stand.empty() && stand != g_userStand) {
    g_mainWindow.setDisplayText(&MainWindow::userStandText, stand, g_statusAreaRect);
    g_mainWindow.invalidate(g_statusAreaRect);
  } else if (stand.empty() && !g_userStand.empty()) {
    g_mainWindow.setDisplayText(&MainWindow::userStandText, {}, g_statusAreaRect);
    g_mainWindow.invalidate(g_statusAreaRect);
  }
  g_userStand = stand;

  // Days outside any sensible calendar would overflow the arithmetic: such a time is not kept.
  if (g_rtProfEdition.load() && user.zuluYear >= 1 && user.zuluYear <= 100000 && user.zuluDayOfYear >= 1 &&
      user.zuluDayOfYear <= 366 && user.zuluTime >= 0 && user.zuluTime <= 86400) {
    g_simTime = daysSinceEpoch(user.zuluYear, user.zuluDayOfYear) * 86400 + user.zuluTime;
  }
  g_userObjectId = m.objectId;
}

}  // namespace

std::int64_t daysSinceEpoch(std::int64_t year, std::int64_t dayOfYear) {
  auto floorDiv = [](std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); };
  const std::int64_t y = year - 1;
  return 365 * y + floorDiv(y, 4) - floorDiv(y, 100) + floorDiv(y, 400) + dayOfYear - 719163;
}

void onSimObjectData(const SimObjectDataMessage& m) {
  switch (m.requestId) {
    case kReqStaticCg: {
      const auto cg = readSimField<double>(m.data, 0);
      const auto pitch = readSimField<double>(m.data, 8);
      if (!cg || !pitch) return logShortData(m, kStaticCgSize);
      appendResult(SimConnectResult{m.objectId, 0, 0, SimResultKind::StaticCg, *cg, *pitch});
      break;
    }
    case kReqUserTitle:
      onUserAircraftTitle(m);
      break;
    case kReqUserModel:
      deduceUserAircraftModel(m);
      break;
    case kReqUserOnGround:
      onUserOnGround(m);
      break;
    case kReqUserPosition:
      onUserPosition(m);
      break;
    default:
      logLine(fmt::format("! SimConnect data for unknown request {} ignored", m.requestId));
      break;
  }
}

void onSimObjectDataByType(const SimObjectDataMessage& m) {
  if (m.requestId != kReqAircraftInRange) {
    logLine(fmt::format("! SimConnect data by type for unknown request {} ignored", m.requestId));
    return;
  }
  const auto agl = readSimField<double>(m.data, 0);
  const auto groundAlt = readSimField<double>(m.data, 8);
  const auto onGround = readSimField<std::int64_t>(m.data, 16);
  if (!agl || !groundAlt || !onGround || m.data.size() < kAircraftInRangeSize) {
    return logShortData(m, kAircraftInRangeSize);
  }
  const std::string atcId = simText(m.data.subspan(24, 32));

  if (m.objectId <= g_userObjectId.load()) return;

  if (swapRemoveFirst(g_addedObjectIds, [&](std::uint32_t id) { return id == m.objectId; })) {
    std::uint32_t internalId = 0;
    if (!atcId.empty()) {
      SentCreatePacket packet;
      if (swapRemoveFirst(g_sentCreatePackets, [&](const SentCreatePacket& p) { return p.tailNumber == atcId; },
                          &packet)) {
        internalId = packet.internalId;
      }
    }
    if (internalId == 0) {
      logLine(fmt::format("just spawned, but not by {}, oid: {}, callsign '{}', altaboveGnd:{:.0f} ft, onground:{}, "
                          "gnd_alt:{:.0f} ft",
                          kSimClientName, m.objectId, atcId, *agl, *onGround, *groundAlt));
      return;
    }
    {
      // The freeze events go straight into the queue: queueClientEvent would take this lock again.
      std::lock_guard lock(g_simQueueMutex);
      SimConnect_AIReleaseControl(g_simConnect.load(), m.objectId, kReqReleaseControl);
      for (std::uint32_t event : {kEventFreezeLatLonSet, kEventFreezeAltitudeSet, kEventFreezeAttitudeSet}) {
        g_clientEventQueue.push_back(ClientEventRequest{m.objectId, event, 1});
      }
    }
    g_ownObjectIds.insert(m.objectId);
    if (internalId > 10000) {
      appendResult(SimConnectResult{m.objectId, internalId, 0, SimResultKind::CreatedLive, 0.0, *agl});
    } else {
      appendResult(SimConnectResult{m.objectId, internalId, 0, SimResultKind::CreatedStatic, 0.0, 0.0});
    }
    return;
  }

  if (*agl <= kGroundDataMaxAglFt && !atcId.empty() && atcId.back() != '*') {
    appendResult(
        SimConnectResult{m.objectId, *onGround != 0 ? 1u : 0u, 0, SimResultKind::GroundData, *groundAlt, *agl});
  }
}

void onSimObjectAdded(std::uint32_t objectId) {
  if (objectId <= g_userObjectId.load()) return;
  g_addedObjectIds.push_back(objectId);
}

void onSimObjectRemoved(std::uint32_t objectId) {
  // An object that went before it was seen in range is forgotten, so the list cannot grow for
  // the whole run.
  swapRemoveFirst(g_addedObjectIds, [&](std::uint32_t id) { return id == objectId; });
  if (g_ownObjectIds.erase(objectId) == 0) return;  // not ours: nothing for the traffic engine
  appendResult(SimConnectResult{objectId, 0, 0, SimResultKind::RemovedBySim, 0.0, 0.0});
}

void onSimConnectException(const SimConnectRecvException& e) {
  switch (e.exception) {
    case kSimExceptionUnrecognizedId:
      if (isKnownPosition(g_userAircraft.lat, g_userAircraft.lon) && !g_stopRequested.load() &&
          !g_quitRequested.load()) {
        logArrowLine("SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID");
      }
      break;
    case kSimExceptionVersionMismatch:
      throw UserErrorException(95, fmt::format("SimConnect Version Mismatch, dwIndex: {}", e.index));
    case kSimExceptionTooManyObjects:
      g_mainWindow.showMessage("SimConnect: too many objects (max 1000)", true);
      break;
    case kSimExceptionInvalidDataSize:
      logLine("SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE");
      break;
    case kSimExceptionCreateObjectFailed: {
      SentCreatePacket packet;
      if (!swapRemoveFirst(g_sentCreatePackets, [&](const SentCreatePacket& p) { return p.packetId == e.sendId; },
                           &packet)) {
        break;
      }
      if (packet.internalId != 0) {
        appendResult(SimConnectResult{0, packet.internalId, 0, SimResultKind::CreateFailed, 0.0, 0.0});
      }
      break;
    }
    case kSimExceptionLoadFlightPlanFailed:
      logArrowLine("SimConnect exception: load flight plan failed");
      break;
    case kSimExceptionOperationInvalidForObjectType:
      logLine("SIMCONNECT_EXCEPTION_OPERATION_INVALID_FOR_OBJECT_TYPE");
      break;
    default:
      logArrowLine(fmt::format("SIMCONNECT_EXCEPTION #{}", e.exception));
      break;
  }
}

void saveUserStand() {
  if (!g_userOnGround.load().has_value()) return;
  double groundSpeed = 0.0;
  {
    std::lock_guard lock(g_simQueueMutex);
    groundSpeed = g_userAircraftSnapshot.groundSpeedKt;
  }
  if (groundSpeed > 2.0) return;
  const std::string stand = g_findStandAtCall(LatLon{g_userAircraft.lat, g_userAircraft.lon});
  if (stand.empty()) return;
  g_saveUserStandCall(stand);
}

void resetSimObjectDataState() {
  g_userObjectId = 2;
  g_userOnGround.reset();
  g_newUserSample = false;
  g_simTime = 0;
  g_userStand.clear();
  g_addedObjectIds.clear();
  g_ownObjectIds.clear();
  g_previousUserPosition.reset();
  std::lock_guard lock(g_simResultsMutex);
  g_simResults.clear();
}
