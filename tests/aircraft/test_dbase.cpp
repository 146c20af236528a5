#include <gtest/gtest.h>

#include <stdexcept>

#include "aircraft/aircraft_types.h"
#include "aircraft/dbase.h"
#include "aircraft_test_support.h"
#include "core/user_error.h"

namespace {

using namespace aircrafttest;
namespace fs = std::filesystem;

class Dbase : public ::testing::Test {
 protected:
  void SetUp() override { clearDbaseTables(); }
  void TearDown() override { clearDbaseTables(); }

  void installShippedFiles() {
    writeEncrypted(work.path() / "input" / "dbase.enc", sourceFile("data/src/dbase.xml"));
    writeEncrypted(work.path() / "input" / "AIG-regcodes.enc", sourceFile("data/src/regcodes.xml"));
  }

  // The user error that readDbase throws, or code 0 when it throws none.
  kvo::UserErrorException readError() {
    try {
      readDbase(work.path());
    } catch (const kvo::UserErrorException& e) {
      return e;
    }
    return kvo::UserErrorException(0, "");
  }

  TempFolder work;
};

TEST_F(Dbase, ShippedDataBaseHoldsRealTypesAndAirlines) {
  installShippedFiles();
  readDbase(work.path());
  EXPECT_GE(aircraftTypeCount(), 150u);
  EXPECT_GT(airlineCount(), 1000u);

  struct Case {
    const char* type;
    SizeCategory category;
    double spanMetres;
  };
  for (const Case& c : {Case{"B738", Large, 35.79}, Case{"A20N", Large, 35.80}, Case{"B77W", Heavy, 64.80},
                        Case{"A388", Heavy, 79.75}, Case{"C172", Light, 11.00}, Case{"C25A", Buzjets, 15.19},
                        Case{"A139", Rotorcraft, 13.80}, Case{"F16", HighPerf, 9.96}}) {
    SCOPED_TRACE(c.type);
    EXPECT_TRUE(isKnownType(c.type));
    EXPECT_EQ(getSizeCategory(c.type), c.category);
    EXPECT_NEAR(getWingspan(c.type) * 2.0 * 1852.0, c.spanMetres, 0.2);
  }
  EXPECT_NEAR(g_maxHalfWingSpan.load() * 2.0 * 1852.0, 79.75, 0.01);  // the A380 is the widest
  const auto dlh = findAirline("DLH");
  ASSERT_TRUE(dlh.has_value());
  EXPECT_EQ(dlh->iata, "LH");
  EXPECT_EQ(dlh->name, "Lufthansa");
  const auto related = relatedTypes("A320");
  EXPECT_NE(std::find(related.begin(), related.end(), "A321"), related.end());
  EXPECT_EQ(std::find(related.begin(), related.end(), "A320"), related.end());
}

TEST_F(Dbase, BadDataFilesGiveAUserErrorNamingTheFileAndKeepTheOldTables) {
  installShippedFiles();
  readDbase(work.path());
  const std::size_t types = aircraftTypeCount();

  const fs::path dbase = work.path() / "input" / "dbase.enc";
  const fs::path regcodes = work.path() / "input" / "AIG-regcodes.enc";
  std::string good = readFile(dbase);

  struct Case {
    const char* what;
    std::function<void()> damage;
    int code;
    const char* file;
  };
  const std::vector<Case> cases{
      {"missing", [&] { fs::remove(dbase); }, kDataFileMissingCode, "dbase.enc"},
      {"flipped byte", [&] { std::string b = good; b[b.size() / 2] ^= 4; writeFile(dbase, b); }, kDataFileDamagedCode, "dbase.enc"},
      {"truncated", [&] { writeFile(dbase, good.substr(0, good.size() - 5000)); }, kDataFileDamagedCode, "dbase.enc"},
      {"plain XML", [&] { writeFile(dbase, sourceFile("data/src/dbase.xml")); }, kDataFileDamagedCode, "dbase.enc"},
      {"no XML inside", [&] { writeEncrypted(dbase, "not xml at all"); }, kDataFileInvalidCode, "dbase.enc"},
      {"other root", [&] { writeEncrypted(dbase, "<regcodes/>"); }, kDataFileInvalidCode, "dbase.enc"},
      {"no types", [&] { writeEncrypted(dbase, minimalDbase("")); }, kDataFileInvalidCode, "dbase.enc"},
      {"registration file missing", [&] { fs::remove(regcodes); }, kDataFileMissingCode, "AIG-regcodes.enc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    installShippedFiles();
    c.damage();
    const kvo::UserErrorException e = readError();
    EXPECT_EQ(e.code(), c.code);
    EXPECT_NE(std::string(e.what()).find(c.file), std::string::npos) << e.what();
    // Nothing of a half-read file is used: the tables are those of the last good read.
    EXPECT_EQ(aircraftTypeCount(), types);
    EXPECT_TRUE(isKnownType("B738"));
  }
}

TEST_F(Dbase, RegistrationsAreLookedUpInTheDataBaseThenTheFileThenTheUsersFiles) {
  const std::string reg = "<reg reg=\"D-AIUA\" airline=\"DLH\" type=\"A20N\" operator=\"\" cargo=\"0\"/>";
  writeEncrypted(work.path() / "input" / "dbase.enc",
                 minimalDbase("<type icao=\"A20N\" span_m=\"35.8\" sets=\"large\"/>",
                              "<registrations>" + reg + "</registrations>"));
  writeEncrypted(work.path() / "input" / "AIG-regcodes.enc",
                 minimalRegcodes("<reg reg=\"D-AIUA\" airline=\"XXX\" type=\"A20N\" operator=\"\" cargo=\"0\"/>"
                                 "<reg reg=\"N123FE\" airline=\"FDX\" type=\"B763\" operator=\"\" cargo=\"1\"/>"));
  writeFileMakingFolders(work.path() / "input" / "my_regcodes" / "mine.TXT",
            "# my own\nN123FE;UPS;B763;;1\nG-EUPA;BAW;A319;SHT;0\n");
  writeFileMakingFolders(work.path() / "input" / "my_regcodes" / "other.txt", "EI-ABC;RYR;B738\n");
  readDbase(work.path());

  EXPECT_EQ(findRegcode("D-AIUA").value().airline, "DLH");
  EXPECT_EQ(findRegcode("daiua").value().airline, "DLH");  // without dash, lower case
  const auto fedex = findRegcode("N123FE");
  ASSERT_TRUE(fedex.has_value());
  EXPECT_EQ(fedex->airline, "FDX");
  EXPECT_EQ(fedex->cargo, 1);
  const auto shuttle = findRegcode("G-EUPA");
  ASSERT_TRUE(shuttle.has_value());
  EXPECT_EQ(shuttle->operatorCode, "SHT");
  EXPECT_EQ(findRegcode("EI-ABC").value().type, "B738");
  EXPECT_FALSE(findRegcode("N999ZZ").has_value());
  EXPECT_FALSE(findRegcode("").has_value());
}

// Lines end in CRLF, LF or CR alone; a skipped line is quoted cut short.
TEST(UserRegcodes, LinesAreCheckedFieldByField) {
  const UserRegcodes r = parseUserRegcodes(
      "D-AIUA;DLH;A20N\r\n"
      "; comment\n"
      "// comment\n"
      "\n"
      "G-EUPA ; baw ; a319 ; SHT ; 1 ; BA Special; with semicolon\n"
      "TOO;FEW\n"
      "bad reg!;DLH;A20N\n"
      "D-AIUB;DLH;747\n"
      "D-AIUC;LUFT;A20N\n"
      "D-AIUD;DLH;A20N;;2\n"
      "D-AIUE;DLH;A20N\rD-AIUF;DLH;A20N\r" +
          std::string(1000000, 'X'),
      "mine.txt");
  ASSERT_EQ(r.registrations.size(), 4u);
  EXPECT_EQ(r.registrations[3].first, "D-AIUF");
  EXPECT_EQ(r.registrations[1].first, "G-EUPA");
  EXPECT_EQ(r.registrations[1].second.airline, "BAW");
  EXPECT_EQ(r.registrations[1].second.cargo, 1);
  ASSERT_EQ(r.specialLiveries.size(), 1u);
  EXPECT_EQ(r.specialLiveries[0].title, "BA Special;with semicolon");
  ASSERT_EQ(r.rejected.size(), 6u);
  EXPECT_NE(r.rejected[0].find("mine.txt line 6"), std::string::npos) << r.rejected[0];
  EXPECT_TRUE(r.rejected[5].starts_with("mine.txt line 13: XXX")) << r.rejected[5].substr(0, 30);
  EXPECT_TRUE(r.rejected[5].ends_with("... (1000000 bytes) (fewer than 3 fields)")) << r.rejected[5].size();
}

// The limits of what the data files may name: registrations of up to 12 characters (the
// simulator's tail number), special livery titles of up to 255 (its title buffer), type
// designators of 2 to 4 characters.
TEST(DataFileRecords, LimitsOfRegistrationsTitlesAndTypes) {
  const std::string title255(255, 'T');
  const DbaseContent c = parseRegcodesXml(minimalRegcodes(
      "<reg reg=\"ABCDEFGHIJKL\" airline=\"DLH\" type=\"A20N\"/><reg reg=\"ABCDEFGHIJKLM\" airline=\"DLH\" type=\"A20N\"/>",
      "<livery reg=\"D-AIXX\" title=\"" + title255 + "\"/><livery reg=\"D-AIXY\" title=\"" + title255 + "U\"/>"));
  ASSERT_EQ(c.registrations.size(), 1u);
  EXPECT_EQ(c.registrations[0].first, "ABCDEFGHIJKL");
  ASSERT_EQ(c.specialLiveries.size(), 1u);
  EXPECT_EQ(c.specialLiveries[0].registration, "D-AIXX");
  EXPECT_EQ(c.skipped, 2u);
  for (const auto& [text, valid] : {std::pair{"A3", true}, {"A320", true}, {"A3201", false}, {"A", false}, {"3A20", false}}) {
    EXPECT_EQ(isTypeDesignator(text), valid) << text;
  }
}

TEST_F(Dbase, UserFilesInWindows1252AreRead) {
  writeEncrypted(work.path() / "input" / "dbase.enc", minimalDbase("<type icao=\"A20N\" span_m=\"35.8\"/>"));
  writeEncrypted(work.path() / "input" / "AIG-regcodes.enc", minimalRegcodes(""));
  writeFileMakingFolders(work.path() / "input" / "my_regcodes" / "ansi.txt", "D-AIUA;DLH;A20N;;0;Sch\xF6ne Bemalung\n");
  readDbase(work.path());
  const auto specials = dataSpecialLiveries();
  ASSERT_EQ(specials.size(), 1u);
  EXPECT_EQ(specials[0].title, "Sch\xC3\xB6ne Bemalung");
}

}  // namespace

TEST(SizeCategoryText, EveryValueAndOutOfRange) {
  const char* categories[] = {"Light", "Buzjets", "Large", "Heavy", "HighPerf", "Rotorcraft"};
  for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(kvo::sizeCategoryText(static_cast<SizeCategory>(i)), categories[i]);
  EXPECT_THROW(kvo::sizeCategoryText(static_cast<SizeCategory>(6)), std::out_of_range);
}
