// Stand options: the uses of the park airport's stands learned (real) or planned (soft) while
// traffic runs, widened half hour by half hour while an aircraft stays, and the stamps that keep
// an aircraft from being planned again too soon.
#include "traffic/stand_options.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "aircraft/dbase.h"
#include "airports/park_stands.h"
// The main window (the update count it shows) belongs to the application shell above this
// library.
#include "shared_state/main_window.h"
#include "core/log.h"
#include "traffic/stand_search.h"

using kvo::AircraftBase;
using kvo::Stand;
using kvo::StandBooking;
using kvo::StandBookings;
using kvo::StandUse;
using kvo::WeekSlot;

std::vector<kvo::IdSlotStamp> g_idSlotStamps;
std::uint32_t g_standUpdates = 0;

namespace kvo {

WeekSlot nextWeekSlot(WeekSlot slot) {
  std::uint32_t day = weekSlotDay(slot);
  std::uint32_t half = weekSlotHalfHour(slot) + 1;
  if (half >= kSlotsPerDay) {
    half = 0;
    day = day >= 7 ? 1 : day + 1;
  }
  return makeWeekSlot(day, half);
}

WeekSlot weekSlotBack(WeekSlot slot, std::int32_t steps) {
  std::uint32_t day = weekSlotDay(slot);
  std::int32_t half = static_cast<std::int32_t>(weekSlotHalfHour(slot)) - steps;
  while (half < 0) {
    half += static_cast<std::int32_t>(kSlotsPerDay);
    day = previousWeekday(day);
  }
  return makeWeekSlot(day, static_cast<std::uint32_t>(half));
}

std::vector<std::int32_t> previousSlots(std::int32_t n, WeekSlot now) {
  std::vector<std::int32_t> out;
  if (n <= 0) return out;
  out.reserve(static_cast<std::size_t>(n));
  std::int32_t slot = static_cast<std::int32_t>(weekSlotHalfHour(now));
  for (std::int32_t i = 0; i < n; ++i) {
    out.push_back(slot);
    slot = slot == 0 ? 47 : slot - 1;
  }
  return out;
}

}  // namespace kvo

namespace {

// The one bit of a half-hour slot; a slot outside the day is an error.
std::uint64_t slotBit(std::int64_t slot) {
  if (slot < 0 || slot >= static_cast<std::int64_t>(kvo::kSlotsPerDay)) {
    throw std::out_of_range(fmt::format("half-hour slot {} outside 0..47", slot));
  }
  return std::uint64_t{1} << slot;
}

std::string_view trimOneUnderscore(std::string_view callsign) {
  if (!callsign.empty() && callsign.back() == '_') callsign.remove_suffix(1);
  return callsign;
}

StandUse* findUse(std::vector<StandUse>& uses, std::uint32_t id) {
  const auto it = std::find_if(uses.begin(), uses.end(), [id](const StandUse& u) { return u.optionId == id; });
  return it == uses.end() ? nullptr : &*it;
}

// The next free option id of the stand: above every id it holds, so that no id repeats even
// when the list is not in id order.
std::uint32_t nextOptionId(const std::vector<StandUse>& uses) {
  std::uint32_t highest = 0;
  for (const StandUse& u : uses) highest = std::max(highest, u.optionId);
  return highest + 1;
}

std::string_view keyOf(const AircraftBase& aircraft) {
  return aircraft.registration.empty() ? std::string_view(aircraft.callsign) : std::string_view(aircraft.registration);
}

bool sameGroupOption(const StandUse& u, std::uint32_t weekday, std::string_view key, std::uint32_t real) {
  return u.optionId != 0 && u.weekday == weekday && u.key == key && u.real == real;
}

// What both overloads share once the stand is known; real is the group (1 real, 0 soft).
bool addStandOption(std::uint32_t standId, const AircraftBase& aircraft, bool viaBooking, WeekSlot weekSlot, bool book,
                    std::uint32_t real) {
  const std::uint32_t half = kvo::weekSlotHalfHour(weekSlot);
  try {
    if (aircraft.registration.empty() && aircraft.callsign.empty()) return false;
    const std::string_view key = keyOf(aircraft);
    const auto standIt =
        std::find_if(g_parkStands.begin(), g_parkStands.end(), [standId](const Stand& s) { return s.id == standId; });
    if (standIt == g_parkStands.end()) return false;
    Stand& stand = *standIt;
    std::vector<StandUse>& uses = stand.uses;
    StandBookings& bookings = real != 0 ? stand.realBookings : stand.softBookings;
    const std::uint32_t weekday = kvo::weekSlotDay(weekSlot);
    const std::uint64_t bit = slotBit(half);

    for (const StandUse& u : uses) {
      if (sameGroupOption(u, weekday, key, real) && u.fixed == 1 && (u.halfHours & bit) == 0) return false;
    }
    const auto found = std::find_if(uses.begin(), uses.end(), [&](const StandUse& u) {
      return sameGroupOption(u, weekday, key, real) && u.fixed == 0;
    });
    const bool setDirectly = real != 0 ? !book : (!viaBooking && !book);
    kvo::SlotRecord record;
    if (found == uses.end()) {
      readSlotRecord(uses, record, aircraft, real, weekSlot, aircraft.callsign, key);
      if (record.added) bookings[aircraft.internalId] = StandBooking{weekSlot, record.id};
    } else if ((found->halfHours & bit) != 0) {
      // Already holds the half hour.
    } else if (setDirectly) {
      found->halfHours |= bit;
    } else {
      const auto booked = bookings.find(aircraft.internalId);
      if (real != 0) {
        if (booked == bookings.end()) {
          readSlotRecord(uses, record, aircraft, real, weekSlot, aircraft.callsign, key);
        } else {
          StandBooking& booking = booked->second;
          // The booking's own use is the one to widen: it may be yesterday's, not the found one.
          if (booking.weekSlot != weekSlot &&
              !checkStandSlot(weekSlot, stand, booking.optionId, booking, aircraft, key, real)) {
            readSlotRecord(uses, record, aircraft, real, weekSlot, aircraft.callsign, key);
          }
          bookings.erase(booked);
        }
      } else if (booked == bookings.end()) {
        readSlotRecord(uses, record, aircraft, real, weekSlot, aircraft.callsign, key);
        if (record.added && !book) bookings[aircraft.internalId] = StandBooking{weekSlot, record.id};
      } else {
        StandBooking& booking = booked->second;
        const bool accepted = booking.weekSlot == weekSlot ||
                              checkStandSlot(weekSlot, stand, booking.optionId, booking, aircraft, key, real);
        if (book) {
          if (!accepted) readSlotRecord(uses, record, aircraft, real, weekSlot, aircraft.callsign, key);
          bookings.erase(booked);
        }
      }
    }
    countStandUpdate();
    return true;
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: hh_now: {}, {}", "lt_addStandOption", half, e.what()));
    return false;
  }
}

}  // namespace

