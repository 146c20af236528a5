#pragma once
// The traffic engine's tick: feed intake, the spawn of live aircraft, the simulator's answers,
// and every road by which an aircraft leaves the simulator.
//
// Threads: everything here runs on the start-up worker, which owns every container below. The
// SimConnect thread hands its answers over in g_simResults (under g_simResultsMutex) and takes
// the paced creations and removals from its own queues (under g_simQueueMutex). Lock order:
// feed before results before queue; the log lock last.
//
// An aircraft is never erased at the moment it is told to go: it is marked (finished, dropped,
// remove requested, or state "removingfromsim") and its record goes at the end of the tick or
// when the simulator reports the object removed. Erasing keeps the order of the others, because
// vector order decides ties (the farthest-aircraft rule, the first match of every search).
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "links/feed.h"
#include "traffic/aircraft_records.h"

// ---- containers (worker only) ---------------------------------------------------------------
// Live creations waiting to be handed to the simulator's queue, static creations, and the
// object ids to remove; each handed over at its own pace.
extern std::deque<kvo::CreateRequest> g_addingStack;
extern std::deque<kvo::CreateRequest> g_queuedCreates;
extern std::deque<std::uint32_t> g_removeQueue;
// Internal ids of live aircraft spawned whose creation request is still to be built; the tick
// takes the newest first.
extern std::vector<std::uint32_t> g_pendingCreateIds;
// Created objects waiting for their activation (ticks counts the wait; -1 marks one done).
extern std::vector<kvo::SimConnectResult> g_deferredResults;
// Callsigns known as ghosts.
extern std::vector<std::string> g_ghostCallsigns;
// Internal ids of live aircraft waiting for the duplicate check of the user-sample job.
extern std::list<std::uint32_t> g_duplicateCheckQueue;
// The object the user asked for through CALLSIGN_2_OBJECTID; 0 when none.
extern std::uint32_t g_selectedObjectId;
// "Callsign2ObjectId.txt" of the working folder; tests point it elsewhere.
extern std::filesystem::path g_callsignListFile;

// A lowered MAX_LIVE_SEL: the window thread raises it, the next tick trims the live aircraft.
extern std::atomic<bool> g_trimLivePending;
void requestLiveTrim();

namespace kvo {

// Pacing of the hand-over to the simulator, in ticks.
inline constexpr TickCount kRemovalPaceTicks = 10;
inline constexpr TickCount kCreationPaceTicks = 50;
inline constexpr TickCount kInRangePaceTicks = 20;
inline constexpr TickCount kUserPositionPaceTicks = 100;
// The in-range request looks this far beyond the traffic radius: a created aircraft is paired
// only through it, and one created at the radius's edge (the reader measures from a reference
// that trails the user) would otherwise stay frozen and unpaired for good.
inline constexpr double kInRangeMarginMetres = 3.0 * 1852.0;
// A created object is activated this many ticks after it was paired.
inline constexpr std::int32_t kActivationTicks = 200;
// Feed records taken per tick.
inline constexpr int kFeedRecordsPerTick = 2;

}  // namespace kvo

// ---- the tick and the feed intake ------------------------------------------------------------
// One 10 ms tick: results, every live aircraft one step, pacing, two feed records, one creation
// request built, the in-range request; then g_trafficTick += 1.
void lf_handleAddingStack();
void processFeedRecord(kvo::FeedRecord& record);
void acceptNewFeedId(kvo::FeedRecord& record);
void makeLiveAircraft(kvo::FeedRecord& record);
// Steps every live aircraft, erases the finished and dropped records (live and static) and
// swaps the position buffers.
void updateAllLiveAircraft();
void paceSimRequests();
void requestAircraftInRange();
// Points the links' calls into the engine (links/engine_calls.h) at the engine's functions; the
// program calls it at start-up, before any link thread runs.
void installEngineCalls();
// Once per process, before the first run; deletes "Callsign2ObjectId.txt" (a file-system error
// other than a missing file is thrown).
void reserveTrafficContainers();
// Between runs: every container empty, the park airport cleared, the feed emptied.
void resetTraffic();
// resetTraffic, and the once-per-process reservation forgotten (tests).
void resetTrafficEngineForTests();

