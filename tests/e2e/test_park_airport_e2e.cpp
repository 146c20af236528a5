// The park airport through the whole program, against the stand-in simulator running by itself:
// - the user flies towards Salzburg (LOWS, in the user's list of park airports) from 40 nm out at
//   9000 ft; once within AIRP_RANGE it is in sight and its airport file is read, and when the user
//   climbs above AIRP_HEIGHT it is cleared again; meanwhile the aircraft of the feed carry flight
//   plans that exist while the run lasts;
// - an arrival that lands at Salzburg and parks teaches its stand a use, which the close saves to
//   airports\learned\stock and the next start reads back.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <map>

#include "core/timeutil.h"
#include "lows_flights.h"

using namespace e2e;

namespace {

constexpr double kLowsLat = 47.793301;
constexpr double kLowsLon = 13.0043;

// One airborne aircraft of the feed with its route.
std::string feedLine(unsigned hexId, const std::string& callsign, const std::string& origin,
                     const std::string& destination, double lat, double lon, long long epoch) {
  char text[512];
  std::snprintf(text, sizeof text,
                "RTTFC,%u,%.5f,%.5f,9000,0,1000,0.0,300,%s,A20N,D-AX%02u,%s,%s,%lld,0,0,adsb_icao,0,0,-1,0,0,-1,0,"
                "0.0,0,0,A3",
                hexId, lat, lon, callsign.c_str(), hexId % 100, origin.c_str(), destination.c_str(), epoch);
  return text;
}

// Where the text first holds `before` followed by a number, that number; npos when nowhere.
std::size_t numberAfter(const std::string& text, const std::string& before, double& number) {
  const auto at = text.find(before);
  if (at == std::string::npos) return at;
  number = std::strtod(text.c_str() + at + before.size(), nullptr);
  return at;
}

// ---- (a) and (c): the approach to Salzburg with traffic ---------------------------------------

struct Approach {
  bool ran = false;
  std::string failure;
  std::string log;
  std::optional<int> exitCode;
  // Per callsign of the program's objects: the flight plan path and whether, when first seen, its
  // file existed and read as the program's flight plan XML.
  std::map<std::string, std::string> plan;
  std::map<std::string, bool> planGood;
  bool planFolderGone = false;
  fs::path planFolder;
  bool learnedSaved = false;
};

bool isFlightPlanXml(const fs::path& path) {
  pugi::xml_document doc;
  if (!doc.load_file(path.c_str())) return false;
  const pugi::xml_node plan = doc.child("SimBase.Document").child("FlightPlan.FlightPlan");
  return std::string(plan.child_value("FPType")) == "IFR" && std::string(plan.child_value("DepartureID")) == "EDDF";
}

Approach runApproach() {
  Approach r;
  Installation at;
  coretest::writeFile(at.work() / "airports" / "my_park_airports.txt", "LOWS\n");
  // 40 nm south of Salzburg at 9000 ft, flying north at 1200 kt (a third of a mile a second): in
  // sight after about 60 s; the climb at 30000 ft/min from 100 s takes it above 18000 ft over
  // the ground at about 121 s, 6 nm before the airport.
  at.writeScenario([](nlohmann::json& s) {
    s["flight"]["startsAfterSeconds"] = 0;
    auto& user = s["userAircraft"];
    user["latitude"] = kLowsLat - 40.0 / 60.0;
    user["longitude"] = kLowsLon;
    user["altitudeFt"] = 9000;
    user["headingDeg"] = 0;
    user["groundSpeedKt"] = 1200;
    user["onGround"] = false;
    user["changes"] = nlohmann::json::array({{{"afterSeconds", 100}, {"verticalSpeedFpm", 30000}}});
  });
  r.planFolder = at.roaming() / "Ambrelvane" / "orig_dest";
  Program program(at);
  if (!program.started()) {
    r.failure = "the program did not start";
    return r;
  }
  if (!waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) {
    r.failure = "no traffic reader\n" + at.log();
    return r;
  }
  // Two airliners 25 nm south of Salzburg with routes, one whose destination is no airport code.
  TrafficSender sender(at);
  std::atomic<bool> sending{true};
  std::thread feeder([&] {
    const long long start = nowEpoch();
    for (int round = 0; sending.load() && round < 60; ++round) {
      const double north = round * 2.0 * 300.0 / 3600.0 / 60.0;
      sender.send(feedLine(4870001, "DLH31", "EDDF", "LOWS", kLowsLat - 25.0 / 60.0 + north, kLowsLon - 0.1,
                           start + 2 * round));
      sender.send(feedLine(4870002, "DLH32", "EDDF", "LO/WS", kLowsLat - 26.0 / 60.0 + north, kLowsLon + 0.1,
                           start + 2 * round));
      std::this_thread::sleep_for(2s);
    }
  });
  const bool done = waitUntil(
      [&] {
        if (auto state = at.state(); state && state->contains("objects")) {
          for (const auto& o : (*state)["objects"]) {
            const std::string callsign = o.value("atcId", "");
            if (o.value("createdBy", "") != "program" || r.plan.count(callsign) != 0) continue;
            const std::string path = o.value("flightPlan", "");
            if (path.empty() && callsign != "DLH32" &&
                o.value("createdAtSeconds", 0.0) + 3.0 > state->value("elapsedSeconds", 0.0)) {
              continue;  // the plan follows the creation
            }
            r.plan[callsign] = path;
            r.planGood[callsign] = !path.empty() && fs::exists(path) && isFlightPlanXml(path);
          }
        }
        const std::string log = at.log();
        return r.plan.count("DLH31") == 1 && r.plan.count("DLH32") == 1 && contains(log, "is out of sight");
      },
      200s);
  sending = false;
  feeder.join();
  program.signal(SIGTERM);
  r.exitCode = program.waitForExit(30s);
  r.log = at.log();
  r.planFolderGone = !fs::exists(r.planFolder);
  r.learnedSaved = fs::exists(at.work() / "airports" / "learned" / "stock" / "LOWS.xml");
  if (!done) {
    r.failure = "the run did not get through\n" + r.log;
    return r;
  }
  r.ran = true;
  return r;
}

const Approach& approach() {
  static const Approach r = runApproach();
  return r;
}

class ParkAirportApproach : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(approach().ran) << approach().failure; }
};

