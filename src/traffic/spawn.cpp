// Spawning live aircraft: the per-tick step of every live aircraft, the spawn decision with its
// guards, the preparation of an aircraft for its creation, and the respawn on a changed flight
// identity.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

#include "aircraft/dbase.h"
#include "aircraft/livery_db.h"
#include "aircraft/livery_match.h"
#include "core/geometry.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/user_error.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "platform/win32/win32.h"
#include "shared_state/control_writes.h"
#include "shared_state/main_window.h"
#include "shared_state/run_clock.h"
#include "traffic/engine_detail.h"
#include "traffic/park_airports.h"
#include "traffic/stand_search.h"
#include "traffic/stand_options.h"
#include "traffic/park_limits.h"
#include "traffic/parking.h"
#include "traffic/movement.h"
#include "traffic/traffic_engine.h"

using namespace kvo;
using namespace kvo::engine;

namespace {

constexpr TickCount kLeadTicksAirborne = 100;
constexpr TickCount kLeadTicksGroundMoving = 300;
constexpr std::size_t kMaxAddingStackForBirth = 11;
constexpr double kUserGroundGuardNm = 0.08099352051835854;  // 150 m
constexpr double kTooCloseGroundNm = 500.0 / 1852.0;
constexpr double kFartherMarginNm = 0.1;

LatLon userPosition() { return LatLon{g_userAircraftSnapshot.lat, g_userAircraftSnapshot.lon}; }
LatLon pointPosition(const TrackPoint& p) { return LatLon{p.lat, p.lon}; }
LatLon aircraftPosition(const LiveAircraft& a) { return LatLon{a.position.lat, a.position.lon}; }

bool dropFront(LiveAircraft& ac) {
  ac.trackPoints.pop_front();
  return true;
}

bool mixesAirborneAndGround(const std::deque<TrackPoint>& points) {
  bool airborne = false;
  bool ground = false;
  for (const TrackPoint& p : points) {
    (p.airborne != 0 ? airborne : ground) = true;
    if (airborne && ground) return true;
  }
  return false;
}

// One tick of an active aircraft.
void stepActive(LiveAircraft& ac) {
  if (ac.trackPoints.empty()) {
    logArrowLine(fmt::format("{} stream empty ? {}, hexid:{}, objectid:{}, alt:{:.0f} ft, lalo:{}, TAS:{:.0f}",
                             "updateLiveAc", aircraftText(ac), ac.internalId, ac.objectId, ac.position.altFt,
                             fmt::format("{:.6f},{:.6f}", ac.position.lat, ac.position.lon), ac.position.tasKt));
    removeAircraftFromSim(ac);
    return;
  }
  if (nowTick() >= ac.trackPoints.front().dueTick) {
    nextPosMain(ac);
    fillPositionSpeeds(ac);
  }
  if (ac.state != AircraftState::Active) return;
  if (!ac.trackPoints.empty()) {
    if (ac.trackPoints.front().stationary == 0) {
      curveStep(ac);
    } else {
      standStep(ac);
    }
  }
  if (ac.objectId != 0) {
    g_positionBufferFill->push_back(AiPositionUpdate{ac.position, ac.objectId});
    return;
  }
  logArrowLine(fmt::format("{} objectid=0? hexid: {},cs:{}, reg:{}, aimo:{} sz:{}", "updateLiveAc", ac.internalId,
                           ac.callsign, ac.registration, typeAirlineText(ac), ac.trackPoints.size()));
  removeAircraftFromSim(ac);
}

// Pitch of a new aircraft: slightly nose down on the ground, by the climb or descent rate in the
// air (negative is nose up).
double initialPitch(const TrackPoint& p) {
  if (p.airborne == 0) return 0.6 * kRadiansPerDeg;
  double v = std::clamp(p.verticalSpeed, -3000.0, 2400.0);
  if (v < 0.0) v /= 2.0;
  return (-3.0 - (v / 600.0) * 2.2) * kRadiansPerDeg;
}

// The stand the aircraft has just been put on becomes its first and only point.
void putOnStand(LiveAircraft& ac, const Stand& stand) {
  ac.standLat = stand.latitude;
  ac.standLon = stand.longitude;
  ac.standHeading = stand.heading * kRadiansPerDeg;
  ac.standId = stand.id;
  ac.cargoStand = stand.cargo;
  setPhase(ac, GroundPhase::Parked);
  ac.parkedSince = std::chrono::system_clock::now();
  ac.lastStandDistanceNm = 0.0;
  ac.standLeaveCounter = 0;
  setCargoAttribute(ac);
  ac.trackPoints.resize(1);
  TrackPoint& first = ac.trackPoints.front();
  first.lat = stand.latitude;
  first.lon = stand.longitude;
  first.trackDeg = stand.heading;
  const WeekSlot now = g_currentWeekSlot.load();
  if (lt_addStandOption(stand.id, ac, now, false)) stampIdSlot(now, ac.internalId, true);
  enforceMaxPark(1);
}

// A new flight identity on the feed: the aircraft changes its callsign, or is created anew.
bool respawnActive(LiveAircraft& ac, const FeedRecord& record) {
  const GroundPhase phase = ac.phase;
  const GroundPhase previousPhase = ac.previousPhase;
  const std::string_view title = ac.liveryTitle;
  const bool ok = checkRouteChange(ac, record) && checkRegistrationChange(ac, record);
  if (!GUID_CHANGES.value() && ac.phase == GroundPhase::Birth && phase != GroundPhase::Birth) {
    // A new airline or special livery readies the aircraft for a new creation; without the
    // respawn its object stays as it is and must go on flying (a flying object in the birth
    // phase would take no moving point: it would slide along the ground through its take-off).
    ac.phase = phase;
    ac.previousPhase = previousPhase;
    ac.liveryTitle = title;
  }
  const std::string& newCallsign = record.callsign;
  if (!newCallsign.empty() && newCallsign != ac.callsign && newCallsign != ac.registration) {
    if (!endsWithUnderscore(newCallsign)) {
      // The aircraft itself may be the ghost of the new callsign: it takes the callsign.
      if (ac.callsign != newCallsign + "_") removeGhost(newCallsign);
    } else if (liveOriginalExists(newCallsign)) {
      return false;
    }
    ac.callsign = newCallsign;
    ac.coupledCallsign1 = newCallsign;
    ac.coupledCallsign2.clear();
  } else if (ok) {
    return true;
  }
  if (!GUID_CHANGES.value()) return true;
  if (LOG.value()) logLine(fmt::format("          {} respawns", flightText(ac)));
  liveryRespawn(ac);
  return false;
}

}  // namespace

