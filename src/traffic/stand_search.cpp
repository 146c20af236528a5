// The stand search of the park airport: by position, for an arriving aircraft, and the ranked
// choice by size, kind and half hour with the soft options planned from it.
#include "traffic/stand_search.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <gsl/narrow>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <unordered_map>

#include "airports/park_stands.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/timeutil.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "traffic/park_airports.h"
#include "traffic/park_airport_file.h"
#include "traffic/stand_options.h"
#include "traffic/ground_detail.h"
#include "traffic/parking.h"

using kvo::AircraftBase;
using kvo::LatLon;
using kvo::Stand;
using kvo::StandOption;
using kvo::WeekSlot;

namespace {

// What findStandAt needs of a stand.
struct StandPoint {
  std::uint32_t id = 0;
  double lat = 0.0;
  double lon = 0.0;
  std::string name;
};
using StandPoints = std::vector<StandPoint>;

// The snapshot and the last answer, under one lock held for a whole findStandAt.
std::mutex g_standAtMutex;
std::shared_ptr<const StandPoints> g_standPoints;  // under g_standAtMutex
struct StandAtCache {
  bool valid = false;
  LatLon position;
  std::uint32_t id = 0;
  std::string name;
};
StandAtCache g_standAtCache;  // under g_standAtMutex

// Stand ids that lie farther than the park airport's reach from its position (worker only).
std::vector<std::uint32_t> g_standsOutOfReach;
// Problems of the stand list and of the aircraft searched for, one kind each: every problem is
// logged once, and only the first kProblemLinesLogged of a kind; the others are counted and
// summarised in one line, so a file of thousands of bad stands (or a feed of thousands of unknown
// types) adds a few lines to the log, not one per stand (worker only).
class ProblemLines {
 public:
  using Summary = std::string (*)(std::size_t count);
  explicit ProblemLines(Summary summary) : summary_(summary) {}

  void note(std::string key, std::string_view text) {
    if (keys_.size() < kProblemKeysKept) {
      if (!keys_.insert(std::move(key)).second) return;
    }
    if (logged_ < kvo::kProblemLinesLogged) {
      ++logged_;
      logArrowLine(text);
    } else {
      ++unlogged_;
    }
  }
  // The count of the problems noted but not logged since the last summary.
  void summarise() {
    if (unlogged_ == 0) return;
    logArrowLine(summary_(unlogged_));
    unlogged_ = 0;
  }
  void reset() {
    keys_.clear();
    logged_ = 0;
    unlogged_ = 0;
  }

