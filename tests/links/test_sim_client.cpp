// The client thread, its declarations, the open message and the dispatch of every message kind.
#include <gmock/gmock.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "core/user_error.h"
#include "links/engine_calls.h"
#include "sim_message_input.h"
#include "test_sim_support.h"

using namespace simclienttest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class SimClientTest : public SimTest {};

TEST_F(SimClientTest, DeclaresEveryIdInTheFixedOrders) {
  simtest::setPresent(true);
  HANDLE handle = nullptr;
  ASSERT_EQ(SimConnect_Open(&handle, kvo::kSimClientName, nullptr, 0, nullptr, 0), S_OK);
  g_simConnect = handle;
  simtest::clearCalls();
  defineSimConnectData();

  EXPECT_THAT(callTexts("SimConnect_SubscribeToSystemEvent"),
              ElementsAre("SimConnect_SubscribeToSystemEvent(201, \"Sim\")",
                          "SimConnect_SubscribeToSystemEvent(202, \"ObjectAdded\")",
                          "SimConnect_SubscribeToSystemEvent(203, \"ObjectRemoved\")",
                          "SimConnect_SubscribeToSystemEvent(205, \"FlightLoaded\")",
                          "SimConnect_SubscribeToSystemEvent(204, \"Frame\")"));

  // Definitions in the order 407, 408, 409, 402, 403, 405, 406, 404, 401, each field with
  // epsilon 0 and no datum id.
  std::vector<std::string> order;
  for (const auto& call : simtest::callsOf("SimConnect_AddToDataDefinition")) {
    if (order.empty() || order.back() != call.args[0]) order.push_back(call.args[0]);
    EXPECT_EQ(call.args[4], "0");
    EXPECT_EQ(call.args[5], "-1");
  }
  EXPECT_THAT(order, ElementsAre("407", "408", "409", "402", "403", "405", "406", "404", "401"));
  EXPECT_THAT(simtest::definitionFields(kvo::kDefAiPosition),
              ElementsAre("Plane Latitude", "Plane Longitude", "Plane Pitch degrees", "Plane Bank degrees",
                          "Plane Heading degrees true", "Plane Altitude", "Vertical Speed", "Airspeed True"));
  EXPECT_THAT(simtest::definitionFields(kvo::kDefUserAircraft),
              ElementsAre("Plane Latitude", "Plane Longitude", "Plane Pitch degrees", "Plane Bank degrees",
                          "Plane Heading degrees true", "Plane Altitude", "Plane Alt Above Ground", "Ground Velocity",
                          "ZULU TIME", "ZULU DAY OF YEAR", "ZULU YEAR", "LIGHT STATES"));
  EXPECT_THAT(simtest::definitionFields(kvo::kDefAircraftInRange),
              ElementsAre("Plane Alt Above Ground", "Ground Altitude", "SIM ON GROUND", "ATC ID"));
  EXPECT_THAT(simtest::definitionFields(kvo::kDefSpoilersThrottles),
              ElementsAre("SPOILERS HANDLE POSITION", "GENERAL ENG THROTTLE LEVER POSITION:1",
                          "GENERAL ENG THROTTLE LEVER POSITION:2"));
  EXPECT_THAT(callTexts("SimConnect_AddToDataDefinition"),
              testing::IsSupersetOf({"SimConnect_AddToDataDefinition(407, \"TITLE\", null, STRINGV, 0, -1)",
                                     "SimConnect_AddToDataDefinition(408, \"ATC MODEL\", null, STRING32, 0, -1)",
                                     "SimConnect_AddToDataDefinition(409, \"SIM ON GROUND\", \"Bool\", INT64, 0, -1)",
                                     "SimConnect_AddToDataDefinition(402, \"Plane Pitch degrees\", \"radians\", FLOAT64, 0, -1)",
                                     "SimConnect_AddToDataDefinition(403, \"ZULU TIME\", \"Seconds\", INT64, 0, -1)",
                                     "SimConnect_AddToDataDefinition(404, \"ATC ID\", null, STRING32, 0, -1)",
                                     "SimConnect_AddToDataDefinition(405, \"Static Pitch\", \"radians\", FLOAT64, 0, -1)",
                                     "SimConnect_AddToDataDefinition(406, \"Light On States\", \"Mask\", INT64, 0, -1)"}));

  std::vector<std::string> mapped;
  for (const auto& call : simtest::callsOf("SimConnect_MapClientEventToSimEvent")) {
    mapped.push_back(call.args[0] + " " + call.args[1]);
  }
  EXPECT_THAT(mapped, ElementsAre("219 \"GEAR_SET\"", "220 \"ENGINE_AUTO_START\"", "221 \"ENGINE_AUTO_SHUTDOWN\"",
                                  "222 \"THROTTLE_SET\"", "217 \"FLAPS_SET\"", "218 \"SPOILERS_SET\"",
                                  "207 \"NAV_LIGHTS_SET\"", "206 \"BEACON_LIGHTS_SET\"", "210 \"LANDING_LIGHTS_SET\"",
                                  "208 \"TAXI_LIGHTS_SET\"", "209 \"STROBES_SET\"", "212 \"LOGO_LIGHTS_SET\"",
                                  "211 \"CABIN_LIGHTS_SET\"", "213 \"ALL_LIGHTS_TOGGLE\"",
                                  "214 \"FREEZE_LATITUDE_LONGITUDE_SET\"", "215 \"FREEZE_ALTITUDE_SET\"",
                                  "216 \"FREEZE_ATTITUDE_SET\""));

  std::vector<std::string> grouped;
  for (const auto& call : simtest::callsOf("SimConnect_AddClientEventToNotificationGroup")) {
    EXPECT_EQ(call.args[0], "301");
    EXPECT_EQ(call.args[2], "1");  // maskable
    grouped.push_back(call.args[1]);
  }
  EXPECT_THAT(grouped, ElementsAre("207", "206", "210", "208", "209", "212", "211", "213", "217", "218", "219", "221",
                                   "222", "214", "215", "216"));
  EXPECT_THAT(callTexts("SimConnect_SetNotificationGroupPriority"),
              ElementsAre("SimConnect_SetNotificationGroupPriority(301, 1)"));
  // The priority comes last.
  EXPECT_EQ(simtest::calls().back().function, "SimConnect_SetNotificationGroupPriority");
}

