#include "ground_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "session.h"

namespace groundcheck {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEarthRadiusM = 6371000.0;
constexpr double kMetresPerSecondPerKt = 1852.0 / 3600.0;
// A gap in the samples longer than this (simulator seconds) says nothing about the motion between.
constexpr double kLongestStepSeconds = 3.0;

double signedDeg(double deg) {
  deg = std::fmod(deg, 360.0);
  if (deg > 180.0) deg -= 360.0;
  if (deg < -180.0) deg += 360.0;
  return deg;
}
double wrapDeg(double deg) {
  deg = std::fmod(deg, 360.0);
  return deg < 0.0 ? deg + 360.0 : deg;
}

// Metres east and north from a to b: flat over the one second between two samples.
void offset(const Sample& a, const Sample& b, double& east, double& north) {
  const double toRad = kPi / 180.0;
  north = (b.lat - a.lat) * toRad * kEarthRadiusM;
  east = signedDeg(b.lon - a.lon) * toRad * kEarthRadiusM * std::cos((a.lat + b.lat) / 2.0 * toRad);
}

std::string clock(double second) {
  const int s = static_cast<int>(std::lround(second));
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
  return text;
}

// Extends the open stretch with a step, or opens one.
void extend(std::vector<Stretch>& stretches, bool& open, double startSecond, double seconds, double offDeg, double kt) {
  if (!open) {
    stretches.push_back({startSecond, 0, 0.0, 0.0, 0.0});
    open = true;
  }
  Stretch& s = stretches.back();
  ++s.samples;
  s.seconds += seconds;
  s.maxOffDeg = std::max(s.maxOffDeg, offDeg);
  s.maxKt = std::max(s.maxKt, kt);
}

enum class Push { NotYet, Pushing, Done };

void checkAircraft(const std::vector<Sample>& samples, const Limits& limits, AircraftReport& r) {
  Push push = Push::Done;
  double prevKt = 0.0;
  double stillSince = -1.0;  // seconds standing since the last backward step of a push-back
  double pushStop = -1.0;    // the same, also past the push-back's end, until the aircraft moves again
  bool farOffOpen = false;
  bool backwardOpen = false;
  auto closeRuns = [&] { farOffOpen = backwardOpen = false; };
  std::size_t first = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const Sample& b = samples[i];
    // The first sample of an object (a new one under the same callsign too) and the step out of
    // it: where it was made, which says nothing about its motion. One made on the ground may push
    // back.
    if (i == 0 || samples[i - 1].objectId != b.objectId) {
      first = i;
      push = b.onGround ? Push::NotYet : Push::Done;
      pushStop = -1.0;
      prevKt = 0.0;
      closeRuns();
      continue;
    }
    if (i == first + 1) continue;
    const Sample& a = samples[i - 1];
    const double stepSeconds = b.second - a.second;
    if (stepSeconds <= 0.0 || stepSeconds > kLongestStepSeconds) {
      closeRuns();
      continue;
    }
    double east = 0.0;
    double north = 0.0;
    offset(a, b, east, north);
    const double kt = std::hypot(east, north) / (stepSeconds * limits.timeScale) / kMetresPerSecondPerKt;
    const bool jump = kt > prevKt + limits.jumpKt;
    prevKt = jump ? 0.0 : kt;
    if (!a.onGround || !b.onGround || jump) {
      closeRuns();
      continue;
    }
    const double noseTurnDeg = std::abs(signedDeg(b.headingDeg - a.headingDeg)) / stepSeconds;
    if (noseTurnDeg > r.fastestNoseTurnDeg) {
      r.fastestNoseTurnDeg = noseTurnDeg;
      r.fastestNoseTurnSecond = a.second;
    }
    if (kt < limits.stillKt) {
      closeRuns();
      if (pushStop >= 0.0) pushStop += stepSeconds;
      if (push == Push::Pushing) {
        stillSince += stepSeconds;
        if (stillSince > limits.pushPauseSeconds) push = Push::Done;
      }
      continue;
    }
    const double motionDeg = wrapDeg(std::atan2(east, north) * 180.0 / kPi);
    // The nose over the step: halfway between its ends.
    const double headingDeg = wrapDeg(a.headingDeg + signedDeg(b.headingDeg - a.headingDeg) / 2.0);
    const double offDeg = std::abs(signedDeg(motionDeg - headingDeg));
    const bool backward = offDeg > 90.0;
    if (push == Push::NotYet) push = backward ? Push::Pushing : Push::Done;
    if (push == Push::Pushing && !backward) push = Push::Done;
    if (backward && pushStop > 0.0) r.pushPauseSeconds = std::max(r.pushPauseSeconds, pushStop);
    pushStop = push == Push::Pushing ? 0.0 : -1.0;
    ++r.movingSamples;
    if (push == Push::Pushing) {
      r.pushedBack = true;
      r.pushEndSecond = b.second;
      r.pushEndHeadingDeg = b.headingDeg;
      r.pushEndLat = b.lat;
      r.pushEndLon = b.lon;
      stillSince = 0.0;
      closeRuns();
      continue;
    }
    if (offDeg > limits.offDeg) ++r.offSamples;
    if (backward) {
      extend(r.backwardRuns, backwardOpen, a.second, stepSeconds, offDeg, kt);
    } else {
      backwardOpen = false;
    }
    if (offDeg > limits.farOffDeg && kt > limits.farOffKt) {
      extend(r.farOffRuns, farOffOpen, a.second, stepSeconds, offDeg, kt);
    } else {
      farOffOpen = false;
    }
  }
  r.pushGoesOn = push == Push::Pushing;
}

}  // namespace

