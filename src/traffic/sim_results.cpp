// The simulator's answers about AI objects: new objects paired with their aircraft, their
// activation after a settling delay, ground heights and centre of gravity, objects the simulator
// removed or refused; and the engine, throttle, flaps and light events of created aircraft.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <exception>
#include <filesystem>
#include <mutex>

#include "aircraft/livery_match.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/user_error.h"
#include "core/utf.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "platform/win32/win32.h"
#include "shared_state/run_clock.h"
#include "traffic/engine_detail.h"
#include "traffic/static_parking.h"
#include "traffic/flight_plans.h"
#include "traffic/movement.h"
#include "traffic/traffic_engine.h"

using namespace kvo;
using namespace kvo::engine;

namespace {

constexpr std::array<std::uint32_t, 5> kThrottleValues{0, 4914, 8191, 11468, 16383};
// Index 4 means nothing was sent yet and sends 0.
constexpr std::array<std::uint32_t, 5> kFlapsValues{0, 3072, 10240, 16383, 0};
constexpr std::uint32_t kSpoilersFull = 16383;
constexpr double kStaticPitchFallback = 0.012217304763960306;  // 0.7 degrees

// The object id of a simulator object that no aircraft of this run owns any more: it goes.
void removeOrphanObject(std::uint32_t objectId) {
  logArrowLine(fmt::format("{}: object {} has no aircraft any more, removed", "processDeferredResults", objectId));
  g_removeQueue.push_back(objectId);
}

void reportIfFailed(HRESULT result, std::string_view what) {
  if (result >= 0) return;
  logArrowLine(what);
  reportSimConnectRequestError();
}

// The flight plan path in the code page the simulator reads.
std::string activeCodePageText(const std::filesystem::path& path) {
  const std::u16string wide = win32::utf8ToWide(path.string());
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                         nullptr);
  if (length <= 0) return path.string();
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), length, nullptr, nullptr);
  return out;
}

void deleteFlightPlanFile(std::uint32_t objectId) {
  const std::filesystem::path path = flightPlanPath(objectId);
  if (std::filesystem::exists(path)) std::filesystem::remove(path);
}

// A removal asked for while the object was on its way is carried out now that it exists.
void removeIfRequested(StaticAircraft& ac) {
  if (ac.removeRequested == 0) return;
  ac.removeRequested = 0;
  removeAircraftFromSim(ac);
}

void onGroundData(const SimConnectResult& r) {
  const auto it = findByObjectId(g_liveAircraft, r.objectId);
  if (it == g_liveAircraft.end()) return;
  LiveAircraft& ac = *it;
  if (r.id == 1 && ac.onGround == 0 && ac.takeOffCounter < 2 && ac.state != AircraftState::RemovingFromSim &&
      ac.phase != GroundPhase::TakeOff) {
    if (ac.landingStage != 0 || ac.descent != 0) setGroundSlots(ac);
    ac.onGround = 1;
    ac.verticalStep = 0.0;
    ac.takeOffCounter = 1;
  }
  ac.aglFt = r.value2;
  if (ac.onGround != 0 || ac.takeOffCounter >= 2) ac.position.altFt = ac.staticCgFt + r.value1;
}

void onStaticCg(const SimConnectResult& r) {
  const auto it = findByObjectId(g_liveAircraft, r.objectId);
  if (it == g_liveAircraft.end()) return;
  if (r.value1 >= 1.0 && r.value1 <= 35.0) it->staticCgFt = r.value1;
  it->staticPitch = r.value2;
  if (r.value2 <= -1.0 * kRadiansPerDeg || r.value2 > 2.5 * kRadiansPerDeg) it->staticPitch = kStaticPitchFallback;
}

// Counts the livery as failed and erases the aircraft; the livery's user error (too many failed
// liveries) comes after the erase.
template <typename A>
void onCreateFailed(std::vector<A>& list, typename std::vector<A>::iterator it) {
  std::exception_ptr failure;
  try {
    onLiveryCreateFailed(*it);
  } catch (...) {
    failure = std::current_exception();
  }
  if constexpr (std::is_same_v<A, LiveAircraft>) {
    eraseLiveAircraftAt(it);
  } else {
    list.erase(it);
  }
  if (failure) std::rethrow_exception(failure);
}