// ---- the open message ------------------------------------------------------------------------------

struct OpenCase {
  const char* name;
  bool sim2020;
  int errorCode;             // 0: accepted
  const char* expectedText;  // the simulator field, or the error's text
};

class OpenMessageTest : public SimTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenMessageTest, ChecksTheSimulatorAgainstTheChoice) {
  const OpenCase& c = GetParam();
  g_simIs2020 = c.sim2020;
  simtest::setOpenMessageOnConnect(false);
  connect();
  simtest::Identity who;
  who.applicationName = c.name;
  ASSERT_TRUE(simtest::sendOpen(who));
  if (c.errorCode == 0) {
    EXPECT_NO_THROW(dispatch());
    EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::simulatorText), c.expectedText);
    EXPECT_THAT(log(), HasSubstr(std::string(c.expectedText) + " connected"));
  } else {
    try {
      dispatch();
      FAIL() << "no user error";
    } catch (const kvo::UserErrorException& e) {
      EXPECT_EQ(e.code(), c.errorCode);
      EXPECT_EQ(e.message(), c.expectedText);
    }
    EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::simulatorText), "");
  }
  EXPECT_TRUE(g_mainWindow.g_simConnected.load());
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenMessageTest,
    ::testing::Values(
        OpenCase{"KittyHawk", true, 0, "MSFS 2020 (11.0.282174.999)"},
        OpenCase{"KittyHawk.", true, 0, "MSFS 2020 (11.0.282174.999)"},  // punctuation dropped
        OpenCase{"SunRise", false, 0, "MSFS 2024"},
        OpenCase{"KittyHawk", false, 71,
                 "MSFS 2020 is running ..., switch Simulator, or select the right sim in the drop down list above"},
        OpenCase{"SunRise", true, 71,
                 "MSFS 2024 is running ..., switch Simulator, or select the right sim in the drop down list above"},
        OpenCase{"kittyhawk", true, 77, "'kittyhawk' not being MSFS 2020 or MSFS 2024 connects ... ?"},
        OpenCase{"Other Sim!", true, 77, "'Other Sim' not being MSFS 2020 or MSFS 2024 connects ... ?"}));

TEST_F(SimClientTest, AnOpenMessageWithoutANameChangesNothing) {
  simtest::setOpenMessageOnConnect(false);
  connect();
  simtest::Identity nobody;
  nobody.applicationName = "";
  ASSERT_TRUE(simtest::sendOpen(nobody));
  dispatch();
  EXPECT_THAT(log(), HasSubstr("! Simulator name empty?"));
  EXPECT_FALSE(g_mainWindow.g_simConnected.load());
}

