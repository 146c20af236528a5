// The replay session of the run command, as the session maker makes it and as it is stored in
// tools/rt_replay: what its flights must show (reports every 2 s that agree with their own
// speeds, arrivals that land and park on a fitting stand of the airport file, departures that
// push back and climb out, one aircraft at a time on the runway, no two on one stand), and that
// the default installation has a livery for every flight; and the noisy session's kinds of noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <pugixml.hpp>

#include "lows_session.h"
#include "session.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace rtsession;

const fs::path kSource = AMBV_SOURCE_DIR;
constexpr double kSessionLoopSeconds = 600.0;  // every loop's first ten minutes

struct Seen {
  double t;
  Vec at;
  double s;  // metres along runway 15 from its threshold
  double d;  // metres east of its centre line
  double altFt, verticalFpm, trackDeg, speedKt, headingDeg;
  bool ground;
};

struct FlightSeen {
  std::vector<std::string> fields;  // of the first line
  std::vector<Seen> r;
  std::string callsign() const { return fields[9]; }
  std::string type() const { return fields[10]; }
  bool arrival() const { return !r.front().ground && r.back().ground; }
  bool departure() const { return r.front().ground && !r.back().ground; }
};

struct Livery {
  std::string title, airline, type;
  bool cargo;
};

struct Session {
  std::string text;
  std::vector<rtreplay::Datagram> datagrams;
  std::map<unsigned, FlightSeen> flights;
};

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) out.push_back(f);
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

Session parse(const std::string& text) {
  Session out;
  out.text = text;
  std::istringstream in(text);
  std::string error;
  out.datagrams = rtreplay::readSession(in, error);
  EXPECT_EQ(error, "");
  const LocalFrame frame = lows::settings().frame;
  const lows::Runway rw = lows::runway();
  const Vec u = along(bearingOf(rw.threshold33 - rw.threshold15));
  for (const auto& d : out.datagrams) {
    if (d.port != 49005) continue;
    const auto f = split(d.payload);
    EXPECT_GE(f.size(), 29u) << d.payload;
    if (f.size() < 29) continue;
    FlightSeen& flight = out.flights[static_cast<unsigned>(std::stoul(f[1]))];
    if (flight.fields.empty()) flight.fields = f;
    const Vec at = frame.toLocal({std::stod(f[2]), std::stod(f[3])});
    const Vec rel = at - rw.threshold15;
    flight.r.push_back({d.offsetMs / 1000.0, at, rel.x * u.x + rel.y * u.y, rel.y * u.x - rel.x * u.y, std::stod(f[4]),
                        std::stod(f[5]), std::stod(f[7]), std::stod(f[8]), std::stod(f[25]), f[6] == "1"});
  }
  return out;
}

// The sessions checked: the maker's output and the file the run command replays.
const Session& session(const std::string& which) {
  static const Session made = parse(lows::makeSession(kSource / "data/airports/archive/stock/LOWS.xml"));
  static const Session stored = parse(coretest::readFile(kSource / "tools/rt_replay/session-lows.rtrec"));
  return which == "made" ? made : stored;
}

const AirportFile& airport() {
  static const AirportFile file = readAirportFile(kSource / "data/airports/archive/stock/LOWS.xml");
  return file;
}

// What the program's data base (data/src/dbase.xml) knows: half spans (metres) and size classes
// of its types, and its airlines.
struct DataBase {
  std::map<std::string, std::pair<double, std::string>> types;
  std::set<std::string> airlines;
};

const DataBase& dbase() {
  static const DataBase base = [] {
    DataBase out;
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file((kSource / "data/src/dbase.xml").c_str()));
    for (const auto t : doc.child("dbase").child("aircraft").children("type")) {
      const std::string size = t.attribute("sets").value();
      out.types[t.attribute("icao").value()] = {t.attribute("span_m").as_double() / 2.0, size.empty() ? "light" : size};
    }
    for (const auto a : doc.child("dbase").child("airlines").children("airline")) out.airlines.insert(a.attribute("icao").value());
    return out;
  }();
  return base;
}
const auto& types() { return dbase().types; }

