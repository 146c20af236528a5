#include "links/feed.h"

#include <fmt/format.h>

#include <chrono>
#include <optional>
#include <utility>

#include "core/log.h"
#include "core/text.h"
#include "core/timeutil.h"

std::mutex g_trafficFeedMutex;
kvo::FeedQueue g_trafficFeed;
std::atomic<bool> g_trafficFeedOpen{false};
std::atomic<kvo::TickCount> g_trafficTick{0};

namespace kvo {

namespace {

// Fibonacci hashing: the top bits of the product spread neighbouring ids over the table.
std::size_t homeOf(std::uint32_t hexId, std::size_t tableBits) {
  return static_cast<std::uint32_t>(hexId * 2654435761u) >> (32 - tableBits);
}

}  // namespace

void FeedQueue::makeSlots() {
  slots_.resize(capacity());
  aircraft_.resize(capacity());
  table_.assign(kTableSize, kNone);
  bucket_.assign(capacity() + 1, kNone);
  for (std::size_t i = 0; i < capacity(); ++i) {
    slots_[i].next = i + 1 < capacity() ? static_cast<Index>(i + 1) : kNone;
    aircraft_[i].nextInBucket = i + 1 < capacity() ? static_cast<Index>(i + 1) : kNone;
  }
  freeSlot_ = 0;
  freeAircraft_ = 0;
}

const FeedRecord& FeedQueue::operator[](std::size_t i) const noexcept {
  Index slot = head_;
  while (i-- > 0) slot = slots_[slot].next;
  return slots_[slot].record;
}

FeedQueue::Index FeedQueue::find(std::uint32_t hexId) const noexcept {
  for (std::size_t i = homeOf(hexId, kTableBits);; i = (i + 1) & (kTableSize - 1)) {
    if (table_[i] == kNone || aircraft_[table_[i]].hexId == hexId) return table_[i];
  }
}

FeedQueue::Index FeedQueue::addAircraft(std::uint32_t hexId) {
  const Index a = freeAircraft_;
  freeAircraft_ = aircraft_[a].nextInBucket;
  aircraft_[a] = Aircraft{hexId};
  std::size_t i = homeOf(hexId, kTableBits);
  while (table_[i] != kNone) i = (i + 1) & (kTableSize - 1);
  table_[i] = a;
  return a;
}

void FeedQueue::forgetAircraft(Index a) {
  std::size_t hole = homeOf(aircraft_[a].hexId, kTableBits);
  while (table_[hole] != a) hole = (hole + 1) & (kTableSize - 1);
  // Linear probing without tombstones: each entry after the hole that may sit in it moves back.
  for (std::size_t i = (hole + 1) & (kTableSize - 1); table_[i] != kNone; i = (i + 1) & (kTableSize - 1)) {
    const std::size_t home = homeOf(aircraft_[table_[i]].hexId, kTableBits);
    if (((i - home) & (kTableSize - 1)) >= ((i - hole) & (kTableSize - 1))) {
      table_[hole] = table_[i];
      hole = i;
    }
  }
  table_[hole] = kNone;
  aircraft_[a].nextInBucket = freeAircraft_;
  freeAircraft_ = a;
}

void FeedQueue::recount(Index a, int change) {
  Aircraft& ac = aircraft_[a];
  if (ac.count > 0) {  // out of its bucket
    if (ac.prevInBucket != kNone) {
      aircraft_[ac.prevInBucket].nextInBucket = ac.nextInBucket;
    } else {
      bucket_[ac.count] = ac.nextInBucket;
    }
    if (ac.nextInBucket != kNone) aircraft_[ac.nextInBucket].prevInBucket = ac.prevInBucket;
  }
  ac.count = static_cast<std::uint16_t>(ac.count + change);
  ac.prevInBucket = kNone;
  ac.nextInBucket = kNone;
  if (ac.count > 0) {  // into its new one
    ac.nextInBucket = bucket_[ac.count];
    if (ac.nextInBucket != kNone) aircraft_[ac.nextInBucket].prevInBucket = a;
    bucket_[ac.count] = a;
  }
  if (ac.count > most_) most_ = ac.count;
  while (most_ > 0 && bucket_[most_] == kNone) --most_;
}

void FeedQueue::push_back(FeedRecord&& record) {
  if (slots_.empty()) makeSlots();
  const Index s = freeSlot_;
  Slot& slot = slots_[s];
  freeSlot_ = slot.next;
  slot.record = std::move(record);
  slot.hexId = slot.record.hexId;
  slot.prev = tail_;
  slot.next = kNone;
  slot.nextOfAircraft = kNone;
  (tail_ != kNone ? slots_[tail_].next : head_) = s;
  tail_ = s;
  ++size_;

  Index a = find(slot.hexId);
  if (a == kNone) a = addAircraft(slot.hexId);
  Aircraft& ac = aircraft_[a];
  (ac.newest != kNone ? slots_[ac.newest].nextOfAircraft : ac.oldest) = s;
  ac.newest = s;
  recount(a, +1);
}

// The slot holds its aircraft's oldest record: the queue keeps each aircraft's records in order,
// and only the oldest of one is ever removed.
void FeedQueue::remove(Index s) {
  Slot& slot = slots_[s];
  const Index a = find(slot.hexId);
  Aircraft& ac = aircraft_[a];
  ac.oldest = slot.nextOfAircraft;
  if (ac.oldest == kNone) ac.newest = kNone;
  recount(a, -1);
  if (ac.count == 0) forgetAircraft(a);

  (slot.prev != kNone ? slots_[slot.prev].next : head_) = slot.next;
  (slot.next != kNone ? slots_[slot.next].prev : tail_) = slot.prev;
  slot.record = FeedRecord{};  // its texts' memory goes now, not when the slot is reused
  slot.next = freeSlot_;
  freeSlot_ = s;
  --size_;
}

void FeedQueue::pop_front() { remove(head_); }

void FeedQueue::dropFromTheMost() {
  const Index front = find(slots_[head_].hexId);
  remove(aircraft_[front].count == most_ ? head_ : aircraft_[bucket_[most_]].oldest);
}

void FeedQueue::clear() {
  while (!empty()) pop_front();
}

void FeedQueue::swap(FeedQueue& other) noexcept {
  slots_.swap(other.slots_);
  aircraft_.swap(other.aircraft_);
  table_.swap(other.table_);
  bucket_.swap(other.bucket_);
  std::swap(head_, other.head_);
  std::swap(tail_, other.tail_);
  std::swap(freeSlot_, other.freeSlot_);
  std::swap(freeAircraft_, other.freeAircraft_);
  std::swap(size_, other.size_);
  std::swap(most_, other.most_);
}

}  // namespace kvo

