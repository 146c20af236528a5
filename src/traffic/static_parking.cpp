// The static parking plan: the stands' learned uses at the current half hour of the week turned
// into candidates for static parked aircraft, and the periodic re-plan that keeps, replaces and
// adds static aircraft as the week moves on.
#include "traffic/static_parking.h"

#include <fmt/format.h>
#include <gsl/gsl>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <unordered_map>

#include "aircraft/aircraft_types.h"
#include "airports/park_stands.h"
#include "core/geometry.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/timeutil.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
// The window's plan values and the current week slot belong to the shared display and run state.
#include "shared_state/main_window.h"
#include "shared_state/run_clock.h"
#include "traffic/park_airports.h"
#include "traffic/park_limits.h"
#include "traffic/stand_options.h"
#include "traffic/stand_search.h"
#include "traffic/static_aircraft.h"
#include "traffic/traffic_engine.h"

using kvo::AircraftState;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::Stand;
using kvo::StandUse;
using kvo::StaticAircraft;
using kvo::WeekSlot;

std::vector<StaticCandidate> g_staticCandidates;
std::vector<kvo::KeptStatic> g_keptStatics;
std::vector<kvo::LiveParkedEntry> g_liveParked;
std::vector<kvo::StaticRemoval> g_staticRemovals;
std::unordered_set<std::string> g_liveCallsigns;
std::int32_t g_realFitSteps = 0;
std::int32_t g_softFitSteps = -1;

namespace {

constexpr std::size_t kBatchRoom = 512;
constexpr std::size_t kQualifyingRoom = 256;
constexpr std::int32_t kMaxFitSteps = 47;

constexpr std::uint64_t slotBit(std::uint32_t slot) { return slot < 64 ? std::uint64_t{1} << slot : 0; }
bool hasSlot(const StandUse& use, std::uint32_t slot) { return (use.halfHours & slotBit(slot)) != 0; }
// Bits lo..hi (both within 0..47).
constexpr std::uint64_t slotRange(std::uint32_t lo, std::uint32_t hi) {
  return lo > hi ? 0 : ((std::uint64_t{2} << hi) - 1) & ~((std::uint64_t{1} << lo) - 1);
}

// Two callsigns name the same flight only when both are set.
bool sameCallsign(std::string_view a, std::string_view b) { return !a.empty() && a == b; }
bool callsignOfUse(std::string_view callsign, const StandUse& use) {
  return sameCallsign(callsign, use.callsign) || sameCallsign(callsign, use.secondCallsign);
}
// A static aircraft is known to the simulator, and its answers are paired with it, by the ATC id
// made of its callsign (staticCallsign): "DLH" and "DLH__" are one aircraft there, so static
// callsigns are compared in that form only.
std::string atcIdOf(std::string_view callsign) { return callsign.empty() ? std::string() : staticCallsign(callsign); }
bool showsCallsign(std::string_view callsign, std::string_view atcId) {
  return !callsign.empty() && staticCallsign(callsign) == atcId;
}
bool sameAirlineAndType(const StandUse& use, std::string_view airline, std::string_view type) {
  return use.airline == airline && use.type == type;
}

std::size_t takenStandCount() {
  return static_cast<std::size_t>(
      std::count_if(g_parkStands.begin(), g_parkStands.end(), [](const Stand& s) { return s.taken != 0; }));
}

void takeStand(Stand& stand) {
  stand.taken = 1;
  for (std::uint32_t id : stand.adjacentIds) {
    if (Stand* n = findStandById(id)) n->neighbourTaken = 1;
  }
}

// What the searches of one plan look up again and again, gathered once: the first active static
// aircraft on each stand (the neighbour spacing test), the airframes and callsigns already shown
// or planned (the taken test), and per stand the half hours its uses can offer on each weekday,
// learned at its first full look (every later round skips a stand that cannot offer the target).
struct StandOffer {
  bool known = false;
  std::array<std::uint64_t, 8> real{};  // by weekday; [0] all days
  std::array<std::uint64_t, 8> soft{};
};

struct PlanContext {
  std::unordered_map<std::uint32_t, const StaticAircraft*> staticsByStand;
  // ATC ids, not empty: those the static aircraft show and those of their first coupled callsigns.
  std::unordered_set<std::string> staticCallsigns;
  std::unordered_set<std::string> staticRegistrations;  // an empty one too: two empty ones are equal
  // ATC ids, not empty: those the candidates will show and those of their first callsigns.
  std::unordered_set<std::string> plannedCallsigns;
  std::unordered_set<std::string> plannedRegistrations;
  std::vector<StandOffer> offers;

