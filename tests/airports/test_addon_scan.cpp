// The add-on airport scan over a simulated packages folder whose BGL files tools/bgl/bgl_writer.h
// makes: the airport files it writes, where the airport-file search finds them, and its report.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "airports/addon_scan.h"
#include "airports/airport_file.h"
#include "airports/airport_folders.h"
#include "bgl/bgl_writer.h"
#include "core/download.h"
#include "core/worker_slots.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

bglw::Parking parking(std::uint8_t name, std::uint8_t type, std::uint16_t number, double lat, double lon, float radius) {
  bglw::Parking p;
  p.name = name;
  p.type = type;
  p.number = number;
  p.lat = lat;
  p.lon = lon;
  p.radius = radius;
  p.heading = 353.0f;
  return p;
}

class AddonScan : public ::testing::Test {
 protected:
  void SetUp() override {
    g_airportsFolder = dir_ / "airports";
    setDownloadSiteUrl("http://127.0.0.1:1/");  // nothing is ever fetched here
    setMaxWorkerSlots(4);
    settings_.packagesFolder = dir_ / "Packages";
    settings_.reportFile = dir_ / "output" / "AirportsScanLog.txt";
  }
  void TearDown() override {
    resetAirportFolders();
    resetDownloadSettings();
    resetAddonScanState();
  }
  // A Community package with a manifest (creator, manufacturer) and BGL files.
  void package(const std::string& name, const std::string& creator, const std::string& manufacturer,
               const std::vector<std::pair<std::string, std::string>>& files) {
    const fs::path folder = dir_ / "Packages" / "Community" / name;
    fs::create_directories(folder);
    coretest::writeFile(folder / "manifest.json",
                        "{\"title\": \"" + name + "\", \"creator\": \"" + creator + "\", \"manufacturer\": \"" +
                            manufacturer + "\", \"content_type\": \"SCENERY\"}");
    for (const auto& [relative, bytes] : files) {
      fs::create_directories((folder / relative).parent_path());
      coretest::writeFile(folder / relative, bytes);
    }
  }
  kvo::AirportFileRecord written(const std::string& icao) {
    kvo::AirportFileRecord r;
    EXPECT_EQ(kvo::readAirportFile(thirdpartyAirportFilePath(icao), r), "");
    return r;
  }
  bool reported(const kvo::AddonScanResult& result, const std::string& line) {
    return std::find(result.report.begin(), result.report.end(), line) != result.report.end();
  }

  coretest::TempFolder dir_;
  kvo::AddonScanSettings settings_;
};

bglw::Airport innsbruck() {
  bglw::Airport a;
  a.icao = "LOWI";
  a.name = "Innsbruck";
  a.lat = 47.2602;
  a.lon = 11.344;
  a.altitudeMm = 581000;
  a.deleteFlags = 0x0080;
  a.parkings = {parking(10, 10, 1, 47.26135, 11.3452, 24), parking(10, 9, 2, 47.26135, 11.34573, 24),
                parking(12, 8, 3, 47.26135, 11.3470, 18), parking(1, 5, 20, 47.2608, 11.3512, 25),
                parking(1, 2, 31, 47.2617, 11.337, 8), parking(1, 12, 90, 47.2611, 11.3395, 10)};
  a.parkings[2].suffix = 13;
  return a;
}

