// Exit reasons, the first-reason rule, the closing down with its restart or quit, the
// countdown and the reset between runs.
#include <atomic>
#include <barrier>
#include <thread>

#include <fmt/format.h>

#include "airports/airport_list.h"
#include "airports/park_stands.h"
#include "app/paint.h"
#include "app/text_boxes.h"
#include "links/traffic_reader.h"
#include "app_fixture.h"

using namespace apptest;
using namespace std::chrono_literals;

namespace {

class RunControlTest : public AppTest {};

TEST_F(RunControlTest, ReasonTextsAndAnUnknownCode) {
  const std::vector<std::pair<int, std::string>> table{
      {0, "NOT YET SET"},     {1, "SIM WAS CLOSED"},   {2, "NEW FLIGHT"},   {3, "NEW SETTINGS"},
      {4, "USER CLOSED SIM"}, {5, "SIMCONNECT ERROR"}, {6, "READER ERROR"}, {7, "SYSTEM ERROR"}};
  for (const auto& [code, text] : table) EXPECT_EQ(kvo::exitReasonText(code), text) << code;
  EXPECT_THROW(kvo::exitReasonText(8), std::out_of_range);
}

// What the closing down does for each reason: restart (WM_APP+1) with its countdown, or quit
// (WM_APP+2); scans off for 5 and 6; the notice for 2; the wait for the user after 7.
struct ReasonCase {
  int reason;
  int delay;
  UINT posted;
  bool scansOff;
  int secondWaits;  // countdown steps of 1 s
  bool notice;
};

class ReasonOutcome : public RunControlTest, public ::testing::WithParamInterface<ReasonCase> {};

TEST_P(ReasonOutcome, RestartOrQuitAsTheReasonSays) {
  const ReasonCase c = GetParam();
  makeMainWindow();
  SCAN_LIVERIES.set(true);
  SCAN_AIRPORTS.set(true);
  setAndSaveStringParameter(DESTINATION, "EDDF");
  setAndSaveStringParameter(BLOCK_CALLSIGN, "DLH123");
  g_liveAircraft.emplace_back();
  if (c.reason == kvo::kExitSystemError) {
    // The user closes the window while the error stands.
    onWaitAction = [](std::chrono::milliseconds d) {
      if (d == 500ms && g_exitReason.load() == kvo::kExitSystemError) requestQuitByUser();
    };
  }
  ASSERT_TRUE(endRunWithReason(c.reason, c.delay));
  lf_closingDown();

  EXPECT_EQ(postedRunMessage(), c.posted);
  EXPECT_EQ(g_restarting.load(), c.posted == WM_APP + 1);
  EXPECT_EQ(!SCAN_LIVERIES.value(), c.scansOff);
  EXPECT_EQ(!SCAN_AIRPORTS.value(), c.scansOff);
  EXPECT_EQ(waitsOf(1s), c.secondWaits);
  EXPECT_EQ(waitsOf(10s), c.notice ? 1 : 0);
  // Both are run-scoped: emptied in parameters.xml too, so that no later start takes them up.
  EXPECT_EQ(DESTINATION.value(), "");
  EXPECT_EQ(BLOCK_CALLSIGN.value(), "");
  EXPECT_EQ(storedValue("DESTINATION"), "");
  EXPECT_EQ(storedValue("BLOCK_CALLSIGN"), "");
  const std::string text = log();
  EXPECT_TRUE(contains(text, fmt::format("Exiting: {}", kvo::exitReasonText(c.reason))));
  EXPECT_EQ(contains(text, "Prepare for a restart ..."), c.posted == WM_APP + 1);
  EXPECT_EQ(contains(text, "New flight detected, Ambrelvane will close, please restart manually ..."), c.notice);
  EXPECT_EQ(contains(text, "User closed Ambrelvane"), c.reason == kvo::kExitSystemError);
  if (c.posted == WM_APP + 1) {
    // The reset of a restart: a new run starts from nothing.
    EXPECT_FALSE(g_stopRequested.load());
    EXPECT_EQ(g_exitReason.load(), 0);
    EXPECT_TRUE(g_liveAircraft.empty());
    EXPECT_EQ(contains(text, fmt::format("Restarting after {} seconds", c.delay)), c.delay > 0);
  } else {
    EXPECT_TRUE(g_stopRequested.load());
  }
}

INSTANTIATE_TEST_SUITE_P(EveryReason, ReasonOutcome,
                         ::testing::Values(ReasonCase{1, 0, WM_APP + 2, false, 0, false},
                                           ReasonCase{2, 45, WM_APP + 2, false, 0, true},
                                           ReasonCase{3, 3, WM_APP + 1, false, 3, false},
                                           ReasonCase{3, 0, WM_APP + 1, false, 0, false},
                                           ReasonCase{4, 0, WM_APP + 2, false, 0, false},
                                           ReasonCase{5, 9, WM_APP + 1, true, 9, false},
                                           ReasonCase{6, 15, WM_APP + 1, true, 15, false},
                                           ReasonCase{7, 0, WM_APP + 2, false, 0, false}));

TEST_F(RunControlTest, FirstReasonWinsUnderContention) {
  for (int round = 0; round < 200; ++round) {
    clearRunEndState();
    constexpr int kParties = 6;
    std::barrier start(kParties + 1);
    std::atomic<int> winners{0};
    std::atomic<int> seenByReader{-1};
    std::vector<std::thread> parties;
    for (int p = 0; p < kParties; ++p) {
      parties.emplace_back([&, p] {
        start.arrive_and_wait();
        if (p == 0) {
          requestQuitByUser();  // the window's close takes part too
        } else if (endRunWithReason(10 + p, p * 10)) {  // reasons of their own, apart from 4
          winners.fetch_add(1);
        }
      });
    }
    std::thread reader([&] {
      start.arrive_and_wait();
      // Whoever sees the stop sees its reason.
      while (!g_stopRequested.load()) {
      }
      seenByReader = g_exitReason.load();
    });
    for (auto& t : parties) t.join();
    reader.join();
    const int reason = g_exitReason.load();
    ASSERT_NE(reason, 0);
    ASSERT_EQ(seenByReader.load(), reason) << "round " << round;
    ASSERT_EQ(winners.load(), reason == kvo::kExitUserClosedSim ? 0 : 1) << "round " << round;
    if (reason != kvo::kExitUserClosedSim) {
      ASSERT_EQ(g_restartDelaySeconds.load(), (reason - 10) * 10);
    }
    ASSERT_TRUE(g_quitRequested.load());
  }
}

TEST_F(RunControlTest, WindowCloseSetsReasonFourOnlyWhenNoneIsSet) {
  EXPECT_TRUE(requestQuitByUser());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitUserClosedSim);
  EXPECT_FALSE(requestQuitByUser());  // closing twice keeps the first reason
  EXPECT_FALSE(endRunWithReason(kvo::kExitReaderError, 15));
  EXPECT_EQ(g_exitReason.load(), kvo::kExitUserClosedSim);

