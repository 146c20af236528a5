// Traffic line decoding, the feed gate and bound, and the callsign collection.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "links/test_udp_support.h"

namespace {

using kvo::FeedRecord;

constexpr double kRefLat = 50.0;
constexpr double kRefLon = 8.5;
constexpr double kLineLat = 50.1;  // about 7 nm from the reference
constexpr double kLineLon = 8.6;

using readertest::trafficLine;

class TrafficLineTest : public readertest::ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    reader_.setReferencePosition(kRefLat, kRefLon);
    setTrafficFeedOpen(true);
  }
  void TearDown() override {
    reader_.resetForTests();
    ReaderTest::TearDown();
  }

  // Decodes one datagram as the receive loop hands it over.
  void decode(const std::string& datagram) { reader_.handleDatagram(datagram); }

  std::vector<FeedRecord> takeFeed() {
    std::lock_guard lock(g_trafficFeedMutex);
    std::vector<FeedRecord> out;
    while (!g_trafficFeed.empty()) {
      out.push_back(std::move(g_trafficFeed.front()));
      g_trafficFeed.pop_front();
    }
    return out;
  }

  kvo::TrafficReader reader_;
};

struct LineCase {
  const char* name;
  std::vector<std::pair<std::size_t, std::string>> changes;
  std::optional<double> elevationFt;  // the park airport's elevation, when known
  std::optional<double> parkDistanceNm;  // a park airport this far north of the line's position
  // Empty: a record is expected (and checked); "-": dropped without a word; else the log line.
  std::string outcome;
  std::function<void(const FeedRecord&)> check = [](const FeedRecord&) {};
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class TrafficLineCases : public TrafficLineTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(TrafficLineCases, DecodesAsTheRulesSay) {
  const LineCase& c = GetParam();
  kvo::setUtcNowForTests(std::chrono::system_clock::from_time_t(1733550000));  // the lines' time, give or take
  if (c.elevationFt) reader_.setReferenceElevation(*c.elevationFt);
  if (c.parkDistanceNm) reader_.setParkAirportPosition(kLineLat + *c.parkDistanceNm / 60.0, kLineLon);
  decode(trafficLine(c.changes));
  const auto records = takeFeed();
  if (c.outcome.empty()) {
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(logLines().empty());
    c.check(records.front());
  } else {
    EXPECT_TRUE(records.empty());
    if (c.outcome == "-") {
      EXPECT_TRUE(logLines().empty());
    } else {
      EXPECT_EQ(logLines(), std::vector<std::string>{c.outcome});
    }
  }
}

const std::string kDropped = "-";

INSTANTIATE_TEST_SUITE_P(
    Rules, TrafficLineCases,
    ::testing::Values(
        LineCase{"WholeRecord", {}, {}, {}, "",
                 [](const FeedRecord& r) {
                   EXPECT_EQ(r.hexId, 4840203u);
                   EXPECT_DOUBLE_EQ(r.position.lat, 50.1);
                   EXPECT_DOUBLE_EQ(r.position.lon, 8.6);
                   EXPECT_DOUBLE_EQ(r.position.altFt, 12000.0);
                   EXPECT_DOUBLE_EQ(r.position.verticalSpeed, -1200.0);
                   EXPECT_DOUBLE_EQ(r.position.trackDeg, 245.5);
                   EXPECT_DOUBLE_EQ(r.position.groundSpeedKt, 280.0);
                   EXPECT_DOUBLE_EQ(r.position.tasKt, 290.0);
                   EXPECT_EQ(r.position.airborne, 1);
                   EXPECT_EQ(r.position.stationary, 0);
                   EXPECT_EQ(r.position.trueHeadingGiven, 1);
                   EXPECT_NEAR(*r.position.trueHeading, 246.0 * 0.017453292519943295, 1e-12);
                   EXPECT_FALSE(r.position.roll);
                   EXPECT_DOUBLE_EQ(r.timestamp, 1733550000.25);
                   EXPECT_EQ(r.callsign, "DLH123");
                   EXPECT_EQ(r.type, "A320");
                   EXPECT_EQ(r.registration, "D-AIZZ");
                   EXPECT_EQ(r.origin, "FRA");
                   EXPECT_EQ(r.destination, "LHR");
                   EXPECT_TRUE(r.airline.empty());
                   EXPECT_TRUE(r.coupledCallsign1.empty());
                   EXPECT_EQ(r.coupledSearchDone, 0u);
                 }},
        // Ids
        LineCase{"Id10000IsStatic", {{1, "10000"}}, {}, {}, kDropped},
        LineCase{"Id10001IsLive", {{1, "10001"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.hexId, 10001u); }},
        LineCase{"IdReadsLeadingDigits", {{1, "12ab"}}, {}, {}, kDropped},
        LineCase{"IdWithoutDigits", {{1, "abc"}}, {}, {}, "exception in processLineSub: hexid incorrectabc"},
        LineCase{"IdBeyondU32", {{1, "4294967296"}}, {}, {},
                 "exception in processLineSub: hexid incorrect4294967296"},
        // Position
        LineCase{"PositionAtZero", {{2, "0.00005"}, {3, "-0.00008"}}, {}, {},
                 "exception in processLineSub: invalid lalo: 0.000050,-0.000080"},
        LineCase{"LatitudeBeyondPole", {{2, "90.5"}}, {}, {}, "exception in processLineSub: invalid lalo: 90.500000,8.600000"},
        LineCase{"LatitudeNotANumber", {{2, "N50"}}, {}, {}, "exception in processLineSub: lat:N50"},
        LineCase{"LatitudeNan", {{2, "nan"}}, {}, {}, "exception in processLineSub: lat:nan"},
        LineCase{"OutsideTheRadius", {{2, "51.0"}}, {}, {}, kDropped},
        // Texts
        LineCase{"Registration12Chars", {{11, "ABCDEFGHIJKL"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.registration, "ABCDEFGHIJKL"); }},
        LineCase{"Registration13Chars", {{11, "ABCDEFGHIJKLM"}}, {}, {}, kDropped},
        LineCase{"NullTexts", {{11, "null"}, {12, "null"}, {13, "null"}}, {}, {}, "",
                 [](const FeedRecord& r) {
                   EXPECT_TRUE(r.registration.empty());
                   EXPECT_TRUE(r.origin.empty());
                   EXPECT_TRUE(r.destination.empty());
                 }},
        LineCase{"CallsignWithAtSign", {{9, "@@@@"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_TRUE(r.callsign.empty()); }},
        LineCase{"AtSignAndNoRegistration", {{9, "AB@C"}, {11, ""}}, {}, {}, kDropped},
        LineCase{"MarkerCallsign1", {{9, "ERARMTR0"}}, {}, {}, kDropped},
        LineCase{"MarkerCallsign2", {{9, "AIRPORT1"}}, {}, {}, kDropped},
        LineCase{"TypeNull", {{10, "null"}}, {}, {}, kDropped},
        LineCase{"TypeZero", {{10, "0"}}, {}, {}, kDropped},
        LineCase{"TypeZZZZ", {{10, "ZZZZ"}}, {}, {}, kDropped},
        LineCase{"GliderCategory", {{28, "B1"}}, {}, {}, kDropped},
        LineCase{"SpecialType", {{10, "BALL"}, {28, "A1"}}, {}, {}, kDropped},
        // Ground decision
        LineCase{"LowAndSlowAtKnownElevation", {{4, "30"}, {8, "100"}}, 0.0, 0.0, "",
                 [](const FeedRecord& r) {
                   EXPECT_EQ(r.position.altFt, 0.0);
                   EXPECT_EQ(r.position.airborne, 0);
                   EXPECT_FALSE(r.position.roll);
                 }},
        LineCase{"LowAndSlowElevationUnknown", {{4, "30"}, {8, "100"}}, {}, 0.0, "",
                 [](const FeedRecord& r) {
                   EXPECT_EQ(r.position.altFt, 30.0);
                   EXPECT_EQ(r.position.airborne, 1);
                 }},
        LineCase{"SlowAtHighAltitude", {{4, "20000"}, {8, "30"}}, {}, 0.0, "",
                 [](const FeedRecord& r) {
                   EXPECT_EQ(r.position.altFt, 0.0);
                   EXPECT_EQ(r.position.airborne, 0);
                 }},
        LineCase{"Height90At80Knots", {{4, "590"}, {8, "80"}}, 500.0, 0.0, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.position.airborne, 0); }},
        LineCase{"Height91At80Knots", {{4, "591"}, {8, "80"}}, 500.0, 0.0, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.position.airborne, 1); }},
        // The ground decision looks at the height only below 14000 ft (a high airport's traffic).
        LineCase{"LowAboveAHighAirport", {{4, "13990"}, {8, "100"}}, 13980.0, 0.0, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.position.airborne, 0); }},
        LineCase{"AboveTheGroundCheckCeiling", {{4, "14000"}, {8, "100"}}, 13990.0, 0.0, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.position.airborne, 1); }},
        LineCase{"NegativeAltitude", {{4, "-50"}, {8, "10"}}, {}, 0.0, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.position.altFt, 0.0); }},
        LineCase{"GroundLine6NmFromParkAirport", {{4, "0"}, {8, "10"}}, {}, 6.0, kDropped},
        LineCase{"GroundLine4NmFromParkAirport", {{4, "0"}, {8, "10"}}, {}, 4.0, ""},
        LineCase{"GroundLineWithoutParkAirport", {{4, "0"}, {8, "10"}}, {}, {}, kDropped},
        // Track, true heading, roll, airspeed
        LineCase{"TrueHeadingZeroAndNoTrack", {{25, "0"}, {7, "0"}}, {}, {}, "",
                 [](const FeedRecord& r) {
                   EXPECT_DOUBLE_EQ(*r.position.trueHeading, 6.283185307179586);
                   EXPECT_DOUBLE_EQ(r.position.trackDeg, 360.0);
                 }},
        LineCase{"EmptyTrackTakesTrueHeading", {{7, ""}, {25, "90"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_NEAR(r.position.trackDeg, 90.0, 1e-9); }},
        LineCase{"TrueHeading361", {{25, "361"}}, {}, {}, "exception in processLineSub: trueheading: 361.00"},
        LineCase{"NegativeTrueHeading", {{25, "-5"}}, {}, {}, "",
                 [](const FeedRecord& r) {
                   EXPECT_FALSE(r.position.trueHeading);
                   EXPECT_EQ(r.position.trueHeadingGiven, 0);
                 }},
        LineCase{"TrueHeadingOnlyFromAdsb", {{17, "mlat"}, {25, "garbage"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_FALSE(r.position.trueHeading); }},
        LineCase{"TrackUnreadable", {{7, "x1"}}, {}, {}, "exception in processLineSub: track incorrect x1"},
        LineCase{"Roll15Airborne", {{23, "15"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_NEAR(*r.position.roll, -0.2618, 1e-4); }},
        LineCase{"Roll15OnGround", {{23, "15"}, {4, "0"}, {8, "10"}}, {}, 0.0, "",
                 [](const FeedRecord& r) { EXPECT_FALSE(r.position.roll); }},
        LineCase{"RollZeroIsNone", {{23, "0"}}, {}, {}, "", [](const FeedRecord& r) { EXPECT_FALSE(r.position.roll); }},
        LineCase{"RollUnreadable", {{23, "left"}}, {}, {}, "exception in processLineSub: roll:left"},
        LineCase{"TasDefaultAt3000", {{20, "-1"}, {4, "3000"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.position.tasKt, 220.0); }},
        LineCase{"TasDefaultAt30000", {{20, "-1"}, {4, "30000"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.position.tasKt, 430.0); }},
        LineCase{"TasDefaultOnGround", {{20, "-1"}, {4, "0"}, {8, "10"}}, {}, 0.0, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.position.tasKt, 180.0); }},
        LineCase{"TasUnreadable", {{20, "fast"}}, {}, {}, "exception in processLineSub: TAS incorrectfast"},
        LineCase{"VerticalSpeedUnreadable", {{5, "+5"}}, {}, {}, "exception in processLineSub: vs:+5"},
        LineCase{"GroundSpeedInfinite", {{8, "inf"}}, {}, {}, "exception in processLineSub: gs:inf"},
        LineCase{"TimestampUnreadable", {{14, " 1733550000"}}, {}, {}, "exception in processLineSub: timestamp: 1733550000"},
        // Only time stamps of this century are feed times.
        LineCase{"TimestampHuge", {{14, "1e300"}}, {}, {}, "exception in processLineSub: timestamp:1e300"},
        LineCase{"TimestampBefore2000", {{14, "946684799.5"}}, {}, {}, "exception in processLineSub: timestamp:946684799.5"},
        LineCase{"TimestampFrom2100", {{14, "4102444800"}}, {}, {}, "exception in processLineSub: timestamp:4102444800"},
        LineCase{"TimestampFirstOf2000", {{14, "946684800"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.timestamp, 946684800.0); }},
        // This PC's clock plays no part: a clock set hours wrong is common.
        LineCase{"TimestampHoursAheadOfTheClock", {{14, "1733571600"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.timestamp, 1733571600.0); }},
        LineCase{"TimestampHoursBehindTheClock", {{14, "1733528400"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.timestamp, 1733528400.0); }},
        LineCase{"NumbersIgnoreTheirTail", {{5, "-1200fpm"}, {20, "290kt"}}, {}, {}, "",
                 [](const FeedRecord& r) {
                   EXPECT_EQ(r.position.verticalSpeed, -1200.0);
                   EXPECT_EQ(r.position.tasKt, 290.0);
                 }}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// Texts go on to the simulator, the log and the airport files, numbers to the movement and the
// simulator: a line with a text that is not clean or a number no aircraft has is refused whole.
const std::string kRefused = "exception in processLineSub: ";
INSTANTIATE_TEST_SUITE_P(
    TextsAndRanges, TrafficLineCases,
    ::testing::Values(
        LineCase{"CallsignNotUtf8", {{9, "AAL7\xFF"}}, {}, {}, kRefused + "callsign not clean text: AAL7\\xFF"},
        LineCase{"CallsignWithNul", {{9, std::string("DLH\0X1", 6)}}, {}, {}, kRefused + "callsign not clean text: DLH\\x00X1"},
        LineCase{"CallsignWithLineFeed", {{9, "DLH\n===> parks"}}, {}, {},
                 kRefused + "callsign not clean text: DLH\\x0A===> parks"},
        LineCase{"RegistrationWithC1Control", {{11, "D-\xC2\x85X"}}, {}, {},
                 kRefused + "registration not clean text: D-\\xC2\\x85X"},
        LineCase{"TypeOverlongUtf8", {{10, "A\xC0\xAF"}}, {}, {}, kRefused + "type not clean text: A\\xC0\\xAF"},
        LineCase{"OriginWithTab", {{12, "ED\tDF"}}, {}, {}, kRefused + "origin not clean text: ED\\x09DF"},
        LineCase{"DestinationWithDel", {{13, "LHR\x7F"}}, {}, {}, kRefused + "destination not clean text: LHR\\x7F"},
        LineCase{"CleanNonAsciiTexts", {{9, "\xC3\x96LH1"}, {13, "\xE2\x82\xAC"}}, {}, {}, "",
                 [](const FeedRecord& r) { EXPECT_EQ(r.callsign, "\xC3\x96LH1"); }},
        LineCase{"Altitude1e300", {{4, "1e300"}}, {}, {}, kRefused + "altitude out of range: 1e300"},
        LineCase{"Altitude100000", {{4, "100000"}}, {}, {}, ""},
        LineCase{"Altitude100001", {{4, "100001"}}, {}, {}, kRefused + "altitude out of range: 100001"},
        LineCase{"AltitudeMinus2000", {{4, "-2000"}, {8, "10"}}, {}, 0.0, ""},
        LineCase{"AltitudeMinus2001", {{4, "-2001"}, {8, "10"}}, {}, 0.0, kRefused + "altitude out of range: -2001"},
        LineCase{"GroundSpeed2000", {{8, "2000"}}, {}, {}, ""},
        LineCase{"GroundSpeed2001", {{8, "2001"}}, {}, {}, kRefused + "gs out of range: 2001"},
        LineCase{"GroundSpeedNegative", {{8, "-1"}}, {}, {}, kRefused + "gs out of range: -1"},
        LineCase{"TasBeyond", {{20, "1e300"}}, {}, {}, kRefused + "TAS out of range: 1e300"},
        LineCase{"TasNegativeNotTheDefault", {{20, "-2"}}, {}, {}, kRefused + "TAS out of range: -2"},
        LineCase{"VerticalSpeedLimits", {{5, "-40000"}}, {}, {}, ""},
        LineCase{"VerticalSpeedBeyond", {{5, "40001"}}, {}, {}, kRefused + "vs out of range: 40001"},
        LineCase{"TrackMinus360", {{7, "-360"}}, {}, {}, ""},
        LineCase{"TrackBeyond", {{7, "1e300"}}, {}, {}, kRefused + "track out of range: 1e300"},
        LineCase{"Roll180", {{23, "180"}}, {}, {}, ""},
        LineCase{"RollBeyond", {{23, "-1e300"}}, {}, {}, kRefused + "roll out of range: -1e300"},
        // Roll is not read for a ground line, so its value does not matter there.
        LineCase{"RollBeyondOnGround", {{23, "1e300"}, {4, "0"}, {8, "10"}}, {}, 0.0, ""}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST_F(TrafficLineTest, UnreadableAltitudeQuotesTheWholeDatagram) {
  const std::string line = trafficLine({{4, "high"}});
  decode(line);
  EXPECT_TRUE(takeFeed().empty());
  EXPECT_EQ(logLines(), std::vector<std::string>{"exception in processLineSub: altitude high incorrect, from: " + line});
}

TEST_F(TrafficLineTest, GroundVehiclesLeaveNoTrace) {
  decode(trafficLine({{9, "FOLLOW VEH"}, {1, "abc"}}));
  EXPECT_TRUE(takeFeed().empty());
  EXPECT_TRUE(logLines().empty());
  EXPECT_EQ(g_feedEpochTime.load(), 0.0);
}

TEST_F(TrafficLineTest, ShortLinesNeverReadPastTheirLastField) {
  // Every cut of a good line short of 29 fields, as separate datagrams: none is read beyond its end
  // (ASan watches the views). The log shows the first; the others of the same 10 s are counted.
  const auto start = std::chrono::system_clock::now();
  kvo::setUtcNowForTests(start);
  const std::string line = trafficLine();
  std::size_t commas = 0;
  for (std::size_t i = 0; i < line.size() && commas < 28; ++i) {
    if (line[i] == ',') {
      ++commas;
      if (commas == 28) kvo::setUtcNowForTests(start + std::chrono::seconds(10));
      decode(line.substr(0, i));  // commas fields
    }
  }
  EXPECT_TRUE(takeFeed().empty());
  EXPECT_EQ(logLines(), (std::vector<std::string>{"exception in processLineSub: line of 1 field, at least 29 needed",
                                                  "26 more \"exception in processLineSub\" lines in 10 s",
                                                  "exception in processLineSub: line of 28 fields, at least 29 needed"}));
  // 29 fields are enough, and a trailing ',' counts as an empty field.
  std::string cut = line;
  std::size_t seen = 0;
  for (std::size_t i = 0; i < cut.size(); ++i) {
    if (cut[i] == ',' && ++seen == 29) {
      cut.resize(i);
      break;
    }
  }
  decode(cut);
  EXPECT_EQ(takeFeed().size(), 1u);
}

TEST_F(TrafficLineTest, TimestampMovesTheFeedTimeAlsoForDroppedLines) {
  decode(trafficLine({{14, "1733550123.5"}, {1, "500"}}));
  EXPECT_TRUE(takeFeed().empty());
  EXPECT_EQ(g_feedEpochTime.load(), 1733550123.5);
  // A time stamp of no plausible time is not taken.
  for (const char* wrong : {"1e300", "-5", "0", "1e12"}) {
    decode(trafficLine({{14, wrong}}));
    EXPECT_EQ(g_feedEpochTime.load(), 1733550123.5) << wrong;
  }
}

// The feed keeps a time of its own, the time its aircraft agree on: a line stamped more than 300 s
// ahead of it is refused (no record); one aircraft's wild line or pair, or another's stale lines,
// neither move it nor get a true line refused; a jump of the whole feed is followed.
struct FeedTimeStep {
  std::uint32_t id;  // 0: the reader reset (a new feed) instead of a line
  double seconds;    // the line's time stamp after kFeedStart
  bool taken;
  double feed;  // the feed's time after the line, after kFeedStart
};
struct FeedTimeCase {
  const char* name;
  std::vector<FeedTimeStep> steps;
};

TEST_F(TrafficLineTest, AFeedKeepsTheTimeItsAircraftAgreeOn) {
  constexpr double kFeedStart = 1733550000.0;
  constexpr double kH = 3600.0;
  constexpr double k6H = 6 * kH;
  g_realTrafficOnThisPc = true;  // every datagram is decoded, also a repeated one
  // Three aircraft agree on the time 4 (the median of their latest lines 3, 4 and 5).
  const std::vector<FeedTimeStep> agreed{{4840001, 0, true, 0}, {4840002, 1, true, 0}, {4840003, 2, true, 0},
                                         {4840001, 3, true, 3}, {4840002, 4, true, 4},  {4840003, 5, true, 4}};
  auto after = [&](std::vector<FeedTimeStep> more) {
    std::vector<FeedTimeStep> steps = agreed;
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
  };
  const std::vector<FeedTimeCase> cases{
      {"WithinReachOfTheFeed", after({{4840004, 304, true, 4}, {4840001, 6, true, 5}})},
      {"BeyondReachOfTheFeed", after({{4840004, 304.5, false, 4}, {4840001, 6, true, 5}})},
      {"AWildPairOfOneAircraftAmongOthers",
       after({{4840003, kH, false, 4}, {4840003, kH + 1, false, 4}, {4840003, 6, true, 4}, {4840001, 7, true, 7},
              {4840002, 8, true, 8}, {4840003, kH + 2, false, 8}})},
      // Half the votes wild: lines are still judged by the true half.
      {"AWildPairBesideOneAircraft",
       {{4840001, 0, true, 0}, {4840001, 1, true, 1}, {4840009, 2, true, 1}, {4840009, kH, false, 1},
        {4840009, kH + 1, false, kH + 1}, {4840001, 2, true, kH + 1}, {4840001, kH + 2, false, kH + 1}}},
      // Half the votes stale: the true aircraft's lines are still taken and the time stays.
      {"StaleLinesBesideOneAircraft",
       {{4840001, 0, true, 0}, {4840001, 1, true, 1}, {4840009, -400, true, 1}, {4840009, -399, true, 1},
        {4840009, -398, true, 1}, {4840009, -397, true, 1}, {4840001, 2, true, 2}, {4840009, -396, true, 2},
        {4840001, 4, true, 4}}},
      {"AJumpOfTheWholeFeedIsFollowed",
       after({{4840001, k6H, false, 4}, {4840002, k6H + 1, false, 4}, {4840003, k6H + 2, false, 4},
              {4840001, k6H + 3, false, 5}, {4840002, k6H + 4, false, k6H + 3}, {4840003, k6H + 5, true, k6H + 4}})},
      {"AJumpBackOfTheWholeFeedIsFollowed",
       after({{4840001, -k6H, true, 4}, {4840001, -k6H + 1, true, 4}, {4840002, -k6H + 2, true, 4},
              {4840002, -k6H + 3, true, -k6H + 3}, {4840003, 6, true, -k6H + 3}})},
      // Until its aircraft agree, the first line read stands in for the feed's time and no line is
      // refused: a wild first line holds no true one back (the traffic engine refuses its record).
      {"AWildFirstLineFromThePast",
       {{4840009, -k6H, true, -k6H}, {4840001, 0, true, -k6H}, {4840001, 1, true, 1}, {4840009, -k6H + 1, true, 1},
        {4840001, 2, true, 2}}},
      {"AWildFirstLineFromTheFuture",
       {{4840009, k6H, true, k6H}, {4840001, 0, true, k6H}, {4840002, 1, true, k6H}, {4840001, 2, true, 2},
        {4840002, 3, true, 3}, {4840009, k6H + 5, true, 3}, {4840001, 4, true, 4}}},
      {"TheReaderResetStartsANewFeed",
       {{4840001, 0, true, 0}, {4840001, 1, true, 1}, {0, 0, true, 0}, {4840001, k6H, true, k6H},
        {4840001, k6H + 1, true, k6H + 1}}},
  };
  kvo::setUtcNowForTests(std::chrono::system_clock::from_time_t(1733550000));  // one period of the log's summing
  for (const FeedTimeCase& c : cases) {
    SCOPED_TRACE(c.name);
    g_feedEpochTime.store(0.0);  // the reader reset
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const FeedTimeStep& step = c.steps[i];
      if (step.id == 0) {
        g_feedEpochTime.store(0.0);
        continue;
      }
      const double stamp = kFeedStart + step.seconds;
      decode(trafficLine({{1, std::to_string(step.id)}, {14, fmt::format("{}", stamp)}}));
      EXPECT_EQ(takeFeed().size(), step.taken ? 1u : 0u) << "line " << i;
      EXPECT_EQ(g_feedEpochTime.load() - kFeedStart, step.feed) << "line " << i;
    }
  }
  EXPECT_EQ(logLines().front(), "exception in processLineSub: timestamp more than 300 s ahead of the feed: 1733550304.5");
}

// A sender of bad lines at the datagram rate (an older line format, say) adds one line and one
// count per kind and 10 s to the log, however many datagrams it sends.
TEST_F(TrafficLineTest, AFloodOfBadLinesIsSummedUpPerPeriod) {
  g_realTrafficOnThisPc = true;  // every datagram is decoded, also a repeated one
  const auto start = std::chrono::system_clock::now();
  kvo::setUtcNowForTests(start);
  const std::string bad = trafficLine({{4, "high"}});
  for (int i = 0; i < 5000; ++i) decode(bad);
  reader_.handleDatagram(std::string(kvo::kReceiveBufferSize, 'x'));  // another kind: its own line
  EXPECT_EQ(logLines().size(), 2u);
  kvo::setUtcNowForTests(start + std::chrono::seconds(9));
  for (int i = 0; i < 5000; ++i) decode(bad);
  reader_.badDatagramLines.flush();  // the period is not over: nothing yet
  EXPECT_EQ(logLines().size(), 2u);
  kvo::setUtcNowForTests(start + std::chrono::seconds(10));
  decode(bad);
  const auto log = logLines();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], "9999 more \"exception in processLineSub\" lines in 10 s");
  EXPECT_EQ(log[3], log[0]);
  // A quoted datagram is cut, so that even the longest makes a short line.
  reader_.badDatagramLines.reset();
  decode(trafficLine({{4, "high"}, {30, std::string(2000, 'w')}}));
  const std::string cut = logLines().back();
  EXPECT_LT(cut.size(), 1200u);
  EXPECT_TRUE(cut.ends_with(fmt::format("... ({} bytes)", std::string_view("altitude high incorrect, from: ").size() +
                                                               bad.size() + 2000 - 1)))
      << cut;
}