double AircraftReport::longestFarOffSeconds() const {
  double longest = 0.0;
  for (const Stretch& s : farOffRuns) longest = std::max(longest, s.seconds);
  return longest;
}

void addState(const nlohmann::json& state, Recording& recording) {
  if (!state.is_object() || !state.contains("objects") || !state["objects"].is_array()) return;
  const double second = state.value("elapsedSeconds", 0.0);
  for (const nlohmann::json& o : state["objects"]) {
    if (!o.is_object() || o.value("createdBy", "") != "program") continue;
    std::vector<Sample>& samples = recording[o.value("atcId", "")];
    if (!samples.empty() && samples.back().second >= second) continue;
    samples.push_back({second, o.value("id", 0), o.value("latitude", 0.0), o.value("longitude", 0.0),
                       o.value("headingDeg", 0.0), o.value("onGround", false)});
  }
}

Recording readRecording(std::istream& in) {
  Recording recording;
  std::string line;
  while (std::getline(in, line)) {
    const nlohmann::json state = nlohmann::json::parse(line, nullptr, false);
    if (!state.is_discarded()) addState(state, recording);
  }
  return recording;
}

Limits Limits::noisyFeed() {
  Limits l;
  l.pushEndM = 15.0;
  l.standDriftM = 2.0;
  l.straightNoseStdDeg = 5.0;
  // Its lines scatter by 3-8 m about the exact session's path, and a path through them is held
  // only as close as the rules tell scatter from turns.
  l.pathM = 25.0;
  return l;
}

namespace {

// One taken traffic line of a flight.
struct Line {
  double second = 0.0;  // sent, from the session's start
  double lat = 0.0;
  double lon = 0.0;
  double kt = 0.0;
  double noseDeg = 0.0;
  bool onGround = false;
};

constexpr double kStillFeedKt = 0.3;
constexpr double kPushDecidedM = 15.0;  // a first move is judged backward or forward this far out
constexpr double kLegKt = 5.0;
constexpr double kLegNoseDeg = 4.0;
constexpr double kLegSeconds = 20.0;

struct Vec {
  double east = 0.0;
  double north = 0.0;
};
Vec local(const Sample& origin, double lat, double lon) {
  Vec v;
  offset(origin, {0.0, 0, lat, lon, 0.0, true}, v.east, v.north);
  return v;
}
double alongPath(Vec v, double bearingDeg) {
  return v.east * std::sin(bearingDeg * kPi / 180.0) + v.north * std::cos(bearingDeg * kPi / 180.0);
}
double acrossPath(Vec v, double bearingDeg) {
  return v.east * std::cos(bearingDeg * kPi / 180.0) - v.north * std::sin(bearingDeg * kPi / 180.0);
}
// The place `metres` from the origin along a bearing.
void moved(const Sample& origin, double metres, double bearingDeg, double& lat, double& lon) {
  const double toRad = kPi / 180.0;
  lat = origin.lat + metres * std::cos(bearingDeg * toRad) / kEarthRadiusM / toRad;
  lon = origin.lon + metres * std::sin(bearingDeg * toRad) / (kEarthRadiusM * std::cos(origin.lat * toRad)) / toRad;
}

double metresBetween(double lat0, double lon0, double lat1, double lon1) {
  const Vec v = local({0.0, 0, lat0, lon0, 0.0, true}, lat1, lon1);
  return std::hypot(v.east, v.north);
}

// The mean of angles in degrees.
double meanDeg(const std::vector<double>& degs) {
  double x = 0.0;
  double y = 0.0;
  for (const double d : degs) {
    x += std::cos(d * kPi / 180.0);
    y += std::sin(d * kPi / 180.0);
  }
  return wrapDeg(std::atan2(y, x) * 180.0 / kPi);
}

// The mean place of lines [from, to).
void meanPlace(const std::vector<Line>& lines, std::size_t from, std::size_t to, double& lat, double& lon) {
  lat = lon = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    lat += lines[i].lat / static_cast<double>(to - from);
    lon += lines[i].lon / static_cast<double>(to - from);
  }
}

bool standing(const Line& l) { return l.onGround && l.kt < kStillFeedKt; }

