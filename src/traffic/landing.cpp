// Landing and track checks: whether and how a new feed position of a known aircraft joins its
// track - duplicates, points that contradict the ground roll, stationary points, an aircraft
// leaving its stand, the departure run, touch-and-go, the push-back turn and holding.
#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/parameters.h"
#include "core/timeutil.h"
#include "links/sim_ids.h"
#include "links/sim_queues.h"
#include "traffic/ground_detail.h"
#include "traffic/stand_options.h"
#include "traffic/traffic_engine.h"
#include "traffic/movement.h"
#include "traffic/movement_util.h"

using namespace kvo::mv;
using kvo::AircraftState;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::TrackPoint;

namespace {

constexpr std::size_t kMaxTrackPoints = 200;
constexpr double kStandLeaveNm = 0.0458963282937365;   // 85 m
constexpr double kStandStepNm = 0.0016198704103671706;  // 3 m
constexpr double kStandJumpNm = 0.10799136069114472;    // 200 m
constexpr double kNearSameDeg = 0.00015;
constexpr std::size_t kMaxHeldLines = 150;  // five minutes of a push's lines, held for its push-back
constexpr double kStationaryLookBackNm = 0.011879049676025918;  // 22 m
constexpr kvo::TickCount kParkedEpochTicks = 60480000;          // one week: due tick of a parked point

double bearingDiffDeg(double fromLat, double fromLon, const TrackPoint& to, double heading) {
  return std::abs(wrapPi(initialBearing(fromLat, fromLon, to.lat, to.lon) - heading)) / kDeg;
}

bool samePosition(const TrackPoint& a, const TrackPoint& b) { return sameSpot(a, b); }

// The way the queued track runs at its end. The queued points reach up to 30 s beyond the
// aircraft, which may still be rolling along the runway while they already turn off it.
double trackEndHeading(const LiveAircraft& ac) {
  const auto& track = ac.trackPoints;
  for (std::size_t i = track.size(); i >= 2; --i) {
    const TrackPoint& from = track[i - 2];
    const TrackPoint& to = track[i - 1];
    if (!samePosition(from, to)) return initialBearing(from.lat, from.lon, to.lat, to.lon);
  }
  return ac.position.heading;
}

kvo::WeekSlot nowWeekSlot() {
  const kvo::WeekdaySlot now = currentWeekSlot();
  return kvo::makeWeekSlot(now.weekday, now.slot);
}

// Ends a route the program generated: the feed leads again.
void endGeneratedRoute(LiveAircraft& ac) {
  ac.standRouteState = 0;
  setRouteTolerances(ac);
}

// Step b of the intake: stationary points the feed has overtaken.
void clearOvertakenStationaryPoints(LiveAircraft& ac, const TrackPoint& p) {
  auto& track = ac.trackPoints;
  if (p.stationary != 0) {
    const bool allStationary = std::all_of(track.begin(), track.end(), [](const TrackPoint& q) { return q.stationary != 0; });
    if (allStationary && track.size() > 1) track.erase(track.begin() + 1, track.end());
    return;
  }
  if (track.size() < 3) return;
  // Look back from the second-to-last point over at most five points for the latest moving one.
  std::size_t q = track.size() - 1;
  std::size_t looked = 0;
  bool found = false;
  while (q > 0 && looked < 5) {
    --q;
    ++looked;
    if (track[q].stationary == 0) {
      found = true;
      break;
    }
  }
  if (!found) return;
  const TrackPoint& moving = track[q];
  if (track.back().dueTick - moving.dueTick < 1500 || pointDistanceNm(p, moving) <= kStationaryLookBackNm) {
    track.erase(track.begin() + static_cast<std::ptrdiff_t>(q) + 1, track.end());
  }
}

void touchAndGo(LiveAircraft& ac) {
  setPhase(ac, GroundPhase::Taxi);
  ac.takeOffRoll = 1;
  if (ac.throttleIndex != 3) setThrottle(ac, 3);
  // Stowed for the climb (full spoilers on a take-off roll would be plainly wrong).
  if (!isRotorcraft(ac)) queueClientEvent(kvo::ClientEventRequest{ac.objectId, kvo::kEventSpoilersSet, 0});
  departureConfiguration(ac);
}

// How far the feed's speeds carry an aircraft from its last track point to the line just heard:
// over the lines on the ground heard in between, each step at the mean of its two ends' speeds.
double feedWayNm(const LiveAircraft& ac, const TrackPoint& last, const TrackPoint& p) {
  double wayNm = 0.0;
  const TrackPoint* from = &last;
  auto step = [&](const TrackPoint& to) {
    const double ticks = static_cast<double>(std::max<kvo::TickCount>(to.dueTick - from->dueTick, 0));
    wayNm += (from->groundSpeedKt + to.groundSpeedKt) / 2.0 * ticks / kvo::kTicksPerHour;
    from = &to;
  };
  for (const TrackPoint& line : ac.scatterLines) {
    if (line.dueTick > last.dueTick && line.dueTick < p.dueTick) step(line);
  }
  step(p);
  return wayNm;
}

// An aircraft cannot move on the ground at no speed: a line that shows it standing, after a point
// on the ground where it stood, lies where that point lies. Its own place is only the feed's
// scatter (metres from line to line, wandering over tens of seconds, tens of metres now and then):
// taken as a move, the aircraft would creep and turn where it stands. A helicopter stands where
// its last point lies also after it moved: it hovers to its spot and sets down there. Every rule
// after this takes the line as an exact feed's repeated line. A line within the way the feed's
// speeds carry it is where the feed came to its stop; one farther than a jump is a move the feed
// did not show.
void placeStandingLine(const LiveAircraft& ac, TrackPoint& p) {
  if (ac.trackPoints.empty()) return;
  const TrackPoint& last = ac.trackPoints.back();
  if (p.airborne != 0 || last.airborne != 0 || p.groundSpeedKt >= kPushBackStandsKt) return;
  // An aeroplane stood at its last point only where that point is the feed's latest line before
  // this one: a push-back's first lines are held apart until it leaves, and a pause in them is no
  // return to the stand.
  const auto& lines = ac.scatterLines;
  if (!isRotorcraft(ac) && (last.groundSpeedKt >= kPushBackStandsKt || lines.size() < 2 ||
                            last.dueTick < lines[lines.size() - 2].dueTick)) {
    return;
  }
  const double d = pointDistanceNm(p, last);
  if (d <= feedWayNm(ac, last, p) || d > kStandJumpNm) return;
  p.lat = last.lat;
  p.lon = last.lon;
}

void decodeExistingSteps(LiveAircraft& ac, TrackPoint& p) {
  if (!noteFeedLine(ac, p)) return;
  placeStandingLine(ac, p);
  followNoses(ac, p);
  auto& track = ac.trackPoints;
  if (track.size() > kMaxTrackPoints) {
    removeAircraftFromSim(ac);
    return;
  }
  if (ac.holding != 0 && !track.empty() &&
      pointDistanceNm(track.front(), p) * kMetresPerNm > HOLDING_THRESHOLD_METERS.value()) {
    ac.holding = 0;
    ac.holdingSince = 0;
    removeAircraftFromSim(ac);
    return;
  }
  if (ac.phase == GroundPhase::Birth) {
    if (track.empty() || !checkStationaryPoint(ac, p)) return;
    p.dueTick = std::max(p.dueTick, track.back().dueTick + 1);
    track.push_back(p);
    return;
  }

  if (!checkExtendingSituations(ac, p)) return;
  if (track.empty()) {
    track.push_back(p);
    return;
  }
  if (p.airborne == 0 && track.back().stationary != 0) clearOvertakenStationaryPoints(ac, p);
  const TrackPoint& last = track.back();
  p.dueTick = std::max(p.dueTick, last.dueTick + 1);

  if (ac.state == AircraftState::Active && ac.onGround != 0 && ac.takeOffRoll == 0) {
    if (ac.landingRoll != 0 && last.airborne != 0 && p.airborne != 0) {
      touchAndGo(ac);
    } else if (p.airborne == 0) {
      if (p.groundSpeedKt >= 43.0 && last.groundSpeedKt >= 43.0 && ac.phase == GroundPhase::Taxi) {
        beginDepartureRun(ac);
      }
    } else if (ac.phase == GroundPhase::Taxi) {
      beginDepartureRun(ac);
    }
  }

  track.push_back(p);
  if (track.size() == 2 && track[0].stationary != 0 && track[1].stationary != 0) {
    track[0].dueTick = nowTick() + 1;
    track[0].groundSpeedKt = track[1].groundSpeedKt;
  }
}

}  // namespace

