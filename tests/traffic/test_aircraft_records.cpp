#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "aircraft/aircraft_types.h"
#include "traffic/aircraft_records.h"

using namespace kvo;

namespace {

constexpr double kDeg = 0.017453292519943295;

AircraftTexts texts(std::string airline, std::string type, std::string origin, std::string destination,
                    std::string callsign, std::string registration) {
  AircraftTexts t;
  t.airline = std::move(airline);
  t.type = std::move(type);
  t.origin = std::move(origin);
  t.destination = std::move(destination);
  t.callsign = std::move(callsign);
  t.registration = std::move(registration);
  return t;
}

// One of the two values randomisePercent can give.
void expectRandomised(double actual, double tableDegrees, double percent) {
  const double low = tableDegrees * (1.0 - percent / 100.0) * kDeg;
  const double high = tableDegrees * (1.0 + percent / 100.0) * kDeg;
  EXPECT_TRUE(std::abs(actual - low) < 1e-12 || std::abs(actual - high) < 1e-12)
      << actual << " is neither " << low << " nor " << high;
}

class AircraftRecords : public ::testing::Test {
 protected:
  void SetUp() override { clearAircraftTypes(); }
  void TearDown() override { clearAircraftTypes(); }
};

}  // namespace

// The layout is what the simulator receives as definition 402.
static_assert(offsetof(PositionBlock, lat) == 0);
static_assert(offsetof(PositionBlock, lon) == 8);
static_assert(offsetof(PositionBlock, pitch) == 16);
static_assert(offsetof(PositionBlock, bank) == 24);
static_assert(offsetof(PositionBlock, heading) == 32);
static_assert(offsetof(PositionBlock, altFt) == 40);
static_assert(offsetof(PositionBlock, verticalSpeedFps) == 48);
static_assert(offsetof(PositionBlock, tasKt) == 56);

TEST(AirlineCode, OnlyThreeLettersAndADigitGiveACode) {
  struct Case {
    const char* callsign;
    const char* code;  // nullptr: none
  };
  const Case cases[] = {
      {"ABC1", "ABC"}, {"BAW123", "BAW"}, {"abc123", "ABC"}, {"DlH4Y", "DLH"},
      {"AB12", nullptr}, {"ABC", nullptr}, {"ABCD", nullptr}, {"ABCD1", nullptr},
      {"", nullptr},     {"1ABC", nullptr}, {"A-C1", nullptr}, {"\xC3\x84" "BC1", nullptr},
  };
  for (const Case& c : cases) {
    auto code = airlineCodeOfCallsign(c.callsign);
    if (c.code == nullptr) {
      EXPECT_FALSE(code.has_value()) << c.callsign;
    } else {
      ASSERT_TRUE(code.has_value()) << c.callsign;
      EXPECT_EQ(*code, c.code) << c.callsign;
    }
  }
}

TEST(AirlineCode, AirlineFromCallsignSetsOnlyOnAMatch) {
  AircraftTexts ac = texts("PVT", "A320", "", "", "ezy12ab", "");
  EXPECT_TRUE(airlineFromCallsign(ac));
  EXPECT_EQ(ac.airline, "EZY");
  ac.callsign = "N123AB";
  EXPECT_FALSE(airlineFromCallsign(ac));
  EXPECT_EQ(ac.airline, "EZY");
}

TEST(Placeholder, UsableAtcIds) {
  const std::pair<const char*, bool> cases[] = {
      {"", false}, {"@@@@@@@@", false}, {"ABCDEFGHI", false}, {"ABCDEFGH", true}, {"A", true}, {"@@@@@@@", true},
  };
  for (const auto& [callsign, usable] : cases) {
    AircraftTexts ac;
    ac.callsign = callsign;
    EXPECT_EQ(checkPlaceholder(ac), usable) << '"' << callsign << '"';
  }
}