void findPush(const std::string& callsign, const std::vector<Line>& lines, Feed& feed) {
  // The first stretch standing on the ground, the move out of it, and whether it leads backward.
  std::size_t i = 0;
  while (i < lines.size() && standing(lines[i])) ++i;
  if (i == 0 || i == lines.size() || !lines[i].onGround) return;
  const std::size_t firstMove = i;
  std::vector<double> noses;
  for (std::size_t k = 0; k < firstMove; ++k) noses.push_back(lines[k].noseDeg);
  double lat = 0.0;
  double lon = 0.0;
  meanPlace(lines, 0, firstMove, lat, lon);
  while (i < lines.size() && lines[i].onGround && !standing(lines[i]) &&
         metresBetween(lat, lon, lines[i].lat, lines[i].lon) < kPushDecidedM) {
    ++i;
  }
  if (i == lines.size() || !lines[i].onGround || standing(lines[i])) return;
  const Vec out = local({0.0, 0, lat, lon, 0.0, true}, lines[i].lat, lines[i].lon);
  if (std::abs(signedDeg(std::atan2(out.east, out.north) * 180.0 / kPi - meanDeg(noses))) <= 90.0) return;
  while (i < lines.size() && lines[i].onGround && !standing(lines[i])) ++i;
  FeedPush push;
  std::size_t stillEnd = i;
  while (stillEnd < lines.size() && standing(lines[stillEnd])) ++stillEnd;
  if (stillEnd == i) {
    const Line& last = lines[i - 1];
    push = {last.noseDeg, last.lat, last.lon};
  } else {
    noses.clear();
    for (std::size_t k = i; k < stillEnd; ++k) noses.push_back(lines[k].noseDeg);
    push.endHeadingDeg = meanDeg(noses);
    meanPlace(lines, i, stillEnd, push.lat, push.lon);
  }
  feed.pushes[callsign] = push;
}

void findStillsAndLegs(const std::string& callsign, const std::vector<Line>& lines, Feed& feed) {
  for (std::size_t i = 0; i < lines.size();) {
    std::size_t end = i + 1;
    if (standing(lines[i])) {
      while (end < lines.size() && standing(lines[end])) ++end;
      feed.stills[callsign].push_back({lines[i].second, lines[end - 1].second});
      i = end;
      continue;
    }
    // A straight leg: grown while every nose stays within kLegNoseDeg of the leg's mean.
    std::vector<double> noses{lines[i].noseDeg};
    while (lines[i].onGround && lines[i].kt >= kLegKt && end < lines.size() && lines[end].onGround &&
           lines[end].kt >= kLegKt) {
      noses.push_back(lines[end].noseDeg);
      const double mean = meanDeg(noses);
      if (std::any_of(noses.begin(), noses.end(), [&](double d) { return std::abs(signedDeg(d - mean)) > kLegNoseDeg; })) {
        noses.pop_back();
        break;
      }
      ++end;
    }
    if (lines[end - 1].second - lines[i].second >= kLegSeconds) {
      // The path: the principal axis of the places about their mean, pointing from the first
      // place to the last, from where the first lies across from it to where the last does.
      Sample centre{0.0, 0, 0.0, 0.0, 0.0, true};
      meanPlace(lines, i, end, centre.lat, centre.lon);
      double sxx = 0.0, syy = 0.0, sxy = 0.0;
      for (std::size_t k = i; k < end; ++k) {
        const Vec v = local(centre, lines[k].lat, lines[k].lon);
        sxx += v.east * v.east;
        syy += v.north * v.north;
        sxy += v.east * v.north;
      }
      const double axis = 0.5 * std::atan2(2.0 * sxy, sxx - syy);  // from east, counter-clockwise
      double bearing = wrapDeg(90.0 - axis * 180.0 / kPi);
      const Vec first = local(centre, lines[i].lat, lines[i].lon);
      const Vec last = local(centre, lines[end - 1].lat, lines[end - 1].lon);
      if (alongPath(last, bearing) < alongPath(first, bearing)) bearing = wrapDeg(bearing + 180.0);
      const double from = alongPath(first, bearing);
      FeedLeg leg{lines[i].second, lines[end - 1].second, 0.0, 0.0, bearing, alongPath(last, bearing) - from};
      moved(centre, from, bearing, leg.lat, leg.lon);
      feed.legs[callsign].push_back(leg);
    }
    i = end;
  }
}

}  // namespace