void decodeExisting(LiveAircraft& ac, TrackPoint point) {
  try {
    decodeExistingSteps(ac, point);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{} exception {}", "decodeExisting", e.what()));
    throw;
  }
}

bool checkStationaryPoint(LiveAircraft& ac, TrackPoint& p) {
  if (ac.trackPoints.empty()) return true;
  const TrackPoint& last = ac.trackPoints.back();
  const bool same = samePosition(p, last);
  p.stationary = same ? 1 : 0;
  const bool airborneNow = ac.state == AircraftState::Active && ac.onGround == 0;
  // A helicopter keeps every point, hovering or hover-taxiing; standing on the ground, its
  // scattered positions are merged as an aeroplane's are, or it would wander and spin on its pad.
  if (isRotorcraft(ac) && (p.airborne != 0 || airborneNow || (p.groundSpeedKt > 0.0 && last.groundSpeedKt > 0.0))) {
    return true;
  }
  if (same) {
    if (p.airborne != 0 || airborneNow) return false;
    if (ac.takeOffRoll != 0 && p.groundSpeedKt != 0.0 && last.groundSpeedKt >= 30.0) return false;
    p.groundSpeedKt = 0.0;
    return true;
  }
  // Where a scattering feed shows the aircraft standing at both, two of its lines scatter by up to
  // twice as much and still give the same place.
  const bool bothStand = p.groundSpeedKt == 0.0 && last.groundSpeedKt == 0.0 && ac.groundScatterM > 0.0;
  const double near = (bothStand ? 2.0 : 1.0) * kNearSameDeg;
  // A moving line placed by the feed's noses is where the aircraft went, not a scattered stop: a
  // slow turn's lines lie a few metres apart, and taken as stops the turn was lost.
  // So is a moving line of a feed whose places do not scatter, once the aircraft rolls forward: a
  // slow taxi's lines lie a few metres apart, and taken as stops it stood, then leapt after its
  // feed. A push (its nose against its way) is not a taxi to follow.
  const std::optional<double> nose = trueNose(p);
  const bool pushed = nose && std::abs(wrapPi(*nose - p.trackDeg * kDeg)) > kPi / 2.0;
  const bool exactMove =
      ac.groundScatterM <= 0.0 && p.groundSpeedKt >= kPushBackStandsKt && last.stationary == 0 && !pushed;
  if (!ac.noseLed && !exactMove && std::abs(p.lat - last.lat) <= near && std::abs(p.lon - last.lon) <= near) {
    if (p.airborne != 0 || airborneNow) return false;
    if (ac.takeOffRoll != 0 && p.groundSpeedKt != 0.0 && last.groundSpeedKt >= 50.0) return false;
    const kvo::TickCount due = p.dueTick;
    p = last;
    p.dueTick = due;
    p.groundSpeedKt = 0.0;
    p.stationary = 1;
    return true;
  }
  if (p.groundSpeedKt != 0.0) return true;
  if (ac.takeOffRoll == 0 && p.airborne == 0) return true;
  return last.groundSpeedKt < 50.0;
}