TEST_F(ParkAirportApproach, SalzburgComesIntoSightIsReadAndIsClearedAboveTheHeight) {
  const std::string& log = approach().log;
  EXPECT_EQ(approach().exitCode, 0);
  double inSightNm = 99.0;
  const auto inSight = numberAfter(log, "LOWS in sight at ", inSightNm);
  ASSERT_NE(inSight, std::string::npos) << log;
  EXPECT_LE(inSightNm, 20.0);
  EXPECT_EQ(countOf(log, "in sight at"), 1u);
  const auto read = log.find("stands read from LOWS.xml");
  ASSERT_NE(read, std::string::npos) << log;
  double outNm = 99.0;
  const auto out = numberAfter(log, "LOWS (SZG) is out of sight (", outNm);
  ASSERT_NE(out, std::string::npos) << log;
  EXPECT_LT(outNm, 20.0) << "cleared for its height, not for its distance";
  std::printf("in sight at %.1f nm, out of sight at %.1f nm\n", inSightNm, outNm);
  EXPECT_LT(inSight, read);
  EXPECT_LT(read, out);
  EXPECT_FALSE(approach().learnedSaved) << "cleared without a change of its stands: nothing to save";
}

TEST_F(ParkAirportApproach, TheFeedsAircraftCarryFlightPlansThatExistWhileTheRunLasts) {
  const Approach& r = approach();
  ASSERT_EQ(r.plan.count("DLH31"), 1u) << r.log;
  EXPECT_EQ(fs::path(r.plan.at("DLH31")), r.planFolder / fs::path(r.plan.at("DLH31")).filename());
  EXPECT_TRUE(r.planGood.at("DLH31"));
  ASSERT_EQ(r.plan.count("DLH32"), 1u) << r.log;
  EXPECT_EQ(r.plan.at("DLH32"), "") << "no plan for a destination that is no airport code";
  EXPECT_EQ(countOf(r.log, "no flight plan: origin 'EDDF' or destination 'LO/WS' is no airport code"), 1u);
  EXPECT_FALSE(contains(r.log, "creating a flight plan failed"));
  EXPECT_TRUE(r.planFolderGone) << "removed at the close";
}

// ---- (b): what arrivals that parked taught the stands, saved at the close, read at the next start

// A use of a stand as the learned file holds it.
struct SavedUse {
  std::string stand;
  std::string airline;
  std::string type;
  std::string key;
  std::string callsign;
  unsigned weekday = 0;
  std::uint64_t halfHours = 0;
  bool operator==(const SavedUse&) const = default;
};

std::vector<SavedUse> savedUses(const fs::path& file) {
  std::vector<SavedUse> uses;
  pugi::xml_document doc;
  if (!doc.load_file(file.c_str())) return uses;
  for (const pugi::xml_node stand : doc.child("airport").child("parkpositions").children("parkpos")) {
    for (const pugi::xml_node opt : stand.children("opt")) {
      uses.push_back({stand.attribute("id").value(), opt.attribute("airline").value(), opt.attribute("type").value(),
                      opt.attribute("key").value(), opt.attribute("cs").value(), opt.attribute("day").as_uint(),
                      std::strtoull(opt.attribute("hh").as_string(), nullptr, 16)});
    }
  }
  return uses;
}

// The half hours of the week the program's clock went through since `from`.
std::vector<kvo::WeekdaySlot> slotsSince(std::time_t from) {
  std::vector<kvo::WeekdaySlot> slots;
  const std::time_t to = utcNowSeconds();
  for (std::time_t t = from;; t = std::min<std::time_t>(t + 60, to)) {
    if (slots.empty() || !(slots.back() == weekSlotAt(t))) slots.push_back(weekSlotAt(t));
    if (t >= to) return slots;
  }
}