TEST(TextHelpers, FixedWidthFields) {
  const AircraftTexts none = texts("", "", "", "", "", "");
  EXPECT_EQ(routeText(none), "        ");
  EXPECT_EQ(routeText(texts("", "", "LHR", "", "", "")), "LHR->   ");
  EXPECT_EQ(routeText(texts("", "", "", "JFK", "", "")), "   ->JFK");
  EXPECT_EQ(routeText(texts("", "", "EGLL", "KJFK", "", "")), "EGLL->KJFK");  // never truncated

  EXPECT_EQ(typeAirlineText(none), "        ");
  EXPECT_EQ(typeAirlineText(texts("BA", "A20N", "", "", "", "")), "BA  A20N");
  EXPECT_EQ(callsignText(texts("", "", "", "", "BAW1", "")), "BAW1    ");
  EXPECT_EQ(callsignText(texts("", "", "", "", "BAW123456", "")), "BAW123456");

  const AircraftTexts ac = texts("BAW", "B77W", "LHR", "JFK", "BAW117", "G-STBA");
  EXPECT_EQ(flightText(ac), "BAW117   G-STBA   LHR->JFK");
  EXPECT_EQ(flightText(texts("BAW", "B77W", "", "", "BAW117", "")), "BAW117                    ");
  EXPECT_EQ(aircraftText(ac), "BAW117   G-STBA   LHR->JFK BAW B77W");
  EXPECT_EQ(aircraftLongText(ac), "BAW117   G-STBA BAW B77W");
  EXPECT_EQ(joinPrefixAndLastField(ac), "BAW B77W G-STBA");

  std::string out = "old";
  std::string& ref = aircraftTextInto(ac, out);
  EXPECT_EQ(&ref, &out);
  EXPECT_EQ(out, aircraftText(ac));
}

TEST(EnumTexts, EveryValueAndOutOfRange) {
  const char* states[] = {"buffer", "adding2sim", "active", "liveryrespawn", "removingfromsim"};
  for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(aircraftStateText(static_cast<AircraftState>(i)), states[i]);
  const char* phases[] = {"pushing_back", "pushed_back", "taxi", "take_off", "flying", "parking", "parked", "birth"};
  for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(groundPhaseText(static_cast<GroundPhase>(i)), phases[i]);

  EXPECT_THROW(aircraftStateText(static_cast<AircraftState>(5)), std::out_of_range);
  EXPECT_THROW(groundPhaseText(static_cast<GroundPhase>(8)), std::out_of_range);
  EXPECT_THROW(categoryValues(static_cast<SizeCategory>(6)), std::out_of_range);
  EXPECT_THROW(liveCategoryValues(static_cast<SizeCategory>(0xFFFFFFFFu)), std::out_of_range);
}

TEST_F(AircraftRecords, UnknownTypeIsLightWithTheLightValues) {
  AircraftTexts feed = texts("", "ZZX9", "LHR", "", "GABCD", "G-ABCD");
  feed.coupledCallsign1 = "GABCD";
  feed.coupledSearchDone = 1;
  const AircraftBase base = makeAircraftBase(feed);
  EXPECT_EQ(base.sizeCategory, Light);
  EXPECT_DOUBLE_EQ(base.halfSpanNm, categoryHalfSpanNm(Light));
  EXPECT_EQ(base.flareTicks, 250u);
  EXPECT_EQ(base.groundSlotTicks, 250u);
  EXPECT_EQ(base.rotationTicks, 100u);
  EXPECT_EQ(base.climbOutTicks, 200u);
  EXPECT_NEAR(base.turnRateBase, 0.15 * kDeg, 1e-15);
  expectRandomised(base.rotationPitch, -9.0, 2.5);
  expectRandomised(base.climbPitch, -15.0, 5.0);
  // Texts and flag copied; everything else zero.
  EXPECT_EQ(base.type, "ZZX9");
  EXPECT_EQ(base.origin, "LHR");
  EXPECT_EQ(base.callsign, "GABCD");
  EXPECT_EQ(base.coupledCallsign1, "GABCD");
  EXPECT_EQ(base.registration, "G-ABCD");
  EXPECT_EQ(base.coupledSearchDone, 1u);
  EXPECT_EQ(base.turnRate, 0.0);
  EXPECT_EQ(base.climbStep, 0.0);
  EXPECT_EQ(base.internalId, 0u);
  EXPECT_TRUE(base.liveryTitle.empty());
}

