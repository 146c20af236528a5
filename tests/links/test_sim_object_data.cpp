// The answers to data requests, the pairing of created objects, and the exceptions.
#include <gmock/gmock.h>

#include "core/user_error.h"
#include "links/engine_calls.h"
#include "test_sim_support.h"

using namespace simclienttest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using kvo::SimConnectResult;
using kvo::SimResultKind;

namespace {

class SimObjectDataTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    connect();
    g_userObjectId = 1;
  }

  // A creation sent through the queues; returns its packet id.
  DWORD sendCreation(std::uint32_t internalId, const std::string& tail) {
    kvo::CreateRequest request;
    request.tailNumber = tail;
    request.title = "Livery";
    request.internalId = internalId;
    queueCreateRequest(request);
    frame();
    const auto creates = simtest::callsOf("SimConnect_AICreateNonATCAircraft");
    return creates.empty() ? 0 : creates.back().packetId;
  }
};

// ---- pairing ------------------------------------------------------------------------------------------

TEST_F(SimObjectDataTest, ANewLiveObjectIsPairedByItsAtcIdFrozenAndReported) {
  sendCreation(0xABCDEF, "DLH4AB");
  sendCreation(0xABCDF0, "DLH5CD");
  ASSERT_EQ(g_sentCreatePackets.size(), 2u);
  simtest::clearCalls();

  ASSERT_TRUE(simtest::sendObjectAdded(1001));
  sendInRange(1001, inRange(12.5, 364.0, 1, "DLH4AB"));
  dispatch();
  EXPECT_THAT(simtest::callTexts(), ElementsAre("SimConnect_AIReleaseControl(1001, 103)"));
  ASSERT_EQ(results().size(), 1u);
  const SimConnectResult r = results()[0];
  EXPECT_EQ(r.kind, SimResultKind::CreatedLive);
  EXPECT_EQ(r.objectId, 1001u);
  EXPECT_EQ(r.id, 0xABCDEFu);
  EXPECT_EQ(r.value1, 0.0);
  EXPECT_EQ(r.value2, 12.5);
  ASSERT_EQ(g_sentCreatePackets.size(), 1u);
  EXPECT_EQ(g_sentCreatePackets[0].tailNumber, "DLH5CD");
  EXPECT_TRUE(g_addedObjectIds.empty());

  // The freeze events go with the next frame.
  simtest::clearCalls();
  frame();
  EXPECT_THAT(simtest::callTexts(), ElementsAre("SimConnect_TransmitClientEvent(1001, 214, 1, 301, 0)",
                                                "SimConnect_TransmitClientEvent(1001, 215, 1, 301, 0)",
                                                "SimConnect_TransmitClientEvent(1001, 216, 1, 301, 0)"));
}

TEST_F(SimObjectDataTest, AStaticAircraftIsReportedAsKindOne) {
  sendCreation(42, "SWR12*");
  ASSERT_TRUE(simtest::sendObjectAdded(1002));
  sendInRange(1002, inRange(9.0, 1400.0, 1, "SWR12*"));
  dispatch();
  ASSERT_EQ(results().size(), 1u);
  EXPECT_EQ(results()[0].kind, SimResultKind::CreatedStatic);
  EXPECT_EQ(results()[0].id, 42u);
  EXPECT_EQ(results()[0].value2, 0.0);
}

TEST_F(SimObjectDataTest, AnObjectOfAnotherProgramIsLoggedOnceAndThenTreatedAsKnown) {
  sendCreation(0xABCDEF, "DLH4AB");
  ASSERT_TRUE(simtest::sendObjectAdded(1003));
  sendInRange(1003, inRange(100.0, 50.0, 0, "N12345"));
  dispatch();
  EXPECT_THAT(log(), HasSubstr("just spawned, but not by Ambrelvane, oid: 1003, callsign 'N12345', "
                               "altaboveGnd:100 ft, onground:0, gnd_alt:50 ft"));
  EXPECT_TRUE(results().empty());
  EXPECT_EQ(g_sentCreatePackets.size(), 1u);

  sendInRange(1003, inRange(100.0, 50.0, 0, "N12345"));
  dispatch();
  ASSERT_EQ(results().size(), 1u);
  EXPECT_EQ(results()[0].kind, SimResultKind::GroundData);
}

