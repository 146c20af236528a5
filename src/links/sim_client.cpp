#include "links/sim_client.h"

#include <fmt/format.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>

#include "core/log.h"
#include "core/parameters.h"
#include "core/run_flags.h"
#include "core/user_error.h"
#include "links/sim_ids.h"
#include "links/sim_messages.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/sim_user_model.h"
#include "platform/mmtimer/mmtimer.h"
#include "shared_state/main_window.h"
#include "shared_state/run_end.h"

std::atomic<HANDLE> g_simConnect{nullptr};
std::atomic<bool> g_flightRunning{false};
std::atomic<float> g_frameRate{0.0f};

namespace {

using namespace kvo;

int g_frameCounter = 0;  // client thread only

// A loaded flight ends the run; the first reason to end it wins.
void newFlightStop() { endRunWithReason(kExitNewFlight, 45); }

// Sleeps for the duration unless the thread's stop is requested first.
void sleepUnlessStopped(std::stop_token stop, std::chrono::milliseconds duration) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  wake.wait_for(lock, stop, duration, [] { return false; });
}

// timeEndPeriod on every way out of the dispatch loop, an exception included.
struct TimerResolution {
  TimerResolution() { timeBeginPeriod(1); }
  ~TimerResolution() { timeEndPeriod(1); }
  TimerResolution(const TimerResolution&) = delete;
  TimerResolution& operator=(const TimerResolution&) = delete;
};

void logShortMessage(DWORD id, DWORD size) {
  logLine(fmt::format("! SimConnect message {} of {} bytes is too short, ignored", id, size));
}

void onEvent(const SimConnectRecvEvent& event) {
  switch (event.eventId) {
    case kSysEventSim: {
      const bool running = event.data == 1;
      g_flightRunning = running;
      g_mainWindow.simRunning = running;
      g_mainWindow.invalidate(g_statusAreaRect);
      break;
    }
    case kSysEventFlightLoaded:
      logLine("SimConnect: flight loaded event");
      saveUserStand();
      newFlightStop();
      break;
    default:
      break;
  }
}

void onObjectAddRemove(const SimConnectRecvEventObjectAddRemove& message) {
  if (message.objectType != kSimObjectTypeAircraft) return;
  // The object's id travels in the event's data.
  if (message.event.eventId == kSysEventObjectAdded) {
    onSimObjectAdded(message.event.data);
  } else if (message.event.eventId == kSysEventObjectRemoved) {
    onSimObjectRemoved(message.event.data);
  }
}

void onFrame(const SimConnectRecvEventFrame& frame) {
  flushSimConnectQueues();
  if (++g_frameCounter >= 30) {
    g_frameCounter = 0;
    g_frameRate = frame.frameRate;
  }
}

// Dispatches one record kind after checking that the message holds it.
template <typename Record, typename Handler>
void withRecord(const SimConnectRecv* message, DWORD size, DWORD id, Handler handler) {
  if (auto record = readSimRecord<Record>(message, size)) {
    handler(*record);
  } else {
    logShortMessage(id, size);
  }
}

}  // namespace

std::string reportSimulatorMismatch() {
  return fmt::format("MSFS 20{} is running ..., switch Simulator, or select the right sim in the drop down list above",
                     g_simIs2020.load() ? "24" : "20");
}

void addEventToGroup(std::uint32_t eventId) {
  SimConnect_AddClientEventToNotificationGroup(g_simConnect.load(), kSimEventGroup, eventId, TRUE);
}

