// Airborne movement: the schedule that keeps each aircraft on its track points' due ticks, the
// steps toward the next point, flight and configuration in the air, the per-tick integration
// into the position block and the flare.
#include "traffic/movement.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "core/log.h"
#include "links/qnh_reader.h"
#include "links/sim_ids.h"
#include "links/sim_queues.h"
#include "traffic/ground_detail.h"
#include "traffic/park_airports.h"
#include "traffic/parking.h"
#include "traffic/stand_search.h"
#include "traffic/traffic_engine.h"
#include "traffic/movement_util.h"

using namespace kvo::mv;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace kvo {

namespace {

constexpr std::array<std::pair<SizeCategory, MovementLimits>, 6> kMovementLimits{{
    // bank change per tick, bank, pitch change per tick (all degrees), take-off speed (kt)
    {Light, {0.035 * kDeg, 40.0 * kDeg, 0.01 * kDeg, 90.0}},
    {Buzjets, {0.0275 * kDeg, 35.0 * kDeg, 0.0085 * kDeg, 110.0}},
    {Large, {0.02 * kDeg, 30.0 * kDeg, 0.0075 * kDeg, 140.0}},
    {Heavy, {0.015 * kDeg, 20.0 * kDeg, 0.005 * kDeg, 150.0}},
    {HighPerf, {0.1 * kDeg, 90.0 * kDeg, 0.03 * kDeg, 220.0}},
    {Rotorcraft, {0.06 * kDeg, 75.0 * kDeg, 0.03 * kDeg, 0.0}},
}};

}  // namespace

const MovementLimits& movementLimits(SizeCategory category) {
  for (const auto& entry : kMovementLimits) {
    if (entry.first == category) return entry.second;
  }
  throw std::out_of_range("invalid unordered_map<K, T> key");
}

}  // namespace kvo

// ---- schedule helpers ------------------------------------------------------------------------

