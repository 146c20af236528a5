// The painted window, checked on its picture at a few known places (band colours, the message
// line, counters, captions), and the counters that the worker recounts once a second,
// repainting only the bands that changed.
#include "app/paint.h"
#include "traffic/park_airports.h"
#include "window_fixture.h"

#include <functional>

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
  // The window repainted whole, as a person sees it.
  kvo::win32test::WindowPicture picture() const {
    g_mainWindow.invalidateAll();
    UpdateWindow(window);
    return *kvo::win32test::windowPicture(window);
  }
  // The text's colour at its position, or CLR_INVALID when it is not drawn there.
  static COLORREF textAt(const kvo::win32test::WindowPicture& p, std::u16string_view text, int x, int y) {
    for (const auto& t : p.texts) {
      if (t.text == text && t.rect.left == x && t.rect.top == y) return t.colour;
    }
    return CLR_INVALID;
  }
  // Texts drawn inside the rectangle.
  static std::size_t textsIn(const kvo::win32test::WindowPicture& p, const RECT& band) {
    return static_cast<std::size_t>(std::count_if(p.texts.begin(), p.texts.end(), [&](const auto& t) {
      return t.rect.top >= band.top && t.rect.top < band.bottom && t.window == p.texts.front().window;
    }));
  }
};

constexpr COLORREF kLime = kvo::kLimeColour;
constexpr COLORREF kYellow = kvo::kYellowColour;
constexpr COLORREF kRed = kvo::kRedColour;
constexpr COLORREF kBlack = kvo::kBlackColour;

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
  g_staticAircraft.front().state = kvo::AircraftState::Buffer;
  refreshCounters();
  EXPECT_FALSE(repainted(g_statusAreaRect));
  EXPECT_TRUE(repainted(g_statisticsRect));
}

TEST_F(PaintTest, BandsHeaderAndTheMessageLine) {
  g_mainWindow.showMessage("RealTraffic not detected at this PC", false);
  auto p = picture();
  EXPECT_EQ(p.width, 880);
  EXPECT_EQ(p.pixel(300, 20), kBlack);                 // header
  EXPECT_EQ(p.pixel(300, 60), kBlack);                 // status area
  EXPECT_EQ(p.pixel(870, 150), kvo::kSkyBlueColour);   // options panel
  EXPECT_EQ(p.pixel(870, 420), kBlack);                // statistics
  EXPECT_EQ(p.pixel(870, 470), kLime);                 // message line
  EXPECT_EQ(p.pixel(300, 28), kvo::kWhiteColour);      // band borders
  EXPECT_EQ(p.pixel(870, 392), kvo::kWhiteColour);
  EXPECT_EQ(p.pixel(870, 140), kBlack);                // grid lines of the panel
  EXPECT_EQ(p.pixel(642, 200), kBlack);
  EXPECT_EQ(textAt(p, u"Version 1.0.0", 3, 7), kLime);
  EXPECT_EQ(textAt(p, u"Ambrelvane", 390, 7), kLime);
  EXPECT_EQ(textAt(p, u"RealTraffic not detected at this PC", 3, 455), kYellow);

  g_mainWindow.showErrorMessage("No install path detected");
  g_mainWindow.showMessage("ignored while the error stands", false);
  p = picture();
  EXPECT_EQ(p.pixel(870, 470), kRed);
  EXPECT_EQ(textAt(p, u"No install path detected", 3, 455), kYellow);
  EXPECT_EQ(p.findText(u"ignored while the error stands"), nullptr);
}