void handleResult(const SimConnectResult& r) {
  switch (r.kind) {
    case SimResultKind::CreatedLive: {
      const auto it = findByInternalId(g_liveAircraft, r.id);
      if (it == g_liveAircraft.end()) {
        // Nobody waits for this object any more.
        if (r.objectId >= 3) removeOrphanObject(r.objectId);
        return;
      }
      if (it->state != AircraftState::Adding2Sim || it->objectId != 0) {
        if (r.objectId >= 3 && r.objectId != it->objectId) removeOrphanObject(r.objectId);
        return;
      }
      if (onAircraftCreated(*it, r)) g_deferredResults.push_back(r);
      return;
    }
    case SimResultKind::CreatedStatic:
      g_deferredResults.push_back(r);
      return;
    case SimResultKind::RemovedBySim:
      onAircraftRemovedBySim(r.objectId);
      return;
    case SimResultKind::GroundData:
      onGroundData(r);
      return;
    case SimResultKind::StaticCg:
      onStaticCg(r);
      return;
    case SimResultKind::CreateFailed:
      if (isLiveInternalId(r.id)) {
        const auto it = findByInternalId(g_liveAircraft, r.id);
        if (it != g_liveAircraft.end()) onCreateFailed(g_liveAircraft, it);
      } else {
        const auto it = findByInternalId(g_staticAircraft, r.id);
        if (it != g_staticAircraft.end()) onCreateFailed(g_staticAircraft, it);
      }
      return;
  }
}

}  // namespace

void handleSimConnectResults() {
  std::lock_guard lock(g_simResultsMutex);
  // The results are used up whatever happens while they are handled: kept, they would run
  // again next tick.
  struct Consume {
    ~Consume() { g_simResults.clear(); }
  } consume;
  for (const SimConnectResult& r : g_simResults) {
    try {
      handleResult(r);
    } catch (const UserErrorException&) {
      throw;
    } catch (const std::exception& e) {
      logArrowLine(fmt::format("{} exception: {}", "handleSimConnectResults", e.what()));
    }
  }
  g_simResults.clear();
  if (!g_deferredResults.empty()) processDeferredResults();
}

bool onAircraftCreated(LiveAircraft& ac, const SimConnectResult& r) {
  if (r.objectId < 3) return false;
  ac.objectId = r.objectId;
  ac.aglFt = r.value2;
  if (!ac.trackPoints.empty() && ac.trackPoints.front().airborne == 0) parkCreatedAircraft(ac);
  writeAircraftFlightPlan(ac);
  reportIfFailed(requestStaticCgData(ac.objectId), "SimConnect request StaticCG fails");
  return true;
}

void parkCreatedAircraft(LiveAircraft& ac) {
  ac.onGround = 1;
  if (!isRotorcraft(ac)) sendEvent(ac.objectId, kEventGearSet, 1);
  ac.verticalStep = 0.0;
  if (ac.phase == GroundPhase::Parked) {
    ac.parkWeekSlot = g_currentWeekSlot.load();
    const std::string stand = standName(ac.standId);
    if (LOG.value()) logLine(fmt::format("{:8}: {:8} parks", stand, ac.callsign));
    const std::uint32_t standId = ac.standId;
    std::erase_if(g_staticCandidates, [standId](const StaticCandidate& c) { return c.standId == standId; });
    for (StaticAircraft& s : g_staticAircraft) {
      if (s.state != AircraftState::Active || s.standId != standId) continue;
      // The em dash in UTF-8, as the rest of the log: a lone Windows-1252 byte would be escaped.
      logLine(fmt::format("{:8}: {:8} parks over static {} \xE2\x80\x94 static will be removed", stand, ac.callsign,
                          s.callsign));
      removeAircraftFromSim(s);
    }
  }
  ac.takeOffCounter = 1;
}

void writeAircraftFlightPlan(LiveAircraft& ac) {
  if (ac.origin.empty() || ac.destination.empty() || !flightPlanCodesUsable(ac)) return;
  const std::filesystem::path path = flightPlanPath(ac.objectId);
  bool ok = writeFlightPlan(path, ac);
  if (ok && g_simIs2020.load()) ok = setAiFlightPlan(ac.objectId, activeCodePageText(path)) >= 0;
  if (ok) {
    ac.flightPlanWritten = 1;
    return;
  }
  logArrowLine(fmt::format("{} creating a flight plan failed", aircraftLongText(ac)));
  ac.flightPlanWritten = 0;
}

