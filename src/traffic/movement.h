#pragma once
// Movement of live aircraft: the schedule that brings each aircraft to its track points at their
// due ticks, flight and configuration in the air, ground movement (stand exits, taxi curves,
// landing roll, take-off) and the checks made when a new feed position arrives.
//
// All of it runs on the start-up worker inside the traffic tick. The tick (updateLiveAc) calls,
// for an active aircraft:
//   if (g_trafficTick >= front.dueTick) { nextPosMain(ac); fillPositionSpeeds(ac); }
//   if (state still active) front.stationary ? standStep(ac) : curveStep(ac);
//   then queues ac.position.
// The feed intake calls decodeExisting for every new point of a known aircraft.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>

#include "traffic/aircraft_records.h"

namespace kvo {

// Per-category limits of the movement code, angles in radians.
struct MovementLimits {
  double maxBankChangePerTick;
  double maxBank;
  double maxPitchChangePerTick;
  double takeOffSpeedKt;
};
// Throws std::out_of_range for a category missing from the tables.
const MovementLimits& movementLimits(SizeCategory category);

// A step of the movement that cannot go on with the numbers it has (a travel time that is not a
// number). nextPosMain counts these and removes the aircraft after kMaxMovementFailures in a row.
class MovementError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
inline constexpr std::int32_t kMaxMovementFailures = 3;

inline constexpr std::int32_t kMinTravelTicks = 25;
inline constexpr double kTicksPerHour = 360000.0;

// Throttle indexes 0..4 and flaps indexes 0..3 (values sent by setThrottle / gf_setFlaps).
inline constexpr std::uint32_t kThrottleIdle = 0;
inline constexpr std::uint32_t kThrottleFull = 4;

}  // namespace kvo

// ---- schedule helpers ------------------------------------------------------------------------
// Travel time in ticks: distanceNm x 360000 / speedKt, rounded, clamped to 25..INT32_MAX.
// Throws kvo::MovementError when the result is not a number.
std::int32_t travelTicks(double distanceNm, double speedKt);
// The due-tick rule for the second track point with the wished tick = now + max(n, 25):
// tolerances apply unless standRouteState >= 1; never earlier than the current tick.
void clampDueTick(kvo::LiveAircraft& ac, std::int64_t ticks);
// Second point's due tick - current tick, at least 25.
std::int32_t ticksToSecondPoint(const kvo::LiveAircraft& ac);
// Each tolerance above 1000 drops by 100, not below 1000.
void decayTolerances(kvo::LiveAircraft& ac);
// Late 5000 with the take-off-roll flag (else 3000), early 3000.
void setRouteTolerances(kvo::LiveAircraft& ac);
// Stores the phase as the previous one and changes it; nothing when already in that phase.
void setPhase(kvo::LiveAircraft& ac, kvo::GroundPhase phase);
// Stand position, heading, id and cargo mark cleared: the aircraft no longer has a stand.
void forgetStand(kvo::LiveAircraft& ac);
// What a departure run and a touch-and-go share: flaps 1, the arrival flags cleared, the
// take-off lights, late tolerance 5000 and early 3000.
void departureConfiguration(kvo::LiveAircraft& ac);

// ---- client events ---------------------------------------------------------------------------
// GEAR_SET (1 down, 0 up); never for a Rotorcraft.
void setGear(const kvo::LiveAircraft& ac, bool down);
// The seven lights NAV, BEACON, LANDING, TAXI, STROBES, LOGO, CABIN.
void setLights(const kvo::LiveAircraft& ac, const std::array<std::uint32_t, 7>& values);

// ---- airborne movement -----------------------------------------------------------------------
// Advances the aircraft by one track point; at the end of a push-back it takes the feed's taxi
// lines heard while it ran. Errors are logged and passed on; repeated errors remove the aircraft.
void nextPosMain(kvo::LiveAircraft& ac);
// After nextPosMain: position block vertical speed (ft/s) and true airspeed (0 when the front
// point is stationary) from the display values.
void fillPositionSpeeds(kvo::LiveAircraft& ac);
// Per-tick integration of the steps (and the curve, the flare, the take-off) into the position
// block; called every tick while the front point is not stationary.
void curveStep(kvo::LiveAircraft& ac);
// A tick standing still: only a line-up turns the nose, in place onto the runway, and a helicopter
// about to hover-taxi onto its pad toward it; any other standing keeps it.
void standStep(kvo::LiveAircraft& ac);
// Ticks a helicopter takes to turn by the angle on the spot.
double onTheSpotTurnTicks(const kvo::LiveAircraft& ac, double turnRad);

