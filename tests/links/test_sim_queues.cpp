// The request queues, the frame flush and the worker's direct requests.
#include <gmock/gmock.h>

#include <cstring>
#include <future>
#include <latch>
#include <thread>

#include "test_sim_support.h"

using namespace simclienttest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using kvo::ClientEventRequest;
using kvo::CreateRequest;

namespace {

// Holds g_simQueueMutex on another thread for the life of the object, as the worker does.
class QueueLockHolder {
 public:
  QueueLockHolder()
      : thread_([this] {
          std::lock_guard lock(g_simQueueMutex);
          locked_.count_down();
          release_.wait();
        }) {
    locked_.wait();
  }
  ~QueueLockHolder() { release(); }
  void release() {
    if (!released_) {
      released_ = true;
      release_.count_down();
      thread_.join();
    }
  }

 private:
  std::latch locked_{1};
  std::latch release_{1};
  bool released_ = false;
  std::thread thread_;
};

CreateRequest creation(std::uint32_t internalId, std::string tail, std::string_view title = "Airbus A320 Neo") {
  CreateRequest r;
  r.initPosition = kvo::InitPosition{50.0, 8.5, 364.0, -2.0, 0.0, 270.0, 1, 0};
  r.tailNumber = std::move(tail);
  r.title = title;
  r.internalId = internalId;
  return r;
}

kvo::AiPositionUpdate position(std::uint32_t objectId, double lat) {
  kvo::AiPositionUpdate u;
  u.position = kvo::PositionBlock{lat, 8.5, -0.05, 0.1, 1.5, 1200.0, 10.0, 160.0};
  u.objectId = objectId;
  return u;
}

class SimQueueTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    connect();
    g_userObjectId = 1;
  }

  void queueOneOfEach(std::uint32_t objectId) {
    {
      std::lock_guard lock(g_simQueueMutex);
      g_positionBufferSend->push_back(position(objectId, 50.0 + objectId / 10000.0));
    }
    queueClientEvent(ClientEventRequest{objectId, kvo::kEventGearSet, 1});
    queueCreateRequest(creation(20000 + objectId, "CS" + std::to_string(objectId)));
    std::lock_guard lock(g_simQueueMutex);
    g_simRemoveQueue.push_back(objectId);
  }
};

TEST_F(SimQueueTest, AFrameSendsPositionsEventsCreationsAndRemovalsInThatOrder) {
  queueOneOfEach(1001);
  frame();
  std::vector<std::string> functions;
  for (const auto& call : simtest::calls()) functions.push_back(call.function);
  EXPECT_THAT(functions, ElementsAre("SimConnect_SetDataOnSimObject", "SimConnect_TransmitClientEvent",
                                     "SimConnect_AICreateNonATCAircraft", "SimConnect_GetLastSentPacketID",
                                     "SimConnect_AIRemoveObject"));
  EXPECT_THAT(callTexts("SimConnect_TransmitClientEvent"),
              ElementsAre("SimConnect_TransmitClientEvent(1001, 219, 1, 301, 0)"));
  EXPECT_THAT(callTexts("SimConnect_AIRemoveObject"), ElementsAre("SimConnect_AIRemoveObject(1001, 105)"));
  EXPECT_THAT(callTexts("SimConnect_AICreateNonATCAircraft"),
              ElementsAre("SimConnect_AICreateNonATCAircraft(\"Airbus A320 Neo\", \"CS1001\", 104)"));

  const auto set = simtest::callsOf("SimConnect_SetDataOnSimObject").front();
  EXPECT_EQ(set.text(), "SimConnect_SetDataOnSimObject(402, 1001, 0, 0, 64)");
  ASSERT_EQ(set.data.size(), 64u);
  kvo::PositionBlock sent;
  std::memcpy(&sent, set.data.data(), 64);
  EXPECT_DOUBLE_EQ(sent.lat, 50.1001);
  EXPECT_DOUBLE_EQ(sent.tasKt, 160.0);

  const auto create = simtest::callsOf("SimConnect_AICreateNonATCAircraft").front();
  SimConnectInitPosition init;
  ASSERT_EQ(create.data.size(), sizeof init);
  std::memcpy(&init, create.data.data(), sizeof init);
  EXPECT_DOUBLE_EQ(init.altitude, 364.0);
  EXPECT_DOUBLE_EQ(init.heading, 270.0);
  EXPECT_EQ(init.onGround, 1u);
  ASSERT_EQ(g_sentCreatePackets.size(), 1u);
  EXPECT_EQ(g_sentCreatePackets[0].packetId, create.packetId);
  EXPECT_EQ(g_sentCreatePackets[0].internalId, 21001u);
  EXPECT_EQ(g_sentCreatePackets[0].tailNumber, "CS1001");

  // Everything was emptied: the next frame sends nothing.
  simtest::clearCalls();
  frame();
  EXPECT_TRUE(simtest::calls().empty());
}

