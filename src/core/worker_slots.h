#pragma once
// Limits the number of scan workers that run at once. The start-up worker sets the maximum to
// the number of hardware threads before the scans; each worker holds one slot while it runs.
#include <cstdint>

// Sets the maximum (at least 1) and resets the running count to 0. Slots taken before the reset
// and released through a WorkerSlotGuard afterwards are not counted again.
void setMaxWorkerSlots(unsigned maxSlots);
unsigned maxWorkerSlots();
unsigned runningWorkers();

// Waits for a free slot and takes it; returns false (no slot taken) once g_stopRequested or
// g_quitRequested is set.
bool acquireWorkerSlot();
// Gives a slot back (never below 0).
void releaseWorkerSlot();

// Takes a slot on construction (see acquired()) and gives it back on destruction.
class WorkerSlotGuard {
 public:
  WorkerSlotGuard();
  ~WorkerSlotGuard();
  WorkerSlotGuard(const WorkerSlotGuard&) = delete;
  WorkerSlotGuard& operator=(const WorkerSlotGuard&) = delete;
  bool acquired() const { return acquired_; }

 private:
  bool acquired_ = false;
  std::uint64_t generation_ = 0;
};