TEST_F(TrafficLineTest, ControlCharactersOfADatagramNeverSplitTheLogLine) {
  const std::string line = trafficLine({{4, "x\nforged line\r"}});
  decode(line);
  const auto log = logLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log.front().find("altitude x\\x0Aforged line\\x0D incorrect"), std::string::npos);
}

TEST_F(TrafficLineTest, FeedGateAndDueTick) {
  g_trafficTick.store(123456);
  decode(trafficLine());
  auto records = takeFeed();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().position.dueTick, 123456 + 3000);

  // A record made while the feed is closed is dropped without a word.
  setTrafficFeedOpen(false);
  decode(trafficLine({{1, "4840204"}}));
  EXPECT_TRUE(takeFeed().empty());
  EXPECT_TRUE(logLines().empty());
}

// The feed holds 5000 records (25 s of the tick's intake); beyond, the oldest go.
TEST_F(TrafficLineTest, FullFeedDropsTheOldestAndLogsOncePerBurst) {
  constexpr std::size_t kCapacity = 5000;
  constexpr std::size_t kOver = 3;
  for (std::size_t i = 0; i < kCapacity + kOver; ++i) {
    FeedRecord record;
    record.hexId = static_cast<std::uint32_t>(10001 + i);
    ASSERT_TRUE(appendToTrafficFeed(std::move(record)));
  }
  {
    std::lock_guard lock(g_trafficFeedMutex);
    ASSERT_EQ(g_trafficFeed.size(), kCapacity);
    for (std::size_t i = 0; i < g_trafficFeed.size(); ++i) {  // oldest first, across the ring's wrap
      ASSERT_EQ(g_trafficFeed[i].hexId, 10001u + kOver + i);
    }
    // The tick takes two records.
    g_trafficFeed.pop_front();
    g_trafficFeed.pop_front();
  }
  EXPECT_EQ(trafficFeedPendingDrops(), kOver);
  EXPECT_TRUE(logLines().empty());  // the burst is still on
  appendToTrafficFeed(FeedRecord{});
  appendToTrafficFeed(FeedRecord{});
  EXPECT_EQ(logLines(),
            std::vector<std::string>{"===> Traffic feed full: 3 records dropped from the aircraft holding the most"});
  EXPECT_EQ(trafficFeedPendingDrops(), 0u);

  // A burst still running when the feed closes is reported then.
  appendToTrafficFeed(FeedRecord{});
  setTrafficFeedOpen(false);
  EXPECT_EQ(logLines().back(), "===> Traffic feed full: 1 record dropped from the aircraft holding the most");
}

