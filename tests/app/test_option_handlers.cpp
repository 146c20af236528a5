// The clicks on check boxes and buttons and the choices in the lists, with the messages, saved
// parameters, pending flags and restarts they lead to; the automatic radius and the hand-over of
// work from the window to the worker.
#include "aircraft/livery_db.h"
#include "aircraft/livery_scan.h"
#include "airports/park_stands.h"
#include "airports/addon_scan.h"
#include "traffic/park_airport_file.h"
#include "app/text_boxes.h"
#include "links/sim_ids.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "traffic/traffic_engine.h"
#include "window_fixture.h"

using namespace apptest;

namespace {

class HandlersTest : public WindowTest {
 protected:
  void TearDown() override {
    g_userOnGround.reset();
    {
      std::lock_guard lock(g_simQueueMutex);
      g_userAircraftSnapshot = {};
      g_clientEventQueue.clear();
    }
    g_trimLivePending = false;
    g_scanChangeRestarts = true;
    resetLiveryDbForTests();
    WindowTest::TearDown();
  }
};

// Every check box: its click toggles and saves the value, and says what follows (or clears the
// message line, or leaves it alone).
TEST_F(HandlersTest, EachCheckBoxTogglesSavesAndTellsTheUser) {
  const std::string untouched = "earlier message";
  struct Case {
    CheckBoxParameter* box;
    bool before;
    std::string message;
  };
  const std::vector<Case> cases{
      {&LIG_AUTOMATIC, true, "The liveries defined by your lfolder parameters will be scanned"},
      {&LIG_AUTOMATIC, false, ""},
      {&LIG_PRIORITIZE, false,
       "Liveries, for airl+model, in lower lfolders that are already available will be skipped"},
      {&LIG_PRIORITIZE, true, ""},
      {&COLLISION_LIVE_PARKED_GND, true,
       "Be aware, no collision avoidance with live aircraft vs parked static on the ground"},
      {&COLLISION_USER_GND, true, "Be aware, no collision avoidance with user aircraft on the ground"},
      {&COLLISION_USER_AIR, true, "Be aware, no collision avoidance with user aircraft in the air"},
      {&COLLISION_USER_AIR, false, ""},
      {&INITIAL_LOAD_ONLY, false,
       "Initial Load Only: static parked aircraft are generated once, no renewal every 20 minutes"},
      {&ALWAYS_ON_TOP, false, "Ambrelvane's window will remain visible"},
      {&ALWAYS_ON_TOP, true, ""},
      {&SUPPRESS_STUB, false, "Exclude FSLTL-liveries titles ending with _STUB from scan"},
      {&GUID_CHANGES, true, "Be aware, no more livery updates: you miss correct data for Learn, LittleNavMap, etc!"},
      {&GUID_CHANGES, false, ""},
      {&AEROWINX, false, "Note: This mode is for Aerowinx users only, please re-start Ambrelvane"},
      {&SCAN_AIRPORTS, true, ""},
      {&LOG, true, untouched},
      {&LIGHT_AIRCRAFT, true, untouched},
      {&HELICOPTERS, false, untouched},
      {&HIGH_PERF_AIRCRAFT, true, untouched},
      {&STRAIGHT_PBS_ONLY, false, untouched},
      {&CALLSIGN_OBJECTIDS, false, untouched},
      {&LEARN_SOFT, true, untouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box->name() + (c.before ? " on->off" : " off->on"));
    c.box->set(c.before);
    CheckDlgButton(window, c.box->binding.controlId, c.before ? BST_CHECKED : BST_UNCHECKED);
    g_mainWindow.showMessage(untouched, false);
    click(c.box->binding);
    EXPECT_EQ(c.box->value(), !c.before);
    EXPECT_EQ(checked(c.box->binding), !c.before);
    EXPECT_EQ(storedValue(c.box->name().c_str()), c.before ? "false" : "true");
    EXPECT_EQ(message(), c.message);
  }
  // The effects beyond the message.
  EXPECT_TRUE(enabled(AI_PACKAGE_SELECTOR.binding));  // LIG_AUTOMATIC is on again
  LIG_AUTOMATIC.set(true);
  CheckDlgButton(window, LIG_AUTOMATIC.binding.controlId, BST_CHECKED);
  click(LIG_AUTOMATIC.binding);
  EXPECT_FALSE(enabled(AI_PACKAGE_SELECTOR.binding));
  EXPECT_EQ(kvo::win32test::windowInfo(window)->exStyle & WS_EX_TOPMOST, 0u);
  click(ALWAYS_ON_TOP.binding);
  EXPECT_NE(kvo::win32test::windowInfo(window)->exStyle & WS_EX_TOPMOST, 0u);
}

TEST_F(HandlersTest, ParkingSettingsMarkTheParkAirportsFileOnlyWhileOneIsLoaded) {
  for (CheckBoxParameter* box : {&LEARN_SOFT, &INITIAL_LOAD_ONLY}) {
    g_parkParamsChanged = false;
    g_parkAirportLoaded = false;
    click(box->binding);
    EXPECT_FALSE(g_parkParamsChanged.load()) << box->name();
    g_parkAirportLoaded = true;
    click(box->binding);
    EXPECT_TRUE(g_parkParamsChanged.load()) << box->name();
  }
  INITIAL_LOAD_ONLY.set(false);
  for (CheckBoxParameter* box : {&PARK_SOFT, &PARK_FAKE, &WEEK}) {
    g_parkPassPending = false;
    g_userSampleCount = 20;
    click(box->binding);
    EXPECT_EQ(message(), "Ambrelvane will respond in 10 seconds ...") << box->name();
    EXPECT_TRUE(g_parkPassPending.load()) << box->name();
  }
}

// A scan switched on restarts the run at once until RealTraffic has connected; after that it
// waits for the next start. A run already ending keeps its reason.
TEST_F(HandlersTest, ScanSwitchesRestartBeforeRealTrafficConnects) {
  struct Case {
    CheckBoxParameter* box;
    bool restarts;
    int earlierReason;  // 0: none
    std::string message;
  };
  const std::vector<Case> cases{
      {&SCAN_LIVERIES, true, 0, "Your liveries will be scanned"},
      {&SCAN_LIVERIES, false, 0,
       "Your liveries will be scanned at the next start of Ambrelvane, recommended after you have add/removed AI "
       "aircraft models/liveries"},
      {&SCAN_LIVERIES, true, kvo::kExitReaderError, "Your liveries will be scanned"},
      {&SCAN_AIRPORTS, true, 0, "Your airports will be scanned"},
      {&SCAN_AIRPORTS, false, 0,
       "Your airports will be scanned at the next start of Ambrelvane, recommended after you have add/removed "
       "airports"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box->name() + " " + c.message);
    clearRunEndState();
    g_clearLiveryDbAtRestart = false;
    if (c.earlierReason != 0) endRunWithReason(c.earlierReason, 15);
    g_scanChangeRestarts = c.restarts;
    c.box->set(false);
    CheckDlgButton(window, c.box->binding.controlId, BST_UNCHECKED);
    click(c.box->binding);
    EXPECT_TRUE(c.box->value());
    EXPECT_EQ(message(), c.message);
    EXPECT_EQ(g_stopRequested.load(), c.restarts || c.earlierReason != 0);
    EXPECT_EQ(g_exitReason.load(), c.earlierReason != 0 ? c.earlierReason : c.restarts ? kvo::kExitNewSettings : 0);
    if (c.restarts && c.earlierReason == 0) {
      EXPECT_EQ(g_restartDelaySeconds.load(), 2);
    }
    // The data base the run still uses is cleared only when the run restarts.
    EXPECT_EQ(g_clearLiveryDbAtRestart.load(), c.restarts && c.box == &SCAN_LIVERIES);
  }
}

TEST_F(HandlersTest, AutoRangeHandsTheRadiusToTheWorkerAndPutsTheUsersBackWhenOff) {
  AUTO_RANGE.set(true);
  CheckDlgButton(window, AUTO_RANGE.binding.controlId, BST_CHECKED);
  g_startRange = 25;
  click(AUTO_RANGE.binding);  // off: the radius from the start comes back
  EXPECT_EQ(RANGE.value(), 25);
  EXPECT_EQ(g_rangeNm.load(), 25.0);
  EXPECT_EQ(g_rangeMeters.load(), 25.0 * 1852.0);
  EXPECT_EQ(kvo::win32test::comboSelection(RANGE.binding.hwnd), RANGE.indexOf(25));
  EXPECT_TRUE(enabled(RANGE.binding));
  EXPECT_FALSE(enabled(AR_ABOVE_HEIGHT.binding));
  EXPECT_TRUE(g_parkParamsChanged.load());

  selectComboValue(30);
  click(AUTO_RANGE.binding);  // on: kept for the next off, applied by the worker
  EXPECT_EQ(g_startRange.load(), 30);
  EXPECT_FALSE(enabled(RANGE.binding));
  EXPECT_TRUE(enabled(AR_ABOVE_HEIGHT.binding));
  EXPECT_EQ(RANGE.value(), 30);  // nothing changed on the window thread
  EXPECT_TRUE(g_autoRangePending.load());
  g_userOnGround.store(true);
  takeWindowRequests();
  EXPECT_EQ(RANGE.value(), 10);
  EXPECT_FALSE(g_autoRangePending.load());
  EXPECT_EQ(storedValue("RANGE"), "");  // the automatic radius is not saved

  // Switched off again before the worker took it: nothing is applied.
  click(AUTO_RANGE.binding);
  click(AUTO_RANGE.binding);
  click(AUTO_RANGE.binding);
  EXPECT_FALSE(AUTO_RANGE.value());
  takeWindowRequests();
  EXPECT_EQ(RANGE.value(), 30);
}

TEST_F(HandlersTest, AutoRangeFollowsTheUsersHeightAboveGroundAndTheParkAirport) {
  AR_ABOVE_HEIGHT.set(30000);
  AIRP_HEIGHT.set(10000);
  struct Case {
    bool onGround;
    double aglFt;
    std::optional<double> distanceNm;
    int range;
  };
  const std::vector<Case> cases{
      {true, 40000.0, 3.0, 10},     {false, 30001.0, 3.0, 100}, {false, 30000.0, 3.0, 40},
      {false, 10001.0, 3.0, 40},    {false, 10000.0, 7.0, 10},  {false, 500.0, 7.4, 10}, {false, 500.0, 7.6, 12},
      {false, 500.0, 8.0, 12},      {false, 500.0, 12.4, 16},   {false, 500.0, 36.4, 40},
      {false, 500.0, 36.6, 40},     {false, 500.0, 37.0, 40},   {false, 500.0, std::nullopt, 40},
      {false, 500.0, 0.0, 10},     {false, 500.0, 3.0, 10},      {false, 500.0, 21.0, 25},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kvo::autoRangeFor(c.onGround, c.aglFt, c.distanceNm), c.range)
        << c.onGround << " " << c.aglFt << " " << c.distanceNm.value_or(-1);
  }
  // The worker's reading: the height above ground decides, not the altitude above the sea.
  g_userOnGround.store(false);
  {
    std::lock_guard lock(g_simQueueMutex);
    g_userAircraftSnapshot.lat = 47.8;
    g_userAircraftSnapshot.lon = 13.0;
    g_userAircraftSnapshot.altFt = 35000.0;
    g_userAircraftSnapshot.aglFt = 2000.0;
  }
  applyAutoRange();
  EXPECT_EQ(RANGE.value(), 40);  // no park airport: far away
  EXPECT_EQ(kvo::win32test::comboSelection(RANGE.binding.hwnd), RANGE.indexOf(40));
}

