#include "links/sim_queues.h"

#include <fmt/format.h>

#include "core/log.h"
#include "core/timeutil.h"
#include "links/sim_client.h"
#include "links/sim_ids.h"
#include "links/sim_object_data.h"
#include "platform/simconnect/simconnect.h"
#include "shared_state/main_window.h"
#include "shared_state/run_end.h"

std::mutex g_simQueueMutex;
std::atomic<bool> g_simQueuesNotReady{false};

std::array<std::vector<kvo::AiPositionUpdate>, 2> g_positionBuffers;
std::vector<kvo::AiPositionUpdate>* g_positionBufferFill = &g_positionBuffers[0];
std::vector<kvo::AiPositionUpdate>* g_positionBufferSend = &g_positionBuffers[1];
std::vector<kvo::ClientEventRequest> g_clientEventQueue;
std::vector<kvo::CreateRequest> g_createQueue;
std::vector<std::uint32_t> g_simRemoveQueue;
kvo::UserAircraftData g_userAircraft;
kvo::UserAircraftData g_userAircraftSnapshot;

std::vector<kvo::SentCreatePacket> g_sentCreatePackets;

using namespace kvo;

void queueCreateRequest(const CreateRequest& request) {
  std::lock_guard lock(g_simQueueMutex);
  g_createQueue.push_back(request);
}

void queueClientEvent(const ClientEventRequest& event) {
  std::lock_guard lock(g_simQueueMutex);
  g_clientEventQueue.push_back(event);
}

void queueLightEvents(std::uint32_t objectId, const std::array<std::uint32_t, 7>& values) {
  static constexpr std::array<std::uint32_t, 7> kEvents{kEventNavLightsSet,  kEventBeaconLightsSet,
                                                        kEventLandingLightsSet, kEventTaxiLightsSet,
                                                        kEventStrobesSet,   kEventLogoLightsSet,
                                                        kEventCabinLightsSet};
  std::lock_guard lock(g_simQueueMutex);
  for (std::size_t i = 0; i < kEvents.size(); ++i) {
    g_clientEventQueue.push_back(ClientEventRequest{objectId, kEvents[i], values[i]});
  }
}

void queueCabinLightsEvent(std::uint32_t objectId, std::uint32_t value) {
  queueClientEvent(ClientEventRequest{objectId, kEventCabinLightsSet, value});
}

void setSpoilersAndThrottles(std::uint32_t objectId, bool on, bool reverse) {
  const double throttle = on ? (reverse ? -100.0 : 100.0) : 0.0;
  double values[3] = {on ? 100.0 : 0.0, throttle, throttle};  // spoilers, throttle 1, throttle 2
  std::lock_guard lock(g_simQueueMutex);
  SimConnect_SetDataOnSimObject(g_simConnect.load(), kDefSpoilersThrottles, objectId, 0, 0, kSpoilersThrottlesSize,
                                values);
}

HRESULT requestStaticCgData(std::uint32_t objectId) {
  std::lock_guard lock(g_simQueueMutex);
  return SimConnect_RequestDataOnSimObject(g_simConnect.load(), kReqStaticCg, kDefStaticCg, objectId,
                                           kSimPeriodOnce, 0, 0, 0, 0);
}

HRESULT sendAllLightsToggle(std::uint32_t objectId) {
  std::lock_guard lock(g_simQueueMutex);
  return SimConnect_TransmitClientEvent(g_simConnect.load(), objectId, kEventAllLightsToggle, 0, kSimEventGroup, 0);
}

HRESULT setAiFlightPlan(std::uint32_t objectId, const std::string& flightPlanPath) {
  std::lock_guard lock(g_simQueueMutex);
  return SimConnect_AISetAircraftFlightPlan(g_simConnect.load(), objectId, flightPlanPath.c_str(), kReqFlightPlan);
}

void reportSimConnectRequestError() {
  g_mainWindow.showMessage("SimConnect request error", true);
  g_simQueuesNotReady = true;
  endRunWithReason(kExitSimConnectError, 9);
}

UserAircraftData requestUserAircraftPosition() {
  std::lock_guard lock(g_simQueueMutex);
  if (!g_simQueuesNotReady.load()) {
    if (SimConnect_RequestDataOnSimObject(g_simConnect.load(), kReqUserPosition, kDefUserAircraft, kSimUserObject,
                                          kSimPeriodOnce, 0, 0, 0, 0) < 0) {
      logArrowLine("SimConnect request user ac position fails");
      reportSimConnectRequestError();
    }
  }
  return g_userAircraft;
}