TEST_F(SimObjectDataTest, AnEmptyAtcIdOrAStaticIdZeroIsNoPairing) {
  sendCreation(0, "ZERO1");
  ASSERT_TRUE(simtest::sendObjectAdded(1004));
  ASSERT_TRUE(simtest::sendObjectAdded(1005));
  sendInRange(1004, inRange(0.0, 0.0, 1, ""));
  sendInRange(1005, inRange(0.0, 0.0, 1, "ZERO1"));
  dispatch();
  EXPECT_TRUE(results().empty());
  EXPECT_TRUE(simtest::callsOf("SimConnect_AIReleaseControl").empty());
}

struct GroundDataCase {
  double agl;
  const char* atcId;
  bool reported;
};

class GroundDataTest : public SimObjectDataTest, public ::testing::WithParamInterface<GroundDataCase> {};

TEST_P(GroundDataTest, IsReportedForLowAircraftWithAUsableAtcId) {
  const GroundDataCase& c = GetParam();
  sendInRange(1010, inRange(c.agl, 420.0, 1, c.atcId));
  dispatch();
  if (!c.reported) {
    EXPECT_TRUE(results().empty());
    return;
  }
  ASSERT_EQ(results().size(), 1u);
  const SimConnectResult r = results()[0];
  EXPECT_EQ(r.kind, SimResultKind::GroundData);
  EXPECT_EQ(r.objectId, 1010u);
  EXPECT_EQ(r.id, 1u);
  EXPECT_EQ(r.value1, 420.0);
  EXPECT_EQ(r.value2, c.agl);
}

INSTANTIATE_TEST_SUITE_P(Heights, GroundDataTest,
                         ::testing::Values(GroundDataCase{2500.0, "BAW1", true}, GroundDataCase{2500.1, "BAW1", false},
                                           GroundDataCase{0.0, "BAW1*", false}, GroundDataCase{0.0, "", false}));

TEST_F(SimObjectDataTest, AnswersAboutTheUserOrBelowAreIgnored) {
  g_userObjectId = 5;
  ASSERT_TRUE(simtest::sendObjectAdded(6));
  sendInRange(5, inRange(0.0, 0.0, 1, "ME"));
  sendInRange(3, inRange(0.0, 0.0, 1, "ME"));
  dispatch();
  EXPECT_TRUE(results().empty());
  EXPECT_THAT(g_addedObjectIds, ElementsAre(6u));
}

TEST_F(SimObjectDataTest, AnAtcIdFillingAllThirtyTwoBytesIsReadWithinItsField) {
  const std::string longId(32, 'Q');
  sendCreation(0xABCDEF, longId);
  ASSERT_TRUE(simtest::sendObjectAdded(1020));
  // The field has no terminator; the bytes after it must not become part of the text.
  std::vector<std::uint8_t> data(56 + 8, 'X');
  const double agl = 5.0, ground = 0.0;
  const std::int64_t onGround = 1;
  std::memcpy(data.data(), &agl, 8);
  std::memcpy(data.data() + 8, &ground, 8);
  std::memcpy(data.data() + 16, &onGround, 8);
  std::memcpy(data.data() + 24, longId.data(), 32);
  ASSERT_TRUE(simtest::sendObjectDataBytes(kSimRecvSimObjectDataByType, kvo::kReqAircraftInRange, 1020,
                                           kvo::kDefAircraftInRange, data));
  dispatch();
  ASSERT_EQ(results().size(), 1u);
  EXPECT_EQ(results()[0].kind, SimResultKind::CreatedLive);
}