TEST_F(AircraftRecords, KnownTypeTakesItsSpanAndCategory) {
  addAircraftType("B744", 64.4, 1u << Heavy);
  const AircraftBase base = makeAircraftBase(texts("BAW", "B744", "", "", "BAW9", ""));
  EXPECT_EQ(base.sizeCategory, Heavy);
  EXPECT_NEAR(base.halfSpanNm, 64.4 / 2.0 / 1852.0, 1e-12);
  EXPECT_EQ(base.flareTicks, 450u);
  EXPECT_EQ(base.climbOutTicks, 400u);
  expectRandomised(base.rotationPitch, -5.0, 2.5);
  expectRandomised(base.climbPitch, -12.5, 5.0);
}

TEST_F(AircraftRecords, FromAnotherAircraftOnlyTextsAreTaken) {
  AircraftBase other = makeAircraftBase(texts("DLH", "ZZX9", "", "", "DLH1", "D-ABCD"));
  other.liveryTitle = "some livery";
  other.cargo = 1;
  other.internalId = 77;
  const AircraftBase copy = makeAircraftBase(other);
  EXPECT_EQ(copy.callsign, "DLH1");
  EXPECT_EQ(copy.registration, "D-ABCD");
  EXPECT_TRUE(copy.liveryTitle.empty());
  EXPECT_EQ(copy.cargo, 0);
  EXPECT_EQ(copy.internalId, 0u);
}

TEST_F(AircraftRecords, MoveLeavesSourceTextsEmptyAndCopiesTheRest) {
  AircraftBase source = makeAircraftBase(texts("AFR", "ZZX9", "CDG", "NCE", "AFR7", "F-GKXA"));
  source.liveryTitle = "title";
  source.internalId = 123456;
  source.reverseThrust = 1;
  source.staticCgFt = 7.5;
  AircraftBase target;
  moveAircraftBase(target, source);
  EXPECT_EQ(target.callsign, "AFR7");
  EXPECT_EQ(target.destination, "NCE");
  EXPECT_EQ(target.liveryTitle, "title");
  EXPECT_EQ(target.internalId, 123456u);
  EXPECT_EQ(target.reverseThrust, 1);
  EXPECT_EQ(target.staticCgFt, 7.5);
  for (const std::string* s : {&source.airline, &source.type, &source.origin, &source.destination, &source.callsign,
                               &source.coupledCallsign1, &source.coupledCallsign2, &source.registration}) {
    EXPECT_TRUE(s->empty());
  }
  moveAircraftBase(target, target);  // self-move keeps the record
  EXPECT_EQ(target.callsign, "AFR7");
}

TEST_F(AircraftRecords, StaticAircraftStartsWithNothingSent) {
  AircraftBase base = makeAircraftBase(texts("EZY", "ZZX9", "", "", "EZY1*", "G-EZAA"));
  base.internalId = 12;
  const StaticAircraft ac = initStaticAircraft(std::move(base), 42, StandPosition{51.47, -0.45, 1.5}, 1);
  EXPECT_EQ(ac.throttleIndex, 5u);
  EXPECT_EQ(ac.flapsIndex, 4u);
  EXPECT_EQ(ac.state, AircraftState::Buffer);
  EXPECT_EQ(ac.objectId, 0u);
  EXPECT_EQ(ac.standId, 42u);
  EXPECT_EQ(ac.standLat, 51.47);
  EXPECT_EQ(ac.standLon, -0.45);
  EXPECT_EQ(ac.standHeading, 1.5);
  EXPECT_EQ(ac.cargoStand, 1);
  EXPECT_EQ(ac.removeRequested + ac.finished + ac.dropped, 0);
  EXPECT_EQ(ac.callsign, "EZY1*");
  EXPECT_FALSE(ac.isLive());
  EXPECT_TRUE(base.callsign.empty());
}