Feed readFeed(std::istream& session) {
  using rtreplay::field;
  // Fields of a traffic line: latitude, longitude, on the ground, ground speed, callsign, feed time,
  // true heading.
  constexpr std::size_t kLat = 2, kLon = 3, kOnGround = 6, kSpeed = 8, kCallsign = 9, kTime = 14, kHeading = 25,
                        kCategory = 28;
  std::map<std::string, std::vector<Line>> flights;
  std::map<std::string, double> newest;
  Feed feed;
  std::string line;
  while (std::getline(session, line)) {
    const std::size_t at = line.find("RTTFC,");
    if (line.empty() || line[0] == '#' || at == std::string::npos) continue;
    const std::string traffic = line.substr(at);
    const std::string callsign = field(traffic, kCallsign);
    if (field(traffic, kCategory) == "A7") feed.rotorcraft.insert(callsign);
    const double time = std::atof(field(traffic, kTime).c_str());
    const auto last = newest.find(callsign);
    if (last != newest.end() && time <= last->second) continue;
    newest[callsign] = time;
    flights[callsign].push_back({std::atof(line.c_str()) / 1000.0, std::atof(field(traffic, kLat).c_str()),
                                 std::atof(field(traffic, kLon).c_str()), std::atof(field(traffic, kSpeed).c_str()),
                                 std::atof(field(traffic, kHeading).c_str()), field(traffic, kOnGround) == "1"});
  }
  for (const auto& [callsign, lines] : flights) {
    findPush(callsign, lines, feed);
    findStillsAndLegs(callsign, lines, feed);
    for (const Line& l : lines) feed.paths[callsign].push_back({l.second, l.lat, l.lon});
  }
  return feed;
}

void takePaths(Feed& feed, std::istream& exactSession) { feed.paths = readFeed(exactSession).paths; }

void takeExact(Feed& feed, std::istream& exactSession) {
  Feed exact = readFeed(exactSession);
  feed.paths = std::move(exact.paths);
  feed.pushes = std::move(exact.pushes);
  feed.stills = std::move(exact.stills);
  feed.legs = std::move(exact.legs);
}

namespace {

constexpr double kStillArriveSeconds = 15.0;  // of a still stretch, left for the aircraft to arrive
constexpr double kStillLeaveSeconds = 5.0;    // ... and to set off early
constexpr double kLegNearM = 15.0;            // a step within this of a straight leg's path lies on it
constexpr double kLegTimeSeconds = 20.0;      // ... and within this of its time

// The simulator second at which a session second is shown.
double shown(double sessionSecond, const Limits& limits) { return limits.feedShownSecond + sessionSecond / limits.timeScale; }

void measureStills(const std::vector<Sample>& samples, const std::vector<FeedStill>& stills, const Limits& limits,
                   AircraftReport& r) {
  for (const FeedStill& still : stills) {
    const double from = shown(still.fromSecond, limits) + kStillArriveSeconds;
    const double to = shown(still.toSecond, limits) - kStillLeaveSeconds;
    const auto first = std::find_if(samples.begin(), samples.end(), [&](const Sample& x) { return x.second >= from; });
    if (first == samples.end() || first->second > to || !first->onGround) continue;
    double drift = 0.0;
    double turn = 0.0;
    double farthestSecond = first->second;
    int seen = 0;
    for (auto it = first; it != samples.end() && it->second <= to && it->objectId == first->objectId; ++it, ++seen) {
      const double metres = metresBetween(first->lat, first->lon, it->lat, it->lon);
      if (metres > drift) {
        drift = metres;
        farthestSecond = it->second;
      }
      turn = std::max(turn, std::abs(signedDeg(it->headingDeg - first->headingDeg)));
    }
    if (seen < 3) continue;
    ++r.stills;
    r.standTurnDeg = std::max(r.standTurnDeg, turn);
    if (drift >= r.standDriftM) {
      r.standDriftM = drift;
      r.standDriftSecond = farthestSecond;
    }
  }
}

// Each step between two samples of one object on the ground, with its pace in knots (the feed's,
// by the replay's speed).
template <typename Step>
void forEachGroundStep(const std::vector<Sample>& samples, const Limits& limits, Step&& step) {
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const Sample& a = samples[i - 1];
    const Sample& b = samples[i];
    const double stepSeconds = b.second - a.second;
    if (a.objectId != b.objectId || !a.onGround || !b.onGround || stepSeconds <= 0.0 || stepSeconds > kLongestStepSeconds) {
      continue;
    }
    step(a, b, metresBetween(a.lat, a.lon, b.lat, b.lon) / (stepSeconds * limits.timeScale) / kMetresPerSecondPerKt);
  }
}

