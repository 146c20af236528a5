// The park airport's file: read with its learned copy, the user's stand and the reserved stand,
// soft learning, and the learned state saved once at the close to the publisher's folder, never
// outside airports\learned and never from a file that was refused.
#include <gmock/gmock.h>

#include <iterator>
#include <set>

#include "park_test_support.h"
#include "platform/win32/testing.h"

using namespace parktest;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

class ParkAirportFile : public ParkAirportTest {
 protected:
  void SetUp() override {
    ParkAirportTest::SetUp();
    writeList("LOWS\n");
  }
  // The user at stand "1" (or on the apron, at no stand) makes LOWS the park airport; its file is
  // read.
  void chooseLows(bool atStand = true) {
    ASSERT_TRUE(lf_readMyParkAirports());
    if (atStand) {
      parkAtLows();
    } else {
      setUser(kStandLat, kStandLon + 0.003, 1411.0, true, 0.0);
    }
    handleParkAirport(false);
    handleParkAirport(false);
  }
  static fs::path learned() { return g_airportsFolder / "learned" / "stock" / "LOWS.xml"; }
  static kvo::StandUse use(std::string airline, std::uint32_t weekday, std::uint8_t madeUp = 0) {
    kvo::StandUse u;
    u.airline = std::move(airline);
    u.type = "A20N";
    u.key = "D-AINB";
    u.callsign = "DLH7AB";
    u.halfHours = 0x3C0000;
    u.weekday = weekday;
    u.real = 1;
    u.madeUp = madeUp;
    return u;
  }
  static std::string qualityFactors() { return g_mainWindow.displayText(&kvo::MainWindow::qualityFactorText); }
  // Every file below the test's folder but the log.
  std::set<std::string> files() const {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder_.path())) {
      if (e.is_regular_file() && e.path().filename() != "Log.txt")
        out.insert(e.path().lexically_relative(folder_.path()).string());
    }
    return out;
  }
};

