#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include <gtest/gtest.h>

#include "airports/airport_file.h"
#include "airports/airport_file_detail.h"
#include "airports/park_stands.h"
#include "airport_file_input.h"
#include "airport_test_support.h"
#include "core/files.h"
#include "core/geometry.h"
#include "core/log.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace airporttest;

std::string good() { return airportFileText(parkpos("1", 1, 1, 10)); }

class AirportFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(openLogFile(dir_.path())); }
  void TearDown() override {
    closeLogFile();
    resetParkStands();
  }
  std::string logText() { return coretest::readFile(dir_ / "Log.txt"); }
  fs::path put(const std::string& name, const std::string& text) {
    coretest::writeFile(dir_ / name, text);
    return dir_ / name;
  }

  coretest::TempFolder dir_;
};

// Every field set, with texts that need escaping, extreme bits and doubles without a short form.
kvo::AirportFileRecord fullRecord() {
  kvo::AirportFileRecord r;
  r.icao = "ZZTS";
  r.name = "Test <Field> & \"Quotes\" \xC3\xBC";
  r.publisher = "Pub & Co";
  r.bglPath = "C:\\Scenery\\world\\scenery\\ZZTS.bgl";
  r.manufacturer = "Maker";
  r.creator = "Someone";
  r.altitude = -12;
  r.handmade = true;
  r.quality = {37, 4};

  kvo::Stand a = makeStand(1, "GATE A 1", 47.123456789012345, -122.98765432109876, 18.123);
  a.heading = 359.99999999999994;
  a.adjacentIds = {3, 2};
  a.manual = 1;
  a.cargo = 1;
  a.cargo_change = 1;
  a.uses.push_back(makeUse("AUA", "A320", "OE-LBA", "AUA123", "AUA124", 0x800000000001ull, 7, 4294967295u, 1, 1));
  a.uses.push_back(makeUse("", "", "N12345", "", "SECOND", 0xFFFFFFFFFFFFull, 1, 0, 0, 0));
  a.uses.push_back(makeUse("DLH", "B748", "D-ABYA", "DLH400", "", 1, 3, 2, 0, 1));
  kvo::Stand b = makeStand(2, "B2", -33.9, 151.2, 30.0);
  b.heading = 0.1;
  b.adjacentIds = {1};
  b.ramp = 1;
  b.radius_change = 1;
  kvo::Stand c = makeStand(3, "H", 0.0, 180.0, 0.001);
  c.heli = 1;
  c.adjacentIds = {1};
  r.stands = {a, b, c};
  return r;
}

TEST_F(AirportFile, RoundTripKeepsEveryFieldAndTheText) {
  const kvo::AirportFileRecord written = fullRecord();
  const fs::path first = dir_ / "first.xml";
  ASSERT_TRUE(kvo::writeAirportFile(written, first));

  kvo::AirportFileRecord read;
  ASSERT_EQ(kvo::readAirportFile(first, read), "");
  EXPECT_EQ(read.icao, written.icao);
  EXPECT_EQ(read.name, written.name);
  EXPECT_EQ(read.publisher, written.publisher);
  EXPECT_EQ(read.bglPath, written.bglPath);
  EXPECT_EQ(read.manufacturer, written.manufacturer);
  EXPECT_EQ(read.creator, written.creator);
  EXPECT_EQ(read.altitude, written.altitude);
  EXPECT_EQ(read.handmade, written.handmade);
  EXPECT_EQ(read.quality, written.quality);
  ASSERT_EQ(read.stands.size(), written.stands.size());
  for (std::size_t i = 0; i < read.stands.size(); ++i) expectSameStand(read.stands[i], written.stands[i]);
  // The reader numbers the uses for the static parking.
  EXPECT_EQ(read.stands[0].uses[2].number, 3);

  const fs::path second = dir_ / "second.xml";
  ASSERT_TRUE(kvo::writeAirportFile(read, second));
  EXPECT_EQ(coretest::readFile(first), coretest::readFile(second));
}