TEST_F(SimClientTest, AShortOpenMessageIsLoggedAndIgnored) {
  simtest::setOpenMessageOnConnect(false);
  connect();
  // The header says "open" but the message ends in the middle of the name.
  std::vector<std::uint8_t> bytes(40, 'K');
  const SimConnectRecv header{40, 1, kSimRecvOpen};
  std::memcpy(bytes.data(), &header, sizeof header);
  ASSERT_TRUE(simtest::sendRawMessage(bytes));
  EXPECT_NO_THROW(dispatch());
  EXPECT_THAT(log(), HasSubstr("! SimConnect message 2 of 40 bytes is too short, ignored"));
  EXPECT_FALSE(g_mainWindow.g_simConnected.load());
}

// ---- the other messages -----------------------------------------------------------------------------

TEST_F(SimClientTest, TheSimEventFollowsTheFlightAndAQuitOnlyClearsIt) {
  connect();
  ASSERT_TRUE(simtest::startFlight());
  dispatch();
  EXPECT_TRUE(g_flightRunning.load());
  EXPECT_TRUE(g_mainWindow.simRunning.load());
  ASSERT_TRUE(simtest::stopFlight());
  dispatch();
  EXPECT_FALSE(g_flightRunning.load());
  EXPECT_FALSE(g_mainWindow.simRunning.load());

  ASSERT_TRUE(simtest::startFlight());
  ASSERT_TRUE(simtest::sendQuit());
  dispatch();
  EXPECT_FALSE(g_flightRunning.load());
  EXPECT_FALSE(g_stopRequested.load());  // the run is not ended by a quit
}

TEST_F(SimClientTest, ANewFlightEndsTheRunAndTheFirstReasonWins) {
  connect();
  ASSERT_TRUE(simtest::sendSystemEvent("FlightLoaded", 0));
  dispatch();
  EXPECT_THAT(log(), HasSubstr("SimConnect: flight loaded event"));
  EXPECT_TRUE(g_stopRequested.load());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitNewFlight);
  EXPECT_EQ(g_restartDelaySeconds.load(), 45);

  // A file-name event while the stop stands keeps the first reason.
  g_exitReason = kvo::kExitNewSettings;
  g_restartDelaySeconds = 2;
  ASSERT_TRUE(simtest::sendFileNameEvent("FlightLoaded", "C:\\flights\\next.FLT"));
  dispatch();
  EXPECT_THAT(log(), HasSubstr("===> SimConnect: New file event"));
  EXPECT_EQ(g_exitReason.load(), kvo::kExitNewSettings);
  EXPECT_EQ(g_restartDelaySeconds.load(), 2);
}

TEST_F(SimClientTest, AddedObjectsAreKeptOnlyForAircraftAboveTheUser) {
  connect();
  g_userObjectId = 5;
  ASSERT_TRUE(simtest::sendObjectAdded(5));
  ASSERT_TRUE(simtest::sendObjectAdded(4));
  ASSERT_TRUE(simtest::sendObjectAdded(6, kSimObjectTypeBoat));
  ASSERT_TRUE(simtest::sendObjectAdded(7));
  dispatch();
  EXPECT_THAT(g_addedObjectIds, ElementsAre(7u));
}

TEST_F(SimClientTest, TheFrameRateIsTakenFromEveryThirtiethFrame) {
  connect();
  for (int frame = 1; frame <= 61; ++frame) {
    ASSERT_TRUE(simtest::sendFrame(static_cast<float>(frame)));
    dispatch();
    const float expected = frame < 30 ? 0.0f : frame < 60 ? 30.0f : 60.0f;
    EXPECT_EQ(g_frameRate.load(), expected) << frame;
  }
}