TEST_F(SimObjectDataTest, ShortOrUnknownAnswersAreLoggedAndIgnored) {
  ASSERT_TRUE(simtest::sendObjectAdded(1030));
  ASSERT_TRUE(simtest::sendObjectDataBytes(kSimRecvSimObjectDataByType, kvo::kReqAircraftInRange, 1030,
                                           kvo::kDefAircraftInRange, std::vector<std::uint8_t>(40, 0)));
  ASSERT_TRUE(simtest::sendObjectDataBytes(kSimRecvSimObjectData, kvo::kReqUserPosition, 1, kvo::kDefUserAircraft,
                                           std::vector<std::uint8_t>(95, 0)));
  ASSERT_TRUE(simtest::sendObjectDataBytes(kSimRecvSimObjectData, kvo::kReqStaticCg, 1030, kvo::kDefStaticCg,
                                           std::vector<std::uint8_t>(8, 0)));
  ASSERT_TRUE(simtest::sendObjectDataBytes(kSimRecvSimObjectData, 777, 1030, 400, {}));
  ASSERT_TRUE(simtest::sendObjectDataBytes(kSimRecvSimObjectDataByType, 778, 1030, 400, {}));
  EXPECT_NO_THROW(dispatch());
  const std::string text = log();
  EXPECT_THAT(text, HasSubstr("! SimConnect data of request 101 for object 1030 has 40 bytes, 56 needed, ignored"));
  EXPECT_THAT(text, HasSubstr("! SimConnect data of request 109 for object 1 has 95 bytes, 96 needed, ignored"));
  EXPECT_THAT(text, HasSubstr("! SimConnect data of request 102 for object 1030 has 8 bytes, 16 needed, ignored"));
  EXPECT_THAT(text, HasSubstr("! SimConnect data for unknown request 777 ignored"));
  EXPECT_THAT(text, HasSubstr("! SimConnect data by type for unknown request 778 ignored"));
  EXPECT_TRUE(results().empty());
  EXPECT_EQ(g_userObjectId.load(), 1u);
  EXPECT_THAT(g_addedObjectIds, ElementsAre(1030u));  // still waiting for a proper answer
}

// ---- removals ---------------------------------------------------------------------------------------------

TEST_F(SimObjectDataTest, OnlyTheRemovalOfOurOwnObjectsReachesTheTrafficEngine) {
  sendCreation(0xABCDEF, "DLH4AB");
  ASSERT_TRUE(simtest::sendObjectAdded(1001));
  sendInRange(1001, inRange(0.0, 0.0, 1, "DLH4AB"));
  ASSERT_TRUE(simtest::sendObjectAdded(1002));  // someone else's, never seen in range
  dispatch();
  {
    std::lock_guard lock(g_simResultsMutex);
    g_simResults.clear();
  }
  ASSERT_TRUE(simtest::sendObjectRemoved(1002));
  ASSERT_TRUE(simtest::sendObjectRemoved(1500));
  ASSERT_TRUE(simtest::sendObjectRemoved(1001));
  ASSERT_TRUE(simtest::sendObjectRemoved(1001));  // twice: reported once
  dispatch();
  EXPECT_TRUE(g_addedObjectIds.empty());
  ASSERT_EQ(results().size(), 1u);
  EXPECT_EQ(results()[0].kind, SimResultKind::RemovedBySim);
  EXPECT_EQ(results()[0].objectId, 1001u);
  EXPECT_EQ(results()[0].id, 0u);
}

// ---- exceptions ----------------------------------------------------------------------------------------------

TEST_F(SimObjectDataTest, AFailedCreationIsMatchedByItsPacketId) {
  const DWORD first = sendCreation(0xABCDEF, "DLH4AB");
  sendCreation(0xABCDF0, "DLH5CD");
  ASSERT_TRUE(simtest::sendException(kSimExceptionCreateObjectFailed, first + 1000));  // not recorded
  dispatch();
  EXPECT_TRUE(results().empty());
  EXPECT_EQ(g_sentCreatePackets.size(), 2u);

  ASSERT_TRUE(simtest::sendException(kSimExceptionCreateObjectFailed, first));
  dispatch();
  ASSERT_EQ(results().size(), 1u);
  EXPECT_EQ(results()[0].kind, SimResultKind::CreateFailed);
  EXPECT_EQ(results()[0].id, 0xABCDEFu);
  EXPECT_EQ(results()[0].objectId, 0u);
  ASSERT_EQ(g_sentCreatePackets.size(), 1u);
  EXPECT_EQ(g_sentCreatePackets[0].tailNumber, "DLH5CD");
}