TEST_F(SimQueueTest, ABusyLockKeepsEverythingForTheNextFrame) {
  queueOneOfEach(1001);
  {
    QueueLockHolder worker;
    frame();
    EXPECT_TRUE(simtest::calls().empty());
  }
  queueOneOfEach(1002);
  frame();
  EXPECT_THAT(callTexts("SimConnect_TransmitClientEvent"),
              ElementsAre("SimConnect_TransmitClientEvent(1001, 219, 1, 301, 0)",
                          "SimConnect_TransmitClientEvent(1002, 219, 1, 301, 0)"));
  EXPECT_THAT(callTexts("SimConnect_AIRemoveObject"),
              ElementsAre("SimConnect_AIRemoveObject(1001, 105)", "SimConnect_AIRemoveObject(1002, 105)"));
  EXPECT_EQ(simtest::callsOf("SimConnect_AICreateNonATCAircraft").size(), 2u);
  EXPECT_EQ(simtest::callsOf("SimConnect_SetDataOnSimObject").size(), 2u);
}

TEST_F(SimQueueTest, NotReadyQueuesAreEmptiedUnsent) {
  queueOneOfEach(1001);
  g_simQueuesNotReady = true;
  {
    QueueLockHolder worker;
    frame();  // busy: nothing changes
  }
  {
    std::lock_guard lock(g_simQueueMutex);
    EXPECT_EQ(g_createQueue.size(), 1u);
  }
  frame();
  EXPECT_TRUE(simtest::calls().empty());
  std::lock_guard lock(g_simQueueMutex);
  EXPECT_TRUE(g_positionBufferSend->empty());
  EXPECT_TRUE(g_clientEventQueue.empty());
  EXPECT_TRUE(g_createQueue.empty());
  EXPECT_TRUE(g_simRemoveQueue.empty());
}

TEST_F(SimQueueTest, NothingIsSentForTheUsersObjectOrBelow) {
  g_userObjectId = 7;
  {
    std::lock_guard lock(g_simQueueMutex);
    g_positionBufferSend->push_back(position(7, 50.0));
    g_positionBufferSend->push_back(position(3, 50.0));
    g_positionBufferSend->push_back(position(8, 50.0));
    g_simRemoveQueue = {7, 2, 9};
  }
  frame();
  EXPECT_THAT(callTexts("SimConnect_SetDataOnSimObject"),
              ElementsAre("SimConnect_SetDataOnSimObject(402, 8, 0, 0, 64)"));
  EXPECT_THAT(callTexts("SimConnect_AIRemoveObject"), ElementsAre("SimConnect_AIRemoveObject(9, 105)"));
  EXPECT_THAT(log(), HasSubstr("===> SimConnect call to remove ac with objectid 7"));
  EXPECT_THAT(log(), HasSubstr("===> SimConnect call to remove ac with objectid 2"));
}

TEST_F(SimQueueTest, FlapsAreSurroundedByTwoReleasesOfAiControl) {
  queueClientEvent(ClientEventRequest{1001, kvo::kEventFlapsSet, 3072});
  frame();
  EXPECT_THAT(simtest::callTexts(), ElementsAre("SimConnect_AIReleaseControl(1001, 103)",
                                                "SimConnect_TransmitClientEvent(1001, 217, 3072, 301, 0)",
                                                "SimConnect_AIReleaseControl(1001, 103)"));
}

TEST_F(SimQueueTest, AFailedEventIsShownAndTheRestGoesOn) {
  queueClientEvent(ClientEventRequest{1001, kvo::kEventFlapsSet, 3072});
  queueClientEvent(ClientEventRequest{1001, kvo::kEventGearSet, 0});
  simtest::failCall("SimConnect_TransmitClientEvent", 1);
  frame();
  EXPECT_THAT(simtest::callTexts(), ElementsAre("SimConnect_AIReleaseControl(1001, 103)",
                                                "SimConnect_TransmitClientEvent(1001, 217, 3072, 301, 0)",
                                                "SimConnect_TransmitClientEvent(1001, 219, 0, 301, 0)"));
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText), "SimConnect TransmitClientEvent: 217 fails");
  EXPECT_FALSE(g_stopRequested.load());  // a failed event does not end the run
}

