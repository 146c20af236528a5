#pragma once
// The traffic feed's own time, whatever this PC's clock says: the time its aircraft agree on.
// Each aircraft has one vote, the stamp of its latest line once the line before it (of the same
// aircraft) agrees with it; the feed's time is the median of the votes of the aircraft that voted
// last. A wild line or pair of one aircraft, or the stale lines of another, moves it only where
// that aircraft is most of the feed; a feed whose whole time jumps (a replay of another day) is
// followed once most of its aircraft have agreed on the new time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace kvo {

class FeedTime {
 public:
  // Whether a line of aircraft `hexId` stamped `stamp`, that passed every other check, is taken:
  // false when it lies more than kMaxSecondsAheadOfTheFeed past both the feed's time (the lower
  // middle vote, which a wild half of the votes cannot lift) and the aircraft's own last line
  // taken (so that stale votes pulling the feed's time back refuse no true line of a known
  // aircraft). Taken or not, the line counts toward the feed's time.
  bool take(std::uint32_t hexId, double stamp);
  // The feed's time as the program shows it (the upper middle vote, which a stale half of the
  // votes cannot pull back); 0 until a first aircraft has sent two lines that agree.
  double agreed() const { return upper_; }
  void reset();

 private:
  void vote(std::uint32_t hexId, double stamp);

  struct Aircraft {
    double last = 0.0;   // its last line's stamp
    double taken = 0.0;  // its last line taken (0: none)
  };
  struct Vote {
    std::uint32_t hexId = 0;  // 0: a free slot (0 is no live aircraft's id)
    double stamp = 0.0;
  };
  // More than a handful, so that a few wild aircraft never make the majority.
  static constexpr std::size_t kVoters = 9;
  // A flood of new ids empties the table rather than growing it without end; each aircraft then
  // votes again from its next two lines.
  static constexpr std::size_t kMaxAircraft = 8192;

  std::unordered_map<std::uint32_t, Aircraft> aircraft_;
  std::array<Vote, kVoters> votes_{};
  std::size_t nextVote_ = 0;
  double lower_ = 0.0;  // the lower and upper middle votes (one vote for an odd count)
  double upper_ = 0.0;
};

}  // namespace kvo
