#include "core/worker_slots.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/run_flags.h"

namespace {

struct SlotState {
  std::mutex mutex;
  std::condition_variable freed;
  unsigned maxSlots = 1;
  unsigned running = 0;
  std::uint64_t generation = 0;  // raised by every reset; older slots are not given back twice
};

SlotState& slotState() {
  static SlotState state;
  return state;
}

bool stopping() { return g_stopRequested.load() || g_quitRequested.load(); }

// Takes a slot and returns the generation it belongs to; false when a stop came first.
bool acquire(std::uint64_t& generation) {
  SlotState& s = slotState();
  std::unique_lock lock(s.mutex);
  // The stop flags are set without this lock, so the wait wakes up now and then to look.
  while (s.running >= s.maxSlots) {
    if (stopping()) return false;
    s.freed.wait_for(lock, std::chrono::milliseconds(10));
  }
  if (stopping()) return false;
  ++s.running;
  generation = s.generation;
  return true;
}

void release(std::uint64_t generation) {
  SlotState& s = slotState();
  {
    std::lock_guard lock(s.mutex);
    if (generation != s.generation || s.running == 0) return;
    --s.running;
  }
  s.freed.notify_one();
}

}  // namespace

void setMaxWorkerSlots(unsigned maxSlots) {
  SlotState& s = slotState();
  {
    std::lock_guard lock(s.mutex);
    s.maxSlots = maxSlots < 1 ? 1 : maxSlots;
    s.running = 0;
    ++s.generation;
  }
  s.freed.notify_all();
}

unsigned maxWorkerSlots() {
  SlotState& s = slotState();
  std::lock_guard lock(s.mutex);
  return s.maxSlots;
}

unsigned runningWorkers() {
  SlotState& s = slotState();
  std::lock_guard lock(s.mutex);
  return s.running;
}

bool acquireWorkerSlot() {
  std::uint64_t generation = 0;
  return acquire(generation);
}

void releaseWorkerSlot() {
  SlotState& s = slotState();
  {
    std::lock_guard lock(s.mutex);
    if (s.running == 0) return;
    --s.running;
  }
  s.freed.notify_one();
}

WorkerSlotGuard::WorkerSlotGuard() { acquired_ = acquire(generation_); }

WorkerSlotGuard::~WorkerSlotGuard() {
  if (acquired_) release(generation_);
}
