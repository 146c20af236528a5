// The option controls as WM_CREATE makes them, the edit boxes taking a typed value on Enter
// (every text box's rules and the bad input they refuse), the worker's writes reaching the
// controls through the window thread, and exceptions stopped at the window procedure's edge.
#include <thread>

#include "airports/airport_list.h"
#include "airports/park_stands.h"
#include "traffic/park_airport_file.h"
#include "app/text_boxes.h"
#include "window_fixture.h"

using namespace apptest;

namespace {

class ControlsTest : public WindowTest {};

TEST_F(ControlsTest, EveryControlStandsWhereTheTableSaysWithItsKindAndValue) {
  enum Kind { Check, List, Edit, Button };
  struct Row {
    Parameter* parameter;
    Kind kind;
    RECT rect;
  };
  const std::vector<Row> table{
      {&SIM_CHOICE, List, {5, 114, 110, 194}},          {&ALL_INSTALL_PATH, Edit, {111, 119, 1311, 135}},
      {&SCAN_LIVERIES, Check, {5, 149, 17, 161}},       {&LIG_AUTOMATIC, Check, {217, 149, 229, 161}},
      {&AI_PACKAGE_SELECTOR, List, {308, 142, 433, 286}}, {&LIG_PRIORITIZE, Check, {450, 149, 462, 161}},
      {&SUPPRESS_STUB, Check, {536, 149, 548, 161}},    {&LOG, Check, {652, 149, 664, 161}},
      {&ALWAYS_ON_TOP, Check, {748, 149, 760, 161}},    {&SCAN_AIRPORTS, Check, {5, 177, 17, 189}},
      {&NAV_LIGHTS_WHILE_PARKED, Check, {652, 177, 664, 189}}, {&LEARN_SOFT, Check, {748, 177, 760, 189}},
      {&MATCHING_DEPTH, List, {217, 198, 257, 318}},    {&LIGHT_AIRCRAFT, Check, {323, 205, 335, 217}},
      {&HELICOPTERS, Check, {430, 205, 442, 217}},      {&HIGH_PERF_AIRCRAFT, Check, {536, 205, 548, 217}},
      {&AEROWINX, Check, {652, 205, 664, 217}},         {&GUID_CHANGES, Check, {748, 205, 760, 217}},
      {&RANGE, List, {217, 226, 267, 426}},             {&AUTO_RANGE, Check, {323, 233, 335, 245}},
      {&AR_ABOVE_HEIGHT, List, {455, 226, 525, 456}},   {&CALLSIGN_OBJECTIDS, Check, {748, 233, 760, 245}},
      {&COLLISION_USER_GND, Check, {217, 289, 229, 301}}, {&COLLISION_USER_AIR, Check, {323, 289, 335, 301}},
      {&COLLISION_LIVE_PARKED_GND, Check, {430, 289, 442, 301}}, {&BLOCK_CALLSIGN, Edit, {217, 259, 317, 275}},
      {&g_unblockButton, Button, {323, 257, 393, 277}}, {&CALLSIGN_2_OBJECTID, Edit, {460, 259, 555, 275}},
      {&MAX_PARK_SEL, List, {323, 310, 378, 454}},      {&MAX_LIVE_SEL, List, {536, 310, 591, 454}},
      {&DESTINATION, Edit, {217, 343, 267, 359}},       {&AIRP_RANGE, List, {353, 338, 398, 482}},
      {&AIRP_HEIGHT, List, {566, 338, 636, 568}},       {&STRAIGHT_PBS_ONLY, Check, {652, 317, 664, 329}},
      {&PARK_FAKE, Check, {5, 373, 17, 385}},           {&WEEK, Check, {71, 373, 83, 385}},
      {&PARK_SOFT, Check, {151, 373, 163, 385}},        {&parking_percentage, Edit, {323, 371, 357, 387}},
      {&INITIAL_LOAD_ONLY, Check, {430, 373, 442, 385}}, {&MAX_FIT_FL, Edit, {566, 371, 600, 387}},
      {&g_reReadButton, Button, {758, 341, 848, 361}},  {&g_flushStaticButton, Button, {758, 369, 848, 389}},
  };
  const auto children = kvo::win32test::children(window);
  ASSERT_EQ(children.size(), table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    const Row& row = table[i];
    const ControlBinding& binding = *bindingOf(*row.parameter);
    SCOPED_TRACE(row.parameter->name());
    EXPECT_EQ(children[i], binding.hwnd);  // creation order
    EXPECT_EQ(GetDlgItem(window, binding.controlId), binding.hwnd);
    const auto info = kvo::win32test::windowInfo(binding.hwnd);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->rect.left, row.rect.left);
    EXPECT_EQ(info->rect.top, row.rect.top);
    EXPECT_EQ(info->rect.right, row.rect.right);
    EXPECT_EQ(info->rect.bottom, row.rect.bottom);
    EXPECT_TRUE(info->style & WS_CHILD);
    switch (row.kind) {
      case Check:
        EXPECT_EQ(info->className, u"button");
        EXPECT_EQ(info->style & 0xF, BS_CHECKBOX);  // the program toggles it
        EXPECT_EQ(info->check == BST_CHECKED, static_cast<BoolParameter*>(row.parameter)->value());
        break;
      case List:
        EXPECT_EQ(info->className, u"ComboBox");
        EXPECT_EQ(info->style & 0xF, CBS_DROPDOWNLIST);
        break;
      case Edit:
        EXPECT_EQ(info->className, u"Edit");
        EXPECT_TRUE(info->style & WS_BORDER);
        EXPECT_NE(binding.previousProc, 0);  // subclassed
        EXPECT_NE(GetWindowLongPtrW(binding.hwnd, GWLP_WNDPROC), binding.previousProc);
        break;
      case Button:
        EXPECT_EQ(info->className, u"button");
        EXPECT_EQ(info->text, win32::utf8ToWide(row.parameter->name()));
        break;
    }
  }
  // The lists hold their entries with the value selected (the start-up checks fill them).
  EXPECT_EQ(kvo::win32test::comboItems(RANGE.binding.hwnd).size(), RANGE.entries().size());
  EXPECT_EQ(kvo::win32test::comboSelection(RANGE.binding.hwnd), RANGE.indexOf(RANGE.value()));
}