  void open() {
    staticsByStand.clear();
    staticCallsigns.clear();
    staticRegistrations.clear();
    for (const StaticAircraft& s : g_staticAircraft) {
      if (s.state == AircraftState::Active && s.standId != 0) staticsByStand.emplace(s.standId, &s);
      if (!s.coupledCallsign1.empty()) staticCallsigns.insert(atcIdOf(s.coupledCallsign1));
      if (!s.callsign.empty()) staticCallsigns.insert(s.callsign);
      staticRegistrations.insert(s.registration);
    }
    offers.assign(g_parkStands.size(), StandOffer{});
    indexCandidates({});
  }
  void plan(const StaticCandidate& c) {
    // Without a first callsign the aircraft gets its airline and an internal id when it is made.
    if (!c.callsign1.empty()) {
      plannedCallsigns.insert(atcIdOf(c.callsign1));
      plannedCallsigns.insert(lf_detcs(c));
    }
    plannedRegistrations.insert(c.registration);
  }
  void indexCandidates(const std::vector<StaticCandidate>& batch) {
    plannedCallsigns.clear();
    plannedRegistrations.clear();
    for (const StaticCandidate& c : g_staticCandidates) plan(c);
    for (const StaticCandidate& c : batch) plan(c);
  }
};

PlanContext g_plan;
bool g_planOpen = false;  // calculateStaticParking keeps the context for all its rounds

// Opens the context for one plan, or for a single search made outside one.
class PlanScope {
 public:
  PlanScope() : owner_(!g_planOpen) {
    if (owner_) {
      g_plan.open();
      g_planOpen = true;
    }
  }
  ~PlanScope() {
    if (owner_) g_planOpen = false;
  }
  PlanScope(const PlanScope&) = delete;
  PlanScope& operator=(const PlanScope&) = delete;

