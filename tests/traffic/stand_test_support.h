#pragma once
// A park airport "EDXX" at 50 N 8 E (the test user's position) with stands made by each test, and
// aircraft of the test data base's types (A20N half span 17.9 m, B77W 32.4 m, C172 5.5 m, A139
// rotorcraft 6.9 m) placed directly.
#include <string>

#include "shared_state/main_window.h"
#include "traffic/park_airports.h"
#include "traffic/park_airport_file.h"
#include "traffic/stand_search.h"
#include "traffic_test_support.h"

namespace standtest {

inline constexpr double kM = 1.0 / 1852.0;            // one metre in nautical miles
inline constexpr double kMLat = 1.0 / 111132.95;      // one metre north, in degrees
inline constexpr double kMLon = kMLat / 0.6427876;    // one metre east at 50 N, in degrees
inline constexpr kvo::WeekSlot slot(std::uint32_t day, std::uint32_t half) { return kvo::makeWeekSlot(day, half); }

// A use that is an option of the stand.
inline kvo::StandUse option(std::uint32_t id, std::uint32_t weekday, std::uint64_t halfHours, std::string key = {},
                            std::uint32_t real = 1) {
  kvo::StandUse u;
  u.optionId = id;
  u.weekday = weekday;
  u.halfHours = halfHours;
  u.key = std::move(key);
  u.real = real;
  return u;
}

class StandTest : public traffictest::TrafficTest {
 protected:
  void SetUp() override {
    TrafficTest::SetUp();
    g_parkAirport = "EDXX";
    g_parkAirportLat = traffictest::kUserLat;
    g_parkAirportLon = traffictest::kUserLon;
    g_parkAirportLoaded = true;
    g_mainWindow.wantedParkCount = 0;
    LOG.set(true);
    // References handed out by ground() and addStatic() stay valid within a test.
    g_liveAircraft.reserve(64);
    g_staticAircraft.reserve(64);
  }
  void TearDown() override {
    g_mainWindow.wantedParkCount = 0;
    g_reservedStand.clear();
    g_learnSoftAllowed = true;
    TrafficTest::TearDown();
  }

  // A stand `eastM` metres east and `northM` north of the airport's position, heading 90.
  static kvo::Stand& stand(std::uint32_t id, const std::string& name, double eastM, double radiusM, double northM = 0.0) {
    kvo::Stand s;
    s.id = id;
    s.name = name;
    s.latitude = traffictest::kUserLat + northM * kMLat;
    s.longitude = traffictest::kUserLon + eastM * kMLon;
    s.heading = 90.0;
    s.radius = radiusM * kM;
    g_parkStands.push_back(s);
    parkStandsChanged();
    return g_parkStands.back();
  }
  static kvo::Stand& standById(std::uint32_t id) { return *findStandById(id); }

  // An active live aircraft of the type on the ground at the place, in the phase.
  static kvo::LiveAircraft& ground(std::uint32_t hexId, const std::string& callsign, const std::string& type,
                                   double eastM, kvo::GroundPhase phase, std::uint32_t standId = 0, double northM = 0.0) {
    kvo::AircraftTexts texts;
    texts.airline = "DLH";
    texts.type = type;
    texts.callsign = callsign;
    texts.registration = "D-" + callsign;
    kvo::AircraftBase base = makeAircraftBase(texts);
    base.internalId = hexId;
    base.standSpeedKt = kvo::liveCategoryValues(base.sizeCategory).standSpeedKt;
    kvo::TrackPoint p;
    p.lat = traffictest::kUserLat + northM * kMLat;
    p.lon = traffictest::kUserLon + eastM * kMLon;
    p.dueTick = g_trafficTick.load();
    kvo::LiveAircraft ac = initLiveAircraft(std::move(base), p, 0.0);
    ac.position.lat = p.lat;
    ac.position.lon = p.lon;
    ac.state = kvo::AircraftState::Active;
    ac.objectId = 100 + hexId % 1000;
    ac.onGround = 1;
    ac.phase = phase;
    ac.standId = standId;
    if (standId != 0) {
      ac.standLat = p.lat;
      ac.standLon = p.lon;
    }
    g_liveAircraft.push_back(std::move(ac));
    return g_liveAircraft.back();
  }
};

}  // namespace standtest