std::int32_t travelTicks(double distanceNm, double speedKt) {
  const double ticks = std::round(distanceNm * kvo::kTicksPerHour / speedKt);
  // A NaN here (a position or speed that is not a number) would otherwise reach the narrowing
  // to 32 bits and fail the same way on every tick.
  if (std::isnan(ticks)) throw kvo::MovementError("travel time is not a number");
  if (ticks < kvo::kMinTravelTicks) return kvo::kMinTravelTicks;
  if (ticks > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(ticks);
}

void clampDueTick(LiveAircraft& ac, std::int64_t ticks) {
  TrackPoint& second = ac.trackPoints.at(1);
  const kvo::TickCount now = nowTick();
  kvo::TickCount wished = now + std::max<std::int64_t>(ticks, kvo::kMinTravelTicks);
  if (ac.standRouteState < 1) {
    if (wished > second.dueTick + ac.lateTolerance) {
      wished = second.dueTick + ac.lateTolerance;
    } else {
      wished = std::max(wished, second.dueTick - ac.earlyTolerance);
    }
  }
  second.dueTick = std::max(wished, now);
}

std::int32_t ticksToSecondPoint(const LiveAircraft& ac) {
  const kvo::TickCount left = ac.trackPoints.at(1).dueTick - nowTick();
  if (left < kvo::kMinTravelTicks) return kvo::kMinTravelTicks;
  if (left > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(left);
}

void decayTolerances(LiveAircraft& ac) {
  auto decay = [](std::int32_t& t) {
    if (t > kvo::kInitialTolerance) t = std::max(t - 100, kvo::kInitialTolerance);
  };
  decay(ac.earlyTolerance);
  decay(ac.lateTolerance);
}

void setRouteTolerances(LiveAircraft& ac) {
  ac.lateTolerance = ac.takeOffRoll != 0 ? 5000 : 3000;
  ac.earlyTolerance = 3000;
}

void setPhase(LiveAircraft& ac, GroundPhase phase) {
  if (ac.phase == phase) return;
  ac.previousPhase = ac.phase;
  ac.phase = phase;
}

void forgetStand(LiveAircraft& ac) {
  ac.standLat = 0.0;
  ac.standLon = 0.0;
  ac.standHeading = 0.0;
  ac.standId = 0;
  ac.cargoStand = 0;
}

// ---- client events ---------------------------------------------------------------------------

void setGear(const LiveAircraft& ac, bool down) {
  if (isRotorcraft(ac)) return;
  queueClientEvent(kvo::ClientEventRequest{ac.objectId, kvo::kEventGearSet, down ? 1u : 0u});
}

void setLights(const LiveAircraft& ac, const std::array<std::uint32_t, 7>& values) {
  queueLightEvents(ac.objectId, values);
}

// ---- airborne movement -----------------------------------------------------------------------

double segmentSpeed(const LiveAircraft& ac) {
  const TrackPoint& first = ac.trackPoints.at(0);
  const TrackPoint& second = ac.trackPoints.at(1);
  if (first.groundSpeedKt == 0.0 && second.groundSpeedKt == 0.0) {
    // A move the feed did not show, at the pace of the due ticks; no faster than the stand speed:
    // the standing lines handed on after a push-back were due a tick after the aircraft's own
    // place 20 m off, and it jumped there.
    const double ticks = static_cast<double>(std::max<kvo::TickCount>(second.dueTick - first.dueTick, 25));
    const double pace = std::max(pointDistanceNm(first, second) * kvo::kTicksPerHour / ticks, 1.0);
    return ac.standSpeedKt > 0.0 ? std::min(pace, std::max(ac.standSpeedKt, 1.0)) : pace;
  }
  return (first.groundSpeedKt + second.groundSpeedKt) / 2.0;
}

double headingChangeAfterNextPoint(const LiveAircraft& ac) {
  if (ac.trackPoints.size() < 3) return 0.0;
  const TrackPoint& second = ac.trackPoints[1];
  const TrackPoint& third = ac.trackPoints[2];
  return wrapPi(initialBearing(second.lat, second.lon, third.lat, third.lon) - ac.position.heading);
}

void turnLimitsForCategory(LiveAircraft& ac, double headingChange, std::int32_t ticks) {
  const kvo::MovementLimits& lim = kvo::movementLimits(ac.sizeCategory);
  const double target = -std::clamp(headingChange, -lim.maxBank, lim.maxBank);
  const double n = std::max<std::int32_t>(ticks, 1);
  ac.bankStep = std::clamp((target - ac.position.bank) / n, -lim.maxBankChangePerTick, lim.maxBankChangePerTick);
}

void climbRateToNextPoint(LiveAircraft& ac) {
  const TrackPoint& second = ac.trackPoints.at(1);
  if (second.altFt > ac.position.altFt) {
    ac.verticalStep = std::min((second.altFt - ac.position.altFt) / ticksToSecondPoint(ac), ac.climbStep);
  } else {
    ac.verticalStep = 0.0;
  }
}

double approachVerticalSpeed(const LiveAircraft& ac) {
  if (ac.aglFt <= 100.0) return -600.0;
  const double mean = (ac.trackPoints.at(0).verticalSpeed + ac.trackPoints.at(1).verticalSpeed) / 2.0;
  return std::min(mean - (g_qnh.load() - 1013) * 6.0, -601.0);
}

namespace {

// How far ahead the climb toward the feed's altitudes is taken.
constexpr kvo::TickCount kSteadyClimbTicks = 1000;

// The climb per tick toward the mean of the altitudes of the airborne points due within the next
// ten seconds (at least the next point), reached at the mean of their due ticks.
double steadyClimbRate(const LiveAircraft& ac) {
  const kvo::TickCount now = nowTick();
  double altitudes = 0.0;
  double ticks = 0.0;
  double count = 0.0;
  for (std::size_t i = 1; i < ac.trackPoints.size(); ++i) {
    const TrackPoint& p = ac.trackPoints[i];
    if (p.airborne == 0 || (i > 1 && p.dueTick - now > kSteadyClimbTicks)) break;
    altitudes += p.altFt;
    ticks += static_cast<double>(std::max<kvo::TickCount>(p.dueTick - now, kvo::kMinTravelTicks));
    count += 1.0;
  }
  if (count == 0.0) return 0.0;
  return (altitudes / count - ac.position.altFt) / (ticks / count);
}

// The descent speed goes into the point being approached and the display, and sets the step.
void descendAt(LiveAircraft& ac, double speedFpm) {
  ac.trackPoints.at(1).verticalSpeed = speedFpm;
  ac.displayVerticalSpeed = speedFpm;
  ac.verticalStep = speedFpm / 6000.0;
}

}  // namespace

bool retimeToAirbornePoint(LiveAircraft& ac, std::size_t index) {
  if (index < 2 || ac.trackPoints.size() < index || ac.trackPoints[index - 1].airborne == 0) return false;
  for (std::size_t i = 0; i + 2 < index && ac.trackPoints.size() >= 3; ++i) {
    ac.trackPoints.erase(ac.trackPoints.begin() + 1);
  }
  const TrackPoint& first = ac.trackPoints[0];
  const TrackPoint& second = ac.trackPoints[1];
  clampDueTick(ac, travelTicks(pointDistanceNm(first, second), segmentSpeed(ac)));
  climbRateToNextPoint(ac);
  return true;
}

void verticalRateOnGroundPoints(LiveAircraft& ac) {
  double sum = 0.0;
  for (const TrackPoint& p : ac.trackPoints) sum += p.verticalSpeed;
  if (ac.descent == 0 && sum > 100.0) {
    const std::size_t last = std::min<std::size_t>(ac.trackPoints.size() - 1, 10);
    for (std::size_t k = 3; k <= last; ++k) {
      if (retimeToAirbornePoint(ac, k)) {
        setGear(ac, true);
        return;
      }
    }
    descendAt(ac, std::max(ac.trackPoints.at(1).verticalSpeed, 601.0));
    setGear(ac, true);
    return;
  }
  descendAt(ac, approachVerticalSpeed(ac));
  setGear(ac, true);
}

void configureLowAltitude(LiveAircraft& ac) {
  decayTolerances(ac);
  queueCabinLightsEvent(ac.objectId, 1);
  ac.takeOffRoll = 0;
  ac.descent = 0;
  const bool rotor = isRotorcraft(ac);
  const double vs = ac.trackPoints.at(0).verticalSpeed;
  if (vs <= -250.0 && ac.throttleIndex == 3) {
    setThrottle(ac, rotor ? 4 : 2);
  } else if (vs > 400.0 && ac.throttleIndex == 4) {
    setThrottle(ac, rotor ? 4 : 3);
  }
  if (ac.aglFt >= 2400.0) {
    setGear(ac, false);
    gf_setFlaps(ac, 0);
  } else if (vs <= 100.0) {
    if (ac.aglFt < 2000.0) {
      if (ac.flapsIndex == 0) {
        gf_setFlaps(ac, 1);
      } else if (ac.flapsIndex == 1) {
        gf_setFlaps(ac, 2);
      }
    } else if (ac.flapsIndex == 0) {
      gf_setFlaps(ac, 1);
    }
  }
}

void configureApproach(LiveAircraft& ac) {
  queueCabinLightsEvent(ac.objectId, 0);
  const bool near = parkAirportSet() &&
                    distanceNm(ac.position.lat, ac.position.lon, g_parkAirportLat, g_parkAirportLon) <= 10.0;
  const double vs = ac.trackPoints.at(0).verticalSpeed;
  const bool rotor = isRotorcraft(ac);
  if (vs > -250.0) {
    if (vs <= 600.0 && (ac.descent == 0 || near)) return;
    if (ac.goAroundDone != 0) return;
    // A climb-out from the approach: once.
    decayTolerances(ac);
    setThrottle(ac, 4);
    setGear(ac, false);
    gf_setFlaps(ac, 0);
    ac.goAroundDone = 1;
    ac.landingStage = 0;
    ac.descent = 0;
    return;
  }
  if (ac.descent != 0 || !near) return;
  setThrottle(ac, rotor ? 4 : 1);
  gf_setFlaps(ac, 3);
  setGear(ac, true);
  g_duplicateCheckQueue.push_back(ac.internalId);
  ac.descent = 1;
  ac.goAroundDone = 0;
  forgetStand(ac);
  setRouteTolerances(ac);
  ac.takeOffCounter = 1;
}

void airborneConfiguration(LiveAircraft& ac) {
  if (ac.phase != GroundPhase::TakeOff && ac.phase != GroundPhase::Flying) setPhase(ac, GroundPhase::Flying);
  TrackPoint& first = ac.trackPoints.at(0);
  TrackPoint& second = ac.trackPoints.at(1);
  ac.displayTasKt = second.tasKt;
  ac.displayVerticalSpeed = second.verticalSpeed;
  const std::int32_t ticks = ticksToSecondPoint(ac);

  if (ac.landingStage == 0) {
    if (first.airborne == 0 && second.airborne == 0) {
      verticalRateOnGroundPoints(ac);
    } else if (first.airborne == 0) {
      climbRateToNextPoint(ac);
    } else if (second.airborne == 0) {
      const std::int32_t qnh = g_qnh.load();
      if (qnh > 1013 || !parkAirportSet()) {
        descendAt(ac, qnh >= 1014 ? approachVerticalSpeed(ac) : -601.0);
      } else {
        ac.verticalStep = (g_parkAirportElevation - ac.position.altFt) / ticks;
      }
      setGear(ac, true);
    } else if (ac.descent == 0 && isRotorcraft(ac)) {
      // A helicopter's climb is taken over the feed's next seconds: following each of its scattered
      // altitudes it would bob up and down every second. Low down it may fly level: no floor.
      ac.verticalStep = std::min(steadyClimbRate(ac), ac.climbStep);
    } else if (ac.descent == 0) {
      const double r = (second.altFt - ac.position.altFt) / ticks;
      if (ac.aglFt > 1000.0) {
        ac.verticalStep = std::min(r, ac.climbStep);
      } else {
        // Low down the climb keeps a floor, but a descent toward the next point stays a descent
        // (a floor on it would climb an aircraft on final approach).
        ac.verticalStep = std::min((r >= 0.0 && r <= 0.2) ? 0.2 : r, ac.climbStep);
      }
    } else if (first.altFt != second.altFt || ac.aglFt > 1000.0 || first.verticalSpeed + second.verticalSpeed > 100.0) {
      ac.verticalStep = (second.altFt - ac.position.altFt) / ticks;
    } else {
      descendAt(ac, approachVerticalSpeed(ac));
    }
  }

  // The steps above may have dropped points: re-read the point being approached.
  const TrackPoint& target = ac.trackPoints.at(1);
  const std::int32_t n = ticksToSecondPoint(ac);
  const kvo::MovementLimits& lim = kvo::movementLimits(ac.sizeCategory);
  if (ac.phase != GroundPhase::TakeOff) {
    double v = target.verticalSpeed;
    if (v > 0.0) {
      v = std::min(v, 2400.0);
    } else if (v < 0.0) {
      v = std::max(v, -3000.0) / 2.0;
    }
    const double targetPitch = -3.0 * kDeg - (v / 600.0) * 2.2 * kDeg;
    ac.pitchStep = std::clamp((targetPitch - ac.position.pitch) / n, -lim.maxPitchChangePerTick,
                              lim.maxPitchChangePerTick);
  }

  double change = 0.0;
  const double headingHeight = ac.descent != 0 ? 2000.0 : 1000.0;
  if (target.trueHeadingGiven != 0 && target.roll && target.trueHeading && ac.aglFt < headingHeight) {
    change = wrapPi(*target.trueHeading - ac.position.heading);
  } else {
    change = headingChangeAfterNextPoint(ac);
  }
  ac.headingStep = change / n;

  if (target.roll) {
    ac.bankStep = (*target.roll - ac.position.bank) / n;
  } else {
    turnLimitsForCategory(ac, change, n);
  }

  const bool rotor = isRotorcraft(ac);
  if (ac.trackPoints.at(0).altFt < 10000.0) {
    if (ac.below10000Configured == 0) {
      ac.below10000Configured = 1;
      ac.above10000Configured = 0;
      setLights(ac, {1, 1, 1, 1, 1, 1, 1});
    }
    const bool big = ac.sizeCategory == Buzjets || ac.sizeCategory == Large || ac.sizeCategory == Heavy;
    if (ac.aglFt > (big ? 2050.0 : 625.0)) {
      configureLowAltitude(ac);
    } else {
      configureApproach(ac);
    }
  } else if (ac.above10000Configured == 0) {
    ac.above10000Configured = 1;
    ac.below10000Configured = 0;
    setLights(ac, {1, 1, 0, 0, 0, 0, 1});
    setThrottle(ac, rotor ? 4 : 3);
    setGear(ac, false);
    gf_setFlaps(ac, 0);
  }
}

void moveInAir(LiveAircraft& ac) {
  const TrackPoint& first = ac.trackPoints.at(0);
  const TrackPoint& second = ac.trackPoints.at(1);
  if (second.stationary != 0) {
    if (isRotorcraft(ac)) retimeNextPoint(ac);
    return;
  }
  double speed = 0.0;
  if (ac.descent != 0 && second.airborne == 0) {
    speed = first.groundSpeedKt > 0.0 ? first.groundSpeedKt : 100.0;
  } else {
    speed = segmentSpeed(ac);
  }
  clampDueTick(ac, travelTicks(pointDistanceNm(first, second), speed));
}

void stepTowardNextTrackPoint(LiveAircraft& ac) {
  ac.curve.clear();
  ac.curveT = 0.0;
  {
    const TrackPoint& first = ac.trackPoints.at(0);
    TrackPoint& second = ac.trackPoints.at(1);
    if (second.stationary == 0 && sameSpot(first, second)) second.stationary = 1;
    if (second.stationary == 0) ac.referenceHeading = initialBearing(first.lat, first.lon, second.lat, second.lon);
  }

  if (ac.onGround != 0) {
    nextPosGround(ac);
  } else {
    moveInAir(ac);
  }
  // The movers may leave the aircraft without a point to move to (a push-back whose stand is
  // gone): it then stays where it is until the track grows.
  if (ac.trackPoints.size() < 2) return;

  if (ac.trackPoints[1].stationary != 0) {
    ac.latStep = 0.0;
    ac.lonStep = 0.0;
    if (ac.derotation == 0 && ac.takeOffRoll == 0) decayTolerances(ac);
  } else {
    if (ac.onGround != 0) {
      groundConfiguration(ac);
    } else {
      airborneConfiguration(ac);
    }
    // After the configuration, which may drop points or move the due tick of the next one.
    const TrackPoint& second = ac.trackPoints.at(1);
    const double n = ticksToSecondPoint(ac);
    ac.latStep = (second.lat - ac.position.lat) / n;
    // The shorter way round: across the date line the difference is taken within -180..180.
    ac.lonStep = wrap180(second.lon - ac.position.lon) / n;
  }
  ac.trackPoints.pop_front();
}

void nextPosMain(LiveAircraft& ac) {
  try {
    bool removed = false;
    for (;;) {
      if (ac.trackPoints.size() >= 2) {
        const TrackPoint& second = ac.trackPoints[1];
        // A point on the same spot as the one before is a stop, whether or not it is marked yet.
        const bool stop = second.stationary != 0 || sameSpot(ac.trackPoints[0], second);
        if (ac.onGround != 0 || !stop || isRotorcraft(ac)) {
          stepTowardNextTrackPoint(ac);
          break;
        }
        // An airborne aircraft never stops at a stationary point.
        ac.trackPoints.erase(ac.trackPoints.begin() + 1);
        continue;
      }
      const std::size_t before = ac.trackPoints.size();
      if (continueAtTrackEnd(ac) && ac.trackPoints.size() > before) continue;
      if (ac.phase != GroundPhase::Parked) planSoftStandOption(ac, ac.phase != GroundPhase::Flying);
      removeAircraftFromSim(ac);
      removed = true;
      break;
    }
    // A push-back that has just ended hands on the taxi lines heard while it ran; none to an
    // aircraft removed above.
    if (!removed) takeHeldTaxiLines(ac);
    ac.movementFailures = 0;
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: {} {}, sz:{}, fs:{}, st:{}", "nextPosMain", e.what(), kvo::aircraftText(ac),
                             ac.trackPoints.size(), kvo::groundPhaseText(ac.phase), kvo::aircraftStateText(ac.state)));
    // The failing step would fail again on every tick: after a few in a row the aircraft goes.
    if (++ac.movementFailures >= kvo::kMaxMovementFailures) removeAircraftFromSim(ac);
    throw;
  }
}