void requestUserAircraftTitleAndModel() {
  std::lock_guard lock(g_simQueueMutex);
  const HANDLE h = g_simConnect.load();
  if (SimConnect_RequestDataOnSimObject(h, kReqUserTitle, kDefUserTitle, kSimUserObject, kSimPeriodOnce, 0, 0, 0, 0) <
      0) {
    logArrowLine("SimConnect request user ac title fails");
    reportSimConnectRequestError();
  }
  if (SimConnect_RequestDataOnSimObject(h, kReqUserModel, kDefUserModel, kSimUserObject, kSimPeriodOnce, 0, 0, 0, 0) <
      0) {
    logArrowLine("SimConnect reques user ac model fails");
    reportSimConnectRequestError();
  }
}

bool requestUserAircraftOnGround() {
  std::lock_guard lock(g_simQueueMutex);
  if (SimConnect_RequestDataOnSimObject(g_simConnect.load(), kReqUserOnGround, kDefUserOnGround, kSimUserObject,
                                        kSimPeriodSecond, 0, 0, 0, 0) < 0) {
    logArrowLine("SimConnect request ac gnd/air fails");
    reportSimConnectRequestError();
    return false;
  }
  return true;
}

void createAiAircraft(const CreateRequest& request) {
  const HANDLE h = g_simConnect.load();
  const std::string title(request.title);
  const InitPosition& p = request.initPosition;
  const SimConnectInitPosition position{p.latitude, p.longitude, p.altitude, p.pitch,
                                        p.bank,     p.heading,   p.onGround, p.airspeed};
  if (SimConnect_AICreateNonATCAircraft(h, title.c_str(), request.tailNumber.c_str(), position,
                                        kReqCreateAircraft) < 0) {
    logArrowLine(fmt::format("! Simcon call to create ac in sim failed, hexid:{}, liv: '{}', callsign: {})",
                             request.internalId, title, request.tailNumber));
    reportSimConnectRequestError();
    return;
  }
  DWORD packetId = 0;
  if (SimConnect_GetLastSentPacketID(h, &packetId) != 0) logArrowLine("GetLastSentPacketID");
  g_sentCreatePackets.push_back(SentCreatePacket{packetId, request.internalId, request.tailNumber});
}

void flushSimConnectQueues() {
  std::unique_lock lock(g_simQueueMutex, std::try_to_lock);
  if (!lock.owns_lock()) return;  // the worker holds it: everything waits for the next frame

  if (g_simQueuesNotReady.load()) {
    g_positionBufferSend->clear();
    g_clientEventQueue.clear();
    g_createQueue.clear();
    g_simRemoveQueue.clear();
    return;
  }

  const HANDLE h = g_simConnect.load();
  const std::uint32_t userObjectId = g_userObjectId.load();

  for (AiPositionUpdate& update : *g_positionBufferSend) {
    if (update.objectId <= userObjectId) continue;
    SimConnect_SetDataOnSimObject(h, kDefAiPosition, update.objectId, 0, 0, kAiPositionSize, &update.position);
  }
  g_positionBufferSend->clear();

  for (const ClientEventRequest& event : g_clientEventQueue) {
    // Flaps move only on an object that AI control does not hold; it is released around them.
    const bool flaps = event.eventId == kEventFlapsSet;
    if (flaps) SimConnect_AIReleaseControl(h, event.objectId, kReqReleaseControl);
    if (SimConnect_TransmitClientEvent(h, event.objectId, event.eventId, event.data, kSimEventGroup, 0) < 0) {
      g_mainWindow.showMessage(fmt::format("SimConnect TransmitClientEvent: {} fails", event.eventId), true);
      continue;
    }
    if (flaps) SimConnect_AIReleaseControl(h, event.objectId, kReqReleaseControl);
  }
  g_clientEventQueue.clear();

  for (const CreateRequest& request : g_createQueue) createAiAircraft(request);
  g_createQueue.clear();

  for (std::uint32_t objectId : g_simRemoveQueue) {
    if (objectId <= userObjectId) {
      logArrowLine(fmt::format("SimConnect call to remove ac with objectid {}", objectId));
      continue;
    }
    if (SimConnect_AIRemoveObject(h, objectId, kReqRemoveObject) < 0) {
      logArrowLine(fmt::format("{} !SimConnect call to remove AI ac from sim failed, id {}?", currentTimeText(),
                               objectId));
      reportSimConnectRequestError();
    }
  }
  g_simRemoveQueue.clear();
}

void reserveSimConnectQueues() {
  constexpr std::size_t kRoom = 256;
  {
    std::lock_guard lock(g_simQueueMutex);
    for (auto& buffer : g_positionBuffers) buffer.reserve(kRoom);
    g_createQueue.reserve(kRoom);
    g_simRemoveQueue.reserve(kRoom);
  }
  // The client thread's own lists: the run reserves them before that thread starts.
  g_sentCreatePackets.reserve(kRoom);
  g_addedObjectIds.reserve(kRoom);
  g_simQueuesNotReady = false;
}
