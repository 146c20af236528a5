#pragma once
// A parking position of the park airport with its learned and planned uses. The traffic engine
// reads and changes these; the airport-file code fills them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kvo {

// Weekday 1..7 (Monday 1) in the low 32 bits, half-hour slot 0..47 of that day in the high 32
// bits. One plain 64-bit value so that it can live in an atomic.
using WeekSlot = std::uint64_t;

constexpr WeekSlot makeWeekSlot(std::uint32_t weekday, std::uint32_t halfHourSlot) {
  return static_cast<WeekSlot>(weekday) | (static_cast<WeekSlot>(halfHourSlot) << 32);
}
constexpr std::uint32_t weekSlotDay(WeekSlot slot) { return static_cast<std::uint32_t>(slot & 0xFFFFFFFFu); }
constexpr std::uint32_t weekSlotHalfHour(WeekSlot slot) { return static_cast<std::uint32_t>(slot >> 32); }

// One learned (real) or planned (soft) use of a stand.
struct StandUse {
  std::string airline;
  std::string type;            // ICAO aircraft type
  std::string key;             // registration, else callsign
  std::string callsign;
  std::string secondCallsign;  // a second callsign seen on the same use (the fifth text)
  std::uint64_t halfHours = 0; // bit n = half-hour slot n of the day, n < 48
  std::uint32_t optionId = 0;  // 0 for uses that are not options
  std::uint32_t weekday = 0;   // 1..7, Monday 1
  std::uint32_t fixed = 0;
  std::uint32_t real = 0;      // 1 real (observed), 0 soft (planned)
  // 1, 2, 3 ... in list order, given when the file is read and again at each re-plan of the
  // static parking; 0 switches the use off until the next re-plan. Not stored in the file.
  std::int32_t number = 0;
  // Made up for a stand without learned uses; never written to a file.
  std::uint8_t madeUp = 0;
};

// The use an aircraft's stay on a stand extends, and when it was booked.
struct StandBooking {
  WeekSlot weekSlot = 0;
  std::uint32_t optionId = 0;
};

// Hash of an aircraft's 32-bit hex id: 64-bit FNV-1a over its four bytes, low byte first.
struct HexIdHash {
  std::size_t operator()(std::uint32_t id) const noexcept {
    std::uint64_t h = 14695981039346656037ull;
    for (int i = 0; i < 4; ++i) {
      h ^= (id >> (8 * i)) & 0xFFu;
      h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
  }
};

using StandBookings = std::unordered_map<std::uint32_t, StandBooking, HexIdHash>;

struct Stand {
  std::vector<StandUse> uses;
  StandBookings realBookings;  // keyed by the aircraft's hex id
  StandBookings softBookings;
  std::string name;            // the airport file's id attribute
  std::vector<std::uint32_t> adjacentIds;  // ids of the neighbour stands
  double latitude = 0.0;       // degrees
  double longitude = 0.0;      // degrees
  double heading = 0.0;        // degrees
  double radius = 0.0;         // nautical miles: the largest half wing span that fits
  std::uint32_t id = 0;        // unique in the list; 0 is never used
  std::uint8_t manual = 0;
  std::uint8_t radius_change = 0;  // the traffic engine enlarged or shrank the radius
  std::uint8_t cargo_change = 0;   // the traffic engine cleared the cargo mark
  std::uint8_t occupied = 0;       // a live aircraft stands on it
  std::uint8_t cargo = 0;
  std::uint8_t ramp = 0;
  std::uint8_t heli = 0;
  std::uint8_t reserved = 0;       // the user's reserved stand
  // Marks of one static parking plan, cleared at the start of each plan.
  std::uint8_t taken = 0;           // the plan has put an aircraft on it
  std::uint8_t blocked = 0;         // gets no static aircraft (reserved, under the user aircraft)
  std::uint8_t neighbourTaken = 0;  // a neighbour stand has been taken by the plan
};

}  // namespace kvo