bool updateLiveAc(LiveAircraft& ac) {
  try {
    if (ac.state == AircraftState::Buffer) {
      decideSpawn(ac);
    } else if (ac.state == AircraftState::Active) {
      stepActive(ac);
    }
  } catch (const UserErrorException&) {
    throw;
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: {} {}, sz:{}, fs:{}, st:{}", "updateLiveAc", e.what(), aircraftText(ac),
                             ac.trackPoints.size(), groundPhaseText(ac.phase), aircraftStateText(ac.state)));
    return ac.finished != 0;
  }
  return ac.finished != 0 || ac.dropped != 0;
}

void decideSpawn(LiveAircraft& ac) {
  if (ac.trackPoints.empty()) {
    ac.finished = 1;
    return;
  }
  const TrackPoint& front = ac.trackPoints.front();
  // A NaN speed counts as moving.
  const bool groundMoving = front.airborne == 0 && !(front.groundSpeedKt == 0.0);
  const TickCount lead = groundMoving ? kLeadTicksGroundMoving : kLeadTicksAirborne;
  if (nowTick() < front.dueTick - lead) return;
  if (ac.trackPoints.size() == 1) {
    ac.finished = 1;
    return;
  }
  if (endsWithUnderscore(ac.callsign) &&
      std::find(g_ghostCallsigns.begin(), g_ghostCallsigns.end(), ac.callsign) != g_ghostCallsigns.end()) {
    ac.finished = 1;
    return;
  }
  if (mixesAirborneAndGround(ac.trackPoints)) {
    dropFront(ac);
    return;
  }
  if (tooCloseToUser(ac)) return;
  if (g_addingStack.size() >= kMaxAddingStackForBirth && ac.phase == GroundPhase::Birth) {
    dropFront(ac);
    return;
  }
  const std::int32_t maxLive = MAX_LIVE_SEL.value();
  if (maxLive == 0) {
    ac.finished = 1;
    return;
  }
  const std::size_t live = activeLiveCount() + g_pendingCreateIds.size() + g_addingStack.size();
  if (live >= static_cast<std::size_t>(std::max(maxLive, 0))) {
    const double d = distanceNm(userPosition(), pointPosition(ac.trackPoints.front()));
    if (removeFartherLiveAircraft(d)) {
      ac.finished = 1;
      return;
    }
  }
  const std::string blocked = BLOCK_CALLSIGN.value();
  if (!blocked.empty() && blocked == ac.callsign) {
    ac.finished = 1;
    return;
  }
  if (!ac.registration.empty()) {
    if (const auto record = findRegcode(ac.registration)) {
      ac.airline = record->airline;
      ac.type = record->type;
      if (!record->operatorCode.empty()) ac.airline = record->operatorCode;
      ac.cargo = record->cargo;
      if (!checkPlaceholder(ac)) ac.callsign = ac.registration;
    }
  }
  if (ac.airline.empty() && !airlineFromCallsign(ac)) ac.airline = "PVT";
  if (!checkPlaceholder(ac) || g_noMatchTitles.contains(joinPrefixAndLastField(ac))) {
    ac.finished = 1;
    return;
  }
  if (!endsWithUnderscore(ac.callsign) || !liveOriginalExists(ac.callsign)) {
    spawnLiveAc(ac);
    return;
  }
  ac.finished = 1;
}