  clearRunEndState();
  ASSERT_TRUE(endRunWithReason(kvo::kExitNewSettings, 2));
  EXPECT_FALSE(requestQuitByUser());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitNewSettings);
  EXPECT_TRUE(g_quitRequested.load());
  EXPECT_TRUE(g_stopRequested.load());
}

TEST_F(RunControlTest, ARepairRestartsARunThatWaitsForTheUser) {
  ASSERT_TRUE(endRunWithReason(kvo::kExitSystemError, 0));
  EXPECT_FALSE(endRunWithReason(kvo::kExitReaderError, 15));  // not a repair
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSystemError);
  EXPECT_TRUE(endRunWithReason(kvo::kExitNewSettings, 3));
  EXPECT_EQ(g_exitReason.load(), kvo::kExitNewSettings);
  EXPECT_EQ(g_restartDelaySeconds.load(), 3);

  // After the user closed the window a repair changes nothing.
  clearRunEndState();
  ASSERT_TRUE(endRunWithReason(kvo::kExitSystemError, 0));
  requestQuitByUser();
  EXPECT_FALSE(endRunWithReason(kvo::kExitNewSettings, 3));
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSystemError);
}

TEST_F(RunControlTest, ANewPathTypedDuringTheErrorWaitRestartsTheRun) {
  makeMainWindow();
  // The user's repair arrives while the closing down waits.
  onWaitAction = [](std::chrono::milliseconds d) {
    if (d == 500ms && g_exitReason.load() == kvo::kExitSystemError) endRunWithReason(kvo::kExitNewSettings, 3);
  };
  ASSERT_TRUE(endRunWithReason(kvo::kExitSystemError, 0));
  lf_closingDown();
  EXPECT_EQ(postedRunMessage(), WM_APP + 1);
  EXPECT_FALSE(contains(log(), "User closed"));
  EXPECT_EQ(waitsOf(1s), 3);
}

