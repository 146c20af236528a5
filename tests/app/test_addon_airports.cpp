// The add-on airport scan at start-up over the default simulator installation of data/sim: its
// demo airport (LOWI) becomes an add-on airport file, the shipped stock LOWS stays the file the
// run parks on, and the scan's state and switch are as the start-up worker leaves them.
#include "airports/addon_scan.h"
#include "airports/airport_file.h"
#include "airports/airport_folders.h"
#include "app_fixture.h"
#include "bgl/demo_airport.h"
#include "core/download.h"

using namespace apptest;

namespace {

const fs::path kSim = fs::path(AMBV_SOURCE_DIR) / "data" / "sim";

class AddonAirportsTest : public AppTest {
 protected:
  void TearDown() override {
    resetAddonScanState();
    g_offlineLearningFolder = "TBLO";
    resetDownloadSettings();
    AppTest::TearDown();
  }
};

TEST_F(AddonAirportsTest, DemoPackageOfTheDefaultInstallation) {
  const fs::path demo = kSim / "Packages" / "Community" / "ambrelvane-airport-lowi-demo";
  EXPECT_EQ(coretest::readFile(demo / "scenery" / "ambrelvane" / "LOWI" / "LOWI-airport.bgl"),
            bglw::demoAirportBgl());  // the committed file is what tools/bgl/make_bgl writes

  setDownloadSiteUrl("http://127.0.0.1:1/");
  fs::copy(kSim / "Packages", "Packages", fs::copy_options::recursive);
  fs::copy(fs::path(AMBV_SOURCE_DIR) / "data" / "airports", "airports", fs::copy_options::recursive);
  fs::create_directories("TBLO");
  g_offlineLearningFolder = folder_.path() / "TBLO";
  ALL_INSTALL_PATH.set((folder_.path() / "Packages").string());
  SCAN_AIRPORTS.set(true);

  scanAddonAirports();

  EXPECT_TRUE(g_addonScanCompleted.load());
  EXPECT_FALSE(SCAN_AIRPORTS.value());
  EXPECT_EQ(storedValue("SCAN_AIRPORTS"), "false");
  EXPECT_EQ(g_helipadCounter.load(), 3u);
  {
    std::lock_guard lock(g_helipadPositionsMutex);
    ASSERT_EQ(g_helipadPositions.size(), 2u);
    EXPECT_EQ(g_helipadPositions[0].icao, "LOWI");
  }
  EXPECT_EQ(g_offlineLearningFileCount.load(), 1u);
  EXPECT_TRUE(fs::is_regular_file("TBLO/LOWI.xml"));

  const kvo::AirportFileChoice lowi = resolveAirportFile("LOWI");
  EXPECT_EQ(lowi.source, kvo::AirportFileSource::Thirdparty);
  EXPECT_EQ(lowi.publisher, "Ambrelvane");
  kvo::AirportFileRecord record;
  ASSERT_EQ(kvo::readAirportFile(lowi.path, record), "");
  EXPECT_EQ(record.stands.size(), 17u);  // 8 gates, cargo, 6 GA, 2 helipads; fuel and vehicles left out
  EXPECT_EQ(record.name, "Innsbruck Kranebitten (Ambrelvane demo)");
  EXPECT_EQ(resolveAirportFile("LOWS").source, kvo::AirportFileSource::Stock);

  const std::string report = coretest::readFile("output/AirportsScanLog.txt");
  EXPECT_TRUE(contains(report, "3 packages, 1 BGL file, 1 airport file written, 0 problems")) << report;
  EXPECT_TRUE(contains(log(), "Scanned 3 add-on packages and 1 BGL file: 1 airport file written")) << log();

  resetAddonScanState();
  EXPECT_FALSE(g_addonScanCompleted.load());
  EXPECT_EQ(g_helipadCounter.load(), 1u);
  std::lock_guard lock(g_helipadPositionsMutex);
  EXPECT_TRUE(g_helipadPositions.empty());
}

}  // namespace
