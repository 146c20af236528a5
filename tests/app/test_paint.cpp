// The counters that the worker recounts once a second, repainting only the bands that changed.
#include "app/paint.h"
#include "traffic/engine_hooks.h"
#include "window_fixture.h"

using namespace apptest;

namespace {

class PaintTest : public WindowTest {
 protected:
  static void addLive(kvo::AircraftState state, kvo::GroundPhase phase) {
    kvo::LiveAircraft a;
    a.state = state;
    a.phase = phase;
    g_liveAircraft.push_back(a);
  }
  std::vector<RECT> repaints() const {
    std::vector<RECT> rects;
    for (const auto& r : kvo::win32test::invalidations(window)) rects.push_back(r.rect);
    return rects;
  }
  static bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
  bool repainted(const RECT& band) const {
    const auto all = repaints();
    return std::any_of(all.begin(), all.end(), [&](const RECT& r) { return sameRect(r, band); });
  }
};

TEST_F(PaintTest, CountersRepaintOnlyTheBandsWhoseNumbersChanged) {
  addLive(kvo::AircraftState::Active, kvo::GroundPhase::Flying);
  addLive(kvo::AircraftState::Active, kvo::GroundPhase::Taxi);
  addLive(kvo::AircraftState::Active, kvo::GroundPhase::Parked);
  addLive(kvo::AircraftState::Adding2Sim, kvo::GroundPhase::Flying);
  kvo::StaticAircraft parked;
  parked.state = kvo::AircraftState::Active;
  g_staticAircraft.push_back(parked);
  parked.state = kvo::AircraftState::Buffer;
  g_staticAircraft.push_back(parked);

  kvo::win32test::clearInvalidations(window);
  refreshCounters();
  EXPECT_EQ(g_mainWindow.liveCount.load(), 2u);
  EXPECT_EQ(g_mainWindow.parkedLiveCount.load(), 1u);
  EXPECT_EQ(g_mainWindow.parkedStaticCount.load(), 1u);
  EXPECT_TRUE(repainted(g_statusAreaRect));
  EXPECT_TRUE(repainted(g_statisticsRect));

  kvo::win32test::clearInvalidations(window);
  refreshCounters();  // nothing changed
  EXPECT_TRUE(repaints().empty());

  g_liveAircraft[0].phase = kvo::GroundPhase::Parked;  // one more parked, one less flying
  refreshCounters();
  EXPECT_EQ(g_mainWindow.liveCount.load(), 1u);
  EXPECT_EQ(g_mainWindow.parkedLiveCount.load(), 2u);
  EXPECT_EQ(repaints().size(), 2u);

  kvo::win32test::clearInvalidations(window);
  g_staticAircraft.front().state = kvo::AircraftState::RemovingFromSim;
  refreshCounters();
  EXPECT_FALSE(repainted(g_statusAreaRect));
  EXPECT_TRUE(repainted(g_statisticsRect));
}

TEST_F(PaintTest, TheWindowSeesTheParkAirportThroughItsOwnCopy) {
  setAirportList({{"LOWS", "SZG", 47.79, 13.0, 1411.0}});
  g_parkAirport = "LOWS";
  g_reservedStand = "12";
  kvo::win32test::clearInvalidations(window);
  refreshCounters();
  EXPECT_EQ(kvo::parkAirportView().label, "LOWS (SZG)");
  EXPECT_EQ(kvo::parkAirportView().reservedStand, "12");
  EXPECT_TRUE(repainted(g_statisticsRect));
  g_parkAirport.clear();
  g_reservedStand.clear();
  refreshCounters();
  EXPECT_EQ(kvo::parkAirportView(), kvo::ParkAirportView{});
  resetAirportList();
}

}  // namespace