double halfSpan(const std::string& type) { return types().count(type) != 0 ? types().at(type).first : 30.0; }

// The liveries of the default installation's AI packages.
const std::vector<Livery>& liveries() {
  static const auto all = [] {
    std::vector<Livery> out;
    for (const auto& e : fs::recursive_directory_iterator(kSource / "data/sim/Packages/Community")) {
      if (e.path().filename() != "aircraft.cfg") continue;
      std::istringstream in(coretest::readFile(e.path()));
      std::string type;
      Livery current;
      bool inFltsim = false;
      auto flush = [&] {
        if (inFltsim && !current.title.empty()) out.push_back(current);
        current = {};
      };
      auto trimmed = [](std::string t) {
        const auto first = t.find_first_not_of(" \t\"");
        const auto last = t.find_last_not_of(" \t\"\r");
        return first == std::string::npos ? std::string() : t.substr(first, last - first + 1);
      };
      for (std::string line; std::getline(in, line);) {
        if (line.starts_with("[")) {
          flush();
          inFltsim = line.starts_with("[FLTSIM.");
          current.type = type;
          continue;
        }
        const auto equals = line.find('=');
        if (line.starts_with(";") || equals == std::string::npos) continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (key == "icao_type_designator") type = value;
        if (key == "title") current.title = value;
        if (key == "icao_airline") current.airline = value;
        if (key == "atc_parking_types") current.cargo = value.find("CARGO") != std::string::npos;
      }
      flush();
    }
    return out;
  }();
  return all;
}

// Whether the text holds capital letters from `from` on, `count` of them.
bool letters(const std::string& text, std::size_t from, std::size_t count) {
  return text.size() >= from + count &&
         std::all_of(text.begin() + static_cast<long>(from), text.begin() + static_cast<long>(from + count),
                     [](char c) { return c >= 'A' && c <= 'Z'; });
}

// The airline a callsign names (three letters and a digit), else none.
std::string airlineOf(const std::string& callsign) {
  return letters(callsign, 0, 3) && callsign.size() > 3 && std::isdigit(static_cast<unsigned char>(callsign[3]))
             ? callsign.substr(0, 3)
             : "";
}

// The liveries the program may give a flight: its airline's of its type, else any of its type.
std::vector<Livery> liveriesFor(const std::string& callsign, const std::string& type) {
  std::vector<Livery> out;
  const std::string airline = airlineOf(callsign);
  for (const Livery& l : liveries()) {
    if (l.type == type && (airline.empty() || l.airline == airline)) out.push_back(l);
  }
  return out;
}

const Stand* standAt(Vec at, double withinM) {
  const LocalFrame frame = lows::settings().frame;
  for (const Stand& s : airport().stands) {
    if (length(frame.toLocal(s.at) - at) <= withinM) return &s;
  }
  return nullptr;
}

bool onRunway(const Seen& r) { return r.s >= -50.0 && r.s <= 2804.0 && std::abs(r.d) <= 40.0; }

// The index of the report where the flight leaves the ground or touches it.
std::size_t groundChange(const FlightSeen& f) {
  for (std::size_t i = 1; i < f.r.size(); ++i) {
    if (f.r[i].ground != f.r[i - 1].ground) return i;
  }
  return f.r.size();
}

class LowsSession : public ::testing::TestWithParam<std::string> {
 protected:
  const Session& s() const { return session(GetParam()); }
  const double elevation = airport().elevationFt;
};

TEST_P(LowsSession, IsLabelledAsMadeHereAndCarriesTheQnhEveryTenSeconds) {
  EXPECT_TRUE(s().text.starts_with("# Ambrelvane replay session, made here by tools/rt_replay/make_session.cpp"));
  EXPECT_NE(s().text.find("no recording of real traffic"), std::string::npos);
  std::vector<std::int64_t> qnh;
  for (const auto& d : s().datagrams) {
    if (d.port != 49004) continue;
    qnh.push_back(d.offsetMs);
    EXPECT_EQ(d.payload, "{\"QNH\": 1017}");
  }
  ASSERT_FALSE(qnh.empty());
  for (std::size_t i = 1; i < qnh.size(); ++i) EXPECT_EQ(qnh[i] - qnh[i - 1], 10000);
}