TEST_F(AircraftRecords, LiveAircraftStartValues) {
  AircraftBase base = makeAircraftBase(texts("", "ZZX9", "", "", "N12", "N12"));
  base.internalId = 10001;
  TrackPoint first;
  first.lat = 40.0;
  first.dueTick = 5'000'000'000;  // beyond 32 bits
  const LiveAircraft ac = initLiveAircraft(std::move(base), first, 1.7e9);
  EXPECT_TRUE(ac.isLive());
  ASSERT_EQ(ac.trackPoints.size(), 1u);
  EXPECT_EQ(ac.trackPoints.front().dueTick, 5'000'000'000);
  EXPECT_EQ(ac.feedTime, 1.7e9);
  EXPECT_EQ(ac.state, AircraftState::Buffer);
  EXPECT_EQ(ac.phase, GroundPhase::Birth);
  EXPECT_EQ(ac.previousPhase, GroundPhase::Birth);
  EXPECT_EQ(ac.throttleIndex, 5u);
  EXPECT_EQ(ac.flapsIndex, 4u);
  EXPECT_FALSE(ac.curve.isSet());
  EXPECT_TRUE(std::isnan(ac.curve.midEast));
  EXPECT_EQ(ac.earlyTolerance, 1000);
  EXPECT_EQ(ac.lateTolerance, 1000);
  EXPECT_EQ(ac.takeOffCounter, 1);
  EXPECT_EQ(ac.aglFt, 2500.0);
  EXPECT_EQ(ac.referenceHeading, 0.0);
  EXPECT_EQ(ac.standRouteState, 0);
  EXPECT_EQ(ac.position.lat, 0.0);
  EXPECT_EQ(ac.parkedSince.time_since_epoch().count(), 0);
}

TEST(Matching, SameKeyPairAndRecordMatches) {
  const AircraftTexts ac = texts("BAW", "A320", "", "", "BAW12", "G-EUUA");
  EXPECT_TRUE(sameKeyPair(ac, texts("BAW", "A320", "X", "Y", "Z", "")));
  EXPECT_FALSE(sameKeyPair(ac, texts("BAW", "A321", "", "", "BAW12", "")));

  StandUse use{"EZY", "A319", "G-EZAA", "EZY12", "EZY34", 1, 3, 1, 0, 1};
  struct Case {
    const char* what;
    std::uint32_t optionId;
    std::uint32_t real;
    const char* key;
    const char* airline;
    const char* type;
    bool expected;
  };
  const Case cases[] = {
      {"callsign", 3, 1, "EZY12", "EZY", "A319", true},
      {"second callsign", 3, 1, "EZY34", "EZY", "A319", true},
      {"airline and type", 3, 1, "XXX1", "BAW", "A320", true},
      {"nothing", 3, 1, "XXX1", "BAW", "A321", false},
      {"not an option", 0, 1, "EZY12", "BAW", "A320", false},
      {"soft use", 3, 0, "EZY12", "BAW", "A320", false},
  };
  for (const Case& c : cases) {
    use.optionId = c.optionId;
    use.real = c.real;
    use.airline = c.airline;
    use.type = c.type;
    EXPECT_EQ(recordMatches(c.key, ac, use), c.expected) << c.what;
  }
}

TEST(Matching, EmptyKeyNeverMatchesByCallsign) {
  const AircraftTexts ac = texts("BAW", "A320", "", "", "", "");
  const StandUse use{"EZY", "A319", "G-EZAA", "EZY12", "", 1, 3, 1, 0, 1};
  EXPECT_FALSE(recordMatches("", ac, use));
}

TEST(SimRecords, CreationPositionFromBlock) {
  PositionBlock block{51.0, -1.0, -0.1, 0.2, 3.141592653589793, 1200.0, 10.0, 250.0};
  const InitPosition init = initPositionFromBlock(block);
  EXPECT_EQ(init.latitude, 51.0);
  EXPECT_EQ(init.longitude, -1.0);
  EXPECT_EQ(init.altitude, 1200.0);
  EXPECT_NEAR(init.pitch, -5.729577951308232, 1e-12);
  EXPECT_NEAR(init.bank, 11.459155902616464, 1e-12);
  EXPECT_NEAR(init.heading, 180.0, 1e-12);
  EXPECT_EQ(init.onGround, 0u);
  EXPECT_EQ(init.airspeed, 0u);
}