void defineSimConnectData() {
  const HANDLE h = g_simConnect.load();

  SimConnect_SubscribeToSystemEvent(h, kSysEventSim, "Sim");
  SimConnect_SubscribeToSystemEvent(h, kSysEventObjectAdded, "ObjectAdded");
  SimConnect_SubscribeToSystemEvent(h, kSysEventObjectRemoved, "ObjectRemoved");
  SimConnect_SubscribeToSystemEvent(h, kSysEventFlightLoaded, "FlightLoaded");
  SimConnect_SubscribeToSystemEvent(h, kSysEventFrame, "Frame");

  auto add = [h](std::uint32_t definition, const char* variable, const char* unit, SimConnectDataType type) {
    SimConnect_AddToDataDefinition(h, definition, variable, unit, type, 0.0f, kSimNoDatumId);
  };
  add(kDefUserTitle, "TITLE", nullptr, kSimDataStringV);
  add(kDefUserModel, "ATC MODEL", nullptr, kSimDataString32);
  add(kDefUserOnGround, "SIM ON GROUND", "Bool", kSimDataInt64);

  add(kDefAiPosition, "Plane Latitude", "degree", kSimDataFloat64);
  add(kDefAiPosition, "Plane Longitude", "degree", kSimDataFloat64);
  add(kDefAiPosition, "Plane Pitch degrees", "radians", kSimDataFloat64);
  add(kDefAiPosition, "Plane Bank degrees", "radians", kSimDataFloat64);
  add(kDefAiPosition, "Plane Heading degrees true", "radians", kSimDataFloat64);
  add(kDefAiPosition, "Plane Altitude", "feet", kSimDataFloat64);
  add(kDefAiPosition, "Vertical Speed", "feet per second", kSimDataFloat64);
  add(kDefAiPosition, "Airspeed True", "knots", kSimDataFloat64);

  add(kDefUserAircraft, "Plane Latitude", "degree", kSimDataFloat64);
  add(kDefUserAircraft, "Plane Longitude", "degree", kSimDataFloat64);
  add(kDefUserAircraft, "Plane Pitch degrees", "radians", kSimDataFloat64);
  add(kDefUserAircraft, "Plane Bank degrees", "radians", kSimDataFloat64);
  add(kDefUserAircraft, "Plane Heading degrees true", "radians", kSimDataFloat64);
  add(kDefUserAircraft, "Plane Altitude", "feet", kSimDataFloat64);
  add(kDefUserAircraft, "Plane Alt Above Ground", "feet", kSimDataFloat64);
  add(kDefUserAircraft, "Ground Velocity", "knots", kSimDataFloat64);
  add(kDefUserAircraft, "ZULU TIME", "Seconds", kSimDataInt64);
  add(kDefUserAircraft, "ZULU DAY OF YEAR", "Number", kSimDataInt64);
  add(kDefUserAircraft, "ZULU YEAR", "Number", kSimDataInt64);
  add(kDefUserAircraft, "LIGHT STATES", "Mask", kSimDataInt64);

  add(kDefStaticCg, "Static CG to Ground", "feet", kSimDataFloat64);
  add(kDefStaticCg, "Static Pitch", "radians", kSimDataFloat64);

  add(kDefLightOnStates, "Light On States", "Mask", kSimDataInt64);

  add(kDefAircraftInRange, "Plane Alt Above Ground", "feet", kSimDataFloat64);
  add(kDefAircraftInRange, "Ground Altitude", "feet", kSimDataFloat64);
  add(kDefAircraftInRange, "SIM ON GROUND", "Bool", kSimDataInt64);
  add(kDefAircraftInRange, "ATC ID", nullptr, kSimDataString32);

  add(kDefSpoilersThrottles, "SPOILERS HANDLE POSITION", "percent", kSimDataFloat64);
  add(kDefSpoilersThrottles, "GENERAL ENG THROTTLE LEVER POSITION:1", "percent", kSimDataFloat64);
  add(kDefSpoilersThrottles, "GENERAL ENG THROTTLE LEVER POSITION:2", "percent", kSimDataFloat64);

  SimConnect_MapClientEventToSimEvent(h, kEventGearSet, "GEAR_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventEngineAutoStart, "ENGINE_AUTO_START");
  SimConnect_MapClientEventToSimEvent(h, kEventEngineAutoShutdown, "ENGINE_AUTO_SHUTDOWN");
  SimConnect_MapClientEventToSimEvent(h, kEventThrottleSet, "THROTTLE_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventFlapsSet, "FLAPS_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventSpoilersSet, "SPOILERS_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventNavLightsSet, "NAV_LIGHTS_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventBeaconLightsSet, "BEACON_LIGHTS_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventLandingLightsSet, "LANDING_LIGHTS_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventTaxiLightsSet, "TAXI_LIGHTS_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventStrobesSet, "STROBES_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventLogoLightsSet, "LOGO_LIGHTS_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventCabinLightsSet, "CABIN_LIGHTS_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventAllLightsToggle, "ALL_LIGHTS_TOGGLE");
  SimConnect_MapClientEventToSimEvent(h, kEventFreezeLatLonSet, "FREEZE_LATITUDE_LONGITUDE_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventFreezeAltitudeSet, "FREEZE_ALTITUDE_SET");
  SimConnect_MapClientEventToSimEvent(h, kEventFreezeAttitudeSet, "FREEZE_ATTITUDE_SET");

  for (std::uint32_t event : {kEventNavLightsSet, kEventBeaconLightsSet, kEventLandingLightsSet, kEventTaxiLightsSet,
                              kEventStrobesSet, kEventLogoLightsSet, kEventCabinLightsSet, kEventAllLightsToggle,
                              kEventFlapsSet, kEventSpoilersSet, kEventGearSet, kEventEngineAutoShutdown,
                              kEventThrottleSet, kEventFreezeLatLonSet, kEventFreezeAltitudeSet,
                              kEventFreezeAttitudeSet}) {
    addEventToGroup(event);
  }
  SimConnect_SetNotificationGroupPriority(h, kSimEventGroup, kSimGroupPriorityHighest);
}

void onSimConnectOpen(const SimConnectRecvOpen& open) {
  const std::string name = simText(open.applicationName);
  if (name.empty()) {
    logLine("! Simulator name empty?");
    return;
  }
  g_mainWindow.g_simConnected = true;
  g_mainWindow.invalidate(g_statusAreaRect);

  // Compared after punctuation is dropped: the simulators' names have carried stray marks.
  std::string filtered;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || std::isspace(u)) filtered.push_back(c);
  }

  std::string simulator;
  if (filtered == "KittyHawk") {
    if (!g_simIs2020.load()) throw UserErrorException(71, reportSimulatorMismatch());
    simulator = "MSFS 2020";
  } else if (filtered == "SunRise") {
    if (g_simIs2020.load()) throw UserErrorException(71, reportSimulatorMismatch());
    simulator = "MSFS 2024";
  } else {
    throw UserErrorException(77, fmt::format("'{}' not being MSFS 2020 or MSFS 2024 connects ... ?", filtered));
  }

  const std::string version =
      simulator == "MSFS 2020"
          ? fmt::format("{} ({}.{}.{}.{})", simulator, open.applicationVersionMajor, open.applicationVersionMinor,
                        open.applicationBuildMajor, open.applicationBuildMinor)
          : simulator;
  logLine(fmt::format("{} connected", version));
  g_mainWindow.setDisplayText(&MainWindow::simulatorText, version, g_statusAreaRect);
  g_mainWindow.invalidate(g_statusAreaRect);
  g_mainWindow.clearMessage();
}

