#pragma once
// The simulator client: the thread that opens the connection, declares every id and pumps the
// simulator's messages every millisecond, and the dispatch of those messages.
#include <atomic>
#include <cstdint>
#include <stop_token>
#include <string>

#include "platform/simconnect/simconnect.h"

namespace kvo {
inline constexpr const char* kSimClientName = "Ambrelvane";
}  // namespace kvo

// The connection; null while none is open. Atomic: the start-up worker calls the simulator with
// it while the client thread opens and closes it.
extern std::atomic<HANDLE> g_simConnect;
// The simulator reports a running flight.
extern std::atomic<bool> g_flightRunning;
// The simulator's frame rate, taken from every 30th frame event.
extern std::atomic<float> g_frameRate;

// The thread body: opens the connection (retrying every 100 ms until the run stops), declares
// the ids and dispatches until its stop is requested; then saves the user's stand and closes.
// A user error (wrong or unknown simulator, version mismatch) is shown and ends only this
// thread; any other failure also ends the run with "SIM WAS CLOSED".
void SimClient(std::stop_token stop);

// Subscribes the system events, declares the data definitions, maps the client events and fills
// notification group 301, in the program's fixed orders. Results are ignored.
void defineSimConnectData();
void addEventToGroup(std::uint32_t eventId);

// The procedure handed to SimConnect_CallDispatch. A message shorter than its record or of an
// unknown kind is logged and ignored.
void dispatchSimConnect(SimConnectRecv* message, DWORD size, void* context);

// Checks the simulator's name against the chosen simulator; throws kvo::UserErrorException 71
// (the other edition runs) or 77 (an unknown one).
void onSimConnectOpen(const SimConnectRecvOpen& open);

// "MSFS 20{} is running ..., switch Simulator, or select the right sim in the drop down list
// above" naming the edition that actually runs.
std::string reportSimulatorMismatch();

// Every value of the simulator side back to its start before a new run: the connection handle,
// the flags, the user aircraft, the queues and the lists of the pairing. Call it only while no
// client thread runs.
void resetSimConnectState();
