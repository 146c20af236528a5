// Making way and parking: the rules by which aircraft on a stand or its neighbours give way to a
// live aircraft that takes the stand, the drive onto the stand and the arrival there, and the
// points an active aircraft is given when its feed has run out.
#include "traffic/parking.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "airports/park_stands.h"
// The current week slot belongs to the application shell above this library (as in spawn.cpp).
#include "shared_state/run_clock.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/timeutil.h"
#include "links/feed.h"
#include "links/sim_queues.h"
#include "traffic/park_airports.h"
#include "traffic/movement.h"
#include "traffic/movement_util.h"
#include "traffic/park_limits.h"
#include "traffic/stand_options.h"
#include "traffic/engine_detail.h"
#include "traffic/stand_search.h"
#include "traffic/traffic_engine.h"

using kvo::AircraftBase;
using kvo::AircraftState;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::Stand;
using kvo::StaticAircraft;
using kvo::TrackPoint;
using kvo::engine::categoryEnabled;
using kvo::engine::endsWithUnderscore;

namespace {

constexpr double kDegToRad = 3.141592653589793 / 180.0;
constexpr double kFeetPerNm = 6076.11549;
constexpr double kSameSpotDeg = 1e-8;

void logIfOn(std::string_view text) {
  if (LOG.value()) logLine(text);
}

LiveAircraft* liveAtStand(std::uint32_t standId) {
  if (standId == 0) return nullptr;
  const auto it = std::find_if(g_liveAircraft.begin(), g_liveAircraft.end(),
                               [standId](const LiveAircraft& a) { return a.standId == standId; });
  return it == g_liveAircraft.end() ? nullptr : &*it;
}

bool parkedOrPushing(const LiveAircraft& a) {
  return a.phase == GroundPhase::Parked || a.phase == GroundPhase::PushingBack;
}

// Two aircraft at two stands overlap when 1.1 x their half spans reach the stands' distance. A
// stand id not in the list has no position and overlaps nothing.
bool overlap(const AircraftBase& a, const AircraftBase& b, std::uint32_t standId, const Stand& stand) {
  const Stand* other = findStandById(standId);
  if (other == nullptr) return false;
  const double d = distanceNm(other->latitude, other->longitude, stand.latitude, stand.longitude);
  return (a.halfSpanNm + b.halfSpanNm) * kvo::kOverlapFactor >= d;
}

// The text without its last character; an empty text stays empty.
std::string_view cut(std::string_view text) {
  if (!text.empty()) text.remove_suffix(1);
  return text;
}

// A landing roll runs on where its points end.
bool rollsOn(const LiveAircraft& a) { return a.landingRoll != 0 && kvo::mv::hasRollRules(a); }

// The speed a predicted point keeps on a landing roll, and on a take-off roll with its climb.
double landingRollSpeed(double kt) {
  if (kt >= 140.0) return 100.0;
  if (kt >= 100.0) return 80.0;
  if (kt >= 80.0) return 60.0;
  if (kt >= 60.0) return 30.0;
  return 20.0;
}
void takeOffRollSpeed(TrackPoint& p) {
  const double kt = p.groundSpeedKt;
  p.verticalSpeed = 0.0;
  if (kt <= 30.0) {
    p.groundSpeedKt = 40.0;
  } else if (kt <= 60.0) {
    p.groundSpeedKt = 80.0;
  } else if (kt <= 100.0) {
    p.groundSpeedKt = 110.0;
  } else if (kt <= 140.0) {
    p.groundSpeedKt = 150.0;
    p.verticalSpeed = 600.0;
  } else if (kt <= 160.0) {
    p.groundSpeedKt = 170.0;
    p.verticalSpeed = 1200.0;
  } else {
    p.groundSpeedKt = 180.0;
    p.verticalSpeed = 2400.0;
  }
}

}  // namespace

bool resolveCallsignConflict(std::uint32_t standId, std::string_view callsign) {
  LiveAircraft* l = liveAtStand(standId);
  if (l == nullptr || l->state != AircraftState::Active ||
      (l->phase != GroundPhase::Parked && l->phase != GroundPhase::PushingBack && l->phase != GroundPhase::PushedBack)) {
    return true;
  }
  const std::string name = standName(standId);
  if (l->callsign == callsign) {
    logIfOn(fmt::format("{:8}: {:8} ac with same callsign {} wants it, remove existing ... ", name, l->callsign, callsign));
    removeAircraftFromSim(*l);
    return true;
  }
  if (cut(callsign) == l->callsign) return false;
  if (callsign == cut(l->callsign) || (endsWithUnderscore(l->callsign) && !endsWithUnderscore(callsign))) {
    logIfOn(fmt::format("{:8}: {:8} ghost, replace by {}", name, l->callsign, callsign));
    removeAircraftFromSim(*l);
    return true;
  }
  // Two ghosts ("_") are weighed like any two aircraft; only a ghost against a real one loses.
  if ((endsWithUnderscore(callsign) && !endsWithUnderscore(l->callsign)) || l->standWatch != 0) return false;
  logIfOn(fmt::format("{:8}: {:8} removed because another live {} wants the stand ...", name, l->callsign, callsign));
  removeAircraftFromSim(*l);
  return true;
}