void dispatchSimConnect(SimConnectRecv* message, DWORD size, void*) {
  if (message == nullptr) return;
  if (simMessageLength(message, size) < sizeof(SimConnectRecv)) {
    logShortMessage(0, size);
    return;
  }
  SimConnectRecv header;
  std::memcpy(&header, message, sizeof header);

  switch (header.id) {
    case kSimRecvException:
      withRecord<SimConnectRecvException>(message, size, header.id, onSimConnectException);
      break;
    case kSimRecvOpen:
      withRecord<SimConnectRecvOpen>(message, size, header.id, onSimConnectOpen);
      break;
    case kSimRecvQuit:
      g_flightRunning = false;
      break;
    case kSimRecvEvent:
      withRecord<SimConnectRecvEvent>(message, size, header.id, onEvent);
      break;
    case kSimRecvEventObjectAddRemove:
      withRecord<SimConnectRecvEventObjectAddRemove>(message, size, header.id, onObjectAddRemove);
      break;
    case kSimRecvEventFileName:
      withRecord<SimConnectRecvEventFileName>(message, size, header.id, [](const SimConnectRecvEventFileName&) {
        logArrowLine("SimConnect: New file event");
        saveUserStand();
        newFlightStop();
      });
      break;
    case kSimRecvEventFrame:
      withRecord<SimConnectRecvEventFrame>(message, size, header.id, onFrame);
      break;
    case kSimRecvSimObjectData:
    case kSimRecvSimObjectDataByType: {
      const auto data = readSimObjectData(message, size);
      if (!data) {
        logShortMessage(header.id, size);
      } else if (header.id == kSimRecvSimObjectData) {
        onSimObjectData(*data);
      } else {
        onSimObjectDataByType(*data);
      }
      break;
    }
    case kSimRecvAssignedObjectId:
    case 16:
    case 27:
      break;
    default:
      logLine(fmt::format("! Unknown Dispatch dwID {}", header.id));
      break;
  }
}