bool checkNewPosDuringLanding(LiveAircraft& ac, TrackPoint& p) {
  auto& track = ac.trackPoints;
  if (track.empty()) {
    logArrowLine(fmt::format("{} empty sz?", "checkNewPosDuringLanding"));
    return false;
  }
  if (samePosition(p, track.back())) return false;
  const double heading = ac.position.heading;
  if (hasRollRules(ac)) {
    if (track.size() == 1) {
      const double b = bearingDiffDeg(track[0].lat, track[0].lon, p, heading);
      if (ac.descent != 0) {
        if (b >= 90.0) return false;
      } else if (b >= 150.0 && ac.standRouteState > 0) {
        return false;
      } else {
        // The queued point is behind the aircraft: it restarts from where the aircraft is.
        TrackPoint here = track[0];
        here.lat = ac.position.lat;
        here.lon = ac.position.lon;
        here.dueTick = nowTick() + 1;
        track[0] = here;
      }
    } else {
      const std::size_t queued = track.size();
      if (bearingDiffDeg(track.back().lat, track.back().lon, p, trackEndHeading(ac)) >= 90.0) {
        track.pop_back();
        if (queued >= 3 && bearingDiffDeg(track.back().lat, track.back().lon, p, trackEndHeading(ac)) >= 90.0) {
          track.pop_back();
        }
      }
    }
  }
  if (ac.standRouteState > 0) endGeneratedRoute(ac);
  const TrackPoint& last = track.back();
  if (samePosition(p, last)) {
    p.stationary = 1;
    return true;
  }
  p.stationary = 0;
  if (p.groundSpeedKt > last.groundSpeedKt && p.groundSpeedKt > 40.0) p.groundSpeedKt = last.groundSpeedKt;
  return true;
}

