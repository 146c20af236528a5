#pragma once
// What the ground movement files (ground, push-back, take-off, straight legs) and the track checks
// share. Not for other callers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

#include "core/geometry.h"
#include "links/sim_queues.h"
#include "traffic/aircraft_records.h"
#include "traffic/movement.h"
#include "traffic/movement_util.h"

namespace kvo::mv {

// One client event for the aircraft's object.
inline void sendEvent(const LiveAircraft& ac, std::uint32_t eventId, std::uint32_t data) {
  queueClientEvent(ClientEventRequest{ac.objectId, eventId, data});
}

// Metres along a way (given by its unit vector, north and east) and to its right of a place that
// lies the given metres north and east of the way's start.
inline std::pair<double, double> alongAndRight(double north, double east, double unitNorth, double unitEast) {
  return {north * unitNorth + east * unitEast, east * unitNorth - north * unitEast};
}

// A feed line that shows an aircraft moving comes some way into its move: the move began as long
// before the line as the way from where it began (the place given) to the line takes at the speed.
inline TickCount setOffTick(const TrackPoint& line, double fromLat, double fromLon, double speedKt) {
  return line.dueTick - travelTicks(distanceNm(fromLat, fromLon, line.lat, line.lon), speedKt);
}
// The speed of a line that shows an aircraft moving off: the line's own, the stand speed where the
// line shows it (nearly) standing.
inline double setOffSpeedKt(const LiveAircraft& ac, const TrackPoint& line) {
  return line.groundSpeedKt > kPushBackStandsKt ? line.groundSpeedKt : ac.standSpeedKt;
}

// The nose a line shows: its true heading, unless that is only its track (a receiver that takes
// the heading from where the aircraft goes tells nothing of which way its nose points).
inline std::optional<double> trueNose(const TrackPoint& p) {
  constexpr double kSameAsTrack = 0.05 * kDeg;
  if (!p.trueHeading || std::abs(wrapPi(*p.trueHeading - p.trackDeg * kDeg)) < kSameAsTrack) return std::nullopt;
  return *p.trueHeading;
}

// ---- the feed's scatter (feed_scatter.cpp) -----------------------------------------------------
// Below this an estimate of the scatter is nothing: the feed is exact, as a smooth feed gives it.
inline constexpr double kExactScatterM = 1.0;
// The scatter of the feed's places on the ground (metres, per axis) over its lines in time order:
// how far they lie from the straights and arcs of a taxi's path, or standing, from their mean.
// 0 where they lie on them within kExactScatterM; where the lines are too few to tell, `previous`,
// or the spread of the latest standing lines where it is more (at most a receiver's usual scatter).
double feedScatterM(const std::deque<TrackPoint>& lines, double previous);
// Every feed line of a known aircraft: kept among its latest lines on the ground, and the
// aircraft's feed scatter (groundScatterM) judged anew over them. The line before it, where it lies
// farther off where its neighbours put the aircraft than their speeds, the time and the scatter
// allow (a stray line), is dropped from them and, still queued last, from the track. False where
// the line lies so far from the line before that it must not join the track.
bool noteFeedLine(LiveAircraft& ac, const TrackPoint& line);

// Where the feed's latest standing lines before the tick put the aircraft (their mean); none heard,
// nothing. Standing lines before a move of the feed's own are not where it last stood.
std::optional<kvo::LatLon> feedStoodAt(const LiveAircraft& ac, kvo::TickCount before);

// Where a scattering feed gives true noses, the places of an aeroplane's moving lines on the ground
// are taken from the noses and speeds: a line lies where they carry the aircraft from the feed's
// line before, pulled toward its own place by the share its time allows. Left as it is after a gap
// or where it lies farther off than the scatter allows (the noses lost the aircraft's way).
void followNoses(LiveAircraft& ac, TrackPoint& line);

// A copy of the template point at another place, moving on the ground.
TrackPoint groundPointAt(const TrackPoint& templ, LatLon at, double speedKt, TickCount due);

// ---- the nose and the pace along a ground curve (ground.cpp) -----------------------------------
// Along a curve on a scattering feed an aircraft slows where its nose is more than this off its
// way; its nose then turns as fast as it may.
inline constexpr double kSlowOffRad = 20.0 * kDeg;
// How much faster than its turn rate the nose catches up with a long slide off the curve's way.
double slipCatchUp(const LiveAircraft& ac, double way);
// How far along its curve an aircraft rolls this tick.
double curvePace(const LiveAircraft& ac);

// ---- straight legs (straight_legs.cpp) ---------------------------------------------------------
// Puts the point after point `from` onto the straight leg that runs from there beyond it (with a
// nose given, a leg that keeps to it); false when it ends no leg but a turn.
bool straightenNextPoint(LiveAircraft& ac, std::size_t from, std::optional<double> nose);

// ---- take-off (take_off.cpp) -------------------------------------------------------------------
// The way a take-off roll runs from track point `from`; none where the points ahead run no steady
// way (not on a take-off roll, a helicopter, a backtrack, a turn onto the runway).
std::optional<double> rollHeading(const LiveAircraft& ac, std::size_t from);

// ---- push-back (push_back.cpp) -----------------------------------------------------------------
// The step of the push-back's tug turn along its curve.
double pushBackCurveStep(const LiveAircraft& ac);
// How far along its curve an aircraft goes this tick evenly along it, at its step's pace (a
// push-back's tug turn, a helicopter's curve).
double evenCurvePace(const LiveAircraft& ac);
// A feed line heard while pushing back: kept for the push-back's pace, end and turn side.
void collectPushBackLine(LiveAircraft& ac, const TrackPoint& line);
// Once the push-back has ended: the feed's taxi lines heard while it went on join the track.
void takeHeldTaxiLines(LiveAircraft& ac);

}  // namespace kvo::mv