std::size_t checkAdjacentStands(const std::vector<std::uint32_t>& adjacentIds, const Stand& stand,
                                const AircraftBase& aircraft) {
  for (std::size_t i = 0; i < adjacentIds.size(); ++i) {
    const LiveAircraft* l = liveAtStand(adjacentIds[i]);
    if (l == nullptr || !parkedOrPushing(*l) || l->state != AircraftState::Active || l->callsign == aircraft.callsign) {
      continue;
    }
    if (overlap(*l, aircraft, adjacentIds[i], stand)) return i;
  }
  return adjacentIds.size();
}

void removeAtAdjacentStand(std::uint32_t adjacentId, const AircraftBase& aircraft, const Stand& stand) {
  LiveAircraft* l = liveAtStand(adjacentId);
  if (l == nullptr || !parkedOrPushing(*l) || l->state != AircraftState::Active) return;
  if (!overlap(*l, aircraft, adjacentId, stand)) return;
  logIfOn(fmt::format("{:8}: {:8} removed by parking {} at adjacent and possibly colliding stand {}",
                      standName(adjacentId), l->callsign, aircraft.callsign, stand.name));
  removeAircraftFromSim(*l);
}

void makeWayAtExcludedStand(const AircraftBase& aircraft, std::uint32_t adjacentId, const Stand& stand) {
  const auto t = std::find_if(g_staticAircraft.begin(), g_staticAircraft.end(), [&](const StaticAircraft& s) {
    return s.standId == adjacentId && s.state == AircraftState::Active && overlap(s, aircraft, adjacentId, stand);
  });
  if (t == g_staticAircraft.end()) return;
  logIfOn(fmt::format("{:8}: {:8} makes way for {} parking at excluded stand {}", standName(t->standId), t->callsign,
                      aircraft.callsign, stand.name));
  removeAircraftFromSim(*t);
}

void makeWayForStand(const AircraftBase& aircraft, const Stand& stand) {
  const auto t = std::find_if(g_staticAircraft.begin(), g_staticAircraft.end(),
                              [&stand](const StaticAircraft& s) { return s.standId == stand.id; });
  if (t != g_staticAircraft.end()) {
    const bool same = t->registration == aircraft.registration || t->coupledCallsign1 == aircraft.callsign;
    const std::string text = fmt::format("{:8}: {:8} {} makes way for{} {} {}", stand.name, t->callsign, t->registration,
                                         same ? " the same live version" : "", aircraft.callsign, aircraft.registration);
    if (t->state == AircraftState::Active) {
      logIfOn(text);
      removeAircraftFromSim(*t);
    } else if (t->state == AircraftState::Adding2Sim || t->state == AircraftState::Buffer) {
      // A static aircraft waits in "buffer" until it is active: it is being created as well.
      if (removeFromSpawnQueue(g_queuedCreates, t->internalId)) {
        t->dropped = 1;
        logIfOn("queued " + text);
      } else {
        t->removeRequested = 1;
      }
    }
  }
  std::erase_if(g_staticAircraft, [](const StaticAircraft& s) { return s.dropped != 0; });
  for (std::uint32_t id : stand.adjacentIds) makeWayAtExcludedStand(aircraft, id, stand);
}

