#pragma once
// The request queues between the traffic engine (start-up worker) and the simulator client: the
// worker appends under g_simQueueMutex, the client sends everything on its next frame event.
// The same lock guards the worker's direct calls to the simulator and the user aircraft data.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "links/sim_records.h"
#include "platform/win32/win32.h"

extern std::mutex g_simQueueMutex;
// Set by a failed request: frames then discard the queued work unsent until the next run.
extern std::atomic<bool> g_simQueuesNotReady;

// ---- under g_simQueueMutex -----------------------------------------------------------------
// The position double buffer: the tick fills *g_positionBufferFill, swaps the two pointers under
// the lock, and the frame event sends and empties *g_positionBufferSend.
extern std::array<std::vector<kvo::AiPositionUpdate>, 2> g_positionBuffers;
extern std::vector<kvo::AiPositionUpdate>* g_positionBufferFill;
extern std::vector<kvo::AiPositionUpdate>* g_positionBufferSend;
extern std::vector<kvo::ClientEventRequest> g_clientEventQueue;
extern std::vector<kvo::CreateRequest> g_createQueue;
extern std::vector<std::uint32_t> g_simRemoveQueue;
// The last user aircraft data the simulator sent (the client thread writes it under the lock).
extern kvo::UserAircraftData g_userAircraft;
// The worker's copy of it; other threads read it under the lock.
extern kvo::UserAircraftData g_userAircraftSnapshot;

// ---- client thread only ---------------------------------------------------------------------
// One entry per creation sent and not yet paired or failed.
extern std::vector<kvo::SentCreatePacket> g_sentCreatePackets;

// ---- the worker's operations ------------------------------------------------------------------
// Each locks g_simQueueMutex, appends and unlocks; none calls the simulator.
void queueCreateRequest(const kvo::CreateRequest& request);
void queueClientEvent(const kvo::ClientEventRequest& event);
// NAV, BEACON, LANDING, TAXI, STROBES, LOGO, CABIN, in this order, under one lock.
void queueLightEvents(std::uint32_t objectId, const std::array<std::uint32_t, 7>& values);
void queueCabinLightsEvent(std::uint32_t objectId, std::uint32_t value);

// Direct calls of the worker, each made under g_simQueueMutex so that no packet of the worker
// falls between a creation and the read of its packet id. Callers must not hold the lock.
// Spoilers and both throttles of an AI object (definition 401): off 0/0/0, on 100/100/100,
// on with reverse 100/-100/-100 percent. The result is ignored.
void setSpoilersAndThrottles(std::uint32_t objectId, bool on, bool reverse);
// The static centre of gravity of a new object (request 102, definition 405, once).
HRESULT requestStaticCgData(std::uint32_t objectId);
// "ALL_LIGHTS_TOGGLE" for an AI object, at once.
HRESULT sendAllLightsToggle(std::uint32_t objectId);
// The flight plan file of an AI object (request 110).
HRESULT setAiFlightPlan(std::uint32_t objectId, const std::string& flightPlanPath);

// Asks for the user aircraft's position (request 109) while the queues are ready and returns
// the data of an earlier answer.
kvo::UserAircraftData requestUserAircraftPosition();
// Asks once for the user aircraft's title (106) and ATC model (107).
void requestUserAircraftTitleAndModel();
// Asks for the user aircraft's on-ground state every second (request 108); false when the
// request failed (then reported as a request error).
bool requestUserAircraftOnGround();

// "SimConnect request error": marks the queues not ready and ends the run with reason 5 and a
// restart after 9 s unless a stop is already pending. Callers may hold g_simQueueMutex.
void reportSimConnectRequestError();

// ---- the client thread's side -------------------------------------------------------------------
// Sends one creation and records its packet; called by the flush with the lock held.
void createAiAircraft(const kvo::CreateRequest& request);
// Once per frame event: positions, client events, creations and removals, in this order, when
// the lock is free; a busy lock keeps everything for the next frame.
void flushSimConnectQueues();
// Room for 256 entries in each container; makes the queues ready. Called by the run before
// the client thread starts.
void reserveSimConnectQueues();