void recordStandDeparture(LiveAircraft& ac) {
  if (ac.standRouteState >= 1) {
    if (ac.phase == GroundPhase::Parked && ac.landed != 0 && !ac.trackPoints.empty()) {
      const kvo::TickCount stood = nowTick() - (ac.trackPoints.front().dueTick - kParkedEpochTicks);
      kvo::TickCount limit = 0;
      if (ac.sizeCategory == Heavy) {
        limit = 360000;
      } else if (ac.sizeCategory == Large) {
        limit = 150000;
      } else if (ac.sizeCategory == Buzjets) {
        limit = 90000;
      }
      if (stood < limit) ac.towed = 1;
      ac.landed = 0;
    }
    // The point a week ahead that held the parked aircraft falls due now, landed or created on
    // its stand, so that it can leave.
    if (ac.phase == GroundPhase::Parked && !ac.trackPoints.empty()) ac.trackPoints.front().dueTick = nowTick() + 1;
    endGeneratedRoute(ac);
  }
  if (!ac.airline.empty() && ac.cargoStand == ac.cargo) {
    const kvo::WeekSlot slot = nowWeekSlot();
    if (lt_addStandOption(ac.standId, ac, slot, true)) stampIdSlot(slot, ac.internalId, true);
  }
  if (kvo::Stand* stand = findParkStand(ac.standId)) stand->occupied = 0;
}

// On a scattering feed a short push (a small aeroplane's 10 m) stays within the scatter's reach of
// the stand, yet its speeds, which hardly err, show how far it went since the feed last stood: the
// aircraft leaves once they carry it half the span, where its place lies no nearer than the scatter.
bool feedLeftStand(const LiveAircraft& ac, const TrackPoint& p) {
  if (ac.groundScatterM <= 0.0) return false;
  const TrackPoint* stood = nullptr;
  for (const TrackPoint& line : ac.scatterLines) {
    if (line.dueTick < p.dueTick && line.groundSpeedKt < kPushBackStandsKt) stood = &line;
  }
  const std::optional<kvo::LatLon> from = feedStoodAt(ac, p.dueTick);
  return stood != nullptr && from && feedWayNm(ac, *stood, p) > ac.halfSpanNm &&
         distanceNm(from->lat, from->lon, p.lat, p.lon) * kMetresPerNm >= ac.groundScatterM;
}

