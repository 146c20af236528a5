#include "app/run_control.h"

#include <fmt/format.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <new>
#include <system_error>

#include "aircraft/livery_db.h"
#include "aircraft/livery_scan.h"
#include "airports/addon_scan.h"
#include "airports/airport_list.h"
#include "app/controls.h"
#include "app/main_loop.h"
#include "app/option_handlers.h"
#include "app/paint.h"
#include "app/run_timing.h"
#include "app/startup_checks.h"
#include "app/text_boxes.h"
#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/run_flags.h"
#include "core/text.h"
#include "core/timeutil.h"
#include "core/user_error.h"
#include "core/worker_slots.h"
#include "links/feed.h"
#include "links/qnh_reader.h"
#include "links/rt_link.h"
#include "links/sim_client.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
#include "links/udp_reader.h"
#include "shared_state/main_window.h"
#include "traffic/park_airports.h"
#include "traffic/static_aircraft.h"
#include "traffic/flight_plans.h"
#include "traffic/traffic_engine.h"

namespace fs = std::filesystem;

std::atomic<bool> g_restarting{false};
std::jthread g_startupThread;
std::jthread g_simClientThread;

namespace {

using namespace std::chrono_literals;

bool stopping() { return g_stopRequested.load() || g_quitRequested.load(); }

void repaint(const RECT& band) { g_mainWindow.invalidate(band); }

// The start-up worker's work from the checks to the traffic; returns before the traffic when a stop
// comes.
void startUpAndRun() {
  std::error_code ec;
  const auto docs = fs::status("docs", ec);
  if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("status", fs::path("docs"), ec);
  if (!fs::is_directory(docs)) {
    throw kvo::UserErrorException(kvo::kNotInProgramFolderErrorCode,
                                  formatWithProgramName("{} must be run from the {} folder!"));
  }
  runStartupChecks();
  setMaxWorkerSlots(std::max(1u, std::thread::hardware_concurrency()));

  const fs::path scanned = scannedLiveriesPath();
  const bool scannedExists = fs::exists(scanned, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("exists", scanned, ec);
  if (!scannedExists && !SCAN_LIVERIES.value()) {
    g_mainWindow.showMessage(fmt::format("File {} is gone, rescan liveries", scanned.string()), true);
    SCAN_LIVERIES.set(true);
    saveBoolParameter(SCAN_LIVERIES);
    showValueInControl(SCAN_LIVERIES);
    repaint(g_panelRect);
  }
  g_mainWindow.liveryCount = scanLiveries();
  if (stopping()) return;

  if (SCAN_AIRPORTS.value()) {
    g_mainWindow.simaddonFileCount = 0;
    g_mainWindow.thirdPartyFileCount = 0;
    repaint(g_statusAreaRect);
    scanAddonAirports();
  }
  g_mainWindow.thirdPartyFileCount = countDirectoryEntries("airports/my_thirdparty");
  g_mainWindow.simaddonFileCount = countDirectoryEntries("airports/my_simaddon");
  repaint(g_statusAreaRect);
  if (stopping()) {
    // The window was closed during the scans: quit without starting the traffic. A setting
    // that asks for a new run keeps its restart.
    if (!kvo::isRestartReason(g_exitReason.load()) || g_quitRequested.load()) requestQuitByUser();
    return;
  }
  createFlightPlanFolders();
  lf_readMyParkAirports();
  enableControl(g_reReadButton.binding, true);
  const std::string destination = DESTINATION.value();
  if (!destination.empty()) {
    if (const kvo::Airport* airport = findAirport(destination)) {
      setDestination(destination, {airport->latitude, airport->longitude});
    }
  }
  if (HWND window = g_mainWindow.hwnd.load()) {
    SetWindowPos(window, ALWAYS_ON_TOP.value() ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  runTraffic();
}

// A start-up failure: shown as the sticky error; the run ends with reason 7 by the rule (a run
// already ending keeps its reason).
void failStartup(const std::string& text) {
  g_mainWindow.showErrorMessage(text);
  endRunWithReason(kvo::kExitSystemError, 0);
}

// The closing down of a run; returns whether the run restarts (the reset is done).
bool closeRun() {
  logLine(fmt::format("Exiting: {}", kvo::exitReasonText(g_exitReason.load())));
  setTrafficFeedOpen(false);
  if (g_simClientThread.joinable()) g_simClientThread.request_stop();
  g_qnhReader.stopRequested = true;
  g_trafficReader.stopRequested = true;
  kvo::runWait(500ms);
  // The readers leave within one select time-out; waiting for them keeps a reader of this run
  // from running into the next one or into the end of the process.
  g_qnhReader.waitForThreadEnd(kvo::UdpReader::kHandOverWait);
  g_trafficReader.waitForThreadEnd(kvo::UdpReader::kHandOverWait);
  closeRealTrafficLink();

  if (g_exitReason.load() == kvo::kExitSystemError) {
    // The error stands until the user closes the window, or repairs it (a restart reason).
    while (!g_quitRequested.load() && g_exitReason.load() == kvo::kExitSystemError) kvo::runWait(500ms);
    if (g_quitRequested.load()) showAndLog(fmt::format("User closed {}", kvo::kProgramName));
  }
  if (!g_parkAirport.empty()) clearParkAirport();
  clearSpawnMap();
  gf_removeFlightPlanFolder();
  setAndSaveStringParameter(DESTINATION, "");
  setAndSaveStringParameter(BLOCK_CALLSIGN, "");
  g_ghostCallsigns.clear();
  logLiveryMatchingSummary();
  logNoMatchList();

  const std::int32_t reason = g_exitReason.load();
  // A user who closed the window wants the program to end, whatever ended the run first.
  if (kvo::isRestartReason(reason) && !g_quitRequested.load()) {
    g_restarting = true;
    g_mainWindow.clearError();
    g_mainWindow.clearMessage();
    showAndLog("Prepare for a restart ...");
    if (reason != kvo::kExitNewSettings) {
      SCAN_LIVERIES.set(false);
      saveBoolParameter(SCAN_LIVERIES);
      SCAN_AIRPORTS.set(false);
      saveBoolParameter(SCAN_AIRPORTS);
    }
    restartCountdown();
    // Closed during the countdown, or during the reset: the close wins.
    if (g_quitRequested.load() || !resetForNewRun()) {
      g_restarting = false;
      return false;
    }
    return true;
  }
  g_restarting = false;
  if (reason == kvo::kExitNewFlight) {
    showAndLog(fmt::format("New flight detected, {} will close, please restart manually ...", kvo::kProgramName));
    kvo::runWait(10s);
  }
  return false;
}

}  // namespace

void showAndLog(std::string_view text) {
  g_mainWindow.showMessage(text, false);
  logLine(text);
}

std::string formatWithProgramName(std::string_view format) {
  return fmt::format(fmt::runtime(format), kvo::kProgramName, kvo::kProgramName);
}

void startupWorker() {
  try {
    startUpAndRun();
  } catch (const kvo::UserErrorException& e) {
    const std::string text = e.what();
    failStartup(text.empty() ? "Unknown exception" : text);
  } catch (const fmt::format_error& e) {
    g_mainWindow.showErrorMessage(fmt::format("std::format error: {}", e.what()));
    failStartup(e.what());
  } catch (const std::bad_alloc& e) {
    failStartup(e.what());
  } catch (const std::exception& e) {
    failStartup(e.what());
  } catch (...) {
    failStartup("Unknown exception");
  }
  lf_closingDown();
}

void runTraffic() {
  g_mainWindow.g_rtLinkUp = false;
  g_mainWindow.g_simConnected = false;
  repaint(g_statusAreaRect);
  reserveTrafficContainers();
  reserveLiveryDb();
  reserveSimConnectQueues();
  if (g_simClientThread.joinable()) {
    g_simClientThread.request_stop();
    g_simClientThread.join();
  }
  g_simClientThread = std::jthread(SimClient);
  if (!startUserAircraftRequests()) return;
  if (AUTO_RANGE.value()) {
    applyAutoRange();
    enableControl(RANGE.binding, false);
  }
  openRealTrafficLink();
  if (stopping()) return;
  setTrafficFeedOpen(false);
  std::thread(qnhReaderThread, kvo::kQnhPort).detach();
  kvo::runWait(2s);
  std::thread(trafficReaderThread, kvo::kTrafficPort).detach();
  sendUserPositionToRT();
  {
    std::lock_guard lock(g_simQueueMutex);
    g_trafficReader.setReferencePosition(g_userAircraftSnapshot.lat, g_userAircraftSnapshot.lon);
  }
  warnNoTraffic();
  refreshCurrentWeekSlot();
  runMainLoop();
}

void openRealTrafficLink() {
  if (g_realTrafficOnThisPc.load() && !AEROWINX.value()) {
    startRealTrafficServer(PORT_NUMBER.value());
  } else {
    g_mainWindow.g_rtLinkUp = true;
    repaint(g_statusAreaRect);
  }
  if (stopping()) return;
  g_mainWindow.beforeLinkStep = false;
  repaint(g_statusAreaRect);
  if (AEROWINX.value()) {
    g_rtProfEdition = false;
  } else {
    connectRealTraffic();
    if (g_rtProfEdition.load()) sendSimTimeToRT(g_simTime.load());
  }
}

void lf_closingDown() {
  bool restart = false;
  try {
    restart = closeRun();
  } catch (const std::exception& e) {
    const std::string text = fmt::format("{} exception {}", "lf_closingDown", e.what());
    g_mainWindow.showMessage(text, false);
    logLine(text);
    restart = false;  // a run whose reset did not finish must not start again
  } catch (...) {
    const std::string text = fmt::format("{} exception {}", "lf_closingDown", "Unknown exception");
    g_mainWindow.showMessage(text, false);
    logLine(text);
    restart = false;
  }
  if (!restart) g_restarting = false;
  // Always the last act: the window thread starts the next run or quits.
  if (HWND window = g_mainWindow.hwnd.load()) {
    PostMessageW(window, restart ? WM_APP + 1 : WM_APP + 2, 0, 0);
  }
}

void restartCountdown() {
  const std::int32_t delay = g_restartDelaySeconds.load();
  if (delay < 1) return;
  logLine(fmt::format("Restarting after {} seconds\n\n\n\n\n", delay));
  for (std::int32_t n = delay; n >= 1; --n) {
    if (g_quitRequested.load()) return;  // the user closed the window: no restart
    g_mainWindow.showMessage(fmt::format("Restarting after {} second{}", n, pluralSuffix(n)), false);
    kvo::runWait(1s);
  }
}

bool resetForNewRun() {
  // The client thread was asked to stop by the closing down; its state is reset below.
  if (g_simClientThread.joinable()) {
    g_simClientThread.request_stop();
    g_simClientThread.join();
  }
  resetReaderState();
  resetSimConnectState();
  resetTraffic();
  takeDeferredLiveryClear();
  releaseLiveryTitles();  // no record of the old run holds a title any more
  g_mainWindow.resetForNewRunWindowFields();
  kvo::resetParkAirportView();
  resetMainLoopState();
  g_rtProfEdition = false;
  g_scanChangeRestarts = true;
  selectComboValue(RANGE.value());
  // Last: a close that came during the reset keeps its stop.
  return clearRunEndStateForRestart();
}

void startRunThread() {
  if (g_startupThread.joinable()) {
    g_startupThread.request_stop();
    g_startupThread.join();
  }
  g_startupThread = std::jthread(startupWorker);
}
