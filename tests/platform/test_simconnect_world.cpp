// The stand-in simulator running by itself from a scenario file, stepped by a manual clock (and
// once in real time): what it answers, what it does with the program's calls, its state file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"
#include "support/test_support.h"

namespace simtest = kvo::simtest;
using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

struct Received {
  DWORD id = 0;
  std::vector<std::uint8_t> bytes;

  template <typename T>
  T as() const {
    T record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, bytes.data(), std::min(sizeof record, bytes.size()));
    return record;
  }
  const std::uint8_t* data() const { return bytes.data() + kSimObjectDataOffset; }
  double number(std::size_t offset) const {
    double d;
    std::memcpy(&d, data() + offset, 8);
    return d;
  }
  std::int64_t integer(std::size_t offset) const {
    std::int64_t i;
    std::memcpy(&i, data() + offset, 8);
    return i;
  }
};

void collect(SimConnectRecv* message, DWORD size, void* context) {
  SimConnectRecv header;
  std::memcpy(&header, message, sizeof header);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(message);
  static_cast<std::vector<Received>*>(context)->push_back(Received{header.id, {bytes, bytes + size}});
}

const char* kScenario = R"({
  // Comments are allowed.
  "simulator": {"name": "SunRise", "version": [12, 1, 100, 5]},
  "frameRate": 30,
  "utcStart": "2024-06-01T12:00:00Z",
  "groundAltitudeFt": 400,
  "userAircraft": {"objectId": 1, "title": "Test Aircraft", "atcModel": "A320", "atcId": "DTEST",
                   "latitude": 47.45, "longitude": 8.56, "headingDeg": 90},
  "liveries": ["Livery A"],
  "otherAircraft": [{"atcId": "N12345", "latitude": 47.46, "longitude": 8.56, "altitudeFt": 3400}]
})";

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simtest::reset();
    simtest::runByItself(folder_.path(), simtest::Clock::Manual);
  }
  void TearDown() override {
    if (handle_ != nullptr) SimConnect_Close(handle_);
    simtest::reset();
  }

  void writeScenario(const std::string& text) { coretest::writeFile(folder_ / simtest::kScenarioFileName, text); }

  HRESULT open() { return SimConnect_Open(&handle_, "Ambrelvane", nullptr, 0, nullptr, 0); }

  // Opens, subscribes the events and declares the definitions the program uses.
  void openAndDeclare() {
    writeScenario(kScenario);
    ASSERT_EQ(open(), S_OK);
    SimConnect_SubscribeToSystemEvent(handle_, 201, "Sim");
    SimConnect_SubscribeToSystemEvent(handle_, 202, "ObjectAdded");
    SimConnect_SubscribeToSystemEvent(handle_, 203, "ObjectRemoved");
    SimConnect_SubscribeToSystemEvent(handle_, 204, "Frame");
    auto add = [this](DWORD def, const char* var, SimConnectDataType type) {
      SimConnect_AddToDataDefinition(handle_, def, var, "", type, 0, kSimNoDatumId);
    };
    for (const char* v : {"Plane Latitude", "Plane Longitude", "Plane Pitch degrees", "Plane Bank degrees",
                          "Plane Heading degrees true", "Plane Altitude", "Vertical Speed", "Airspeed True"}) {
      add(402, v, kSimDataFloat64);
    }
    for (const char* v : {"Plane Latitude", "Plane Longitude", "Plane Pitch degrees", "Plane Bank degrees",
                          "Plane Heading degrees true", "Plane Altitude", "Plane Alt Above Ground", "Ground Velocity"}) {
      add(403, v, kSimDataFloat64);
    }
    for (const char* v : {"ZULU TIME", "ZULU DAY OF YEAR", "ZULU YEAR", "LIGHT STATES"}) add(403, v, kSimDataInt64);
    add(404, "Plane Alt Above Ground", kSimDataFloat64);
    add(404, "Ground Altitude", kSimDataFloat64);
    add(404, "SIM ON GROUND", kSimDataInt64);
    add(404, "ATC ID", kSimDataString32);
    add(407, "TITLE", kSimDataStringV);
    add(409, "SIM ON GROUND", kSimDataInt64);
    SimConnect_MapClientEventToSimEvent(handle_, 214, "FREEZE_LATITUDE_LONGITUDE_SET");
    SimConnect_MapClientEventToSimEvent(handle_, 207, "NAV_LIGHTS_SET");
  }

  std::vector<Received> dispatch() {
    std::vector<Received> out;
    SimConnect_CallDispatch(handle_, collect, &out);
    return out;
  }
  static std::vector<Received> only(const std::vector<Received>& all, DWORD id) {
    std::vector<Received> out;
    for (const auto& m : all) {
      if (m.id == id) out.push_back(m);
    }
    return out;
  }
  json state() const { return json::parse(coretest::readFile(folder_ / simtest::kStateFileName)); }

  DWORD lastPacket() {
    DWORD packet = 0;
    SimConnect_GetLastSentPacketID(handle_, &packet);
    return packet;
  }

  coretest::TempFolder folder_;
  HANDLE handle_ = nullptr;
};

