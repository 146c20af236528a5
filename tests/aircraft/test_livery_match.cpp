#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "aircraft/aircraft_types.h"
#include "aircraft/dbase.h"
#include "aircraft/livery_db.h"
#include "aircraft/livery_match.h"
#include "aircraft_test_support.h"
#include "core/parameters.h"
#include "core/user_error.h"

namespace {

using namespace aircrafttest;

// The fields of the traffic engine's records that the matching uses.
struct FakeAircraft {
  FakeAircraft(std::string a, std::string t, std::string r)
      : airline(std::move(a)), type(std::move(t)), registration(std::move(r)) {}
  std::string airline;
  std::string type;
  std::string registration;
  std::string callsign = "TEST123";
  std::string_view liveryTitle;
  std::uint8_t cargo = 0;
  std::uint8_t reverseThrust = 0;
};
struct FakeStand {
  std::string name = "A12";
  std::uint8_t cargo = 0;
};

class LiveryMatch : public ::testing::Test {
 protected:
  void SetUp() override {
    resetLiveryDbForTests();
    clearDbaseTables();
    replaceAircraftTypes({{"A319", "", 34.1, 1u << Large},
                          {"A320", "", 34.1, 1u << Large},
                          {"A321", "", 34.1, 1u << Large},
                          {"B744", "", 64.4, 1u << Heavy},
                          {"B748", "", 68.4, 1u << Heavy},
                          {"C172", "", 11.0, 0}},
                         {{"A318", "A319", "A320", "A321"}, {"B744", "B748"}});
    MATCHING_DEPTH.set(4);
    RANDOM.set(false);
    buildLiveryDb({
        {"DLH", "A320", "DLH A320 D-AIZZ special", "D-AIZZ", 1, 0},
        {"DLH", "A320", "DLH A320 one", "", 1, 0},
        {"DLH", "A320", "DLH A320 zero", "", 0, 0},
        {"DLH", "A321", "FSLTL_A321_DLH", "", 0, 0},
        {"BAW", "A320", "BAW A320", "", 0, 0},
        {"GEC", "B744", "GEC B744 Cargo", "", 0, 1},
        {"DLH", "B744", "DLH B744", "", 1, 0},
        {"", "C172", "Generic C172", "", 2, 0},
    });
  }
  void TearDown() override {
    resetLiveryDbForTests();
    clearDbaseTables();
    MATCHING_DEPTH.resetToDefault();
    RANDOM.resetToDefault();
  }

