#pragma once
// One run after another inside one process: a run is started by WM_APP+1 on the start-up worker
// thread (startupWorker), passes the start-up checks and the scans, runs the traffic with its
// main loop (runTraffic), and closes down (lf_closingDown), which posts WM_APP+1 again for a
// restart or WM_APP+2 to quit. The exit reasons and their first-reason-wins rule are in
// shared_state/run_end.h.
#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "shared_state/run_end.h"

// Set by the closing down when it chose a restart; read by the start-up checks (no data-file
// version check on a restart).
extern std::atomic<bool> g_restarting;
// The start-up worker and the simulator client of the current run. Only the window thread
// replaces g_startupThread (on WM_APP+1); only the start-up worker replaces g_simClientThread.
extern std::jthread g_startupThread;
extern std::jthread g_simClientThread;

namespace kvo {
inline constexpr std::string_view kProgramName = "Ambrelvane";
inline constexpr int kNotInProgramFolderErrorCode = 41;
}  // namespace kvo

// Shows the text in the message line and logs it, whatever the stop flags say (a stop silences
// the message line's own logging, and the user's actions and the closing down are logged).
void showAndLog(std::string_view text);

// Formats a text whose two placeholders both take the program name.
std::string formatWithProgramName(std::string_view format);

// The body of the start-up worker thread; always ends with lf_closingDown.
void startupWorker();
// One traffic run after the start-up; returns when the main loop ends or the run was stopped
// before it.
void runTraffic();
// runTraffic's link to RealTraffic: with RealTraffic on this PC and AEROWINX off, the TCP server
// on PORT_NUMBER, RealTraffic's connection and handshake (and the simulator time for a
// professional edition); otherwise no link to wait for, and the link counts as up.
void openRealTrafficLink();
// Closes the run and always posts WM_APP+1 (restart) or WM_APP+2 (quit) to the main window.
void lf_closingDown();
// The countdown before a restart ("Restarting after {} second{}").
void restartCountdown();
// Every run-scoped value back to its start value. The simulator client of the ended run is
// joined first: its state is reset here. The stop, quit and exit reason are cleared last, unless
// the user has closed the window meanwhile: then they stay and the answer is false (quit).
bool resetForNewRun();

// Starts a run on a fresh g_startupThread, stopping and joining the previous one (WM_APP+1).
void startRunThread();