 private:
  bool owner_;
};

bool anyIn(const std::unordered_set<std::string>& set, const std::string& text) {
  return !text.empty() && set.contains(text);
}

// The use is shown or about to be shown elsewhere, or flies live: by registration (the same
// airframe), by a live callsign, by an aircraft's or a candidate's ATC id, by a live parked
// aircraft's callsign. Callsigns count only when both are set.
bool isUseTaken(const StandUse& use) {
  if (isLiveCallsign(use.callsign) || isLiveCallsign(use.secondCallsign)) return true;
  const std::string id1 = atcIdOf(use.callsign);
  const std::string id2 = atcIdOf(use.secondCallsign);
  if (anyIn(g_plan.staticCallsigns, id1) || anyIn(g_plan.staticCallsigns, id2) ||
      g_plan.staticRegistrations.contains(use.key)) {
    return true;
  }
  if (anyIn(g_plan.plannedCallsigns, id1) || anyIn(g_plan.plannedCallsigns, id2) ||
      g_plan.plannedRegistrations.contains(use.key)) {
    return true;
  }
  return std::any_of(g_liveParked.begin(), g_liveParked.end(),
                     [&](const kvo::LiveParkedEntry& e) { return callsignOfUse(e.callsign, use); });
}

// The use's type fits beside the active static aircraft on the stand's neighbours.
bool clearOfNeighbours(const Stand& stand, const StandUse& use) {
  if (g_plan.staticsByStand.empty()) return true;
  double halfSpan = -1.0;
  for (std::uint32_t id : stand.adjacentIds) {
    const auto it = g_plan.staticsByStand.find(id);
    if (it == g_plan.staticsByStand.end()) continue;
    if (halfSpan < 0.0) halfSpan = getWingspan(use.type);
    const StaticAircraft& s = *it->second;
    if (halfSpan + s.halfSpanNm > distanceNm(s.standLat, s.standLon, stand.latitude, stand.longitude)) return false;
  }
  return true;
}

void learnOffer(StandOffer& offer, const StandUse& u) {
  if (u.number == 0 || u.weekday > 7) return;
  // The real pass takes every use but the soft ones, the soft pass every use but the real ones.
  if (u.real != 0) {
    offer.real[u.weekday] |= u.halfHours;
    offer.real[0] |= u.halfHours;
  }
  if (u.real != 1) {
    offer.soft[u.weekday] |= u.halfHours;
    offer.soft[0] |= u.halfHours;
  }
}

// False when the stand surely has no use for the pass at the weekday (0: any) and half hour.
bool mayOffer(const StandOffer& offer, int mode, std::uint32_t day, std::uint64_t bit) {
  if (!offer.known || day > 7 || (mode != kvo::kRealPass && mode != kvo::kSoftPass)) return true;
  return ((mode == kvo::kRealPass ? offer.real : offer.soft)[day] & bit) != 0;
}

// The stand's use of that number; the first one wins.
StandUse* useByNumber(Stand& stand, std::int32_t number) {
  const auto it = std::find_if(stand.uses.begin(), stand.uses.end(),
                               [number](const StandUse& u) { return u.number >= 1 && u.number == number; });
  return it == stand.uses.end() ? nullptr : &*it;
}

// RANDOM: the use of the static aircraft that stands here goes first, so that it stays; else the
// choices are shuffled.
void orderStandUses(const Stand& stand, std::vector<std::int32_t>& numbers) {
  const auto here = std::find_if(g_staticAircraft.begin(), g_staticAircraft.end(),
                                 [&](const StaticAircraft& s) { return s.standId == stand.id; });
  if (here != g_staticAircraft.end()) {
    for (const StandUse& u : stand.uses) {
      const bool shown = showsCallsign(u.callsign, here->callsign) || showsCallsign(u.secondCallsign, here->callsign);
      if (shown && sameAirlineAndType(u, here->airline, here->type)) {
        numbers.front() = u.number;
        return;
      }
    }
  }
  std::shuffle(numbers.begin(), numbers.end(), threadRandomEngine());
}

// The stand holds a use of the airline and type that starts the day (slot 0).
bool continuesNextDay(const Stand& stand, const StandUse& use, std::uint32_t day) {
  return std::any_of(stand.uses.begin(), stand.uses.end(), [&](const StandUse& u) {
    return u.number >= 1 && u.weekday == day && sameAirlineAndType(u, use.airline, use.type) && hasSlot(u, 0);
  });
}

// The use still covers the half hour after now.
bool useContinues(const Stand& stand, const StandUse& use, WeekSlot now) {
  const WeekSlot next = kvo::nextWeekSlot(now);
  if (kvo::weekSlotDay(next) == kvo::weekSlotDay(now)) return hasSlot(use, kvo::weekSlotHalfHour(next));
  return continuesNextDay(stand, use, kvo::weekSlotDay(next));
}

std::string fitHoursText(std::int32_t steps) { return formatNumber(steps * 0.5 + 0.5); }

std::string_view weekdayName(std::uint32_t day) {
  static constexpr std::string_view kNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  return day >= 1 && day <= 7 ? kNames[day - 1] : "???";
}

void sortByFit(bool smallestFirst) {
  std::stable_sort(g_staticCandidates.begin(), g_staticCandidates.end(),
                   [smallestFirst](const StaticCandidate& a, const StaticCandidate& b) {
                     return smallestFirst ? a.fitSteps < b.fitSteps : a.fitSteps > b.fitSteps;
                   });
}

void renumberUses() {
  for (Stand& s : g_parkStands) {
    std::int32_t n = 0;
    for (StandUse& u : s.uses) u.number = ++n;
  }
}

// A live aircraft that stood there through the feed's gap: its extension holds it on the stand.
bool heldAtStand(const LiveAircraft& a) { return a.standRouteState != 0; }

void addKeptStatic(const StaticAircraft& s, std::uint8_t respawn) {
  g_keptStatics.push_back(kvo::KeptStatic{s.callsign, s.coupledCallsign1, s.coupledCallsign2, s.registration,
                                          s.airline, s.type, s.parkWeekSlot, s.standId, respawn});
}

void addRemoval(const std::string& callsign, std::uint32_t standId) {
  g_staticRemovals.push_back(kvo::StaticRemoval{callsign, standId});
}

// A newer use on the stand (begun after the aircraft was placed) replaces it; else it stays and
// the candidate goes.
void keepOrReplaceStatic(const StaticAircraft& s, std::size_t candidate) {
  const WeekSlot useStart = kvo::weekSlotBack(g_currentWeekSlot.load(), g_staticCandidates[candidate].fitSteps);
  if (kvo::weekSlotIndex(useStart) > kvo::weekSlotIndex(s.parkWeekSlot)) {
    addRemoval(s.callsign, s.standId);
    return;
  }
  addKeptStatic(s, 0);
  g_staticCandidates.erase(g_staticCandidates.begin() + static_cast<std::ptrdiff_t>(candidate));
}

bool showsUse(const StaticAircraft& s, const StandUse& u) {
  return sameAirlineAndType(u, s.airline, s.type) && u.key == s.registration;
}

// A use of the aircraft on its stand on the weekday in one of the half hours.
bool showsUseIn(const Stand& stand, const StaticAircraft& s, std::uint32_t day, std::uint64_t halfHours) {
  return std::any_of(stand.uses.begin(), stand.uses.end(), [&](const StandUse& u) {
    return u.weekday == day && showsUse(s, u) && (u.halfHours & halfHours) != 0;
  });
}

std::ptrdiff_t candidateForStand(std::uint32_t standId) {
  const auto it = std::find_if(g_staticCandidates.begin(), g_staticCandidates.end(),
                               [standId](const StaticCandidate& c) { return c.standId == standId; });
  return it == g_staticCandidates.end() ? -1 : it - g_staticCandidates.begin();
}

void reconcileOne(const StaticAircraft& s, WeekSlot now) {
  if ((!s.coupledCallsign1.empty() && g_liveCallsigns.contains(s.coupledCallsign1)) ||
      (!s.coupledCallsign2.empty() && g_liveCallsigns.contains(s.coupledCallsign2))) {
    addRemoval(s.callsign, s.standId);  // the flight is live traffic now
    return;
  }
  if (const std::ptrdiff_t c = candidateForStand(s.standId); c >= 0) {
    const StaticCandidate& candidate = g_staticCandidates[static_cast<std::size_t>(c)];
    const bool same = candidate.airline == s.airline && candidate.type == s.type &&
                      (showsCallsign(candidate.callsign1, s.callsign) || showsCallsign(candidate.callsign2, s.callsign));
    if (same) {
      addKeptStatic(s, 0);
      g_staticCandidates.erase(g_staticCandidates.begin() + c);
    } else {
      keepOrReplaceStatic(s, static_cast<std::size_t>(c));
    }
    return;
  }
  const Stand* stand = findStandById(s.standId);
  if (stand == nullptr) {
    addRemoval(s.callsign, s.standId);
    return;
  }
  for (std::uint32_t id : stand->adjacentIds) {
    const std::ptrdiff_t c = candidateForStand(id);
    const Stand* neighbour = findStandById(id);
    if (c < 0 || neighbour == nullptr) continue;
    const double reach = s.halfSpanNm + getWingspan(g_staticCandidates[static_cast<std::size_t>(c)].type);
    if (reach > distanceNm(s.standLat, s.standLon, neighbour->latitude, neighbour->longitude)) {
      keepOrReplaceStatic(s, static_cast<std::size_t>(c));
      return;
    }
  }
  const std::int32_t fit = std::min(std::max(g_realFitSteps, g_softFitSteps), kMaxFitSteps);
  const auto slot = static_cast<std::int32_t>(kvo::weekSlotHalfHour(now));
  // Its use lies in the slots from now back by fit, today or, where the window reaches into
  // yesterday, in yesterday's last half hours.
  const std::uint32_t today = kvo::weekSlotDay(now);
  bool fits = showsUseIn(*stand, s, today, slotRange(static_cast<std::uint32_t>(std::max(slot - fit, 0)),
                                                     static_cast<std::uint32_t>(slot)));
  if (!fits && slot - fit < 0) {
    const auto reach = static_cast<std::uint32_t>(std::min(fit - slot, 46));
    fits = showsUseIn(*stand, s, kvo::previousWeekday(today), slotRange(47 - reach, 47));
  }
  if (fits) {
    addKeptStatic(s, 0);
  } else {
    addRemoval(s.callsign, s.standId);
  }
}

// An aircraft shown under its first callsign is re-created under its second for the last half
// hour of its use.
void setRespawnFlags(WeekSlot now) {
  const std::uint32_t today = kvo::weekSlotDay(now);
  for (kvo::KeptStatic& k : g_keptStatics) {
    if (k.coupledCallsign2.empty() || !showsCallsign(k.coupledCallsign1, k.callsign)) continue;
    const Stand* stand = findStandById(k.standId);
    if (stand == nullptr) continue;
    // Whatever its number: this plan's search has switched off the use the aircraft itself shows.
    const auto use = std::find_if(stand->uses.begin(), stand->uses.end(), [&](const StandUse& u) {
      return u.weekday == today && showsCallsign(u.callsign, k.callsign) && sameAirlineAndType(u, k.airline, k.type);
    });
    if (use == stand->uses.end()) continue;
    k.respawn = useContinues(*stand, *use, now) ? 0 : 1;
  }
}

// The first live aircraft on the stand goes.
void removeLiveOnStand(std::uint32_t standId) {
  const auto it = std::find_if(g_liveAircraft.begin(), g_liveAircraft.end(),
                               [standId](const LiveAircraft& a) { return a.standId == standId; });
  if (it != g_liveAircraft.end()) removeAircraftFromSim(*it);
}

}  // namespace