void measureLegs(const std::vector<Sample>& samples, const std::vector<FeedLeg>& legs, const Limits& limits,
                 AircraftReport& r) {
  std::vector<double> errors;
  forEachGroundStep(samples, limits, [&](const Sample& a, const Sample& b, double kt) {
    if (kt < limits.stillKt) return;
    const double noseDeg = wrapDeg(a.headingDeg + signedDeg(b.headingDeg - a.headingDeg) / 2.0);
    for (const FeedLeg& leg : legs) {
      if (a.second < shown(leg.fromSecond, limits) - kLegTimeSeconds ||
          b.second > shown(leg.toSecond, limits) + kLegTimeSeconds) {
        continue;
      }
      const Sample start{0.0, 0, leg.lat, leg.lon, 0.0, true};
      const Vec pa = local(start, a.lat, a.lon);
      const Vec pb = local(start, b.lat, b.lon);
      const double fromM = alongPath(pa, leg.bearingDeg);
      const double toM = alongPath(pb, leg.bearingDeg);
      const bool on = std::abs(acrossPath(pa, leg.bearingDeg)) <= kLegNearM &&
                      std::abs(acrossPath(pb, leg.bearingDeg)) <= kLegNearM && fromM >= kLegNearM &&
                      toM <= leg.metres - kLegNearM && toM > fromM;
      if (!on) continue;
      errors.push_back(signedDeg(noseDeg - leg.bearingDeg));
      return;
    }
  });
  if (errors.empty()) return;
  r.straightSamples = static_cast<int>(errors.size());
  double sum = 0.0;
  for (const double e : errors) {
    sum += e;
    r.straightMaxDeg = std::max(r.straightMaxDeg, std::abs(e));
  }
  r.straightMeanDeg = sum / static_cast<double>(errors.size());
  double squares = 0.0;
  for (const double e : errors) squares += (e - r.straightMeanDeg) * (e - r.straightMeanDeg);
  r.straightStdDeg = std::sqrt(squares / static_cast<double>(errors.size()));
}

// Metres from a place to the segment between two others, flat.
double metresToSegment(const Vec& p, const Vec& a, const Vec& b) {
  const double dx = b.east - a.east;
  const double dy = b.north - a.north;
  const double length2 = dx * dx + dy * dy;
  const double t = length2 > 0.0 ? std::clamp(((p.east - a.east) * dx + (p.north - a.north) * dy) / length2, 0.0, 1.0) : 0.0;
  return std::hypot(p.east - (a.east + t * dx), p.north - (a.north + t * dy));
}

// How far each sample moving on the ground at pathFromKt to pathToKt lies from the feed's path:
// the nearest segment between two of its lines sent within pathSeconds of the sample's time.
void measurePath(const std::vector<Sample>& samples, const std::vector<PathLine>& path, const Limits& limits,
                 AircraftReport& r) {
  std::vector<double> distances;
  forEachGroundStep(samples, limits, [&](const Sample&, const Sample& b, double kt) {
    if (kt < limits.pathFromKt || kt > limits.pathToKt) return;
    const double sessionSecond = (b.second - limits.feedShownSecond) * limits.timeScale;
    double nearest = std::numeric_limits<double>::infinity();
    for (std::size_t k = 1; k < path.size(); ++k) {
      if (path[k].second < sessionSecond - limits.pathSeconds || path[k - 1].second > sessionSecond + limits.pathSeconds) {
        continue;
      }
      nearest = std::min(nearest, metresToSegment(local(b, b.lat, b.lon), local(b, path[k - 1].lat, path[k - 1].lon),
                                                  local(b, path[k].lat, path[k].lon)));
    }
    if (!std::isfinite(nearest)) return;
    distances.push_back(nearest);
    if (nearest > r.pathMaxM) {
      r.pathMaxM = nearest;
      r.pathMaxSecond = b.second;
    }
  });
  if (distances.empty()) return;
  r.pathSamples = static_cast<int>(distances.size());
  std::sort(distances.begin(), distances.end());
  r.pathP95M = distances[static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(distances.size()))) - 1];
}

// The feed's motion at a session second: between the two lines around it.
struct Motion {
  bool known = false;
  double kt = 0.0;
  double trackDeg = 0.0;
};
Motion motionAt(const std::vector<PathLine>& path, double sessionSecond) {
  const auto next = std::upper_bound(path.begin(), path.end(), sessionSecond,
                                     [](double t, const PathLine& l) { return t < l.second; });
  if (next == path.begin() || next == path.end()) return {};
  const PathLine& a = *(next - 1);
  const PathLine& b = *next;
  const Vec v = local({0.0, 0, a.lat, a.lon, 0.0, true}, b.lat, b.lon);
  const double metres = std::hypot(v.east, v.north);
  return {true, metres / (b.second - a.second) / kMetresPerSecondPerKt,
          metres > 0.2 ? wrapDeg(std::atan2(v.east, v.north) * 180.0 / kPi) : 0.0};
}

constexpr double kRollingFeedKt = 3.0;
constexpr double kTurnAheadDeg = 30.0;    // a turn of the feed's track this large ...
constexpr double kTurnAheadSeconds = 15.0;  // ... begun within this
constexpr double kSteadyBeforeSeconds = 10.0;  // after the track held within 10 deg for this long
constexpr double kStopSettleSeconds = 5.0;

