// The park airport through the whole program, against the stand-in simulator running by itself:
// - the user flies towards Salzburg (LOWS, in the user's list of park airports) from 40 nm out at
//   9000 ft; once within AIRP_RANGE it is in sight and its airport file is read, and when the user
//   climbs above AIRP_HEIGHT it is cleared again; meanwhile the aircraft of the feed carry flight
//   plans that exist while the run lasts;
// - what the stands of the park airport learned is saved at the close to airports\learned\stock
//   and read back at the next start (the program's run in the test's own process, so that the
//   test can give the stands a use on the worker thread itself).
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <atomic>
#include <cmath>
#include <map>

#include "app/entry.h"
#include "app/main_loop.h"
#include "shared_state/main_window.h"
#include "app/run_control.h"
#include "app/run_timing.h"
#include "airports/park_stands.h"
#include "app/startup_checks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/run_flags.h"
#include "core/timeutil.h"
#include "e2e_support.h"
#include "links/rt_link.h"
#include "platform/simconnect/testing.h"
#include "platform/test_support.h"
#include "platform/win32/resources.h"
#include "platform/win32/testing.h"
#include "traffic/engine_hooks.h"

using namespace e2e;

namespace {

constexpr double kLowsLat = 47.793301;
constexpr double kLowsLon = 13.0043;
constexpr double kGroundFt = 1411.0;

// One airborne aircraft of the feed with its route.
std::string feedLine(unsigned hexId, const std::string& callsign, const std::string& origin,
                     const std::string& destination, double lat, double lon, long long epoch) {
  char text[512];
  std::snprintf(text, sizeof text,
                "RTTFC,%u,%.5f,%.5f,9000,0,1000,0.0,300,%s,A20N,D-AX%02u,%s,%s,%lld,0,0,adsb_icao,0,0,-1,0,0,-1,0,"
                "0.0,0,0,A3",
                hexId, lat, lon, callsign.c_str(), hexId % 100, origin.c_str(), destination.c_str(), epoch);
  return text;
}

// Where the text first holds `before` followed by a number, that number; npos when nowhere.
std::size_t numberAfter(const std::string& text, const std::string& before, double& number) {
  const auto at = text.find(before);
  if (at == std::string::npos) return at;
  number = std::strtod(text.c_str() + at + before.size(), nullptr);
  return at;
}

// ---- (a) and (c): the approach to Salzburg with traffic ---------------------------------------

struct Approach {
  bool ran = false;
  std::string failure;
  std::string log;
  std::optional<int> exitCode;
  // Per callsign of the program's objects: the flight plan path and whether, when first seen, its
  // file existed and read as the program's flight plan XML.
  std::map<std::string, std::string> plan;
  std::map<std::string, bool> planGood;
  bool planFolderGone = false;
  fs::path planFolder;
};

bool isFlightPlanXml(const fs::path& path) {
  pugi::xml_document doc;
  if (!doc.load_file(path.c_str())) return false;
  const pugi::xml_node plan = doc.child("SimBase.Document").child("FlightPlan.FlightPlan");
  return std::string(plan.child_value("FPType")) == "IFR" && std::string(plan.child_value("DepartureID")) == "EDDF";
}

Approach runApproach() {
  Approach r;
  Installation at;
  coretest::writeFile(at.work() / "airports" / "my_park_airports.txt", "LOWS\n");
  // 40 nm south of Salzburg at 9000 ft, flying north at 1200 kt (a third of a mile a second): in
  // sight after about 60 s; the climb at 30000 ft/min from 100 s takes it above 18000 ft over
  // the ground at about 121 s, 6 nm before the airport.
  at.writeScenario([](nlohmann::json& s) {
    s["flight"]["startsAfterSeconds"] = 0;
    auto& user = s["userAircraft"];
    user["latitude"] = kLowsLat - 40.0 / 60.0;
    user["longitude"] = kLowsLon;
    user["altitudeFt"] = 9000;
    user["headingDeg"] = 0;
    user["groundSpeedKt"] = 1200;
    user["onGround"] = false;
    user["changes"] = nlohmann::json::array({{{"afterSeconds", 100}, {"verticalSpeedFpm", 30000}}});
  });
  r.planFolder = at.roaming() / "Ambrelvane" / "orig_dest";
  Program program(at);
  if (!program.started()) {
    r.failure = "the program did not start";
    return r;
  }
  if (!waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) {
    r.failure = "no traffic reader\n" + at.log();
    return r;
  }
  // Two airliners 25 nm south of Salzburg with routes, one whose destination is no airport code.
  TrafficSender sender(at);
  std::atomic<bool> sending{true};
  std::thread feeder([&] {
    const long long start = nowEpoch();
    for (int round = 0; sending.load() && round < 60; ++round) {
      const double north = round * 2.0 * 300.0 / 3600.0 / 60.0;
      sender.send(feedLine(4870001, "DLH31", "EDDF", "LOWS", kLowsLat - 25.0 / 60.0 + north, kLowsLon - 0.1,
                           start + 2 * round));
      sender.send(feedLine(4870002, "DLH32", "EDDF", "LO/WS", kLowsLat - 26.0 / 60.0 + north, kLowsLon + 0.1,
                           start + 2 * round));
      std::this_thread::sleep_for(2s);
    }
  });
  const bool done = waitUntil(
      [&] {
        if (auto state = at.state(); state && state->contains("objects")) {
          for (const auto& o : (*state)["objects"]) {
            const std::string callsign = o.value("atcId", "");
            if (o.value("createdBy", "") != "program" || r.plan.count(callsign) != 0) continue;
            const std::string path = o.value("flightPlan", "");
            if (path.empty() && callsign != "DLH32" &&
                o.value("createdAtSeconds", 0.0) + 3.0 > state->value("elapsedSeconds", 0.0)) {
              continue;  // the plan follows the creation
            }
            r.plan[callsign] = path;
            r.planGood[callsign] = !path.empty() && fs::exists(path) && isFlightPlanXml(path);
          }
        }
        const std::string log = at.log();
        return r.plan.count("DLH31") == 1 && r.plan.count("DLH32") == 1 && contains(log, "is out of sight");
      },
      200s);
  sending = false;
  feeder.join();
  program.signal(SIGTERM);
  r.exitCode = program.waitForExit(30s);
  r.log = at.log();
  r.planFolderGone = !fs::exists(r.planFolder);
  if (!done) {
    r.failure = "the run did not get through\n" + r.log;
    return r;
  }
  r.ran = true;
  return r;
}

const Approach& approach() {
  static const Approach r = runApproach();
  return r;
}

class ParkAirportApproach : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(approach().ran) << approach().failure; }
};