bool tooCloseToUser(LiveAircraft& ac) {
  const UserAircraftData& user = g_userAircraftSnapshot;
  const TrackPoint& front = ac.trackPoints.front();
  const LatLon u = userPosition();
  if (g_userOnGround.load().value_or(false)) {
    if (ac.tooClose != 0) {
      if (user.groundSpeedKt > 8.0) return dropFront(ac);
      if (front.airborne == 0 &&
          (front.groundSpeedKt > 8.0 || distanceNm(u, pointPosition(front)) < kTooCloseGroundNm)) {
        return dropFront(ac);
      }
    }
    if (front.airborne != 0 || !COLLISION_USER_GND.value()) return false;
    if (distanceNm(u, pointPosition(front)) < kUserGroundGuardNm) return dropFront(ac);
    return false;
  }
  if (!COLLISION_USER_AIR.value()) return false;
  const double d = distanceNm(u, pointPosition(front));
  if (front.airborne != 0 && d <= 6.0 && std::abs(front.altFt - user.altFt) < 3000.0) {
    // The lateral miss distance of the aircraft's course past the user.
    const double bearingDeg = initialBearing(u, pointPosition(front)) / kRadiansPerDeg;
    const double r = wrap180(ac.referenceHeading / kRadiansPerDeg - bearingDeg);
    if (d * kFeetPerNm * std::sin(std::abs(r) * kRadiansPerDeg) <= 4000.0) {
      ac.tooClose = 1;
      return dropFront(ac);
    }
  } else if (front.airborne == 0 && d <= 1.5 && user.aglFt < 1000.0) {
    // A point on the ground near the user's line of flight (approach or departure).
    const double r = wrapPi(initialBearing(u, pointPosition(front)) - user.heading);
    if (d * kFeetPerNm * std::sin(std::abs(r)) <= 500.0) {
      ac.tooClose = 1;
      return dropFront(ac);
    }
  } else if (ac.tooClose != 0) {
    return dropFront(ac);
  }
  return false;
}

bool removeFartherLiveAircraft(double distance) {
  const LatLon u = userPosition();
  double farthest = distance;
  LiveAircraft* candidate = nullptr;
  for (LiveAircraft& a : g_liveAircraft) {
    if (a.state != AircraftState::Active) continue;
    const double d = distanceNm(u, aircraftPosition(a));
    if (d > farthest + kFartherMarginNm) {
      candidate = &a;
      farthest = d;
    }
  }
  if (candidate == nullptr) return true;
  removeAircraftFromSim(*candidate);
  return false;
}

