#pragma once
// The one clock of the program, UTC texts and the half-hour week slots.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace kvo {

using Clock = std::chrono::system_clock;

// Now, from the system clock unless a test has fixed it.
Clock::time_point utcNow();
// Fixes utcNow() to the given time (nullopt: back to the system clock). Tests only.
void setUtcNowForTests(std::optional<Clock::time_point> fixed);

// Weekday 1..7 (Monday 1, Sunday 7) and half-hour slot 0..47 (2 x hour, plus 1 from minute 29
// second 30 on).
struct WeekdaySlot {
  std::uint32_t weekday = 0;
  std::uint32_t slot = 0;
  bool operator==(const WeekdaySlot&) const = default;
};

}  // namespace kvo

// The traffic feed's time in seconds since 1970: the time its aircraft agree on (until they first
// do, the stamp of the first line read); 0 = none yet in this run.
extern std::atomic<double> g_feedEpochTime;
// RealTraffic reported a professional edition: its feed time is then the program's "now".
extern std::atomic<bool> g_rtProfEdition;

// A feed time stamp that can be taken as the feed time: from 2000-01-01 up to, not including,
// 2100-01-01 (UTC). Anything else (1e300, a negative or a NaN value) is no time of this world,
// and converting it to an integer would be undefined.
bool isPlausibleFeedTime(double seconds);

namespace kvo {
// A line stamped further ahead of the feed's time is a wild stamp: taken, it would make its
// aircraft's true lines look older than its last one.
constexpr double kMaxSecondsAheadOfTheFeed = 300.0;
}  // namespace kvo

// Whether `stamp` lies more than kMaxSecondsAheadOfTheFeed past g_feedEpochTime (false while the
// feed has no time).
bool isFarAheadOfTheFeed(double stamp);

// Back to the start state: no feed time, no professional edition, no fixed clock.
void resetTimeState();

// Seconds since 1970 of utcNow().
std::time_t utcNowSeconds();
// The feed's time when RealTraffic reports a professional edition and a feed time is known,
// else utcNowSeconds().
std::time_t simUtcSeconds();

kvo::WeekdaySlot weekSlotAt(std::time_t utc);
kvo::WeekdaySlot currentWeekSlot();  // of simUtcSeconds()

std::string currentTimeText();  // "HH:MM:SS" of utcNow()
std::string simTimeText();      // "HH:MM:SS" of simUtcSeconds()
// "{:3} {:3} {:02} {:02}:{:02}:{:02} {:4}": weekday, month, day, hours, minutes, seconds, year (UTC).
std::string timeToText(std::time_t utc);
