#include "links/feed_time.h"

#include <algorithm>
#include <cmath>

#include "core/timeutil.h"

namespace kvo {

bool FeedTime::take(std::uint32_t hexId, double stamp) {
  if (aircraft_.size() >= kMaxAircraft && !aircraft_.contains(hexId)) aircraft_.clear();
  Aircraft& aircraft = aircraft_[hexId];
  const bool taken = lower_ == 0.0 || stamp <= std::max(lower_, aircraft.taken) + kMaxSecondsAheadOfTheFeed;
  if (aircraft.last != 0.0 && std::abs(stamp - aircraft.last) <= kMaxSecondsAheadOfTheFeed) vote(hexId, stamp);
  aircraft.last = stamp;
  if (taken) aircraft.taken = stamp;
  return taken;
}

void FeedTime::vote(std::uint32_t hexId, double stamp) {
  auto slot = std::find_if(votes_.begin(), votes_.end(), [&](const Vote& v) { return v.hexId == hexId; });
  if (slot == votes_.end()) {
    slot = votes_.begin() + static_cast<std::ptrdiff_t>(nextVote_);
    nextVote_ = (nextVote_ + 1) % kVoters;
  }
  *slot = {hexId, stamp};
  std::array<double, kVoters> stamps{};
  std::size_t count = 0;
  for (const Vote& v : votes_) {
    if (v.hexId != 0) stamps[count++] = v.stamp;
  }
  std::sort(stamps.begin(), stamps.begin() + static_cast<std::ptrdiff_t>(count));
  lower_ = stamps[(count - 1) / 2];
  upper_ = stamps[count / 2];
}

void FeedTime::reset() { *this = FeedTime(); }

}  // namespace kvo