TEST_F(PaintTest, SimulatorAndRealTrafficStatusWithTheirLamps) {
  constexpr int simLamp = 411, rtLamp = 439, lampY = 40;
  auto p = picture();  // before anything is connected
  EXPECT_EQ(p.pixel(simLamp, lampY), kRed);
  EXPECT_EQ(p.pixel(rtLamp, lampY), kBlack);
  EXPECT_EQ(textAt(p, u"MSFS 2020 mode", 5, 35), kLime);
  EXPECT_EQ(textAt(p, u"# liveries: ...", 5, 91), kRed);
  EXPECT_EQ(textAt(p, u"# simaddon: ...", 141, 91), kYellow);
  EXPECT_EQ(textAt(p, u"# thirdp: ...", 278, 91), kYellow);
  EXPECT_EQ(p.findText(u"Traffic"), nullptr);

  g_mainWindow.g_simConnected = true;
  g_mainWindow.setDisplayText(&kvo::MainWindow::simulatorText, "MSFS 2020 (11.0.282174.999)", g_statusAreaRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::userAircraftText, "Airbus A320 Neo", g_statusAreaRect);
  p = picture();  // connected, no flight running: partial
  EXPECT_EQ(p.pixel(simLamp, lampY), kYellow);
  EXPECT_EQ(textAt(p, u"MSFS 2020 (11.0.282174.999)", 5, 35), kYellow);

  g_mainWindow.simRunning = true;
  g_mainWindow.setDisplayText(&kvo::MainWindow::userStandText, "GATE 1", g_statusAreaRect);
  g_mainWindow.g_userWingSpanKnown = false;
  g_mainWindow.liveryCount = 1234;
  g_mainWindow.beforeLinkStep = false;
  g_mainWindow.g_rtLinkUp = true;
  g_mainWindow.g_trafficLamp = 1;
  g_mainWindow.g_qnhLamp = 2;
  g_mainWindow.qnh = 1013;
  g_mainWindow.liveCount = 7;
  g_mainWindow.setDisplayText(&kvo::MainWindow::realTrafficEdition, "RealTraffic 10.0 standard", g_statusAreaRect);
  p = picture();
  EXPECT_EQ(p.pixel(simLamp, lampY), kLime);
  EXPECT_EQ(p.pixel(rtLamp, lampY), kLime);
  EXPECT_EQ(textAt(p, u"MSFS 2020 (11.0.282174.999), user stand GATE 1", 5, 35), kLime);
  EXPECT_EQ(textAt(p, u"Airbus A320 Neo", 5, 63), kYellow);  // wing span unknown
  EXPECT_EQ(textAt(p, u"# liveries: 1234", 5, 91), kLime);
  EXPECT_EQ(textAt(p, u"RealTraffic 10.0 standard", 458, 35), kLime);
  EXPECT_EQ(textAt(p, u"Weather", 458, 63), kYellow);  // idle
  EXPECT_EQ(textAt(p, u"Traffic", 458, 91), kLime);
  EXPECT_EQ(textAt(p, u"qnh: 1013", 642, 63), kLime);
  EXPECT_EQ(textAt(p, u"live:   7", 642, 91), kLime);

  // The counter follows the worker's recount.
  g_liveAircraft.emplace_back();
  g_liveAircraft.back().state = kvo::AircraftState::Active;
  refreshCounters();
  EXPECT_EQ(textAt(picture(), u"live:   1", 642, 91), kLime);

  g_mainWindow.g_trafficLamp = 2;
  g_mainWindow.qnh = 0;  // no QNH yet: nothing at its place
  p = picture();
  EXPECT_EQ(p.pixel(rtLamp, lampY), kYellow);
  EXPECT_EQ(p.findText(u"qnh:    0"), nullptr);
  g_mainWindow.g_rtLinkUp = false;
  p = picture();
  EXPECT_EQ(p.pixel(rtLamp, lampY), kRed);
  EXPECT_EQ(p.findText(u"live:   1"), nullptr);
  EXPECT_EQ(p.findText(u"Weather"), nullptr);
}