TEST_F(HandlersTest, NavigationLightsReachTheParkedAircraftThroughTheWorker) {
  auto live = [](std::uint32_t objectId, kvo::AircraftState state, kvo::GroundPhase phase) {
    kvo::LiveAircraft a;
    a.objectId = objectId;
    a.state = state;
    a.phase = phase;
    g_liveAircraft.push_back(a);
  };
  live(11, kvo::AircraftState::Active, kvo::GroundPhase::Parked);
  live(12, kvo::AircraftState::Active, kvo::GroundPhase::Taxi);
  live(13, kvo::AircraftState::Adding2Sim, kvo::GroundPhase::Parked);
  kvo::StaticAircraft parked;
  parked.objectId = 21;
  parked.state = kvo::AircraftState::Active;
  g_staticAircraft.push_back(parked);
  parked.objectId = 22;
  parked.state = kvo::AircraftState::RemovingFromSim;
  g_staticAircraft.push_back(parked);

  click(NAV_LIGHTS_WHILE_PARKED.binding);  // on -> off
  {
    std::lock_guard lock(g_simQueueMutex);
    EXPECT_TRUE(g_clientEventQueue.empty());  // the window thread queues nothing
  }
  takeWindowRequests();
  std::vector<std::uint32_t> lit;
  {
    std::lock_guard lock(g_simQueueMutex);
    for (const auto& e : g_clientEventQueue) {
      EXPECT_EQ(e.eventId, kvo::kEventNavLightsSet);
      EXPECT_EQ(e.data, 0u);
      lit.push_back(e.objectId);
    }
  }
  EXPECT_EQ(lit, (std::vector<std::uint32_t>{21, 11}));
  takeWindowRequests();  // taken once
  std::lock_guard lock(g_simQueueMutex);
  EXPECT_EQ(g_clientEventQueue.size(), 2u);
}

