// The session builder refuses layouts it cannot fly, naming what is wrong, and reads the stands of
// an airport file or says why it cannot.
#include <gtest/gtest.h>

#include <functional>

#include "session_maker.h"
#include "support/test_support.h"

namespace {

using namespace rtsession;

std::string failure(const std::function<void()>& make) {
  try {
    make();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(SessionMaker, RefusesLayoutsItCannotFly) {
  const struct {
    const char* what;
    std::function<void()> make;
    const char* message;
  } cases[] = {
      {"a corner too tight for its legs",
       [] { Track({}, 0.0, 1411.0).taxi({{{0, 20}, 10.0}, {{20, 20}, 10.0}}, 30.0); },
       "lie too close together for their turns"},
      {"a U-turn on the spot", [] { Track({}, 0.0, 1411.0).taxi({{{0, 100}, 10.0}, {{0, 0}, 10.0}}); },
       "a corner of more than 170 degrees"},
      {"standing between two points", [] { Track({}, 0.0, 1411.0).taxi({{{0, 100}, 0.0}}); }, "standing still"},
      {"a hold while moving", [] { Track({}, 0.0, 1411.0).taxi({{{0, 100}, 10.0}}).hold(5.0); }, "only a stopped aircraft"},
      {"anything after the end", [] { Track({}, 0.0, 1411.0).holdToEnd().hold(5.0); }, "nothing follows"},
      {"taxiing on from the air", [] { Track::flying({}, 0.0, 150.0, 3000.0, 1411.0).taxi({{{0, 100}, 10.0}}); },
       "touches down"},
  };
  for (const auto& c : cases) EXPECT_NE(failure(c.make).find(c.message), std::string::npos) << c.what;
}

TEST(SessionMaker, ReadsTheStandsOfAnAirportFileOrSaysWhyNot) {
  coretest::TempFolder folder;
  coretest::writeFile(folder / "ok.xml", R"(<airport icao="LOWS"><parameters><parameter name="altitude" value="1411"/>
    </parameters><parkpositions><parkpos id="C1" lat="47.79" lon="13.01" heading="63.5" radius="25" cargo="true"
    heli="false"/></parkpositions></airport>)");
  coretest::writeFile(folder / "nostands.xml", R"(<airport icao="LOWS"><parameters><parameter name="altitude"
    value="1411"/></parameters></airport>)");
  const AirportFile ok = readAirportFile(folder / "ok.xml");
  EXPECT_EQ(ok.elevationFt, 1411.0);
  EXPECT_TRUE(ok.stand("C1").cargo);
  EXPECT_EQ(ok.stand("C1").radiusM, 25.0);
  EXPECT_NE(failure([&] { (void)ok.stand("7"); }).find("LOWS has no stand 7"), std::string::npos);
  EXPECT_NE(failure([&] { readAirportFile(folder / "nostands.xml"); }).find("no stands"), std::string::npos);
  EXPECT_NE(failure([&] { readAirportFile(folder / "missing.xml"); }).find("missing.xml"), std::string::npos);
}

}  // namespace