  static std::string titleOf(std::string_view airline, std::string_view type, std::string_view reg = "",
                             bool cargo = false) {
    const auto c = chooseLivery(LiveryRequest{airline, type, reg, cargo});
    return c ? std::string(c->title) : "-";
  }
};

TEST_F(LiveryMatch, TheLadderRungByRungAndItsDepth) {
  struct Case {
    const char* airline;
    const char* type;
    const char* reg;
    bool cargo;
    int depth;
    const char* title;  // "-" for none
    int rung;
  };
  const std::vector<Case> cases{
      {"DLH", "A320", "D-AIZZ", false, 1, "DLH A320 D-AIZZ special", 1},
      {"KLM", "A319", "d-aizz", false, 4, "DLH A320 D-AIZZ special", 1},  // the airframe wins over all
      {"DLH", "A320", "", false, 1, "-", 0},
      {"DLH", "A320", "", false, 2, "DLH A320 zero", 2},  // the lower folder
      {"DLH", "A319", "", false, 2, "-", 0},
      {"DLH", "A319", "", false, 3, "DLH A320 zero", 3},  // related type, lower folder, first
      {"BAW", "A321", "", false, 3, "BAW A320", 3},
      {"KLM", "A320", "", false, 3, "-", 0},
      {"KLM", "A320", "", false, 4, "DLH A320 zero", 4},  // any livery of the type, folder 0 first
      {"KLM", "B744", "", false, 4, "DLH B744", 4},  // a passenger livery first, though in a higher folder
      {"", "C172", "", false, 4, "Generic C172", 4},
      {"DLH", "B738", "", false, 4, "-", 0},  // no livery of the type at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.airline) + " " + c.type + " " + c.reg + " depth " + std::to_string(c.depth));
    MATCHING_DEPTH.set(c.depth);
    const auto choice = chooseLivery(LiveryRequest{c.airline, c.type, c.reg, c.cargo});
    EXPECT_EQ(choice ? std::string(choice->title) : "-", c.title);
    if (choice) {
      EXPECT_EQ(static_cast<int>(choice->rung), c.rung);
    }
  }
}

TEST_F(LiveryMatch, CargoLiveriesGoToFreightersFirst) {
  // Rung 4 for KLM B744: the passenger livery of DLH (folder 1) comes before the cargo livery
  // of GEC (folder 0) because the cargo flag counts first.
  EXPECT_EQ(titleOf("KLM", "B744"), "DLH B744");
  EXPECT_EQ(titleOf("KLM", "B744", "", true), "GEC B744 Cargo");
  // An airline that has only cargo liveries still gets one; the aircraft becomes a freighter.
  FakeAircraft gec{"GEC", "B744", ""};
  matchLiveAcLivery(gec);
  EXPECT_EQ(gec.liveryTitle, "GEC B744 Cargo");
  EXPECT_EQ(gec.cargo, 1);
  // A static aircraft on a cargo stand asks for a freighter.
  FakeAircraft parked{"KLM", "B744", ""};
  FakeStand cargoStand{"C3", 1};
  EXPECT_TRUE(matchStaticAcLivery(parked, cargoStand));
  EXPECT_EQ(parked.liveryTitle, "GEC B744 Cargo");
}

TEST_F(LiveryMatch, WrappersSetTheAircraftFields) {
  FakeAircraft dlh{"DLH", "A321", ""};
  matchLiveAcLivery(dlh);
  EXPECT_EQ(dlh.liveryTitle, "FSLTL_A321_DLH");
  EXPECT_EQ(dlh.reverseThrust, 1);
  EXPECT_EQ(dlh.cargo, 0);

  FakeAircraft none{"DLH", "B738", ""};
  none.liveryTitle = "stale";
  matchLiveAcLivery(none);
  EXPECT_TRUE(none.liveryTitle.empty());
  FakeStand stand;
  EXPECT_FALSE(matchStaticAcLivery(none, stand));
}

TEST_F(LiveryMatch, TiesGoToARandomLiveryOfTheLowestFolderOnly) {
  buildLiveryDb({{"DLH", "A320", "a", "", 1, 0},
                 {"DLH", "A320", "b", "", 1, 0},
                 {"DLH", "A320", "c", "", 1, 0},
                 {"DLH", "A320", "higher folder", "", 2, 0}});
  RANDOM.set(true);
  std::map<std::string, int> seen;
  for (int i = 0; i < 300; ++i) ++seen[titleOf("DLH", "A320")];
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_FALSE(seen.contains("higher folder"));
  RANDOM.set(false);
  EXPECT_EQ(titleOf("DLH", "A320"), "a");
}

TEST_F(LiveryMatch, FailedTitlesAreNeverChosenAgain) {
  rememberLiveryForRequest(40001, "DLH A320 zero");
  EXPECT_EQ(liveryTitleForRequest(40001), "DLH A320 zero");
  onLiveryTitleCreateFailed("TEST123", "DLH A320 zero");
  EXPECT_EQ(titleOf("DLH", "A320"), "DLH A320 one");
  EXPECT_TRUE(liveryTitleForRequest(40001).empty());  // forgotten
  onLiveryTitleCreateFailed("TEST123", "DLH A320 D-AIZZ special");
  EXPECT_EQ(titleOf("DLH", "A320", "D-AIZZ"), "DLH A320 one");  // the next rung

  // Also after a rebuild of the data base in the same run.
  buildLiveryDb({{"DLH", "A320", "DLH A320 zero", "", 0, 0}});
  EXPECT_EQ(titleOf("DLH", "A320"), "-");
  EXPECT_EQ(failedLiveryTitleCount(), 2u);
  clearLiveryDb();  // a rescan or simulator switch starts afresh
  EXPECT_EQ(failedLiveryTitleCount(), 0u);
}

TEST_F(LiveryMatch, TheTwentiethFailedTitleStopsTheRun) {
  for (int i = 1; i < 20; ++i) onLiveryTitleCreateFailed("X", "title " + std::to_string(i));
  onLiveryTitleCreateFailed("X", "title 5");  // the same title again counts once
  onLiveryTitleCreateFailed("X", "");         // no title, nothing to count
  try {
    onLiveryTitleCreateFailed("X", "title 20");
    FAIL() << "no user error";
  } catch (const kvo::UserErrorException& e) {
    EXPECT_EQ(e.code(), kFailedLiveriesErrorCode);
  }
}

TEST_F(LiveryMatch, SpecialLiveriesHoldOnlyInstalledTitles) {
  TempFolder work;
  writeEncrypted(work.path() / "input" / "dbase.enc", minimalDbase("<type icao=\"A320\" span_m=\"34.1\"/>"));
  writeEncrypted(work.path() / "input" / "AIG-regcodes.enc",
                 minimalRegcodes("", "<livery reg=\"D-AIAA\" title=\"DLH A320 one\"/>"
                                     "<livery reg=\"D-AIBB\" title=\"Not installed\"/>"
                                     "<livery reg=\"D-AIZZ\" title=\"BAW A320\"/>"));
  readDbase(work.path());
  buildLiveryDb({{"DLH", "A320", "DLH A320 one", "", 0, 0},
                 {"BAW", "A320", "BAW A320", "", 0, 0},
                 {"DLH", "A320", "scanned with atc id", "D-AIZZ", 0, 0}});
  EXPECT_EQ(g_specialLiveries.titleFor("D-AIAA"), "DLH A320 one");
  EXPECT_TRUE(g_specialLiveries.titleFor("D-AIBB").empty());
  EXPECT_EQ(g_specialLiveries.titleFor("daizz"), "BAW A320");  // the data file before the scan
  EXPECT_EQ(g_specialLiveries.size(), 2u);
}

// The window thread may clear the data base while the run holds titles: they stay valid until
// the worker releases them between runs.
TEST_F(LiveryMatch, TitlesOutliveAClearFromAnotherThread) {
  FakeAircraft ac{"DLH", "A321", ""};
  matchLiveAcLivery(ac);
  rememberLiveryForRequest(40002, "BAW A320");
  std::thread window([] { clearLiveryDb(); });
  window.join();
  EXPECT_EQ(liveryDbSize(), 0u);
  EXPECT_EQ(ac.liveryTitle, "FSLTL_A321_DLH");
  buildLiveryDb({{"DLH", "A321", "FSLTL_A321_DLH", "", 0, 0}});  // the same title is not copied again
  EXPECT_EQ(ac.liveryTitle.data(), chooseLivery(LiveryRequest{"DLH", "A321", "", false})->title.data());

  const std::size_t before = liveryTitlePoolSize();
  releaseLiveryTitles();  // keeps the data base's titles and the remembered one
  EXPECT_EQ(liveryTitlePoolSize(), 2u);
  EXPECT_LT(liveryTitlePoolSize(), before);
  EXPECT_EQ(liveryTitleForRequest(40002), "BAW A320");
  clearLiveryRequests();
  releaseLiveryTitles();
  EXPECT_EQ(liveryTitlePoolSize(), 1u);
}

}  // namespace