TEST_F(WorldTest, WithoutAScenarioNoSimulatorRuns) {
  EXPECT_LT(open(), 0);
  EXPECT_EQ(simtest::scenarioError(), "");
  writeScenario(kScenario);
  EXPECT_EQ(open(), S_OK);  // it starts as soon as the scenario is there
}

TEST_F(WorldTest, AnUnreadableScenarioIsReportedAndNotRun) {
  writeScenario(R"({"userAircraft": {"latitude": 95, "longitude": 8}})");
  EXPECT_LT(open(), 0);
  EXPECT_THAT(simtest::scenarioError(), ::testing::HasSubstr("latitude out of range"));
  EXPECT_THAT(state().at("error").get<std::string>(), ::testing::HasSubstr("latitude out of range"));
  writeScenario("{ not json");
  EXPECT_LT(open(), 0);
  EXPECT_THAT(simtest::scenarioError(), ::testing::HasSubstr(simtest::kScenarioFileName));
}

TEST_F(WorldTest, ConnectsWithItsNameAndRunsFramesAndTheFlight) {
  openAndDeclare();
  simtest::advanceWorld(1000ms);
  const auto messages = dispatch();
  const auto open = only(messages, kSimRecvOpen);
  ASSERT_EQ(open.size(), 1u);
  EXPECT_STREQ(open[0].as<SimConnectRecvOpen>().applicationName, "SunRise");
  EXPECT_EQ(open[0].as<SimConnectRecvOpen>().applicationBuildMajor, 100u);
  const auto events = only(messages, kSimRecvEvent);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].as<SimConnectRecvEvent>().eventId, 201u);
  EXPECT_EQ(events[0].as<SimConnectRecvEvent>().data, 1u);
  const auto frames = only(messages, kSimRecvEventFrame);
  EXPECT_NEAR(static_cast<double>(frames.size()), 30.0, 1.0);
  EXPECT_EQ(frames[0].as<SimConnectRecvEventFrame>().frameRate, 30.0f);
}

TEST_F(WorldTest, AnswersRequestsOnTheUserAircraft) {
  openAndDeclare();
  SimConnect_RequestDataOnSimObject(handle_, 109, 403, kSimUserObject, kSimPeriodOnce, 0, 0, 0, 0);
  SimConnect_RequestDataOnSimObject(handle_, 108, 409, kSimUserObject, kSimPeriodSecond, 0, 0, 0, 0);
  SimConnect_RequestDataOnSimObject(handle_, 106, 407, kSimUserObject, kSimPeriodOnce, 0, 0, 0, 0);
  simtest::advanceWorld(2500ms);
  const auto data = only(dispatch(), kSimRecvSimObjectData);
  std::vector<Received> position, onGround, title;
  for (const auto& m : data) {
    const auto fixed = m.as<SimConnectRecvSimObjectData>();
    EXPECT_EQ(fixed.objectId, 1u);
    if (fixed.requestId == 109) position.push_back(m);
    if (fixed.requestId == 108) onGround.push_back(m);
    if (fixed.requestId == 106) title.push_back(m);
  }
  ASSERT_EQ(position.size(), 1u);
  EXPECT_DOUBLE_EQ(position[0].number(0), 47.45);
  EXPECT_NEAR(position[0].number(32), 90.0 * M_PI / 180.0, 1e-12);  // heading in radians
  EXPECT_DOUBLE_EQ(position[0].number(40), 400.0);
  EXPECT_EQ(position[0].integer(64), 12 * 3600);  // ZULU TIME
  EXPECT_EQ(position[0].integer(72), 153);        // 1 June 2024
  EXPECT_EQ(position[0].integer(80), 2024);
  EXPECT_EQ(onGround.size(), 3u);  // at 0, 1 and 2 s
  EXPECT_EQ(onGround[0].integer(0), 1);
  ASSERT_EQ(title.size(), 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(title[0].data()), "Test Aircraft");
}

