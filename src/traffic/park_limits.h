#pragma once
// The limit on parked aircraft at the park airport, live and static together. Start-up worker
// only.
#include <cstdint>
#include <vector>

namespace kvo {

// A live aircraft parked on a stand and for how long.
struct ParkedDuration {
  std::uint64_t hexId = 0;
  std::uint64_t seconds = 0;
};

}  // namespace kvo

// Every active parked live aircraft with its seconds parked, longest first.
void collectParkedDurations(std::vector<kvo::ParkedDuration>& out);
// At most the max park count of parked aircraft (extra 1: a live aircraft is about to be put on a
// stand): the live aircraft parked longest goes, then the static one of the earliest half hour;
// at most one of each per call.
void enforceMaxPark(std::uint8_t extra);
// The n live aircraft parked longest go.
void removeLiveParked(std::uint64_t n);
