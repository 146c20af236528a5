#include <chrono>

#include <gtest/gtest.h>

#include "core/timeutil.h"

namespace {

using namespace std::chrono;

std::time_t utcAt(year_month_day ymd, int h, int m, int s) {
  return system_clock::to_time_t(sys_days{ymd} + hours{h} + minutes{m} + seconds{s});
}

class TimeUtil : public ::testing::Test {
 protected:
  void TearDown() override { resetTimeState(); }
};

TEST_F(TimeUtil, WeekSlotBoundaries) {
  struct Case {
    year_month_day day;
    int h, m, s;
    std::uint32_t weekday, slot;
  };
  const Case cases[] = {
      {2024y / March / 4, 0, 0, 0, 1, 0},    // Monday midnight
      {2024y / March / 4, 2, 29, 29, 1, 4},  // just before the half: 2h
      {2024y / March / 4, 2, 29, 30, 1, 5},  // from 29:30 on: 2h + 1
      {2024y / March / 4, 2, 59, 59, 1, 5},
      {2024y / March / 4, 3, 0, 0, 1, 6},
      {2024y / March / 4, 23, 59, 59, 1, 47},
      {2024y / March / 10, 12, 0, 0, 7, 24},  // Sunday is 7
      {2024y / March / 11, 0, 0, 0, 1, 0},    // and Monday follows it as 1
      {2024y / March / 9, 23, 29, 30, 6, 47},
  };
  for (const auto& c : cases) {
    const kvo::WeekdaySlot ws = weekSlotAt(utcAt(c.day, c.h, c.m, c.s));
    EXPECT_EQ(ws.weekday, c.weekday) << c.h << ":" << c.m << ":" << c.s;
    EXPECT_EQ(ws.slot, c.slot) << c.h << ":" << c.m << ":" << c.s;
  }
}

TEST_F(TimeUtil, FeedTimeCountsOnlyWithAProfessionalEdition) {
  const auto systemNow = sys_days{2024y / March / 4} + hours{10};  // Monday 10:00
  kvo::setUtcNowForTests(systemNow);
  const double feed = static_cast<double>(utcAt(2024y / March / 6, 15, 45, 5)) + 0.7;  // Wednesday

  g_feedEpochTime = feed;
  EXPECT_EQ(currentWeekSlot(), (kvo::WeekdaySlot{1, 20}));
  EXPECT_EQ(simTimeText(), "10:00:00");

  g_rtProfEdition = true;
  EXPECT_EQ(currentWeekSlot(), (kvo::WeekdaySlot{3, 31}));
  EXPECT_EQ(simTimeText(), "15:45:05");
  EXPECT_EQ(currentTimeText(), "10:00:00");  // the clock text is always the system's

  g_feedEpochTime = 0.0;  // no line read yet
  EXPECT_EQ(currentWeekSlot(), (kvo::WeekdaySlot{1, 20}));
  EXPECT_EQ(simTimeText(), "10:00:00");
}

TEST_F(TimeUtil, ClockOverrideAndReset) {
  const auto fixed = sys_days{2001y / January / 2} + hours{3} + minutes{4} + seconds{5};
  kvo::setUtcNowForTests(fixed);
  EXPECT_EQ(kvo::utcNow(), fixed);
  EXPECT_EQ(currentTimeText(), "03:04:05");
  resetTimeState();
  EXPECT_GT(kvo::utcNow(), fixed);
  EXPECT_FALSE(g_rtProfEdition.load());
  EXPECT_EQ(g_feedEpochTime.load(), 0.0);
}

TEST_F(TimeUtil, TimeToTextFormat) {
  EXPECT_EQ(timeToText(utcAt(2024y / March / 4, 5, 6, 7)), "Mon Mar 04 05:06:07 2024");
  EXPECT_EQ(timeToText(utcAt(2023y / December / 31, 23, 59, 59)), "Sun Dec 31 23:59:59 2023");
  EXPECT_EQ(timeToText(0), "Thu Jan 01 00:00:00 1970");
}

}  // namespace