// A full feed drops records of the aircraft holding the most: one aircraft sent again and again
// pushes out only its own, and the others' records still come out in their order.
TEST_F(TrafficLineTest, AFullFeedDropsTheRecordsOfTheAircraftHoldingTheMost) {
  auto append = [](std::uint32_t hexId) {
    FeedRecord record;
    record.hexId = hexId;
    appendToTrafficFeed(std::move(record));
  };
  for (std::uint32_t id = 20001; id <= 20100; ++id) {
    append(id);
    append(id);
  }
  for (int i = 0; i < 20000; ++i) append(99999);
  append(20001);  // a real aircraft's next line while the flood lasts
  const auto records = takeFeed();
  ASSERT_EQ(records.size(), kvo::kTrafficFeedCapacity);
  for (std::size_t i = 0; i < 200; ++i) ASSERT_EQ(records[i].hexId, 20001u + i / 2) << i;
  EXPECT_EQ(std::count_if(records.begin(), records.end(), [](const FeedRecord& r) { return r.hexId == 99999; }), 4799);
  EXPECT_EQ(records.back().hexId, 20001u);
  EXPECT_EQ(trafficFeedPendingDrops(), 20201u - kvo::kTrafficFeedCapacity);
}

// Under a flood the tick makes room for two records and the next datagrams drop two again: the
// drops are summed up in one line per 10 s, not written once per tick.
TEST_F(TrafficLineTest, AFeedKeptFullByAFloodLogsItsDropsOncePerPeriod) {
  const auto start = std::chrono::system_clock::now();
  kvo::setUtcNowForTests(start);
  while (trafficFeedSize() < kvo::kTrafficFeedCapacity) appendToTrafficFeed(FeedRecord{});
  auto tickAndFlood = [] {
    {
      std::lock_guard lock(g_trafficFeedMutex);
      g_trafficFeed.pop_front();
      g_trafficFeed.pop_front();
    }
    for (int i = 0; i < 4; ++i) appendToTrafficFeed(FeedRecord{});
  };
  for (int i = 0; i < 1000; ++i) tickAndFlood();
  EXPECT_EQ(logLines(),
            std::vector<std::string>{"===> Traffic feed full: 2 records dropped from the aircraft holding the most"});
  kvo::setUtcNowForTests(start + std::chrono::seconds(10));
  tickAndFlood();
  setTrafficFeedOpen(false);  // the drops since the last line are not lost
  EXPECT_EQ(logLines(), (std::vector<std::string>{
                            "===> Traffic feed full: 2 records dropped from the aircraft holding the most",
                            "===> Traffic feed full: 1998 records dropped from the aircraft holding the most",
                            "===> Traffic feed full: 2 records dropped from the aircraft holding the most"}));
}

