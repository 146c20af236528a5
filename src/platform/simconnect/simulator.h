#pragma once
// Inside the stand-in simulator: the one simulator object behind the calls, its connection with
// the program and the world it runs by itself. Shared by the files of this folder only.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"

namespace kvo::simstandin {

using simtest::Identity;

struct FieldDefinition {
  std::string variable;  // as the program named it
  std::string key;       // upper case, for lookups
  std::string unit;
  SimConnectDataType type;
  // Which member of an object a number written through the definition sets: resolved at the
  // first write (positions are written hundreds of times a second).
  int numberSlot = kNumberSlotUnresolved;
  static constexpr int kNumberSlotUnresolved = -2;
};

struct DataRequest {
  DWORD requestId = 0;
  DWORD defineId = 0;
  DWORD objectId = 0;
  DWORD packetId = 0;            // of the call, for an exception about it
  SimConnectPeriod period = kSimPeriodOnce;
  bool byType = false;
  double radiusMetres = 0.0;     // by type
  double nextDue = 0.0;          // world seconds
};

struct Message {
  std::vector<std::uint64_t> storage;  // 8-byte aligned bytes
  DWORD size = 0;
};

struct Connection {
  std::uint32_t id = 0;
  bool dropped = false;      // the simulator quit: every call fails
  bool quitQueued = false;   // dropped once the queued quit has been dispatched
  std::deque<Message> messages;
  std::map<DWORD, std::string> systemEvents;  // client id -> system event name
  std::map<DWORD, std::vector<FieldDefinition>> definitions;
  std::map<DWORD, std::string> clientEvents;  // client id -> simulator event name
  std::map<DWORD, std::vector<DWORD>> groups;
  std::map<DWORD, DWORD> groupPriorities;
  std::vector<DataRequest> requests;          // open requests, in the order made
  std::map<DWORD, DWORD> lastDefineOfRequest; // request id -> definition of its last request
  DWORD lastPacketId = 0;
  DWORD nextPacketId = 1;
  bool simStatePending = false;               // by itself: send the "Sim" state at the next frame
};

// ---- the world of the by-itself mode ---------------------------------------------------------

struct WorldObject {
  DWORD id = 0;
  bool user = false;
  std::uint32_t owner = 0;  // connection that created an AI object; 0 for the world's own
  std::string title;
  std::string atcId;
  std::string atcModel;
  double lat = 0.0;               // degrees
  double lon = 0.0;               // degrees
  double altFt = 0.0;
  double pitch = 0.0;             // radians
  double bank = 0.0;              // radians
  double heading = 0.0;           // radians, true
  double verticalSpeedFps = 0.0;
  double tasKt = 0.0;
  double groundSpeedKt = 0.0;
  double turnRateRadPerSec = 0.0;
  double staticCgFt = 0.0;
  double staticPitch = 0.0;       // radians
  std::int64_t lightStates = 0;
  bool userOnGround = true;       // the user aircraft's state as the scenario gives it
  bool releasedFromAi = false;
  bool frozenLatLon = false;
  bool frozenAltitude = false;
  bool frozenAttitude = false;
  std::map<std::string, DWORD> events;       // last data of each simulator event
  std::map<std::string, double> variables;   // other variables the program set (upper case)
  std::string flightPlan;
  double createdAt = 0.0;         // world seconds
};

// A change of the user aircraft's motion at a time of the world (the scenario's
// userAircraft.changes); an absent value keeps the one before.
struct UserChange {
  double afterSeconds = 0.0;
  std::optional<double> groundSpeedKt;
  std::optional<double> heading;              // radians, true
  std::optional<double> turnRateRadPerSec;
  std::optional<double> verticalSpeedFps;
};

struct Scenario {
  Identity identity;
  double frameRate = 30.0;
  bool flightRunning = true;
  double flightStartsAfter = 0.0;
  double quitAfter = -1.0;        // < 0: never
  double groundAltitudeFt = 0.0;
  std::int64_t utcStart = -1;     // seconds since 1970; < 0: the system clock at the start
  DWORD firstAiObjectId = 1000;
  double staticCgFt = 9.0;
  double staticPitchDeg = 0.0;
  std::vector<std::string> liveries;
  WorldObject user;
  std::vector<UserChange> userChanges;  // by time
  std::vector<WorldObject> others;  // traffic of other programs
  std::string stateFile;
  // Calls (by full function name) whose next n calls fail with E_FAIL, as a test's failCall().
  std::map<std::string, int, std::less<>> failCalls;
};

struct World {
  Scenario scenario;
  std::filesystem::path folder;
  double elapsed = 0.0;       // world seconds since the world started (time of the last frame)
  double manualNow = 0.0;     // the manual clock's time
  double nextFrameAt = 0.0;
  double nextStateAt = 0.0;
  std::int64_t utcStart = 0;  // seconds since 1970 at elapsed 0
  std::vector<WorldObject> objects;  // the user aircraft first
  std::size_t nextUserChange = 0;    // the first of scenario.userChanges not yet applied
  DWORD nextObjectId = 0;
  std::uint64_t frames = 0;
  bool flightRunning = false;
  bool quit = false;
  std::uint64_t created = 0;
  std::uint64_t failedCreations = 0;
  std::uint64_t removed = 0;
};

// The one simulator. Every member is guarded by `mutex`; the functions named ...Locked expect
// it held.
class Simulator {
 public:
  static Simulator& get();

