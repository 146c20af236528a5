#pragma once
// The main loop of a traffic run: every 10 ms the traffic engine's tick, and once per user
// aircraft sample (one a second) the sample's work and the jobs due at the sample count; the
// waits that lead into the loop; the step taken while no flight runs. Everything here runs on
// the start-up worker thread; the flags below are set by other threads.
#include <atomic>
#include <cstdint>

// The user-sample count and the week slot that the loop keeps.
#include "shared_state/run_clock.h"

// The not-running work was done for the current pause (worker only).
extern bool g_flightPaused;
// A static parking pass is due; its first phase is done (worker only).
extern std::atomic<bool> g_parkPassPending;
extern bool g_parkPassPhase;
// Work that the window hands to the running traffic; the worker takes it.
extern std::atomic<bool> g_parkCheckPending;       // "Re-read"
extern std::atomic<bool> g_flushStaticPending;     // "Flush static"
extern std::atomic<bool> g_blockCallsignPending;   // a new BLOCK_CALLSIGN
extern std::atomic<bool> g_callsignLookupPending;  // a new CALLSIGN_2_OBJECTID

namespace kvo {

inline constexpr std::int32_t kSamplesPerDay = 86400;

// The jobs that fall due at user sample n (n >= 1). Exactly one group runs: the 15-group when n
// is a multiple of 15, else the jobs keyed to 16, 59, 61 and 62. The periodic steps are
// nested in the 15-group (30 within it, 60 within 30, and so on).
struct SampleJobs {
  bool fifteenGroup = false;   // reference position, simulator time, reserved stand, park check
  bool parkAirport = false;    // n mod 16 (only while no park pass is half done)
  bool readerLamps = false;    // n mod 59
  bool staticTwins = false;    // n mod 61
  bool callsignList = false;   // n mod 62
  bool autoRange = false;      // n mod 30
  bool minutes = false;        // n mod 60
  bool twentyMinutes = false;  // n mod 1200
  bool day = false;            // n mod 86400
  bool operator==(const SampleJobs&) const = default;
};
SampleJobs sampleJobsAt(std::int32_t n);

// Minutes until the next 20-minute mark at sample n (n a multiple of 60): 1..20.
std::int32_t minutesToNextPassAt(std::int32_t n);

}  // namespace kvo

// Waits for a running flight and the user aircraft; false when a stop or quit was requested.
bool startUserAircraftRequests();
// Waits up to 15 s for the first traffic line.
void warnNoTraffic();
// Ticks every 10 ms until mainLoopStep returns false.
void runMainLoop();
// One 10 ms step; false ends the loop. A stop or quit ends it at the next step, also while a
// flight runs and no user sample comes.
bool mainLoopStep();
void processUserSample();
void runPeriodicJobs();
void handleFlightNotRunning();
void finishParkAirportCheck();

// The job groups of one user sample at count n (what mainLoopStep runs after the sample).
void runSampleJobs(std::int32_t n);

// The main loop's run-scoped state back to its start (part of the reset between runs).
void resetMainLoopState();
