#include "shared_state/run_end.h"

#include <fmt/format.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "core/log.h"
#include "core/run_flags.h"
#include "core/timeutil.h"

std::atomic<std::int32_t> g_exitReason{kvo::kExitNotYetSet};
std::atomic<std::int32_t> g_restartDelaySeconds{0};
std::atomic<bool> g_scanChangeRestarts{true};

namespace {

// Serialises every party that ends a run, so the decision and the publication of the reason
// are one step.
std::mutex g_runEndMutex;

}  // namespace

std::string_view kvo::exitReasonText(std::int32_t code) {
  // Built once on first use from the fixed table.
  static const std::unordered_map<std::int32_t, std::string> texts{
      {kExitNotYetSet, "NOT YET SET"},          {kExitSimWasClosed, "SIM WAS CLOSED"},
      {kExitNewFlight, "NEW FLIGHT"},           {kExitNewSettings, "NEW SETTINGS"},
      {kExitUserClosedSim, "USER CLOSED SIM"},  {kExitSimConnectError, "SIMCONNECT ERROR"},
      {kExitReaderError, "READER ERROR"},       {kExitSystemError, "SYSTEM ERROR"}};
  return texts.at(code);
}

bool endRunWithReason(std::int32_t reason, std::int32_t restartDelaySeconds) {
  std::lock_guard lock(g_runEndMutex);
  if (g_stopRequested.load()) {
    // The repair of a system error: the run that waits for the user restarts instead.
    if (reason == kvo::kExitNewSettings && g_exitReason.load() == kvo::kExitSystemError &&
        !g_quitRequested.load()) {
      g_restartDelaySeconds.store(restartDelaySeconds);
      g_exitReason.store(reason);
      return true;
    }
    return false;
  }
  g_exitReason.store(reason);
  g_restartDelaySeconds.store(restartDelaySeconds);
  g_stopRequested.store(true);  // last: the stop is published with its reason
  return true;
}

bool requestQuitByUser() {
  std::lock_guard lock(g_runEndMutex);
  g_quitRequested.store(true);
  bool stored = false;
  if (g_exitReason.load() == kvo::kExitNotYetSet) {
    g_exitReason.store(kvo::kExitUserClosedSim);
    g_restartDelaySeconds.store(0);
    stored = true;
  }
  g_stopRequested.store(true);
  return stored;
}

void handleSimDisconnected() {
  if (g_stopRequested.load()) return;
  logLine(fmt::format("{} Flight Simulator no longer connected, {} will stop ...", currentTimeText(),
                      "Ambrelvane"));
  endRunWithReason(kvo::kExitSimWasClosed, 0);
}

namespace {
void clearLocked() {
  g_quitRequested.store(false);
  g_stopRequested.store(false);
  g_exitReason.store(kvo::kExitNotYetSet);
  g_restartDelaySeconds.store(0);
}
}  // namespace

void clearRunEndState() {
  std::lock_guard lock(g_runEndMutex);
  clearLocked();
}

bool clearRunEndStateForRestart() {
  std::lock_guard lock(g_runEndMutex);
  if (g_quitRequested.load()) return false;
  clearLocked();
  return true;
}