 private:
  // Past this many the keys are no longer kept: what comes then is counted, not logged.
  static constexpr std::size_t kProblemKeysKept = 100000;
  Summary summary_;
  std::set<std::string> keys_;
  std::size_t logged_ = 0;
  std::size_t unlogged_ = 0;
};

ProblemLines g_sharedNames([](std::size_t n) {
  return fmt::format("{} more stand name{} used by more than one stand", n, pluralSuffix(n));
});
ProblemLines g_unknownSizes([](std::size_t n) {
  return fmt::format("{} more stand{} without a radius above 0 m: offered by size only once enlarged", n,
                     pluralSuffix(n));
});
ProblemLines g_farStands([](std::size_t n) {
  return fmt::format("{} more stand{} more than {} nm from {}: not offered", n, pluralSuffix(n),
                     kvo::kParkAirportReachNm, g_parkAirport);
});
ProblemLines g_unknownSpans([](std::size_t n) {
  return fmt::format("{} more aircraft without a known wing span: no stand is chosen for them", n);
});

constexpr double kNmPerDegreeLat = kEarthRadiusNm * 3.141592653589793 / 180.0;

// No great circle between two points is shorter than their difference of latitude: a cheap
// bound that spares most distance computations of a search.
bool latitudeBeyond(double lat1, double lat2, double reachNm) {
  return std::abs(lat1 - lat2) * kNmPerDegreeLat * 0.999 > reachNm;
}

bool fits(double halfSpanNm, double radiusNm) { return halfSpanNm - radiusNm <= kvo::kFitToleranceNm; }

// A stand whose size is known: the size tests of the ranked search offer no other.
bool sizeKnown(const Stand& s) { return std::isfinite(s.radius) && s.radius > 0.0; }

// An aircraft whose half span is known; logged once per type otherwise (see ProblemLines).
bool spanKnown(const AircraftBase& aircraft) {
  if (std::isfinite(aircraft.halfSpanNm) && aircraft.halfSpanNm > 0.0) return true;
  g_unknownSpans.note(aircraft.type, fmt::format("no wing span known for type '{}' ({}), no stand is chosen for it",
                                                 aircraft.type, aircraft.callsign));
  return false;
}

bool outOfReach(const Stand& s) {
  return !g_standsOutOfReach.empty() &&
         std::find(g_standsOutOfReach.begin(), g_standsOutOfReach.end(), s.id) != g_standsOutOfReach.end();
}

// Logs what is wrong with the list (see ProblemLines) and notes the stands out of reach. An empty
// list is the start of a new one: its problems are logged afresh.
void checkStandList() {
  g_standsOutOfReach.clear();
  if (g_parkStands.empty()) {
    for (ProblemLines* lines : {&g_sharedNames, &g_unknownSizes, &g_farStands}) lines->reset();
    return;
  }
  const bool airportKnown = g_parkAirportLat != 0.0 || g_parkAirportLon != 0.0;
  std::unordered_map<std::string_view, int> names;
  for (const Stand& s : g_parkStands) {
    if (++names[s.name] == 2) {
      g_sharedNames.note(s.name, fmt::format("stand name '{}' is used by more than one stand", s.name));
    }
    if (!sizeKnown(s)) {
      g_unknownSizes.note(
          fmt::format("{} {}", s.id, s.name),
          fmt::format("stand {} has the radius {:.1f} m: it is offered by its size only once it is enlarged", s.name,
                      s.radius * 1852.0));
    }
    if (airportKnown && !(distanceNm(g_parkAirportLat, g_parkAirportLon, s.latitude, s.longitude) <=
                          kvo::kParkAirportReachNm)) {
      g_standsOutOfReach.push_back(s.id);
      g_farStands.note(fmt::format("{} {}", s.id, s.name),
                       fmt::format("stand {} lies more than {} nm from {}: it is not offered", s.name,
                                   kvo::kParkAirportReachNm, g_parkAirport));
    }
  }
  for (ProblemLines* lines : {&g_sharedNames, &g_unknownSizes, &g_farStands}) lines->summarise();
}

// The nearest stand within 55 m of the position in the snapshot (under g_standAtMutex).
const StandAtCache& standAtLocked(LatLon position) {
  if (g_standAtCache.valid && std::abs(position.lat - g_standAtCache.position.lat) < 1e-8 &&
      std::abs(position.lon - g_standAtCache.position.lon) < 1e-8) {
    return g_standAtCache;
  }
  double best = 900.0;
  const StandPoint* found = nullptr;
  for (const StandPoint& p : *g_standPoints) {
    if (latitudeBeyond(position.lat, p.lat, kvo::kStandReachNm)) continue;
    const double d = distanceNm(position.lat, position.lon, p.lat, p.lon);
    if (d <= kvo::kStandReachNm && d < best) {
      best = d;
      found = &p;
    }
  }
  g_standAtCache.valid = true;
  g_standAtCache.position = position;
  g_standAtCache.id = found != nullptr ? found->id : 0;
  g_standAtCache.name = found != nullptr ? found->name : std::string();
  return g_standAtCache;
}

template <typename Result>
Result standAt(LatLon position, Result StandAtCache::*field) {
  if (!g_userOnGround.load().value_or(false)) return Result{};
  std::lock_guard lock(g_standAtMutex);
  if (!g_standPoints || g_standPoints->empty()) return Result{};
  return standAtLocked(position).*field;
}

// The passes of the ranked search: which stands, and the fit test or the fallback.
enum class Test { Fit, Fallback };

template <typename Keep>
void sizePass(Test test, WeekSlot weekSlot, double stepNm, const AircraftBase& aircraft, Keep keep,
              std::vector<StandOption>& options) {
  std::int32_t best = 100;
  for (const Stand& s : g_parkStands) {
    if (!keep(s) || !sizeKnown(s) || outOfReach(s)) continue;
    if (test == Test::Fit) {
      checkStandSizeStatic(s, weekSlot, stepNm, aircraft, best, options);
    } else {
      checkStandSizeLive(s, weekSlot, aircraft, best, options);
    }
  }
}

// Booked: one of the stand's options already holds the half hour.
bool bookedAt(const Stand& s, WeekSlot weekSlot) {
  const std::uint32_t weekday = kvo::weekSlotDay(weekSlot);
  const std::uint64_t bit = std::uint64_t{1} << (kvo::weekSlotHalfHour(weekSlot) % kvo::kSlotsPerDay);
  return std::any_of(s.uses.begin(), s.uses.end(), [&](const kvo::StandUse& u) {
    return u.optionId != 0 && u.weekday == weekday && (u.halfHours & bit) != 0;
  });
}

// Appends the stand when its score is at most the best so far.
void offer(const Stand& s, WeekSlot weekSlot, double score, const AircraftBase& aircraft, std::int32_t& best,
           std::vector<StandOption>& options) {
  const auto steps = gsl::narrow<std::int32_t>(std::round(score));
  if (steps > best || bookedAt(s, weekSlot)) return;
  best = steps;
  const bool match = !aircraft.callsign.empty() && std::any_of(s.uses.begin(), s.uses.end(), [&](const kvo::StandUse& u) {
    return kvo::recordMatches(aircraft.callsign, aircraft, u);
  });
  options.push_back(StandOption{s.id, steps, match ? 1 : 0});
}

double stepFor(const AircraftBase& aircraft) {
  return aircraft.halfSpanNm <= kvo::kSmallHalfSpanNm ? kvo::kSmallStepNm : kvo::kLargeStepNm;
}

bool withinParkAirport(double lat, double lon) {
  return distanceNm(lat, lon, g_parkAirportLat, g_parkAirportLon) <= kvo::kParkAirportReachNm;
}

}  // namespace