TEST_F(SimQueueTest, AFailedCreationRecordsNothingAndEndsTheRun) {
  queueCreateRequest(creation(30001, "ABC123", "Some Livery"));
  queueCreateRequest(creation(30002, "ABC124", "Some Livery"));
  simtest::failCall("SimConnect_AICreateNonATCAircraft", 1);
  frame();
  EXPECT_THAT(log(), HasSubstr("===> ! Simcon call to create ac in sim failed, hexid:30001, liv: 'Some Livery', "
                               "callsign: ABC123)"));
  ASSERT_EQ(g_sentCreatePackets.size(), 1u);  // the second was still sent in the same frame
  EXPECT_EQ(g_sentCreatePackets[0].internalId, 30002u);
  EXPECT_TRUE(g_simQueuesNotReady.load());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSimConnectError);
  EXPECT_EQ(g_restartDelaySeconds.load(), 9);
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::messageText), "SimConnect request error");

  // The following frames discard.
  queueCreateRequest(creation(30003, "ABC125"));
  simtest::clearCalls();
  frame();
  EXPECT_TRUE(simtest::calls().empty());
}

TEST_F(SimQueueTest, AnUnreadablePacketIdLeavesAPacketWithIdZero) {
  queueCreateRequest(creation(30001, "ABC123"));
  simtest::failCall("SimConnect_GetLastSentPacketID", 1);
  frame();
  EXPECT_THAT(log(), HasSubstr("===> GetLastSentPacketID"));
  ASSERT_EQ(g_sentCreatePackets.size(), 1u);
  EXPECT_EQ(g_sentCreatePackets[0].packetId, 0u);
}

TEST_F(SimQueueTest, AFailedRemovalIsLoggedAndEndsTheRun) {
  {
    std::lock_guard lock(g_simQueueMutex);
    g_simRemoveQueue = {1001, 1002};
  }
  simtest::failCall("SimConnect_AIRemoveObject", 1);
  frame();
  EXPECT_THAT(log(), HasSubstr("!SimConnect call to remove AI ac from sim failed, id 1001?"));
  EXPECT_EQ(simtest::callsOf("SimConnect_AIRemoveObject").size(), 2u);
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSimConnectError);
}

TEST_F(SimQueueTest, LightEventsGoInTheirFixedOrder) {
  queueLightEvents(1001, {1, 0, 0, 1, 0, 1, 0});
  queueCabinLightsEvent(1001, 1);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> queued;
  {
    std::lock_guard lock(g_simQueueMutex);
    for (const auto& e : g_clientEventQueue) queued.emplace_back(e.eventId, e.data);
  }
  using P = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_THAT(queued, ElementsAre(P{kvo::kEventNavLightsSet, 1}, P{kvo::kEventBeaconLightsSet, 0},
                                  P{kvo::kEventLandingLightsSet, 0}, P{kvo::kEventTaxiLightsSet, 1},
                                  P{kvo::kEventStrobesSet, 0}, P{kvo::kEventLogoLightsSet, 1},
                                  P{kvo::kEventCabinLightsSet, 0}, P{kvo::kEventCabinLightsSet, 1}));
}

struct SpoilerCase {
  bool on;
  bool reverse;
  double spoilers;
  double throttle;
};

class SpoilersTest : public SimQueueTest, public ::testing::WithParamInterface<SpoilerCase> {};

TEST_P(SpoilersTest, SetsDefinition401AtOnce) {
  const SpoilerCase& c = GetParam();
  setSpoilersAndThrottles(1001, c.on, c.reverse);
  const auto calls = simtest::callsOf("SimConnect_SetDataOnSimObject");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text(), "SimConnect_SetDataOnSimObject(401, 1001, 0, 0, 24)");
  double values[3];
  ASSERT_EQ(calls[0].data.size(), sizeof values);
  std::memcpy(values, calls[0].data.data(), sizeof values);
  EXPECT_EQ(values[0], c.spoilers);
  EXPECT_EQ(values[1], c.throttle);
  EXPECT_EQ(values[2], c.throttle);
}

INSTANTIATE_TEST_SUITE_P(States, SpoilersTest,
                         ::testing::Values(SpoilerCase{false, false, 0.0, 0.0}, SpoilerCase{false, true, 0.0, 0.0},
                                           SpoilerCase{true, false, 100.0, 100.0},
                                           SpoilerCase{true, true, 100.0, -100.0}));