TEST_P(LowsSession, EveryFlightReportsEveryTwoSecondsWithItsIdentityAsRealTrafficDoes) {
  ASSERT_GE(s().flights.size(), 14u);
  for (const auto& [hex, f] : s().flights) {
    SCOPED_TRACE(f.callsign());
    EXPECT_GT(hex, 10000u);
    EXPECT_LE(f.callsign().size(), 8u);
    EXPECT_LE(f.fields[11].size(), 12u);
    EXPECT_TRUE(types().count(f.type()) != 0) << "the data base knows " << f.type();
    const std::string airline = airlineOf(f.callsign());
    EXPECT_TRUE(airline.empty() || dbase().airlines.count(airline) != 0) << "the data base knows " << airline;
    EXPECT_FALSE(f.fields[28].empty());
    for (const int i : {12, 13}) {
      EXPECT_TRUE(f.fields[i].empty() || (f.fields[i].size() == 3 && letters(f.fields[i], 0, 3))) << f.fields[i];
      if (!airlineOf(f.callsign()).empty()) {
        EXPECT_FALSE(f.fields[i].empty()) << "airline flights name their airports";
      }
    }
    for (std::size_t i = 1; i < f.r.size(); ++i) ASSERT_DOUBLE_EQ(f.r[i].t - f.r[i - 1].t, 2.0) << "at " << f.r[i].t;
    for (const Seen& r : f.r) {
      EXPECT_EQ(r.ground, r.altFt == 0.0) << "the ground flag and altitude 0 go together, at " << r.t;
      if (!r.ground) {
        EXPECT_GT(r.altFt, elevation);
      }
    }
  }
}

TEST_P(LowsSession, ReportsAgreeWithTheirSpeedsHeadingsAndRates) {
  for (const auto& [hex, f] : s().flights) {
    SCOPED_TRACE(f.callsign());
    for (std::size_t i = 1; i < f.r.size(); ++i) {
      const Seen& a = f.r[i - 1];
      const Seen& b = f.r[i];
      const double moved = length(b.at - a.at);
      const double expected = (a.speedKt + b.speedKt) / 2.0 * 2.0 * kMetresPerSecondPerKt;
      ASSERT_NEAR(moved, expected, 1.5 + 0.03 * expected) << "distance at " << b.t;
      if (moved > 5.0) {
        const double meanTrack = a.trackDeg + signedDeg(b.trackDeg - a.trackDeg) / 2.0;
        ASSERT_LT(std::abs(signedDeg(bearingOf(b.at - a.at) - meanTrack)), 6.0) << "track at " << b.t;
        const double offNose = std::abs(signedDeg(b.headingDeg - b.trackDeg));
        ASSERT_TRUE(offNose < 0.1 || offNose > 179.9) << "nose along or against the track at " << b.t;
      }
      ASSERT_LT(std::abs(signedDeg(b.headingDeg - a.headingDeg)), b.ground ? 40.0 : 15.0) << "turn at " << b.t;
      if (!a.ground && !b.ground) {
        // The rate may change between two reports: the climb lies between the two rates'.
        const double slow = std::min(a.verticalFpm, b.verticalFpm) / 30.0;
        const double fast = std::max(a.verticalFpm, b.verticalFpm) / 30.0;
        ASSERT_TRUE(b.altFt - a.altFt > slow - 3.0 && b.altFt - a.altFt < fast + 3.0) << "climb at " << b.t;
      }
      ASSERT_LE(std::abs(b.verticalFpm), 3500.0);
      if (b.ground) {
        ASSERT_TRUE(onRunway(b) || b.speedKt <= 25.0) << "taxi speed at " << b.t;
        ASSERT_TRUE(b.s > -100.0 && b.s < 2854.0 && b.d > -100.0 && b.d < 800.0) << "on the airport at " << b.t;
      }
    }
  }
}

