#pragma once
// The run's end request that every subsystem may make: the exit reason with its
// first-reason-wins rule, and the simulator's disconnection. The simulator client and the readers
// call these on their threads; the run control (app/run_control.h: start-up worker, closing
// down, restart) acts on the reason.
#include <atomic>
#include <cstdint>
#include <string_view>

namespace kvo {

enum ExitReasonCode : std::int32_t {
  kExitNotYetSet = 0,
  kExitSimWasClosed = 1,
  kExitNewFlight = 2,
  kExitNewSettings = 3,
  kExitUserClosedSim = 4,
  kExitSimConnectError = 5,
  kExitReaderError = 6,
  kExitSystemError = 7,
};

// "NOT YET SET", "SIM WAS CLOSED", ... "SYSTEM ERROR"; throws std::out_of_range ("invalid
// unordered_map<K, T> key") for a code outside the table.
std::string_view exitReasonText(std::int32_t code);

// Reasons after which the program restarts its run in the same process.
constexpr bool isRestartReason(std::int32_t code) {
  return code == kExitNewSettings || code == kExitSimConnectError || code == kExitReaderError;
}

}  // namespace kvo

// Why the run ended (0 while none) and the seconds of the restart countdown. Written only by the
// party that ends the run, always before g_stopRequested is set, so whoever sees the stop sees
// its reason.
extern std::atomic<std::int32_t> g_exitReason;
extern std::atomic<std::int32_t> g_restartDelaySeconds;

// Ends the run unless it is already ending: the first party wins. The winner's reason and delay
// are stored before g_stopRequested is set, under one lock that every party takes, so two
// parties can never both win and nobody can see the stop without its reason.
// One exception: while a run ends for reason 7 ("SYSTEM ERROR", waiting for the user), a new
// reason 3 (the user's repair, such as a newly typed path) replaces it and the run restarts,
// unless the user has already closed the window.
// Returns true when this call set the reason.
bool endRunWithReason(std::int32_t reason, std::int32_t restartDelaySeconds);

// The window's close: g_quitRequested and g_stopRequested are set at once, and reason 4 ("USER
// CLOSED SIM") is stored when no reason is set yet. Returns true when it stored reason 4.
bool requestQuitByUser();

// The simulator went away or its client failed: logs "{} Flight Simulator no longer connected,
// {} will stop ..." and ends the run with reason 1 and no restart delay, unless a stop is
// already pending.
void handleSimDisconnected();

// While set, switching a scan on restarts the run at once. Set for each new run; cleared when
// RealTraffic has connected over the TCP link (links), read by the option handlers.
extern std::atomic<bool> g_scanChangeRestarts;

// Clears the stop and quit flags and the reason and delay together (a test's fresh start).
void clearRunEndState();

// The same for the next run of an in-process restart, unless the user has closed the window:
// then nothing is cleared and the answer is false. Decided and done under the lock of
// requestQuitByUser, so a close that comes at any moment of the restart is never cleared away.
bool clearRunEndStateForRestart();
