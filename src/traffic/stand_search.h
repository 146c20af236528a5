#pragma once
// Stand search at the park airport: by position (also for the user aircraft, from the SimConnect
// thread), the nearest free stand that fits an arriving aircraft, and the ranked choice of a
// stand that fits an aircraft's size, kind and the half hour of the week, with the soft options
// planned from it for aircraft near the airport.
//
// Threads: everything but findStandAt runs on the start-up worker, which owns g_parkStands.
// findStandAt reads an immutable snapshot of the stands (names and positions) that the worker
// publishes with parkStandsChanged, so the SimConnect thread never reads g_parkStands itself.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "airports/stand.h"
#include "core/geometry.h"
#include "traffic/aircraft_records.h"
#include "traffic/stand_options.h"

namespace kvo {

// Sizes and distances of the search, in nautical miles.
inline constexpr double kFitToleranceNm = 0.0009719222462203025;  // 1.8 m wider than the stand still fits
inline constexpr double kSmallStepNm = 0.00755939524838013;       // 14 m
inline constexpr double kSmallHalfSpanNm = 0.009611230689557531;  // 17.8 m
inline constexpr double kResizeReachNm = 0.010799136069114472;    // 20 m
inline constexpr double kLargeStepNm = 0.011339092872570195;      // 21 m
inline constexpr double kStandReachNm = 0.029697624190064796;     // 55 m
inline constexpr double kAirlineReachNm = 0.0458963282937365;     // 85 m
inline constexpr double kOneMetreNm = 0.0005399568034557236;
inline constexpr double kParkAirportReachNm = 5.0;
// Of each kind of problem with the stand list (a shared name, no usable radius, out of reach) and
// of aircraft without a wing span, this many are logged one by one; the rest are counted.
inline constexpr std::size_t kProblemLinesLogged = 5;

}  // namespace kvo

// Publishes the stands' names and positions for findStandAt and forgets its cached answer. Every
// code that changes g_parkStands calls it afterwards (worker only).
void parkStandsChanged();

// The first stand with the name; nullptr when none.
kvo::Stand* findStandByName(std::string_view name);
// The stand with the id; nullptr for 0 or an id not in the list.
kvo::Stand* findStandById(std::uint32_t standId);
// Name of the stand nearest to the position within 55 m, else the empty text; empty too while
// the user aircraft has not been reported on the ground. Any thread.
std::string findStandAt(kvo::LatLon position);
// The same search giving the stand's id (0 for none), for the worker's comparisons.
std::uint32_t findStandIdAt(kvo::LatLon position);

// The user's reserved stand, or the stand the user aircraft stands at: no live aircraft takes it.
bool userHoldsStand(const kvo::Stand& stand);

// The nearest free stand within maxDistance that fits the aircraft (a stand within 20 m that is
// too small is taken and enlarged); with wide, a stand up to 85 m away whose real uses match the
// aircraft. nullptr when none.
kvo::Stand* findStandForArrival(kvo::LatLon position, const kvo::AircraftBase& aircraft, double maxDistanceNm,
                                bool wide);
// The fit test of one stand, and the fallback test that takes every free stand of the pass.
void checkStandSizeStatic(const kvo::Stand& stand, kvo::WeekSlot weekSlot, double stepNm,
                          const kvo::AircraftBase& aircraft, std::int32_t& best, std::vector<kvo::StandOption>& options);
void checkStandSizeLive(const kvo::Stand& stand, kvo::WeekSlot weekSlot, const kvo::AircraftBase& aircraft,
                        std::int32_t& best, std::vector<kvo::StandOption>& options);
// Both tests over the passenger stands, gates (ramp clear) or ramps.
void checkStandSize(kvo::WeekSlot weekSlot, bool preferGates, const kvo::AircraftBase& aircraft,
                    std::vector<kvo::StandOption>& options);
// The best stand for the aircraft at the week slot; nullptr when none. Throws gsl::narrowing_error
// for a size difference that is no 32-bit number of steps.
kvo::Stand* collectStandOptions(kvo::WeekSlot weekSlot, const kvo::AircraftBase& aircraft, bool retryNextSlot);

// The stand for a live aircraft created on the ground at the park airport: a copy of it, with
// whatever stood there made to go; none (and, when another aircraft may not be moved, the
// aircraft finished).
std::optional<kvo::Stand> claimStandForArrival(kvo::LiveAircraft& aircraft);

// Soft stand options for aircraft near the park airport; true when one was recorded.
bool planSoftStandOption(kvo::LiveAircraft& aircraft, bool onGround);
bool rebookSoftStandOption(kvo::LiveAircraft& aircraft, kvo::WeekSlot now, bool onGround);

// The findStandAt snapshot and cache, and the problems of the stand list already logged, back to
// their start (tests and a new run).
void resetStandSearch();
