// The departure: the departure run, the way the take-off roll runs and the take-off up to the
// moment the aircraft flies (the take-off decision is the ground configuration's, ground.cpp).
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "core/log.h"
#include "links/sim_ids.h"
#include "traffic/ground_detail.h"
#include "traffic/movement.h"
#include "traffic/movement_util.h"
#include "traffic/stand_search.h"
#include "traffic/traffic_engine.h"

using namespace kvo::mv;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace {

constexpr double kRollNearNm = 50.0 / 1852.0;
constexpr double kRollFarNm = 150.0 / 1852.0;
constexpr double kRollAgreeRad = 30.0 * kDeg;
// Two points of a scattering feed lie up to this many times its scatter apart: nearer than that is
// no way back.
constexpr double kRollScatters = 5.0;

}  // namespace

// The way a take-off roll runs from track point `from`: toward the last point on the ground, far
// enough ahead that the scatter of the feed's positions near the line-up does not sway it. Only
// where the points ahead run steadily away and a nearer one agrees: a backtrack, its turn at the
// runway end or a turn onto the runway runs its own way.
std::optional<double> kvo::mv::rollHeading(const LiveAircraft& ac, std::size_t from) {
  const auto& track = ac.trackPoints;
  if (ac.takeOffRoll == 0 || isRotorcraft(ac) || from >= track.size()) return std::nullopt;
  const TrackPoint& at = track[from];
  std::optional<double> near;
  std::optional<double> far;
  double farthest = 0.0;
  const double scatterNm = kRollScatters * ac.groundScatterM / kMetresPerNm;
  for (std::size_t j = from + 1; j < track.size() && track[j].airborne == 0; ++j) {
    const double d = pointDistanceNm(at, track[j]);
    if (d < farthest - scatterNm) return std::nullopt;
    farthest = std::max(farthest, d);
    const double bearing = initialBearing(at.lat, at.lon, track[j].lat, track[j].lon);
    if (!near && d >= kRollNearNm) near = bearing;
    far = d >= kRollFarNm ? std::optional<double>(bearing) : std::nullopt;
  }
  if (!near || !far || std::abs(wrapPi(*far - *near)) > kRollAgreeRad) return std::nullopt;
  return far;
}

bool reachesTakeOffSpeed(const LiveAircraft& ac) {
  const double speed = kvo::movementLimits(ac.sizeCategory).takeOffSpeedKt;
  return std::all_of(ac.trackPoints.begin() + (ac.trackPoints.empty() ? 0 : 1), ac.trackPoints.end(),
                     [speed](const TrackPoint& p) { return p.groundSpeedKt >= speed; });
}

void beginDepartureRun(LiveAircraft& ac) {
  if (ac.towed != 0) logLine(fmt::format("towed aircraft takes-off? {}", kvo::aircraftText(ac)));
  ac.takeOffRoll = 1;
  setThrottle(ac, 0);
  sendEvent(ac, kvo::kEventSpoilersSet, 0);
  departureConfiguration(ac);
  if (!ac.airline.empty()) planSoftStandOption(ac, true);
}

void departureConfiguration(LiveAircraft& ac) {
  gf_setFlaps(ac, 1);
  ac.descent = 0;
  ac.landed = 0;
  ac.goAroundDone = 0;
  setLights(ac, {1, 1, 1, 1, 1, 1, 0});
  ac.lateTolerance = 5000;
  ac.earlyTolerance = 3000;
}

void startTakeOff(LiveAircraft& ac) {
  ac.takeOffCounter = static_cast<std::int32_t>(std::max<std::uint32_t>(ac.rotationTicks, 1));
  ac.position.bank = 0.0;
  ac.bankStep = 0.0;
  ac.pitchStep = (ac.rotationPitch - ac.position.pitch) / ac.takeOffCounter;
  if (ac.takeOffRoll == 0) beginDepartureRun(ac);
  setPhase(ac, GroundPhase::TakeOff);
  ac.headingStep = 0.0;
  ac.curve.clear();
  if (ac.landingRoll != 0) {
    // A touch-and-go: full power, spoilers stowed for the climb.
    ac.landingRoll = 0;
    ac.descent = 0;
    ac.landed = 0;
    setThrottle(ac, 4);
    if (!isRotorcraft(ac)) sendEvent(ac, kvo::kEventSpoilersSet, 0);
    gf_setFlaps(ac, 1);
  }
}

void takeOffStep(LiveAircraft& ac) {
  kvo::PositionBlock& pos = ac.position;
  ac.takeOffCounter = std::max(ac.takeOffCounter - 1, -1000);
  const std::int32_t counter = ac.takeOffCounter;
  if (counter > 0) {
    // The rotation: from now on the air rules move the aircraft.
    ac.onGround = 0;
    if (pos.pitch > ac.rotationPitch) pos.pitch = std::max(pos.pitch + ac.pitchStep, ac.rotationPitch);
    return;
  }
  const double climbOutStep = (ac.climbPitch - ac.rotationPitch) / std::max<std::uint32_t>(ac.climbOutTicks, 1);
  pos.bank = std::clamp(pos.bank + ac.bankStep, -kPi, kPi);
  if (pos.pitch > ac.climbPitch) pos.pitch = std::max(pos.pitch + climbOutStep, ac.climbPitch);
  if (counter <= -300) {
    pos.altFt += ac.verticalStep;
  } else if (counter <= -200) {
    pos.altFt += ac.verticalStep * 0.5;
  } else if (counter <= -100) {
    pos.altFt += ac.verticalStep * 0.2;
  } else if (counter <= -1) {
    pos.altFt += ac.verticalStep * 0.1;
  }
  if (counter == -300) setGear(ac, false);
  if (counter < -300 && pos.pitch <= ac.climbPitch) {
    ac.pitchStep = 0.0;
    if (ac.aglFt >= 800.0) {
      setThrottle(ac, isRotorcraft(ac) ? 4 : 3);
      setPhase(ac, GroundPhase::Flying);
      ac.takeOffCounter = 1;
    }
  }
}
