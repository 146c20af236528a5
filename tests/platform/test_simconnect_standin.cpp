// The stand-in simulator in scripted mode: presence, the call record, failures, packet ids and
// the messages it delivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"

namespace simtest = kvo::simtest;
using ::testing::ElementsAre;

namespace {

struct Received {
  DWORD id;
  DWORD size;
  std::vector<std::uint8_t> bytes;
};

void collect(SimConnectRecv* message, DWORD size, void* context) {
  auto* out = static_cast<std::vector<Received>*>(context);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(message);
  SimConnectRecv header;
  std::memcpy(&header, message, sizeof header);
  out->push_back(Received{header.id, size, std::vector<std::uint8_t>(bytes, bytes + size)});
}

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override { simtest::reset(); }
  void TearDown() override { simtest::reset(); }

  HANDLE open() {
    HANDLE handle = nullptr;
    EXPECT_EQ(SimConnect_Open(&handle, "Test", nullptr, 0, nullptr, 0), S_OK);
    return handle;
  }
  std::vector<Received> dispatch(HANDLE handle) {
    std::vector<Received> out;
    EXPECT_EQ(SimConnect_CallDispatch(handle, collect, &out), S_OK);
    return out;
  }
};

TEST_F(StandInTest, OpensOnlyWhileThePresentSimulatorRuns) {
  HANDLE handle = reinterpret_cast<HANDLE>(1);
  EXPECT_LT(SimConnect_Open(&handle, "Test", nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(handle, nullptr);
  simtest::setPresent(true);
  handle = open();
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(simtest::isConnected());

  const auto messages = dispatch(handle);
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_EQ(messages[0].id, kSimRecvOpen);
  SimConnectRecvOpen open;
  ASSERT_EQ(messages[0].size, sizeof open);
  std::memcpy(&open, messages[0].bytes.data(), sizeof open);
  EXPECT_STREQ(open.applicationName, "KittyHawk");
  EXPECT_EQ(open.applicationBuildMajor, 282174u);

  EXPECT_EQ(SimConnect_Close(handle), S_OK);
  EXPECT_FALSE(simtest::isConnected());
  // A closed handle fails every call and changes nothing.
  EXPECT_LT(SimConnect_Close(handle), 0);
  EXPECT_LT(SimConnect_AIRemoveObject(handle, 5, 105), 0);
  EXPECT_LT(SimConnect_CallDispatch(handle, collect, nullptr), 0);
}

TEST_F(StandInTest, RecordsEveryCallWithItsArgumentsAndPacket) {
  simtest::setPresent(true);
  HANDLE h = open();
  EXPECT_EQ(SimConnect_SubscribeToSystemEvent(h, 201, "Sim"), S_OK);
  EXPECT_EQ(SimConnect_AddToDataDefinition(h, 404, "ATC ID", nullptr, kSimDataString32, 0.0f, kSimNoDatumId), S_OK);
  EXPECT_EQ(SimConnect_RequestDataOnSimObjectType(h, 101, 404, 74080, kSimObjectTypeAircraft), S_OK);
  DWORD packet = 0;
  EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &packet), S_OK);
  EXPECT_THAT(simtest::callTexts(),
              ElementsAre("SimConnect_Open(\"Test\", 0)", "SimConnect_SubscribeToSystemEvent(201, \"Sim\")",
                          "SimConnect_AddToDataDefinition(404, \"ATC ID\", null, STRING32, 0, -1)",
                          "SimConnect_RequestDataOnSimObjectType(101, 404, 74080, AIRCRAFT)",
                          "SimConnect_GetLastSentPacketID()"));
  const auto calls = simtest::calls();
  EXPECT_EQ(calls[1].packetId + 2, calls[3].packetId);
  EXPECT_EQ(packet, calls[3].packetId);
  EXPECT_EQ(calls[4].packetId, 0u);  // reading the id sends nothing
}

TEST_F(StandInTest, FailsTheCallsATestAsksToFail) {
  simtest::setPresent(true);
  HANDLE h = open();
  simtest::failCall("SimConnect_AIRemoveObject", 2);
  EXPECT_EQ(SimConnect_AIRemoveObject(h, 5, 105), E_FAIL);
  EXPECT_EQ(SimConnect_AIRemoveObject(h, 6, 105), E_FAIL);
  EXPECT_EQ(SimConnect_AIRemoveObject(h, 7, 105), S_OK);
  const auto removes = simtest::callsOf("SimConnect_AIRemoveObject");
  ASSERT_EQ(removes.size(), 3u);
  EXPECT_EQ(removes[0].result, E_FAIL);
  EXPECT_EQ(removes[0].packetId, 0u);  // a failed call sends nothing
  EXPECT_EQ(removes[2].result, S_OK);

  simtest::failCall("SimConnect_GetLastSentPacketID");
  DWORD packet = 77;
  EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &packet), E_FAIL);
  EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &packet), E_FAIL);
  EXPECT_EQ(packet, 77u);
  simtest::clearFailures();
  EXPECT_EQ(SimConnect_GetLastSentPacketID(h, &packet), S_OK);
  EXPECT_EQ(packet, removes[2].packetId);

  simtest::failCall("SimConnect_Open", 1);
  HANDLE second = nullptr;
  EXPECT_EQ(SimConnect_Open(&second, "Test", nullptr, 0, nullptr, 0), E_FAIL);
}

