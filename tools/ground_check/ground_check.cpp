#include "ground_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <istream>
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
    if (kt < limits.stillKt) {
      closeRuns();
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
    ++r.movingSamples;
    if (push == Push::Pushing) {
      r.pushedBack = true;
      r.pushEndSecond = b.second;
      r.pushEndHeadingDeg = b.headingDeg;
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

std::map<std::string, double> feedPushBackEnds(std::istream& session) {
  using rtreplay::field;
  // Fields of a traffic line: on the ground, track, ground speed, callsign, true heading.
  constexpr std::size_t kOnGround = 6, kTrack = 7, kSpeed = 8, kCallsign = 9, kHeading = 25;
  std::map<std::string, double> ends;
  std::map<std::string, Push> state;
  std::string line;
  while (std::getline(session, line)) {
    const std::size_t at = line.find("RTTFC,");
    if (line.empty() || line[0] == '#' || at == std::string::npos) continue;
    const std::string traffic = line.substr(at);
    const std::string callsign = field(traffic, kCallsign);
    const bool onGround = field(traffic, kOnGround) == "1";
    const double kt = std::atof(field(traffic, kSpeed).c_str());
    const double headingDeg = std::atof(field(traffic, kHeading).c_str());
    const double trackDeg = std::atof(field(traffic, kTrack).c_str());
    Push& p = state.try_emplace(callsign, Push::NotYet).first->second;
    if (p == Push::Done || !onGround || kt < 0.3) {
      if (!onGround) p = Push::Done;
      continue;
    }
    if (std::abs(signedDeg(trackDeg - headingDeg)) > 90.0) {
      p = Push::Pushing;
      ends[callsign] = headingDeg;
    } else {
      p = Push::Done;
    }
  }
  return ends;
}

Report check(const Recording& recording, const std::map<std::string, double>& feedPushEnds, const Limits& limits) {
  Report report;
  for (const auto& [callsign, samples] : recording) {
    AircraftReport r;
    checkAircraft(samples, limits, r);
    if (r.pushedBack) {
      ++report.pushBacks;
      if (const auto feed = feedPushEnds.find(callsign); feed != feedPushEnds.end()) {
        r.feedPushKnown = true;
        r.feedPushEndHeadingDeg = feed->second;
        r.pushEndOffDeg = std::abs(signedDeg(r.pushEndHeadingDeg - feed->second));
        if (r.pushEndOffDeg > limits.pushEndDeg) ++report.pushBacksOff;
      }
    }
    if (r.movingSamples == 0 && !r.pushedBack) continue;
    report.movingSamples += r.movingSamples;
    report.offSamples += r.offSamples;
    report.longestFarOffSeconds = std::max(report.longestFarOffSeconds, r.longestFarOffSeconds());
    for (const Stretch& s : r.backwardRuns) report.backwardSamples += s.samples;
    report.aircraft.emplace(callsign, std::move(r));
  }
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
    for (const Stretch& s : r.farOffRuns) {
      if (s.seconds <= limits.farOffSeconds) continue;
      char text[160];
      std::snprintf(text, sizeof text, " is more than %.0f deg off its motion above %.0f kt for %.1f s from ",
                    limits.farOffDeg, limits.farOffKt, s.seconds);
      out.push_back(callsign + text + clock(s.startSecond));
    }
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
  char text[240];
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
      std::snprintf(text, sizeof text, "  push-back ends %s at %.1f deg", clock(r.pushEndSecond).c_str(),
                    r.pushEndHeadingDeg);
      out << text;
      if (r.feedPushKnown) {
        std::snprintf(text, sizeof text, ", the feed's at %.1f: %.0f deg off", r.feedPushEndHeadingDeg,
                      r.pushEndOffDeg);
        out << text;
      }
      out << "\n";
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
      "off the feed\n",
      report.movingSamples, report.offSamples, 100.0 * report.offShare(), limits.offDeg, limits.farOffDeg,
      limits.farOffKt, report.longestFarOffSeconds, report.backwardSamples, report.pushBacks, report.pushBacksOff,
      limits.pushEndDeg);
  out << text;
  return out.str();
}

}  // namespace groundcheck