TEST_P(LowsSession, ArrivalsLandOnTheRunwayOrPadAndParkOnAStandThatFitsThem) {
  int parkedEarly = 0;
  for (const auto& [hex, f] : s().flights) {
    if (!f.arrival()) continue;
    SCOPED_TRACE(f.callsign());
    const std::size_t down = groundChange(f);
    ASSERT_LT(down, f.r.size());
    EXPECT_TRUE(std::all_of(f.r.begin() + static_cast<long>(down), f.r.end(), [](const Seen& r) { return r.ground; }));
    const Seen& before = f.r[down - 1];
    EXPECT_LT(before.verticalFpm, 0.0);
    EXPECT_LT(before.altFt, elevation + 150.0);
    const bool rotorcraft = types().at(f.type()).second == "rotorcraft";
    if (!rotorcraft) {
      const Seen& touch = f.r[down];
      EXPECT_TRUE(onRunway(touch) && std::abs(touch.d) < 5.0) << "touches down on the centre line";
      EXPECT_GT(2754.0 - touch.s, 0.0);
      EXPECT_LT(2754.0 - touch.s, 700.0) << "in the touch-down zone of 33";
    }
    // Stands still to the end, on a stand of the airport file that fits it.
    const Seen& last = f.r.back();
    const Stand* stand = standAt(last.at, 0.5);
    ASSERT_NE(stand, nullptr) << "ends on a stand of the airport file";
    std::size_t still = f.r.size();
    while (still > 0 && f.r[still - 1].speedKt == 0.0 && length(f.r[still - 1].at - last.at) < 0.01) --still;
    EXPECT_GE(last.t - f.r[still].t, 240.0) << "reports go on at the stand for minutes";
    EXPECT_GE(stand->radiusM, halfSpan(f.type()));
    EXPECT_EQ(stand->heli, rotorcraft);
    const auto options = liveriesFor(f.callsign(), f.type());
    const bool freighter = !options.empty() && std::all_of(options.begin(), options.end(), [](const Livery& l) { return l.cargo; });
    EXPECT_EQ(stand->cargo, freighter) << "cargo stands for freighters";
    if (!rotorcraft && f.r[still].t < kSessionLoopSeconds) ++parkedEarly;
  }
  EXPECT_GE(parkedEarly, 4) << "airliners that land and park within the first ten minutes";
}

TEST_P(LowsSession, DeparturesPushBackFromAStandTaxiToTheRunwayAndClimbOut) {
  int airborneEarly = 0;
  for (const auto& [hex, f] : s().flights) {
    if (!f.departure()) continue;
    SCOPED_TRACE(f.callsign());
    const Stand* stand = standAt(f.r.front().at, 0.5);
    ASSERT_NE(stand, nullptr) << "starts on a stand of the airport file";
    EXPECT_GE(stand->radiusM, halfSpan(f.type()));
    EXPECT_FALSE(stand->heli);
    EXPECT_EQ(f.r[1].speedKt, 0.0) << "parked first";
    const auto moves = std::find_if(f.r.begin(), f.r.end(), [](const Seen& r) { return r.speedKt > 0.0; });
    ASSERT_NE(moves, f.r.end());
    EXPECT_NEAR(std::abs(signedDeg(moves->headingDeg - moves->trackDeg)), 180.0, 0.1) << "backwards";
    const Vec stand0 = lows::settings().frame.toLocal(stand->at);
    EXPECT_LT(std::abs(signedDeg(bearingOf(moves->at - stand0) - stand->headingDeg - 180.0)), 10.0) << "straight back";
    const std::size_t up = groundChange(f);
    ASSERT_LT(up, f.r.size());
    EXPECT_TRUE(onRunway(f.r[up - 1]) && f.r[up - 1].speedKt >= 50.0) << "lifts off from the runway";
    EXPECT_TRUE(std::none_of(f.r.begin() + static_cast<long>(up), f.r.end(), [](const Seen& r) { return r.ground; }));
    EXPECT_GT(std::max_element(f.r.begin(), f.r.end(), [](const Seen& a, const Seen& b) { return a.altFt < b.altFt; })->altFt,
              elevation + 2500.0);
    if (f.r[up].t < kSessionLoopSeconds) ++airborneEarly;
  }
  EXPECT_GE(airborneEarly, 4) << "departures airborne within the first ten minutes";
}