bool checkLeavingStand(LiveAircraft& ac, TrackPoint& p) {
  const bool watching = ac.standWatch != 0;
  ac.standWatch = 1;
  const double d = distanceNm(ac.standLat, ac.standLon, p.lat, p.lon);
  const double near = ac.previousPhase == GroundPhase::Parking ? 2.0 * kStandLeaveNm : kStandLeaveNm;
  if (d <= near) {
    ac.standLeaveTime = std::chrono::system_clock::now();
    if (!watching) {
      // The first point near the stand: the watch measures from here, where the feed shows the
      // aircraft standing. A first line that shows it moving (its move heard mid-way) is measured
      // from the stand, and judged at once.
      const bool moving = p.groundSpeedKt >= kPushBackStandsKt;
      ac.firstStandDistanceNm = moving ? 0.0 : d;
      ac.lastStandDistanceNm = ac.firstStandDistanceNm;
      ac.standLeaveCounter = 0;
      ac.departureRequested = 0;
      ac.pushBackFeedLines.clear();
      if (!moving) return false;
    }
    // On a scattering feed, lines that show the aircraft moving but not yet leaving (a short push
    // within the scatter's reach), and those after them, are the feed's push heard so far: a
    // push-back follows them.
    if (ac.groundScatterM > 0.0 && ac.pushBackFeedLines.size() < kMaxHeldLines &&
        (p.groundSpeedKt >= kPushBackStandsKt || !ac.pushBackFeedLines.empty())) {
      ac.pushBackFeedLines.push_back(p);
    }
    // A line that shows the aircraft standing does not show it leaving, however far the feed's
    // scatter puts it: only the feed's moving lines count toward a departure.
    if (p.groundSpeedKt < kPushBackStandsKt) {
      ac.departureRequested = 0;
      return false;
    }
    if (d >= ac.lastStandDistanceNm + kStandStepNm) {
      ++ac.standLeaveCounter;
      ac.lastStandDistanceNm = d;
    } else if (d <= ac.lastStandDistanceNm - kStandStepNm) {
      ac.standLeaveCounter = 0;
      ac.departureRequested = 0;
      return false;
    }
    // A scattering feed's place of a standing aircraft scatters by several metres from line to
    // line, more than half the span of a helicopter or a small aeroplane: it leaves only beyond that.
    const double moved = d - ac.firstStandDistanceNm;
    const double scatterNm = kStandingScatters * ac.groundScatterM / kMetresPerNm;
    const bool leaves = (ac.standLeaveCounter >= 3 && moved >= std::max(ac.halfSpanNm / 2.0, scatterNm)) ||
                        moved > std::max(ac.halfSpanNm, 2.0 * scatterNm) || feedLeftStand(ac, p);
    if (!leaves) {
      ac.departureRequested = 0;
      return false;
    }
  } else if (ac.phase == GroundPhase::Parking) {
    // Still driving onto the stand: back to taxiing with the feed.
    setPhase(ac, GroundPhase::Taxi);
    p.stationary = 0;
    return true;
  } else if (d > kStandJumpNm) {
    removeAircraftFromSim(ac);
    return false;
  }

  p.stationary = 0;
  ac.departureRequested = 1;
  if (ac.previousPhase == GroundPhase::Parked) return true;
  recordStandDeparture(ac);
  setPhase(ac, GroundPhase::Parked);
  return true;
}

void watchStandLines(LiveAircraft& ac, const std::deque<TrackPoint>& lines) {
  // The first line gives the place the aircraft stood at; a standing copy of the place before (the
  // queue merges a line close by into one) adds nothing. The first line that shows the aircraft
  // leaving ends the watch: heard one by one, the departure would start before the next line, and
  // a scattered later line taken now would take the request back but leave its point queued (the
  // aircraft would slide there parked). The lines that show it moving, before that line and after
  // it, are the feed's move heard so far: they are held for a push-back, which follows them as it
  // follows the lines heard while it runs.
  std::vector<TrackPoint> moving;
  for (std::size_t i = 0; i < lines.size() && ac.finished == 0; ++i) {
    TrackPoint p = lines[i];
    if (i > 0 && p.stationary != 0) continue;
    if (!checkLeavingStand(ac, p)) {
      if (p.groundSpeedKt >= kPushBackStandsKt) moving.push_back(lines[i]);
      continue;
    }
    p.dueTick = std::max(p.dueTick, ac.trackPoints.back().dueTick + 1);
    ac.trackPoints.push_back(p);
    std::copy_if(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, lines.end(), std::back_inserter(moving),
                 [](const TrackPoint& q) { return q.stationary == 0; });
    ac.pushBackFeedLines = std::move(moving);
    return;
  }
}

