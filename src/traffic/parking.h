#pragma once
// Making way and parking at the park airport: what stands on a stand or next to it goes when a
// live aircraft takes it, the parking of a live aircraft that landed there, its arrival on the
// stand, the stand's cargo mark, and what an active aircraft does when its feed has run out of
// points. Every removal goes through removeAircraftFromSim. Start-up worker only.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "airports/stand.h"
#include "traffic/aircraft_records.h"

namespace kvo {

inline constexpr double kAtStandNm = 0.0010799136069114472;  // 2.0 m: close enough to be parked
inline constexpr double kTryParkNm = 0.010799136069114472;   // 20 m
inline constexpr double kOverlapFactor = 1.1;  // two aircraft overlap when 1.1 x their half spans reach

}  // namespace kvo

// May the stand be taken by an aircraft with this callsign; a live aircraft parked there that
// must give way is removed.
bool resolveCallsignConflict(std::uint32_t standId, std::string_view callsign);
// The position in the list of the first neighbour stand whose live parked aircraft would overlap
// the aircraft on the stand; the list's size when none would.
std::size_t checkAdjacentStands(const std::vector<std::uint32_t>& adjacentIds, const kvo::Stand& stand,
                                const kvo::AircraftBase& aircraft);
void removeAtAdjacentStand(std::uint32_t adjacentId, const kvo::AircraftBase& aircraft, const kvo::Stand& stand);
void makeWayAtExcludedStand(const kvo::AircraftBase& aircraft, std::uint32_t adjacentId, const kvo::Stand& stand);
// The static aircraft on the stand and those overlapping it on its neighbours go.
void makeWayForStand(const kvo::AircraftBase& aircraft, const kvo::Stand& stand);

// A live aircraft that landed at the park airport takes the stand nearest its track's end (55 m
// with wide, else 20 m) and drives onto it.
void try2Park(kvo::LiveAircraft& aircraft, bool wide);
// One step of an aircraft driving onto its stand: parked and shut down once within 2 m of it.
void arriveAtStand(kvo::LiveAircraft& aircraft);
// A cargo aircraft that took its stand as a passenger stand: a cargo mark the stand has since is
// cleared (counted as a stand update and logged).
void setCargoAttribute(kvo::LiveAircraft& aircraft);

// More points when the track is used up: arrival on the stand, holding, or predicted points;
// true when a point was added.
bool continueAtTrackEnd(kvo::LiveAircraft& aircraft);
// Appends one predicted point and keeps count of how many may follow.
void extendTrack(kvo::LiveAircraft& aircraft, std::int32_t count);
