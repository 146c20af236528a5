// Whole-program runs: the real process against the stand-in simulator running by itself and a
// UDP sender playing RealTraffic. Each test takes tens of seconds of real time: the feed is 30 s
// behind, and restarts count down in seconds.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numbers>

#include "e2e_support.h"

using namespace e2e;

namespace {

TEST(ProgramRun, WaitsForTheSimulatorAndConnectsWhenItStarts) {
  Installation at;
  Program program(at);
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Waiting for MSFS 2020 ..."); }, 30s)) << at.log();
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(contains(at.log(), "connected"));  // no simulator, no connection
  at.writeScenario();  // the simulator starts
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "MSFS 2020 (11.0.282174.999) connected"); }, 30s))
      << at.log();
  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
  EXPECT_TRUE(contains(at.log(), "Exiting: USER CLOSED SIM"));
}

TEST(ProgramRun, FeedTrafficIsCreatedAboutThirtySecondsLaterWithItsLiveryAndGoesOnClose) {
  Installation at;
  at.writeScenario();
  Program program(at);
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) << at.log();

  // A second start for the same user ends at once, without a window and without the log.
  {
    const std::string logBefore = at.log();
    Program second(at);
    EXPECT_EQ(second.waitForExit(10s), 255);  // -1
    EXPECT_EQ(at.log().substr(0, logBefore.size()), logBefore);
    EXPECT_FALSE(fs::exists(at.work() / "Log00.txt"));
  }

  // Three airliners near Salzburg (the scenario's user position), reported every 2 s.
  const std::vector<FeedAircraft> feed{
      {4850001, "DLH7AB", "A20N", "D-AINB", 47.95, 12.90, 9000, 150, 250},
      {4850002, "RYR5CD", "B738", "EI-DWB", 47.70, 13.20, 12000, 300, 280},
      {4850003, "BAW9EF", "A321", "G-EUXD", 47.85, 12.70, 30000, 90, 430},
  };
  const std::map<std::string, std::string> liveries{
      {"DLH7AB", "AIG A20N Lufthansa"}, {"RYR5CD", "AIG B738 Ryanair"}, {"BAW9EF", "FSLTL A321 British Airways"}};
  const auto firstLine = std::chrono::steady_clock::now();
  std::optional<Feeder> feeder(std::in_place, at, feed);

  // Created in the stand-in by the program, with the livery the ladder chose.
  std::map<std::string, nlohmann::json> created;
  const bool all = waitUntil(
      [&] {
        for (const auto& o : at.programObjects()) {
          if (liveries.count(o.value("atcId", "")) != 0) created.emplace(o["atcId"].get<std::string>(), o);
        }
        return created.size() == feed.size();
      },
      75s);
  const auto elapsed = std::chrono::steady_clock::now() - firstLine;
  ASSERT_TRUE(all) << at.log();
  // The feed runs 30 s behind: nothing can appear before that, and it comes soon after.
  EXPECT_GE(elapsed, 28s);
  EXPECT_LE(elapsed, 60s);
  for (const auto& a : feed) {
    const auto& o = created.at(a.callsign);
    EXPECT_EQ(o["title"], liveries.at(a.callsign));
    // Near the feed's track: within the distance flown in the feed's 2 minutes.
    const double dLat = o["latitude"].get<double>() - a.lat;
    const double dLon = (o["longitude"].get<double>() - a.lon) * std::cos(a.lat * std::numbers::pi / 180.0);
    const double nm = std::hypot(dLat, dLon) * 60.0;
    EXPECT_LT(nm, a.groundSpeedKt * 120.0 / 3600.0 + 3.0) << a.callsign;
  }

  // The window's close, as SIGTERM gives it here.
  feeder.reset();
  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
  const std::string log = at.log();
  EXPECT_TRUE(contains(log, "Exiting: USER CLOSED SIM")) << log;
  EXPECT_TRUE(contains(log, "SimConnect closed ok"));
}

TEST(ProgramRun, AFailingSimConnectRequestRestartsTheRunInTheSameProcess) {
  Installation at;
  // The first request on the user aircraft (its on-ground state) fails once.
  at.writeScenario([](nlohmann::json& scenario) {
    scenario["failCalls"] = {{"SimConnect_RequestDataOnSimObject", 1}};
  });
  Program program(at);
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Exiting: SIMCONNECT ERROR"); }, 60s)) << at.log();
  // The countdown of 9 s, then the second run in the same process, whose request succeeds.
  ASSERT_TRUE(waitUntil([&] { return countOf(at.log(), "Waiting for MSFS 2020 ...") == 2; }, 40s)) << at.log();
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) << at.log();
  const std::string log = at.log();
  EXPECT_TRUE(contains(log, "SimConnect request error"));
  EXPECT_TRUE(contains(log, "Prepare for a restart ..."));
  EXPECT_TRUE(contains(log, "Restarting after 9 seconds"));
  EXPECT_EQ(countOf(log, "SCAN_AIRPORTS=false"), 1u) << log;  // switched off for the restart
  program.signal(SIGINT);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
}

TEST(ProgramRun, ATakenTrafficPortRestartsTheRunInTheSameProcess) {
  Installation at;
  at.writeScenario();
  // Another program holds the traffic port.
  const int holder = holdPort(at, kTrafficPort);
  ASSERT_GE(holder, 0) << "UDP port 49005 is in use on this machine";
  Program program(at);
  ASSERT_TRUE(program.started());
  const bool ended = waitUntil([&] { return contains(at.log(), "Exiting: READER ERROR"); }, 60s);
  ::close(holder);
  ASSERT_TRUE(ended) << at.log();
  EXPECT_TRUE(contains(at.log(), "The Traffic Reader has stopped with error:"));
  // The countdown of 15 s, then the second run in the same process, whose reader now binds.
  ASSERT_TRUE(waitUntil([&] { return countOf(at.log(), "Waiting for MSFS 2020 ...") == 2; }, 40s)) << at.log();
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) << at.log();
  const std::string log = at.log();
  EXPECT_TRUE(contains(log, "Prepare for a restart ..."));
  EXPECT_TRUE(contains(log, "Restarting after 15 seconds"));
  // The scans are switched off for the new run.
  EXPECT_EQ(countOf(log, "SCAN_AIRPORTS=true"), 1u) << log;
  EXPECT_EQ(countOf(log, "SCAN_AIRPORTS=false"), 1u) << log;
  program.signal(SIGINT);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
}

}  // namespace

namespace {

// The stand-in simulator, like a simulator, takes away a closing client's objects; its state file
// shows them gone as soon as the connection closes.
TEST(ProgramRun, TheProgramsObjectsAreGoneWhenItCloses) {
  Installation at;
  at.writeScenario();
  Program program(at);
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) << at.log();
  {
    Feeder feeder(at, {{4850011, "DLH8XY", "A20N", "D-AINC", 47.95, 12.90, 9000, 90, 250}});
    ASSERT_TRUE(waitUntil([&] { return at.programObjects().size() == 1; }, 75s)) << at.log();
  }
  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0);
  EXPECT_EQ(at.programObjects().size(), 0u);
}

}  // namespace