// ---- spawning live aircraft -------------------------------------------------------------------
// One tick of one live aircraft; true when it is finished or dropped afterwards.
bool updateLiveAc(kvo::LiveAircraft& aircraft);
void decideSpawn(kvo::LiveAircraft& aircraft);
// The spawn guard near the user aircraft; true when it dropped the front point.
bool tooCloseToUser(kvo::LiveAircraft& aircraft);
// Removes the active aircraft farthest from the user when it is more than 0.1 nm farther than
// `distance` (and every one before it); true when none is (the caller gives way).
bool removeFartherLiveAircraft(double distanceNm);
void spawnLiveAc(kvo::LiveAircraft& aircraft);
// False: the record is not applied.
bool respawnCheck(kvo::LiveAircraft& aircraft, const kvo::FeedRecord& record);
void liveryRespawn(kvo::LiveAircraft& aircraft);
bool liveOriginalExists(std::string_view callsign);
void updateRoute(kvo::LiveAircraft& aircraft, const kvo::FeedRecord& record);
void updateBufferedIdentity(kvo::LiveAircraft& aircraft, const kvo::FeedRecord& record);
bool checkRouteChange(kvo::LiveAircraft& aircraft, const kvo::FeedRecord& record);
bool checkRegistrationChange(kvo::LiveAircraft& aircraft, const kvo::FeedRecord& record);
bool checkSpecialLiveryChange(kvo::LiveAircraft& aircraft, const kvo::FeedRecord& record);
bool checkAirlineChange(kvo::LiveAircraft& aircraft, const kvo::FeedRecord& record);
void forgetLivery(kvo::LiveAircraft& aircraft);
// Forgets the livery titles remembered per hex id (at the end of a run and once a day), so a
// hex id seen again matches its livery afresh.
void clearSpawnMap();

// ---- simulator results --------------------------------------------------------------------------
void handleSimConnectResults();
bool onAircraftCreated(kvo::LiveAircraft& aircraft, const kvo::SimConnectResult& result);
void parkCreatedAircraft(kvo::LiveAircraft& aircraft);
void writeAircraftFlightPlan(kvo::LiveAircraft& aircraft);
void processDeferredResults();
void activateLiveAircraft(kvo::LiveAircraft& aircraft);
void onAircraftRemovedBySim(std::uint32_t objectId);
// Erases the record, keeping the order of the others; a stand the record still holds is freed.
void eraseLiveAircraftAt(std::vector<kvo::LiveAircraft>::iterator aircraft);

// Engines, throttle, flaps and lights of a parked aircraft.
void shutDownAircraft(kvo::StaticAircraft& aircraft);
// THROTTLE_SET with 0, 4914, 8191, 11468, 16383 for index 0..4, only when the index changes;
// throttleIndex = index.
void setThrottle(kvo::StaticAircraft& aircraft, std::uint32_t index);
// FLAPS_SET with 0, 3072, 10240, 16383 for index 0..3 (4 sends 0), only when the index changes
// and never for a Rotorcraft; flapsIndex = index.
void gf_setFlaps(kvo::StaticAircraft& aircraft, std::uint32_t index);
// Touch-down of a landing aircraft.
void setGroundSlots(kvo::LiveAircraft& aircraft);

// ---- removal ------------------------------------------------------------------------------------
// The one way to take an aircraft (live or static) out of the simulator.
void removeAircraftFromSim(kvo::StaticAircraft& aircraft);
// Takes every request of the aircraft with this internal id out of the queue, keeping the
// order of the rest; true when one was found.
bool removeFromSpawnQueue(std::deque<kvo::CreateRequest>& queue, std::uint32_t internalId);
void removeGhost(std::string_view callsign);
void removeSameRegcodeOrCallsign(kvo::LiveAircraft& aircraft, bool onGround);
void avoidCollisionWithStatic(kvo::LiveAircraft& aircraft);
// RealTraffic is gone: active live aircraft are removed from the simulator; one whose creation
// still waits in a spawn queue is taken back (and erased), one whose creation has gone out is
// removed as soon as it exists.
void dropLiveTraffic();
// Removes the active live aircraft above MAX_LIVE_SEL, farthest from the user first.
void trimLiveAircraft();
// Writes "Callsign2ObjectId.txt": one sorted line per active live aircraft.
void listParkedAircraft();
// "sid==0?" for 0, the stand's name, or "unknown".
std::string standName(std::uint32_t standId);
// The stand's occupant mark cleared (nothing for 0 or an id not in the list).
void freeStand(std::uint32_t standId);
