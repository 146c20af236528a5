#pragma once
// A fixture for the traffic engine's tests: the simulator client's fixture (a private log, the
// stand-in simulator in scripted mode, here with an open connection), a small data base and
// livery set, and every global of the engine and the feed at its start. Ticks are driven
// directly (no thread, no real time); a frame is the simulator's frame event, dispatched.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "aircraft/data_crypto.h"
#include "aircraft/dbase.h"
#include "aircraft/livery_db.h"
#include "airports/park_stands.h"
#include "links/feed.h"
#include "links/qnh_reader.h"
#include "links/test_sim_support.h"
#include "traffic/flight_plans.h"
#include "traffic/park_airports.h"
#include "traffic/park_airport_file.h"
#include "traffic/park_limits.h"
#include "traffic/parking.h"
#include "traffic/stand_options.h"
#include "traffic/stand_search.h"
#include "traffic/static_aircraft.h"
#include "traffic/movement.h"
#include "traffic/traffic_engine.h"

namespace traffictest {

namespace simtest = kvo::simtest;
using kvo::AircraftState;
using kvo::GroundPhase;
using kvo::SimResultKind;
using kvo::TickCount;

// How often the part stands in the text (a log, say).
inline std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The user aircraft flies here at 5000 ft unless a test moves it.
inline constexpr double kUserLat = 50.0;
inline constexpr double kUserLon = 8.0;
inline constexpr double kNmLat = 1.0 / 60.0;  // one nautical mile north, in degrees

class TrafficTest : public simclienttest::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    resetTrafficState();
    g_callsignListFile = folder_ / "Callsign2ObjectId.txt";
    RANDOM.set(false);
    g_rangeMeters = 50.0 * 1852.0;
    connect();
    setTrafficFeedOpen(true);
    installDataBase("");
    buildLiveryDb({livery("DLH", "A20N", "Airbus A320neo DLH"), livery("BAW", "B77W", "Boeing 777 BAW"),
                   livery("PVT", "C172", "Cessna 172"), livery("EZY", "A20N", "Airbus A320neo EZY")});
    setUser(kUserLat, kUserLon, 5000.0, false);
  }

  void TearDown() override {
    SimTest::TearDown();
    resetTrafficState();
  }

  static void resetTrafficState() {
    clearRunEndState();
    resetParametersForTests();
    resetTrafficFeedForTests();
    resetTrafficEngineForTests();
    resetLiveryDbForTests();
    clearDbaseTables();
    g_callsignListFile = "Callsign2ObjectId.txt";
    g_flightPlanFolder.clear();
  }

  static LiveryData livery(std::string airline, std::string type, std::string title, std::string atcid = "") {
    return LiveryData{std::move(airline), std::move(type), std::move(title), std::move(atcid), 0, 0};
  }

  // The test's types (A20N, B77W, C172 light, A139 rotorcraft) and these "<reg .../>" elements.
  void installDataBase(const std::string& registrations) {
    const std::string types =
        "<type icao=\"A20N\" span_m=\"35.8\" sets=\"large\"/><type icao=\"B77W\" span_m=\"64.8\" sets=\"heavy\"/>"
        "<type icao=\"C172\" span_m=\"11.0\" sets=\"\"/><type icao=\"A139\" span_m=\"13.8\" sets=\"rotorcraft\"/>";
    writeEncrypted("dbase.enc", "<dbase><aircraft>" + types + "</aircraft><registrations>" + registrations +
                                    "</registrations></dbase>");
    writeEncrypted("AIG-regcodes.enc", "<regcodes><registrations/><specialliveries/></regcodes>");
    readDbase(folder_.path());
  }
  void writeEncrypted(const std::string& name, const std::string& plain) {
    std::filesystem::create_directories(folder_ / "input");
    const std::vector<std::uint8_t> bytes = gf_streamEncrypt("<?xml version=\"1.0\"?>" + plain, builtInDataKey());
    coretest::writeFile(folder_.path() / "input" / name, std::string(bytes.begin(), bytes.end()));
  }

  static void setUser(double lat, double lon, double altFt, bool onGround, double aglFt = 5000.0) {
    kvo::UserAircraftData user;
    user.lat = lat;
    user.lon = lon;
    user.altFt = altFt;
    user.aglFt = aglFt;
    user.groundSpeedKt = onGround ? 0.0 : 200.0;
    std::lock_guard lock(g_simQueueMutex);
    g_userAircraft = user;
    g_userAircraftSnapshot = user;
    g_userOnGround.store(onGround);
  }

  // A feed record of an aircraft going east at 250 kt.
  static kvo::FeedRecord record(std::uint32_t hexId, std::string callsign, double timestamp, double lat, double lon,
                                double altFt = 8000.0, bool airborne = true, double groundSpeedKt = 250.0,
                                double trackDeg = 90.0, std::string type = "A20N") {
    kvo::FeedRecord r;
    r.hexId = hexId;
    r.callsign = std::move(callsign);
    r.type = std::move(type);
    r.airline = "DLH";
    r.timestamp = timestamp;
    r.position.lat = lat;
    r.position.lon = lon;
    r.position.altFt = altFt;
    r.position.groundSpeedKt = groundSpeedKt;
    r.position.tasKt = groundSpeedKt;
    r.position.trackDeg = trackDeg;
    r.position.airborne = airborne ? 1 : 0;
    return r;
  }
  static void feed(kvo::FeedRecord r) { ASSERT_TRUE(appendToTrafficFeed(std::move(r))); }

  static void tick(int n = 1) {
    for (int i = 0; i < n; ++i) lf_handleAddingStack();
  }
  static void tickUntil(TickCount target) {
    while (g_trafficTick.load() < target) lf_handleAddingStack();
  }

  // The simulator announces the object of the tail number; the in-range answer pairs it.
  void simCreates(DWORD objectId, const std::string& tailNumber) {
    ASSERT_TRUE(simtest::sendObjectAdded(objectId));
    ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectDataByType, kvo::kReqAircraftInRange, objectId,
                                         kvo::kDefAircraftInRange, {8000.0, 0.0, std::int64_t{0}, tailNumber}));
    dispatch();
  }
  static void postResult(std::uint32_t objectId, std::uint32_t id, SimResultKind kind, double v1 = 0.0,
                         double v2 = 0.0) {
    std::lock_guard lock(g_simResultsMutex);
    g_simResults.push_back(kvo::SimConnectResult{objectId, id, 0, kind, v1, v2});
  }

  static kvo::LiveAircraft* live(std::uint32_t hexId) {
    for (auto& a : g_liveAircraft) {
      if (a.internalId == hexId) return &a;
    }
    return nullptr;
  }
  // An argument of every call of the function, in order.
  static std::vector<std::string> callArgs(std::string_view function, std::size_t arg) {
    std::vector<std::string> out;
    for (const auto& c : simtest::callsOf(function)) out.push_back(c.args.at(arg));
    return out;
  }
  // Client events queued for the object, as "event=data", in order.
  static std::vector<std::string> queuedEvents(std::uint32_t objectId) {
    std::vector<std::string> out;
    std::lock_guard lock(g_simQueueMutex);
    for (const auto& e : g_clientEventQueue) {
      if (e.objectId == objectId) out.push_back(std::to_string(e.eventId) + "=" + std::to_string(e.data));
    }
    return out;
  }
  // Whether the object's removal waits in the engine's or the client's queue, once.
  static bool removalQueued(std::uint32_t objectId) {
    std::lock_guard lock(g_simQueueMutex);
    return std::count(g_removeQueue.begin(), g_removeQueue.end(), objectId) +
               std::count(g_simRemoveQueue.begin(), g_simRemoveQueue.end(), objectId) ==
           1;
  }

  // A live aircraft made directly, in the given state, `northNm` north of the user, with two
  // airborne points going east (the first due in 100 ticks).
  static kvo::LiveAircraft& addLive(std::uint32_t hexId, const std::string& callsign, AircraftState state,
                                    std::uint32_t objectId = 0, double northNm = 30.0) {
    kvo::FeedRecord r = record(hexId, callsign, 1000.0, kUserLat + northNm * kNmLat, kUserLon);
    r.coupledCallsign1 = callsign;
    kvo::AircraftBase base = makeAircraftBase(r);
    base.internalId = hexId;
    base.liveryTitle = "Airbus A320neo DLH";
    r.position.dueTick = g_trafficTick.load() + 100;
    kvo::LiveAircraft ac = initLiveAircraft(std::move(base), r.position, r.timestamp);
    kvo::TrackPoint second = r.position;
    second.lon += 0.05;
    second.dueTick += 1000;
    ac.trackPoints.push_back(second);
    ac.position.lat = r.position.lat;
    ac.position.lon = r.position.lon;
    ac.position.altFt = r.position.altFt;
    ac.state = state;
    ac.objectId = objectId;
    if (state == AircraftState::Active) ac.phase = GroundPhase::Flying;
    g_liveAircraft.push_back(std::move(ac));
    return g_liveAircraft.back();
  }

  static kvo::StaticAircraft& addStatic(std::uint32_t internalId, const std::string& callsign, AircraftState state,
                                        std::uint32_t standId = 0, std::uint32_t objectId = 0) {
    kvo::AircraftTexts texts;
    texts.airline = "DLH";
    texts.type = "A20N";
    texts.callsign = callsign;
    kvo::AircraftBase base = makeAircraftBase(texts);
    base.internalId = internalId;
    base.liveryTitle = "Airbus A320neo DLH";
    g_staticAircraft.push_back(initStaticAircraft(std::move(base), standId, {kUserLat, kUserLon, 0.0}, 0));
    g_staticAircraft.back().state = state;
    g_staticAircraft.back().objectId = objectId;
    return g_staticAircraft.back();
  }

  static kvo::Stand& addStand(std::uint32_t id, const std::string& name, std::uint8_t occupied) {
    kvo::Stand s;
    s.id = id;
    s.name = name;
    s.occupied = occupied;
    g_parkStands.push_back(s);
    return g_parkStands.back();
  }

  static kvo::CreateRequest request(std::uint32_t internalId, std::string tail) {
    kvo::CreateRequest r;
    r.internalId = internalId;
    r.tailNumber = std::move(tail);
    return r;
  }
};

inline std::string ev(std::uint32_t id, std::uint32_t data) { return std::to_string(id) + "=" + std::to_string(data); }

}  // namespace traffictest