void SimClient(std::stop_token stop) {
  bool firstPass = true;
  try {
    while (!g_stopRequested.load() && !g_quitRequested.load() && !stop.stop_requested()) {
      if (firstPass) {
        firstPass = false;
        g_mainWindow.showMessage(fmt::format("Waiting for MSFS 20{} ...", g_simIs2020.load() ? "20" : "24"), true);
        logLine("\n");
        g_mainWindow.invalidate(g_messageLineRect);
      }
      HANDLE handle = nullptr;
      if (SimConnect_Open(&handle, kSimClientName, nullptr, 0, nullptr, 0) < 0 || handle == nullptr) {
        sleepUnlessStopped(stop, std::chrono::milliseconds(100));
        continue;
      }
      g_simConnect = handle;
      defineSimConnectData();
      TimerResolution resolution;
      while (!stop.stop_requested()) {
        if (SimConnect_CallDispatch(g_simConnect.load(), dispatchSimConnect, nullptr) < 0) {
          // The connection is gone (the simulator quit or failed): no message comes any more, so
          // the run would wait for a flight for ever.
          g_flightRunning = false;
          handleSimDisconnected();
          break;
        }
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
      }
    }
  } catch (const UserErrorException& e) {
    // Ends this thread only; the run keeps waiting for a flight, which must not look running.
    g_mainWindow.showErrorMessage(e.what());
    g_flightRunning = false;
  } catch (const std::exception& e) {
    g_mainWindow.showErrorMessage(e.what());
    g_flightRunning = false;
    handleSimDisconnected();
  } catch (...) {
    g_mainWindow.showErrorMessage(fmt::format("Exception in {}", "SimClient"));
    g_flightRunning = false;
    handleSimDisconnected();
  }

  try {
    saveUserStand();
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{} exception: {}", "saveUserStand", e.what()));
  }
  g_mainWindow.g_simConnected = false;
  g_mainWindow.invalidate(g_statusAreaRect);
  // The handle is cleared with the close, so that no later call uses a dead connection.
  if (HANDLE handle = g_simConnect.exchange(nullptr)) {
    if (SimConnect_Close(handle) < 0) {
      logArrowLine("Closing SimConnect failed?!");
    } else {
      logLine("SimConnect closed ok");
    }
  }
}

void resetSimConnectState() {
  g_simConnect = nullptr;
  g_flightRunning = false;
  g_frameRate = 0.0f;
  g_frameCounter = 0;
  {
    std::lock_guard lock(g_simQueueMutex);
    for (auto& buffer : g_positionBuffers) buffer.clear();
    g_positionBufferFill = &g_positionBuffers[0];
    g_positionBufferSend = &g_positionBuffers[1];
    g_clientEventQueue.clear();
    g_createQueue.clear();
    g_simRemoveQueue.clear();
    g_userAircraft = {};
    g_userAircraftSnapshot = {};
  }
  g_simQueuesNotReady = false;
  g_sentCreatePackets.clear();
  resetSimObjectDataState();
  resetUserModelState();
}