TEST_F(AirportFile, DocumentedLayout) {
  ASSERT_TRUE(kvo::writeAirportFile(fullRecord(), dir_ / "z.xml"));
  const std::string text = coretest::readFile(dir_ / "z.xml");
  for (const char* part :
       {"<airport icao=\"ZZTS\">", "<info name=\"MSFS\"", "<parameter name=\"airport_name\"",
        "<parameter name=\"BGLpath\"", "<parameter name=\"Qf_real\" value=\"37\"", "<parameter name=\"num_parkpos\" value=\"3\"",
        "radius=\"18.123\"", "neighbours=\"H,B2\"", "cs=\"AUA123:AUA124\"", "hh=\"800000000001\"", "opt=\"4294967295\"",
        "soft=\"true\"", "fixed=\"1\""}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }
  // A use with option id 0 carries no "opt", a real use no "soft".
  EXPECT_EQ(text.find("cs=\":SECOND\" day=\"1\" hh=\"FFFFFFFFFFFF\" opt="), std::string::npos);
  EXPECT_NE(text.find("cs=\"DLH400\" day=\"3\" hh=\"000000000001\" opt=\"2\" />"), std::string::npos);
}

TEST_F(AirportFile, PartialRecordNamesNeighboursFromTheTableAndMadeUpUsesStayOut) {
  kvo::AirportFileRecord r = fullRecord();
  r.stands.erase(r.stands.begin() + 1);  // "B2" left out, as a learned copy leaves stands out
  r.standNamesById = {"GATE A 1", "B2", "H"};
  r.stands[1].uses.push_back(makeUse("XXX", "A320", "K", "", "", 3, 2, 9, 0, 0));
  r.stands[1].uses.back().madeUp = 1;
  ASSERT_TRUE(kvo::writeAirportFile(r, dir_ / "p.xml"));
  const std::string text = coretest::readFile(dir_ / "p.xml");
  EXPECT_NE(text.find("neighbours=\"H,B2\""), std::string::npos);
  EXPECT_EQ(text.find("XXX"), std::string::npos);
}

TEST_F(AirportFile, WriteLeavesNoTemporaryFileAndReplacesWhole) {
  const fs::path target = dir_ / "out" / "ZZTS.xml";
  EXPECT_FALSE(kvo::writeAirportFile(fullRecord(), target));  // folder missing: nothing written
  fs::create_directory(dir_ / "out");
  coretest::writeFile(target, std::string(200000, 'x'));
  ASSERT_TRUE(kvo::writeAirportFile(fullRecord(), target));
  kvo::AirportFileRecord back;
  EXPECT_EQ(kvo::readAirportFile(target, back), "");
  EXPECT_EQ(countDirectoryEntries(dir_ / "out"), 1u);
  // A target that cannot be replaced (a folder) fails and leaves nothing behind.
  fs::create_directory(dir_ / "out" / "DIR.xml");
  EXPECT_FALSE(kvo::writeAirportFile(fullRecord(), dir_ / "out" / "DIR.xml"));
  EXPECT_EQ(countDirectoryEntries(dir_ / "out"), 2u);
}

struct WholeFileCase {
  const char* name;
  std::string text;
  const char* error;  // part of the refusal
};

