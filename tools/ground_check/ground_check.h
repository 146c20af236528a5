#pragma once
// A check of how the AI aircraft move on the ground, over a run recorded from the stand-in
// simulator's state file (docs/ground-motion.md): for every aircraft moving on the ground, its
// heading against its direction of motion, backward movement outside a push-back, where a
// push-back leaves the aircraft and its nose against where the feed's push-back left them, how far
// an aircraft moves while its feed stands still, how steady its nose is on the feed's straight
// legs, how fast an aeroplane's nose turns on the ground, and how far it leaves its feed's path.
//
// The states are sampled about once a second; each pair of successive samples of one object is a
// step, its direction and speed taken from the two positions (the stand-in reports no ground
// speed for AI objects). Speeds are the feed's: with a replay sped up by `timeScale` the aircraft
// move that much faster than their lines say. Times and durations are the simulator's, as one
// watching it sees them.
#include <iosfwd>
#include <limits>
#include <map>
#include <set>
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

// What the replayed feed shows, read from a replay session's traffic lines by callsign. Times are
// the session's (seconds from its start, as the lines are sent). A line no newer than the last one
// taken of its flight is skipped, as the program skips it. The nose is the true heading (field 25),
// which the session maker writes into every line, also where the program reads none (lines not
// from "adsb_icao"): the check knows where the noses point even where the program must guess.
struct FeedPush {
  double endHeadingDeg = 0.0;
  double lat = 0.0;  // where it ends
  double lon = 0.0;
};
// The feed standing still: consecutive lines on the ground slower than 0.3 kt.
struct FeedStill {
  double fromSecond = 0.0;
  double toSecond = 0.0;
};
// A straight leg: consecutive lines moving on the ground at 5 kt or more, their noses within 4
// degrees of their mean, for 20 s or more. Its path is the line fitted through its positions
// (they scatter on a noisy feed), running from the first to the last.
struct FeedLeg {
  double fromSecond = 0.0;
  double toSecond = 0.0;
  double lat = 0.0;  // a point of the path
  double lon = 0.0;
  double bearingDeg = 0.0;
  double metres = 0.0;  // from the first line's place to the last's, along the path
};
// One line of a flight's path: the polyline through its lines is the way the feed shows it (in the
// air too: a helicopter comes down onto its pad along it).
struct PathLine {
  double second = 0.0;  // sent, from the session's start
  double lat = 0.0;
  double lon = 0.0;
};
struct Feed {
  // Each flight's first push-back: its first move on the ground after standing, when that move
  // leads backward (the place 15 m away lies more than 90 degrees off the standing nose). It ends
  // where the flight next stands (the mean of those standing lines' places and noses; the last
  // backward line when it never stands).
  std::map<std::string, FeedPush> pushes;
  std::map<std::string, std::vector<FeedStill>> stills;
  std::map<std::string, std::vector<FeedLeg>> legs;
  // Flights whose lines give the rotorcraft emitter category ("A7", field 28): a helicopter turns
  // on the spot as fast as it likes.
  std::set<std::string> rotorcraft;
  // Each flight's lines, in time order: its path. A scattering feed's lines are not
  // its path: it is taken from the exact session it was made from (takePaths).
  std::map<std::string, std::vector<PathLine>> paths;
};
Feed readFeed(std::istream& session);
// The paths of the exact session the feed's own scattered lines were made from.
void takePaths(Feed& feed, std::istream& exactSession);
// Everything the check judges by, taken from that exact session: its paths, push-backs, still
// stretches and straight legs (a feed whose heading comes from its scattered track, or lines
// 5-10 s apart, shows no straight leg of its own).
void takeExact(Feed& feed, std::istream& exactSession);

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
  double noseTurnDeg = 30.0;      // an aeroplane's nose on the ground turns at most this far in one second
  // A sample moving on the ground between pathFromKt and pathToKt lies at most this far from its
  // feed's path (the polyline of its lines on the ground sent within pathSeconds of the sample's).
  double pathM = 5.0;
  double pathFromKt = 2.0;
  double pathToKt = 35.0;
  double pathSeconds = 60.0;
  // The simulator second at which the session's start is shown: the replay's start plus the
  // feed's 30 s.
  double feedShownSecond = 34.0;
  // Rules held only where set (the noisy session's, noisyFeed()): a push-back ends within this of
  // the feed's push-back's end; an aircraft moves less than this while its feed stands still; on
  // the feed's straight legs the nose's error has a standard deviation under this.
  double pushEndM = std::numeric_limits<double>::infinity();
  double standDriftM = std::numeric_limits<double>::infinity();
  double straightNoseStdDeg = std::numeric_limits<double>::infinity();
  static Limits noisyFeed();
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
  bool pushGoesOn = false;  // the record ends during the push-back: where it ends is not known
  double pushEndSecond = 0.0;
  double pushEndHeadingDeg = 0.0;
  bool feedPushKnown = false;
  double feedPushEndHeadingDeg = 0.0;
  double pushEndOffDeg = 0.0;  // 0 unless both are known
  double pushEndLat = 0.0;     // where the push-back ended
  double pushEndLon = 0.0;
  double pushEndGapM = 0.0;    // from the feed's push-back end; 0 unless both are known
  // The longest stop of the push-back between two backward moves (also one longer than
  // pushPauseSeconds, which ends the push-back for the rules above), in seconds.
  double pushPauseSeconds = 0.0;
  // Standing: the most the aircraft moved within one of its feed's still stretches (the stretch
  // shown in the simulator, less 15 s at its start for the aircraft to arrive, and 5 s at its end),
  // and the simulator second it was farthest; the most its nose turned there.
  int stills = 0;
  double standDriftM = 0.0;
  double standDriftSecond = 0.0;
  double standTurnDeg = 0.0;
  // Straight legs: the nose against the feed's path over the steps that lie on one (within 15 m
  // of the path, 15 m in from its ends, moving forward).
  int straightSamples = 0;
  double straightMeanDeg = 0.0;
  double straightStdDeg = 0.0;
  double straightMaxDeg = 0.0;
  // The nose's fastest turn on the ground, moving or standing, in degrees per second, and the
  // simulator second its step starts; jumps left out.
  bool rotorcraft = false;
  double fastestNoseTurnDeg = 0.0;
  double fastestNoseTurnSecond = 0.0;
  // The path: how far the moving samples (pathFromKt to pathToKt) lie from the feed's path, the
  // largest (and the simulator second of it) and the 95th percentile.
  int pathSamples = 0;
  double pathMaxM = 0.0;
  double pathMaxSecond = 0.0;
  double pathP95M = 0.0;
  // Figures shown, not held (the noisy kinds' rules): measured against the feed's path (its
  // motion between two lines).
  // The most an aeroplane's nose stands to the side away from a turn the feed begins within
  // 15 s, while the feed ran straight for the 10 s before (nose against the feed's track).
  double wrongWayDeg = 0.0;
  double wrongWaySecond = 0.0;
  // The most an aeroplane's nose turns while it stands (slower than stillKt) and its feed rolls
  // at 3 kt or more, over one such stretch.
  double pivotDeg = 0.0;
  double pivotSecond = 0.0;
  // The most the aircraft moves from 5 s after its feed stops to the end of the feed's standing
  // (a hover-taxiing helicopter crawling on after its feed stopped).
  double stopMovesM = 0.0;
  double stopMovesSecond = 0.0;
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
  int pushBacksFar = 0;  // ending more than pushEndM from the feed's end
  double largestPushEndGapM = 0.0;
  double longestPushPauseSeconds = 0.0;
  double largestStandDriftM = 0.0;
  double largestStandTurnDeg = 0.0;
  int straightSamples = 0;
  double straightStdDeg = 0.0;  // over every aircraft's straight-leg samples, each about its own mean
  double fastestNoseTurnDeg = 0.0;  // of the aeroplanes, in one second
  double largestPathM = 0.0;        // the farthest any moving sample lies from its feed's path
  double offShare() const { return movingSamples > 0 ? static_cast<double>(offSamples) / movingSamples : 0.0; }
};

Report check(const Recording& recording, const Feed& feed, const Limits& limits = {});

// The limits' rules broken, one line each; empty when the run passes.
std::vector<std::string> failures(const Report& report, const Limits& limits = {});

// The report as text: one block per aircraft that moved on the ground, then the totals.
std::string format(const Report& report, const Limits& limits = {});

}  // namespace groundcheck