void processDeferredResults() {
  bool anyDone = false;
  for (SimConnectResult& r : g_deferredResults) {
    if (r.ticks < 0) continue;
    if (r.kind == SimResultKind::CreatedStatic) {
      if (r.ticks < kActivationTicks) {
        r.ticks += 1;
        continue;
      }
      r.ticks = -1;
      anyDone = true;
      const auto it = std::find_if(g_staticAircraft.begin(), g_staticAircraft.end(), [&r](const StaticAircraft& s) {
        return s.internalId == r.id && s.objectId == 0 &&
               (s.state == AircraftState::Adding2Sim || s.state == AircraftState::Buffer);
      });
      if (it == g_staticAircraft.end()) {
        removeOrphanObject(r.objectId);
        continue;
      }
      it->state = AircraftState::Active;
      it->objectId = r.objectId;
      shutDownAircraft(*it);
      if (LOG.value()) logLine(fmt::format("{:8}: {:8} parked", standName(it->standId), it->callsign));
      removeIfRequested(*it);
    } else if (r.kind == SimResultKind::CreatedLive) {
      if (r.ticks < kActivationTicks) {
        r.ticks += 1;
        if (r.ticks == 50 || r.ticks == 100) {
          reportIfFailed(sendAllLightsToggle(r.objectId), "SimConnect gf_allLightsToggle fails");
        }
        continue;
      }
      r.ticks = -1;
      anyDone = true;
      const auto it = std::find_if(g_liveAircraft.begin(), g_liveAircraft.end(), [&r](const LiveAircraft& a) {
        return a.internalId == r.id && a.objectId == r.objectId && a.state == AircraftState::Adding2Sim;
      });
      if (it == g_liveAircraft.end()) {
        removeOrphanObject(r.objectId);
        continue;
      }
      activateLiveAircraft(*it);
      removeIfRequested(*it);
    } else {
      r.ticks = -1;
      anyDone = true;
    }
  }
  if (anyDone) std::erase_if(g_deferredResults, [](const SimConnectResult& r) { return r.ticks < 0; });
}

void activateLiveAircraft(LiveAircraft& ac) {
  const std::uint32_t object = ac.objectId;
  const bool rotor = isRotorcraft(ac);
  const bool airborne = !ac.trackPoints.empty() && ac.trackPoints.front().airborne != 0;
  if (airborne) {
    sendEvent(object, kEventEngineAutoStart, 0);
    if (!rotor) sendEvent(object, kEventSpoilersSet, 0);
    const std::uint32_t low = ac.position.altFt <= 10000.0 ? 1 : 0;
    queueLightEvents(object, {1, 1, low, 0, 1, low, ac.aglFt >= 2000.0 ? 1u : 0u});
  } else {
    if (!rotor) sendEvent(object, kEventSpoilersSet, 0);
    const bool parked = ac.phase == GroundPhase::Parked;
    std::uint32_t nav = 1;
    if (parked) {
      sendEvent(object, kEventEngineAutoShutdown, 0);
      nav = NAV_LIGHTS_WHILE_PARKED.value() ? 1 : 0;
    } else {
      sendEvent(object, kEventEngineAutoStart, 0);
    }
    queueLightEvents(object, {nav, parked ? 0u : 1u, 0, ac.phase == GroundPhase::Taxi ? 1u : 0u, 0, 1, 1});
    setThrottle(ac, rotor ? 4 : 0);
    gf_setFlaps(ac, ac.phase == GroundPhase::Taxi ? 1 : 0);
  }
  ac.state = AircraftState::Active;
}