// A worker call between a creation and the read of its packet id would pair a failure with the
// wrong aircraft; the worker's calls wait for the queue lock that the flush holds.
TEST_F(SimObjectDataTest, TheRecordedPacketIdIsTheCreationsOwn) {
  // Bounded: the stand-in records every call, and an unbounded loop fills memory on a fast machine.
  std::jthread worker([](std::stop_token stop) {
    for (int n = 0; n < 20000 && !stop.stop_requested(); ++n) {
      setSpoilersAndThrottles(1001, true, false);
      std::this_thread::yield();
    }
  });
  for (std::uint32_t i = 0; i < 50; ++i) sendCreation(20000 + i, "T" + std::to_string(i));
  worker.request_stop();
  worker.join();
  frame();  // frames that found the lock busy left their creations for this one
  const auto creates = simtest::callsOf("SimConnect_AICreateNonATCAircraft");
  ASSERT_EQ(creates.size(), 50u);
  ASSERT_EQ(g_sentCreatePackets.size(), 50u);
  for (std::size_t i = 0; i < creates.size(); ++i) EXPECT_EQ(g_sentCreatePackets[i].packetId, creates[i].packetId);
}

TEST_F(SimObjectDataTest, ExceptionsAreLoggedByKind) {
  ASSERT_TRUE(simtest::sendException(kSimExceptionUnrecognizedId, 5));  // before a user position: silent
  dispatch();
  EXPECT_THAT(log(), Not(HasSubstr("UNRECOGNIZED_ID")));

  sendUserData(userData(47.0, 8.0));
  for (DWORD code : {3u, 11u, 19u, 23u, 24u, 99u}) ASSERT_TRUE(simtest::sendException(code, 5));
  dispatch();
  const std::string text = log();
  EXPECT_THAT(text, HasSubstr("===> SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID"));
  EXPECT_THAT(text, HasSubstr("SimConnect: too many objects (max 1000)"));
  EXPECT_THAT(text, HasSubstr("SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE"));
  EXPECT_THAT(text, HasSubstr("===> SimConnect exception: load flight plan failed"));
  EXPECT_THAT(text, HasSubstr("SIMCONNECT_EXCEPTION_OPERATION_INVALID_FOR_OBJECT_TYPE"));
  EXPECT_THAT(text, HasSubstr("===> SIMCONNECT_EXCEPTION #99"));
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText), "SimConnect: too many objects (max 1000)");

  ASSERT_TRUE(simtest::sendException(kSimExceptionVersionMismatch, 5, 2));
  try {
    dispatch();
    FAIL() << "no user error";
  } catch (const kvo::UserErrorException& e) {
    EXPECT_EQ(e.code(), 95);
    EXPECT_EQ(e.message(), "SimConnect Version Mismatch, dwIndex: 2");
  }
}

// ---- the user aircraft -------------------------------------------------------------------------------------

TEST_F(SimObjectDataTest, ThePositionAnswerKeepsTheUserAircraft) {
  sendUserData(userData(47.45, 8.56, -20.0, 3.0), 7);
  dispatch();
  const kvo::UserAircraftData user = requestUserAircraftPosition();
  EXPECT_DOUBLE_EQ(user.lat, 47.45);
  EXPECT_DOUBLE_EQ(user.altFt, 0.0);  // a negative altitude is stored as 0
  EXPECT_DOUBLE_EQ(user.groundSpeedKt, 3.0);
  EXPECT_EQ(user.zuluYear, 2024);
  EXPECT_EQ(g_userObjectId.load(), 7u);
  EXPECT_FALSE(g_stopRequested.load());  // the first answer is no teleport
}

TEST_F(SimObjectDataTest, AJumpOfMoreThanTenMilesIsATeleport) {
  sendUserData(userData(47.0, 8.0));
  sendUserData(userData(47.0 + 10.0 / 60.0, 8.0));  // exactly 10 nm north
  dispatch();
  EXPECT_FALSE(g_stopRequested.load());
  EXPECT_THAT(log(), Not(HasSubstr("Teleport")));
  sendUserData(userData(47.0 + 10.0 / 60.0 + 10.01 / 60.0, 8.0));
  dispatch();
  EXPECT_THAT(log(), HasSubstr("Teleport"));
  EXPECT_EQ(g_exitReason.load(), kvo::kExitNewFlight);
  EXPECT_EQ(g_restartDelaySeconds.load(), 45);
}