TEST_F(AddonScan, ThreePackagesGiveTheirFilesAndReport) {
  bglw::Airport heliport;
  heliport.icao = "LOWK";
  heliport.lat = 46.6425;
  heliport.lon = 14.3377;
  heliport.parkings = {parking(1, 1, 1, 46.6430, 14.3380, 10)};
  heliport.helipads.resize(2);
  heliport.helipads[0].lat = heliport.helipads[1].lat = 46.6435;
  heliport.helipads[0].lon = 14.3370;
  heliport.helipads[1].lon = 14.3375;
  heliport.helipads[1].length = 30.0f;
  std::string cut = bglw::bglFile({bglw::airportRecord(innsbruck())});
  cut.resize(cut.size() - 40);
  package("alpine-airport-lowi", "Alpine Scenery Works", "", {{"scenery/LOWI.bgl", bglw::bglFile({innsbruck()})}});
  package("rotor-heliport-lowk", "", "Rotor Works", {{"scenery/a/LOWK.BGL", bglw::bglFile({heliport})}});
  package("broken-airport-lowg", "Broken", "", {{"scenery/LOWG.bgl", cut}});

  const kvo::AddonScanResult result = runAddonAirportScan(settings_);
  ASSERT_TRUE(result.completed);
  EXPECT_EQ(result.packages, 3u);
  EXPECT_EQ(result.bglFiles, 3u);
  EXPECT_EQ(result.airportFiles, 2u);
  EXPECT_EQ(result.problems, 1u);
  EXPECT_FALSE(fs::exists(thirdpartyAirportFilePath("LOWG")));

  const kvo::AirportFileRecord lowi = written("LOWI");
  EXPECT_EQ(lowi.name, "Innsbruck");
  EXPECT_EQ(lowi.publisher, "Alpine Scenery Works");
  EXPECT_EQ(lowi.creator, "Alpine Scenery Works");
  EXPECT_EQ(lowi.altitude, 1906);
  EXPECT_FALSE(lowi.handmade);
  EXPECT_NE(lowi.bglPath.find("LOWI.bgl"), std::string::npos);
  ASSERT_EQ(lowi.stands.size(), 5u);  // the fuel position is no stand
  struct Expected {
    const char* name;
    std::uint8_t cargo, ramp, heli;
    double radiusMetres;
    std::vector<std::uint32_t> neighbours;
  };
  const Expected expected[] = {{"G1", 0, 0, 0, 24, {2}}, {"G2", 0, 0, 0, 24, {1}}, {"A3B", 0, 0, 0, 18, {}},
                               {"P20", 1, 0, 0, 25, {}},  {"P31", 0, 1, 0, 8, {}}};
  for (std::size_t i = 0; i < 5; ++i) {
    const kvo::Stand& s = lowi.stands[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(s.name, expected[i].name);
    EXPECT_EQ(s.cargo, expected[i].cargo);
    EXPECT_EQ(s.ramp, expected[i].ramp);
    EXPECT_EQ(s.heli, expected[i].heli);
    EXPECT_NEAR(s.radius * kvo::kMetresPerNm, expected[i].radiusMetres, 1e-3);
    EXPECT_DOUBLE_EQ(s.heading, 353.0);
    EXPECT_EQ(s.adjacentIds, expected[i].neighbours);
  }
  EXPECT_NEAR(lowi.stands[0].latitude, 47.26135, 1e-7);

  const kvo::AirportFileRecord lowk = written("LOWK");
  EXPECT_EQ(lowk.publisher, "Rotor Works");
  EXPECT_EQ(lowk.name, "LOWK");  // no name record, not in the (empty) airport list
  ASSERT_EQ(lowk.stands.size(), 3u);
  EXPECT_EQ(lowk.stands[1].name, "H1");
  EXPECT_EQ(lowk.stands[1].heli, 1);
  EXPECT_EQ(lowk.stands[1].ramp, 1);
  EXPECT_NEAR(lowk.stands[2].radius * kvo::kMetresPerNm, 15.0, 1e-3);  // half the length
  ASSERT_EQ(result.helipadPositions.size(), 2u);
  EXPECT_EQ(result.helipadPositions[0].icao, "LOWK");

  const kvo::AirportFileChoice choice = resolveAirportFile("LOWI");
  EXPECT_EQ(choice.source, kvo::AirportFileSource::Thirdparty);
  EXPECT_EQ(choice.path, thirdpartyAirportFilePath("LOWI"));
  EXPECT_EQ(choice.publisher, "Alpine Scenery Works");
  EXPECT_FALSE(choice.unknownPublisher);

  for (const char* line : {
           "alpine-airport-lowi/scenery/LOWI.bgl: LOWI 'Innsbruck' with 6 parkings and 0 helipads",
           "LOWI: 1 position left out (fuel, vehicle or water positions)",
           "rotor-heliport-lowk/scenery/a/LOWK.BGL: LOWK '' with 1 parking and 2 helipads",
           "===> broken-airport-lowg/scenery/LOWG.bgl: airport data block of 440 bytes at 0x5c lies outside the file",
           "3 packages, 3 BGL files, 2 airport files written, 1 problem"}) {
    EXPECT_TRUE(reported(result, line)) << line << "\n" << testing::PrintToString(result.report);
  }
  EXPECT_NE(coretest::readFile(settings_.reportFile).find("2 airport files written"), std::string::npos);
}

// Load order, replacement and the limits: a later package's delete record replaces the earlier
// stands; a handmade file is never overwritten; an encrypted package is not read; an airport
// with more stands than a file may hold gets no file.
TEST_F(AddonScan, MergesInLoadOrderAndKeepsToTheLimits) {
  bglw::Airport base = innsbruck();
  base.deleteFlags.reset();
  bglw::Airport replacement = innsbruck();
  replacement.parkings = {parking(11, 9, 7, 47.262, 11.35, 20)};  // with the delete record
  package("a-base-lowi", "First", "", {{"LOWI.bgl", bglw::bglFile({base})}});
  package("b-better-lowi", "Second", "", {{"LOWI.bgl", bglw::bglFile({replacement})}});
  package("c-encrypted", "Market", "", {{"x.bgl", bglw::bglFile({innsbruck()})}, {"x.fsarchive", "?"}});
  bglw::Airport huge;
  huge.icao = "LOWW";
  std::vector<std::string> records;
  for (int r = 0; r < 2; ++r) {
    huge.parkings.clear();
    for (int i = 0; i < 50000; ++i) {
      const int n = r * 50000 + i;
      huge.parkings.push_back(parking(static_cast<std::uint8_t>(n / 4096), 1, static_cast<std::uint16_t>(n % 4096),
                                      48.1 + n * 1e-6, 16.5, 10));
    }
    records.push_back(bglw::airportRecord(huge));
  }
  package("d-huge-loww", "Huge", "", {{"LOWW.bgl", bglw::bglFile(records)}});
  fs::create_directories(thirdpartyAirportFilePath("LOWS").parent_path());
  const std::string handmade =
      "<airport icao=\"LOWS\"><meta/><parameters><parameter name=\"handmade\" value=\"true\"/></parameters>"
      "<parkpositions/></airport>";
  coretest::writeFile(thirdpartyAirportFilePath("LOWS"), handmade);
  bglw::Airport salzburg = innsbruck();
  salzburg.icao = "LOWS";
  package("e-lows", "Other", "", {{"LOWS.bgl", bglw::bglFile({salzburg})}});

  const kvo::AddonScanResult result = runAddonAirportScan(settings_);
  const kvo::AirportFileRecord lowi = written("LOWI");
  EXPECT_EQ(lowi.publisher, "Second");
  ASSERT_EQ(lowi.stands.size(), 1u);
  EXPECT_EQ(lowi.stands[0].name, "D7");
  EXPECT_EQ(coretest::readFile(thirdpartyAirportFilePath("LOWS")), handmade);
  EXPECT_FALSE(fs::exists(thirdpartyAirportFilePath("LOWW")));
  EXPECT_TRUE(reported(result, "===> c-encrypted: encrypted package (.fsarchive files), its airports cannot be read"));
  EXPECT_TRUE(reported(result, "===> LOWW: 100000 stands, more than the 20000 an airport file holds: no airport file"));
  EXPECT_TRUE(reported(result, "LOWS: handmade file " + thirdpartyAirportFilePath("LOWS").string() + " kept"));
  EXPECT_EQ(result.airportFiles, 1u);
}

}  // namespace