TEST_P(LowsSession, HoldsAHelicopterALightAircraftACargoAircraftAndTheOverflights) {
  std::set<std::string> kinds;
  int overflights = 0;
  for (const auto& [hex, f] : s().flights) {
    if (!f.arrival() && !f.departure()) {
      ++overflights;
      EXPECT_TRUE(std::all_of(f.r.begin(), f.r.end(), [](const Seen& r) { return r.altFt > 30000.0; }));
      continue;
    }
    kinds.insert(types().at(f.type()).second);
    const Stand* stand = standAt((f.arrival() ? f.r.back() : f.r.front()).at, 0.5);
    if (stand != nullptr && stand->cargo) kinds.insert("cargo");
  }
  EXPECT_EQ(overflights, 4);
  for (const char* kind : {"rotorcraft", "light", "cargo", "large"}) EXPECT_EQ(kinds.count(kind), 1u) << kind;
}

TEST_P(LowsSession, OneAircraftAtATimeOnTheRunwayAndNoTwoOnTheGroundWithinTheirSpans) {
  std::map<double, std::vector<std::pair<const FlightSeen*, const Seen*>>> byTime;
  for (const auto& [hex, f] : s().flights) {
    for (const Seen& r : f.r) byTime[r.t].push_back({&f, &r});
  }
  for (const auto& [t, at] : byTime) {
    std::vector<std::string> runway;
    for (std::size_t i = 0; i < at.size(); ++i) {
      const Seen& a = *at[i].second;
      if (onRunway(a) && (a.ground || a.altFt < elevation + 300.0)) runway.push_back(at[i].first->callsign());
      for (std::size_t k = i + 1; k < at.size(); ++k) {
        const Seen& b = *at[k].second;
        if (!a.ground || !b.ground) continue;
        const double apart = length(a.at - b.at);
        const double needed = 1.1 * (halfSpan(at[i].first->type()) + halfSpan(at[k].first->type()));
        EXPECT_GE(apart, needed) << at[i].first->callsign() << " and " << at[k].first->callsign() << " at " << t;
      }
    }
    EXPECT_LE(runway.size(), 1u) << "at " << t << ": " << ::testing::PrintToString(runway);
  }
}

// The installed titles are the scenario's (tests/app); here: each flight finds one of them.
TEST_P(LowsSession, TheDefaultInstallationHasALiveryForEveryFlight) {
  for (const auto& [hex, f] : s().flights) {
    EXPECT_FALSE(liveriesFor(f.callsign(), f.type()).empty()) << f.callsign() << " " << f.type();
  }
}

INSTANTIATE_TEST_SUITE_P(MadeAndStored, LowsSession, ::testing::Values("made", "stored"));