namespace {

// A flood keeps the feed full: the tick makes room for two records, the next datagrams drop two
// again. So the drops are logged at most once per period, with their sum.
constexpr std::chrono::seconds kDropLinePeriod{10};

std::size_t g_droppedInBurst = 0;  // dropped and not yet logged; under g_trafficFeedMutex
std::optional<std::chrono::system_clock::time_point> g_lastDropLine;  // under g_trafficFeedMutex

// Takes the count to log under the lock (the caller logs it after unlocking): 0 while a line of
// this period was written, unless `now` (the feed closes or is cleared, so nothing would come to
// report it later).
std::size_t takeDropCountLocked(bool now) {
  if (g_droppedInBurst == 0) return 0;
  const auto time = kvo::utcNow();
  // A clock set back starts a new period too.
  if (!now && g_lastDropLine && time >= *g_lastDropLine && time - *g_lastDropLine < kDropLinePeriod) return 0;
  g_lastDropLine = time;
  return std::exchange(g_droppedInBurst, 0);
}

void logDrops(std::size_t dropped) {
  if (dropped == 0) return;
  logArrowLine(fmt::format("Traffic feed full: {} record{} dropped from the aircraft holding the most", dropped,
                            pluralSuffix(dropped)));
}

}  // namespace

bool appendToTrafficFeed(kvo::FeedRecord&& record) {
  std::size_t burstEnded = 0;
  {
    std::lock_guard lock(g_trafficFeedMutex);
    if (!g_trafficFeedOpen.load()) return false;
    if (g_trafficFeed.full()) {
      g_trafficFeed.dropFromTheMost();
      ++g_droppedInBurst;
    } else {
      burstEnded = takeDropCountLocked(false);
    }
    record.position.dueTick = g_trafficTick.load() + kvo::kFeedDelayTicks;
    g_trafficFeed.push_back(std::move(record));
  }
  logDrops(burstEnded);
  return true;
}

void setTrafficFeedOpen(bool open) {
  std::size_t dropped = 0;
  {
    std::lock_guard lock(g_trafficFeedMutex);
    g_trafficFeedOpen.store(open);
    if (!open) dropped = takeDropCountLocked(true);
  }
  logDrops(dropped);
}

void clearTrafficFeed() {
  kvo::FeedQueue old;
  std::size_t dropped = 0;
  {
    std::lock_guard lock(g_trafficFeedMutex);
    old.swap(g_trafficFeed);
    dropped = takeDropCountLocked(true);
  }
  logDrops(dropped);
}  // the old records are released outside the lock

std::size_t trafficFeedSize() {
  std::lock_guard lock(g_trafficFeedMutex);
  return g_trafficFeed.size();
}

std::size_t trafficFeedPendingDrops() {
  std::lock_guard lock(g_trafficFeedMutex);
  return g_droppedInBurst;
}

void resetTrafficFeedForTests() {
  std::lock_guard lock(g_trafficFeedMutex);
  g_trafficFeed.clear();
  g_trafficFeedOpen.store(false);
  g_droppedInBurst = 0;
  g_lastDropLine.reset();
  g_trafficTick.store(0);
}
