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

void FeedQueue::push_back(FeedRecord&& record) {
  if (slots_.empty()) slots_.resize(capacity());
  slots_[(head_ + size_) % capacity()] = std::move(record);
  ++size_;
}

void FeedQueue::pop_front() {
  slots_[head_] = FeedRecord{};  // its texts' memory goes now, not when the slot is reused
  head_ = (head_ + 1) % capacity();
  --size_;
}

void FeedQueue::clear() {
  while (!empty()) pop_front();
  head_ = 0;
}

void FeedQueue::swap(FeedQueue& other) noexcept {
  slots_.swap(other.slots_);
  std::swap(head_, other.head_);
  std::swap(size_, other.size_);
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
  logArrowLine(fmt::format("Traffic feed full: {} oldest record{} dropped", dropped, pluralSuffix(dropped)));
}

}  // namespace

bool appendToTrafficFeed(kvo::FeedRecord&& record) {
  std::size_t burstEnded = 0;
  {
    std::lock_guard lock(g_trafficFeedMutex);
    if (!g_trafficFeedOpen.load()) return false;
    if (g_trafficFeed.full()) {
      g_trafficFeed.pop_front();
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