TEST_F(TrafficLineTest, CallsignCollection) {
  decode(trafficLine({{9, "EARLY1"}}));
  EXPECT_EQ(reader_.callsignCount(), 0u);  // not collecting

  reader_.startCollectingCallsigns();
  decode(trafficLine({{9, "DLH1"}}));
  decode(trafficLine({{9, "DLH2"}, {10, "null"}}));  // collected, then dropped for its type
  decode(trafficLine({{9, "DLH5"}, {2, "60.0"}}));  // out of range: dropped before collecting
  decode(trafficLine({{9, "null"}}));
  decode(trafficLine({{9, "A@B"}}));
  decode(trafficLine({{9, "DLH3"}, {11, "ABCDEFGHIJKLMN"}}));  // dropped before collecting
  const auto taken = reader_.takeCollectedCallsigns();
  EXPECT_EQ(taken, (std::unordered_set<std::string>{"DLH1", "DLH2"}));
  EXPECT_FALSE(reader_.collectCallsigns.load());
  EXPECT_EQ(reader_.callsignCount(), 0u);
  decode(trafficLine({{9, "DLH4"}}));
  EXPECT_EQ(reader_.callsignCount(), 0u);
}

// The static parking pass runs on the worker while the reader inserts: every insert, copy and
// clear must hold the same lock (ThreadSanitizer checks this test).
TEST_F(TrafficLineTest, CallsignCollectionIsSafeAgainstTheReaderThread) {
  setTrafficFeedOpen(false);
  std::atomic<bool> done{false};
  std::thread decoder([&] {
    for (int i = 0; !done.load(); ++i) {
      reader_.handleDatagram(trafficLine({{9, "CS" + std::to_string(i % 500)}}));
    }
  });
  std::size_t seen = 0;
  for (int pass = 0; pass < 200; ++pass) {
    reader_.startCollectingCallsigns();
    std::this_thread::yield();
    seen += reader_.takeCollectedCallsigns().size();
  }
  done = true;
  decoder.join();
  EXPECT_EQ(reader_.callsignCount(), 0u);
  (void)seen;
}

// Every input a fuzzer ever stumbled on stays a test.
TEST_F(TrafficLineTest, FuzzRegressionInputs) {
  const auto inputs = readertest::fuzzInputs("traffic_line");
  for (const auto& [file, data] : inputs) reader_.handleDatagram(data);
  for (const auto& r : takeFeed()) {
    EXPECT_TRUE(std::isfinite(r.position.lat) && std::abs(r.position.lat) <= 90.0);
    EXPECT_GT(r.hexId, 10000u);
    EXPECT_LE(r.registration.size(), 12u);
  }
}

}  // namespace