TEST_F(RunControlTest, AUserErrorAfterALaterReasonKeepsThatReason) {
  // No "docs" folder: the start-up raises user error 41. A new setting was made before: the
  // run restarts instead of waiting for the user.
  makeMainWindow();
  ASSERT_TRUE(endRunWithReason(kvo::kExitNewSettings, 2));
  startupWorker();
  EXPECT_EQ(g_exitReason.load(), 0);  // reset for the new run
  EXPECT_EQ(errorText(), "");           // cleared by the restart
  EXPECT_TRUE(contains(log(), "Exiting: NEW SETTINGS"));
  EXPECT_EQ(postedRunMessage(), WM_APP + 1);
}

TEST_F(RunControlTest, AUserErrorShowsItsTextAndWaitsForTheClose) {
  makeMainWindow();
  int waitsForUser = 0;
  onWaitAction = [&](std::chrono::milliseconds d) {
    if (d == 500ms && g_exitReason.load() == kvo::kExitSystemError && ++waitsForUser == 3) {
      // The error is still shown while the program waits.
      EXPECT_EQ(errorText(), "41: Ambrelvane must be run from the Ambrelvane folder!");
      requestQuitByUser();
    }
  };
  startupWorker();
  EXPECT_EQ(g_exitReason.load(), kvo::kExitSystemError);
  EXPECT_GE(waitsForUser, 3);
  EXPECT_EQ(postedRunMessage(), WM_APP + 2);
  EXPECT_TRUE(contains(log(), "User closed Ambrelvane"));
}

TEST_F(RunControlTest, AnExceptionInTheClosingDownStillEndsTheRun) {
  makeMainWindow();
  // A reason outside the table makes the first step throw.
  {
    ASSERT_TRUE(endRunWithReason(42, 0));
  }
  lf_closingDown();
  EXPECT_EQ(postedRunMessage(), WM_APP + 2);
  EXPECT_TRUE(contains(log(), "lf_closingDown exception"));
  EXPECT_FALSE(g_restarting.load());
}

TEST_F(RunControlTest, ClosingDuringTheCountdownQuits) {
  makeMainWindow();
  int seconds = 0;
  onWaitAction = [&](std::chrono::milliseconds d) {
    if (d == 1s && ++seconds == 2) requestQuitByUser();
  };
  ASSERT_TRUE(endRunWithReason(kvo::kExitReaderError, 15));
  lf_closingDown();
  EXPECT_EQ(seconds, 2);
  EXPECT_EQ(postedRunMessage(), WM_APP + 2);
  EXPECT_FALSE(g_restarting.load());
}

// The window's close may come at any moment of a restart; it always wins. Here it comes from
// the simulator client's thread as the restart's reset joins it, after the countdown, so after
// the closing down's own look at the quit flag.
TEST_F(RunControlTest, ACloseDuringTheRestartIsNeverLost) {
  makeMainWindow();
  std::atomic<bool> countdownOver{false};
  g_simClientThread = std::jthread([&](std::stop_token stop) {
    coretest::waitFor([&] { return stop.stop_requested() && countdownOver.load(); });
    requestQuitByUser();
  });
  onWaitAction = [&](std::chrono::milliseconds d) {
    if (d == 1s && waitsOf(1s) == 2) countdownOver = true;
  };
  ASSERT_TRUE(endRunWithReason(kvo::kExitReaderError, 2));
  lf_closingDown();
  EXPECT_EQ(postedRunMessage(), WM_APP + 2);
  EXPECT_TRUE(g_quitRequested.load());
  EXPECT_TRUE(g_stopRequested.load());
  EXPECT_FALSE(g_restarting.load());

  // Closed before the reset: nothing of the run's end is cleared.
  clearRunEndState();
  endRunWithReason(kvo::kExitNewSettings, 0);
  requestQuitByUser();
  EXPECT_FALSE(resetForNewRun());
  EXPECT_TRUE(g_quitRequested.load());
  EXPECT_TRUE(g_stopRequested.load());
  EXPECT_EQ(g_exitReason.load(), kvo::kExitNewSettings);
}

TEST_F(RunControlTest, CountdownShowsEverySecondAndSkipsAZeroDelay) {
  std::vector<std::string> shown;
  onWaitAction = [&](std::chrono::milliseconds) { shown.push_back(message()); };
  g_restartDelaySeconds = 2;
  restartCountdown();
  EXPECT_EQ(shown, (std::vector<std::string>{"Restarting after 2 seconds", "Restarting after 1 second"}));
  EXPECT_TRUE(contains(log(), "Restarting after 2 seconds\n\n\n\n\n"));

  shown.clear();
  const auto before = log();
  g_restartDelaySeconds = 0;
  restartCountdown();
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(log(), before);
}