// ---- the search ---------------------------------------------------------------------------------

bool isLiveCallsign(std::string_view callsign) {
  if (callsign.empty() || g_liveCallsigns.empty()) return false;
  std::string text(callsign);
  if (g_liveCallsigns.contains(text)) return true;
  text += '_';
  return g_liveCallsigns.contains(text);
}

void lf_searchStands(WeekSlot now, int mode, std::int32_t fitSteps, std::vector<StaticCandidate>& batch) {
  const WeekSlot target = kvo::weekSlotBack(now, fitSteps);
  const std::uint32_t day = kvo::weekSlotDay(target);
  const std::uint64_t bit = slotBit(kvo::weekSlotHalfHour(target));
  try {
    const PlanScope scope;
    if (g_plan.offers.size() != g_parkStands.size()) g_plan.offers.assign(g_parkStands.size(), StandOffer{});
    const bool anyDay = WEEK.value();
    const bool helicopters = HELICOPTERS.value();
    const bool random = RANDOM.value();
    std::vector<std::int32_t> numbers;
    numbers.reserve(kQualifyingRoom);
    for (std::size_t i = 0; i < g_parkStands.size(); ++i) {
      Stand& stand = g_parkStands[i];
      if (stand.taken != 0 || stand.blocked != 0 || stand.neighbourTaken != 0) continue;
      if (stand.heli != 0 && !helicopters) continue;
      StandOffer& offer = g_plan.offers[i];
      if (!mayOffer(offer, mode, anyDay ? 0 : day, bit)) continue;
      numbers.clear();
      const bool learn = !offer.known;
      for (const StandUse& u : stand.uses) {
        if (learn) learnOffer(offer, u);
        if (u.number == 0 || (u.halfHours & bit) == 0 || (!anyDay && u.weekday != day)) continue;
        if ((mode == kvo::kRealPass && u.real == 0) || (mode == kvo::kSoftPass && u.real == 1)) continue;
        if (clearOfNeighbours(stand, u)) numbers.push_back(u.number);
      }
      offer.known = true;
      if (numbers.empty()) continue;
      if (numbers.size() >= 2 && random) orderStandUses(stand, numbers);
      StandUse* use = useByNumber(stand, numbers.front());
      if (use == nullptr) continue;
      if (isUseTaken(*use)) {
        use->number = 0;  // off until the next re-plan renumbers the uses
        continue;
      }
      const std::uint8_t continues = use->secondCallsign.empty() || useContinues(stand, *use, now) ? 1 : 0;
      batch.push_back(StaticCandidate{stand.id, fitSteps, use->airline, use->type, use->callsign, use->secondCallsign,
                                      use->key, continues});
      g_plan.plan(batch.back());
      takeStand(stand);
    }
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: day: {}, offset {}: {}", "lf_searchStands",
                             fmt::format("[{},{}]", day, kvo::weekSlotHalfHour(target)), fitSteps, e.what()));
  }
}