TEST_F(SimObjectDataTest, TheOnGroundStateNeedsAKnownPosition) {
  ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectData, kvo::kReqUserOnGround, 1, kvo::kDefUserOnGround,
                                       {std::int64_t{1}}));
  dispatch();
  EXPECT_TRUE(g_newUserSample.exchange(false));
  EXPECT_FALSE(g_userOnGround.load().has_value());

  sendUserData(userData(47.0, 8.0));
  // Only the low 32 bits count.
  ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectData, kvo::kReqUserOnGround, 1, kvo::kDefUserOnGround,
                                       {std::int64_t{1} << 32}));
  dispatch();
  EXPECT_TRUE(g_newUserSample.load());
  EXPECT_EQ(g_userOnGround.load(), std::optional<bool>(false));
  ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectData, kvo::kReqUserOnGround, 1, kvo::kDefUserOnGround,
                                       {std::int64_t{1}}));
  dispatch();
  EXPECT_EQ(g_userOnGround.load(), std::optional<bool>(true));
}

TEST_F(SimObjectDataTest, TheSimulatorTimeIsKeptForAProfessionalEdition) {
  sendUserData(userData(47.0, 8.0, 100.0, 0.0, 2024, 1, 0));
  dispatch();
  EXPECT_EQ(g_simTime.load(), 0);
  g_rtProfEdition = true;
  sendUserData(userData(47.0, 8.0, 100.0, 0.0, 2024, 1, 0));
  dispatch();
  EXPECT_EQ(g_simTime.load(), 1704067200);  // 2024-01-01 00:00:00 UTC
  sendUserData(userData(47.0, 8.0, 100.0, 0.0, 2023, 365, 86399));
  dispatch();
  EXPECT_EQ(g_simTime.load(), 1704067199);
  // A year no calendar holds leaves the time as it was.
  sendUserData(userData(47.0, 8.0, 100.0, 0.0, std::int64_t{1} << 62, 1, 0));
  dispatch();
  EXPECT_EQ(g_simTime.load(), 1704067199);
}

TEST(DaysSinceEpoch, CountsTheProlepticGregorianCalendar) {
  EXPECT_EQ(daysSinceEpoch(1970, 1), 0);
  EXPECT_EQ(daysSinceEpoch(2000, 60), 11016);  // 29 February 2000
  EXPECT_EQ(daysSinceEpoch(2024, 1), 19723);
  EXPECT_EQ(daysSinceEpoch(1969, 365), -1);
}

TEST_F(SimObjectDataTest, TheStaticCentreOfGravityIsReported) {
  ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectData, kvo::kReqStaticCg, 1001, kvo::kDefStaticCg,
                                       {11.5, -0.04}));
  dispatch();
  ASSERT_EQ(results().size(), 1u);
  EXPECT_EQ(results()[0].kind, SimResultKind::StaticCg);
  EXPECT_EQ(results()[0].objectId, 1001u);
  EXPECT_EQ(results()[0].value1, 11.5);
  EXPECT_EQ(results()[0].value2, -0.04);
}

// When the client ends, the stand of a user standing still on the ground (at most 2 kt) is kept
// as the reserved stand; a user still rolling keeps none.
TEST_F(SimObjectDataTest, TheUsersStandIsKeptOnlyWhenTheUserStandsStill) {
  static std::vector<std::string> saved;
  saved.clear();  // a repeated run starts empty
  const auto keptFind = g_findStandAtCall;
  const auto keptSave = g_saveUserStandCall;
  g_findStandAtCall = [](kvo::LatLon) -> std::string { return "A12"; };
  g_saveUserStandCall = [](std::string_view stand) {
    saved.emplace_back(stand);
    return true;
  };
  for (const double speed : {1.5, 2.0, 2.5, 15.0}) {
    g_userOnGround.store(true);
    {
      std::lock_guard lock(g_simQueueMutex);
      g_userAircraftSnapshot.groundSpeedKt = speed;
    }
    saveUserStand();
  }
  g_findStandAtCall = keptFind;
  g_saveUserStandCall = keptSave;
  EXPECT_THAT(saved, ElementsAre("A12", "A12"));
}

}  // namespace