TEST_F(ParkAirportFile, TheLearnedStateGoesToThePublishersFolderAndNowhereElse) {
  struct Case {
    std::string publisher;
    std::string folder;  // below airports\learned
  };
  const std::vector<Case> cases{
      {"stock", "stock"},
      {"simaddon", "simaddon"},
      {"xyz", "thirdparty/xyz"},
      {"../../x", "thirdparty/_.._x"},
      {"C:\\evil", "thirdparty/C__evil"},
      {"a/b", "thirdparty/a_b"},
      {std::string("\x01\x1f", 2), "thirdparty/__"},
      {"..", "thirdparty/unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.publisher);
    chooseLows();
    ASSERT_TRUE(g_parkAirportLoaded.load());
    g_parkAirportInfo.publisher = c.publisher;
    g_parkStands[0].uses.push_back(use("DLH", 1));
    g_standUpdates = 2;
    const std::set<std::string> before = files();

    clearParkAirport();

    const fs::path expected = g_airportsFolder / "learned" / c.folder / "LOWS.xml";
    EXPECT_TRUE(fs::is_regular_file(expected));
    std::set<std::string> made = files();
    for (const auto& f : before) made.erase(f);
    EXPECT_THAT(made, ElementsAre(expected.lexically_relative(folder_.path()).string())) << "nothing else written";
    EXPECT_THAT(message(), ContainsRegex("^[0-9]{2}:[0-9]{2}:[0-9]{2} handmade '.*LOWS.xml' saved with 2 updates $"));
    EXPECT_EQ(g_standUpdates, 0u);
    fs::remove_all(g_airportsFolder / "learned");
  }
}

TEST_F(ParkAirportFile, ALearnedCopyKeepsTheStandsThatLearnedSomething) {
  FileSpec spec;
  spec.handmade = false;
  spec.stands = 5;
  spec.qfReal = 3;
  writeStock(spec);
  chooseLows();
  ASSERT_EQ(g_parkStands.size(), 5u);
  g_parkStands[0].uses = {use("DLH", 1), use("", 2, 1)};  // a real and a made-up use
  g_parkStands[1].uses = {use("", 3, 1)};                  // made-up only
  g_parkStands[2].manual = 1;
  g_parkStands[3].radius_change = 1;
  g_parkStands[4].cargo_change = 1;
  g_parkParamsChanged = true;

  clearParkAirport();

  kvo::AirportFileRecord saved;
  ASSERT_THAT(kvo::readAirportFile(learned(), saved), IsEmpty());
  std::vector<std::string> names;
  for (const auto& s : saved.stands) names.push_back(s.name);
  EXPECT_THAT(names, ElementsAre("1", "3", "4", "5"));
  ASSERT_EQ(saved.stands[0].uses.size(), 1u);
  EXPECT_EQ(saved.stands[0].uses[0].airline, "DLH");
  EXPECT_FALSE(saved.handmade);
  EXPECT_EQ(saved.quality.real, 3) << "the factors as read";
  EXPECT_THAT(log(), ContainsRegex("'.*LOWS.xml' saved with 0 updates and one or more parameter changes"));
  EXPECT_FALSE(g_parkParamsChanged.load());
}

TEST_F(ParkAirportFile, AHandmadeFileIsSavedWholeWithFreshFactorsAndReadBack) {
  FileSpec spec;
  spec.qfReal = 77;
  writeStock(spec);
  chooseLows();
  EXPECT_EQ(g_rtTrafficWeek.load(), 0u) << "nothing learned yet";
  EXPECT_EQ(qualityFactors(), "77/0") << "the factors of what was read";
  for (std::uint32_t day = 1; day <= 7; ++day) g_parkStands[0].uses.push_back(use("AUA", day));
  g_standUpdates = 1;
  clearParkAirport();

  kvo::AirportFileRecord saved;
  ASSERT_THAT(kvo::readAirportFile(learned(), saved), IsEmpty());
  EXPECT_EQ(saved.stands.size(), 2u);
  EXPECT_TRUE(saved.handmade);
  EXPECT_EQ(saved.quality.real, 50) << "one of two stands on every day";
  EXPECT_EQ(std::distance(fs::directory_iterator(learned().parent_path()), fs::directory_iterator()), 1)
      << "no temporary file left";

  // The next choice reads the uses back; a close without changes writes nothing.
  chooseLows();
  ASSERT_EQ(g_parkStands.size(), 2u);
  EXPECT_EQ(g_parkStands[0].uses.size(), 7u);
  EXPECT_EQ(g_rtTrafficWeek.load(), 7u) << "the traffic week of what was read";
  EXPECT_EQ(qualityFactors(), "50/0");
  fs::remove(learned());
  clearParkAirport();
  EXPECT_FALSE(fs::exists(learned()));
  EXPECT_EQ(g_rtTrafficWeek.load(), 0u);
  EXPECT_EQ(qualityFactors(), "") << "cleared with the park airport";
}

// A stand of a handmade learned copy whose id is not clean text is refused; the airport's file still
// has it, so it is offered and saved again, and what the copy learned stays.
TEST_F(ParkAirportFile, AStandRefusedInTheLearnedCopyIsTakenFromTheAirportsFile) {
  FileSpec spec;
  spec.stands = 3;
  writeStock(spec);
  chooseLows();
  g_parkStands[0].uses.push_back(use("DLH", 1));
  g_standUpdates = 1;
  clearParkAirport();
  std::string copy = coretest::readFile(learned());
  const auto at = copy.find("id=\"2\"");
  ASSERT_NE(at, std::string::npos) << copy;
  copy.replace(at, 6, "id=\"2\xFF\"");
  coretest::writeFile(learned(), copy);

  chooseLows();
  g_standUpdates = 1;
  clearParkAirport();

  kvo::AirportFileRecord saved;
  ASSERT_THAT(kvo::readAirportFile(learned(), saved), IsEmpty());
  std::set<std::string> names;
  for (const auto& s : saved.stands) names.insert(s.name);
  EXPECT_THAT(names, ElementsAre("1", "2", "3"));
  EXPECT_EQ(saved.stands[0].uses.size(), 1u);
}

TEST_F(ParkAirportFile, ARefusedFileLeavesNothingThatCouldBeSavedOverTheGoodCopy) {
  // The learned copy holds what was learned; the source is broken (no meta block).
  chooseLows();
  g_parkStands[0].uses.push_back(use("DLH", 4));
  g_standUpdates = 1;
  clearParkAirport();
  const std::string good = coretest::readFile(learned());
  FileSpec broken;
  broken.meta = false;
  writeStock(broken);

  chooseLows();
  EXPECT_TRUE(g_parkAirport.empty()) << "closed again";
  EXPECT_THAT(message(), HasSubstr("LOWS.xml")) << "the reader's reason is shown";
  EXPECT_FALSE(g_parkAirportLoaded.load());
  EXPECT_FALSE(g_trafficReader.reference().parkAirportSet);
  EXPECT_TRUE(g_parkStands.empty());
  EXPECT_EQ(qualityFactors(), "");
  g_standUpdates = 3;  // whatever the stand code counts meanwhile
  g_parkParamsChanged = true;
  closeParkAirport();
  EXPECT_EQ(coretest::readFile(learned()), good);

  // While the file stays as it is it is not read again: nothing more is logged, the reason
  // stays in the message line; once it changes it is read at the next choice.
  const std::size_t logged = log().size();
  for (int i = 0; i < 6; ++i) handleParkAirport(false);
  EXPECT_TRUE(g_parkAirport.empty());
  EXPECT_EQ(log().size(), logged) << log().substr(logged);
  EXPECT_THAT(message(), HasSubstr("LOWS.xml"));
  writeStock(FileSpec{});
  handleParkAirport(false);
  handleParkAirport(false);
  EXPECT_TRUE(g_parkAirportLoaded.load());
  EXPECT_EQ(g_parkStands[0].uses.size(), 1u) << "with its learned copy";
}

TEST_F(ParkAirportFile, WellLearnedLargeAirportsLearnNoSoftOptions) {
  const HWND main =
      CreateWindowExW(0, u"ParkTestMain", u"", WS_CAPTION, 0, 0, 880, 516, nullptr, nullptr, nullptr, nullptr);
  LEARN_SOFT.binding.hwnd =
      CreateWindowExW(0, u"button", u"", WS_CHILD | BS_CHECKBOX, 0, 0, 10, 10, main,
                      reinterpret_cast<HMENU>(std::intptr_t{LEARN_SOFT.binding.controlId}), nullptr, nullptr);
  struct Case {
    int qfReal;
    int stands;
    bool learnSoftBefore;
    bool allowed;
    bool learnSoftAfter;
    bool enabled;
    bool paramsChanged;
  };
  const std::vector<Case> cases{
      {45, 20, true, false, false, false, true},
      {45, 19, true, true, true, true, false},
      {44, 20, true, true, true, true, false},
      {90, 25, false, false, false, true, false},  // already off: left as it is
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.qfReal << " " << c.stands);
    g_parkParamsChanged = false;
    clearParkAirport();
    fs::remove_all(g_airportsFolder / "learned");
    EnableWindow(LEARN_SOFT.binding.hwnd, TRUE);
    LEARN_SOFT.set(c.learnSoftBefore);
    SendMessageW(LEARN_SOFT.binding.hwnd, BM_SETCHECK, c.learnSoftBefore ? BST_CHECKED : BST_UNCHECKED, 0);
    FileSpec spec;
    spec.qfReal = c.qfReal;
    spec.stands = c.stands;
    writeStock(spec);
    chooseLows();
    ASSERT_TRUE(g_parkAirportLoaded.load());
    EXPECT_EQ(g_learnSoftAllowed.load(), c.allowed);
    EXPECT_EQ(LEARN_SOFT.value(), c.learnSoftAfter);
    EXPECT_EQ(SendMessageW(LEARN_SOFT.binding.hwnd, BM_GETCHECK, 0, 0),
              static_cast<LRESULT>(c.learnSoftAfter ? BST_CHECKED : BST_UNCHECKED));
    EXPECT_EQ(IsWindowEnabled(LEARN_SOFT.binding.hwnd) != FALSE, c.enabled);
    EXPECT_EQ(g_parkParamsChanged.load(), c.paramsChanged);
  }
  LEARN_SOFT.binding.hwnd = nullptr;
  DestroyWindow(main);
}