void fillPositionSpeeds(LiveAircraft& ac) {
  ac.position.verticalSpeedFps = ac.displayVerticalSpeed / 60.0;
  const bool stationary = !ac.trackPoints.empty() && ac.trackPoints.front().stationary != 0;
  ac.position.tasKt = stationary ? 0.0 : ac.displayTasKt;
}

// ---- per-tick integration ----------------------------------------------------------------------

namespace {

// An aeroplane's nose turns at most this much a tick (25 degrees a second; a taxiing airliner turns
// 10-20), whatever raises it: a turn rate quickened for a sharp turn (three times a light
// aircraft's base rate is 45 degrees a second), following a curve's bends, catching up with a slide.
// A helicopter may turn on the spot at its own quickened rate.
constexpr double kMaxGroundTurnRad = 0.25 * kDeg;

// Turns the heading by at most the turn rate (and the extra turn) toward the target, the shorter
// way, within the ceiling; nothing within half a degree.
void turnToward(LiveAircraft& ac, double target, double extraTurn = 0.0) {
  const double diff = wrapPi(target - ac.position.heading);
  if (std::abs(diff) <= 0.5 * kDeg) return;
  const double rate = std::abs(ac.turnRate);
  const double ceiling = isRotorcraft(ac) ? std::max(rate, kMaxGroundTurnRad) : kMaxGroundTurnRad;
  const double turn = std::min({rate + extraTurn, ceiling, std::abs(diff)});
  ac.position.heading = wrap2Pi(ac.position.heading + (diff > 0.0 ? turn : -turn));
}

// A helicopter turning on the spot turns at least at its base rate: the extra turn a tick beyond
// its turn rate.
double onTheSpotExtra(const LiveAircraft& ac) { return std::max(ac.turnRateBase - std::abs(ac.turnRate), 0.0); }

// A helicopter taxiing on the ground turns on the spot before it moves off far from its nose: an
// aeroplane's way of setting off while turning would carry it sideways, or backwards.
bool turnOnTheSpot(LiveAircraft& ac) {
  if (ac.onGround == 0 || !isRotorcraft(ac) || (ac.phase != GroundPhase::Taxi && ac.phase != GroundPhase::Parking)) {
    return false;
  }
  double way = ac.referenceHeading;
  bool moves = ac.turning != 0;
  if (ac.curve.isSet()) {
    kvo::LatLon at;
    moves = interpolateCurve(ac.curve, at, way, ac.curveT);
  }
  if (!moves || std::abs(wrapPi(way - ac.position.heading)) <= kTurnOnTheSpotRad) return false;
  turnToward(ac, way, onTheSpotExtra(ac));
  return true;
}

void horizontalStep(LiveAircraft& ac) {
  kvo::PositionBlock& pos = ac.position;
  if (turnOnTheSpot(ac)) return;
  if (ac.curve.isSet()) {
    const double previousT = ac.curveT;
    ac.curveT = std::clamp(ac.curveT + curvePace(ac), 0.0, 0.999999);
    kvo::LatLon at;
    double curveHeading = 0.0;
    if (!interpolateCurve(ac.curve, at, curveHeading, ac.curveT)) {
      logArrowLine(fmt::format("{} error in curve at index: {:.2F}", ac.callsign, ac.curveT));
      return;
    }
    // The nose may turn as fast as the curve bends besides its turn rate: the turn rate alone
    // lags behind a curve that bends faster, and the aircraft then slides sideways along it. It
    // never turns past the curve's way, where a sharp bend would leave it far off.
    kvo::LatLon previousAt;
    double previousHeading = 0.0;
    double bend = 0.0;
    if (ac.curveT > previousT && interpolateCurve(ac.curve, previousAt, previousHeading, previousT)) {
      bend = std::abs(wrapPi(curveHeading - previousHeading));
    }
    pos.lat = at.lat;
    pos.lon = at.lon;
    const double target = ac.phase == GroundPhase::PushingBack ? wrap2Pi(curveHeading + kPi) : curveHeading;
    // Where it slows for its nose, the nose turns as fast as it may.
    const bool slowed = ac.phase != GroundPhase::PushingBack && std::abs(wrapPi(target - pos.heading)) > kSlowOffRad;
    turnToward(ac, target, slowed ? kMaxGroundTurnRad : bend + slipCatchUp(ac, target));
    return;
  }
  switch (ac.phase) {
    case GroundPhase::TakeOff:
    case GroundPhase::Flying:
    case GroundPhase::Parked:
    case GroundPhase::Birth:
      pos.heading = wrap2Pi(pos.heading + ac.headingStep);
      pos.lat += ac.latStep;
      pos.lon += ac.lonStep;
      break;
    default:
      if (ac.phase == GroundPhase::Parking || ac.turning != 0) turnToward(ac, ac.referenceHeading);
      if (ac.phase != GroundPhase::PushedBack) {
        pos.lat += ac.latStep;
        pos.lon += ac.lonStep;
      }
      break;
  }
}

void verticalStep(LiveAircraft& ac) {
  kvo::PositionBlock& pos = ac.position;
  if (ac.aglFt <= 400.0 && ac.descent != 0 && ac.onGround == 0) flareStep(ac);
  if (ac.derotation != 0) {
    pos.pitch += ac.pitchStep;
    const bool passed = (ac.pitchStep >= 0.0 && pos.pitch >= ac.staticPitch) ||
                        (ac.pitchStep <= 0.0 && pos.pitch <= ac.staticPitch);
    if (passed) {
      pos.pitch = ac.staticPitch;
      ac.pitchStep = 0.0;
      pos.bank = 0.0;
      ac.bankStep = 0.0;
      ac.derotation = 0;
      ac.landingStage = 0;
    }
    pos.bank += ac.bankStep;
  } else if (ac.landingStage != 0) {
    pos.bank = std::clamp(pos.bank + ac.bankStep, -kPi, kPi);
    pos.pitch = std::max(pos.pitch + ac.pitchStep, -4.0 * kDeg);
    pos.altFt += ac.verticalStep;
  } else if (ac.onGround != 0) {
    pos.pitch = ac.staticPitch;
    pos.bank = 0.0;
  } else {
    pos.bank += ac.bankStep;
    pos.pitch += ac.pitchStep;
    pos.altFt += ac.verticalStep;
  }
}

}  // namespace