// The figures of the noisy kinds' rules that the feed's motion judges (AircraftReport).
void measureAgainstMotion(const std::vector<Sample>& samples, const std::vector<PathLine>& path,
                          const std::vector<FeedStill>* stills, const Limits& limits, AircraftReport& r) {
  double pivot = 0.0;
  double pivotFrom = 0.0;
  for (std::size_t i = 1; i < samples.size() && !r.rotorcraft; ++i) {
    const Sample& a = samples[i - 1];
    const Sample& b = samples[i];
    const double stepSeconds = b.second - a.second;
    if (a.objectId != b.objectId || !a.onGround || !b.onGround || stepSeconds <= 0.0 || stepSeconds > kLongestStepSeconds) {
      pivot = 0.0;
      continue;
    }
    const double tau = (b.second - limits.feedShownSecond) * limits.timeScale;
    const Motion now = motionAt(path, tau);
    const bool rolling = now.known && now.kt >= kRollingFeedKt && now.kt <= limits.pathToKt;
    const double kt = metresBetween(a.lat, a.lon, b.lat, b.lon) / (stepSeconds * limits.timeScale) / kMetresPerSecondPerKt;
    if (rolling && kt < limits.stillKt) {
      if (pivot == 0.0) pivotFrom = a.second;
      pivot += std::abs(signedDeg(b.headingDeg - a.headingDeg));
      if (pivot > r.pivotDeg) {
        r.pivotDeg = pivot;
        r.pivotSecond = pivotFrom;
      }
    } else {
      pivot = 0.0;
    }
    if (!rolling) continue;
    bool steady = true;
    for (double u = 1.0; u <= kSteadyBeforeSeconds && steady; u += 1.0) {
      const Motion before = motionAt(path, tau - u);
      steady = before.known && before.kt >= kRollingFeedKt && std::abs(signedDeg(before.trackDeg - now.trackDeg)) <= 10.0;
    }
    if (!steady) continue;
    double side = 0.0;
    for (double u = 1.0; u <= kTurnAheadSeconds && side == 0.0; u += 1.0) {
      const Motion ahead = motionAt(path, tau + u);
      if (!ahead.known || ahead.kt < 1.0) continue;
      const double turn = signedDeg(ahead.trackDeg - now.trackDeg);
      if (std::abs(turn) >= kTurnAheadDeg) side = turn;
    }
    const double error = signedDeg(b.headingDeg - now.trackDeg);
    // A nose more than 120 degrees off is a push-back's, which other rules judge.
    if (side * error < 0.0 && std::abs(error) <= 120.0 && std::abs(error) > r.wrongWayDeg) {
      r.wrongWayDeg = std::abs(error);
      r.wrongWaySecond = b.second;
    }
  }
  if (stills == nullptr || path.empty()) return;
  for (const FeedStill& still : *stills) {
    if (still.fromSecond <= path.front().second) continue;  // standing from its first line: no stop
    const double from = shown(still.fromSecond, limits) + kStopSettleSeconds;
    const double to = shown(still.toSecond, limits) - kStillLeaveSeconds;
    const auto first = std::find_if(samples.begin(), samples.end(), [&](const Sample& x) { return x.second >= from; });
    if (first == samples.end() || first->second > to || !first->onGround) continue;
    for (auto it = first; it != samples.end() && it->second <= to && it->objectId == first->objectId; ++it) {
      const double metres = metresBetween(first->lat, first->lon, it->lat, it->lon);
      if (metres > r.stopMovesM) {
        r.stopMovesM = metres;
        r.stopMovesSecond = it->second;
      }
    }
  }
}

template <typename Map>
const typename Map::mapped_type* lookUp(const Map& map, const std::string& key) {
  const auto found = map.find(key);
  return found == map.end() ? nullptr : &found->second;
}

}  // namespace