TEST_F(WorldTest, CreatesInstalledLiveriesAndRefusesOthers) {
  openAndDeclare();
  simtest::advanceWorld(0ms);
  dispatch();
  const SimConnectInitPosition at{47.451, 8.561, 400.0, 0.0, 0.0, 180.0, 1, 0};
  ASSERT_EQ(SimConnect_AICreateNonATCAircraft(handle_, "Livery A", "DLH4AB", at, 104), S_OK);
  ASSERT_EQ(SimConnect_AICreateNonATCAircraft(handle_, "Not Installed", "DLH5CD", at, 104), S_OK);
  const DWORD refused = lastPacket();
  const auto messages = dispatch();
  const auto added = only(messages, kSimRecvEventObjectAddRemove);
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].as<SimConnectRecvEventObjectAddRemove>().event.eventId, 202u);
  EXPECT_EQ(added[0].as<SimConnectRecvEventObjectAddRemove>().event.data, 1001u);  // after the scenario's other
  const auto exceptions = only(messages, kSimRecvException);
  ASSERT_EQ(exceptions.size(), 1u);
  EXPECT_EQ(exceptions[0].as<SimConnectRecvException>().exception, kSimExceptionCreateObjectFailed);
  EXPECT_EQ(exceptions[0].as<SimConnectRecvException>().sendId, refused);

  // The new object is among the aircraft in range, with its tail number as ATC ID.
  SimConnect_RequestDataOnSimObjectType(handle_, 101, 404, 5000, kSimObjectTypeAircraft);
  simtest::advanceWorld(40ms);
  std::map<DWORD, std::string> inRange;
  for (const auto& m : only(dispatch(), kSimRecvSimObjectDataByType)) {
    inRange[m.as<SimConnectRecvSimObjectData>().objectId] =
        std::string(reinterpret_cast<const char*>(m.data() + 24), strnlen(reinterpret_cast<const char*>(m.data() + 24), 32));
    EXPECT_EQ(m.as<SimConnectRecvSimObjectData>().outOf, 3u);
  }
  EXPECT_THAT(inRange, ::testing::ElementsAre(::testing::Pair(1u, "DTEST"), ::testing::Pair(1000u, "N12345"),
                                              ::testing::Pair(1001u, "DLH4AB")));

  simtest::advanceWorld(1000ms);
  const json s = state();
  EXPECT_EQ(s.at("createdCount"), 1);
  EXPECT_EQ(s.at("failedCreations"), 1);
  ASSERT_EQ(s.at("objects").size(), 2u);
  const json& created = s.at("objects")[1];
  EXPECT_EQ(created.at("id"), 1001);
  EXPECT_EQ(created.at("atcId"), "DLH4AB");
  EXPECT_EQ(created.at("title"), "Livery A");
  EXPECT_EQ(created.at("createdBy"), "program");
  EXPECT_NEAR(created.at("headingDeg").get<double>(), 180.0, 1e-9);
}

TEST_F(WorldTest, AppliesPositionsEventsAndRemovals) {
  openAndDeclare();
  const SimConnectInitPosition at{47.451, 8.561, 400.0, 0.0, 0.0, 180.0, 1, 0};
  ASSERT_EQ(SimConnect_AICreateNonATCAircraft(handle_, "Livery A", "DLH4AB", at, 104), S_OK);
  dispatch();
  double block[8] = {47.5, 8.6, 0.0, 0.0, M_PI, 1400.0, 5.0, 150.0};
  EXPECT_EQ(SimConnect_SetDataOnSimObject(handle_, 402, 1001, 0, 0, 64, block), S_OK);
  EXPECT_EQ(SimConnect_TransmitClientEvent(handle_, 1001, 214, 1, 301, 0), S_OK);
  EXPECT_EQ(SimConnect_TransmitClientEvent(handle_, 1001, 207, 1, 301, 0), S_OK);
  EXPECT_EQ(SimConnect_AIReleaseControl(handle_, 1001, 103), S_OK);
  // A block of the wrong size and an unknown object are refused as the simulator does.
  EXPECT_EQ(SimConnect_SetDataOnSimObject(handle_, 402, 1001, 0, 0, 24, block), S_OK);
  const DWORD wrongSize = lastPacket();
  EXPECT_EQ(SimConnect_AIRemoveObject(handle_, 4242, 105), S_OK);
  const DWORD unknown = lastPacket();
  auto exceptions = only(dispatch(), kSimRecvException);
  ASSERT_EQ(exceptions.size(), 2u);
  EXPECT_EQ(exceptions[0].as<SimConnectRecvException>().exception, kSimExceptionInvalidDataSize);
  EXPECT_EQ(exceptions[0].as<SimConnectRecvException>().sendId, wrongSize);
  EXPECT_EQ(exceptions[1].as<SimConnectRecvException>().exception, kSimExceptionUnrecognizedId);
  EXPECT_EQ(exceptions[1].as<SimConnectRecvException>().sendId, unknown);

  simtest::advanceWorld(1000ms);
  json object = state().at("objects")[1];
  EXPECT_EQ(object.at("latitude"), 47.5);
  EXPECT_EQ(object.at("altitudeFt"), 1400.0);
  EXPECT_NEAR(object.at("headingDeg").get<double>(), 180.0, 1e-9);
  EXPECT_EQ(object.at("onGround"), false);
  EXPECT_EQ(object.at("frozen").at("latitudeLongitude"), true);
  EXPECT_EQ(object.at("events").at("NAV_LIGHTS_SET"), 1);
  EXPECT_EQ(object.at("releasedFromAi"), true);

  EXPECT_EQ(SimConnect_AIRemoveObject(handle_, 1001, 105), S_OK);
  const auto removed = only(dispatch(), kSimRecvEventObjectAddRemove);
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0].as<SimConnectRecvEventObjectAddRemove>().event.eventId, 203u);
  EXPECT_EQ(removed[0].as<SimConnectRecvEventObjectAddRemove>().event.data, 1001u);
  simtest::advanceWorld(1000ms);
  EXPECT_EQ(state().at("objects").size(), 1u);  // the scenario's own aircraft stays
  EXPECT_EQ(state().at("removedCount"), 1);
}