TEST_F(ControlsTest, ControlsCreatedWithTheirStartingState) {
  // A second window made from other values: check boxes follow their parameters, edit boxes
  // and buttons start disabled.
  LOG.set(false);
  AEROWINX.set(true);
  DestroyWindow(window);
  ASSERT_TRUE(initInstance(GetModuleHandleW(nullptr), u"AmbrelvaneTest"));
  EXPECT_FALSE(checked(LOG.binding));
  EXPECT_TRUE(checked(AEROWINX.binding));
  EXPECT_TRUE(enabled(LOG.binding));
  for (const ControlBinding* b : {&DESTINATION.binding, &BLOCK_CALLSIGN.binding, &g_unblockButton.binding,
                                  &g_reReadButton.binding, &g_flushStaticButton.binding}) {
    EXPECT_FALSE(enabled(*b)) << b->controlId;
  }
}

// ---- the integer and float boxes -----------------------------------------------------------------

TEST_F(ControlsTest, ParkingPercentageTakesWholeNumbersWithinItsLimits) {
  struct Case {
    std::u16string typed;
    int value;
    std::string message;
  };
  const std::vector<Case> cases{
      {u"150", 100, "The new parking_percentage is 100"},
      {u"", 0, "The new parking_percentage is 0"},
      {u" 42 ", 42, "The new parking_percentage is 42"},
      {u"-5", 0, "The new parking_percentage is 0"},
      {u"30", 30, "Same parking_percentage value 30, no changes made"},
      {u"abc", 30, "invalid input: abc"},
      {u"12abc", 30, "invalid input: 12abc"},
      {u"99999999999", 30, "invalid input: 99999999999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(win32::wideToUtf8(c.typed));
    parking_percentage.set(30);
    typeAndEnter(parking_percentage.binding, c.typed);
    EXPECT_EQ(parking_percentage.value(), c.value);
    EXPECT_EQ(message(), c.message);
    EXPECT_EQ(boxText(parking_percentage.binding), win32::utf8ToWide(std::to_string(c.value)));
  }
  EXPECT_EQ(storedValue("parking_percentage"), "");  // never saved: the run's value only
}

TEST_F(ControlsTest, MaxFitTakesHalfHoursAndPlansTheNextParkingPass) {
  struct Case {
    std::u16string typed;
    int maxFit;
    float hours;
    bool changed;
  };
  const std::vector<Case> cases{
      {u"7.3", 14, 7.5f, true}, {u"0.2", 0, 0.5f, true},   {u"30", 47, 24.0f, true},
      {u"", 47, 24.0f, true},   {u"nan", 47, 24.0f, false}, {u"24", 47, 24.0f, false},
  };
  g_parkAirportLoaded = true;
  g_userSampleCount = 7;
  for (const Case& c : cases) {
    SCOPED_TRACE(win32::wideToUtf8(c.typed));
    MAX_FIT.set(47);
    MAX_FIT_FL.set(24.0f);
    g_parkPassPending = false;
    typeAndEnter(MAX_FIT_FL.binding, c.typed);
    EXPECT_EQ(MAX_FIT.value(), c.maxFit);
    EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), c.hours);
    EXPECT_EQ(boxText(MAX_FIT_FL.binding), win32::utf8ToWide(formatNumber(c.hours)));
    EXPECT_EQ(g_parkPassPending.load(), c.changed);
    if (c.changed) {
      EXPECT_EQ(storedValue("MAX_FIT"), std::to_string(c.maxFit));
      EXPECT_EQ(message(), "Ambrelvane will respond in 8 seconds ...");
    }
  }
  // Without a park airport the box only shows the value in force again.
  g_parkAirportLoaded = false;
  typeAndEnter(MAX_FIT_FL.binding, u"3");
  EXPECT_EQ(MAX_FIT.value(), 47);
  EXPECT_EQ(boxText(MAX_FIT_FL.binding), u"24");
}