TEST_F(HandlersTest, ButtonsHandTheirWorkToTheMainLoop) {
  click(g_unblockButton.binding);
  EXPECT_EQ(message(), "Nothing to block or unblock...");
  BLOCK_CALLSIGN.set("DLH123");
  click(g_unblockButton.binding);
  EXPECT_EQ(message(), "no more blocking of live aircraft 'DLH123'");
  EXPECT_FALSE(enabled(g_unblockButton.binding));

  click(g_reReadButton.binding);
  EXPECT_TRUE(g_parkCheckPending.exchange(false));
  EXPECT_FALSE(enabled(g_reReadButton.binding));
  EXPECT_FALSE(enabled(DESTINATION.binding));

  click(g_flushStaticButton.binding);
  EXPECT_EQ(message(), "All static parked aircraft will be removed ...");
  EXPECT_TRUE(g_flushStaticPending.exchange(false));
  EXPECT_FALSE(enabled(g_flushStaticButton.binding));
}

TEST_F(HandlersTest, ListChoicesAreSavedAndApplied) {
  ASSERT_TRUE(choose(MATCHING_DEPTH.binding, u"2"));
  EXPECT_EQ(MATCHING_DEPTH.value(), 2);
  EXPECT_EQ(storedValue("MATCHING_DEPTH"), "2");
  ASSERT_TRUE(choose(AIRP_HEIGHT.binding, u"36000"));
  EXPECT_EQ(storedValue("AIRP_HEIGHT"), "36000");
  ASSERT_TRUE(choose(AI_PACKAGE_SELECTOR.binding, u"FSLTL, AIG, JF"));
  EXPECT_EQ(storedValue("AI_PACKAGE_SELECTOR"), "FSLTL, AIG, JF");

  EnableWindow(RANGE.binding.hwnd, TRUE);  // AUTO_RANGE off
  ASSERT_TRUE(choose(RANGE.binding, u"65"));
  EXPECT_EQ(storedValue("RANGE"), "65");
  EXPECT_EQ(g_rangeNm.load(), 65.0);
  EXPECT_EQ(g_rangeMeters.load(), 65.0 * 1852.0);
  EXPECT_TRUE(g_parkParamsChanged.load());

  g_parkAirportLoaded = false;
  ASSERT_TRUE(choose(MAX_LIVE_SEL.binding, u"25"));
  EXPECT_EQ(g_savedMaxLive.load(), 25);
  EXPECT_TRUE(g_trimLivePending.exchange(false));  // the worker trims the live aircraft
  g_parkAirportLoaded = true;
  g_parkParamsChanged = false;
  ASSERT_TRUE(choose(MAX_LIVE_SEL.binding, u"0"));
  EXPECT_EQ(g_savedMaxLive.load(), 25);
  EXPECT_TRUE(g_parkParamsChanged.load());
  EXPECT_TRUE(g_trimLivePending.load());

  g_userSampleCount = 3;
  ASSERT_TRUE(choose(MAX_PARK_SEL.binding, u"100"));
  EXPECT_EQ(storedValue("MAX_PARK_SEL"), "100");
  EXPECT_EQ(message(), "Ambrelvane will respond in 12 seconds ...");
}

