// Every road out of the simulator: removeAircraftFromSim and the rules that call it for
// ghosts, duplicates, static aircraft in the way and the live maximum; the callsign list.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "airports/park_stands.h"
#include "core/files.h"
#include "core/geometry.h"
#include "core/log.h"
#include "core/parameters.h"
#include "platform/win32/win32.h"
#include "shared_state/control_writes.h"
#include "shared_state/main_window.h"
#include "traffic/engine_detail.h"
#include "traffic/traffic_engine.h"

using namespace kvo;
using namespace kvo::engine;

namespace {

// Takes the creation of a spawned aircraft back before its request was even built.
bool takeBackPendingCreate(std::uint32_t internalId) {
  const auto it = std::find(g_pendingCreateIds.begin(), g_pendingCreateIds.end(), internalId);
  if (it == g_pendingCreateIds.end()) return false;
  g_pendingCreateIds.erase(it);
  return true;
}

// The creation of an aircraft that is not yet active is taken back when it has not gone to the
// simulator; otherwise the removal follows its activation. Live creations wait in g_addingStack,
// static ones in g_queuedCreates: each is looked for in its own queue only, as a live aircraft's
// id (its hex id) may equal a static one's (1..9999).
void takeBackCreation(StaticAircraft& ac) {
  bool taken = false;
  if (ac.isLive()) {
    taken = takeBackPendingCreate(ac.internalId);
    taken = removeFromSpawnQueue(g_addingStack, ac.internalId) || taken;
  } else {
    taken = removeFromSpawnQueue(g_queuedCreates, ac.internalId);
  }
  if (taken) {
    ac.dropped = 1;
  } else {
    ac.removeRequested = 1;
  }
}

void clearSelection() {
  g_selectedObjectId = 0;
  g_mainWindow.setDisplayText(&MainWindow::objectIdText, {}, g_panelRect);
  g_mainWindow.invalidateAll();
  if (!CALLSIGN_2_OBJECTID.empty()) {
    CALLSIGN_2_OBJECTID.set({});
    showValueInControl(CALLSIGN_2_OBJECTID);
  }
}

std::string_view groundText(bool onGround) { return onGround ? "on ground" : "airborne"; }

}  // namespace

void removeAircraftFromSim(StaticAircraft& ac) {
  const bool live = ac.isLive();
  if (ac.state == AircraftState::Buffer && live) {
    ac.finished = 1;
    return;
  }
  if (ac.removeRequested != 0) return;
  // A static aircraft created by older code may still wait in state "buffer": the same as
  // "adding2sim".
  if (ac.state == AircraftState::Adding2Sim || ac.state == AircraftState::Buffer) {
    takeBackCreation(ac);
    return;
  }
  // Already on its way out: its object is queued once only.
  if (ac.state == AircraftState::RemovingFromSim) return;
  if (live) freeStand(ac.standId);
  // A respawn has queued the object's removal already.
  const bool removalQueued = ac.state == AircraftState::LiveryRespawn;
  ac.state = AircraftState::RemovingFromSim;
  if (live && ac.objectId != 0 && ac.objectId == g_selectedObjectId) clearSelection();
  if (removalQueued) return;
  if (ac.objectId != 0) {
    g_removeQueue.push_back(ac.objectId);
    return;
  }
  logArrowLine(fmt::format("{} removing act {}, with objectid=0 ?", "removeAircraftFromSim", aircraftText(ac)));
  // No removal will ever be reported for it: the record goes at the end of the tick.
  if (live) {
    ac.finished = 1;
  } else {
    ac.dropped = 1;
  }
}

bool removeFromSpawnQueue(std::deque<CreateRequest>& queue, std::uint32_t internalId) {
  const auto before = queue.size();
  std::erase_if(queue, [internalId](const CreateRequest& r) { return r.internalId == internalId; });
  return queue.size() != before;
}

void removeGhost(std::string_view callsign) {
  const std::string ghostCallsign = std::string(callsign) + "_";
  const auto ghost = std::find_if(g_liveAircraft.begin(), g_liveAircraft.end(), [&](const LiveAircraft& a) {
    return a.callsign == ghostCallsign && a.state != AircraftState::RemovingFromSim;
  });
  if (ghost == g_liveAircraft.end()) return;
  if (LOG.value()) {
    if (ghost->phase == GroundPhase::Parked) {
      logLine(fmt::format("{:8}: {:8} is a ghost and will be removed, continue with {}", standName(ghost->standId),
                          ghostCallsign, callsign));
    } else {
      logLine(fmt::format("          {:8} is a ghost and will be removed, continue with {}", ghostCallsign, callsign));
    }
  }
  if (std::find(g_ghostCallsigns.begin(), g_ghostCallsigns.end(), ghostCallsign) == g_ghostCallsigns.end()) {
    g_ghostCallsigns.push_back(ghostCallsign);
  }
  removeAircraftFromSim(*ghost);
}

