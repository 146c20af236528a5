// The whole road of live aircraft against the scripted stand-in simulator, tick by tick: feed
// records become aircraft, their creations reach the simulator at the paced rate, the new
// objects are paired, settle and are activated, their positions go out with every frame, and a
// removal takes them out again.
#include <gmock/gmock.h>

#include <map>

#include "traffic_test_support.h"

using namespace traffictest;
using ::testing::ElementsAre;

namespace {

class EngineFlow : public TrafficTest {
 protected:
  struct Flight {
    std::uint32_t hexId;
    std::string callsign;
    std::string type;
    double northNm;
  };

  // One record of every flight every 5 s of feed time (500 ticks), flying east.
  void feedRound() {
    for (const Flight& f : flights_) {
      feed(record(f.hexId, f.callsign, 1000.0 + 5.0 * round_, kUserLat + f.northNm * kNmLat, kUserLon + 0.006 * round_,
                  8000.0, true, 250.0, 90.0, f.type));
    }
    ++round_;
  }

  // One tick with the frame that follows it; the feed gets its round every 500 ticks.
  void step() {
    if (g_trafficTick.load() % 500 == 1) feedRound();
    tick();
    frame();
  }

  // Ticks until pred() holds (at most `bound` steps).
  template <typename Pred>
  bool stepUntil(Pred pred, int bound) {
    for (int i = 0; i < bound && !pred(); ++i) step();
    return pred();
  }

  // Calls of the function whose first two arguments are these.
  static std::size_t calls(std::string_view function, const std::string& first, const std::string& second) {
    std::size_t n = 0;
    for (const auto& c : simtest::callsOf(function)) n += c.args.at(0) == first && c.args.at(1) == second ? 1 : 0;
    return n;
  }
  static std::size_t positionsSentFor(std::uint32_t objectId) {
    return calls("SimConnect_SetDataOnSimObject", "402", std::to_string(objectId));
  }
  static std::size_t toggles(std::uint32_t objectId) {
    return calls("SimConnect_TransmitClientEvent", std::to_string(objectId), "213");
  }

  std::vector<Flight> flights_{{20001, "DLH1", "A20N", 30.0}, {20002, "BAW2", "B77W", 40.0}};
  int round_ = 0;
};

TEST_F(EngineFlow, FromTheFeedIntoTheSimulatorAndOutAgain) {
  g_trafficTick = 1;
  std::map<std::string, TickCount> createdAt;
  ASSERT_TRUE(stepUntil(
      [&] {
        for (const std::string& tail : callArgs("SimConnect_AICreateNonATCAircraft", 1)) {
          createdAt.try_emplace(tail, g_trafficTick.load() - 1);
        }
        return createdAt.size() == 2;
      },
      3200));
  // Both are decided 100 ticks before their first point (due 3001); the later spawned request
  // is built first, and the creations go out 50 ticks apart.
  EXPECT_THAT(callArgs("SimConnect_AICreateNonATCAircraft", 1), ElementsAre("\"BAW2\"", "\"DLH1\""));
  EXPECT_EQ(createdAt["\"BAW2\""], 2950);
  EXPECT_EQ(createdAt["\"DLH1\""], 3000);
  const auto creations = simtest::callsOf("SimConnect_AICreateNonATCAircraft");
  EXPECT_EQ(creations[0].args.at(0), "\"Boeing 777 BAW\"");
  EXPECT_EQ(creations[1].args.at(0), "\"Airbus A320neo DLH\"");
  EXPECT_EQ(live(20001)->state, AircraftState::Adding2Sim);

  // The simulator creates both; the pairing hands the objects to the engine.
  simCreates(301, "BAW2");
  simCreates(302, "DLH1");
  step();
  EXPECT_EQ(live(20002)->objectId, 301u);
  EXPECT_EQ(live(20001)->objectId, 302u);
  EXPECT_EQ(calls("SimConnect_RequestDataOnSimObject", "102", "405"), 2u);  // the static centres of gravity

  // They settle for 200 ticks with two light toggles, then become active.
  ASSERT_TRUE(stepUntil([] { return live(20001)->state == AircraftState::Active; }, 250));
  EXPECT_EQ(live(20002)->state, AircraftState::Active);
  EXPECT_EQ(toggles(301), 2u);
  EXPECT_EQ(toggles(302), 2u);

  // From now on every frame carries one position per active aircraft.
  const std::size_t before301 = positionsSentFor(301);
  const std::size_t before302 = positionsSentFor(302);
  for (int i = 0; i < 20; ++i) step();
  EXPECT_EQ(positionsSentFor(301) - before301, 20u);
  EXPECT_EQ(positionsSentFor(302) - before302, 20u);

  // One aircraft too many: the farther one goes, within one removal pace.
  MAX_LIVE_SEL.set(1);
  requestLiveTrim();
  ASSERT_TRUE(stepUntil([] { return !callArgs("SimConnect_AIRemoveObject", 0).empty(); }, 11));
  EXPECT_THAT(callArgs("SimConnect_AIRemoveObject", 0), ElementsAre("301"));
  EXPECT_EQ(live(20002)->state, AircraftState::RemovingFromSim);
  const std::size_t sentBeforeRemoval = positionsSentFor(301);
  step();
  EXPECT_EQ(positionsSentFor(301), sentBeforeRemoval);  // no more positions for it

  // The simulator confirms: the record goes; the other flies on.
  ASSERT_TRUE(simtest::sendObjectRemoved(301));
  dispatch();
  step();
  EXPECT_EQ(live(20002), nullptr);
  EXPECT_EQ(live(20001)->state, AircraftState::Active);
  // A feed record of the removed flight makes it a new aircraft, held back by the maximum.
  ASSERT_TRUE(stepUntil([] { return live(20002) != nullptr; }, 600));
  EXPECT_EQ(live(20002)->state, AircraftState::Buffer);
}

}  // namespace