TEST_F(HandlersTest, SwitchingTheSimulatorRescansAtTheRestart) {
  fs::create_directories("output");
  coretest::writeFile("output/LiveriesScanned.xml", "<liveries/>");
  buildLiveryDb({{"DLH", "A320", "AIG A320 Lufthansa", "", 0, 0}});
  g_scannedLiveriesProcessed = true;
  SCAN_LIVERIES.set(false);
  SCAN_AIRPORTS.set(false);
  ALL_INSTALL_PATH.set("/sim2020");
  MYSIMADDON24_VERSION.set("1.2.3");

  ASSERT_TRUE(choose(SIM_CHOICE.binding, u"MSFS 2024"));
  EXPECT_EQ(storedValue("SIM_CHOICE"), "MSFS 2024");
  EXPECT_FALSE(g_simIs2020.load());
  EXPECT_FALSE(fs::exists("output/LiveriesScanned.xml"));
  EXPECT_TRUE(SCAN_LIVERIES.value() && SCAN_AIRPORTS.value());
  EXPECT_TRUE(checked(SCAN_LIVERIES.binding) && checked(SCAN_AIRPORTS.binding));
  EXPECT_EQ(storedValue("SCAN_LIVERIES"), "true");
  EXPECT_EQ(message(), "Switching Simulator to MSFS 2024");
  EXPECT_EQ(ALL_INSTALL_PATH.value(), "");
  EXPECT_EQ(boxText(ALL_INSTALL_PATH.binding), u"");
  EXPECT_EQ(storedValue("MYSIMADDON24_VERSION"), "");
  EXPECT_EQ(g_exitReason.load(), kvo::kExitNewSettings);
  EXPECT_EQ(g_restartDelaySeconds.load(), 3);
  // The running traffic keeps its liveries until the reset between the runs.
  EXPECT_EQ(liveryDbSize(), 1u);
  resetForNewRun();
  EXPECT_EQ(liveryDbSize(), 0u);
  EXPECT_FALSE(g_scannedLiveriesProcessed.load());

  // The simulator already chosen: nothing happens.
  g_mainWindow.clearMessage();
  SIM_CHOICE.set("MSFS 2020");
  g_simIs2020 = true;
  ASSERT_TRUE(choose(SIM_CHOICE.binding, u"MSFS 2020"));
  EXPECT_EQ(message(), "");
  EXPECT_FALSE(g_stopRequested.load());
}

TEST_F(HandlersTest, CommandsOfNoOptionGoToTheDefaultHandler) {
  kvo::win32test::clearInvalidations(window);
  EXPECT_FALSE(lf_HandleWMCOMMAND(window, MAKEWPARAM(0x7001, BN_CLICKED)));
  // A notification other than a click of a check box is not a click.
  EXPECT_FALSE(lf_HandleWMCOMMAND(window, MAKEWPARAM(LOG.binding.controlId, 5)));
  EXPECT_TRUE(LOG.value());
  const auto repaints = kvo::win32test::invalidations(window);
  ASSERT_FALSE(repaints.empty());
  EXPECT_EQ(repaints.back().rect.top, g_panelRect.top);
}

}  // namespace