TEST_F(SimClientTest, UnknownAndBrokenMessagesAreLoggedAndIgnored) {
  connect();
  const SimConnectRecv unknown{sizeof(SimConnectRecv), 1, 99};
  std::vector<std::uint8_t> bytes(sizeof unknown);
  std::memcpy(bytes.data(), &unknown, sizeof unknown);
  ASSERT_TRUE(simtest::sendRawMessage(bytes));
  for (DWORD ignored : {12u, 16u, 27u}) {
    const SimConnectRecv m{sizeof(SimConnectRecv), 1, ignored};
    std::memcpy(bytes.data(), &m, sizeof m);
    ASSERT_TRUE(simtest::sendRawMessage(bytes));
  }
  // An event record cut after its header, and a message shorter than any header.
  const SimConnectRecv event{sizeof(SimConnectRecv), 1, kSimRecvEvent};
  std::memcpy(bytes.data(), &event, sizeof event);
  ASSERT_TRUE(simtest::sendRawMessage(bytes));
  ASSERT_TRUE(simtest::sendRawMessage({1, 2, 3}));
  // A message whose header claims more bytes than it has.
  std::vector<std::uint8_t> lying(sizeof(SimConnectRecvEvent) - 4, 0);
  const SimConnectRecv claims{1000, 1, kSimRecvEvent};
  std::memcpy(lying.data(), &claims, sizeof claims);
  ASSERT_TRUE(simtest::sendRawMessage(lying));

  EXPECT_NO_THROW(dispatch());
  EXPECT_NO_THROW(dispatchSimConnect(nullptr, 0, nullptr));
  const std::string text = log();
  EXPECT_THAT(text, HasSubstr("! Unknown Dispatch dwID 99"));
  EXPECT_THAT(text, Not(HasSubstr("dwID 12")));
  EXPECT_THAT(text, Not(HasSubstr("dwID 16")));
  EXPECT_THAT(text, HasSubstr("! SimConnect message 4 of 12 bytes is too short, ignored"));
  EXPECT_THAT(text, HasSubstr("! SimConnect message 0 of 3 bytes is too short, ignored"));
  EXPECT_THAT(text, HasSubstr("! SimConnect message 4 of 20 bytes is too short, ignored"));
  EXPECT_FALSE(g_flightRunning.load());
}

// ---- the thread -----------------------------------------------------------------------------------------

class SimClientThreadTest : public SimTest {
 protected:
  void TearDown() override {
    if (client_.joinable()) {
      client_.request_stop();
      client_.join();
    }
    SimTest::TearDown();
  }

  std::jthread client_;
};

TEST_F(SimClientThreadTest, WaitsForTheSimulatorUntilTheRunStops) {
  g_simIs2020 = false;
  client_ = std::jthread(SimClient);
  ASSERT_TRUE(coretest::waitFor([] { return simtest::callsOf("SimConnect_Open").size() >= 2; }));
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText), "Waiting for MSFS 2024 ...");
  g_stopRequested = true;
  client_.join();
  EXPECT_TRUE(simtest::callsOf("SimConnect_Close").empty());
  const std::string text = log();
  // Shown once, however often the open is retried.
  EXPECT_EQ(text.find("Waiting for MSFS 2024 ..."), text.rfind("Waiting for MSFS 2024 ..."));
}

TEST_F(SimClientThreadTest, ConnectsDispatchesAndClosesOnItsStop) {
  simtest::setPresent(true);
  client_ = std::jthread(SimClient);
  ASSERT_TRUE(coretest::waitFor([] { return g_mainWindow.g_simConnected.load(); }));
  // The waiting text goes at the end of the open message, after the connection is marked.
  EXPECT_TRUE(coretest::waitFor([] { return g_mainWindow.displayText(&kvo::MainWindow::messageText).empty(); }))
      << g_mainWindow.displayText(&kvo::MainWindow::messageText);
  ASSERT_TRUE(simtest::startFlight());
  ASSERT_TRUE(coretest::waitFor([] { return g_flightRunning.load(); }));
  client_.request_stop();
  client_.join();
  EXPECT_EQ(callTexts("SimConnect_Close").size(), 1u);
  EXPECT_EQ(g_simConnect.load(), nullptr);
  EXPECT_FALSE(g_mainWindow.g_simConnected.load());
  EXPECT_THAT(log(), HasSubstr("SimConnect closed ok"));
  EXPECT_FALSE(g_stopRequested.load());
}

TEST_F(SimClientThreadTest, AWrongSimulatorEndsTheClientButNotTheRun) {
  g_simIs2020 = false;  // 2024 chosen, 2020 runs
  simtest::setPresent(true);
  simtest::setOpenMessageOnConnect(false);
  client_ = std::jthread(SimClient);
  ASSERT_TRUE(coretest::waitFor([] { return simtest::isConnected() && !simtest::callsOf("SimConnect_SetNotificationGroupPriority").empty(); }));
  ASSERT_TRUE(simtest::startFlight());
  ASSERT_TRUE(coretest::waitFor([] { return g_flightRunning.load(); }));
  ASSERT_TRUE(simtest::sendOpen());
  // The thread ends by itself.
  ASSERT_TRUE(coretest::waitFor([] { return !simtest::isConnected(); }));
  client_.join();
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::errorText),
            "71: MSFS 2020 is running ..., switch Simulator, or select the right sim in the drop down list above");
  // The run keeps waiting for a flight, on nothing that looks alive.
  EXPECT_FALSE(g_stopRequested.load());
  EXPECT_FALSE(g_flightRunning.load());
  EXPECT_EQ(g_simConnect.load(), nullptr);
  EXPECT_FALSE(g_mainWindow.g_simConnected.load());
}