void readSlotRecord(std::vector<StandUse>& uses, kvo::SlotRecord& out, const AircraftBase& aircraft,
                    std::uint32_t real, WeekSlot weekSlot, std::string_view callsign, std::string_view key) {
  out = kvo::SlotRecord{};
  if (key.empty()) return;
  const std::string_view trimmed = trimOneUnderscore(callsign);
  const std::uint64_t bits = slotBit(kvo::weekSlotHalfHour(weekSlot));
  const std::uint32_t weekday = kvo::weekSlotDay(weekSlot);
  const std::uint32_t id = nextOptionId(uses);
  std::string airline = aircraft.airline;
  std::string type = aircraft.type;
  if (const auto regcode = findRegcode(key)) {
    airline = regcode->operatorCode.empty() ? regcode->airline : regcode->operatorCode;
    type = regcode->type;
  }
  const bool exists = std::any_of(uses.begin(), uses.end(), [&](const StandUse& u) {
    return u.key == key && u.weekday == weekday && u.halfHours == bits && u.callsign == trimmed;
  });
  if (exists) return;
  StandUse use;
  use.airline = std::move(airline);
  use.type = std::move(type);
  use.key = std::string(key);
  use.callsign = std::string(trimmed);
  use.halfHours = bits;
  use.optionId = id;
  use.weekday = weekday;
  use.fixed = 0;
  use.real = real;
  uses.push_back(std::move(use));
  out = kvo::SlotRecord{id, true};
}

bool updateOptions(std::vector<StandUse>& uses, std::vector<std::int32_t>& slots, std::uint32_t id) {
  try {
    StandUse* use = findUse(uses, id);
    if (use == nullptr) return false;
    for (auto it = slots.rbegin(); it != slots.rend(); ++it) use->halfHours |= slotBit(*it);
    slots.clear();
    return true;
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{} exception:{}", "updateOptions", e.what()));
    return false;
  }
}

bool updateOptionsWrapped(std::vector<StandUse>& uses, std::vector<std::int32_t>& slots, std::uint32_t firstId,
                          std::uint32_t secondId) {
  try {
    if (!slots.empty() && slots.back() != 0) {
      StandUse* first = findUse(uses, firstId);
      if (first == nullptr) return false;
      // The previous day's part, oldest first, up to its last half hour.
      while (!slots.empty()) {
        const std::int32_t slot = slots.back();
        slots.pop_back();
        first->halfHours |= slotBit(slot);
        if (slot == 47) break;
      }
    }
    StandUse* second = findUse(uses, secondId);
    if (second == nullptr) return false;
    // Today's part without the current slot (the list's front), which the new use holds.
    for (std::size_t i = slots.size(); i > 1; --i) second->halfHours |= slotBit(slots[i - 1]);
    slots.clear();
    return true;
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{} exception:{}", "updateOptionsWrapped", e.what()));
    return false;
  }
}