bool fitStaticPositions(WeekSlot now, int mode, std::int64_t wanted, std::vector<StaticCandidate>& batch) {
  if (wanted == 0) return true;
  const PlanScope scope;
  g_plan.indexCandidates(batch);
  const std::size_t before = takenStandCount();
  const std::int32_t maxFit = MAX_FIT.value();
  std::int32_t k = 0;
  bool enough = false;
  for (;;) {
    lf_searchStands(now, mode, k, batch);
    if (static_cast<std::int64_t>(takenStandCount()) >= wanted) {
      enough = true;
      break;
    }
    g_staticCandidates.insert(g_staticCandidates.end(), std::make_move_iterator(batch.begin()),
                              std::make_move_iterator(batch.end()));
    batch.clear();
    ++k;
    if (k > maxFit) break;
  }
  const std::size_t found = takenStandCount() - before;
  if (mode == kvo::kRealPass) {
    g_realFitSteps = k;
    g_softFitSteps = -1;
  } else {
    g_softFitSteps = k;
  }
  g_mainWindow.softStaticParking = mode == kvo::kSoftPass && found >= 1;
  g_mainWindow.invalidate(g_statisticsRect);
  if (found >= 1) {
    const std::uint32_t slot = kvo::weekSlotHalfHour(now);
    logLine(fmt::format("{} {} position{} found, Max fit={} hours{}{}", found,
                        mode == kvo::kRealPass ? "real" : "soft", pluralSuffix(found), fitHoursText(maxFit),
                        WEEK.value() ? std::string(", week") : fmt::format(", day {}", kvo::weekSlotDay(now)),
                        fmt::format(", hh:{} or {} hrs, fit: {} hour", slot, fitHoursText(static_cast<std::int32_t>(slot)),
                                    fitHoursText(k))));
  }
  return enough;
}