TEST_F(ParkAirportFile, TheListRemembersTheAirportAndItsReservedStand) {
  struct Case {
    const char* name;
    std::string list;
    std::string destination;
    std::string fileAfter;
    std::string reserved;
    bool found;
    bool atStand = false;
  };
  const std::vector<Case> cases{
      {"not in the list: a front entry without a stand", "LOWI\n", "", "LOWI\nLOWS\n", "", false},
      {"a reserved stand of the airport", "LOWS,2\n", "", "LOWS,2\n", "2", true},
      {"a reserved stand the airport lacks", "LOWS,99\n", "", "LOWS,99\n", "", false},
      // A destination keeps the list's order: the airport's own entry comes first, with its stand.
      {"behind a destination", "LOWI\nLOWS,2\n", "LOWI", "LOWI\nLOWS,2\n", "2", true},
      // The stand the user stands on replaces the remembered one and becomes the reserved stand.
      {"the user's own stand", "LOWS,2\n", "", "LOWS,1\n", "1", true, true},
      {"the user's stand, not in the list", "LOWI\n", "", "LOWI\nLOWS,1\n", "1", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearParkAirport();
    writeList(c.list);
    DESTINATION.set(c.destination);
    if (!c.destination.empty()) addParkAirport(c.destination, {47.2602, 11.3439});
    chooseLows(c.atStand);
    ASSERT_TRUE(g_parkAirportLoaded.load());
    EXPECT_EQ(listCodes().front().substr(0, 4), "LOWS");
    EXPECT_EQ(listFile(), c.fileAfter);
    EXPECT_EQ(g_reservedStand, c.reserved);
    EXPECT_EQ(g_mainWindow.reservedStandFound.load(), c.found);
    const auto reserved =
        std::count_if(g_parkStands.begin(), g_parkStands.end(), [](const kvo::Stand& s) { return s.reserved != 0; });
    EXPECT_EQ(reserved, c.found ? 1 : 0);
  }
}

}  // namespace