TEST_F(ControlsTest, ResponseDelayCountsToTheNextFifteenSampleJob) {
  g_parkAirportLoaded = true;
  for (const auto& [samples, text] : std::vector<std::pair<int, std::string>>{
           {0, "Ambrelvane will respond in 15 seconds ..."}, {14, "Ambrelvane will respond in 1 second ..."},
           {15, "Ambrelvane will respond in 15 seconds ..."}}) {
    g_userSampleCount = samples;
    announceResponseDelay();
    EXPECT_EQ(message(), text);
  }
  INITIAL_LOAD_ONLY.set(true);
  g_parkPassPending = false;
  announceResponseDelay();
  EXPECT_EQ(message(), "");
  EXPECT_FALSE(g_parkPassPending.load());
  EXPECT_TRUE(g_parkParamsChanged.load());
}

// ---- the text boxes ----------------------------------------------------------------------------

TEST_F(ControlsTest, BlockCallsignStoresUpperCaseAndUnblocks) {
  struct Step {
    std::u16string typed;
    std::string value;
    std::string message;
    bool unblockEnabled;
  };
  const std::vector<Step> steps{
      {u"abc", "", "callsign 'abc' is not valid", false},
      {u"dlh123", "DLH123", "live aircraft with callsign 'DLH123' will be blocked", true},
      {u"DLH123", "DLH123", "callsign 'DLH123' was already set ...", true},
      {u"abcdefghi", "DLH123", "callsign 'abcdefghi' is not valid", true},
      {u"", "", "no more blocking of live aircraft 'DLH123'", false},
  };
  EnableWindow(g_unblockButton.binding.hwnd, FALSE);
  for (const Step& s : steps) {
    SCOPED_TRACE(win32::wideToUtf8(s.typed));
    g_blockCallsignPending = false;
    typeAndEnter(BLOCK_CALLSIGN.binding, s.typed);
    EXPECT_EQ(BLOCK_CALLSIGN.value(), s.value);
    EXPECT_EQ(storedValue("BLOCK_CALLSIGN"), s.value);
    EXPECT_EQ(message(), s.message);
    EXPECT_TRUE(contains(log(), s.message));
    EXPECT_EQ(boxText(BLOCK_CALLSIGN.binding), win32::utf8ToWide(s.value));
    EXPECT_EQ(enabled(g_unblockButton.binding), s.unblockEnabled);
    EXPECT_EQ(g_blockCallsignPending.load(), s.message.find("block") != std::string::npos &&
                                                 s.message.find("not valid") == std::string::npos &&
                                                 s.message.find("already") == std::string::npos);
  }
}