void fitStaticPositionsAllModes(WeekSlot now, std::int64_t wanted, std::int64_t alreadyParked, int mode) {
  std::vector<StaticCandidate> batch;
  batch.reserve(kBatchRoom);
  if (fitStaticPositions(now, mode, wanted, batch)) {
    if (RANDOM.value() && batch.size() >= 2) std::shuffle(batch.begin(), batch.end(), threadRandomEngine());
    g_staticCandidates.insert(g_staticCandidates.end(), std::make_move_iterator(batch.begin()),
                              std::make_move_iterator(batch.end()));
  }
  // The surplus comes off the end: the final (shuffled) round. Its stands stay taken.
  const std::int64_t size = static_cast<std::int64_t>(g_staticCandidates.size());
  const std::int64_t excess = size + alreadyParked - wanted;
  if (excess >= 1 && excess <= size) g_staticCandidates.resize(static_cast<std::size_t>(size - excess));
}

void calculateStaticParking(WeekSlot now, std::int64_t wanted, std::int64_t alreadyParked) {
  const PlanScope scope;
  g_realFitSteps = 0;
  g_softFitSteps = -1;
  fitStaticPositionsAllModes(now, wanted, alreadyParked, kvo::kRealPass);
  const auto planned = static_cast<std::int64_t>(g_staticCandidates.size()) + alreadyParked;
  if (wanted > planned && (PARK_SOFT.value() || PARK_FAKE.value())) {
    fitStaticPositionsAllModes(now, wanted, alreadyParked, kvo::kSoftPass);
  }
}

std::int64_t wantedStaticCount() {
  if (MAX_PARK_SEL.value() <= 0) {
    g_mainWindow.wantedParkCount = 0;
    g_mainWindow.wantedParkPercent = parking_percentage.value();
    g_mainWindow.invalidate(g_statisticsRect);
    return 0;
  }
  const std::int32_t p =
      CUSTOM_PARKING_PERCENTAGE.value() >= 0 ? CUSTOM_PARKING_PERCENTAGE.value() : parking_percentage.value();
  const auto n = static_cast<std::int64_t>(g_parkStands.size());
  std::int32_t w = 1;
  if (n > 1 && (n > 3 || p >= 50)) w = gsl::narrow<std::int32_t>(std::round(static_cast<double>(p) * n / 100.0));
  const std::int32_t result = std::min(MAX_PARK_SEL.value(), w);
  g_mainWindow.wantedParkCount = result;
  g_mainWindow.wantedParkPercent = percentOf(result, gsl::narrow<int>(n));
  g_mainWindow.invalidate(g_statisticsRect);
  return result;
}

WeekSlot describeParkTime() {
  const WeekSlot now = g_currentWeekSlot.load();
  const std::uint32_t day = kvo::weekSlotDay(now);
  logLine(fmt::format("\n{} (utc) It is day {} ({}), {} hours", simTimeText(), day, weekdayName(day),
                      fitHoursText(static_cast<std::int32_t>(kvo::weekSlotHalfHour(now)))));
  return now;
}

void snapshotLiveCallsigns() {
  g_liveCallsigns.clear();
  g_liveCallsigns = g_trafficReader.takeCollectedCallsigns();
}

void clearPlanMarks() {
  for (Stand& s : g_parkStands) {
    s.taken = 0;
    s.blocked = 0;
    s.neighbourTaken = 0;
  }
}