// Each kind of noisy feed against its exact feed (seed 0): its lines' gaps, where its heading comes
// from, how far its lines scatter, whether the error wanders (the correlation of one line's error
// with the flight's next), points far off; and every flight of it has a livery.
TEST(NoisyKinds, EachKindScattersItsFlightsAsItsTableSays) {
  const fs::path airportFile = kSource / "data/airports/archive/stock/LOWS.xml";
  for (const lows::NoisyKind& kind : lows::noisyKinds()) {
    const Session exact = parse(lows::makeNoisySession(airportFile, 0, kind.name));
    const Session drawn = parse(lows::makeNoisySession(airportFile, 7, kind.name));
    EXPECT_EQ(drawn.flights.size(), exact.flights.size()) << kind.name;
    EXPECT_EQ(exact.flights.size(), kind.moreFlights ? 10u : 6u) << kind.name;
    std::set<double> gaps;
    double largestGap = 0.0, largestM = 0.0, together = 0.0, apart = 0.0;
    int farOff = 0, fromTrack = 0, moving = 0, ground = 0;
    for (const auto& [hex, f] : drawn.flights) {
      EXPECT_FALSE(liveriesFor(f.callsign(), f.type()).empty()) << kind.name << " " << f.callsign() << " " << f.type();
      EXPECT_EQ(f.fields[17] == "mlat", kind.heading == Noise::Heading::None || hex == 4860403 || hex == 4860404 || hex == 4860406)
          << kind.name << " " << f.callsign();
      std::map<double, Vec> truth;
      for (const Seen& r : exact.flights.at(hex).r) truth[r.t] = r.at;
      Vec lastError;
      bool hadError = false;
      // Left out: the flights heard with a gap and with a line sent late.
      if (hex == 4860401 || hex == 4860403) continue;
      for (std::size_t i = 0; i < f.r.size(); ++i) {
        const Seen& r = f.r[i];
        if (i > 0) {
          gaps.insert(r.t - f.r[i - 1].t);
          largestGap = std::max(largestGap, r.t - f.r[i - 1].t);
        }
        const auto at = truth.find(r.t);
        if (!r.ground || at == truth.end()) {
          hadError = false;
          continue;
        }
        const Vec error = r.at - at->second;
        ++ground;
        // Beyond the jitter and the wander (past 4.5 of its standard deviations; the lines give
        // places to 0.1 m): one of the points far off.
        const double scatterM = kind.jitterMaxM + 4.5 * kind.wanderM + 0.2;
        if (length(error) > scatterM) {
          EXPECT_LE(length(error), 50.0 + scatterM) << kind.name << " " << f.callsign() << " at " << r.t;
          ++farOff;
          hadError = false;
          continue;
        }
        largestM = std::max(largestM, length(error));
        if (hadError) {
          together += error.x * lastError.x + error.y * lastError.y;
          apart += error.x * error.x + error.y * error.y;
        }
        lastError = error;
        hadError = true;
        if (r.speedKt > 0.5) {
          ++moving;
          if (std::abs(signedDeg(r.headingDeg - r.trackDeg)) < 0.06) ++fromTrack;
        }
      }
    }
    const int most = kind.reportMaxSeconds > 0 ? kind.reportMaxSeconds : kind.reportSeconds;
    EXPECT_LE(largestGap, most) << kind.name;
    EXPECT_EQ(gaps.size() > 3, kind.reportMaxSeconds > 0) << kind.name;
    EXPECT_GE(largestM, kind.jitterMinM) << kind.name;
    EXPECT_EQ(farOff > 0, kind.outlierShare > 0.0) << kind.name;
    EXPECT_LE(farOff, 3.0 * kind.outlierShare * ground + 3.0) << kind.name;
    const double correlation = together / apart;
    EXPECT_EQ(correlation > 0.2, kind.wanderM > 0.0) << kind.name << ": " << correlation;
    EXPECT_EQ(fromTrack > moving / 2, kind.heading == Noise::Heading::Track) << kind.name;
  }
}

// The run command and the end-to-end runs replay the maker's output as it is: the stored files are
// made again whenever the maker or the airport's stands change.
TEST(LowsSessionFile, IsTheMakersOutput) {
  const fs::path airportFile = kSource / "data/airports/archive/stock/LOWS.xml";
  const struct {
    std::string made;
    const char* stored;
  } files[] = {{session("made").text, "tools/rt_replay/session-lows.rtrec"},
               {lows::makeNoisySession(airportFile), "tools/rt_replay/session-lows-noisy.rtrec"}};
  for (const auto& f : files) {
    const std::string stored = coretest::readFile(kSource / f.stored);
    const auto [m, s] = std::mismatch(f.made.begin(), f.made.end(), stored.begin(), stored.end());
    EXPECT_TRUE(m == f.made.end() && s == stored.end())
        << f.stored << " differs from the maker's output from line " << std::count(f.made.begin(), m, '\n') + 1
        << " on: make it again (docs/run-and-platform.md)";
  }
}

}  // namespace
