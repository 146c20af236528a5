// The client thread against the stand-in simulator running by itself from a scenario: waiting
// for it, connecting, the user aircraft, a creation paired and frozen, a refused livery and a
// removal, with the created object in the simulator's state file.
#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <thread>

#include "test_sim_support.h"

using namespace simclienttest;
using namespace std::chrono_literals;
using json = nlohmann::json;

namespace {

const char* kScenario = R"({
  "simulator": {"name": "KittyHawk", "version": [11, 0, 282174, 999]},
  "utcStart": "2024-06-01T12:00:00Z",
  "userAircraft": {"title": "Test Aircraft A320", "atcModel": "A320", "latitude": 47.45, "longitude": 8.56,
                   "onGround": true},
  "liveries": ["Livery A"]
})";

class SimByItselfTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    simtest::runByItself(folder_.path(), simtest::Clock::Manual);
  }
  void TearDown() override {
    if (client_.joinable()) {
      client_.request_stop();
      client_.join();
    }
    SimTest::TearDown();
  }

  // Moves the simulator's clock on a frame at a time until the client has seen what pred waits for.
  template <typename Pred>
  bool advanceUntil(Pred pred, int frames = 300) {
    for (int i = 0; i < frames; ++i) {
      simtest::advanceWorld(34ms);
      if (coretest::waitFor(pred, 5ms)) return true;
    }
    return false;
  }

  std::optional<kvo::SimConnectResult> resultOfKind(kvo::SimResultKind kind) const {
    for (const auto& r : results()) {
      if (r.kind == kind) return r;
    }
    return std::nullopt;
  }

  json state() const {
    try {
      return json::parse(coretest::readFile(folder_ / simtest::kStateFileName));
    } catch (const std::exception&) {
      return json::object();
    }
  }

  std::jthread client_;
};

TEST_F(SimByItselfTest, ARunAgainstTheSimulatorByItself) {
  // No scenario: no simulator runs, and the client waits for one.
  client_ = std::jthread(SimClient);
  ASSERT_TRUE(coretest::waitFor(
      [] { return g_mainWindow.displayText(&kvo::MainWindow::messageText) == "Waiting for MSFS 2020 ..."; }));
  EXPECT_FALSE(simtest::isConnected());
  coretest::writeFile(folder_ / simtest::kScenarioFileName, kScenario);
  ASSERT_TRUE(coretest::waitFor([] { return g_mainWindow.g_simConnected.load(); }));
  // The client marks the connection before it names the simulator.
  EXPECT_TRUE(coretest::waitFor([] {
    return g_mainWindow.displayText(&kvo::MainWindow::simulatorText) == "MSFS 2020 (11.0.282174.999)";
  })) << g_mainWindow.displayText(&kvo::MainWindow::simulatorText);

  // The flight runs; the user aircraft answers.
  ASSERT_TRUE(advanceUntil([] { return g_flightRunning.load(); }));
  ASSERT_TRUE(requestUserAircraftOnGround());
  ASSERT_TRUE(advanceUntil([] { return requestUserAircraftPosition().lat > 47.0; }));
  ASSERT_TRUE(advanceUntil([] { return g_userOnGround.load() == std::optional<bool>(true); }));
  requestUserAircraftTitleAndModel();
  ASSERT_TRUE(advanceUntil(
      [] { return g_mainWindow.displayText(&kvo::MainWindow::userAircraftText) == "Test Aircraft A320"; }));
  EXPECT_EQ(requestUserAircraftPosition().zuluYear, 2024);

  // A creation with an installed livery appears, is paired by its tail number and frozen.
  kvo::CreateRequest live;
  live.initPosition = kvo::InitPosition{47.451, 8.561, 0.0, 0.0, 0.0, 90.0, 1, 0};
  live.tailNumber = "DLH4AB";
  live.title = "Livery A";
  live.internalId = 0xABCDEF;
  queueCreateRequest(live);
  kvo::CreateRequest refused = live;
  refused.tailNumber = "DLH5CD";
  refused.title = "Not Installed";
  refused.internalId = 0xABCDF0;
  queueCreateRequest(refused);
  ASSERT_TRUE(advanceUntil([&] { return resultOfKind(kvo::SimResultKind::CreateFailed).has_value(); }));
  EXPECT_EQ(resultOfKind(kvo::SimResultKind::CreateFailed)->id, 0xABCDF0u);

  // The traffic tick's in-range request pairs the new object.
  auto askInRange = [] {
    std::lock_guard lock(g_simQueueMutex);
    SimConnect_RequestDataOnSimObjectType(g_simConnect.load(), kvo::kReqAircraftInRange, kvo::kDefAircraftInRange,
                                          10000, kSimObjectTypeAircraft);
  };
  askInRange();
  ASSERT_TRUE(advanceUntil([&] { return resultOfKind(kvo::SimResultKind::CreatedLive).has_value(); }));
  const kvo::SimConnectResult created = *resultOfKind(kvo::SimResultKind::CreatedLive);
  EXPECT_EQ(created.id, 0xABCDEFu);
  EXPECT_GT(created.objectId, 1u);

  // The simulator's state file shows the object, released and frozen.
  auto objectInState = [&]() -> json {
    const json s = state();
    if (!s.contains("objects")) return json();
    for (const json& o : s.at("objects")) {
      if (o.at("atcId") == "DLH4AB") return o;
    }
    return json();
  };
  ASSERT_TRUE(advanceUntil([&] {
    const json o = objectInState();
    return o.is_object() && o.at("frozen").at("attitude") == true;
  }));
  const json object = objectInState();
  EXPECT_EQ(object.at("id"), created.objectId);
  EXPECT_EQ(object.at("title"), "Livery A");
  EXPECT_EQ(object.at("releasedFromAi"), true);
  EXPECT_EQ(object.at("frozen").at("latitudeLongitude"), true);
  EXPECT_EQ(object.at("frozen").at("altitude"), true);
  EXPECT_EQ(state().at("failedCreations"), 1);

  // Positions move it; a removal takes it away and comes back as a result.
  {
    std::lock_guard lock(g_simQueueMutex);
    kvo::AiPositionUpdate update;
    update.position = kvo::PositionBlock{47.46, 8.57, 0.0, 0.0, 0.0, 1500.0, 0.0, 140.0};
    update.objectId = created.objectId;
    g_positionBufferSend->push_back(update);
  }
  ASSERT_TRUE(advanceUntil([&] {
    const json o = objectInState();
    return o.is_object() && o.at("altitudeFt") == 1500.0;
  }));
  {
    std::lock_guard lock(g_simQueueMutex);
    g_simRemoveQueue.push_back(created.objectId);
  }
  ASSERT_TRUE(advanceUntil([&] { return resultOfKind(kvo::SimResultKind::RemovedBySim).has_value(); }));
  EXPECT_EQ(resultOfKind(kvo::SimResultKind::RemovedBySim)->objectId, created.objectId);
  ASSERT_TRUE(advanceUntil([&] { return state().value("removedCount", 0) == 1; }));
  EXPECT_TRUE(objectInState().is_null());

  client_.request_stop();
  client_.join();
  EXPECT_FALSE(g_mainWindow.g_simConnected.load());
  EXPECT_FALSE(g_stopRequested.load());
}

}  // namespace