TEST_F(PaintTest, CaptionsFollowTheirSettings) {
  struct Case {
    std::function<void()> set;
    std::u16string caption;
    int x;
    int y;
    COLORREF colour;
  };
  const COLORREF grey = kGreyColour;
  const std::vector<Case> cases{
      {[] { ALWAYS_ON_TOP.set(false); }, u"Stay on top", 768, 147, kBlack},
      {[] { ALWAYS_ON_TOP.set(true); }, u"Stay on top", 768, 147, kYellow},
      {[] { AUTO_RANGE.set(false); }, u"Ah:", 430, 231, grey},
      {[] { AUTO_RANGE.set(true); }, u"Ah:", 430, 231, kBlack},
      {[] { g_simIs2020 = false; }, u"Objectids", 768, 231, grey},
      {[] { GUID_CHANGES.set(false); }, u"GUID changes", 768, 203, kYellow},
      {[] { SCAN_LIVERIES.set(true); }, u"Scan for liveries", 25, 147, kYellow},
      {[] { EnableWindow(HELICOPTERS.binding.hwnd, FALSE); }, u"Helicopters", 450, 203, grey},
      {[] { MAX_PARK_SEL.set(0); MAX_LIVE_SEL.set(10); }, u"Max park (static+live):", 171, 315, kYellow},
      {[] { MAX_LIVE_SEL.set(0); }, u"Max park (static+live):", 171, 315, kRed},
      {[] { MAX_LIVE_SEL.set(0); }, u"Max live (park incl):", 401, 315, kRed},
      {[] { g_staticParkingBusy = true; }, u"Airport parking active", 5, 315, kYellow},
      {[] { g_staticParkingBusy = false; }, u"Airport parking", 5, 315, kBlack},
      {[] { INITIAL_LOAD_ONLY.set(true); }, u"ILO", 450, 371, kYellow},
      {[] { STRAIGHT_PBS_ONLY.set(false); }, u"Straight push backs only", 672, 315, grey},
      {[] { g_parkAirportLoaded = true; INITIAL_LOAD_ONLY.set(false); g_mainWindow.minutesToNextPass = 19; },
       u"(next in 19 min)", 5, 343, kBlack},
      {[] {
         CALLSIGN_2_OBJECTID.set("DLH1");
         g_mainWindow.setDisplayText(&kvo::MainWindow::objectIdText, "= 42", g_panelRect);
       },
       u"= 42", 561, 259, kBlack},
  };
  for (const Case& c : cases) {
    c.set();
    EXPECT_EQ(textAt(picture(), c.caption, c.x, c.y), c.colour) << win32::wideToUtf8(c.caption);
  }
  for (const int minutes : {20, 0}) {  // the pass is due: no countdown
    g_mainWindow.minutesToNextPass = minutes;
    const std::u16string countdown = win32::utf8ToWide("(next in " + std::to_string(minutes) + " min)");
    EXPECT_EQ(picture().findText(countdown), nullptr) << minutes;
  }
  g_staticParkingBusy = false;
}

TEST_F(PaintTest, StatisticsOfTheParkAirport) {
  auto p = picture();
  EXPECT_EQ(textsIn(p, g_statisticsRect), 0u);  // no park airport: black and empty
  EXPECT_EQ(p.pixel(5, 400), kBlack);

  setAirportList({{"LOWS", "SZG", 47.79, 13.0, 1411.0}});
  g_parkAirport = "LOWS";
  refreshCounters();
  p = picture();  // its file did not load: the label alone, yellow
  EXPECT_EQ(textAt(p, u"LOWS (SZG)", 5, 399), kYellow);
  EXPECT_EQ(textsIn(p, g_statisticsRect), 1u);

  g_mainWindow.parkFileLoaded = true;
  g_mainWindow.handmade = true;
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportName, "Salzburg", g_statisticsRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportPublisher, "stock", g_statisticsRect);
  g_mainWindow.standCount = 42;
  g_reservedStand = "7";
  refreshCounters();
  p = picture();
  EXPECT_EQ(textAt(p, u"LOWS (SZG)", 5, 399), kLime);
  EXPECT_EQ(textAt(p, u" Salzburg, stock (h), wk=0", 85, 399), kLime);
  EXPECT_EQ(textAt(p, u"reserved stand: 7", 571, 399), kRed);
  EXPECT_EQ(textAt(p, u"# updates:    0", 748, 399), kLime);
  EXPECT_EQ(textAt(p, u"# stands:  42", 5, 427), kLime);
  EXPECT_EQ(textAt(p, u"no max park live", 708, 427), kLime);
  EXPECT_EQ(p.findText(u"parked static:   0"), nullptr);

  g_mainWindow.wantedParkCount = 12;
  g_mainWindow.wantedParkPercent = 30;
  g_mainWindow.staticAverageHours = 2.5f;
  g_mainWindow.reservedStandFound = true;
  p = picture();
  EXPECT_EQ(textAt(p, u"max park:  12 (=30 %)", 708, 427), kLime);
  EXPECT_EQ(textAt(p, u"parked static:   0", 430, 427), kLime);
  EXPECT_EQ(textAt(p, u"average fit: 2.5", 571, 427), kLime);
  EXPECT_EQ(textAt(p, u"reserved stand: 7", 571, 399), kLime);
  g_parkAirport.clear();
  g_reservedStand.clear();
  resetAirportList();
}

TEST_F(PaintTest, ControlsTextStandsOnTheSkyBlueOfThePanel) {
  SetWindowTextW(DESTINATION.binding.hwnd, u"LOWS");
  EnableWindow(DESTINATION.binding.hwnd, FALSE);
  const auto p = picture();
  const auto* shown = p.findText(u"LOWS");
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->window, DESTINATION.binding.hwnd);
  EXPECT_TRUE(shown->opaque);
  EXPECT_EQ(shown->background, kvo::kSkyBlueColour);
}

}  // namespace
