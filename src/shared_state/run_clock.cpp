#include "shared_state/run_clock.h"

#include "airports/stand.h"
#include "core/timeutil.h"

std::atomic<std::int32_t> g_userSampleCount{0};
std::atomic<std::uint64_t> g_currentWeekSlot{0};

void refreshCurrentWeekSlot() {
  const auto now = currentWeekSlot();
  g_currentWeekSlot = kvo::makeWeekSlot(now.weekday, now.slot);
}