void standStep(LiveAircraft& ac) {
  if (ac.onGround == 0) return;
  if (ac.takeOffRoll != 0 && ac.turning != 0) turnToward(ac, ac.referenceHeading);
  const bool movesOff = ac.trackPoints.size() >= 2 && ac.trackPoints[1].stationary == 0;
  if (isRotorcraft(ac) && ac.phase == GroundPhase::Parking && movesOff) {
    turnToward(ac, ac.referenceHeading, onTheSpotExtra(ac));
  }
}

double onTheSpotTurnTicks(const LiveAircraft& ac, double turnRad) {
  // As turnToward turns a helicopter: its rate and the extra, within its ceiling.
  const double rate = std::abs(ac.turnRate);
  const double perTick = std::min(rate + onTheSpotExtra(ac), std::max(rate, kMaxGroundTurnRad));
  return perTick > 0.0 ? std::ceil(std::abs(turnRad) / perTick) : 0.0;
}

void curveStep(LiveAircraft& ac) {
  ac.previousLat = ac.position.lat;
  ac.previousLon = ac.position.lon;
  horizontalStep(ac);
  if (ac.phase == GroundPhase::TakeOff) {
    takeOffStep(ac);
  } else {
    verticalStep(ac);
  }
  kvo::PositionBlock& pos = ac.position;
  pos.lon = wrap180(pos.lon);
  if (pos.lat > 90.0 || pos.lat < -90.0) {
    pos.lat = (pos.lat > 0.0 ? 180.0 : -180.0) - pos.lat;
    pos.lon = wrap180(pos.lon + 180.0);
  }
}