Report check(const Recording& recording, const Feed& feed, const Limits& limits) {
  Report report;
  double straightSquares = 0.0;
  for (const auto& [callsign, samples] : recording) {
    AircraftReport r;
    r.rotorcraft = feed.rotorcraft.count(callsign) != 0;
    checkAircraft(samples, limits, r);
    if (r.pushedBack) {
      ++report.pushBacks;
      report.longestPushPauseSeconds = std::max(report.longestPushPauseSeconds, r.pushPauseSeconds);
      const FeedPush* push = lookUp(feed.pushes, callsign);
      if (push != nullptr) {
        r.feedPushKnown = true;
        r.feedPushEndHeadingDeg = push->endHeadingDeg;
      }
      // A push-back the record cuts off is not judged by where it stood then.
      if (push != nullptr && !r.pushGoesOn) {
        r.pushEndOffDeg = std::abs(signedDeg(r.pushEndHeadingDeg - push->endHeadingDeg));
        r.pushEndGapM = metresBetween(r.pushEndLat, r.pushEndLon, push->lat, push->lon);
        if (r.pushEndOffDeg > limits.pushEndDeg) ++report.pushBacksOff;
        if (r.pushEndGapM > limits.pushEndM) ++report.pushBacksFar;
        report.largestPushEndGapM = std::max(report.largestPushEndGapM, r.pushEndGapM);
      }
    }
    if (const auto* stills = lookUp(feed.stills, callsign)) measureStills(samples, *stills, limits, r);
    if (const auto* legs = lookUp(feed.legs, callsign)) measureLegs(samples, *legs, limits, r);
    if (const auto* path = lookUp(feed.paths, callsign)) {
      measurePath(samples, *path, limits, r);
      measureAgainstMotion(samples, *path, lookUp(feed.stills, callsign), limits, r);
    }
    if (r.movingSamples == 0 && !r.pushedBack && r.stills == 0) continue;
    report.movingSamples += r.movingSamples;
    report.offSamples += r.offSamples;
    report.longestFarOffSeconds = std::max(report.longestFarOffSeconds, r.longestFarOffSeconds());
    for (const Stretch& s : r.backwardRuns) report.backwardSamples += s.samples;
    report.largestStandDriftM = std::max(report.largestStandDriftM, r.standDriftM);
    report.largestStandTurnDeg = std::max(report.largestStandTurnDeg, r.standTurnDeg);
    report.straightSamples += r.straightSamples;
    report.largestPathM = std::max(report.largestPathM, r.pathMaxM);
    if (!r.rotorcraft) report.fastestNoseTurnDeg = std::max(report.fastestNoseTurnDeg, r.fastestNoseTurnDeg);
    straightSquares += r.straightSamples * r.straightStdDeg * r.straightStdDeg;
    report.aircraft.emplace(callsign, std::move(r));
  }
  if (report.straightSamples > 0) report.straightStdDeg = std::sqrt(straightSquares / report.straightSamples);
  return report;
}

std::vector<std::string> failures(const Report& report, const Limits& limits) {
  std::vector<std::string> out;
  for (const auto& [callsign, r] : report.aircraft) {
    for (const Stretch& s : r.backwardRuns) {
      out.push_back(callsign + " moves backward outside a push-back from " + clock(s.startSecond));
    }
    if (r.feedPushKnown && r.pushEndOffDeg > limits.pushEndDeg) {
      char text[160];
      std::snprintf(text, sizeof text, " ends its push-back at %.0f deg, %.0f deg off the feed's %.1f",
                    r.pushEndHeadingDeg, r.pushEndOffDeg, r.feedPushEndHeadingDeg);
      out.push_back(callsign + text);
    }
    if (r.feedPushKnown && r.pushEndGapM > limits.pushEndM) {
      char text[160];
      std::snprintf(text, sizeof text, " ends its push-back %.0f m from where the feed's ends", r.pushEndGapM);
      out.push_back(callsign + text);
    }
    if (r.standDriftM >= limits.standDriftM) {
      char text[160];
      std::snprintf(text, sizeof text, " moves %.1f m while its feed stands still, the farthest at ", r.standDriftM);
      out.push_back(callsign + text + clock(r.standDriftSecond));
    }
    if (!r.rotorcraft && r.fastestNoseTurnDeg > limits.noseTurnDeg) {
      char text[160];
      std::snprintf(text, sizeof text, " turns its nose on the ground by %.0f deg in one second from ", r.fastestNoseTurnDeg);
      out.push_back(callsign + text + clock(r.fastestNoseTurnSecond));
    }
    if (r.pathMaxM > limits.pathM) {
      char text[160];
      std::snprintf(text, sizeof text, " leaves its feed's path by %.1f m at ", r.pathMaxM);
      out.push_back(callsign + text + clock(r.pathMaxSecond));
    }
    for (const Stretch& s : r.farOffRuns) {
      if (s.seconds <= limits.farOffSeconds) continue;
      char text[160];
      std::snprintf(text, sizeof text, " is more than %.0f deg off its motion above %.0f kt for %.1f s from ",
                    limits.farOffDeg, limits.farOffKt, s.seconds);
      out.push_back(callsign + text + clock(s.startSecond));
    }
  }
  if (report.straightSamples > 0 && report.straightStdDeg >= limits.straightNoseStdDeg) {
    char text[160];
    std::snprintf(text, sizeof text, "on straight legs the nose's error has a standard deviation of %.1f deg over %d samples",
                  report.straightStdDeg, report.straightSamples);
    out.emplace_back(text);
  }
  if (report.offShare() >= limits.offShare) {
    char text[160];
    std::snprintf(text, sizeof text, "%d of %d samples moving on the ground (%.1f%%) are more than %.0f deg off",
                  report.offSamples, report.movingSamples, 100.0 * report.offShare(), limits.offDeg);
    out.emplace_back(text);
  }
  return out;
}