bool userHoldsStand(const Stand& stand) {
  if (stand.reserved != 0 || (!g_reservedStand.empty() && stand.name == g_reservedStand)) return true;
  // The worker writes the snapshot of the user aircraft itself, so it reads it without the lock.
  return stand.id == findStandIdAt(LatLon{g_userAircraftSnapshot.lat, g_userAircraftSnapshot.lon});
}

void parkStandsChanged() {
  auto points = std::make_shared<StandPoints>();
  points->reserve(g_parkStands.size());
  for (const Stand& s : g_parkStands) points->push_back(StandPoint{s.id, s.latitude, s.longitude, s.name});
  checkStandList();
  std::lock_guard lock(g_standAtMutex);
  g_standPoints = std::move(points);
  g_standAtCache = StandAtCache{};
}

void resetStandSearch() {
  {
    std::lock_guard lock(g_standAtMutex);
    g_standPoints.reset();
    g_standAtCache = StandAtCache{};
  }
  g_standsOutOfReach.clear();
  g_unknownSpans.summarise();
  for (ProblemLines* lines : {&g_sharedNames, &g_unknownSizes, &g_farStands, &g_unknownSpans}) lines->reset();
}

Stand* findStandByName(std::string_view name) {
  const auto it = std::find_if(g_parkStands.begin(), g_parkStands.end(), [name](const Stand& s) { return s.name == name; });
  return it == g_parkStands.end() ? nullptr : &*it;
}

Stand* findStandById(std::uint32_t standId) {
  if (standId == 0) return nullptr;
  // A file's stands are numbered 1..n in list order: the id is then the place.
  if (standId <= g_parkStands.size() && g_parkStands[standId - 1].id == standId) return &g_parkStands[standId - 1];
  const auto it = std::find_if(g_parkStands.begin(), g_parkStands.end(), [standId](const Stand& s) { return s.id == standId; });
  return it == g_parkStands.end() ? nullptr : &*it;
}

std::string findStandAt(LatLon position) { return standAt(position, &StandAtCache::name); }

std::uint32_t findStandIdAt(LatLon position) { return standAt(position, &StandAtCache::id); }

Stand* findStandForArrival(LatLon position, const AircraftBase& aircraft, double maxDistanceNm, bool wide) {
  if (!spanKnown(aircraft)) return nullptr;
  Stand* result = nullptr;
  Stand* airlineStand = nullptr;
  Stand* resized = nullptr;
  double best = 900.0;
  double bestAirline = 900.0;
  const double reach = std::max(maxDistanceNm, wide ? kvo::kAirlineReachNm : 0.0);
  for (Stand& s : g_parkStands) {
    if (s.occupied != 0 || latitudeBeyond(position.lat, s.latitude, reach)) continue;
    const double d = distanceNm(position.lat, position.lon, s.latitude, s.longitude);
    const bool fitting = fits(aircraft.halfSpanNm, s.radius);
    if (d <= maxDistanceNm && d < best) {
      if (!fitting && d > kvo::kResizeReachNm) continue;
      result = &s;
      best = d;
      wide = false;
      if (!fitting) resized = &s;
    } else if (wide && d <= kvo::kAirlineReachNm && d < bestAirline && fitting && !aircraft.callsign.empty() &&
               std::any_of(s.uses.begin(), s.uses.end(),
                           [&](const kvo::StandUse& u) { return kvo::recordMatches(aircraft.callsign, aircraft, u); })) {
      airlineStand = &s;
      bestAirline = d;
    }
  }
  if (result == nullptr) result = airlineStand;
  if (result == nullptr) return nullptr;
  const bool rotorcraft = aircraft.sizeCategory == Rotorcraft;
  if ((result->heli != 0) != rotorcraft) return nullptr;
  if (result == resized) {
    result->radius_change = 1;
    result->radius = aircraft.halfSpanNm - kvo::kOneMetreNm;
    countStandUpdate();
  }
  return result;
}

