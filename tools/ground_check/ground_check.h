#pragma once
// A check of how the AI aircraft move on the ground, over a run recorded from the stand-in
// simulator's state file (docs/ground-motion.md): for every aircraft moving on the ground, its
// heading against its direction of motion, backward movement outside a push-back, and where a
// push-back leaves the nose against where the feed's push-back left it.
//
// The states are sampled about once a second; each pair of successive samples of one object is a
// step, its direction and speed taken from the two positions (the stand-in reports no ground
// speed for AI objects). Speeds are the feed's: with a replay sped up by `timeScale` the aircraft
// move that much faster than their lines say. Times and durations are the simulator's, as one
// watching it sees them.
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace groundcheck {

struct Sample {
  double second = 0.0;  // the simulator's elapsed time
  int objectId = 0;
  double lat = 0.0;
  double lon = 0.0;
  double headingDeg = 0.0;
  bool onGround = false;
};

// Every program-made aircraft's samples by callsign, in time order.
using Recording = std::map<std::string, std::vector<Sample>>;

// Adds the program-made objects of one state file's JSON to the recording.
void addState(const nlohmann::json& state, Recording& recording);
// A recorded run: one state file's JSON per line; lines that are no JSON are skipped.
Recording readRecording(std::istream& in);

// The feed's true heading at the end of each flight's first push-back, by callsign, from a replay
// session's traffic lines: the push-back is the lines on the ground moving more than 90 degrees
// off the nose.
std::map<std::string, double> feedPushBackEnds(std::istream& session);

struct Limits {
  double timeScale = 1.0;   // the replay's speed: feed seconds per simulator second
  double stillKt = 1.0;     // slower is standing: heading against motion means nothing
  double offDeg = 20.0;     // a sample this far off its motion counts as off
  double farOffDeg = 45.0;  // ... and this far off, while faster than farOffKt, starts a run
  double farOffKt = 6.0;
  double farOffSeconds = 3.0;     // the longest such run allowed
  double pushEndDeg = 20.0;       // a push-back's end heading against the feed's
  double jumpKt = 25.0;           // a step this much faster than the one before is a jump (onto a stand)
  double pushPauseSeconds = 5.0;  // a push-back may stand this long between its legs
  double offShare = 0.05;         // under this share of the moving samples may be off
};

// A stretch of steps: where it starts and how long it lasts (simulator seconds), its steps, the
// most it was off, and the fastest it went (kt).
struct Stretch {
  double startSecond = 0.0;
  int samples = 0;
  double seconds = 0.0;
  double maxOffDeg = 0.0;
  double maxKt = 0.0;
};

struct AircraftReport {
  int movingSamples = 0;              // steps on the ground at stillKt or faster, jumps left out
  int offSamples = 0;                 // ... more than offDeg off (backward in a push-back counts as aligned)
  std::vector<Stretch> farOffRuns;    // runs more than farOffDeg off while faster than farOffKt
  std::vector<Stretch> backwardRuns;  // moving backward outside a push-back
  bool pushedBack = false;
  double pushEndSecond = 0.0;
  double pushEndHeadingDeg = 0.0;
  bool feedPushKnown = false;
  double feedPushEndHeadingDeg = 0.0;
  double pushEndOffDeg = 0.0;  // 0 unless both are known
  double longestFarOffSeconds() const;
};

struct Report {
  std::map<std::string, AircraftReport> aircraft;
  int movingSamples = 0;
  int offSamples = 0;
  double longestFarOffSeconds = 0.0;
  int backwardSamples = 0;  // steps backward outside a push-back
  int pushBacks = 0;
  int pushBacksOff = 0;  // ending more than pushEndDeg off the feed's end heading
  double offShare() const { return movingSamples > 0 ? static_cast<double>(offSamples) / movingSamples : 0.0; }
};

Report check(const Recording& recording, const std::map<std::string, double>& feedPushEnds, const Limits& limits = {});

// The limits' rules broken, one line each; empty when the run passes.
std::vector<std::string> failures(const Report& report, const Limits& limits = {});

// The report as text: one block per aircraft that moved on the ground, then the totals.
std::string format(const Report& report, const Limits& limits = {});

}  // namespace groundcheck
