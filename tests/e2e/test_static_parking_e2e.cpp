// Static parking through the whole program at Salzburg (LOWS), against the stand-in simulator
// running by itself, with the user parked at stand 1 as in the default scenario. A learned LOWS
// file (handmade, so it replaces the shipped one whole) is made here from the clock: six stands
// have uses at the current weekday and half hour, others at another weekday or twelve hours
// away, the user's own stand one too. The program must create static aircraft on exactly the six
// (MAX_FIT 0: no look back), on their stands with the stands' headings and the liveries of the
// uses' airlines and types; a live arrival standing on one of them takes it over; after the quit
// no object of the program is left in the simulator.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <map>
#include <set>

#include "core/timeutil.h"
#include "e2e_support.h"

using namespace e2e;

namespace {

constexpr double kStand1Lat = 47.7970224;  // the user's stand in the default scenario
constexpr double kStand1Lon = 13.0055043;
constexpr double kMetresPerDegLat = 111132.95;

struct PlannedStand {
  std::string name;
  double lat;
  double lon;
  double headingDeg;
  std::string airline;
  std::string type;
  std::string callsign;
  enum When { Now, OtherDay, Later, Never } when;
  std::string title;  // the livery expected; a type's livery where the airline has none
};

std::string opt(const PlannedStand& s, unsigned day, std::uint64_t halfHours, int id) {
  char hh[32];
  std::snprintf(hh, sizeof hh, "%012llX", static_cast<unsigned long long>(halfHours));
  return "   <opt airline=\"" + s.airline + "\" type=\"" + s.type + "\" key=\"" + s.callsign + "-R\" cs=\"" + s.callsign +
         "\" day=\"" + std::to_string(day) + "\" hh=\"" + hh + "\" opt=\"" + std::to_string(id) + "\" />\n";
}

// The uses of a stand for the weekday and half hour, and the next half hour, so that the run may
// cross into it.
std::string uses(const PlannedStand& s, unsigned day, unsigned slot) {
  const auto bit = [](unsigned n) { return std::uint64_t{1} << n; };
  const unsigned nextDay = day % 7 + 1;
  switch (s.when) {
    case PlannedStand::Now:
      return slot < 47 ? opt(s, day, bit(slot) | bit(slot + 1), 1) : opt(s, day, bit(47), 1) + opt(s, nextDay, bit(0), 2);
    case PlannedStand::OtherDay:
      return opt(s, (day + 2) % 7 + 1, bit(slot) | bit((slot + 1) % 48), 1);
    case PlannedStand::Later:
      return opt(s, day, bit((slot + 24) % 48) | bit((slot + 25) % 48), 1);
    case PlannedStand::Never:
      break;
  }
  return {};
}

std::string learnedFile(const std::vector<PlannedStand>& stands, unsigned day, unsigned slot) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<airport icao=\"LOWS\">\n <meta>\n"
      "  <info name=\"author\" value=\"Ambrelvane\" />\n  <info name=\"version\" value=\"1.0.0\" />\n"
      "  <info name=\"MSFS\" value=\"MSFS\" />\n </meta>\n <parameters>\n"
      "  <parameter name=\"airport_name\" value=\"Salzburg Airport\" />\n"
      "  <parameter name=\"publisher\" value=\"stock\" />\n  <parameter name=\"handmade\" value=\"true\" />\n"
      "  <parameter name=\"altitude\" value=\"1411\" />\n </parameters>\n <parkpositions>\n";
  for (const PlannedStand& s : stands) {
    char head[256];
    std::snprintf(head, sizeof head, "  <parkpos id=\"%s\" lat=\"%.7f\" lon=\"%.7f\" heading=\"%.2f\" radius=\"20\">\n",
                  s.name.c_str(), s.lat, s.lon, s.headingDeg);
    text += head + uses(s, day, slot) + "  </parkpos>\n";
  }
  return text + " </parkpositions>\n</airport>\n";
}

double metresBetween(double lat1, double lon1, double lat2, double lon2) {
  const double north = (lat2 - lat1) * kMetresPerDegLat;
  const double east = (lon2 - lon1) * kMetresPerDegLat * std::cos(lat1 * 3.141592653589793 / 180.0);
  return std::hypot(north, east);
}

double headingDifference(double a, double b) {
  const double d = std::fmod(std::abs(a - b), 360.0);
  return d > 180.0 ? 360.0 - d : d;
}

struct ObjectSeen {
  double lat = 0.0;
  double lon = 0.0;
  double headingDeg = 0.0;
  std::string title;
};

// The program's objects in the simulator by ATC id.
std::map<std::string, ObjectSeen> programObjects(const Installation& at) {
  std::map<std::string, ObjectSeen> out;
  for (const auto& o : at.programObjects()) {
    out[o.value("atcId", "")] = {o.value("latitude", 0.0), o.value("longitude", 0.0), o.value("headingDeg", 0.0),
                                 o.value("title", "")};
  }
  return out;
}

std::size_t staticCount(const std::map<std::string, ObjectSeen>& objects) {
  std::size_t n = 0;
  for (const auto& [callsign, o] : objects) n += !callsign.empty() && callsign.back() == '*' ? 1 : 0;
  return n;
}