bool checkExtendingSituations(LiveAircraft& ac, TrackPoint& p) {
  switch (ac.phase) {
    case GroundPhase::Parking:
    case GroundPhase::Parked:
      if (ac.state == AircraftState::Buffer || ac.state == AircraftState::Adding2Sim) return false;
      return checkLeavingStand(ac, p);

    case GroundPhase::PushingBack:
      // The push-back runs on its own points; the feed's lines give its pace, its end and the
      // side of the tug turn.
      collectPushBackLine(ac, p);
      return false;

    case GroundPhase::PushedBack: {
      const double d = distanceFromAircraftNm(ac, p);
      if ((d <= 2.75 * ac.halfSpanNm || d <= ac.holdDistanceNm) && d <= 6.0 * ac.halfSpanNm) {
        if (ac.holding == 0) ac.holdingSince = nowTick();
        ac.holding = 1;
        ac.holdDistanceNm = d;
        // Where the feed's places do not scatter, its move heard meanwhile (since it last stood)
        // is where the aircraft taxies once the hold ends: the line that ends it lies some way
        // along a way that may have turned, and straight to it the aircraft cut the corner.
        if (p.groundSpeedKt < kPushBackStandsKt || ac.groundScatterM > 0.0) {
          ac.holdLines.clear();
        } else if (ac.holdLines.size() < kMaxHeldLines &&
                   (ac.holdLines.empty() || p.dueTick > ac.holdLines.back().dueTick)) {
          ac.holdLines.push_back(p);  // a line heard again is kept once
        }
        return false;
      }
      if (ac.standRouteState > 0 && !ac.trackPoints.empty()) {
        ac.trackPoints.front().dueTick = nowTick() + 1;
        endGeneratedRoute(ac);
      }
      ac.pushBackTurn = 0;
      ac.pushBackCounter = 0;
      setPhase(ac, GroundPhase::Taxi);
      forgetStand(ac);
      ac.holding = 0;
      ac.holdingSince = 0;
      if (!ac.trackPoints.empty()) {
        // The taxi sets off when the feed's did, as the first line that shows it taxiing tells, and
        // goes on along the lines heard while it held, from the first still to come that lies ahead
        // of its nose (the push-back ends a metre or two off the feed's).
        std::vector<TrackPoint> held = std::exchange(ac.holdLines, {});
        held.erase(held.begin(), std::find_if(held.begin(), held.end(), [&](const TrackPoint& line) {
                     const double way = initialBearing(ac.position.lat, ac.position.lon, line.lat, line.lon);
                     return line.dueTick > nowTick() && std::abs(wrapPi(way - ac.position.heading)) < kPi / 4.0;
                   }));
        const TrackPoint& first = held.empty() ? p : held.front();
        const double kt = setOffSpeedKt(ac, first);
        ac.trackPoints.resize(1);
        standUntil(ac, setOffTick(first, ac.position.lat, ac.position.lon, kt), kt);
        for (TrackPoint line : held) {
          line.dueTick = std::max(line.dueTick, ac.trackPoints.back().dueTick + 1);
          ac.trackPoints.push_back(line);
        }
      }
      return true;
    }

    case GroundPhase::Taxi:
    case GroundPhase::TakeOff:
    case GroundPhase::Flying: {
      if (ac.descent != 0 || ac.landingRoll != 0) return checkNewPosDuringLanding(ac, p);
      if (!checkStationaryPoint(ac, p)) return false;
      if (ac.standRouteState < 1) return true;
      if (ac.trackPoints.empty()) {
        logArrowLine(fmt::format("{} empty sz?", "checkExtendingSituations"));
        return false;
      }
      if (ac.onGround == 0 &&
          bearingDiffDeg(ac.trackPoints.back().lat, ac.trackPoints.back().lon, p, ac.position.heading) >= 100.0) {
        return false;
      }
      endGeneratedRoute(ac);
      ac.trackPoints.front().dueTick = nowTick() + 1;
      ac.holding = 0;
      ac.holdingSince = 0;
      return true;
    }

    default:
      return true;
  }
}