TEST_F(SimClientThreadTest, AVersionMismatchEndsTheClientWithUserError95) {
  simtest::setPresent(true);
  client_ = std::jthread(SimClient);
  ASSERT_TRUE(coretest::waitFor([] { return g_mainWindow.g_simConnected.load(); }));
  ASSERT_TRUE(simtest::sendException(kSimExceptionVersionMismatch, 0, 3));
  ASSERT_TRUE(coretest::waitFor([] { return !simtest::isConnected(); }));
  client_.join();
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::errorText), "95: SimConnect Version Mismatch, dwIndex: 3");
  EXPECT_FALSE(g_stopRequested.load());
  EXPECT_EQ(g_simConnect.load(), nullptr);
}

// Any other failure on the client thread shows its text and ends the run: "SIM WAS CLOSED".
TEST_F(SimClientThreadTest, AnyOtherFailureOnTheClientThreadEndsTheRun) {
  const auto kept = g_findStandAtCall;
  g_findStandAtCall = [](kvo::LatLon) -> std::string { throw std::runtime_error("stand search failed"); };
  simtest::setPresent(true);
  client_ = std::jthread(SimClient);
  ASSERT_TRUE(coretest::waitFor([] { return g_mainWindow.g_simConnected.load(); }));
  sendUserData(userData(50.0, 8.0));
  ASSERT_TRUE(coretest::waitFor([] { return !simtest::isConnected(); }));
  client_.join();
  g_findStandAtCall = kept;
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::errorText), "stand search failed");
  EXPECT_TRUE(g_stopRequested.load());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSimWasClosed);
  EXPECT_FALSE(g_flightRunning.load());
  EXPECT_THAT(log(), HasSubstr("Flight Simulator no longer connected, Ambrelvane will stop ..."));
}

// After the quit message the connection is dead: waiting on it for a flight would wait for ever.
TEST_F(SimClientThreadTest, AConnectionThatTheSimulatorDroppedEndsTheRunWithSimWasClosed) {
  simtest::setPresent(true);
  client_ = std::jthread(SimClient);
  ASSERT_TRUE(coretest::waitFor([] { return g_mainWindow.g_simConnected.load(); }));
  ASSERT_TRUE(simtest::startFlight());
  ASSERT_TRUE(simtest::sendQuit());
  ASSERT_TRUE(coretest::waitFor([] { return g_stopRequested.load(); }));
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSimWasClosed);
  EXPECT_FALSE(g_flightRunning.load());
  client_.request_stop();
  client_.join();
  EXPECT_THAT(log(), HasSubstr("SimConnect closed ok"));
}

TEST_F(SimClientThreadTest, AFailedCloseIsOnlyLogged) {
  simtest::setPresent(true);
  simtest::failCall("SimConnect_Close");
  client_ = std::jthread(SimClient);
  ASSERT_TRUE(coretest::waitFor([] { return g_mainWindow.g_simConnected.load(); }));
  client_.request_stop();
  client_.join();
  EXPECT_THAT(log(), HasSubstr("===> Closing SimConnect failed?!"));
  EXPECT_EQ(g_simConnect.load(), nullptr);
}

// What the client thread calls when it fails: the run ends with "SIM WAS CLOSED" unless it is
// already ending.
TEST_F(SimClientTest, ADisconnectedSimulatorEndsTheRunOnlyOnce) {
  handleSimDisconnected();
  EXPECT_TRUE(g_stopRequested.load());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSimWasClosed);
  EXPECT_THAT(log(), HasSubstr("Flight Simulator no longer connected, Ambrelvane will stop ..."));
  g_exitReason = kvo::kExitReaderError;
  handleSimDisconnected();
  EXPECT_EQ(g_exitReason.load(), kvo::kExitReaderError);
  const std::string text = log();
  EXPECT_EQ(text.find("no longer connected"), text.rfind("no longer connected"));  // said once
}

// Every message the fuzzer keeps, handed to the client's dispatch through the stand-in's
// raw-message hook.
TEST_F(SimClientTest, FuzzInputsAreDispatchedWithoutHarm) {
  const auto inputs = coretest::fuzzInputs("sim_message");
  for (const auto& [file, data] : inputs) EXPECT_TRUE(fuzzinput::dispatchSimMessageInput(data)) << file;
}

}  // namespace