void onAircraftRemovedBySim(std::uint32_t objectId) {
  // Activations that still wait for this object have nothing left to activate. A static
  // aircraft learns its object id only at its activation: it is found through its result.
  for (SimConnectResult& r : g_deferredResults) {
    if (r.objectId != objectId || r.ticks < 0) continue;
    r.ticks = -1;
    if (r.kind == SimResultKind::CreatedStatic) {
      std::erase_if(g_staticAircraft, [&r](const StaticAircraft& s) {
        return s.internalId == r.id && s.objectId == 0 && s.state != AircraftState::Active;
      });
    }
  }
  std::erase_if(g_deferredResults, [](const SimConnectResult& r) { return r.ticks < 0; });

  const auto live = findByObjectId(g_liveAircraft, objectId);
  if (live != g_liveAircraft.end()) {
    if (live->state == AircraftState::LiveryRespawn) {
      live->state = AircraftState::Buffer;
      live->throttleIndex = kNoThrottleSent;
      live->flapsIndex = kNoFlapsSent;
      live->objectId = 0;
      return;
    }
    if (live->flightPlanWritten != 0) {
      try {
        deleteFlightPlanFile(objectId);
      } catch (const std::exception& e) {
        // The record goes all the same: its object is gone.
        logArrowLine(fmt::format("{} exception: {}", "onAircraftRemovedBySim", e.what()));
      }
    }
    eraseLiveAircraftAt(live);
    return;
  }
  const auto stat = findByObjectId(g_staticAircraft, objectId);
  if (stat != g_staticAircraft.end()) g_staticAircraft.erase(stat);
}

void eraseLiveAircraftAt(std::vector<LiveAircraft>::iterator it) {
  // "removingfromsim" gave the stand back when the removal was asked for; any other state
  // still holds it.
  if (it->state != AircraftState::RemovingFromSim) freeStand(it->standId);
  g_liveAircraft.erase(it);
}

void shutDownAircraft(StaticAircraft& ac) {
  if (ac.throttleIndex != 0) {
    sendEvent(ac.objectId, kEventThrottleSet, 0);
    ac.throttleIndex = 0;
  }
  gf_setFlaps(ac, 0);
  sendEvent(ac.objectId, kEventEngineAutoShutdown, 0);
  std::uint32_t cabin = ac.cargoStand != 0 ? 0 : 1;
  if (cabin != 0 && RANDOM.value() && threadRandomEngine()() % 10 > 8) cabin = 0;
  queueLightEvents(ac.objectId, {NAV_LIGHTS_WHILE_PARKED.value() ? 1u : 0u, 0, 0, 0, 0, 1, cabin});
}

void setThrottle(StaticAircraft& ac, std::uint32_t index) {
  if (index == ac.throttleIndex) return;
  if (index < kThrottleValues.size()) sendEvent(ac.objectId, kEventThrottleSet, kThrottleValues[index]);
  ac.throttleIndex = index;
}

void gf_setFlaps(StaticAircraft& ac, std::uint32_t index) {
  if (index == ac.flapsIndex || isRotorcraft(ac)) return;
  if (index >= kFlapsValues.size()) {
    logArrowLine("gf_setFlaps: invalid flaps index");
  } else {
    sendEvent(ac.objectId, kEventFlapsSet, kFlapsValues[index]);
  }
  ac.flapsIndex = index;
}

void setGroundSlots(LiveAircraft& ac) {
  // A helicopter too, for its roll's configuration: it has no roll rules (mv::hasRollRules).
  ac.landingRoll = 1;
  ac.landed = 1;
  ac.derotation = 1;
  ac.descent = 0;
  ac.runwayHeading = ac.position.heading;
  if (!isRotorcraft(ac)) sendEvent(ac.objectId, kEventSpoilersSet, kSpoilersFull);
  if (ac.sizeCategory != Light) setSpoilersAndThrottles(ac.objectId, true, ac.reverseThrust != 0);
  // A helicopter idles with its spoilers in at once, also where it stands from its touchdown on
  // (standing, it would never reach its roll's configuration).
  if (isRotorcraft(ac) && !ac.trackPoints.empty()) landingRollConfiguration(ac);
  const double n = static_cast<double>(ac.groundSlotTicks);
  if (n <= 0.0) {
    logLine(fmt::format("{} ! onGround slots {:.1f}", ac.callsign, n));
    ac.pitchStep = ac.staticPitch;
    ac.bankStep = 0.0;
  } else {
    ac.pitchStep = (ac.staticPitch - ac.position.pitch) / n;
    ac.bankStep = (0.0 - ac.position.bank) / n;
  }
  g_duplicateCheckQueue.push_back(ac.internalId);
}