void blockReservedAndUserStands() {
  if (!g_reservedStand.empty()) {
    if (Stand* s = findStandByName(g_reservedStand)) s->blocked = 1;
  }
  const kvo::UserAircraftData user = g_userAircraftSnapshot;
  Stand* under = findStandById(findStandIdAt(kvo::LatLon{user.lat, user.lon}));
  if (under != nullptr && under->name != g_reservedStand) under->blocked = 1;
}

// ---- the first plan -----------------------------------------------------------------------------

void reportStaticParking() {
  const WeekSlot now = describeParkTime();
  g_mainWindow.showMessage("Making changes to airport parking parameters is disabled while static parking takes place ...",
                           false);
  g_staticCandidates.clear();
  g_keptStatics.clear();
  g_liveParked.clear();
  g_mainWindow.staticAverageHours = -1.0f;
  g_mainWindow.liveAverageHours = -1.0f;
  g_mainWindow.softStaticParking = false;
  g_mainWindow.invalidate(g_statisticsRect);
  snapshotLiveCallsigns();
  clearPlanMarks();
  blockReservedAndUserStands();
  const std::int64_t wanted = wantedStaticCount();
  if (wanted > 0) calculateStaticParking(now, wanted, 0);
  sortByFit(true);
  if (static_cast<std::int64_t>(g_staticCandidates.size()) > wanted) {
    g_staticCandidates.resize(static_cast<std::size_t>(std::max<std::int64_t>(wanted, 0)));
  }
  if (g_staticCandidates.empty()) {
    logLine("no parking positions found");
    enableControlsAfterStaticParking();
    return;
  }
  const int count = gsl::narrow<int>(g_staticCandidates.size());
  logLine(fmt::format("{} positions ({}% vs wanted {}%, with Max fit={} hours)\n", count,
                      percentOf(count, gsl::narrow<int>(g_parkStands.size())), parking_percentage.value(),
                      fitHoursText(MAX_FIT.value())));
  // Taken from the end: best fit first.
  sortByFit(false);
  disableControlsForStaticParking();
}

// ---- the re-plan --------------------------------------------------------------------------------

void collectLiveParked() {
  g_liveParked.clear();
  const auto now = kvo::utcNow();
  const bool initialLoadOnly = INITIAL_LOAD_ONLY.value();
  for (LiveAircraft& a : g_liveAircraft) {
    if (a.phase != GroundPhase::Parked || a.state != AircraftState::Active) continue;
    std::int32_t minutes = 0;
    if (!heldAtStand(a)) {
      minutes = static_cast<std::int32_t>(std::chrono::duration_cast<std::chrono::minutes>(now - a.parkedSince).count());
      const std::int32_t limit = a.sizeCategory == Heavy ? kvo::kHeavyParkedMinutes : kvo::kLiveParkedMinutes;
      if (!initialLoadOnly && minutes > limit) {
        removeAircraftFromSim(a);
        continue;
      }
    }
    g_liveParked.push_back(kvo::LiveParkedEntry{a.callsign, a.standId, minutes});
  }
  std::stable_sort(g_liveParked.begin(), g_liveParked.end(),
                   [](const kvo::LiveParkedEntry& a, const kvo::LiveParkedEntry& b) { return a.minutes < b.minutes; });
}

void reconcileStaticAircraft(WeekSlot now) {
  for (const StaticAircraft& s : g_staticAircraft) {
    if (s.state == AircraftState::Active) reconcileOne(s, now);
  }
  std::stable_sort(g_keptStatics.begin(), g_keptStatics.end(), [](const kvo::KeptStatic& a, const kvo::KeptStatic& b) {
    return kvo::weekSlotIndex(a.placed) > kvo::weekSlotIndex(b.placed);
  });
  setRespawnFlags(now);
}

void trimParkingSurplus(std::int64_t wanted) {
  std::int64_t surplus = static_cast<std::int64_t>(g_staticCandidates.size() + g_keptStatics.size() + g_liveParked.size()) -
                         wanted;
  while (surplus >= 1) {
    if (!g_staticCandidates.empty()) {
      g_staticCandidates.pop_back();
    } else if (!g_keptStatics.empty()) {
      addRemoval(g_keptStatics.back().callsign, g_keptStatics.back().standId);
      g_keptStatics.pop_back();
    } else if (!g_liveParked.empty() && wanted >= 1) {
      // Without a maximum (static parking off) live parked aircraft are never trimmed.
      removeLiveOnStand(g_liveParked.back().standId);
      g_liveParked.pop_back();
    } else {
      break;
    }
    --surplus;
  }
}

