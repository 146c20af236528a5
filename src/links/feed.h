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
// newest record of a full feed still comes out 5 s before it is due.
inline constexpr std::size_t kTrafficFeedCapacity = 5000;

// The feed's queue: first in, first out, at most kTrafficFeedCapacity records in slots made on
// the first append, so that queuing a record never allocates (a deque would allocate a block for
// every record of this size). A slot keeps no heap memory once its record is taken out.
//
// A full queue makes room by dropping the oldest record of the aircraft (hexId) that holds the
// most: a sender that floods the feed with one aircraft pushes out only that aircraft's records,
// not everyone's. Each aircraft's records are chained oldest first and the aircraft are kept in
// buckets by their count, so finding and dropping that record costs the same at any fill.
class FeedQueue {
 public:
  FeedQueue() = default;
  FeedQueue(const FeedQueue&) = delete;
  FeedQueue& operator=(const FeedQueue&) = delete;

  bool empty() const noexcept { return size_ == 0; }
  std::size_t size() const noexcept { return size_; }
  static constexpr std::size_t capacity() noexcept { return kTrafficFeedCapacity; }
  bool full() const noexcept { return size_ == capacity(); }

  FeedRecord& front() noexcept { return slots_[head_].record; }
  const FeedRecord& front() const noexcept { return slots_[head_].record; }
  // The i-th record from the front: a walk of i steps (tests and checks, not the intake).
  const FeedRecord& operator[](std::size_t i) const noexcept;

  // The queue must not be full.
  void push_back(FeedRecord&& record);
  // The queue must not be empty.
  void pop_front();
  // Drops the oldest record of the aircraft that holds the most; of the front's aircraft when it
  // holds as many, so that among equals the oldest record goes. The queue must not be empty.
  void dropFromTheMost();
  void clear();
  void swap(FeedQueue& other) noexcept;

 private:
  using Index = std::uint16_t;
  static constexpr Index kNone = 0xFFFF;
  static_assert(kTrafficFeedCapacity < kNone);
  static constexpr std::size_t kTableBits = 13;
  static constexpr std::size_t kTableSize = std::size_t{1} << kTableBits;  // well above the capacity

  struct Slot {
    FeedRecord record;
    std::uint32_t hexId = 0;
    Index prev = kNone;  // queue order
    Index next = kNone;
    Index nextOfAircraft = kNone;  // the aircraft's next newer record
  };
  struct Aircraft {
    std::uint32_t hexId = 0;
    std::uint16_t count = 0;
    Index oldest = kNone;
    Index newest = kNone;
    Index prevInBucket = kNone;  // the aircraft with the same count
    Index nextInBucket = kNone;
  };

  void makeSlots();
  void remove(Index slot);
  Index find(std::uint32_t hexId) const noexcept;
  Index addAircraft(std::uint32_t hexId);
  void forgetAircraft(Index aircraft);
  void recount(Index aircraft, int change);

  std::vector<Slot> slots_;          // capacity() once anything was queued
  std::vector<Aircraft> aircraft_;   // capacity(): at most one per record
  std::vector<Index> table_;         // hexId -> aircraft, open addressing
  std::vector<Index> bucket_;        // count -> the first aircraft with that count
  Index head_ = kNone;
  Index tail_ = kNone;
  Index freeSlot_ = kNone;           // chained through Slot::next
  Index freeAircraft_ = kNone;       // chained through Aircraft::nextInBucket
  std::size_t size_ = 0;
  std::uint16_t most_ = 0;           // the highest count of any aircraft
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
// feed is closed is dropped silently. A full feed first drops a record of the aircraft that holds
// the most (FeedQueue::dropFromTheMost); how many
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