void checkStandSizeStatic(const Stand& stand, WeekSlot weekSlot, double stepNm, const AircraftBase& aircraft,
                          std::int32_t& best, std::vector<StandOption>& options) {
  if (!fits(aircraft.halfSpanNm, stand.radius)) return;
  offer(stand, weekSlot, (stand.radius - aircraft.halfSpanNm) / stepNm, aircraft, best, options);
}

void checkStandSizeLive(const Stand& stand, WeekSlot weekSlot, const AircraftBase& aircraft, std::int32_t& best,
                        std::vector<StandOption>& options) {
  offer(stand, weekSlot, std::abs(aircraft.halfSpanNm - stand.radius), aircraft, best, options);
}

void checkStandSize(WeekSlot weekSlot, bool preferGates, const AircraftBase& aircraft,
                    std::vector<StandOption>& options) {
  const auto passenger = [preferGates](const Stand& s) {
    return s.cargo == 0 && s.heli == 0 && (s.ramp == 0) == preferGates;
  };
  sizePass(Test::Fit, weekSlot, stepFor(aircraft), aircraft, passenger, options);
  if (options.empty()) sizePass(Test::Fallback, weekSlot, stepFor(aircraft), aircraft, passenger, options);
}

Stand* collectStandOptions(WeekSlot weekSlot, const AircraftBase& aircraft, bool retryNextSlot) {
  if (!spanKnown(aircraft)) return nullptr;
  std::vector<StandOption> options;
  options.reserve(256);
  const double step = stepFor(aircraft);
  // The passes in order; the first that gives an option ends the search.
  const auto passes = [&](std::initializer_list<std::pair<Test, bool (*)(const Stand&)>> list) {
    for (const auto& [test, keep] : list) {
      sizePass(test, weekSlot, step, aircraft, keep, options);
      if (!options.empty()) return;
    }
  };
  constexpr auto heli = [](const Stand& s) { return s.heli != 0; };
  constexpr auto ramp = [](const Stand& s) { return s.ramp != 0; };
  constexpr auto cargoStand = [](const Stand& s) { return s.cargo != 0 && s.heli == 0; };
  constexpr auto notHeli = [](const Stand& s) { return s.heli == 0; };
  constexpr auto rampPassenger = [](const Stand& s) { return s.cargo == 0 && s.heli == 0 && s.ramp != 0; };
  if (aircraft.sizeCategory == Rotorcraft) {
    passes({{Test::Fit, heli}, {Test::Fit, ramp}, {Test::Fallback, heli}, {Test::Fallback, ramp}});
  } else if (aircraft.cargo != 0) {
    passes({{Test::Fit, cargoStand}, {Test::Fallback, cargoStand}, {Test::Fit, notHeli}, {Test::Fallback, notHeli}});
  } else if (aircraft.sizeCategory == Light || aircraft.sizeCategory == Buzjets || aircraft.airline == "PVT") {
    passes({{Test::Fit, rampPassenger}, {Test::Fallback, rampPassenger}});
  } else {
    bool preferGates = true;
    if (!g_parkAirport.starts_with('K') && RANDOM.value()) preferGates = threadRandomEngine()() % 100 >= 10;
    checkStandSize(weekSlot, preferGates, aircraft, options);
    if (options.empty()) checkStandSize(weekSlot, !preferGates, aircraft, options);
  }
  if (options.empty()) {
    if (retryNextSlot && g_parkStands.size() <= 10) return collectStandOptions(kvo::nextWeekSlot(weekSlot), aircraft, false);
    return nullptr;
  }
  if (RANDOM.value()) std::shuffle(options.begin(), options.end(), threadRandomEngine());
  std::sort(options.begin(), options.end(), kvo::standOptionBefore);
  return findStandById(options.front().standId);
}

