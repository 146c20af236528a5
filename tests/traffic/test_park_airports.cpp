// The park airport list (my_park_airports.txt read and written, my_thirdparty, DESTINATION) and the
// choice of the park airport on the ground and in the air, with its limits and messages.
#include <gmock/gmock.h>

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "core/text.h"
#include "core/utf.h"
#include "park_test_support.h"

using namespace parktest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::string_literals;

namespace {

using traffictest::countOf;

class ParkAirportList : public ParkAirportTest {};

// UTF-16 units as a file holds them; lone surrogates and zero units can be written too.
std::string bytes16(std::u16string_view units, bool bigEndian) {
  std::string out;
  for (const char16_t u : units) {
    const auto hi = static_cast<char>(u >> 8);
    const auto lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

std::string utf16(std::string_view utf8, bool bigEndian) { return bytes16(win32::utf8ToWide(utf8), bigEndian); }

std::string joined(const std::vector<std::string>& lines, std::string_view lineEnd) {
  std::string out;
  for (const std::string& line : lines) out += line + std::string(lineEnd);
  return out;
}

TEST_F(ParkAirportList, ReadingTheFile) {
  struct Case {
    const char* name;
    std::string file;            // empty: no file
    std::vector<std::string> thirdparty;  // folders made in my_thirdparty
    std::vector<std::string> entries;
    bool ok;
    std::vector<std::string> logged;
  };
  // UTF-16 lines: one with a lone surrogate and one with a zero unit are refused alone.
  const std::u16string broken = u"LOWS,\u6771 1\r\nEDDM,\xD800X\r\nEDMS\r\nLOWI,A\0B\r\n"s;
  const std::vector<std::string> unbroken{"LOWS,\xE6\x9D\xB1 1", "EDMS"};
  const std::string twoRefused = "my_park_airports.txt: 2 lines with control or invisible characters, skipped";
  // Stand names in CJK, so that few units are below U+0100 (U+4E00 has a zero byte too).
  const std::vector<std::string> cjkEntries{
      "LOWS,\u7B2C\u4E00\u65C5\u5BA2\u30BF\u30FC\u30DF\u30CA\u30EB\u5317\u53E3",
      "EDMS,\u56FD\u969B\u7DDA\u5357\u99D0\u6A5F\u5834"};
  const std::string cjk = joined(cjkEntries, "\n");
  const std::vector<Case> cases{
      {"UTF-16 LE with a mark, broken lines", "\xFF\xFE" + bytes16(broken, false), {}, unbroken, true, {twoRefused}},
      {"UTF-16 BE with a mark, broken lines", "\xFE\xFF" + bytes16(broken, true), {}, unbroken, true, {twoRefused}},
      {"UTF-16 LE without a mark, broken lines", bytes16(broken, false), {}, unbroken, true, {twoRefused}},
      {"UTF-16 BE without a mark, broken lines", bytes16(broken, true), {}, unbroken, true, {twoRefused}},
      {"UTF-16 LE without a mark, CJK", utf16(cjk, false), {}, cjkEntries, true, {"2 park airports read"}},
      {"UTF-16 BE without a mark, CJK", utf16(cjk, true), {}, cjkEntries, true, {"2 park airports read"}},
      {"UTF-8, CJK", cjk, {}, cjkEntries, true, {"2 park airports read"}},
      {"code and stand, blanks around them", " LOWS , A 5 \r\nLOWI\n", {}, {"LOWS,A 5", "LOWI"}, true,
       {"2 park airports read from 'my_park_airports.txt'"}},
      {"three fields", "LOWS,A5,X\nLOWI\n", {}, {"LOWI"}, true,
       {"my_park_airports.txt:LOWS,A5,X wrong syntax, skipped", "1 park airport read from"}},
      {"blank lines and a byte order mark", "\xEF\xBB\xBFLOWS\n\n   \nEDMS\n", {}, {"LOWS", "EDMS"}, true, {}},
      {"an unknown code, the others stay", "XXXX\nLOWS\n", {}, {"LOWS"}, false, {"airport XXXX is unknown"}},
      {"a code twice", "LOWS\nLOWS,B1\n", {}, {"LOWS"}, true, {"my_park_airports.txt:LOWS double, skipped"}},
      {"no file", "", {"LOWI", "ZZZZ", "LOWS"}, {"LOWI", "LOWS"}, true,
       {"my_park_airports.txt not found", "2 park airports added from my_thirdparty folder(-s)"}},
      {"my_thirdparty adds what the file lacks", "LOWS,7\n", {"LOWS", "EDMS"}, {"LOWS,7", "EDMS"}, true,
       {"1 park airport added from my_thirdparty folder(-s)"}},
      // Control characters, as UTF-8 or Windows-1252 (\x81 is a C1 control there), and invisible
      // ones: NUL, a tab, DEL, C1 controls, a reordering mark and a zero-width no-break space; each
      // line is refused whole, only their count is logged.
      {"lines that are not clean text",
       "LOWI,A\x81\nEDMS\0,B\nXX\tY\nEDDM,\x7F\nEDDF,\xC2\x85\nEDDK,\xE2\x80\xAE\nEDDL,\xEF\xBB\xBF\nLOWS,Gate S\xC3\xBC"
       "d\n"s,
       {}, {"LOWS,Gate S\xC3\xBC" "d"}, true,
       {"my_park_airports.txt: 7 lines with control or invisible characters, skipped"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(g_airportsFolder / "my_thirdparty");
    fs::create_directories(g_airportsFolder / "my_thirdparty");
    fs::remove(g_airportsFolder / "my_park_airports.txt");
    if (!c.file.empty()) writeList(c.file);
    for (const auto& folder : c.thirdparty) fs::create_directories(g_airportsFolder / "my_thirdparty" / folder);
    coretest::writeFile(g_airportsFolder / "my_thirdparty" / "EDDM", "a file, not a folder");
    const std::size_t logBefore = log().size();

    EXPECT_EQ(lf_readMyParkAirports(), c.ok);
    std::vector<std::string> entries = listCodes();
    if (!c.thirdparty.empty()) std::sort(entries.begin() + (c.file.empty() ? 0 : 1), entries.end());
    EXPECT_THAT(entries, ElementsAreArray(c.entries));
    for (const auto& line : c.logged) EXPECT_THAT(log().substr(logBefore), HasSubstr(line));
    for (const auto& line : splitString(log().substr(logBefore), '\n')) {
      EXPECT_TRUE(kvo::isCleanText(line)) << "nothing of a refused line is logged: " << kvo::escapeControls(line);
    }
  }
}

TEST_F(ParkAirportList, BadFilesAtScaleGiveShortLogLinesAndKeepTheGoodEntries) {
  std::string file = "LOWS\n" + std::string(100 * 1024, 'Q') + "\n" + std::string(100 * 1024, ',') + "\n";
  for (int i = 0; i < 10000; ++i) file += "X" + std::to_string(i) + "\n";
  writeList(file);
  EXPECT_FALSE(lf_readMyParkAirports());
  EXPECT_THAT(listCodes(), ElementsAre("LOWS"));
  const std::string text = log();
  EXPECT_EQ(countOf(text, " is unknown") + countOf(text, "wrong syntax"),
            static_cast<std::size_t>(kParkListLinesLogged));
  EXPECT_THAT(text, HasSubstr("my_park_airports.txt: 9982 more lines not logged"));
  EXPECT_LT(text.size(), 8000u) << "no line of 100 kB in the log";

  // Many known airports: all stay candidates, above 3000 with the warning.
  std::vector<kvo::Airport> airports;
  std::string many;
  for (int i = 0; i < 3001; ++i) {
    airports.push_back({fmt::format("A{:04}", i), "", 40.0 + i * 0.001, 10.0, 0.0});
    if (i < 3000) many += airports.back().icao + "\n";
  }
  setAirportList(airports);
  writeList(many);
  g_mainWindow.clearMessage();
  EXPECT_TRUE(lf_readMyParkAirports());
  EXPECT_EQ(listCodes().size(), 3000u);
  EXPECT_THAT(message(), IsEmpty());
  writeList(many + "A3000\n");
  EXPECT_TRUE(lf_readMyParkAirports());
  EXPECT_EQ(listCodes().size(), 3001u);
  EXPECT_EQ(message(),
            "Warning: There are a lot of airports (3001), that will cost Ambv much cpu time and may cause stutters");
}

TEST_F(ParkAirportList, WritingTheFirstEntry) {
  struct Case {
    const char* name;
    std::string before;  // empty: no file
    kvo::ParkAirportEntry first;
    std::string after;
    std::string logged;
  };
  const std::vector<Case> cases{
      {"no file yet", "", {"LOWS", "A5"}, "LOWS,A5\n", "my_park_airports.txt created with LOWS,A5"},
      {"the bare line takes the stand, sorted", "LOWS\nEDMS\n", {"LOWS", "B2"}, "EDMS\nLOWS,B2\n",
       "my_park_airports.txt:LOWS,B2 updated stand"},
      {"every line of the code gives way", "LOWS,A1\nLOWS\nEDMS\nLOWS,A2\n", {"LOWS", "B2"}, "EDMS\nLOWS,B2\n",
       "updated stand"},
      {"a byte order mark on the first line", "\xEF\xBB\xBFLOWS,A1\nEDMS\n", {"LOWS", "B2"},
       "\xEF\xBB\xBF" "EDMS\nLOWS,B2\n", "updated stand"},
      {"a new airport, duplicates and blank lines go", "LOWI\n\nEDMS\nEDMS\n", {"LOWS", ""}, "EDMS\nLOWI\nLOWS\n",
       "my_park_airports.txt:LOWS new entry"},
      {"the user's other lines are kept", "what,ever,this\nXXXX\n", {"LOWS", ""}, "LOWS\nXXXX\nwhat,ever,this\n",
       "new entry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(g_airportsFolder / "my_park_airports.txt");
    if (!c.before.empty()) writeList(c.before);
    {
      std::lock_guard lock(g_parkAirportsMutex);
      g_parkAirports = {c.first};
      writeMyParkAirports();
    }
    EXPECT_EQ(listFile(), c.after);
    EXPECT_THAT(log(), HasSubstr(c.logged));
  }

  // A file that exists but cannot be read is not overwritten.
  fs::remove(g_airportsFolder / "my_park_airports.txt");
  fs::create_directories(g_airportsFolder / "my_park_airports.txt" / "inside");
  {
    std::lock_guard lock(g_parkAirportsMutex);
    writeMyParkAirports();
  }
  EXPECT_TRUE(fs::is_directory(g_airportsFolder / "my_park_airports.txt" / "inside"));
  EXPECT_THAT(log(), HasSubstr("my_park_airports.txt not written: the file could not be read"));
}

// A user's editor on Windows writes the list in Windows-1252: such a line is read as that, and
// written back as it was while the program changes another line.
TEST_F(ParkAirportList, AWindows1252ListGoesThroughReadAndWriteUnchanged) {
  writeList("EDMS,Hall \xE9\r\nLOWI\r\n");
  ASSERT_TRUE(lf_readMyParkAirports());
  std::lock_guard lock(g_parkAirportsMutex);
  EXPECT_EQ(g_parkAirports.front().stand, "Hall \xC3\xA9");
  g_parkAirports.push_front({"LOWS", "B2"});
  writeMyParkAirports();
  EXPECT_EQ(listFile(), "EDMS,Hall \xE9\r\nLOWI\r\nLOWS,B2\r\n");
}

// Whatever the user's editor saved the list as, it is read in that character set and written back
// in it, with its byte-order mark and line ends: byte for byte but for the program's own line. A
// file the program cannot read whole is not written at all.
TEST_F(ParkAirportList, TheRewriteKeepsTheCharacterSetMarkAndLineEndsOfTheFile) {
  const std::vector<std::string> user{"EDDM,5", "LOWI,S\xC3\xBC" "d 3", "LSZH,B12"};
  const std::vector<std::string> after{"EDDM,5", "LOWI,S\xC3\xBC" "d 3", "LOWS,7", "LSZH,B12"};
  const std::vector<std::string> read{"EDDM,5", "LOWI,S\xC3\xBC" "d 3"};  // LSZH is no known airport
  const std::string markLe = "\xFF\xFE";
  const std::string markBe = "\xFE\xFF";
  const std::string mark8 = "\xEF\xBB\xBF";
  const std::string notWritten = "my_park_airports.txt not written: the file could not be read whole";
  struct Case {
    const char* name;
    std::string before;
    std::vector<std::string> entries;
    std::string after;  // empty: the file stays as it was
    std::string logged;
  };
  const std::vector<Case> cases{
      {"UTF-16 LE with a mark, CRLF", markLe + utf16(joined(user, "\r\n"), false), read,
       markLe + utf16(joined(after, "\r\n"), false), "my_park_airports.txt:LOWS,7 new entry"},
      {"UTF-16 BE with a mark, LF", markBe + utf16(joined(user, "\n"), true), read,
       markBe + utf16(joined(after, "\n"), true), "new entry"},
      {"UTF-16 LE without a mark", utf16(joined(user, "\r\n"), false), read, utf16(joined(after, "\r\n"), false),
       "new entry"},
      {"UTF-8 with a mark, CRLF", mark8 + joined(user, "\r\n"), read, mark8 + joined(after, "\r\n"), "new entry"},
      {"Windows-1252, CRLF", "EDDM,5\r\nLOWI,S\xFC" "d 3\r\nLSZH,B12\r\n", read,
       "EDDM,5\r\nLOWI,S\xFC" "d 3\r\nLOWS,7\r\nLSZH,B12\r\n", "new entry"},
      {"UTF-8, CR", joined(user, "\r"), read, joined(after, "\r"), "new entry"},
      {"UTF-16 cut off in its last byte", markLe + utf16(joined(user, "\r\n"), false) + "L", read, "",
       notWritten + " (UTF-16 text with a cut-off last byte)"},
      {"UTF-16 with a lone surrogate", markLe + utf16(joined(user, "\r\n"), false) + "\x00\xD8"s, read, "",
       notWritten + " (broken UTF-16 text)"},
      {"an 8-bit file with a zero byte", "EDDM,5\r\nLOWI\0\r\n"s, {"EDDM,5"}, "",
       notWritten + " (binary content (zero bytes))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeList(c.before);
    const std::size_t logBefore = log().size();
    lf_readMyParkAirports();
    EXPECT_THAT(listCodes(), ElementsAreArray(c.entries));
    {
      std::lock_guard lock(g_parkAirportsMutex);
      g_parkAirports.push_front({"LOWS", "7"});
      writeMyParkAirports();
    }
    EXPECT_EQ(listFile(), c.after.empty() ? c.before : c.after);
    EXPECT_THAT(log().substr(logBefore), HasSubstr(c.logged));
  }
}

TEST_F(ParkAirportList, ADestinationComesFirstAndANewOneIsWritten) {
  writeList("EDMS\nLOWS,3\n");
  ASSERT_TRUE(lf_readMyParkAirports());
  addParkAirport("LOWS", {kLowsLat, kLowsLon});
  EXPECT_THAT(listCodes(), ElementsAre("LOWS,3", "EDMS"));
  EXPECT_EQ(listFile(), "EDMS\nLOWS,3\n");

  addParkAirport("LOWI", {47.2602, 11.3439});
  EXPECT_THAT(listCodes(), ElementsAre("LOWI", "LOWS,3", "EDMS"));
  EXPECT_EQ(listFile(), "EDMS\nLOWI\nLOWS,3\n");

  // No code with a slash reaches the list or the file.
  addParkAirport("ED/DF", {48.0, 11.0});
  EXPECT_THAT(listCodes(), ElementsAre("LOWI", "LOWS,3", "EDMS"));
  EXPECT_EQ(listFile(), "EDMS\nLOWI\nLOWS,3\n");
  EXPECT_THAT(log(), HasSubstr("park airport 'ED/DF' refused: no airport code"));
}

class ParkAirportChoice : public ParkAirportTest {
 protected:
  void SetUp() override {
    ParkAirportTest::SetUp();
    writeList("LOWS\nLOWI\n");
    ASSERT_TRUE(lf_readMyParkAirports());
  }
};

TEST_F(ParkAirportChoice, InTheAirTheNearestCandidateWithinRangeAndBelowTheHeight) {
  struct Case {
    const char* name;
    int range;
    int height;
    double nm;
    double aglFt;
    bool chosen;
  };
  const std::vector<Case> cases{
      {"19.5 nm, 17000 ft", 20, 18000, 19.5, 17000.0, true},
      {"at the height", 20, 18000, 19.5, 18000.0, true},
      {"500 ft above the height", 20, 18000, 19.5, 18500.0, false},
      {"20.5 nm", 20, 18000, 20.5, 17000.0, false},
      {"a smaller range", 15, 18000, 15.5, 1000.0, false},
      {"a lower height", 20, 4000, 10.0, 4001.0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearParkAirport();
    g_mainWindow.clearMessage();
    AIRP_RANGE.set(c.range);
    AIRP_HEIGHT.set(c.height);
    flyAt(c.nm, c.aglFt);

    handleParkAirport(true);

    EXPECT_EQ(g_parkAirport, c.chosen ? "LOWS" : "");
    EXPECT_EQ(g_parkAirportChosen, c.chosen);
    if (c.chosen) {
      EXPECT_EQ(message(), fmt::format("LOWS in sight at {:.1f} nm", c.nm));
    } else {
      EXPECT_THAT(message(), IsEmpty());
    }
  }
}

TEST_F(ParkAirportChoice, OnlyTheFirstEntryIsTestedAndADestinationKeepsItsPlace) {
  // The destination far away is first; Salzburg 10 nm off is not looked at.
  DESTINATION.set("LOWI");
  addParkAirport("LOWI", {47.2602, 11.3439});
  flyAt(10.0, 3000.0);
  handleParkAirport(true);
  EXPECT_TRUE(g_parkAirport.empty());
  EXPECT_THAT(listCodes(), ElementsAre("LOWI", "LOWS"));

  // A new destination enters with distance 0; it is measured before it is judged, also after the
  // user moved.
  addParkAirport("EDDM", {48.3538, 11.7861});
  DESTINATION.set("EDDM");
  flyAt(11.0, 3000.0);
  handleParkAirport(true);
  EXPECT_TRUE(g_parkAirport.empty()) << "EDDM is some 65 nm away";
  {
    std::lock_guard lock(g_parkAirportsMutex);
    EXPECT_GT(g_parkAirports.front().distanceNm, 60.0);
  }
  // The same position again measures the first entry only, and still finds it far.
  handleParkAirport(true);
  EXPECT_TRUE(g_parkAirport.empty());
}

TEST_F(ParkAirportChoice, OutOfSightOrANearerCandidateClearsThePark) {
  struct Case {
    const char* name;
    double nm;           // the user south of Salzburg (Innsbruck lies 95 nm to the south-west)
    double aglFt;
    bool onGround;
    const char* logged;  // nullptr: kept
  };
  const std::vector<Case> cases{
      {"still in sight", 10.0, 3000.0, false, nullptr},
      {"above the height", 10.0, 18500.0, false,
       "LOWS (SZG) is out of sight (10.0 nm), parked aircraft will be removed"},
      {"out of range", 21.0, 3000.0, false, "LOWS (SZG) is out of sight (21.0 nm), parked aircraft will be removed"},
      {"on the ground far away, nothing happens", 40.0, 0.0, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearParkAirport();
    flyAt(5.0, 3000.0);
    handleParkAirport(true);
    handleParkAirport(true);  // reads the file
    ASSERT_TRUE(g_parkAirportLoaded.load());
    const std::size_t before = log().size();
    setUser(kLowsLat - c.nm / 60.0, kLowsLon, 1411.0 + c.aglFt, c.onGround, c.aglFt);
    handleParkAirport(false);
    EXPECT_EQ(g_parkAirport.empty(), c.logged != nullptr);
    if (c.logged != nullptr) {
      EXPECT_THAT(log().substr(before), HasSubstr(c.logged));
    }
  }

  // A nearer candidate in sight replaces the park airport: it is cleared first.
  clearParkAirport();
  setAirportList({{"LOWS", "SZG", kLowsLat, kLowsLon, 1411.0}, {"LOWN", "", kLowsLat - 12.0 / 60.0, kLowsLon, 1400.0}});
  writeList("LOWS\nLOWN\n");
  ASSERT_TRUE(lf_readMyParkAirports());
  flyAt(5.0, 3000.0);
  handleParkAirport(true);
  handleParkAirport(true);  // reads the file
  EXPECT_EQ(g_parkAirport, "LOWS");
  flyAt(8.0, 3000.0);  // LOWN 4 nm, LOWS 8 nm
  handleParkAirport(false);
  EXPECT_TRUE(g_parkAirport.empty());
  EXPECT_THAT(log(), HasSubstr("LOWN is in sight (4.0 nm), parked aircraft at LOWS (SZG) will be removed first"));
  handleParkAirport(false);
  EXPECT_EQ(g_parkAirport, "LOWN");

  // A destination first in the list that lies farther than the park airport leaves it alone.
  clearParkAirport();
  flyAt(5.0, 3000.0);  // LOWS 5 nm, LOWN 7 nm
  handleParkAirport(true);
  handleParkAirport(true);
  ASSERT_TRUE(g_parkAirportLoaded.load());
  DESTINATION.set("LOWN");
  addParkAirport("LOWN", {kLowsLat - 12.0 / 60.0, kLowsLon});
  handleParkAirport(false);
  EXPECT_EQ(g_parkAirport, "LOWS");
}

TEST_F(ParkAirportChoice, OnTheGroundTheClosestAirportWithAFile) {
  struct Case {
    const char* name;
    double lat;
    double lon;
    std::optional<bool> onGround;
    const char* message;  // nullptr: chosen
  };
  const std::vector<Case> cases{
      {"6 nm from every airport", kLowsLat + 0.1, kLowsLon, true, "User aircraft on the ground, no airport in sight"},
      {"at an airport without a file", 47.2602, 11.3439, true,
       "User aircraft on the ground at LOWI, no airport file found"},
      {"on-ground state not known yet", kStandLat, kStandLon, std::nullopt, ""},
      {"no position yet", 0.0, 0.0, true, ""},
      {"at Salzburg", kStandLat, kStandLon, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_mainWindow.clearMessage();
    setUser(c.lat, c.lon, 1411.0, c.onGround.value_or(false), 0.0);
    if (!c.onGround) g_userOnGround.reset();
    handleParkAirport(true);
    if (c.message != nullptr) {
      EXPECT_TRUE(g_parkAirport.empty());
      EXPECT_EQ(message(), c.message);
      continue;
    }
    EXPECT_EQ(g_parkAirport, "LOWS");
    EXPECT_EQ(message(), "Calculating static parked aircraft ...");
    EXPECT_THAT(log(), HasSubstr("User aircraft on the ground at LOWS\n\nThe park airport is LOWS (SZG)"));
    EXPECT_TRUE(g_parkStands.empty()) << "read at the next step";
    handleParkAirport(false);
    EXPECT_EQ(g_parkStands.size(), 2u);
    EXPECT_TRUE(g_trafficReader.reference().parkAirportSet);
    EXPECT_DOUBLE_EQ(g_trafficReader.reference().referenceElevation, 1411.0);
  }
}

TEST_F(ParkAirportChoice, ARecheckTakesAChangedReservedStand) {
  writeList("LOWS,1\nLOWI\n");
  ASSERT_TRUE(lf_readMyParkAirports());
  setUser(kLowsLat + 0.003, kLowsLon, 1411.0, true, 0.0);  // on the apron, on no stand
  handleParkAirport(true);
  handleParkAirport(true);
  ASSERT_EQ(g_reservedStand, "1");
  EXPECT_TRUE(g_mainWindow.reservedStandFound.load());

  std::string text;
  EXPECT_TRUE(checkParkAirports(true, text));
  EXPECT_EQ(text, "park airports and stands are okay");

  writeList("LOWI\nLOWS,2\n");
  EXPECT_TRUE(checkParkAirports(true, text));
  EXPECT_EQ(text, "reserved stand changed from '1' to '2'");
  EXPECT_EQ(g_reservedStand, "2");
  EXPECT_EQ(g_parkStands[0].reserved, 0);
  EXPECT_EQ(g_parkStands[1].reserved, 1);

  text.clear();
  writeList("LOWS,2\nXXXX\n");
  EXPECT_FALSE(checkParkAirports(true, text));
  EXPECT_THAT(text, IsEmpty());
}

TEST_F(ParkAirportChoice, TheUsersStandIsKeptForTheCurrentParkAirportOnly) {
  parkAtLows();
  EXPECT_FALSE(saveUserStandAtParkAirport("7")) << "no park airport yet";
  handleParkAirport(true);
  handleParkAirport(true);
  EXPECT_TRUE(saveUserStandAtParkAirport("7"));
  EXPECT_EQ(listCodes().front(), "LOWS,7");
  EXPECT_EQ(listFile(), "LOWI\nLOWS,7\n");
  EXPECT_FALSE(saveUserStandAtParkAirport("7")) << "the same stand again";
  EXPECT_FALSE(saveUserStandAtParkAirport("A,B")) << "a name the file cannot hold";
  EXPECT_FALSE(saveUserStandAtParkAirport(""));
  EXPECT_EQ(listFile(), "LOWI\nLOWS,7\n");
}

// The SimConnect thread stores the user's stand under the queue lock while the worker chooses,
// clears and re-reads: with the list lock never taken before the queue lock there is no
// deadlock (and ThreadSanitizer sees one order only).
TEST_F(ParkAirportChoice, TheListLockAndTheQueueLockAreTakenInOneOrder) {
  std::atomic<bool> done{false};
  std::thread simClient([&] {
    for (int i = 0; !done.load(); ++i) {
      std::lock_guard lock(g_simQueueMutex);
      saveUserStandAtParkAirport(i % 2 == 0 ? "1" : "2");
    }
  });
  for (int i = 0; i < 40; ++i) {
    flyAt(i % 2 == 0 ? 5.0 : 30.0, 3000.0);
    handleParkAirport(false);
    handleParkAirport(false);
    if (i % 10 == 0) {
      std::string text;
      checkParkAirports(true, text);
      addParkAirport("LOWI", {47.2602, 11.3439});
    }
  }
  done = true;
  simClient.join();
  EXPECT_TRUE(lf_readMyParkAirports());
}

}  // namespace