void try2Park(LiveAircraft& aircraft, bool wide) {
  if (aircraft.trackPoints.empty()) {
    logArrowLine(fmt::format("{} empty sz?", "try2Park"));
    return;
  }
  const TrackPoint& last = aircraft.trackPoints.back();
  if (std::abs(last.lat - aircraft.lastParkTryLat) <= kSameSpotDeg &&
      std::abs(last.lon - aircraft.lastParkTryLon) <= kSameSpotDeg) {
    return;
  }
  aircraft.lastParkTryLat = last.lat;
  aircraft.lastParkTryLon = last.lon;
  // A scattering feed puts the place where the aircraft stopped up to some times its scatter off
  // where it truly stopped (its standing lines are taken at their first one's place): the stand
  // may lie that much farther.
  const double scatterNm = kvo::mv::kStandingScatters * aircraft.groundScatterM / kvo::kMetresPerNm;
  Stand* stand = findStandForArrival(kvo::LatLon{last.lat, last.lon}, aircraft,
                                     (wide ? kvo::kStandReachNm : kvo::kTryParkNm) + scatterNm, wide);
  if (stand == nullptr || userHoldsStand(*stand)) return;
  LiveAircraft* l = liveAtStand(stand->id);
  if (l != nullptr && l != &aircraft && l->phase == GroundPhase::Parked && l->state == AircraftState::Active) {
    logIfOn(fmt::format("{:8}: {:8} removed, {} wants to park there", stand->name, l->callsign, aircraft.callsign));
    removeAircraftFromSim(*l);
  }
  for (std::uint32_t id : stand->adjacentIds) removeAtAdjacentStand(id, aircraft, *stand);
  makeWayForStand(aircraft, *stand);

  aircraft.standLat = stand->latitude;
  aircraft.standLon = stand->longitude;
  aircraft.standHeading = stand->heading * kDegToRad;
  // The same scatter may have carried the aircraft past the stand's mark: it stops where it is,
  // as it stands, rather than backing onto the mark.
  const kvo::PositionBlock& at = aircraft.position;
  if (!kvo::mv::isRotorcraft(aircraft) &&
      distanceNm(at.lat, at.lon, stand->latitude, stand->longitude) < scatterNm &&
      std::abs(kvo::mv::wrapPi(initialBearing(at.lat, at.lon, stand->latitude, stand->longitude) - at.heading)) >
          kvo::mv::kPi / 2.0) {
    aircraft.standLat = at.lat;
    aircraft.standLon = at.lon;
    aircraft.standHeading = at.heading;
  }
  aircraft.standId = stand->id;
  aircraft.cargoStand = stand->cargo;
  if (aircraft.trackPoints.size() > 1) aircraft.trackPoints.resize(1);
  setPhase(aircraft, GroundPhase::Parking);
  drive2Stand(aircraft, aircraft.standLat, aircraft.standLon, aircraft.standHeading);
}

void arriveAtStand(LiveAircraft& aircraft) {
  Stand* stand = findStandById(aircraft.standId);
  if (stand != nullptr && stand->occupied != 0) {
    // Another aircraft got there first.
    aircraft.standRouteState = 1;
    removeAircraftFromSim(aircraft);
    stand->occupied = 1;
    return;
  }
  if (distanceNm(aircraft.position.lat, aircraft.position.lon, aircraft.standLat, aircraft.standLon) > kvo::kAtStandNm) {
    setPhase(aircraft, GroundPhase::Taxi);
    return;
  }
  setPhase(aircraft, GroundPhase::Parked);
  if (stand != nullptr) stand->occupied = 1;
  aircraft.parkWeekSlot = g_currentWeekSlot.load();
  if (LOG.value() && aircraft.towed != 0) logLine(fmt::format("          towed aircraft {} parks", kvo::aircraftText(aircraft)));
  if (!aircraft.trackPoints.empty()) aircraft.trackPoints.front().stationary = 1;
  aircraft.parkedSince = kvo::utcNow();
  aircraft.lastStandDistanceNm = 0.0;
  aircraft.standLeaveCounter = 0;
  setCargoAttribute(aircraft);
  shutDownAircraft(aircraft);
  logIfOn(fmt::format("{:8}: {:8} arrived at stand", standName(aircraft.standId), aircraft.callsign));
  g_duplicateCheckQueue.push_back(aircraft.internalId);
  if (!aircraft.airline.empty() && aircraft.cargoStand == aircraft.cargo &&
      lt_addStandOption(aircraft.standId, aircraft, aircraft.parkWeekSlot, false)) {
    stampIdSlot(aircraft.parkWeekSlot, aircraft.internalId, true);
  }
  enforceMaxPark(0);
}

void setCargoAttribute(LiveAircraft& aircraft) {
  if (aircraft.cargoStand != 0 || aircraft.cargo == 0) return;
  Stand* stand = findStandById(aircraft.standId);
  if (stand == nullptr || stand->cargo == 0) return;
  stand->cargo = 0;
  stand->cargo_change = 1;
  countStandUpdate();
  logArrowLine(fmt::format("{} stand: {}, cargo attribute set to false, {} parked here", g_parkAirport, stand->name,
                           kvo::aircraftText(aircraft)));
}