void flareStep(LiveAircraft& ac) {
  if (ac.trackPoints.empty()) return;
  TrackPoint& first = ac.trackPoints.front();
  const double cg = ac.staticCgFt;
  switch (ac.landingStage) {
    case 0: {
      if (!ac.referenceElevationFt && parkAirportSet()) ac.referenceElevationFt = g_parkAirportElevation;
      const double h = ac.referenceElevationFt ? ac.position.altFt - *ac.referenceElevationFt : ac.aglFt;
      ac.flareHeightFt = h;
      if (cg + 30.0 >= std::min(ac.aglFt, h)) {
        ac.pitchStep = (-4.0 * kDeg - ac.position.pitch) / std::max<std::uint32_t>(ac.flareTicks, 1);
        ac.verticalStep = -0.1;
        first.verticalSpeed = -601.0;
        ac.landingStage = 1;
      }
      break;
    }
    case 1:
      if (ac.aglFt <= cg + 20.0) {
        ac.referenceElevationFt.reset();
        ac.verticalStep = -0.075;
        first.verticalSpeed = -450.0;
        ac.landingStage = 2;
      }
      break;
    case 2:
      if (ac.aglFt <= cg + 10.0) {
        ac.referenceElevationFt.reset();
        setThrottle(ac, 0);
        ac.verticalStep = -0.05;
        first.verticalSpeed = -300.0;
        ac.landingStage = 3;
      }
      break;
    case 3:
      if (ac.aglFt <= cg + 3.0) {
        ac.referenceElevationFt.reset();
        ac.verticalStep = -0.025;
        first.verticalSpeed = -150.0;
        ac.landingStage = 4;
      }
      break;
    default:
      break;
  }
}

bool hasMovedSincePreviousStep(const LiveAircraft& ac) {
  return !sameSpot(ac.position.lat, ac.position.lon, ac.previousLat, ac.previousLon);
}