TEST_F(ParkAirportApproach, SalzburgComesIntoSightIsReadAndIsClearedAboveTheHeight) {
  const std::string& log = approach().log;
  EXPECT_EQ(approach().exitCode, 0);
  double inSightNm = 99.0;
  const auto inSight = numberAfter(log, "LOWS in sight at ", inSightNm);
  ASSERT_NE(inSight, std::string::npos) << log;
  EXPECT_LE(inSightNm, 20.0);
  EXPECT_EQ(countOf(log, "in sight at"), 1u);
  const auto read = log.find("stands read from LOWS.xml");
  ASSERT_NE(read, std::string::npos) << log;
  double outNm = 99.0;
  const auto out = numberAfter(log, "LOWS (SZG) is out of sight (", outNm);
  ASSERT_NE(out, std::string::npos) << log;
  EXPECT_LT(outNm, 20.0) << "cleared for its height, not for its distance";
  std::printf("in sight at %.1f nm, out of sight at %.1f nm\n", inSightNm, outNm);
  EXPECT_LT(inSight, read);
  EXPECT_LT(read, out);
}

TEST_F(ParkAirportApproach, TheFeedsAircraftCarryFlightPlansThatExistWhileTheRunLasts) {
  const Approach& r = approach();
  ASSERT_EQ(r.plan.count("DLH31"), 1u) << r.log;
  EXPECT_EQ(fs::path(r.plan.at("DLH31")), r.planFolder / fs::path(r.plan.at("DLH31")).filename());
  EXPECT_TRUE(r.planGood.at("DLH31"));
  ASSERT_EQ(r.plan.count("DLH32"), 1u) << r.log;
  EXPECT_EQ(r.plan.at("DLH32"), "") << "no plan for a destination that is no airport code";
  EXPECT_EQ(countOf(r.log, "no flight plan: origin 'EDDF' or destination 'LO/WS' is no airport code"), 1u);
  EXPECT_FALSE(contains(r.log, "creating a flight plan failed"));
  EXPECT_TRUE(r.planFolderGone) << "removed at the close";
}