void spawnLiveAc(LiveAircraft& ac) {
  auto& points = ac.trackPoints;
  if (points.size() < 2) {
    logArrowLine(fmt::format("{} sz:{}", "spawnLiveAc", points.size()));
    return;
  }
  if (points[1].stationary != 0) {
    points[0].stationary = 1;
    points[0].groundSpeedKt = 0.0;
    points[1].groundSpeedKt = 0.0;
    if (points.size() > 2 && points[2].stationary != 0) points[2].groundSpeedKt = 0.0;
  } else {
    points[0].stationary = 0;
  }

  if (ac.phase == GroundPhase::Birth) {
    if (ac.liveryTitle.empty()) {
      const std::string_view remembered = liveryTitleForRequest(ac.internalId);
      if (!remembered.empty()) {
        ac.liveryTitle = remembered;
      } else {
        matchLiveAcLivery(ac);
        if (ac.liveryTitle.empty()) {
          if (!ac.registration.empty()) g_noMatchTitles.insert(joinPrefixAndLastField(ac));
          ac.finished = 1;
          return;
        }
        rememberLiveryForRequest(ac.internalId, ac.liveryTitle);
      }
    }
    if (points.front().airborne != 0) {
      setPhase(ac, GroundPhase::Flying);
    } else if (const auto stand = claimStandForArrival(ac)) {
      const std::deque<TrackPoint> heard = points;
      putOnStand(ac, *stand);
      watchStandLines(ac, heard);
    } else {
      setPhase(ac, GroundPhase::Taxi);
    }
  }
  if (ac.finished != 0) return;

  g_duplicateCheckQueue.push_back(ac.internalId);
  const TrackPoint& first = points.front();
  PositionBlock& p = ac.position;
  p.lat = first.lat;
  p.lon = first.lon;
  p.altFt = first.altFt;
  // The block carries feet per second, the feed feet per minute.
  p.verticalSpeedFps = first.verticalSpeed / 60.0;
  p.tasKt = first.tasKt;
  p.bank = first.roll.value_or(0.0);
  p.pitch = initialPitch(first);
  double heading = 0.0;
  if (ac.hasHeadingOverride != 0) {
    heading = ac.headingOverride;
  } else if (ac.phase == GroundPhase::Parked) {
    heading = ac.standHeading;
  } else if (points.size() > 1 && points[1].stationary != 0) {
    heading = points[1].trackDeg * kRadiansPerDeg;
  } else if (points.size() > 1) {
    heading = initialBearing(pointPosition(first), pointPosition(points[1]));
  }
  p.heading = wrap2Pi(heading);
  ac.referenceHeading = first.airborne == 0 ? p.heading : 0.0;
  ac.tooClose = 0;
  ac.state = AircraftState::Adding2Sim;
  g_pendingCreateIds.push_back(ac.internalId);
  if (!endsWithUnderscore(ac.callsign)) removeGhost(ac.callsign);
}

bool respawnCheck(LiveAircraft& ac, const FeedRecord& record) {
  if (ac.descent != 0 || ac.takeOffRoll != 0) return true;
  if (ac.state == AircraftState::Buffer) {
    updateBufferedIdentity(ac, record);
    return true;
  }
  if (ac.state == AircraftState::Active && ac.phase != GroundPhase::PushingBack && ac.standRouteState < 1) {
    return respawnActive(ac, record);
  }
  return true;
}

void liveryRespawn(LiveAircraft& ac) {
  try {
    // Only an object that is flying can be taken out and created again.
    if (ac.state != AircraftState::Active || ac.trackPoints.empty()) return;
    TrackPoint& front = ac.trackPoints.front();
    TrackPoint point = front;
    if (ac.phase != GroundPhase::Parked) {
      point.lat = ac.position.lat;
      point.lon = ac.position.lon;
      point.altFt = ac.position.altFt;
      point.roll = ac.position.bank;
      if (std::abs(front.lat - ac.position.lat) <= 1e-8 && std::abs(front.lon - ac.position.lon) <= 1e-8) {
        front.stationary = 1;
      }
    } else {
      ac.trackPoints.resize(1);
      TrackPoint& only = ac.trackPoints.front();
      only.stationary = 1;
      only.trackDeg = ac.position.heading / kRadiansPerDeg;
      point = only;
      point.stationary = 1;
    }
    point.dueTick = nowTick() + 1;
    ac.trackPoints.push_front(point);
    ac.state = AircraftState::LiveryRespawn;
    ac.headingOverride = ac.position.heading;
    ac.hasHeadingOverride = 1;

    if (ac.objectId != 0 && ac.objectId == g_selectedObjectId) {
      g_selectedObjectId = 0;
      g_mainWindow.setDisplayText(&MainWindow::objectIdText, {}, g_panelRect);
      CALLSIGN_2_OBJECTID.set(ac.callsign);
      showValueInControl(CALLSIGN_2_OBJECTID);
    }
    if (ac.objectId == 0) {
      logArrowLine(fmt::format("{} removing act {} with objectid=0 ?", "liveryRespawn", aircraftText(ac)));
      // No object will be reported removed: the aircraft is spawned again from here.
      ac.state = AircraftState::Buffer;
      ac.throttleIndex = kNoThrottleSent;
      ac.flapsIndex = kNoFlapsSent;
      return;
    }
    g_removeQueue.push_back(ac.objectId);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: {}", "liveryRespawn", e.what()));
  }
}