// One start of the program at Salzburg, where the user stands: the flights are fed once the stands
// are read, and the program is closed as the window's close button does once the log holds `until`.
std::string runAtSalzburg(const Installation& at, std::vector<Flight> flights, const std::string& until) {
  Program program(at);
  if (!program.started()) return "the program did not start";
  TrafficSender sender(at);
  if (std::string failure = startTrafficAtLows(at, sender); !failure.empty()) return failure;
  const auto reached = [&] { return contains(at.log(), until); };
  playFlights(sender, flights, reached);
  const bool done = waitUntil(reached, 90s);
  program.signal(SIGTERM);
  const std::optional<int> exit = program.waitForExit(30s);
  if (!done) return "no '" + until + "'\n" + at.log();
  if (exit != 0) return "the program did not end cleanly\n" + program.output();
  return {};
}

TEST(ParkAirportLearning, UsesOfArrivalsThatParkedAreSavedAtTheCloseAndReadAtTheNextStart) {
  Installation at;
  at.writeScenario([](nlohmann::json& s) { s["flight"]["startsAfterSeconds"] = 0; });
  const fs::path file = at.work() / "airports" / "learned" / "stock" / "LOWS.xml";

  // A landing on 15 whose taxi ends at stand 5; a short final is enough to be created in the air.
  const std::time_t from = utcNowSeconds();
  std::string failure = runAtSalzburg(at, {landing(8)}, "5       : DLH7AB   arrived at stand");
  ASSERT_EQ(failure, "");
  const std::vector<kvo::WeekdaySlot> slots = slotsSince(from);
  EXPECT_TRUE(contains(at.log(), "LOWS.xml' saved with ")) << at.log();
  const std::vector<SavedUse> first = savedUses(file);
  ASSERT_EQ(first.size(), 1u) << coretest::readFile(file);
  const SavedUse& arrival = first[0];
  EXPECT_EQ(arrival.stand, "5");
  EXPECT_EQ(arrival.airline, "DLH");
  EXPECT_EQ(arrival.type, "A20N");
  EXPECT_EQ(arrival.key, "D-AINB");
  EXPECT_EQ(arrival.callsign, "DLH7AB");
  // The half hour it parked in, and no other.
  const bool parkedThen = std::any_of(slots.begin(), slots.end(), [&](const kvo::WeekdaySlot& s) {
    return arrival.weekday == s.weekday && arrival.halfHours == std::uint64_t{1} << s.slot;
  });
  EXPECT_TRUE(parkedThen) << "day " << arrival.weekday << ", half hours " << std::hex << arrival.halfHours;

  // The next start reads the use back with the file: an aircraft created parked on stand 10 (fed
  // until it is) is one more change, and the save at the close keeps the arrival's use beside the
  // new one.
  Flight parked{4860003, "BAW9EF", "A321", "G-EUXD", "LOWS", "EGLL",
                Path(kStand10, kStand10HeadingDeg, kFieldElevationFt).hold(40).points()};
  failure = runAtSalzburg(at, {parked}, "10      : BAW9EF   parks");
  ASSERT_EQ(failure, "");
  EXPECT_TRUE(contains(at.log(), "stands read from LOWS.xml with its learned copy")) << at.log();
  const std::vector<SavedUse> second = savedUses(file);
  ASSERT_EQ(second.size(), 2u) << coretest::readFile(file);
  EXPECT_EQ(second[0], arrival);
  EXPECT_EQ(second[1].stand, "10");
  EXPECT_EQ(second[1].callsign, "BAW9EF");
}

// A parked aircraft whose feed fell silent keeps standing on stand 5, but does not hold the stand
// against an arrival that really taxis there: the arrival takes the stand over.
TEST(StandTakeOver, AnArrivalTakesTheStandOfAParkedAircraftWhoseFeedWentSilent) {
  Installation at;
  at.writeScenario([](nlohmann::json& s) { s["flight"]["startsAfterSeconds"] = 0; });
  Flight first = landing(8);
  // The same landing half a minute later, under another callsign.
  Flight second = landing(23);
  second.hexId = 4860005;
  second.callsign = "EZY41KQ";
  second.registration = "G-EZWX";
  const std::string failure =
      runAtSalzburg(at, {first, second}, "5       : EZY41KQ  arrived at stand");
  ASSERT_EQ(failure, "");
  const std::string log = at.log();
  const std::size_t parked = log.find("5       : DLH7AB   arrived at stand");
  const std::size_t takenOver = log.find("5       : DLH7AB   removed, EZY41KQ wants to park there");
  ASSERT_NE(parked, std::string::npos) << log;
  ASSERT_NE(takenOver, std::string::npos) << log;
  EXPECT_LT(parked, takenOver);
}

}  // namespace