std::string format(const Report& report, const Limits& limits) {
  std::ostringstream out;
  char text[1024];
  auto stretch = [&](const std::string& what, const Stretch& s) {
    char line[120];
    std::snprintf(line, sizeof line, " from %s for %.1f s (up to %.0f deg off, %.1f kt)\n",
                  clock(s.startSecond).c_str(), s.seconds, s.maxOffDeg, s.maxKt);
    out << "  " << what << line;
  };
  out << "Times and durations are the simulator's (m:ss since it started), speeds the feed's.\n";
  for (const auto& [callsign, r] : report.aircraft) {
    std::snprintf(text, sizeof text, "%-8s %4d samples moving on the ground, %3d more than %.0f deg off\n",
                  callsign.c_str(), r.movingSamples, r.offSamples, limits.offDeg);
    out << text;
    if (r.pushedBack) {
      std::snprintf(text, sizeof text, "  push-back %s %s at %.1f deg", r.pushGoesOn ? "goes on past the record's end,"
                    : "ends", clock(r.pushEndSecond).c_str(), r.pushEndHeadingDeg);
      out << text;
      if (r.feedPushKnown && !r.pushGoesOn) {
        std::snprintf(text, sizeof text, ", the feed's at %.1f: %.0f deg off, %.1f m from its end", r.feedPushEndHeadingDeg,
                      r.pushEndOffDeg, r.pushEndGapM);
        out << text;
      }
      if (r.pushPauseSeconds > 0.0) {
        std::snprintf(text, sizeof text, "; stands %.1f s mid-way", r.pushPauseSeconds);
        out << text;
      }
      out << "\n";
    }
    if (r.stills > 0) {
      std::snprintf(text, sizeof text,
                    "  standing while the feed stands (%d stretches): moves up to %.1f m (the farthest at %s), turns up to %.0f deg\n",
                    r.stills, r.standDriftM, clock(r.standDriftSecond).c_str(), r.standTurnDeg);
      out << text;
    }
    if (r.straightSamples > 0) {
      std::snprintf(text, sizeof text,
                    "  straight legs: %d samples, the nose off the feed's path by %.1f deg on average, standard "
                    "deviation %.1f, up to %.0f\n",
                    r.straightSamples, r.straightMeanDeg, r.straightStdDeg, r.straightMaxDeg);
      out << text;
    }
    if (r.pathSamples > 0) {
      std::snprintf(text, sizeof text, "  off the feed's path: up to %.1f m (at %s), 95th percentile %.1f m over %d samples\n",
                    r.pathMaxM, clock(r.pathMaxSecond).c_str(), r.pathP95M, r.pathSamples);
      out << text;
    }
    std::snprintf(text, sizeof text, "  the nose turns up to %.0f deg in one second%s, from %s\n", r.fastestNoseTurnDeg,
                  r.rotorcraft ? " (a helicopter)" : "", clock(r.fastestNoseTurnSecond).c_str());
    out << text;
    if (r.wrongWayDeg > 0.0) {
      std::snprintf(text, sizeof text, "  before a turn of the feed the nose stands up to %.0f deg the other way (at %s)\n",
                    r.wrongWayDeg, clock(r.wrongWaySecond).c_str());
      out << text;
    }
    if (r.pivotDeg > 0.0) {
      std::snprintf(text, sizeof text, "  standing while its feed rolls, the nose turns %.0f deg (from %s)\n", r.pivotDeg,
                    clock(r.pivotSecond).c_str());
      out << text;
    }
    if (r.stopMovesM > 0.0) {
      std::snprintf(text, sizeof text, "  after its feed stops it moves on up to %.1f m (the farthest at %s)\n", r.stopMovesM,
                    clock(r.stopMovesSecond).c_str());
      out << text;
    }
    for (const Stretch& s : r.backwardRuns) stretch("backward outside a push-back", s);
    for (const Stretch& s : r.farOffRuns) {
      std::snprintf(text, sizeof text, "more than %.0f deg off above %.0f kt", limits.farOffDeg, limits.farOffKt);
      stretch(text, s);
    }
  }
  std::snprintf(
      text, sizeof text,
      "Totals: %d samples moving on the ground, %d (%.1f%%) more than %.0f deg off; longest run more than %.0f deg "
      "off above %.0f kt %.1f s; %d backward outside a push-back; %d push-backs, %d ending more than %.0f deg "
      "off the feed, the farthest %.1f m from the feed's end, standing up to %.1f s mid-way; standing aircraft move up to %.1f m and turn up to %.0f deg; on straight legs "
      "the nose's error has a standard deviation of %.1f deg over %d samples; the aeroplanes' noses turn up to %.0f "
      "deg in one second; moving samples lie up to %.1f m from their feed's path\n",
      report.movingSamples, report.offSamples, 100.0 * report.offShare(), limits.offDeg, limits.farOffDeg,
      limits.farOffKt, report.longestFarOffSeconds, report.backwardSamples, report.pushBacks, report.pushBacksOff,
      limits.pushEndDeg, report.largestPushEndGapM, report.longestPushPauseSeconds, report.largestStandDriftM, report.largestStandTurnDeg,
      report.straightStdDeg,
      report.straightSamples, report.fastestNoseTurnDeg, report.largestPathM);
  out << text;
  return out.str();
}

}  // namespace groundcheck