// ---- (b): learned uses saved at the close and read at the next start ---------------------------

constexpr kvo::win32res::StringResource kStrings[] = {{kTitleStringId, u"Ambrelvane"}};
constexpr kvo::win32res::IconResource kIcons[] = {{kMainIconId, 32, 32}};

// The program's window thread, started as main() starts it, in the installation's folders and
// network; the test's process stands in for the program's.
class InProcessProgram {
 public:
  explicit InProcessProgram(const Installation& at)
      : appData_("APPDATA", at.roaming().string()),
        localAppData_("LOCALAPPDATA", at.local().string()),
        runtime_("XDG_RUNTIME_DIR", at.runtime().string()),
        previousFolder_(fs::current_path()) {
    fs::current_path(at.work());
    kvo::win32res::registerModuleResources(kStrings, kIcons);
    thread_ = std::thread([this, &at] {
      if (at.network().enter()) {
        WCHAR commandLine[1] = {u'\0'};
        exitCode_ = wWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOWDEFAULT);
      }
      ended_ = true;
    });
  }
  ~InProcessProgram() {
    close();
    thread_.join();
    // Everything back to a first start of the process.
    releaseSingleInstanceForTests();
    closeLogFile();
    resetForNewRun();
    clearRunEndState();
    resetMainLoopState();
    resetStartupChecksState();
    resetTraffic();
    resetRealTrafficLinkForTests();
    resetTimeState();
    g_mainWindow.resetForTests();
    g_restarting = false;
    resetParametersForTests();
    kvo::win32test::resetWindows();
    kvo::win32test::resetClasses();
    kvo::win32test::resetMessageQueue();
    kvo::win32test::resetResources();
    fs::current_path(previousFolder_);
  }
  InProcessProgram(const InProcessProgram&) = delete;
  InProcessProgram& operator=(const InProcessProgram&) = delete;

  // The window's close button.
  void close() {
    if (ended_.load()) return;
    if (HWND window = g_mainWindow.hwnd.load()) {
      PostMessageW(window, WM_CLOSE, 0, 0);
    } else {
      requestQuitByUser();
    }
  }
  bool waitForEnd(std::chrono::milliseconds bound) {
    return waitUntil([this] { return ended_.load(); }, bound);
  }
  int exitCode() const { return exitCode_; }

 private:
  kvo::platformtest::ScopedEnv appData_;
  kvo::platformtest::ScopedEnv localAppData_;
  kvo::platformtest::ScopedEnv runtime_;
  fs::path previousFolder_;
  std::thread thread_;
  std::atomic<bool> ended_{false};
  int exitCode_ = -2;
};

