#pragma once
// The traffic feed: decoded traffic lines on their way from the Traffic Reader thread to the
// traffic engine's tick, which takes at most two records per tick.
//
// Access rules:
// - g_trafficFeed and g_trafficFeedOpen are read and changed only under g_trafficFeedMutex
//   (g_trafficFeedOpen is an atomic as well, so a painter or a test may peek at it).
// - Lock order: g_trafficFeedMutex before the SimConnect queue lock; the log lock last.
// - The reader appends only through appendToTrafficFeed, which keeps the feed bounded.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// The feed record shares its text block and track point with the traffic engine's aircraft
// records, which build on these parts.
#include "links/record_parts.h"

namespace kvo {

// One accepted traffic line. The text block is laid out as the aircraft records' own, so
// makeAircraftBase and moveAircraftBaseStrings take a FeedRecord as their source directly.
struct FeedRecord : AircraftTexts {
  TrackPoint position;
  double timestamp = 0.0;   // seconds since 1970 UTC, from the line
  std::uint32_t hexId = 0;  // RealTraffic's numeric id, always above 10000
};

// A record is due 30 s (3000 ticks of 10 ms) after it was queued.
inline constexpr TickCount kFeedDelayTicks = 3000;

// Most records the feed holds. The tick drains 200 records a second and a record is due 30 s
// after it arrives; with the spawn decided up to 3 s before a record is due, a record must be
// taken out within about 27 s to be of use. 5000 records are drained in 25 s, so even the
// newest record of a full feed still comes out 5 s before it is due. Past the bound the oldest
// records go first: they are the nearest to turning stale.
inline constexpr std::size_t kTrafficFeedCapacity = 5000;

// The feed's queue: first in, first out, at most kTrafficFeedCapacity records in one ring of
// slots made on the first append, so that queuing a record never allocates (a deque would
// allocate a block for every record of this size). A slot keeps no heap memory once its
// record is taken out.
class FeedQueue {
 public:
  bool empty() const noexcept { return size_ == 0; }
  std::size_t size() const noexcept { return size_; }
  static constexpr std::size_t capacity() noexcept { return kTrafficFeedCapacity; }
  bool full() const noexcept { return size_ == capacity(); }

  FeedRecord& front() noexcept { return slots_[head_]; }
  const FeedRecord& front() const noexcept { return slots_[head_]; }
  // The i-th record from the front.
  FeedRecord& operator[](std::size_t i) noexcept { return slots_[(head_ + i) % capacity()]; }
  const FeedRecord& operator[](std::size_t i) const noexcept { return slots_[(head_ + i) % capacity()]; }

  // The queue must not be full.
  void push_back(FeedRecord&& record);
  // The queue must not be empty.
  void pop_front();
  void clear();
  void swap(FeedQueue& other) noexcept;

 private:
  std::vector<FeedRecord> slots_;  // capacity() slots once anything was queued
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace kvo

extern std::mutex g_trafficFeedMutex;
extern kvo::FeedQueue g_trafficFeed;  // first in, first out
extern std::atomic<bool> g_trafficFeedOpen;        // records are queued only while set

// The traffic engine's clock: +1 per 10 ms tick, advanced by the engine on the start-up
// worker. It lives beside the feed because the reader, a lower library than the engine,
// stamps each record with it.
extern std::atomic<kvo::TickCount> g_trafficTick;

// Queues the record, due g_trafficTick + 3000, when the feed is open; a record made while the
// feed is closed is dropped silently. A full feed first drops its oldest records; how many
// were dropped is logged when the feed has room again, at most once per 10 s (the line sums up
// the drops since the last one), and whenever the feed is closed or cleared. Returns whether the
// record was queued.
bool appendToTrafficFeed(kvo::FeedRecord&& record);

// Opens or closes the feed under its lock.
void setTrafficFeedOpen(bool open);

// Replaces the feed by an empty queue (the traffic reset between runs).
void clearTrafficFeed();

// Records in the feed now.
std::size_t trafficFeedSize();

// Records dropped and not yet logged.
std::size_t trafficFeedPendingDrops();

// Empty, closed feed, tick 0, no drops pending: a test's fresh start.
void resetTrafficFeedForTests();