TEST_F(RunControlTest, ResetPutsEveryRunValueBack) {
  endRunWithReason(kvo::kExitNewSettings, 3);
  g_userSampleCount = 77;
  g_flightPaused = true;
  g_parkPassPending = true;
  g_parkPassPhase = true;
  g_blockCallsignPending = true;
  g_callsignLookupPending = true;
  g_rtProfEdition = true;
  g_scanChangeRestarts = false;
  g_feedEpochTime = 1700000000.0;
  g_mainWindow.g_rtLinkUp = true;
  g_mainWindow.beforeLinkStep = false;
  g_mainWindow.showErrorMessage("old error");
  g_liveAircraft.emplace_back();
  g_ghostCallsigns.push_back("X");
  RANGE.set(20);
  // The park airport as the statistics show it, with the traffic week its file was read with.
  g_parkAirport = "LOWS";
  g_parkAirportLoaded = true;
  g_rtTrafficWeek = 1;
  refreshCounters();
  EXPECT_EQ(kvo::parkAirportView().trafficWeek, 1u);

  EXPECT_TRUE(resetForNewRun());
  EXPECT_EQ(kvo::parkAirportView(), kvo::ParkAirportView{});
  EXPECT_EQ(g_rtTrafficWeek.load(), 0u);
  EXPECT_TRUE(g_parkAirport.empty());

  EXPECT_FALSE(g_stopRequested.load());
  EXPECT_FALSE(g_quitRequested.load());
  EXPECT_EQ(g_exitReason.load(), 0);
  EXPECT_EQ(g_userSampleCount, 0);
  EXPECT_FALSE(g_flightPaused);
  EXPECT_FALSE(g_parkPassPending.load());
  EXPECT_FALSE(g_parkPassPhase);
  EXPECT_FALSE(g_blockCallsignPending.load());
  EXPECT_FALSE(g_callsignLookupPending.load());
  EXPECT_FALSE(g_rtProfEdition.load());
  EXPECT_TRUE(g_scanChangeRestarts.load());
  EXPECT_EQ(g_feedEpochTime.load(), 0.0);
  EXPECT_FALSE(g_mainWindow.g_rtLinkUp.load());
  EXPECT_TRUE(g_mainWindow.beforeLinkStep.load());
  EXPECT_EQ(errorText(), "");
  EXPECT_TRUE(g_liveAircraft.empty());
  EXPECT_EQ(g_rangeNm.load(), 20.0);
  EXPECT_EQ(g_rangeMeters.load(), 20.0 * 1852.0);
  EXPECT_EQ(g_mainWindow.g_trafficLamp.load(), 3);
}

TEST_F(RunControlTest, ProgramNameFillsBothPlaceholders) {
  EXPECT_EQ(formatWithProgramName("{} must be run from the {} folder!"),
            "Ambrelvane must be run from the Ambrelvane folder!");
}

// The destination applied at start-up (or typed) becomes the first park airport candidate and is
// written to the user's list; "Re-read" waits until the destination is emptied again.
TEST_F(RunControlTest, ADestinationBecomesTheFirstParkAirport) {
  const HWND main = makeMainWindow();
  g_reReadButton.binding.hwnd = CreateWindowExW(0, u"button", u"Re-read", WS_CHILD, 0, 0, 10, 10, main, nullptr,
                                                nullptr, nullptr);
  fs::create_directories("airports");
  coretest::writeFile("airports/my_park_airports.txt", "EDDM\n");
  setAirportList({{"EDDM", "MUC", 48.3538, 11.7861, 1487.0}, {"LOWS", "SZG", 47.7933, 13.0043, 1411.0}});
  ASSERT_TRUE(lf_readMyParkAirports());

  setDestination("LOWS", {47.7933, 13.0043});

  EXPECT_EQ(DESTINATION.value(), "LOWS");
  EXPECT_EQ(storedValue("DESTINATION"), "LOWS");
  EXPECT_EQ(message(), "New destination: LOWS");
  {
    std::lock_guard lock(g_parkAirportsMutex);
    ASSERT_FALSE(g_parkAirports.empty());
    EXPECT_EQ(g_parkAirports.front().code, "LOWS");
  }
  EXPECT_EQ(coretest::readFile("airports/my_park_airports.txt"), "EDDM\nLOWS\n");
  EXPECT_FALSE(IsWindowEnabled(g_reReadButton.binding.hwnd));
  g_reReadButton.binding.hwnd = nullptr;
  resetAirportList();
}

}  // namespace