// A simulator shows whatever name a client gives: a byte that is not UTF-8 becomes U+FFFD in the
// state file, a control character stays (escaped by JSON), and nothing stops the writer.
TEST_F(WorldTest, TheStateFileTakesAnyTextItIsGiven) {
  writeScenario("{\"userAircraft\": \xFF}");  // the reader's error quotes the byte
  EXPECT_LT(open(), 0);
  EXPECT_THAT(state().at("error").get<std::string>(), ::testing::HasSubstr("\xEF\xBF\xBD"));

  openAndDeclare();
  const struct {
    std::string tailNumber;
    std::string shown;
  } cases[] = {
      {"AAL7\xFF", "AAL7\xEF\xBF\xBD"},
      {"DLH\x01\n1", "DLH\x01\n1"},
      {"\xC3\x96LH\xC3", "\xC3\x96LH\xEF\xBF\xBD"},
  };
  const SimConnectInitPosition at{47.451, 8.561, 400.0, 0.0, 0.0, 180.0, 1, 0};
  for (const auto& c : cases) {
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(handle_, "Livery A", c.tailNumber.c_str(), at, 104), S_OK);
  }
  const std::string plan = (folder_ / "plan\xFF.pln").string();
  coretest::writeFile(plan, "");
  ASSERT_EQ(SimConnect_AISetAircraftFlightPlan(handle_, 1001, plan.c_str(), 110), S_OK);
  simtest::advanceWorld(1000ms);
  const json objects = state().at("objects");
  ASSERT_EQ(objects.size(), 1u + std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(objects[i + 1].at("atcId"), cases[i].shown);
  EXPECT_THAT(objects[1].at("flightPlan").get<std::string>(), ::testing::EndsWith("plan\xEF\xBF\xBD.pln"));
}

TEST_F(WorldTest, AClientsObjectsGoWithItsConnection) {
  openAndDeclare();
  const SimConnectInitPosition at{47.451, 8.561, 400.0, 0.0, 0.0, 180.0, 1, 0};
  SimConnect_AICreateNonATCAircraft(handle_, "Livery A", "DLH4AB", at, 104);
  ASSERT_EQ(SimConnect_Close(handle_), S_OK);
  handle_ = nullptr;
  simtest::advanceWorld(1000ms);
  EXPECT_EQ(state().at("objects").size(), 1u);
  EXPECT_EQ(state().at("connected"), false);
  // The simulator still runs: a new connection is welcome.
  EXPECT_EQ(open(), S_OK);
}

TEST_F(WorldTest, TheUserAircraftMovesAsTheScenarioSays) {
  writeScenario(R"({"userAircraft": {"latitude": 0.0, "longitude": 10.0, "headingDeg": 90, "groundSpeedKt": 120,
                                     "altitudeFt": 3000}})");
  ASSERT_EQ(open(), S_OK);
  simtest::advanceWorld(30000ms);
  const json user = state().at("userAircraft");
  EXPECT_NEAR(user.at("longitude").get<double>(), 10.0 + 1.0 / 60.0, 1e-3);  // 1 nm east
  EXPECT_NEAR(user.at("latitude").get<double>(), 0.0, 1e-6);
  EXPECT_EQ(user.at("onGround"), false);
}

