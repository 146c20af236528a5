#pragma once
// The records of every aircraft the traffic engine manages, their enumerations and the small
// text and identity helpers that the traffic code uses for log lines and matching.
// Everything here is used on the start-up worker thread only; the records that cross threads
// are in links/sim_records.h.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aircraft/size_category.h"
#include "airports/stand.h"
#include "core/geometry.h"
#include "links/record_parts.h"
#include "links/sim_records.h"

namespace kvo {

// Internal ids up to this value belong to static aircraft; live aircraft carry their
// RealTraffic hex id, always above it.
constexpr std::uint32_t kMaxStaticInternalId = 10000;
constexpr bool isLiveInternalId(std::uint32_t internalId) { return internalId > kMaxStaticInternalId; }

enum class AircraftState : std::uint32_t {
  Buffer = 0,
  Adding2Sim = 1,
  Active = 2,
  LiveryRespawn = 3,
  RemovingFromSim = 4,
};

enum class GroundPhase : std::uint32_t {
  PushingBack = 0,
  PushedBack = 1,
  Taxi = 2,
  TakeOff = 3,
  Flying = 4,
  Parking = 5,
  Parked = 6,
  Birth = 7,
};

// The texts of the enumerations (the size class's is in aircraft/size_category.h); a value
// outside the enumeration throws std::out_of_range.
std::string_view aircraftStateText(AircraftState state);
std::string_view groundPhaseText(GroundPhase phase);

// Per-category values that every aircraft takes from its size class (angles in degrees, as
// tabled; the records hold radians).
struct CategoryValues {
  double rotationPitchDeg;   // before randomising
  double climbPitchDeg;      // before randomising
  double turnRateDegPerTick;
  std::uint32_t flareTicks;
  std::uint32_t groundSlotTicks;
  std::uint32_t rotationTicks;
  std::uint32_t climbOutTicks;
};
// Per-category values that only live aircraft use.
struct LiveCategoryValues {
  double climbStep;     // maximum climb per tick, feet
  double standSpeedKt;  // speed into and out of a stand
};
// Both throw std::out_of_range for a category missing from the tables.
const CategoryValues& categoryValues(SizeCategory category);
const LiveCategoryValues& liveCategoryValues(SizeCategory category);

// What live and static aircraft share.
struct AircraftBase : AircraftTexts {
  double halfSpanNm = 0.0;     // half the wing span, nautical miles
  double staticCgFt = 0.0;     // centre-of-gravity height when parked; 0 until reported
  double staticPitch = 0.0;    // radians, negative is nose up; 0 until reported
  double rotationPitch = 0.0;  // radians
  double climbPitch = 0.0;     // radians
  double turnRateBase = 0.0;   // radians per tick
  double turnRate = 0.0;       // radians per tick
  double climbStep = 0.0;      // feet per tick (live aircraft only)
  double standSpeedKt = 0.0;   // live aircraft only
  std::uint32_t internalId = 0;
  SizeCategory sizeCategory = Large;
  // Points into the livery data base, whose titles are kept in storage that outlives every
  // run, so the view stays valid for as long as the record (and any CreateRequest) lives.
  std::string_view liveryTitle;
  std::uint32_t flareTicks = 0;
  std::uint32_t groundSlotTicks = 0;
  std::uint32_t rotationTicks = 0;
  std::uint32_t climbOutTicks = 0;
  std::uint8_t cargo = 0;
  std::uint8_t reverseThrust = 0;