std::optional<Stand> claimStandForArrival(kvo::LiveAircraft& aircraft) {
  auto& points = aircraft.trackPoints;
  if (g_parkStands.empty() || g_parkAirport.empty() || points.empty()) return std::nullopt;
  kvo::TrackPoint& first = points.front();
  if (!withinParkAirport(first.lat, first.lon)) return std::nullopt;
  LatLon position{first.lat, first.lon};
  if (first.stationary != 0) {
    // Where the feed's standing lines heard so far put it: one line's place scatters by metres, as
    // far as half the way to the next stand.
    if (const auto stood = kvo::mv::feedStoodAt(aircraft, std::numeric_limits<kvo::TickCount>::max())) {
      position = *stood;
    }
  } else {
    // A moving first point needs a slow second one and a track that stays near the stand.
    if (points.size() < 2 || points[1].groundSpeedKt > 5.0 ||
        distanceNm(first.lat, first.lon, points.back().lat, points.back().lon) > 0.018898488120950324) {
      return std::nullopt;
    }
    position = LatLon{points.back().lat, points.back().lon};
  }
  Stand* stand = findStandForArrival(position, aircraft, kvo::kStandReachNm, first.stationary != 0);
  if (stand == nullptr || userHoldsStand(*stand)) return std::nullopt;
  if (!resolveCallsignConflict(stand->id, aircraft.callsign) ||
      checkAdjacentStands(stand->adjacentIds, *stand, aircraft) != stand->adjacentIds.size()) {
    aircraft.finished = 1;
    return std::nullopt;
  }
  makeWayForStand(aircraft, *stand);
  if (first.stationary == 0) {
    first.stationary = 1;
    first.groundSpeedKt = 0.0;
  }
  return *stand;
}

bool planSoftStandOption(kvo::LiveAircraft& aircraft, bool onGround) {
  if (!LEARN_SOFT.value() || !g_learnSoftAllowed.load() || g_parkAirport.empty() || aircraft.standId != 0) return false;
  if (!withinParkAirport(aircraft.position.lat, aircraft.position.lon)) return false;
  if (!onGround && !(aircraft.aglFt < 2500.0)) return false;
  try {
    const kvo::WeekdaySlot current = currentWeekSlot();
    const WeekSlot now = kvo::makeWeekSlot(current.weekday, current.slot);
    if (rebookSoftStandOption(aircraft, now, onGround)) return true;
    if (!stampIdSlot(now, aircraft.internalId, false)) return false;
    const std::string& key = aircraft.registration;
    for (const Stand& s : g_parkStands) {
      if (std::any_of(s.uses.begin(), s.uses.end(), [&](const kvo::StandUse& u) { return slotOrNeighbourSet(now, key, u); })) {
        return false;
      }
    }
    const Stand* stand = collectStandOptions(now, aircraft, true);
    if (stand == nullptr) return false;
    if (lt_addStandOption(stand->id, aircraft, false, now, !onGround)) return true;
    // Not planned after all: the aircraft may be planned again at once.
    const auto stamp = std::find_if(g_idSlotStamps.begin(), g_idSlotStamps.end(),
                                    [&](const kvo::IdSlotStamp& s) { return s.hexId == aircraft.internalId; });
    if (stamp != g_idSlotStamps.end()) {
      *stamp = g_idSlotStamps.back();
      g_idSlotStamps.pop_back();
    }
    return false;
  } catch (const std::exception& e) {
    // A stand size that gives no number of steps: no soft option for this aircraft now.
    logArrowLine(fmt::format("{} exception: {}", "planSoftStandOption", e.what()));
    return false;
  }
}

bool rebookSoftStandOption(kvo::LiveAircraft& aircraft, WeekSlot now, bool onGround) {
  const auto it = std::find_if(g_parkStands.begin(), g_parkStands.end(), [&](const Stand& s) {
    const auto booked = s.softBookings.find(aircraft.internalId);
    return booked != s.softBookings.end() && booked->second.weekSlot != now;
  });
  if (it == g_parkStands.end() || it->id < 1) return false;
  if (!lt_addStandOption(it->id, aircraft, true, now, !onGround)) return false;
  stampIdSlot(now, aircraft.internalId, true);
  return true;
}