bool continueAtTrackEnd(LiveAircraft& aircraft) {
  if (aircraft.trackPoints.empty()) return false;
  const bool parking = aircraft.phase == GroundPhase::Parking;
  if (parking) arriveAtStand(aircraft);
  const bool waits = aircraft.phase == GroundPhase::PushedBack ||
                     (aircraft.phase == GroundPhase::Taxi && aircraft.takeOffRoll == 0 && !rollsOn(aircraft));
  if (!parking && waits) {
    const auto neighbour = std::find_if(g_liveAircraft.begin(), g_liveAircraft.end(), [&](const LiveAircraft& o) {
      return o.onGround != 0 && o.phase == GroundPhase::Taxi && o.state == AircraftState::Active &&
             o.objectId != aircraft.objectId &&
             distanceNm(o.position.lat, o.position.lon, aircraft.position.lat, aircraft.position.lon) <=
                 (aircraft.halfSpanNm + o.halfSpanNm) * 1.2;
    });
    if (neighbour != g_liveAircraft.end()) {
      // Someone is in the way: waiting here would only block it.
      aircraft.holding = 0;
      aircraft.holdingSince = 0;
      return false;
    }
    const kvo::TickCount now = g_trafficTick.load();
    if (aircraft.holding != 0 && (now - aircraft.holdingSince) / 6000 > MAX_HOLDING_MINUTES.value()) return false;
    if (aircraft.holding == 0) aircraft.holdingSince = now;
    aircraft.holding = 1;
    TrackPoint wait = aircraft.trackPoints.front();
    wait.dueTick += 300;
    wait.groundSpeedKt = 0.0;
    wait.stationary = 1;
    aircraft.trackPoints.push_back(wait);
    aircraft.standRouteState = 1;
    return true;
  }
  const std::int32_t counter = aircraft.standRouteState;
  if (counter < 0) return false;
  if (counter == 1) {
    aircraft.standRouteState = -1;
    return false;
  }
  if (counter > 1) {
    extendTrack(aircraft, counter - 1);
    return true;
  }
  if (!categoryEnabled(aircraft.sizeCategory)) return false;
  std::int32_t count = 8;
  if (aircraft.onGround != 0) {
    count = aircraft.phase == GroundPhase::Parked ? 1 : 10;
  } else {
    const kvo::UserAircraftData& user = g_userAircraftSnapshot;
    const bool userKnown = std::abs(user.lat) >= 0.0001 || std::abs(user.lon) >= 0.0001;
    if (userKnown && !(distanceNm(aircraft.position.lat, aircraft.position.lon, user.lat, user.lon) <
                       g_rangeNm.load() - 0.5)) {
      return false;
    }
  }
  extendTrack(aircraft, count);
  return true;
}

void extendTrack(LiveAircraft& aircraft, std::int32_t count) {
  aircraft.standRouteState = count;
  TrackPoint p = aircraft.trackPoints.front();
  const bool onGround = aircraft.onGround != 0;
  const bool parked = aircraft.phase == GroundPhase::Parked;
  const double stepSeconds = onGround ? 3.0 : 8.0;
  if (p.stationary != 0 || parked) {
    p.stationary = 1;
    p.groundSpeedKt = 0.0;
  } else if (!onGround) {
    // Slowing down in the air; on the approach only while more points are to come.
    if (aircraft.descent == 0 || count >= 4) {
      p.groundSpeedKt = std::max(p.groundSpeedKt * (aircraft.descent == 0 ? 0.95 : 0.9), 1.0);
    }
  } else if (rollsOn(aircraft)) {
    p.groundSpeedKt = landingRollSpeed(p.groundSpeedKt);
    p.verticalSpeed = 0.0;
  } else if (aircraft.takeOffRoll != 0) {
    takeOffRollSpeed(p);
  } else {
    p.stationary = 1;
    p.groundSpeedKt = 0.0;
  }
  if (p.groundSpeedKt > 0.0 && p.stationary == 0) {
    const kvo::LatLon to = destinationPoint(p.lat, p.lon, aircraft.position.heading,
                                            stepSeconds * p.groundSpeedKt * kFeetPerNm / 3600.0);
    if (to.lat == p.lat && to.lon == p.lon) p.stationary = 1;
    p.lat = to.lat;
    p.lon = to.lon;
    if (aircraft.descent != 0 && !aircraft.curve.isSet()) {
      p.altFt -= stepSeconds * 10.005;
      p.verticalSpeed = -667.0;
    } else if (aircraft.phase == GroundPhase::TakeOff) {
      p.altFt += stepSeconds * 25.0;
      p.verticalSpeed = 1500.0;
    }
    p.airborne = p.altFt > 0.0 ? 1 : 0;
    if (p.airborne == 0) p.altFt = 0.0;
  }
  // A parked aircraft stays for a week of feed silence, but its stand is offered again: an
  // aircraft really arriving there takes it over (try2Park removes the silent one).
  p.dueTick += 100 * static_cast<kvo::TickCount>(parked ? 604800.0 : stepSeconds);
  if (parked) {
    aircraft.standWatch = 0;
    if (Stand* stand = findStandById(aircraft.standId)) stand->occupied = 0;
  }
  aircraft.trackPoints.push_back(p);
}