void removeSameRegcodeOrCallsign(LiveAircraft& ac, bool onGround) {
  if (ac.callsign.empty()) return;
  const std::string plain = endsWithUnderscore(ac.callsign) ? ac.callsign.substr(0, ac.callsign.size() - 1) : std::string();
  auto namedBy = [](const StaticAircraft& s, const std::string& callsign) {
    return !callsign.empty() && (callsign == s.coupledCallsign1 || callsign == s.coupledCallsign2);
  };
  for (StaticAircraft& s : g_staticAircraft) {
    if (s.state != AircraftState::Active) continue;
    if (!s.registration.empty() && s.registration == ac.registration) {
      if (LOG.value()) {
        logLine(fmt::format("{:8}: {:8} {} removed, new {} '{}' has same regcode {}", standName(s.standId), s.callsign,
                            s.registration, groundText(onGround), ac.callsign, ac.registration));
      }
      removeAircraftFromSim(s);
      return;
    }
    if (namedBy(s, ac.callsign) || namedBy(s, ac.coupledCallsign2) || namedBy(s, plain)) {
      if (LOG.value()) {
        logLine(fmt::format("{:8}: {:8} '{} {}' removed, new {} {} '{}' '{}' has {} callsign", standName(s.standId),
                            s.callsign, s.coupledCallsign1, s.coupledCallsign2, groundText(onGround), ac.callsign,
                            ac.coupledCallsign1, ac.coupledCallsign2,
                            s.coupledCallsign1 == ac.callsign ? "same" : "coupled"));
      }
      removeAircraftFromSim(s);
      return;
    }
  }
}

void avoidCollisionWithStatic(LiveAircraft& ac) {
  if (ac.landingRoll != 0 || ac.takeOffRoll != 0) return;
  // The position of this check (the movement keeps it as the previous position).
  ac.previousLat = ac.position.lat;
  ac.previousLon = ac.position.lon;
  const LatLon here{ac.position.lat, ac.position.lon};
  for (StaticAircraft& s : g_staticAircraft) {
    if (s.state != AircraftState::Active || s.callsign == ac.callsign) continue;
    if (distanceNm(LatLon{s.standLat, s.standLon}, here) > 1.1 * (s.halfSpanNm + ac.halfSpanNm)) continue;
    if (LOG.value()) {
      logLine(fmt::format("{:8}: {:8} removed for collision avoidance with static {}", standName(s.standId),
                          s.callsign, ac.callsign));
    }
    removeAircraftFromSim(s);
    return;
  }
}

void trimLiveAircraft() {
  const std::int64_t excess =
      static_cast<std::int64_t>(activeLiveCount()) - static_cast<std::int64_t>(MAX_LIVE_SEL.value());
  for (std::int64_t i = 0; i < excess; ++i) {
    if (removeFartherLiveAircraft(-1.0)) break;
  }
}

void listParkedAircraft() {
  std::vector<std::string> lines;
  for (const LiveAircraft& a : g_liveAircraft) {
    if (a.state != AircraftState::Active) continue;
    const std::string parked = a.phase == GroundPhase::Parked ? fmt::format("Parked at {}", standName(a.standId)) : "";
    lines.push_back(fmt::format("{} {:9} {} {}: {} {}", a.onGround != 0 ? "Gnd" : "Air", a.callsign, a.airline, a.type,
                                a.objectId, parked));
  }
  std::sort(lines.begin(), lines.end());
  if (!writeLines(lines, g_callsignListFile)) {
    logArrowLine(fmt::format("{}: {} could not be written", "listParkedAircraft", g_callsignListFile.string()));
  }
}

void dropLiveTraffic() {
  // The removal takes a creation back wherever it waits (matched by internal id, as two
  // aircraft may share a callsign) or marks it for removal once it exists; taken-back records
  // leave the list at the end of the tick, keeping the order of the rest.
  for (auto& aircraft : g_liveAircraft) {
    if (aircraft.state == AircraftState::Active ||
        (aircraft.state == AircraftState::Adding2Sim && aircraft.removeRequested == 0)) {
      removeAircraftFromSim(aircraft);
    }
  }
}

std::string standName(std::uint32_t standId) {
  if (standId == 0) return "sid==0?";
  for (const Stand& s : g_parkStands) {
    if (s.id == standId) return s.name;
  }
  return "unknown";
}

void freeStand(std::uint32_t standId) {
  if (standId == 0) return;
  for (Stand& s : g_parkStands) {
    if (s.id == standId) {
      s.occupied = 0;
      return;
    }
  }
}