// The worker's direct calls wait for the queue lock, so none of their packets can fall between a
// creation and the read of its packet id on the client thread.
TEST_F(SimQueueTest, TheWorkersDirectCallsWaitForTheQueueLock) {
  QueueLockHolder flush;
  auto worker = std::async(std::launch::async, [] {
    setSpoilersAndThrottles(1001, true, false);
    requestStaticCgData(1001);
    sendAllLightsToggle(1001);
    setAiFlightPlan(1001, "plans/ABC123.pln");
  });
  EXPECT_EQ(worker.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  EXPECT_TRUE(simtest::calls().empty());
  flush.release();
  worker.get();
  EXPECT_THAT(simtest::callTexts(),
              ElementsAre("SimConnect_SetDataOnSimObject(401, 1001, 0, 0, 24)",
                          "SimConnect_RequestDataOnSimObject(102, 405, 1001, ONCE, 0, 0, 0, 0)",
                          "SimConnect_TransmitClientEvent(1001, 213, 0, 301, 0)",
                          "SimConnect_AISetAircraftFlightPlan(1001, \"plans/ABC123.pln\", 110)"));
}

TEST_F(SimQueueTest, ThePositionRequestIsMadeOnlyWhileTheQueuesAreReady) {
  sendUserData(userData(50.0, 8.0));
  dispatch();
  const kvo::UserAircraftData copy = requestUserAircraftPosition();
  EXPECT_DOUBLE_EQ(copy.lat, 50.0);  // the answer to an earlier request
  EXPECT_THAT(callTexts("SimConnect_RequestDataOnSimObject"),
              ElementsAre("SimConnect_RequestDataOnSimObject(109, 403, 0, ONCE, 0, 0, 0, 0)"));

  g_simQueuesNotReady = true;
  simtest::clearCalls();
  EXPECT_DOUBLE_EQ(requestUserAircraftPosition().lon, 8.0);
  EXPECT_TRUE(simtest::calls().empty());
}

TEST_F(SimQueueTest, AFailedPositionRequestEndsTheRun) {
  simtest::failCall("SimConnect_RequestDataOnSimObject", 1);
  requestUserAircraftPosition();
  EXPECT_THAT(log(), HasSubstr("===> SimConnect request user ac position fails"));
  EXPECT_TRUE(g_simQueuesNotReady.load());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSimConnectError);
}

TEST_F(SimQueueTest, TitleAndModelAreBothAskedForEvenWhenTheFirstFails) {
  g_simQueuesNotReady = true;  // not looked at
  simtest::failCall("SimConnect_RequestDataOnSimObject", 1);
  requestUserAircraftTitleAndModel();
  EXPECT_THAT(callTexts("SimConnect_RequestDataOnSimObject"),
              ElementsAre("SimConnect_RequestDataOnSimObject(106, 407, 0, ONCE, 0, 0, 0, 0)",
                          "SimConnect_RequestDataOnSimObject(107, 408, 0, ONCE, 0, 0, 0, 0)"));
  EXPECT_THAT(log(), HasSubstr("===> SimConnect request user ac title fails"));
  EXPECT_THAT(log(), ::testing::Not(HasSubstr("reques user ac model fails")));
}

TEST_F(SimQueueTest, TheOnGroundStateIsAskedForEverySecond) {
  EXPECT_TRUE(requestUserAircraftOnGround());
  EXPECT_THAT(callTexts("SimConnect_RequestDataOnSimObject"),
              ElementsAre("SimConnect_RequestDataOnSimObject(108, 409, 0, SECOND, 0, 0, 0, 0)"));
  simtest::failCall("SimConnect_RequestDataOnSimObject", 1);
  EXPECT_FALSE(requestUserAircraftOnGround());
  EXPECT_THAT(log(), HasSubstr("===> SimConnect request ac gnd/air fails"));
}

TEST_F(SimQueueTest, ReservingMakesTheQueuesReady) {
  g_simQueuesNotReady = true;
  reserveSimConnectQueues();
  EXPECT_FALSE(g_simQueuesNotReady.load());
  EXPECT_GE(g_sentCreatePackets.capacity(), 256u);
  EXPECT_GE(g_addedObjectIds.capacity(), 256u);
  std::lock_guard lock(g_simQueueMutex);
  EXPECT_GE(g_positionBufferFill->capacity(), 256u);
  EXPECT_GE(g_positionBufferSend->capacity(), 256u);
}

}  // namespace
