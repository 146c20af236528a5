#pragma once
// Test hooks of the stand-in simulator. Program code never includes this header.
//
// Two modes:
// - Scripted (after reset()): the simulator does nothing by itself. A test makes it present or
//   absent, names it, sends the program every kind of message, makes calls fail and reads back
//   every call the program made. Only the open message is sent by itself, on a connection.
// - By itself (runByItself(), and the program's default): a small world driven by the scenario
//   file of the working folder, with a state file rewritten every second
//   (docs/simulator-stand-in.md).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/simconnect/simconnect.h"

namespace kvo::simtest {

// ---- the simulator and its connection ----------------------------------------------------------

// Scripted mode, no simulator present, no connection, no failures, no calls recorded; a world
// running by itself is stopped first.
void reset();

struct Identity {
  std::string applicationName = "KittyHawk";
  DWORD versionMajor = 11;
  DWORD versionMinor = 0;
  DWORD buildMajor = 282174;
  DWORD buildMinor = 999;
};
// SimConnect_Open succeeds only while the simulator is present.
void setPresent(bool present);
void setIdentity(const Identity& identity);
// Whether a successful open sends the open message by itself (default true).
void setOpenMessageOnConnect(bool send);

// A connection is open and not dropped.
bool isConnected();
// Messages waiting for the program's next dispatch.
std::size_t pendingMessageCount();

// ---- messages to the program ---------------------------------------------------------------------
// Each is queued on the open connection and delivered by the program's next dispatch; false
// when no connection is open. Events go to the client id the program subscribed for the named
// system event; false when it has not subscribed.

bool sendOpen();
bool sendOpen(const Identity& identity);
// The simulator quits: the quit message, after which the connection is dropped (every call on it
// fails) and the simulator is absent.
bool sendQuit();
bool sendSystemEvent(std::string_view systemEventName, DWORD data);
bool startFlight();  // "Sim" with 1
bool stopFlight();   // "Sim" with 0
bool sendFileNameEvent(std::string_view systemEventName, std::string_view fileName);
bool sendFrame(float frameRate);
bool sendObjectAdded(DWORD objectId, SimConnectObjectType type = kSimObjectTypeAircraft);
bool sendObjectRemoved(DWORD objectId, SimConnectObjectType type = kSimObjectTypeAircraft);
bool sendException(DWORD exception, DWORD sendId, DWORD index = 0);

// One value of a data answer; packed by the type the program declared for the field (a number
// into FLOAT64 or INT64, a text into STRING32 or STRINGV).
struct SimValue {
  SimValue(double v) : isText(false), number(v) {}
  SimValue(int v) : isText(false), number(v), integer(v), integral(true) {}
  SimValue(std::uint32_t v) : isText(false), number(v), integer(v), integral(true) {}
  SimValue(std::int64_t v) : isText(false), number(static_cast<double>(v)), integer(v), integral(true) {}
  SimValue(const char* v) : isText(true), text(v) {}
  SimValue(std::string v) : isText(true), text(std::move(v)) {}

  bool isText;
  double number = 0.0;
  std::int64_t integer = 0;
  bool integral = false;
  std::string text;
};

// An answer to a request on an object (by type: one message of a request by type). The fields
// follow the definition of the program's last request with that id; without such a request the
// values are packed as they are (numbers as FLOAT64, integers as INT64, texts as STRINGV).
bool sendObjectData(DWORD requestId, DWORD objectId, const std::vector<SimValue>& values);
bool sendObjectDataByType(DWORD requestId, DWORD objectId, const std::vector<SimValue>& values, DWORD entry = 1,
                          DWORD outOf = 1);
// The same for a named definition, whether or not the program made a request with the id.
bool sendDefinedData(SimConnectRecvId id, DWORD requestId, DWORD objectId, DWORD defineId,
                     const std::vector<SimValue>& values);
// The same with the packed data given byte for byte (a block too short for its definition).
bool sendObjectDataBytes(SimConnectRecvId id, DWORD requestId, DWORD objectId, DWORD defineId,
                         const std::vector<std::uint8_t>& data);
// A message exactly as given; the dispatch size is its length.
bool sendRawMessage(const std::vector<std::uint8_t>& bytes);

// ---- failures ---------------------------------------------------------------------------------------

// The next `times` calls of the function (by its full name, "SimConnect_AIRemoveObject") fail
// with E_FAIL; a negative count makes every call fail until clearFailures().
void failCall(std::string_view function, int times = -1);
void clearFailures();

// ---- the calls the program made ---------------------------------------------------------------------

struct SimCall {
  std::string function;           // "SimConnect_TransmitClientEvent"
  std::vector<std::string> args;  // every argument but the handle, as text; texts in quotes
  std::vector<std::uint8_t> data; // the data block of SetDataOnSimObject, the position of a creation
  HRESULT result = S_OK;
  DWORD packetId = 0;             // the packet the call sent; 0 for none
  std::string text() const;       // "SimConnect_TransmitClientEvent(1001, 214, 1, 301, 0)"
};
// In order; SimConnect_CallDispatch is not recorded. Recorded in scripted mode only.
std::vector<SimCall> calls();
std::vector<SimCall> callsOf(std::string_view function);
std::vector<std::string> callTexts();
void clearCalls();

// The packed-data definition the program declared under the id: field names in order.
std::vector<std::string> definitionFields(DWORD defineId);

// ---- by itself -----------------------------------------------------------------------------------------

enum class Clock { RealTime, Manual };
// Runs the world by itself from the scenario file of the folder (the current folder when empty).
// With the manual clock no thread runs: advanceWorld moves it on. Failures and recorded calls
// are kept as they are.
void runByItself(const std::filesystem::path& workingFolder, Clock clock = Clock::RealTime);
// Manual clock only: runs every frame and every state-file write due within the duration.
void advanceWorld(std::chrono::milliseconds duration);
// The error that keeps the scenario from running (unreadable file), empty when none.
std::string scenarioError();

inline constexpr const char* kScenarioFileName = "simulator-scenario.json";
inline constexpr const char* kStateFileName = "simulator-state.json";

}  // namespace kvo::simtest