TEST(StaticParkingRun, StaticAircraftFillTheStandsOfThisHalfHourAndGoAtTheQuit) {
  // A line of stands south-east of the user's stand, every one more than 150 m from the user.
  const auto place = [](int n) { return std::pair{kStand1Lat - n * 0.000765, kStand1Lon + n * 0.00056778}; };
  std::vector<PlannedStand> stands{
      {"1", kStand1Lat, kStand1Lon, 63.5, "AUA", "A20N", "AUA9", PlannedStand::Now, ""},  // the user's
      {"A", place(3).first, place(3).second, 10.0, "AUA", "E195", "AUA11", PlannedStand::Now, "AIG E195 Austrian"},
      {"B", place(4).first, place(4).second, 95.5, "SWR", "A320", "SWR22", PlannedStand::Now, "AIG A320 Swiss"},
      {"C", place(5).first, place(5).second, 180.0, "EZY", "A20N", "EZY33", PlannedStand::Now, "AIG A20N easyJet"},
      {"D", place(6).first, place(6).second, 271.25, "RYR", "B738", "RYR44", PlannedStand::Now, "AIG B738 Ryanair"},
      {"E", place(7).first, place(7).second, 359.5, "BAW", "A321", "BAW55", PlannedStand::Now,
       "FSLTL A321 British Airways"},
      {"F", place(8).first, place(8).second, 45.0, "KLM", "B738", "KLM66", PlannedStand::Now, "B738"},
      {"G", place(9).first, place(9).second, 135.0, "DLH", "A20N", "DLH77", PlannedStand::OtherDay, ""},
      {"H", place(10).first, place(10).second, 225.0, "WZZ", "A20N", "WZZ88", PlannedStand::Later, ""},
      {"I", place(11).first, place(11).second, 315.0, "", "", "", PlannedStand::Never, ""},
  };
  Installation at;
  const kvo::WeekdaySlot now = weekSlotAt(utcNowSeconds());  // of the system clock, as the program counts
  fs::create_directories(at.work() / "airports" / "learned" / "stock");
  coretest::writeFile(at.work() / "airports" / "learned" / "stock" / "LOWS.xml",
                      learnedFile(stands, now.weekday, now.slot));
  // Every stand may be filled; no look back beyond the half hour.
  fs::create_directories(at.roaming() / "Ambrelvane");
  coretest::writeFile(at.roaming() / "Ambrelvane" / "parameters.xml",
                      "<?xml version=\"1.0\"?>\n<parameters>\n <parameter name=\"MAX_FIT\" value=\"0\" />\n"
                      " <parameter name=\"CUSTOM_PARKING_PERCENTAGE\" value=\"100\" />\n</parameters>\n");
  at.writeScenario([](nlohmann::json& s) { s["flight"]["startsAfterSeconds"] = 0; });
  Program program(at);
  ASSERT_TRUE(program.started());
  TrafficSender sender(at);
  ASSERT_EQ(startTraffic(at, sender), "");

  // Six statics, created half a second apart once the file is read (within 16 s of the choice).
  std::map<std::string, ObjectSeen> objects;
  ASSERT_TRUE(waitUntil(
      [&] {
        objects = programObjects(at);
        return staticCount(objects) >= 6;
      },
      90s))
      << at.log();
  std::this_thread::sleep_for(3s);  // nothing more comes
  objects = programObjects(at);
  EXPECT_EQ(staticCount(objects), 6u) << at.log();
  for (const PlannedStand& s : stands) {
    SCOPED_TRACE(s.name);
    const auto it = objects.find(s.callsign + "*");
    if (s.when != PlannedStand::Now || s.name == "1") {
      EXPECT_EQ(it, objects.end()) << "no static on this stand";
      continue;
    }
    ASSERT_NE(it, objects.end()) << at.log();
    EXPECT_LE(metresBetween(it->second.lat, it->second.lon, s.lat, s.lon), 1.0);
    EXPECT_LE(headingDifference(it->second.headingDeg, s.headingDeg), 1.0);
    EXPECT_TRUE(contains(it->second.title, s.title)) << it->second.title;
  }
  EXPECT_TRUE(contains(at.log(), "6 real positions found")) << at.log();

  // An Austrian E195 of the feed standing on stand A: created there, the static makes way.
  const PlannedStand& a = stands[1];
  const long long epoch = nowEpoch();
  for (int i = 0; i < 12; ++i) {
    sender.send(FeedAircraft{4871111, "AUA77", "E195", "OE-LWZ", a.lat, a.lon, 1411, a.headingDeg, 0}.line(epoch + 2 * i));
    std::this_thread::sleep_for(2s);
  }
  const bool tookOver = waitUntil(
      [&] {
        objects = programObjects(at);
        return objects.count("AUA77") == 1 && objects.count("AUA11*") == 0;
      },
      60s);
  EXPECT_TRUE(tookOver) << at.log();
  EXPECT_EQ(staticCount(objects), 5u);

  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0);
  EXPECT_TRUE(programObjects(at).empty()) << "every object of the program is gone from the simulator";
}

}  // namespace