void stepTowardNextTrackPoint(kvo::LiveAircraft& ac);
void moveInAir(kvo::LiveAircraft& ac);
void airborneConfiguration(kvo::LiveAircraft& ac);
double segmentSpeed(const kvo::LiveAircraft& ac);
double headingChangeAfterNextPoint(const kvo::LiveAircraft& ac);  // radians, -pi..pi
void turnLimitsForCategory(kvo::LiveAircraft& ac, double headingChange, std::int32_t ticks);
void climbRateToNextPoint(kvo::LiveAircraft& ac);
void verticalRateOnGroundPoints(kvo::LiveAircraft& ac);
bool retimeToAirbornePoint(kvo::LiveAircraft& ac, std::size_t index);  // index counts from 1
double approachVerticalSpeed(const kvo::LiveAircraft& ac);              // feet per minute
void configureLowAltitude(kvo::LiveAircraft& ac);
void configureApproach(kvo::LiveAircraft& ac);
void flareStep(kvo::LiveAircraft& ac);

// ---- ground movement -------------------------------------------------------------------------
void nextPosGround(kvo::LiveAircraft& ac);
void groundConfiguration(kvo::LiveAircraft& ac);
// Appends the last leg onto a stand (position in degrees, heading in radians).
void drive2Stand(kvo::LiveAircraft& ac, double standLat, double standLon, double standHeading);
void retimeNextPoint(kvo::LiveAircraft& ac);
void insertMidPoint(kvo::LiveAircraft& ac);
void splitForSpeedChange(kvo::LiveAircraft& ac);
// A curve from the aircraft through the next point to the one after. `ontoLeg`: the one after lies
// on a straight leg of a scattering feed that runs on from the next point: the curve arrives along it.
void setUpCurve(kvo::LiveAircraft& ac, bool ontoLeg = false);
void pullOutOfStand(kvo::LiveAircraft& ac);
// Standing where it is until the tick (as the second point), then moving on at the speed.
void standUntil(kvo::LiveAircraft& ac, kvo::TickCount start, double speedKt);
void startPushBack(kvo::LiveAircraft& ac);
bool pushBackStep(kvo::LiveAircraft& ac);  // true: it timed the next point itself
void landingRollConfiguration(kvo::LiveAircraft& ac);
bool reachesTakeOffSpeed(const kvo::LiveAircraft& ac);
void startTakeOff(kvo::LiveAircraft& ac);
void beginDepartureRun(kvo::LiveAircraft& ac);
void takeOffStep(kvo::LiveAircraft& ac);

// The live aircraft moved since its previous step (its position differs from the previous
// position by at least 1e-8 degree in latitude or longitude).
bool hasMovedSincePreviousStep(const kvo::LiveAircraft& aircraft);

// ---- landing and track checks ----------------------------------------------------------------
// A new feed point of a known aircraft. Errors are logged and passed on.
void decodeExisting(kvo::LiveAircraft& ac, kvo::TrackPoint point);
bool checkExtendingSituations(kvo::LiveAircraft& ac, kvo::TrackPoint& point);
bool checkNewPosDuringLanding(kvo::LiveAircraft& ac, kvo::TrackPoint& point);
bool checkStationaryPoint(kvo::LiveAircraft& ac, kvo::TrackPoint& point);
bool checkLeavingStand(kvo::LiveAircraft& ac, kvo::TrackPoint& point);
// The lines queued before the aircraft was created on its stand, heard by the stand's watch: the
// feed may show it leaving already.
void watchStandLines(kvo::LiveAircraft& ac, const std::deque<kvo::TrackPoint>& lines);
void recordStandDeparture(kvo::LiveAircraft& ac);