  bool isLive() const { return isLiveInternalId(internalId); }
};

// The first throttle or flaps request always sends an event: these mean "none sent yet".
constexpr std::uint32_t kNoThrottleSent = 5;
constexpr std::uint32_t kNoFlapsSent = 4;

struct StaticAircraft : AircraftBase {
  std::uint32_t objectId = 0;  // simulator object; 0 until created
  double standLat = 0.0;       // degrees
  double standLon = 0.0;       // degrees
  double standHeading = 0.0;   // radians
  WeekSlot parkWeekSlot = 0;   // when it was put on its stand; 0 when not parked
  std::uint32_t standId = 0;   // 0 for none
  AircraftState state = AircraftState::Buffer;
  std::uint32_t throttleIndex = kNoThrottleSent;
  std::uint32_t flapsIndex = kNoFlapsSent;
  std::uint8_t cargoStand = 0;
  std::uint8_t removeRequested = 0;  // remove as soon as the object exists
  std::uint8_t finished = 0;         // erase at the end of this tick
  std::uint8_t dropped = 0;          // creation taken back from a spawn queue; erase this tick
};

constexpr std::int32_t kInitialTolerance = 1000;  // ticks

struct LiveAircraft : StaticAircraft {
  PositionBlock position;  // what every tick sends for the object
  std::deque<TrackPoint> trackPoints;  // feed positions still ahead, the next one first
  double feedTime = 0.0;   // feed time stamp (s) of the last accepted record
  std::chrono::system_clock::time_point parkedSince{};
  std::int32_t standRouteState = 0;  // > 0 on a generated stand route, -1 none possible
  GroundPhase phase = GroundPhase::Birth;
  GroundPhase previousPhase = GroundPhase::Birth;
  std::uint8_t onGround = 0;
  std::uint8_t flightPlanWritten = 0;
  std::uint8_t tooClose = 0;

  // ---- movement state ---------------------------------------------------------------------
  // Ground curve: unset while its middle point holds NaN.
  CurveRecord curve{.startLat = 0.0,
                    .startLon = 0.0,
                    .midNorth = std::numeric_limits<double>::quiet_NaN(),
                    .midEast = std::numeric_limits<double>::quiet_NaN(),
                    .endNorth = 0.0,
                    .endEast = 0.0};
  double curveT = 0.0;      // parameter on the curve, 0..0.999999
  double curveTStep = 0.0;  // growth of curveT per tick
  double curveAngle = 0.0;  // degrees
  std::int32_t earlyTolerance = kInitialTolerance;  // ticks a due tick may move earlier
  std::int32_t lateTolerance = kInitialTolerance;   // ticks a due tick may move later
  std::int32_t takeOffCounter = 1;
  // ---- further movement fields (airborne, ground and landing movement) go here; each starts
  // at 0 unless its own code says otherwise, and initLiveAircraft must set that start value.

  double referenceHeading = 0.0;  // radians
  double aglFt = 2500.0;          // height above ground as last reported
  double headingOverride = 0.0;   // radians
  std::uint8_t hasHeadingOverride = 0;