TEST_F(AirportFile, RefusesWholeFilesThatAreNoAirportFiles) {
  const std::string good = airportFileText(parkpos("1", 1, 1, 10));
  const std::vector<WholeFileCase> cases = {
      {"not xml", "this is not XML", "is not valid XML"},
      {"empty", "", "is not valid XML"},
      {"cut off", good.substr(0, good.size() / 2), "is not valid XML"},
      {"other root", "<parameters><meta/></parameters>", "is not an airport file"},
      {"no meta", "<airport><parameters/><parkpositions>" + parkpos("1", 1, 1, 10) + "</parkpositions></airport>",
       "has no meta block"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvo::AirportFileRecord r;
    r.stands.resize(3);
    const std::string error = kvo::readAirportFile(put("bad.xml", c.text), r);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_TRUE(r.stands.empty());
    EXPECT_NE(logText().find(c.error), std::string::npos);
  }
  kvo::AirportFileRecord r;
  EXPECT_NE(kvo::readAirportFile(dir_ / "missing.xml", r).find("cannot be read"), std::string::npos);
}

TEST_F(AirportFile, RefusesHugeFilesUnread) {
  const fs::path path = put("huge.xml", good());
  fs::resize_file(path, kvo::kMaxAirportFileBytes + 1);  // sparse: costs no disk
  kvo::AirportFileRecord r;
  EXPECT_NE(kvo::readAirportFile(path, r).find("too large"), std::string::npos);
}

TEST_F(AirportFile, RefusesMoreStandsThanTheLimit) {
  std::string stands;
  for (std::size_t i = 0; i <= 20000; ++i) stands += parkpos(std::to_string(i), 1, 1, 10);
  kvo::AirportFileRecord r;
  EXPECT_NE(kvo::readAirportFile(put("many.xml", airportFileText(stands)), r).find("more than"), std::string::npos);
  EXPECT_TRUE(r.stands.empty());
}

struct StandCase {
  const char* name;
  std::string parkpositions;
  std::vector<std::string> kept;
};

TEST_F(AirportFile, SkipsBadStandsAndKeepsTheRest) {
  const std::string ok = parkpos("OK", 10, 10, 20);
  const std::vector<StandCase> cases = {
      {"no id", "<parkpos lat=\"1\" lon=\"1\" radius=\"10\"/>" + ok, {"OK"}},
      {"blank id", parkpos("  ", 1, 1, 10) + ok, {"OK"}},
      {"no position", "<parkpos id=\"A\" radius=\"10\"/>" + ok, {"OK"}},
      {"no radius", "<parkpos id=\"A\" lat=\"1\" lon=\"1\"/>" + ok, {"OK"}},
      {"nan radius", "<parkpos id=\"A\" lat=\"1\" lon=\"1\" radius=\"nan\"/>" + ok, {"OK"}},
      {"infinite radius", "<parkpos id=\"A\" lat=\"1\" lon=\"1\" radius=\"inf\"/>" + ok, {"OK"}},
      {"zero radius", parkpos("A", 1, 1, 0) + ok, {"OK"}},
      {"radius 1000 m", parkpos("A", 1, 1, 1000) + ok, {"A", "OK"}},
      {"radius 1001 m", parkpos("A", 1, 1, 1001) + ok, {"OK"}},
      {"negative radius", parkpos("A", 1, 1, -5) + ok, {"OK"}},
      {"radius with unit", "<parkpos id=\"A\" lat=\"1\" lon=\"1\" radius=\"20m\"/>" + ok, {"OK"}},
      {"nan latitude", "<parkpos id=\"A\" lat=\"NaN\" lon=\"1\" radius=\"10\"/>" + ok, {"OK"}},
      {"latitude beyond range", "<parkpos id=\"A\" lat=\"1e400\" lon=\"1\" radius=\"10\"/>" + ok, {"OK"}},
      {"latitude 91", parkpos("A", 91, 1, 10) + ok, {"OK"}},
      {"longitude -181", parkpos("A", 1, -181, 10) + ok, {"OK"}},
      {"bad heading", parkpos("A", 1, 1, 10, "heading=\"north\"") + ok, {"OK"}},
      {"heading beyond two turns", parkpos("A", 1, 1, 10, "heading=\"720.5\"") + ok, {"OK"}},
      {"duplicate ids", parkpos("OK", 1, 1, 10) + ok + parkpos("B", 2, 2, 10), {"OK", "B"}},
      {"missing heading and flags", parkpos("A", 1, 1, 10) + ok, {"A", "OK"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvo::AirportFileRecord r;
    ASSERT_EQ(kvo::readAirportFile(put("s.xml", airportFileText(c.parkpositions)), r), "");
    EXPECT_EQ(standNames(r.stands), c.kept);
    for (std::size_t i = 0; i < r.stands.size(); ++i) EXPECT_EQ(r.stands[i].id, i + 1);
  }
  EXPECT_NE(logText().find("stand 'OK' skipped: its id is used by an earlier stand"), std::string::npos);
  EXPECT_NE(logText().find("stand 'A' skipped: radius 'nan'"), std::string::npos);
}

// A file's skipped records: the first 20 are logged, then only their count; a stand count
// that num_parkpos states wrongly and an altitude of no airport are noted too.
TEST_F(AirportFile, SkippedRecordsAreLoggedUpToTwentyThenCounted) {
  std::string stands;
  for (int i = 0; i < 22; ++i) stands += parkpos("BAD" + std::to_string(i), 1, 1, 0);
  stands += parkpos("OK", 10, 10, 20);
  kvo::AirportFileRecord r;
  ASSERT_EQ(kvo::readAirportFile(put("skips.xml", airportFileText(stands, "<parameter name=\"num_parkpos\" value=\"3\"/>"
                                                                           "<parameter name=\"altitude\" value=\"150000\"/>")),
                                 r),
            "");
  EXPECT_EQ(standNames(r.stands), std::vector<std::string>{"OK"});
  EXPECT_EQ(r.altitude, 0);
  const std::string text = logText();
  EXPECT_NE(text.find("altitude '150000' is not a number of feet, 0 taken"), std::string::npos);
  EXPECT_NE(text.find("stand 'BAD18' skipped"), std::string::npos);
  EXPECT_EQ(text.find("stand 'BAD19' skipped"), std::string::npos);  // the 21st record
  EXPECT_NE(text.find("skips.xml: 4 more skipped records not listed"), std::string::npos) << text;
}

TEST_F(AirportFile, SkipsBadUsesAndKeepsTheStand) {
  const std::vector<std::pair<const char*, std::string>> bad = {
      {"day 0", "<opt day=\"0\" hh=\"1\"/>"},
      {"day 8", "<opt day=\"8\" hh=\"1\"/>"},
      {"no day", "<opt hh=\"1\"/>"},
      {"no half hours", "<opt day=\"1\"/>"},
      {"half hours not hex", "<opt day=\"1\" hh=\"XYZ\"/>"},
      {"half hour 48", "<opt day=\"1\" hh=\"1000000000000\"/>"},
      {"13 digits", "<opt day=\"1\" hh=\"0000000000001\"/>"},
      {"negative option", "<opt day=\"1\" hh=\"1\" opt=\"-1\"/>"},
      {"fixed 2", "<opt day=\"1\" hh=\"1\" fixed=\"2\"/>"},
  };
  const std::string good = "<opt day=\"2\" hh=\"3\" cs=\"ABC1\"/>";
  for (const auto& [name, use] : bad) {
    SCOPED_TRACE(name);
    kvo::AirportFileRecord r;
    ASSERT_EQ(kvo::readAirportFile(put("u.xml", airportFileText(parkpos("A", 1, 1, 10, "", use + good))), r), "");
    ASSERT_EQ(r.stands.size(), 1u);
    ASSERT_EQ(r.stands[0].uses.size(), 1u);
    EXPECT_EQ(r.stands[0].uses[0].callsign, "ABC1");
    EXPECT_EQ(r.stands[0].uses[0].real, 1u);
    EXPECT_EQ(r.stands[0].uses[0].number, 1);
  }
}

// Text that is no clean UTF-8 (an invalid byte, a control character, also written as a reference)
// refuses the stand or use that carries it, as it would reach the simulator, the log and the saved
// file; the airport's own free texts are cleaned instead.
TEST_F(AirportFile, TextThatIsNotCleanRefusesItsRecordOrIsCleaned) {
  const std::vector<std::pair<const char*, std::string>> refused = {
      {"invalid byte in a callsign", "<opt day=\"1\" hh=\"1\" cs=\"AAL7\xFF\"/>"},
      {"control in a second callsign", "<opt day=\"1\" hh=\"1\" cs=\"AAL7:X&#1;\"/>"},
      {"control in an airline", "<opt day=\"1\" hh=\"1\" airline=\"A&#27;L\"/>"},
      {"C1 control in a type", "<opt day=\"1\" hh=\"1\" type=\"A3\xC2\x85\"/>"},
      {"overlong form in a key", "<opt day=\"1\" hh=\"1\" key=\"D\xC0\xAF\"/>"},
  };
  const std::string good = "<opt day=\"2\" hh=\"3\" cs=\"ABC1\"/>";
  for (const auto& [name, use] : refused) {
    SCOPED_TRACE(name);
    kvo::AirportFileRecord r;
    const std::string stands =
        parkpos("A&#1;", 1, 1, 10) + parkpos("A\xFF", 1, 1, 10) + parkpos("B", 1, 1, 10, "", use + good);
    ASSERT_EQ(kvo::readAirportFile(put("u.xml", airportFileText(stands)), r), "");
    ASSERT_EQ(r.stands.size(), 1u);
    EXPECT_EQ(r.stands[0].name, "B");
    ASSERT_EQ(r.stands[0].uses.size(), 1u);
    EXPECT_EQ(r.stands[0].uses[0].callsign, "ABC1");
  }
  kvo::AirportFileRecord r;
  ASSERT_EQ(kvo::readAirportFile(
                put("p.xml", airportFileText("", "<parameter name=\"airport_name\" value=\"Salz\xFF" "burg\"/>"
                                                 "<parameter name=\"publisher\" value=\"Acme&#1;Works\"/>")),
                r),
            "");
  EXPECT_EQ(r.name, "Salz\xEF\xBF\xBD" "burg");
  EXPECT_EQ(r.publisher, "Acme Works");
  // The learned copy's folder follows the same cleaned name.
  EXPECT_EQ(kvo::readAirportFilePublisher(dir_ / "p.xml"), std::optional<std::string>("Acme Works"));
}

TEST_F(AirportFile, MissingParametersTakeDefaultsAndUnknownNeighboursAreLeftOut) {
  const std::string stands = parkpos("A", 1, 1, 10, "neighbours=\"B, GHOST ,A\"") + parkpos("B", 1, 1.001, 10);
  kvo::AirportFileRecord r;
  ASSERT_EQ(kvo::readAirportFile(put("d.xml", airportFileText(stands, "<parameter name=\"Qf_real\" value=\"250\"/>")), r),
            "");
  EXPECT_EQ(r.name, "");
  EXPECT_EQ(r.altitude, 0);
  EXPECT_FALSE(r.handmade);
  EXPECT_EQ(r.quality.real, 100);  // clamped
  ASSERT_EQ(r.stands.size(), 2u);
  EXPECT_EQ(r.stands[0].adjacentIds, std::vector<std::uint32_t>{2});  // itself and the unknown one left out
  EXPECT_EQ(r.stands[0].heading, 0.0);
  EXPECT_NE(logText().find("1 neighbour name not found"), std::string::npos);
}

TEST_F(AirportFile, ThousandsOfStandsWithUsesRoundTrip) {
  kvo::AirportFileRecord r;
  r.icao = "ZZBG";
  for (std::uint32_t i = 1; i <= 5000; ++i) {
    kvo::Stand s = makeStand(i, "P" + std::to_string(i), 50.0 + i * 1e-5, 8.0, 20.0);
    if (i > 1) s.adjacentIds = {i - 1};
    for (std::uint32_t d = 1; d <= 7; ++d) s.uses.push_back(makeUse("AAA", "A320", "K" + std::to_string(i), "AAA1", "", 1ull << d, d, d, 0, 1));
    r.stands.push_back(std::move(s));
  }
  ASSERT_TRUE(kvo::writeAirportFile(r, dir_ / "big.xml"));
  kvo::AirportFileRecord back;
  ASSERT_EQ(kvo::readAirportFile(dir_ / "big.xml", back), "");
  ASSERT_EQ(back.stands.size(), 5000u);
  expectSameStand(back.stands[4999], r.stands[4999]);
}

// ---- the learned copy over the airport's file --------------------------------------------------

TEST_F(AirportFile, LearnedFileBringsUsesChangesAndManualStands) {
  const std::string source = airportFileText(parkpos("A", 1, 1, 20, "neighbours=\"B\"") + parkpos("B", 1, 1.001, 20) +
                                             parkpos("C", 1, 1.002, 20, "cargo=\"true\""));
  const std::string learned = airportFileText(
      parkpos("A", 1, 1, 25, "radius_change=\"true\"", "<opt day=\"1\" hh=\"10\" cs=\"L1\"/>") +
      parkpos("C", 1, 1.002, 20, "cargo_change=\"true\" cargo=\"false\"") +
      parkpos("B", 2, 2, 30, "manual=\"true\" neighbours=\"D\"") + parkpos("D", 1, 1.003, 15, "manual=\"true\"") +
      parkpos("GONE", 1, 1.004, 15, "", "<opt day=\"1\" hh=\"1\"/>"));
  kvo::AirportFileRecord r;
  bool applied = false;
  ASSERT_EQ(kvo::readAirportFileWithLearned(put("src.xml", source), put("learned.xml", learned), r, applied), "");
  EXPECT_TRUE(applied);
  EXPECT_EQ(standNames(r.stands), (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_DOUBLE_EQ(r.stands[0].radius * kvo::kMetresPerNm, 25.0);
  EXPECT_EQ(r.stands[0].radius_change, 1);
  ASSERT_EQ(r.stands[0].uses.size(), 1u);
  EXPECT_EQ(r.stands[0].uses[0].callsign, "L1");
  EXPECT_EQ(r.stands[0].adjacentIds, std::vector<std::uint32_t>{2});
  EXPECT_EQ(r.stands[1].latitude, 2.0);  // manual: the learned stand whole
  EXPECT_EQ(r.stands[1].adjacentIds, std::vector<std::uint32_t>{4});
  EXPECT_EQ(r.stands[2].cargo, 0);
  EXPECT_EQ(r.stands[2].cargo_change, 1);
  EXPECT_EQ(r.quality.real, 4);  // computed anew: 1 of 28 stand-days
  EXPECT_NE(logText().find("1 learned stand no longer in the airport's file"), std::string::npos);
}

TEST_F(AirportFile, HandmadeLearnedFileReplacesTheSourceAndABrokenOneRefusesTheRead) {
  const fs::path source = put("src.xml", airportFileText(parkpos("A", 1, 1, 20) + parkpos("B", 1, 1.001, 20)));
  const fs::path handmade = put(
      "hand.xml", airportFileText(parkpos("X", 3, 3, 20), "<parameter name=\"handmade\" value=\"true\"/>"
                                                          "<parameter name=\"Qf_real\" value=\"55\"/>"));
  kvo::AirportFileRecord r;
  bool applied = false;
  ASSERT_EQ(kvo::readAirportFileWithLearned(source, handmade, r, applied), "");
  EXPECT_TRUE(applied);
  EXPECT_EQ(standNames(r.stands), std::vector<std::string>{"X"});
  EXPECT_EQ(r.quality.real, 55);  // a handmade file keeps its own

  const fs::path broken = put("broken.xml", "<airport><meta/><parkpositions>");
  EXPECT_NE(kvo::readAirportFileWithLearned(source, broken, r, applied).find("learned file refused"), std::string::npos);
  EXPECT_TRUE(r.stands.empty());
  EXPECT_FALSE(applied);

  ASSERT_EQ(kvo::readAirportFileWithLearned(source, dir_ / "absent.xml", r, applied), "");
  EXPECT_FALSE(applied);
  EXPECT_EQ(r.stands.size(), 2u);
}

// A refused stand of a learned copy is found in the airport's file by its id, or by its place
// when the id is what was refused; only it comes back from there, with the uses of it that could
// be read. A stand that the user removed or renamed stays as the user left it.
TEST_F(AirportFile, ARefusedStandOfALearnedCopyAloneComesBackFromTheSource) {
  struct Case {
    const char* name;
    bool handmade;
    std::string copy;
    std::vector<std::string> stands;
    std::string usesOf2;  // the callsigns of stand "2"'s uses
    const char* logged;
  };
  const std::string handmade = "<parameter name=\"handmade\" value=\"true\"/>";
  const std::string learnedUse = "<opt day=\"1\" hh=\"1\" cs=\"L2\"/>";
  const fs::path source =
      put("src.xml", airportFileText(parkpos("1", 1, 1, 20) + parkpos("2", 1, 1.001, 20, "", "<opt day=\"1\" hh=\"1\" cs=\"S2\"/>") +
                                     parkpos("3", 1, 1.002, 20)));
  const std::vector<Case> cases = {
      {"a bad byte in an id: by place; a removed stand stays out", true,
       parkpos("1", 1, 1, 20) + parkpos("2\xFF", 1, 1.001, 20, "", learnedUse), {"1", "2"}, "L2",
       "1 stand taken from the airport's file in place of the refused one\n"},
      {"a bad radius: by id, in its place; a renamed stand stays renamed", true,
       parkpos("1a", 1, 1, 20) + parkpos("2", 1, 1.001, 0, "", learnedUse) + parkpos("3", 1, 1.002, 20),
       {"1a", "2", "3"}, "L2", "1 stand taken"},
      {"neither id nor place readable: nothing comes back", true,
       parkpos("1", 1, 1, 20) + parkpos("\xFF", 91, 1, 20) + parkpos("3", 1, 1.002, 20), {"1", "3"}, "-",
       "1 refused stand not found in the airport's file, left out"},
      {"no use of it readable: the source's", true,
       parkpos("1", 1, 1, 20) + parkpos("2", 1, 1.001, 0, "", "<opt day=\"9\" hh=\"1\" cs=\"L2\"/>"),
       {"1", "2"}, "S2", "1 stand taken"},
      {"a learned copy that is not handmade keeps the refused stand's uses", false,
       parkpos("2", 1, 1.001, 0, "", learnedUse), {"1", "2", "3"}, "L2", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t logFrom = logText().size();
    kvo::AirportFileRecord r;
    bool applied = false;
    ASSERT_EQ(kvo::readAirportFileWithLearned(source, put("copy.xml", airportFileText(c.copy, c.handmade ? handmade : "")),
                                              r, applied),
              "");
    EXPECT_EQ(standNames(r.stands), c.stands);
    std::string uses = "-";
    for (const kvo::Stand& s : r.stands) {
      if (s.name != "2") continue;
      uses.clear();
      for (const kvo::StandUse& u : s.uses) uses += u.callsign;
    }
    EXPECT_EQ(uses, c.usesOf2);
    EXPECT_NE(logText().find(c.logged, logFrom), std::string::npos) << logText().substr(logFrom);
  }
}

// What the reader would refuse or read otherwise is kept out of the file: beyond its limits the
// oldest uses of the stands with the most uses, a first callsign that holds the separator of two.
TEST_F(AirportFile, TheWriterKeepsTheFileToWhatTheReaderTakes) {
  struct Case {
    const char* name;
    kvo::AirportFileLimits limits;  // a bytes limit of 0: one byte less than the whole file
    bool written;
    std::string uses;  // "callsign|second" of each use read back, stands separated by " / "
    const char* logged;
  };
  kvo::AirportFileRecord record;
  record.icao = "ZZTS";
  record.stands = {makeStand(1, "A", 1, 1, 20), makeStand(2, "B", 1, 1.001, 20)};
  for (const char* cs : {"a1", "a2", "a3", "a4", "a5", "a6"}) {
    record.stands[0].uses.push_back(makeUse("AAA", "A320", "K", cs, "", 1, 1, 0, 0, 1));
  }
  record.stands[0].uses.insert(record.stands[0].uses.begin() + 2, makeUse("AAA", "A320", "K", "made", "", 1, 1, 0, 0, 1));
  record.stands[0].uses[2].madeUp = 1;
  record.stands[1].uses = {makeUse("AUA", "A320", "K", "AU:A8WN", "", 1, 1, 0, 0, 1),
                           makeUse("BBB", "A320", "K", "b2", "X:Y", 1, 1, 0, 0, 1)};
  kvo::AirportFileLimits bytes;
  bytes.bytes = 0;
  kvo::AirportFileLimits uses;
  uses.uses = 5;
  kvo::AirportFileLimits stands;
  stands.stands = 1;
  kvo::AirportFileLimits tiny;
  tiny.bytes = 400;
  const std::vector<Case> cases = {
      {"within the limits", {}, true, "a1| a2| a3| a4| a5| a6| / | b2|X:Y", "1 callsign holding ':' left out"},
      {"one byte too many", bytes, true, "a2| a3| a4| a5| a6| / | b2|X:Y", "1 oldest use left out"},
      {"more uses than the reader takes", uses, true, "a4| a5| a6| / | b2|X:Y", "3 oldest uses left out"},
      {"more stands than the reader takes", stands, false, "", "2 stands, more than the 1"},
      {"too large without uses", tiny, false, "", "without uses, more than the 400"},
  };
  const fs::path whole = dir_ / "whole.xml";
  ASSERT_TRUE(kvo::writeAirportFile(record, whole));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t logFrom = logText().size();
    kvo::AirportFileLimits limits = c.limits;
    if (limits.bytes == 0) limits.bytes = fs::file_size(whole) - 1;
    const fs::path path = dir_ / "limited.xml";
    fs::remove(path);
    ASSERT_EQ(kvo::writeAirportFileWithin(record, path, limits), c.written);
    EXPECT_NE(logText().find(c.logged, logFrom), std::string::npos) << logText().substr(logFrom);
    if (!c.written) {
      EXPECT_FALSE(fs::exists(path));
      continue;
    }
    EXPECT_LE(fs::file_size(path), limits.bytes);
    kvo::AirportFileRecord back;
    ASSERT_EQ(kvo::readAirportFile(path, back), "");
    std::string read;
    for (const kvo::Stand& s : back.stands) {
      if (!read.empty()) read += " /";
      for (const kvo::StandUse& u : s.uses) read += fmt::format(" {}|{}", u.callsign, u.secondCallsign);
    }
    EXPECT_EQ(read.substr(1), c.uses);
  }
}

// ---- the park airport's read: flags only for a whole file --------------------------------------

TEST_F(AirportFile, ParkReadSetsTheLoadedFlagsOnlyForAWholeFile) {
  kvo::AirportInfo info;
  kvo::QualityFactors quality;
  kvo::ParkFileFacts facts;
  kvo::AirportFileChoice choice;
  choice.path = put("good.xml", airportFileText(parkpos("A", 1, 1, 20, "", "<opt day=\"3\" hh=\"4\"/><opt day=\"5\" hh=\"4\"/>"),
                                                "<parameter name=\"altitude\" value=\"1411\"/>"
                                                "<parameter name=\"publisher\" value=\"inside\"/>"));
  choice.publisher = "stock";
  ASSERT_EQ(gf_readApf(choice, info, quality, g_parkStands, facts), "");
  EXPECT_TRUE(g_parkAirportLoaded);
  EXPECT_EQ(g_parkAirportHandmade, 0);
  EXPECT_EQ(g_parkStands.size(), 1u);
  EXPECT_EQ(info.publisher, "stock");  // the source decides where its learned copy goes
  EXPECT_EQ(info.altitude, 1411);
  EXPECT_EQ(facts.elevationFt, 1411.0);
  EXPECT_EQ(facts.trafficWeek, 2u);

  choice.path = put("bad.xml", good().substr(0, 60));
  EXPECT_NE(gf_readApf(choice, info, quality, g_parkStands, facts), "");
  EXPECT_FALSE(g_parkAirportLoaded);
  EXPECT_TRUE(g_parkStands.empty());

  choice.path.clear();
  EXPECT_NE(gf_readApf(choice, info, quality, g_parkStands, facts), "");
  EXPECT_FALSE(g_parkAirportLoaded);
}

// ---- quality factors and the traffic week -------------------------------------------------------

struct QualityCase {
  const char* name;
  std::vector<kvo::Stand> stands;
  kvo::QualityFactors expected;
};

TEST(QualityFactors, Formula) {
  const auto real = [](std::uint32_t day, std::uint64_t bits = 1) { return makeUse("A", "T", "K", "C", "", bits, day, 1, 0, 1); };
  const auto soft = [](std::uint32_t day) { return makeUse("A", "T", "K", "C", "", 1, day, 1, 0, 0); };
  kvo::Stand plain = makeStand(1, "P", 0, 0, 20);
  kvo::Stand everyDay = plain;
  for (std::uint32_t d = 1; d <= 7; ++d) everyDay.uses.push_back(real(d));
  kvo::Stand monday = plain;
  monday.uses = {real(1), real(1, 0xF0), soft(1), soft(2)};
  kvo::Stand heli = everyDay;
  heli.heli = 1;
  kvo::Stand noBits = plain;
  noBits.uses = {real(1, 0)};
  kvo::Stand madeUp = plain;
  madeUp.uses = {soft(4)};
  madeUp.uses[0].madeUp = 1;

  const std::vector<QualityCase> cases = {
      {"no stands", {}, {0, 0}},
      {"only heli stands", {heli}, {0, 0}},
      {"a full week", {everyDay}, {100, 0}},
      {"two uses of one day count once", {monday}, {14, 29}},
      {"heli stands do not count", {everyDay, heli, plain}, {50, 0}},
      {"empty half hours and made-up uses do not count", {noBits, madeUp}, {0, 0}},
      {"rounded", {monday, plain, plain}, {5, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(kvo::computeQualityFactors(c.stands), c.expected);
  }
  EXPECT_EQ(kvo::trafficWeekOf({monday, heli}), 7u);
  EXPECT_EQ(kvo::trafficWeekOf({monday, noBits, madeUp}), 1u);
}

// ---- the shipped file --------------------------------------------------------------------------

TEST_F(AirportFile, ShippedStockFileIsWholeAndPlausible) {
  kvo::AirportFileRecord r;
  ASSERT_EQ(kvo::readAirportFile(fs::path(AMBV_DATA_DIR) / "airports/archive/stock/LOWS.xml", r), "");
  EXPECT_EQ(logText().find("===>"), std::string::npos) << logText();  // nothing skipped
  EXPECT_EQ(r.icao, "LOWS");
  EXPECT_EQ(r.publisher, "stock");
  EXPECT_TRUE(r.handmade);
  EXPECT_EQ(r.altitude, 1411);
  ASSERT_GE(r.stands.size(), 20u);
  int heli = 0, cargo = 0, ramp = 0;
  for (const auto& s : r.stands) {
    heli += s.heli;
    cargo += s.cargo;
    ramp += s.ramp;
    EXPECT_LT(distanceNm(s.latitude, s.longitude, 47.793301, 13.0043), 1.0) << s.name;
    for (std::uint32_t n : s.adjacentIds) {  // neighbour lists go both ways
      const auto& other = r.stands[n - 1].adjacentIds;
      EXPECT_NE(std::find(other.begin(), other.end(), s.id), other.end()) << s.name;
    }
    for (const auto& t : r.stands) {  // no two stands overlap
      if (&s == &t) continue;
      EXPECT_GE(distanceNm(s.latitude, s.longitude, t.latitude, t.longitude), s.radius + t.radius) << s.name << t.name;
    }
  }
  EXPECT_GE(heli, 1);
  EXPECT_GE(cargo, 1);
  EXPECT_GE(ramp, 1);
  EXPECT_GT(static_cast<int>(r.stands.size()) - heli - cargo - ramp, 10);  // gates of the main apron
}

// Every input the airport files' fuzzer keeps, replayed through its driver: a file read is
// written and read back to the same stands, a list read serves the closest-airport search.
TEST(AirportFuzzInputs, ReplayWithoutABrokenPromise) {
  const coretest::TempFolder folder;
  for (const auto& [file, data] : coretest::fuzzInputs("airport_file")) {
    EXPECT_TRUE(fuzzinput::readAirportInput(data, folder.path())) << file;
  }
}

}  // namespace