  std::mutex mutex;

  // How it runs.
  bool byItself = true;
  std::filesystem::path folder;  // by itself: the scenario's folder; empty for the current one
  simtest::Clock clock = simtest::Clock::RealTime;

  // Scripted presence.
  bool present = false;
  Identity identity;
  bool openOnConnect = true;

  std::map<std::string, int, std::less<>> failures;
  std::vector<simtest::SimCall> calls;

  std::unique_ptr<Connection> connection;
  std::uint32_t nextConnectionId = 1;

  std::unique_ptr<World> world;
  std::string scenarioError;
  std::jthread worldThread;
  std::condition_variable_any worldWake;

  // The open connection for the handle, null for any other handle or a dropped connection.
  Connection* connectionLocked(HANDLE handle);
  HANDLE handleOf(const Connection& connection) const;

  // Messages to the connection; false without one.
  bool queueLocked(const void* bytes, std::size_t size);
  bool queueEventLocked(std::string_view systemEvent, DWORD data);
  bool queueOpenLocked(const Identity& identity);
  bool queueExceptionLocked(DWORD exception, DWORD sendId, DWORD index);
  bool queueFrameLocked(float frameRate);
  bool queueAddRemoveLocked(std::string_view systemEvent, DWORD objectId, SimConnectObjectType type);
  // The packed answer for a definition from the values.
  std::vector<std::uint8_t> packLocked(const Connection& connection, DWORD defineId,
                                       const std::vector<simtest::SimValue>& values) const;
  bool queueObjectDataLocked(SimConnectRecvId id, DWORD requestId, DWORD objectId, DWORD defineId,
                             const std::vector<std::uint8_t>& data, DWORD entry, DWORD outOf);

  // Opens a connection when the simulator is there; by itself, the world is started first.
  HANDLE openLocked();
  void closeLocked(Connection& connection);

  // ---- the world (simulator_world.cpp) ----
  // Starts the world from the scenario when it is not running; false when no scenario is there
  // or it cannot be read (scenarioError then says why).
  bool ensureWorldLocked();
  void stopWorld(std::unique_lock<std::mutex>& lock);
  void advanceWorldLocked(double toSeconds);
  void writeStateLocked();
  // What the calls do to the world (by itself only).
  void worldSubscribedLocked(Connection& connection, const std::string& systemEvent);
  void worldCreateLocked(Connection& connection, const std::string& title, const std::string& tailNumber,
                         const SimConnectInitPosition& position, DWORD packetId);
  void worldRemoveLocked(Connection& connection, DWORD objectId, DWORD packetId);
  void worldReleaseLocked(Connection& connection, DWORD objectId, DWORD packetId);
  void worldFlightPlanLocked(Connection& connection, DWORD objectId, const std::string& path, DWORD packetId);
  void worldSetDataLocked(Connection& connection, DWORD defineId, DWORD objectId, const std::uint8_t* data,
                          std::size_t size, DWORD packetId);
  void worldEventLocked(Connection& connection, DWORD objectId, DWORD eventId, DWORD data, DWORD packetId);
  void worldConnectionClosedLocked(const Connection& connection);
  WorldObject* worldObjectLocked(DWORD objectId);

 private:
  Simulator() = default;
};

std::string upperCase(std::string_view text);
// The client id the connection subscribed for the system event (names compared without case).
std::optional<DWORD> subscriptionOf(const Connection& connection, std::string_view systemEvent);
// One packed field of a data block: a number as FLOAT64 or INT64, a text as STRING32 (32 bytes,
// no terminator when it fills them) or STRINGV (zero-terminated).
void appendNumber(std::vector<std::uint8_t>& out, const simtest::SimValue& value, SimConnectDataType type);
void appendText(std::vector<std::uint8_t>& out, const std::string& text, SimConnectDataType type);

}  // namespace kvo::simstandin