void copyTrimmedName(std::vector<StandUse>& uses, std::uint32_t id, std::string_view callsign) {
  const std::string_view trimmed = trimOneUnderscore(callsign);
  if (trimmed.empty()) return;
  StandUse* use = findUse(uses, id);
  if (use == nullptr) return;
  if (use->callsign.empty()) {
    use->callsign = std::string(trimmed);
  } else if (trimmed != use->callsign && trimmed != use->secondCallsign) {
    use->secondCallsign = std::string(trimmed);
  }
}

void buildSlotRecords(std::vector<StandUse>& uses, WeekSlot now, std::string_view callsign, std::int32_t n,
                      std::uint32_t firstId, std::uint32_t secondId) {
  std::vector<std::int32_t> slots = kvo::previousSlots(n, now);
  updateOptionsWrapped(uses, slots, firstId, secondId);
  copyTrimmedName(uses, firstId, callsign);
  copyTrimmedName(uses, secondId, callsign);
}

bool checkStandSlot(WeekSlot now, Stand& stand, std::uint32_t optionId, StandBooking& booking,
                    const AircraftBase& aircraft, std::string_view key, std::uint32_t real) {
  if (optionId == 0) return true;
  // Signed: a booking on Sunday seen again on Monday is 6 days "ahead" and wraps below.
  const std::int32_t days =
      static_cast<std::int32_t>(kvo::weekSlotDay(now)) - static_cast<std::int32_t>(kvo::weekSlotDay(booking.weekSlot));
  const std::int32_t nowHalf = static_cast<std::int32_t>(kvo::weekSlotHalfHour(now));
  const std::int32_t bookedHalf = static_cast<std::int32_t>(kvo::weekSlotHalfHour(booking.weekSlot));
  if (days == 0 && nowHalf == bookedHalf) return true;
  const std::int32_t window = aircraft.cargo != 0 ? 12 : aircraft.sizeCategory == Heavy ? 8 : 6;
  std::int32_t d = days * 48 + nowHalf - bookedHalf;
  if (d < 0) d += kvo::kSlotsPerWeek;
  if (d < 1 || d > window - 1) return false;
  if (days != 0) {
    kvo::SlotRecord record;
    readSlotRecord(stand.uses, record, aircraft, real, now, aircraft.callsign, key);
    if (!record.added) return false;
    buildSlotRecords(stand.uses, now, aircraft.callsign, d, optionId, record.id);
    booking.optionId = record.id;
  } else {
    std::vector<std::int32_t> slots = kvo::previousSlots(d, now);
    updateOptions(stand.uses, slots, optionId);
    copyTrimmedName(stand.uses, optionId, aircraft.callsign);
  }
  booking.weekSlot = now;
  return true;
}

bool lt_addStandOption(std::uint32_t standId, const AircraftBase& aircraft, WeekSlot weekSlot, bool book) {
  return addStandOption(standId, aircraft, false, weekSlot, book, 1);
}

bool lt_addStandOption(std::uint32_t standId, const AircraftBase& aircraft, bool viaBooking, WeekSlot weekSlot,
                       bool book) {
  return addStandOption(standId, aircraft, viaBooking, weekSlot, book, 0);
}

bool slotOrNeighbourSet(WeekSlot weekSlot, std::string_view key, const StandUse& use) {
  if (use.optionId == 0 || use.weekday != kvo::weekSlotDay(weekSlot) || use.real != 1 || use.key != key) return false;
  const std::uint32_t half = kvo::weekSlotHalfHour(weekSlot) % kvo::kSlotsPerDay;
  const std::uint64_t bits = (std::uint64_t{1} << half) | (std::uint64_t{1} << ((half + 47) % 48)) |
                             (std::uint64_t{1} << ((half + 1) % 48));
  return (use.halfHours & bits) != 0;
}

bool stampIdSlot(WeekSlot weekSlot, std::uint32_t hexId, bool force) {
  const std::uint32_t half = kvo::weekSlotHalfHour(weekSlot);
  const auto it = std::find_if(g_idSlotStamps.begin(), g_idSlotStamps.end(),
                               [hexId](const kvo::IdSlotStamp& s) { return s.hexId == hexId; });
  if (it == g_idSlotStamps.end()) {
    g_idSlotStamps.push_back({hexId, half});
    return true;
  }
  if (!force && (half + 48 - it->slot) % 48 < 3) return false;
  it->slot = half;
  return true;
}

void countStandUpdate() {
  // Every counted update is a change of the stands: the search's snapshot follows it.
  parkStandsChanged();
  ++g_standUpdates;
  const auto shown = static_cast<std::int32_t>(g_standUpdates);
  if (g_mainWindow.standUpdateCount.exchange(shown) != shown) g_mainWindow.invalidate(g_statisticsRect);
}

void resetStandState() {
  g_idSlotStamps.clear();
  g_standUpdates = 0;
  resetStandSearch();
}
