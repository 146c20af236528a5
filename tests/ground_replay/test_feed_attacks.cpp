// Lines another sender on the network puts beside a real feed must not freeze a real flight: the
// stored smooth session replayed in a process of its own on a virtual clock, with stale lines
// streaming beside it or one aircraft's line sent again far ahead, and the arrival it holds must
// still reach its stand.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/geometry.h"
#include "ground_replay.h"
#include "session.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSession = fs::path(AMBV_SOURCE_DIR) / "tools/rt_replay/session-lows.rtrec";
// The arrival parks on its stand at 2:43 of the session.
constexpr double kSessionSeconds = 180.0;
const std::string kArrival = "DLH5YA";

using Beside = std::function<std::vector<std::string>(std::int64_t, const std::vector<std::string>&)>;

double stampOf(const std::string& line) { return std::atof(rtreplay::field(line, rtreplay::kTimestampField).c_str()); }

// 5 lines a second of an aircraft far outside the traffic radius, stamped 400 s behind the feed
// (each its own, as a sender's clock gives them).
Beside staleStream() {
  return [last = 0.0, lastMs = std::int64_t{0}, template_ = std::string(), nextMs = std::int64_t{0}](
             std::int64_t ms, const std::vector<std::string>& sent) mutable -> std::vector<std::string> {
    for (const std::string& line : sent) {
      last = std::max(last, stampOf(line));
      lastMs = ms;
      template_ = line;
    }
    if (template_.empty() || ms < nextMs) return {};
    nextMs = ms + 200;
    std::string line = template_;
    rtreplay::replaceField(line, rtreplay::kHexIdField, "4999001");
    rtreplay::replaceField(line, 2, "10.0");
    rtreplay::replaceField(line, 3, "10.0");
    const double now = last + static_cast<double>(ms - lastMs) / 1000.0;
    rtreplay::replaceField(line, rtreplay::kTimestampField, rtreplay::feedTimeText(now - 400.0));
    return {line};
  };
}

// The arrival's line at 1:30 of the session (taxiing to its stand) sent again twice, stamped an
// hour and an hour and a second ahead.
Beside wildPair() {
  return [sentPair = false, start = -1.0](std::int64_t, const std::vector<std::string>& sent) mutable {
    std::vector<std::string> out;
    for (const std::string& line : sent) {
      if (start < 0.0) start = stampOf(line);
      if (sentPair || rtreplay::field(line, 9) != kArrival || stampOf(line) < start + 90.0) continue;
      sentPair = true;
      for (const double ahead : {3600.0, 3601.0}) {
        std::string wild = line;
        rtreplay::replaceField(wild, rtreplay::kTimestampField, rtreplay::feedTimeText(stampOf(line) + ahead));
        out.push_back(wild);
      }
    }
    return out;
  };
}

// Where the arrival's feed ends within the replayed span.
std::pair<double, double> feedEnd() {
  std::ifstream in(kSession);
  std::string error;
  std::pair<double, double> end{0.0, 0.0};
  for (const rtreplay::Datagram& d : rtreplay::readSession(in, error)) {
    if (d.offsetMs > kSessionSeconds * 1000.0 || rtreplay::field(d.payload, 9) != kArrival) continue;
    end = {std::atof(rtreplay::field(d.payload, 2).c_str()), std::atof(rtreplay::field(d.payload, 3).c_str())};
  }
  return end;
}

// One replay with lines beside it, in a process of its own: the arrival's last position and the
// recording's last second, or why the replay did not run.
nlohmann::json replayBeside(const Beside& beside, const fs::path& folder) {
  const fs::path out = folder / "result.json";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    groundreplay::Options o;
    o.session = kSession;
    o.sessionSeconds = kSessionSeconds;
    o.folder = folder / "installation";
    o.beside = beside;
    const groundreplay::Run run = groundreplay::replaySession(o);
    nlohmann::json j{{"failure", run.failure}, {"log", run.log}};
    if (const auto it = run.recording.find(kArrival); it != run.recording.end() && !it->second.empty()) {
      j["lat"] = it->second.back().lat;
      j["lon"] = it->second.back().lon;
      j["second"] = it->second.back().second;
    }
    double last = 0.0;
    for (const auto& [callsign, samples] : run.recording) last = std::max(last, samples.back().second);
    j["lastSecond"] = last;
    std::ofstream(out) << j.dump();
    ::_exit(0);
  }
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  const auto j = nlohmann::json::parse(coretest::readFile(out), nullptr, false);
  return j.is_object() ? j : nlohmann::json{{"failure", "the replay's process left no result"}};
}

TEST(FeedAttacks, TheArrivalStillReachesItsStandBesideStaleAndWildLines) {
  struct Attack {
    const char* name;
    Beside beside;
  };
  const std::vector<Attack> attacks{{"stale lines 400 s behind, 5 a second", staleStream()},
                                    {"its line sent twice an hour ahead", wildPair()}};
  const auto [standLat, standLon] = feedEnd();
  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.name);
    const coretest::TempFolder folder;
    const nlohmann::json r = replayBeside(attack.beside, folder.path());
    ASSERT_EQ(r.value("failure", ""), "") << r.value("log", "");
    ASSERT_TRUE(r.contains("lat")) << kArrival << " never appeared";
    const double offM = distanceNm(r["lat"].get<double>(), r["lon"].get<double>(), standLat, standLon) * 1852.0;
    std::printf("%s: %s ends %.1f m from its feed's end (its stand), at %.0f s of %.0f\n", attack.name,
                kArrival.c_str(), offM, r["second"].get<double>(), r["lastSecond"].get<double>());
    EXPECT_LT(offM, 10.0);
    // Still there at the end: not removed as a frozen aircraft.
    EXPECT_GE(r["second"].get<double>(), r["lastSecond"].get<double>() - 1.0);
  }
}

}  // namespace
