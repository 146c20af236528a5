#pragma once
// The static parking plan: which stands of the park airport get a static parked aircraft at the
// current half hour of the week, and which learned use each one shows, so that the airport looks
// as it looked at this time of the week. The first plan runs when a park airport has been loaded,
// the re-plan every 20 minutes; both fill g_staticCandidates, from which the static aircraft are
// created one at a time (static_aircraft.h).
//
// Start-up worker only: the stands' plan marks and use numbers, the plan's lists and the aircraft
// vectors belong to it. g_liveCallsigns is a copy of what the traffic reader collected.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "airports/stand.h"
#include "traffic/aircraft_records.h"

// One stand to be filled with a static parked aircraft.
struct StaticCandidate {
  std::uint32_t standId = 0;
  std::int32_t fitSteps = 0;  // half hours back at which its use was found; 0: it covers now
  std::string airline;
  std::string type;
  std::string callsign1;
  std::string callsign2;
  std::string registration;
  std::uint8_t continues = 0;  // 1: the use still covers the next half hour (or has one callsign)
};

namespace kvo {

// The passes of a plan: real (observed) uses, then soft (planned) ones.
inline constexpr int kSoftPass = 0;
inline constexpr int kRealPass = 1;

// An active static aircraft that the re-plan keeps.
struct KeptStatic {
  std::string callsign;
  std::string coupledCallsign1;
  std::string coupledCallsign2;
  std::string registration;
  std::string airline;
  std::string type;
  WeekSlot placed = 0;
  std::uint32_t standId = 0;
  std::uint8_t respawn = 0;  // re-created under its second callsign
};

struct LiveParkedEntry {
  std::string callsign;
  std::uint32_t standId = 0;
  std::int32_t minutes = 0;
};

struct StaticRemoval {
  std::string callsign;
  std::uint32_t standId = 0;
};

// Minutes a live aircraft stays parked before the re-plan removes it (INITIAL_LOAD_ONLY off).
inline constexpr std::int32_t kLiveParkedMinutes = 90;
inline constexpr std::int32_t kHeavyParkedMinutes = 180;
// Half hours around now in which the coupled-callsign search looks.
inline constexpr std::uint32_t kCoupledWindow = 10;
inline constexpr std::uint32_t kHeavyCoupledWindow = 14;

}  // namespace kvo

// The plan's stands still to be filled, best fit last.
extern std::vector<StaticCandidate> g_staticCandidates;
extern std::vector<kvo::KeptStatic> g_keptStatics;
extern std::vector<kvo::LiveParkedEntry> g_liveParked;
extern std::vector<kvo::StaticRemoval> g_staticRemovals;
// The callsigns the traffic reader saw since the plan asked it to collect them.
extern std::unordered_set<std::string> g_liveCallsigns;
// Fit steps the last real pass reached (0 before one ran) and the soft pass (-1 when none ran).
extern std::int32_t g_realFitSteps;
extern std::int32_t g_softFitSteps;

// The first plan of a newly loaded park airport.
void reportStaticParking();
// The periodic re-plan: static aircraft that no longer fit go, missing ones become candidates.
void adjustParking();
// The real pass, then the soft pass when PARK_SOFT or PARK_FAKE allows it and more are wanted.
void calculateStaticParking(kvo::WeekSlot now, std::int64_t wanted, std::int64_t alreadyParked);
void fitStaticPositionsAllModes(kvo::WeekSlot now, std::int64_t wanted, std::int64_t alreadyParked, int mode);
// Widens the fit one half hour at a time up to MAX_FIT; true when enough stands are taken (the
// last round's batch is then left to the caller).
bool fitStaticPositions(kvo::WeekSlot now, int mode, std::int64_t wanted, std::vector<StaticCandidate>& batch);
// One search over all stands at one fit step.
void lf_searchStands(kvo::WeekSlot now, int mode, std::int32_t fitSteps, std::vector<StaticCandidate>& batch);
// The number of parked aircraft wanted; sets the window's wanted count and percentage.
std::int64_t wantedStaticCount();
// Logs the time of the week; g_currentWeekSlot.
kvo::WeekSlot describeParkTime();
// The two callsigns the aircraft's airframe flies around this time, from the stands' uses.
void lf_searchForCoupledCsAroundThisTime(kvo::LiveAircraft& aircraft, kvo::WeekSlot now);
// g_liveCallsigns = what the traffic reader collected; the collecting stops.
void snapshotLiveCallsigns();

// Steps of the plan.
void clearPlanMarks();
void blockReservedAndUserStands();
// The text is a live callsign (also with a trailing "_").
bool isLiveCallsign(std::string_view callsign);
void collectLiveParked();
void reconcileStaticAircraft(kvo::WeekSlot now);
void trimParkingSurplus(std::int64_t wanted);

// The plan's lists and fit results emptied for a new park airport.
void resetStaticParkingPass();