  // Per-tick steps that carry the position block toward the next track point.
  double latStep = 0.0;       // degrees per tick
  double lonStep = 0.0;       // degrees per tick
  double headingStep = 0.0;   // radians per tick
  double bankStep = 0.0;      // radians per tick
  double pitchStep = 0.0;     // radians per tick
  double verticalStep = 0.0;  // feet per tick
  double displayVerticalSpeed = 0.0;  // feet per minute, what the position block reports
  double displayTasKt = 0.0;          // knots, what the position block reports
  double runwayHeading = 0.0;         // radians, the heading at touchdown
  double turnDeltaDeg = 0.0;          // |segment bearing - heading| while turning on the ground
  double holdDistanceNm = 0.0;        // last distance from the push-back end while holding
  double groundScatterM = 0.0;        // how far the feed's ground places scatter, over its latest lines (0: exact)
  double firstStandDistanceNm = 0.0;  // watch on a parked aircraft: first and last distance
  double lastStandDistanceNm = 0.0;
  double previousLat = 0.0;  // position before the last per-tick step (degrees)
  double previousLon = 0.0;
  double lastParkTryLat = 0.0;  // track end at which parking was last tried (degrees)
  double lastParkTryLon = 0.0;
  double flareHeightFt = 0.0;                  // height above the reference at flare start
  std::optional<double> referenceElevationFt;  // park airport elevation taken for the flare
  TrackPoint pendingSidePoint;                 // the push-back turn's other side
  std::chrono::system_clock::time_point standLeaveTime{};
  TickCount holdingSince = 0;
  TickCount pushBackWaitSince = 0;  // the push-back last went on with the feed's push (0: not following it)
  std::deque<TrackPoint> scatterLines;        // the feed's latest lines on the ground, for groundScatterM
  std::optional<TrackPoint> noseLedLine;      // the feed's latest line as followNoses placed it
  bool noseLed = false;                       // ... placed by its noses (not left where it was heard)
  std::vector<TrackPoint> pushBackFeedLines;  // the feed's lines since the push-back began: its pace and place, then its taxi's
  std::vector<TrackPoint> holdLines;          // the feed's move heard while the aircraft holds after its push-back
  std::int32_t landingStage = 0;  // 0..4 through the flare
  std::int32_t pushBackCounter = 0;
  std::int32_t standLeaveCounter = 0;
  std::int32_t movementFailures = 0;  // steps in a row that failed; the aircraft goes at a limit
  std::uint8_t descent = 0;
  std::uint8_t takeOffRoll = 0;
  std::uint8_t landingRoll = 0;
  std::uint8_t landed = 0;
  std::uint8_t derotation = 0;
  std::uint8_t towed = 0;
  std::uint8_t goAroundDone = 0;
  std::uint8_t above10000Configured = 0;
  std::uint8_t below10000Configured = 0;
  std::uint8_t turning = 0;
  std::uint8_t holding = 0;
  std::uint8_t standWatch = 0;
  std::uint8_t departureRequested = 0;
  std::uint8_t pushBackTurn = 0;  // the push-back turns (the feed showed the tug turn)
  std::uint8_t pushBackSide = 0;  // the push-back turns to the side of the pending point
  std::uint8_t pushBackFeedStopped = 0;  // the feed's push has stopped: its later lines are the taxi's
};

// Stand position handed to initStaticAircraft.
struct StandPosition {
  double lat = 0.0;         // degrees
  double lon = 0.0;         // degrees
  double headingRad = 0.0;  // radians
};

// A new AircraftBase from a feed record's text block or another aircraft: texts and flag
// copied, span and size class from the type, per-category values (pitches randomised by
// +-2.5 % and +-5 %).
AircraftBase makeAircraftBase(const AircraftTexts& source);
// Assigns the eight texts and the coupled-search flag.
void copyAircraftBase(AircraftTexts& target, const AircraftTexts& source);
// Moves the texts (the source's are left empty) and copies every other field.
void moveAircraftBase(AircraftBase& target, AircraftBase& source);
StaticAircraft initStaticAircraft(AircraftBase&& base, std::uint32_t standId, const StandPosition& position,
                                  std::uint8_t cargoStand);
LiveAircraft initLiveAircraft(AircraftBase&& base, const TrackPoint& firstPoint, double feedTime);

// Text helpers for log lines and window lists.
std::string typeAirlineText(const AircraftTexts& ac);   // "{:3} {:4}" airline, type
std::string routeText(const AircraftTexts& ac);         // "{:3}->{:3}", eight blanks without both
std::string callsignText(const AircraftTexts& ac);      // "{:8}"
std::string flightText(const AircraftTexts& ac);        // callsign, registration, route
std::string aircraftText(const AircraftTexts& ac);      // flight text, type and airline
std::string aircraftLongText(const AircraftTexts& ac);  // callsign, registration, type and airline
// The key under which an aircraft without a matching livery is remembered.
std::string joinPrefixAndLastField(const AircraftTexts& ac);
std::string& aircraftTextInto(const AircraftTexts& ac, std::string& out);

// The ICAO airline code of a callsign of the form three letters and a digit ("ABC1..."), in
// upper case; none for any other form.
std::optional<std::string> airlineCodeOfCallsign(std::string_view callsign);
// Sets the airline from the callsign when it has the airline form.
bool airlineFromCallsign(AircraftTexts& ac);
// The callsign is usable as an ATC ID: not empty, not "@@@@@@@@", at most 8 characters.
bool checkPlaceholder(const AircraftTexts& ac);
bool sameKeyPair(const AircraftTexts& a, const AircraftTexts& b);
// A real option of a stand that the aircraft may take: by callsign key, or airline and type.
bool recordMatches(std::string_view key, const AircraftTexts& ac, const StandUse& use);

}  // namespace kvo

// The aircraft of the traffic engine, owned by the start-up worker.
extern std::vector<kvo::LiveAircraft> g_liveAircraft;
extern std::vector<kvo::StaticAircraft> g_staticAircraft;