TEST_F(StandInTest, DeliversScriptedMessagesInOrderToTheSubscribedIds) {
  simtest::setPresent(true);
  simtest::setOpenMessageOnConnect(false);
  HANDLE h = open();
  EXPECT_FALSE(simtest::startFlight());  // nobody subscribed yet
  SimConnect_SubscribeToSystemEvent(h, 201, "Sim");
  SimConnect_SubscribeToSystemEvent(h, 204, "Frame");
  SimConnect_SubscribeToSystemEvent(h, 202, "ObjectAdded");
  ASSERT_TRUE(simtest::startFlight());
  ASSERT_TRUE(simtest::sendFrame(29.5f));
  ASSERT_TRUE(simtest::sendObjectAdded(1001, kSimObjectTypeAircraft));
  ASSERT_TRUE(simtest::sendException(kSimExceptionCreateObjectFailed, 12, 1));
  EXPECT_EQ(simtest::pendingMessageCount(), 4u);

  const auto messages = dispatch(h);
  ASSERT_EQ(messages.size(), 4u);
  SimConnectRecvEvent sim;
  std::memcpy(&sim, messages[0].bytes.data(), sizeof sim);
  EXPECT_EQ(sim.eventId, 201u);
  EXPECT_EQ(sim.data, 1u);
  SimConnectRecvEventFrame frame;
  std::memcpy(&frame, messages[1].bytes.data(), sizeof frame);
  EXPECT_EQ(frame.event.eventId, 204u);
  EXPECT_EQ(frame.frameRate, 29.5f);
  SimConnectRecvEventObjectAddRemove added;
  std::memcpy(&added, messages[2].bytes.data(), sizeof added);
  EXPECT_EQ(added.event.eventId, 202u);
  EXPECT_EQ(added.event.data, 1001u);
  EXPECT_EQ(added.objectType, kSimObjectTypeAircraft);
  SimConnectRecvException exception;
  std::memcpy(&exception, messages[3].bytes.data(), sizeof exception);
  EXPECT_EQ(exception.exception, kSimExceptionCreateObjectFailed);
  EXPECT_EQ(exception.sendId, 12u);
  EXPECT_EQ(simtest::pendingMessageCount(), 0u);
}

TEST_F(StandInTest, PacksDataAnswersByTheDeclaredDefinition) {
  simtest::setPresent(true);
  HANDLE h = open();
  dispatch(h);
  SimConnect_AddToDataDefinition(h, 404, "Plane Alt Above Ground", "feet", kSimDataFloat64, 0, kSimNoDatumId);
  SimConnect_AddToDataDefinition(h, 404, "SIM ON GROUND", "Bool", kSimDataInt64, 0, kSimNoDatumId);
  SimConnect_AddToDataDefinition(h, 404, "ATC ID", nullptr, kSimDataString32, 0, kSimNoDatumId);
  SimConnect_RequestDataOnSimObjectType(h, 101, 404, 1000, kSimObjectTypeAircraft);
  const std::string full(40, 'A');  // longer than the field
  ASSERT_TRUE(simtest::sendObjectDataByType(101, 1001, {12.5, 1, full}, 2, 3));

  const auto messages = dispatch(h);
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_EQ(messages[0].size, kSimObjectDataOffset + 8 + 8 + 32);
  SimConnectRecvSimObjectData fixed;
  std::memcpy(&fixed, messages[0].bytes.data(), kSimObjectDataOffset);
  EXPECT_EQ(fixed.header.id, kSimRecvSimObjectDataByType);
  EXPECT_EQ(fixed.requestId, 101u);
  EXPECT_EQ(fixed.objectId, 1001u);
  EXPECT_EQ(fixed.defineId, 404u);
  EXPECT_EQ(fixed.entryNumber, 2u);
  EXPECT_EQ(fixed.outOf, 3u);
  const std::uint8_t* data = messages[0].bytes.data() + kSimObjectDataOffset;
  double agl;
  std::int64_t onGround;
  std::memcpy(&agl, data, 8);
  std::memcpy(&onGround, data + 8, 8);
  EXPECT_EQ(agl, 12.5);
  EXPECT_EQ(onGround, 1);
  // A field-filling text carries no terminator, as the simulator sends it.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 16), 32), std::string(32, 'A'));
}

TEST_F(StandInTest, AQuitDropsTheConnectionAfterItIsDelivered) {
  simtest::setPresent(true);
  HANDLE h = open();
  dispatch(h);
  ASSERT_TRUE(simtest::sendQuit());
  EXPECT_FALSE(simtest::sendFrame(30.0f));  // nothing follows a quit
  const auto messages = dispatch(h);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].id, kSimRecvQuit);
  EXPECT_FALSE(simtest::isConnected());
  EXPECT_LT(SimConnect_SubscribeToSystemEvent(h, 201, "Sim"), 0);
  EXPECT_EQ(SimConnect_Close(h), S_OK);  // the owner still closes it
  HANDLE again = nullptr;
  EXPECT_LT(SimConnect_Open(&again, "Test", nullptr, 0, nullptr, 0), 0);  // the simulator has gone
}

TEST_F(StandInTest, AProcedureMayCallTheLibraryWhileItDispatches) {
  simtest::setPresent(true);
  HANDLE h = open();
  struct Context {
    HANDLE handle;
    HRESULT result = E_FAIL;
  } context{h};
  SimConnect_CallDispatch(
      h,
      [](SimConnectRecv*, DWORD, void* c) {
        auto* ctx = static_cast<Context*>(c);
        ctx->result = SimConnect_AIReleaseControl(ctx->handle, 1001, 103);
      },
      &context);
  EXPECT_EQ(context.result, S_OK);
}

}  // namespace
