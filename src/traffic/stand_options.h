#pragma once
// What the engine learns of the park airport's stands while traffic runs: each use of a stand by
// an aircraft at a half hour of the week (a StandUse of the stand), real (seen) or soft (planned),
// widened half hour by half hour while the aircraft stays; the week-slot arithmetic behind it;
// the per-aircraft stamps of the last planned half hour; and the order of candidate stands.
//
// Start-up worker only: g_parkStands, the booking maps and the stamps are touched by no other
// thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "airports/stand.h"
#include "traffic/aircraft_records.h"

namespace kvo {

inline constexpr std::uint32_t kSlotsPerDay = 48;
inline constexpr std::int32_t kSlotsPerWeek = 336;

// Position of the week slot in the week: Monday 00:00 is 0, Sunday 23:30 is 335.
constexpr std::int32_t weekSlotIndex(WeekSlot slot) {
  return static_cast<std::int32_t>(weekSlotDay(slot)) * 48 - 48 + static_cast<std::int32_t>(weekSlotHalfHour(slot));
}
// The weekday before the day (1 Monday .. 7 Sunday): before Monday Sunday.
constexpr std::uint32_t previousWeekday(std::uint32_t day) { return day <= 1 ? 7 : day - 1; }
// The half hour after the slot: after slot 47 comes slot 0 of the next weekday, after Sunday Monday.
WeekSlot nextWeekSlot(WeekSlot slot);
// The half hour `steps` half hours before the slot: below slot 0 the previous weekday's slots,
// before Monday Sunday.
WeekSlot weekSlotBack(WeekSlot slot, std::int32_t steps);
// n slot numbers, the first the slot of now, each one half hour earlier than the one before;
// before slot 0 comes slot 47 (of the previous day).
std::vector<std::int32_t> previousSlots(std::int32_t n, WeekSlot now);

// One candidate stand of the search, by id (names may repeat within a file).
struct StandOption {
  std::uint32_t standId = 0;
  std::int32_t score = 0;         // size difference in steps, smaller is better
  std::int32_t airlineMatch = 0;  // 1: a real use of the stand matches the aircraft
};
// Matches first, then the smaller score.
inline bool standOptionBefore(const StandOption& a, const StandOption& b) {
  if (a.airlineMatch != b.airlineMatch) return a.airlineMatch > b.airlineMatch;
  return a.score < b.score;
}

// The last half-hour slot in which a stand option was planned or taken for an aircraft.
struct IdSlotStamp {
  std::uint32_t hexId = 0;
  std::uint32_t slot = 0;
};

// The result of readSlotRecord: the option id of the new use, and whether it was appended.
struct SlotRecord {
  std::uint32_t id = 0;
  bool added = false;
};

}  // namespace kvo

extern std::vector<kvo::IdSlotStamp> g_idSlotStamps;
// Changes to the park airport's stands since its file was read or saved.
extern std::uint32_t g_standUpdates;

// Appends a use for the one half hour of weekSlot (real 1 or 0) unless the key is empty or an
// equal use exists. Throws std::out_of_range for a slot of 48 or more.
void readSlotRecord(std::vector<kvo::StandUse>& uses, kvo::SlotRecord& out, const kvo::AircraftBase& aircraft, std::uint32_t real,
                    kvo::WeekSlot weekSlot, std::string_view callsign, std::string_view key);
// Sets the slots (the list's back is the oldest) in the use with the option id; the list is
// emptied. False when no use has the id.
bool updateOptions(std::vector<kvo::StandUse>& uses, std::vector<std::int32_t>& slots, std::uint32_t id);
// As updateOptions for a list that runs across midnight: the previous day's part goes to the use
// firstId, today's (without the current slot) to secondId.
bool updateOptionsWrapped(std::vector<kvo::StandUse>& uses, std::vector<std::int32_t>& slots, std::uint32_t firstId,
                          std::uint32_t secondId);
// The callsign (one trailing "_" cut) becomes the use's callsign, or its second callsign.
void copyTrimmedName(std::vector<kvo::StandUse>& uses, std::uint32_t id, std::string_view callsign);
void buildSlotRecords(std::vector<kvo::StandUse>& uses, kvo::WeekSlot now, std::string_view callsign, std::int32_t n,
                      std::uint32_t firstId, std::uint32_t secondId);
// Widens the booked use to now when the aircraft has stayed less than its window (6 half hours,
// 8 for a Heavy, 12 for cargo); false when it has not.
bool checkStandSlot(kvo::WeekSlot now, kvo::Stand& stand, std::uint32_t optionId, kvo::StandBooking& booking,
                    const kvo::AircraftBase& aircraft, std::string_view key, std::uint32_t real);

// A real use of the stand by the aircraft at the week slot (book: the aircraft leaves now, the
// use made at its arrival is widened to this half hour). False when nothing could be recorded.
bool lt_addStandOption(std::uint32_t standId, const kvo::AircraftBase& aircraft, kvo::WeekSlot weekSlot, bool book);
// The same for a soft (planned) use.
bool lt_addStandOption(std::uint32_t standId, const kvo::AircraftBase& aircraft, bool viaBooking, kvo::WeekSlot weekSlot,
                       bool book);

// A real option of the key whose half hours hold the slot or one next to it.
bool slotOrNeighbourSet(kvo::WeekSlot weekSlot, std::string_view key, const kvo::StandUse& use);

// Stamps the aircraft with the slot; without force, false (and no stamp) when the last stamp is
// less than 3 half hours back.
bool stampIdSlot(kvo::WeekSlot weekSlot, std::uint32_t hexId, bool force);

// One more change to the park airport's stands: counted, and the window's copy refreshed.
void countStandUpdate();

// The stamps, the update count and the stand search's cache back to their start.
void resetStandState();