bool liveOriginalExists(std::string_view callsign) {
  if (!endsWithUnderscore(callsign)) return false;
  const std::string_view original = callsign.substr(0, callsign.size() - 1);
  return std::any_of(g_liveAircraft.begin(), g_liveAircraft.end(), [original](const LiveAircraft& a) {
    return a.state != AircraftState::RemovingFromSim && a.callsign == original;
  });
}

void updateRoute(LiveAircraft& ac, const FeedRecord& record) {
  if (!record.destination.empty() && record.destination != ac.destination) ac.destination = record.destination;
  if (!record.origin.empty() && record.origin != ac.origin) ac.origin = record.origin;
}

void updateBufferedIdentity(LiveAircraft& ac, const FeedRecord& record) {
  updateRoute(ac, record);
  if (!record.callsign.empty() && record.callsign != ac.callsign) ac.callsign = record.callsign;
  if (!record.registration.empty() && record.registration != ac.registration) ac.registration = record.registration;
}

bool checkRouteChange(LiveAircraft& ac, const FeedRecord& record) {
  bool filled = false;
  if (ac.origin.empty() && !record.origin.empty()) {
    ac.origin = record.origin;
    filled = true;
  }
  if (ac.destination.empty() && !record.destination.empty()) {
    ac.destination = record.destination;
    filled = true;
  }
  const bool newLeg = !record.origin.empty() && !record.destination.empty() && ac.origin != record.origin &&
                      ac.destination != record.destination;
  if (!newLeg) return !filled;
  // The return leg to the park airport before the feed has caught up: not a new flight yet.
  if (!g_parkAirportIata.empty() && ac.origin == g_parkAirportIata && record.destination == ac.origin) return !filled;
  ac.origin = record.origin;
  ac.destination = record.destination;
  if (ac.onGround != 0 && ac.phase != GroundPhase::Parking && ac.phase != GroundPhase::Parked) {
    setPhase(ac, GroundPhase::Taxi);
    ac.referenceHeading = ac.position.heading;
  }
  return false;
}

bool checkRegistrationChange(LiveAircraft& ac, const FeedRecord& record) {
  if (record.registration.empty()) return true;
  const bool registrationIsChangingCallsign = ac.registration == ac.callsign && !record.callsign.empty() &&
                                              record.callsign != ac.callsign;
  bool result = true;
  if (!ac.registration.empty() && !registrationIsChangingCallsign) {
    if (record.registration != ac.registration && checkAirlineChange(ac, record)) result = false;
  } else {
    result = !checkSpecialLiveryChange(ac, record);
  }
  ac.registration = record.registration;
  return result;
}

bool checkSpecialLiveryChange(LiveAircraft& ac, const FeedRecord& record) {
  const std::string_view special = g_specialLiveries.titleFor(record.registration);
  if (!special.empty()) {
    if (special == ac.liveryTitle) return false;
    if (const auto known = findRegcode(record.registration)) {
      ac.airline = known->airline;
      ac.type = known->type;
    }
    forgetLivery(ac);
    return true;
  }
  if (record.registration.empty() || record.registration == ac.registration) return false;
  const auto known = findRegcode(record.registration);
  if (!known || (known->airline == ac.airline && known->type == ac.type)) return false;
  if (!known->operatorCode.empty() && known->operatorCode == ac.airline) return false;
  ac.airline = known->operatorCode.empty() ? known->airline : known->operatorCode;
  ac.type = known->type;
  forgetLivery(ac);
  return true;
}

bool checkAirlineChange(LiveAircraft& ac, const FeedRecord& record) {
  const auto known = findRegcode(record.registration);
  if (!known || (known->airline == ac.airline && known->type == ac.type)) return false;
  if (!known->operatorCode.empty() && known->operatorCode == ac.airline) return false;
  const auto code = airlineCodeOfCallsign(record.callsign);
  if (!code || !(*code == known->airline || (!known->operatorCode.empty() && *code == known->operatorCode))) return false;
  ac.airline = known->operatorCode.empty() ? known->airline : known->operatorCode;
  ac.type = known->type;
  forgetLivery(ac);
  return true;
}

void forgetLivery(LiveAircraft& ac) {
  forgetLiveryForRequest(ac.internalId);
  ac.liveryTitle = {};
  setPhase(ac, GroundPhase::Birth);
}

void clearSpawnMap() { clearLiveryRequests(); }