void adjustParking() {
  const WeekSlot now = describeParkTime();
  snapshotLiveCallsigns();
  disableControlsForStaticParking();
  g_mainWindow.softStaticParking = false;
  g_mainWindow.invalidate(g_statisticsRect);
  g_staticRemovals.clear();
  g_keptStatics.clear();
  g_liveParked.clear();
  g_staticCandidates.clear();
  clearPlanMarks();
  renumberUses();
  blockReservedAndUserStands();
  const std::int64_t wanted = wantedStaticCount();
  collectLiveParked();
  const auto parked = static_cast<std::int64_t>(g_liveParked.size());
  if (wanted >= 1 && parked > wanted) {
    g_mainWindow.showMessage(fmt::format("Parking adjustments: {} more live ac than wanted", parked - wanted), true);
    removeLiveParked(static_cast<std::uint64_t>(parked - wanted));
    collectLiveParked();
  }
  for (const kvo::LiveParkedEntry& e : g_liveParked) {
    if (Stand* s = findStandById(e.standId)) takeStand(*s);
  }
  const auto alreadyParked = static_cast<std::int64_t>(g_liveParked.size());
  if (wanted != alreadyParked) calculateStaticParking(now, wanted, alreadyParked);
  reconcileStaticAircraft(now);
  // The kept aircraft in the last half hour of their use come back under their second callsign.
  for (const kvo::KeptStatic& k : g_keptStatics) {
    if (k.respawn == 0) continue;
    g_staticCandidates.push_back(StaticCandidate{k.standId, static_cast<std::int32_t>(kvo::weekSlotHalfHour(k.placed)),
                                                 k.airline, k.type, k.coupledCallsign1, k.coupledCallsign2,
                                                 k.registration, 0});
    addRemoval(k.callsign, k.standId);
  }
  std::erase_if(g_keptStatics, [](const kvo::KeptStatic& k) { return k.respawn != 0; });
  trimParkingSurplus(wanted);
  sortByFit(false);
  g_mainWindow.showMessage(
      fmt::format("Parking adjustments: {} to be removed, {} to be added", g_staticRemovals.size(), g_staticCandidates.size()),
      true);
  for (const kvo::StaticRemoval& r : g_staticRemovals) {
    const auto it = std::find_if(g_staticAircraft.begin(), g_staticAircraft.end(),
                                 [&r](const StaticAircraft& s) { return s.standId == r.standId; });
    if (it != g_staticAircraft.end() &&
        (it->state == AircraftState::Active || it->state == AircraftState::RemovingFromSim)) {
      removeAircraftFromSim(*it);
    }
  }
  g_staticRemovals.clear();
  if (!g_staticCandidates.empty()) disableControlsForStaticParking();
}

// ---- coupled callsigns of a live aircraft -------------------------------------------------------

void lf_searchForCoupledCsAroundThisTime(LiveAircraft& aircraft, WeekSlot now) {
  try {
    const std::uint32_t w = aircraft.sizeCategory == Heavy ? kvo::kHeavyCoupledWindow : kvo::kCoupledWindow;
    const std::uint32_t slot = kvo::weekSlotHalfHour(now);
    const std::uint64_t mask = slotRange(slot > w ? slot - w : 0, std::min(slot + w, 47u));
    std::string_view callsign = aircraft.callsign;
    if (!callsign.empty() && callsign.back() == '_') callsign.remove_suffix(1);
    const std::uint32_t today = kvo::weekSlotDay(now);
    for (const Stand& s : g_parkStands) {
      for (const StandUse& u : s.uses) {
        if (u.number == 0 || u.weekday != today || (u.halfHours & mask) == 0 || u.airline != aircraft.airline ||
            u.secondCallsign.empty() || !callsignOfUse(callsign, u)) {
          continue;
        }
        aircraft.coupledCallsign1 = u.callsign;
        aircraft.coupledCallsign2 = u.secondCallsign;
        return;
      }
    }
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: {}", "lf_searchForCoupledCsAroundThisTime", e.what()));
  }
}

void resetStaticParkingPass() {
  g_staticCandidates.clear();
  g_keptStatics.clear();
  g_liveParked.clear();
  g_staticRemovals.clear();
  g_liveCallsigns.clear();
  g_realFitSteps = 0;
  g_softFitSteps = -1;
}
