#include "core/timeutil.h"

#include <cmath>

#include <fmt/format.h>

std::atomic<double> g_feedEpochTime{0.0};
std::atomic<bool> g_rtProfEdition{false};

namespace {

std::atomic<bool> g_clockFixed{false};
std::atomic<kvo::Clock::rep> g_fixedTicks{0};

// Calendar parts of a UTC time, from the portable calendar of <chrono>.
struct UtcParts {
  int year, month, day;  // month 1..12
  unsigned isoWeekday;   // 1..7, Monday 1
  int hour, minute, second;
};

UtcParts utcParts(std::time_t utc) {
  using namespace std::chrono;
  const sys_seconds tp{seconds{utc}};
  const sys_days dayPoint = floor<days>(tp);
  const year_month_day ymd{dayPoint};
  const hh_mm_ss hms{tp - dayPoint};
  return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day())), weekday{dayPoint}.iso_encoding(),
          static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
          static_cast<int>(hms.seconds().count())};
}

}  // namespace

namespace kvo {

Clock::time_point utcNow() {
  if (g_clockFixed.load(std::memory_order_acquire)) {
    return Clock::time_point(Clock::duration(g_fixedTicks.load(std::memory_order_relaxed)));
  }
  return Clock::now();
}

void setUtcNowForTests(std::optional<Clock::time_point> fixed) {
  if (fixed) {
    g_fixedTicks.store(fixed->time_since_epoch().count(), std::memory_order_relaxed);
    g_clockFixed.store(true, std::memory_order_release);
  } else {
    g_clockFixed.store(false, std::memory_order_release);
  }
}

}  // namespace kvo

void resetTimeState() {
  g_feedEpochTime.store(0.0);
  g_rtProfEdition.store(false);
  kvo::setUtcNowForTests(std::nullopt);
}

std::time_t utcNowSeconds() { return kvo::Clock::to_time_t(kvo::utcNow()); }

bool isPlausibleFeedTime(double seconds) {
  constexpr double kFrom2000 = 946684800.0;
  constexpr double kFrom2100 = 4102444800.0;
  return seconds >= kFrom2000 && seconds < kFrom2100;
}

bool isFarAheadOfTheFeed(double stamp) {
  const double feed = g_feedEpochTime.load();
  return feed != 0.0 && stamp > feed + kvo::kMaxSecondsAheadOfTheFeed;
}

std::time_t simUtcSeconds() {
  if (g_rtProfEdition.load()) {
    const double feed = g_feedEpochTime.load();
    // Not yet a feed time, or none of this world: the system clock is safer.
    if (isPlausibleFeedTime(feed)) return static_cast<std::time_t>(std::floor(feed));
  }
  return utcNowSeconds();
}

kvo::WeekdaySlot weekSlotAt(std::time_t utc) {
  const UtcParts parts = utcParts(utc);
  const bool secondHalf = parts.minute * 60 + parts.second >= 29 * 60 + 30;
  const auto slot = static_cast<std::uint32_t>(2 * parts.hour + (secondHalf ? 1 : 0));
  return {parts.isoWeekday, slot};
}

kvo::WeekdaySlot currentWeekSlot() { return weekSlotAt(simUtcSeconds()); }

namespace {
std::string timeOfDayText(std::time_t utc) {
  const UtcParts parts = utcParts(utc);
  return fmt::format("{:02}:{:02}:{:02}", parts.hour, parts.minute, parts.second);
}
}  // namespace

std::string currentTimeText() { return timeOfDayText(utcNowSeconds()); }

std::string simTimeText() { return timeOfDayText(simUtcSeconds()); }

std::string timeToText(std::time_t utc) {
  static constexpr const char* kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const UtcParts parts = utcParts(utc);
  return fmt::format("{:3} {:3} {:02} {:02}:{:02}:{:02} {:4}", kDays[(parts.isoWeekday + 6) % 7],
                     kMonths[(parts.month + 11) % 12], parts.day, parts.hour, parts.minute, parts.second,
                     parts.year);
}