TEST_F(ControlsTest, DestinationMustBeAKnownAirport) {
  setAirportList({{"LOWS", "SZG", 47.79, 13.0, 1411.0}, {"EDDF", "FRA", 50.03, 8.57, 364.0}});
  struct Step {
    std::u16string typed;
    std::string value;
    std::string stored;
    std::string message;
    bool reReadEnabled;
  };
  const std::vector<Step> steps{
      {u"abc", "", "", "destination 'abc' is not valid", true},
      {u"zzzz", "", "", "destination 'ZZZZ' is unknown ...", true},
      {u"lows", "LOWS", "LOWS", "New destination: LOWS", false},
      {u"LOWS", "LOWS", "LOWS", "destination 'LOWS' was already set ...", false},
      // Emptied, not saved at once: the closing down saves it empty.
      {u"", "", "LOWS", "destination set to empty", true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(win32::wideToUtf8(s.typed));
    typeAndEnter(DESTINATION.binding, s.typed);
    EXPECT_EQ(DESTINATION.value(), s.value);
    EXPECT_EQ(storedValue("DESTINATION"), s.stored);
    EXPECT_EQ(message(), s.message);
    EXPECT_TRUE(contains(log(), s.message));
    EXPECT_EQ(enabled(g_reReadButton.binding), s.reReadEnabled);
  }
  resetAirportList();
}

TEST_F(ControlsTest, ObjectIdCallsignStartsTheLookupAndIsNotSaved) {
  typeAndEnter(CALLSIGN_2_OBJECTID.binding, u"dlh1");
  EXPECT_EQ(CALLSIGN_2_OBJECTID.value(), "DLH1");
  EXPECT_EQ(boxText(CALLSIGN_2_OBJECTID.binding), u"DLH1");
  EXPECT_TRUE(g_callsignLookupPending.exchange(false));
  EXPECT_EQ(storedValue("CALLSIGN_2_OBJECTID"), "");
  typeAndEnter(CALLSIGN_2_OBJECTID.binding, u"");
  EXPECT_EQ(CALLSIGN_2_OBJECTID.value(), "");
  EXPECT_FALSE(g_callsignLookupPending.load());
}

TEST_F(ControlsTest, InstallPathTakesThePackagesFolderOrItsCommunityFolder) {
  const fs::path root = folder_.path() / "sims";
  fs::create_directories(root / "Packages" / "Community");
  fs::create_directories(root / "CommunityGames" / "MSFS" / "Community");
  fs::create_directories(root / "plain");
  struct Case {
    std::string typed;
    std::string stored;  // empty: refused
    std::string message;
  };
  const std::string restart = "Community path found, Ambrelvane will restart ...";
  const std::vector<Case> cases{
      {(root / "Packages").string(), (root / "Packages").string(), restart},
      {(root / "Packages" / "Community").string(), (root / "Packages").string(), restart},
      // The last component named Community decides, not the first "Community" in the text.
      {(root / "CommunityGames" / "MSFS" / "Community").string(), (root / "CommunityGames" / "MSFS").string(), restart},
      {(root / "CommunityGames" / "MSFS" / "Community").string() + "/", (root / "CommunityGames" / "MSFS").string(),
       restart},
      {(root / "missing").string(), "", "This install path does not exist: " + (root / "missing").string()},
      {(root / "plain").string(), "", "This path exists but is not a path to Community ..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    clearRunEndState();
    MSFS_INSTALL_PATH.set("before");
    ALL_INSTALL_PATH.set("before");
    g_mainWindow.showErrorMessage("No install path detected");  // the error the path repairs
    typeAndEnter(ALL_INSTALL_PATH.binding, win32::utf8ToWide(c.typed));
    EXPECT_EQ(errorText(), "");
    EXPECT_EQ(message(), c.message);
    EXPECT_TRUE(contains(log(), c.message));
    EXPECT_EQ(MSFS_INSTALL_PATH.value(), c.stored.empty() ? "before" : c.stored);
    EXPECT_EQ(g_stopRequested.load(), !c.stored.empty());
    if (!c.stored.empty()) {
      EXPECT_EQ(storedValue("MSFS_INSTALL_PATH"), c.stored);
      EXPECT_EQ(g_exitReason.load(), kvo::kExitNewSettings);
      EXPECT_EQ(g_restartDelaySeconds.load(), 3);
      EXPECT_EQ(boxText(ALL_INSTALL_PATH.binding), win32::utf8ToWide(c.stored));
    } else {
      EXPECT_EQ(boxText(ALL_INSTALL_PATH.binding), u"before");
    }
  }
  // MSFS 2024 has its own stored path; an empty text forgets it.
  g_simIs2020 = false;
  MSFS_2024_INSTALL_PATH.set("old");
  typeAndEnter(ALL_INSTALL_PATH.binding, u"");
  EXPECT_EQ(MSFS_2024_INSTALL_PATH.value(), "");
  EXPECT_EQ(MSFS_INSTALL_PATH.value(), "before");
}

// Every box refuses text that no setting can be made of; the value in force stays, nothing is
// saved and the box shows the value again.
TEST_F(ControlsTest, BadInputIsRefusedInEveryBox) {
  g_parkAirportLoaded = true;
  BLOCK_CALLSIGN.set("DLH123");
  DESTINATION.set("LOWS");
  CALLSIGN_2_OBJECTID.set("BAW1");
  ALL_INSTALL_PATH.set("/sim");
  MSFS_INSTALL_PATH.set("/sim");
  saveStringParameter(BLOCK_CALLSIGN);
  const std::string storeBefore = coretest::readFile(parametersFilePath());
  const std::vector<std::pair<std::u16string, std::string>> inputs{
      {std::u16string(1001, u'A'), "The typed text is too long (more than 1000 characters), no changes made"},
      {u"DL\tH1", "The typed text holds control or invisible characters, no changes made"},
      {u"AB\x7F", "The typed text holds control or invisible characters, no changes made"},
      {u"D\u200BX00", "The typed text holds control or invisible characters, no changes made"},
      {std::u16string(u"AB") + char16_t(0xD800), "The typed text is not valid Unicode, no changes made"},
  };
  struct Box {
    const Parameter* parameter;
    const ControlBinding* binding;
    std::u16string shown;
  };
  const std::vector<Box> boxes{{&BLOCK_CALLSIGN, &BLOCK_CALLSIGN.binding, u"DLH123"},
                               {&DESTINATION, &DESTINATION.binding, u"LOWS"},
                               {&CALLSIGN_2_OBJECTID, &CALLSIGN_2_OBJECTID.binding, u"BAW1"},
                               {&ALL_INSTALL_PATH, &ALL_INSTALL_PATH.binding, u"/sim"},
                               {&parking_percentage, &parking_percentage.binding, u"30"},
                               {&MAX_FIT_FL, &MAX_FIT_FL.binding, u"24"}};
  for (const Box& box : boxes) {
    for (const auto& [typed, refusal] : inputs) {
      SCOPED_TRACE(box.parameter->name() + ": " + refusal);
      typeAndEnter(*box.binding, typed);
      EXPECT_EQ(message(), refusal);
      EXPECT_EQ(boxText(*box.binding), box.shown);
      EXPECT_EQ(box.parameter->storedText(), win32::wideToUtf8(box.shown));
    }
  }
  EXPECT_EQ(MSFS_INSTALL_PATH.value(), "/sim");
  EXPECT_FALSE(g_stopRequested.load());
  EXPECT_FALSE(g_callsignLookupPending.load());
  EXPECT_EQ(coretest::readFile(parametersFilePath()), storeBefore);
  // The longest text taken; a no-break space (the first character past the C1 controls) too.
  typeAndEnter(CALLSIGN_2_OBJECTID.binding, std::u16string(1000, u'a'));
  EXPECT_EQ(CALLSIGN_2_OBJECTID.value(), std::string(1000, 'A'));
  typeAndEnter(CALLSIGN_2_OBJECTID.binding, u"a\u00A0b");
  EXPECT_EQ(CALLSIGN_2_OBJECTID.value(), "A\u00A0B");
}

TEST_F(ControlsTest, ADisabledBoxTakesNoEntry) {
  EnableWindow(BLOCK_CALLSIGN.binding.hwnd, FALSE);
  typeAndEnter(BLOCK_CALLSIGN.binding, u"DLH123");
  EXPECT_EQ(BLOCK_CALLSIGN.value(), "");
  EXPECT_FALSE(g_blockCallsignPending.load());
}

TEST_F(ControlsTest, ThePressedEnterDoesNotReachTheBoxAndOtherKeysDo) {
  SetWindowTextW(DESTINATION.binding.hwnd, u"");
  for (char16_t c : std::u16string(u"lo")) SendMessageW(DESTINATION.binding.hwnd, WM_CHAR, c, 0);
  EXPECT_EQ(boxText(DESTINATION.binding), u"lo");
  EXPECT_EQ(SendMessageW(DESTINATION.binding.hwnd, WM_CHAR, 13, 0), 0);
  EXPECT_EQ(message(), "destination 'lo' is not valid");
}

// ---- threads and failures ----------------------------------------------------------------------

TEST_F(ControlsTest, TheWorkersWritesReachTheControlsOnTheWindowThread) {
  std::thread([] {
    DESTINATION.set("EDDF");
    setTextBoxString(DESTINATION);
    enableControl(g_reReadButton.binding, false);
    parking_percentage.set(55);
    setTextBoxInt(parking_percentage);
    clearTextBox(MAX_FIT_FL.binding.controlId);
    selectComboValue(12);
    INITIAL_LOAD_ONLY.set(true);
    showValueInControl(INITIAL_LOAD_ONLY);
  }).join();
  // Nothing touched the controls from the other thread.
  EXPECT_EQ(boxText(DESTINATION.binding), u"");
  EXPECT_TRUE(enabled(g_reReadButton.binding));
  EXPECT_GT(kvo::win32test::postedMessageCount(), 0u);
  SetWindowTextW(MAX_FIT_FL.binding.hwnd, u"7");
  pumpPosted();
  EXPECT_EQ(boxText(DESTINATION.binding), u"EDDF");
  EXPECT_FALSE(enabled(g_reReadButton.binding));
  EXPECT_EQ(boxText(parking_percentage.binding), u"55");
  EXPECT_EQ(boxText(MAX_FIT_FL.binding), u"");
  EXPECT_EQ(kvo::win32test::comboSelection(RANGE.binding.hwnd), RANGE.indexOf(12));
  EXPECT_EQ(g_rangeNm.load(), 12.0);
  EXPECT_TRUE(checked(INITIAL_LOAD_ONLY.binding));
}

TEST_F(ControlsTest, AnExceptionStopsAtTheWindowProceduresEdge) {
  // A path component longer than the system allows: its status cannot be read.
  const std::string tooLong = "/" + std::string(300, 'a');
  typeAndEnter(ALL_INSTALL_PATH.binding, win32::utf8ToWide(tooLong));
  EXPECT_TRUE(errorText().starts_with("installPathBoxProc exception ")) << errorText();
  EXPECT_TRUE(contains(log(), "===> installPathBoxProc exception "));
  EXPECT_FALSE(g_stopRequested.load());
  // The window goes on: the next entry is taken (and repairs the error).
  fs::create_directories(folder_.path() / "sim" / "Community");
  typeAndEnter(ALL_INSTALL_PATH.binding, win32::utf8ToWide((folder_.path() / "sim").string()));
  EXPECT_EQ(errorText(), "");
  EXPECT_EQ(g_exitReason.load(), kvo::kExitNewSettings);
}

}  // namespace
