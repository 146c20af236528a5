#pragma once
// The run's clock as the main loop keeps it on the start-up worker: the user samples counted and
// the current week slot, which the traffic engine and the stand code read as "now".
#include <atomic>
#include <cstdint>

// User samples handled in this run: the run's clock in seconds. The worker counts; the window
// thread reads it.
extern std::atomic<std::int32_t> g_userSampleCount;
// The current (weekday, half-hour slot) as a kvo::WeekSlot; refreshed by the main loop.
extern std::atomic<std::uint64_t> g_currentWeekSlot;

// g_currentWeekSlot = the week slot of now.
void refreshCurrentWeekSlot();