// One start of the program with the user parked at stand 1 of Salzburg, closed once Salzburg's
// file is read. `atClose` runs on the program's worker at the close, before the park airport is
// cleared.
bool runParkedAtSalzburg(const Installation& at, const std::function<void()>& atClose, std::string& failure) {
  std::atomic<bool> closing{false};
  kvo::setRunWaitHookForTests([&](std::chrono::milliseconds d) {
    if (g_stopRequested.load() && !closing.exchange(true)) atClose();
    std::this_thread::sleep_for(d);
  });
  bool ok = false;
  {
    InProcessProgram program(at);
    const bool connected = waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s);
    if (connected) {
      // A line from far away: the run sees that traffic comes and starts its main loop.
      TrafficSender(at).send(
          FeedAircraft{4879999, "AFR1", "A320", "F-HBNA", 48.0, 2.0, 30000, 90, 450}.line(nowEpoch()));
    }
    ok = connected && waitUntil([] { return g_parkAirportLoaded.load(); }, 60s);
    if (!ok) failure = "Salzburg was not loaded\n" + at.log();
    program.close();
    if (!program.waitForEnd(60s)) {
      failure += "the program did not end";
      ok = false;
    }
  }
  kvo::setRunWaitHookForTests({});
  return ok && closing.load();
}

TEST(ParkAirportLearning, UsesOfTheStandsAreSavedAtTheCloseAndReadAtTheNextStart) {
  Installation at;
  at.writeScenario([](nlohmann::json& s) { s["flight"]["startsAfterSeconds"] = 0; });
  kvo::simtest::runByItself(at.work());
  struct StopWorld {
    ~StopWorld() { kvo::simtest::reset(); }
  } stopWorld;

  // What a parked arrival leaves on its stand: its use of the stand this half hour.
  kvo::StandUse learned;
  std::string failure;
  ASSERT_TRUE(runParkedAtSalzburg(
      at,
      [&] {
        if (!g_parkAirportLoaded.load() || g_parkStands.empty()) return;
        const kvo::WeekSlot now = g_currentWeekSlot.load();
        learned.airline = "AUA";
        learned.type = "A320";
        learned.key = "OE-LBM";
        learned.callsign = "AUA123";
        learned.weekday = kvo::weekSlotDay(now);
        learned.halfHours = std::uint64_t{1} << kvo::weekSlotHalfHour(now);
        learned.real = 1;
        g_parkStands.front().uses.push_back(learned);
        g_standUpdates += 1;
        parkStandsChanged();
      },
      failure))
      << failure;
  ASSERT_FALSE(learned.airline.empty()) << "no stands at the close";

  const fs::path file = at.work() / "airports" / "learned" / "stock" / "LOWS.xml";
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(file.c_str())) << at.log();
  const pugi::xml_node use =
      doc.child("airport").child("parkpositions").find_child_by_attribute("parkpos", "id", "1").child("opt");
  EXPECT_STREQ(use.attribute("airline").value(), "AUA");
  EXPECT_STREQ(use.attribute("type").value(), "A320");
  EXPECT_EQ(use.attribute("day").as_uint(), learned.weekday);
  EXPECT_EQ(std::stoull(use.attribute("hh").value(), nullptr, 16), learned.halfHours);
  EXPECT_TRUE(contains(at.log(), "LOWS.xml' saved with 1 update ")) << at.log();
  const std::string saved = coretest::readFile(file);

  // The next start reads the use back with the file; closing without changes writes nothing.
  std::vector<kvo::StandUse> readBack;
  ASSERT_TRUE(runParkedAtSalzburg(
      at, [&] { if (!g_parkStands.empty()) readBack = g_parkStands.front().uses; }, failure))
      << failure;
  ASSERT_EQ(readBack.size(), 1u) << at.log();
  EXPECT_EQ(readBack[0].airline, "AUA");
  EXPECT_EQ(readBack[0].type, "A320");
  EXPECT_EQ(readBack[0].weekday, learned.weekday);
  EXPECT_EQ(readBack[0].halfHours, learned.halfHours);
  EXPECT_TRUE(contains(at.log(), "stands read from LOWS.xml with its learned copy"));
  EXPECT_EQ(coretest::readFile(file), saved);
}

}  // namespace