TEST_F(WorldTest, TheUserAircraftChangesItsMotionAtTheScenariosTimes) {
  // Level north for 30 s, then a climb at 6000 ft/min turned east at 240 kt; never below ground.
  writeScenario(R"({"groundAltitudeFt": 400,
    "userAircraft": {"latitude": 0.0, "longitude": 10.0, "headingDeg": 0, "groundSpeedKt": 120, "altitudeFt": 3000,
      "changes": [{"afterSeconds": 60, "verticalSpeedFpm": -90000},
                  {"afterSeconds": 30, "verticalSpeedFpm": 6000, "headingDeg": 90, "groundSpeedKt": 240}]}})");
  ASSERT_EQ(open(), S_OK);
  simtest::advanceWorld(30000ms);
  json user = state().at("userAircraft");
  EXPECT_NEAR(user.at("latitude").get<double>(), 1.0 / 60.0, 1e-3);
  EXPECT_NEAR(user.at("altitudeFt").get<double>(), 3000.0, 10.0);
  simtest::advanceWorld(30000ms);
  user = state().at("userAircraft");
  EXPECT_NEAR(user.at("altitudeFt").get<double>(), 6000.0, 10.0);
  EXPECT_NEAR(user.at("longitude").get<double>(), 10.0 + 2.0 / 60.0, 1e-3);  // 2 nm east
  EXPECT_EQ(user.at("groundSpeedKt"), 240.0);
  simtest::advanceWorld(30000ms);
  EXPECT_EQ(state().at("userAircraft").at("altitudeFt"), 400.0);

  writeScenario(R"({"userAircraft": {"latitude": 0.0, "longitude": 10.0, "changes": [{"headingDeg": 90}]}})");
  simtest::reset();
  simtest::runByItself(folder_.path(), simtest::Clock::Manual);
  handle_ = nullptr;
  EXPECT_LT(open(), 0);
  EXPECT_THAT(simtest::scenarioError(), ::testing::HasSubstr("afterSeconds"));
}

TEST_F(WorldTest, TheFlightMayStartLateAndTheSimulatorQuit) {
  writeScenario(R"({"userAircraft": {"latitude": 47, "longitude": 8}, "flight": {"startsAfterSeconds": 2},
                    "quitAfterSeconds": 3})");
  ASSERT_EQ(open(), S_OK);
  SimConnect_SubscribeToSystemEvent(handle_, 201, "Sim");
  simtest::advanceWorld(1000ms);
  auto events = only(dispatch(), kSimRecvEvent);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].as<SimConnectRecvEvent>().data, 0u);
  simtest::advanceWorld(1500ms);
  events = only(dispatch(), kSimRecvEvent);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].as<SimConnectRecvEvent>().data, 1u);
  simtest::advanceWorld(1000ms);
  const auto messages = dispatch();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().id, kSimRecvQuit);
  EXPECT_FALSE(simtest::isConnected());
  EXPECT_EQ(SimConnect_Close(handle_), S_OK);
  handle_ = nullptr;
  EXPECT_LT(open(), 0);
  simtest::advanceWorld(1000ms);
  EXPECT_EQ(state().at("running"), false);
}

TEST(WorldRealTime, RewritesItsStateFileEverySecond) {
  coretest::TempFolder folder;
  simtest::reset();
  coretest::writeFile(folder / simtest::kScenarioFileName,
                      R"({"userAircraft": {"latitude": 47, "longitude": 8}, "frameRate": 20})");
  simtest::runByItself(folder.path());
  HANDLE handle = nullptr;
  ASSERT_EQ(SimConnect_Open(&handle, "Ambrelvane", nullptr, 0, nullptr, 0), S_OK);
  SimConnect_SubscribeToSystemEvent(handle, 204, "Frame");
  auto elapsed = [&] {
    try {
      return json::parse(coretest::readFile(folder / simtest::kStateFileName)).at("elapsedSeconds").get<double>();
    } catch (const std::exception&) {
      return -1.0;
    }
  };
  EXPECT_TRUE(coretest::waitFor([&] { return elapsed() >= 1.0; }, 10s));
  int frames = 0;
  EXPECT_TRUE(coretest::waitFor(
      [&] {
        SimConnect_CallDispatch(
            handle, [](SimConnectRecv*, DWORD, void* c) { ++*static_cast<int*>(c); }, &frames);
        return frames >= 10;
      },
      10s));
  SimConnect_Close(handle);
  simtest::reset();  // stops the world's thread
}

}  // namespace
