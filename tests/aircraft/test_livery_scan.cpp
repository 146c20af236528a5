#include <gtest/gtest.h>

#include <algorithm>

#include "aircraft/aircraft_types.h"
#include "aircraft/dbase.h"
#include "aircraft/livery_db.h"
#include "aircraft/livery_scan.h"
#include "aircraft_test_support.h"
#include "core/parameters.h"
#include "core/worker_slots.h"

namespace {

using namespace aircrafttest;
namespace fs = std::filesystem;

std::string toUtf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// A packages folder with AI packages of every kind, a scenery package and broken files.
class FakeInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    clearDbaseTables();
    resetLiveryDbForTests();
    setMaxWorkerSlots(4);
    replaceAircraftTypes({{"A20N", "A320neo", 35.8, 1u << Large},
                          {"A21N", "A321neo", 35.8, 1u << Large},
                          {"B738", "737-800", 35.8, 1u << Large},
                          {"B744", "747-400", 64.4, 1u << Heavy}},
                         {});
    const fs::path community = packages() / "Community";
    write(community / "fsltl-traffic-base" / "manifest.json", R"({"title":"FSLTL Traffic Base"})");
    write(community / "fsltl-traffic-base/SimObjects/Airplanes/FSLTL_A20N/aircraft.cfg",
          "[VERSION]\nmajor=1\n[GENERAL]\nicao_type_designator = \"A20N\"\n"
          "[FLTSIM.0]\ntitle = \"FSLTL_A20N_ZZZZ\"\nicao_airline = \"ZZZZ\"\n"
          "[FLTSIM.1]\ntitle = \"FSLTL_A20N_AIB_Airbus-Industrie-STUB\"\nicao_airline = \"AIB\"\n"
          "[FLTSIM.2]\ntitle = \"FSLTL A20N DLH Lufthansa\"\nicao_airline = \"dlh\"\n"
          "[FLTSIM.3]\ntitle = \"FSLTL A20N DLH Star Alliance\"\nicao_airline = \"DLH\"\n");
    // A livery container that names only its base container (in another package).
    write(community / "fsltl-liveries-ezy/SimObjects/Airplanes/FSLTL_A20N_EZY/aircraft.cfg",
          "[VARIATION]\nbase_container = \"..\\FSLTL_A20N\"\n"
          "[FLTSIM.0]\ntitle = \"FSLTL A20N EZY easyJet\"\natc_parking_codes = \"EZY,EZS\"\n");
    // The AIG package in UTF-16 with a registration and a section without a title.
    write(community / "aig-aitraffic-oci-beta/SimObjects/Airplanes/AIG_B738/aircraft.cfg",
          toUtf16Le("[GENERAL]\r\nicao_type_designator = B738\r\n"
                    "[FLTSIM.0]\r\ntitle = \"AIG B738 DLH D-ABCD\"\r\nicao_airline = DLH\r\natc_id = \"d-abcd\"\r\n"
                    "[FLTSIM.3]\r\nicao_airline = DLH\r\n"
                    "[FLTSIM.4]\r\ntitle = \"AIG A20N DLH\"\r\n"));
    write(community / "aig-aitraffic-oci-beta/SimObjects/Airplanes/AIG_A20N/aircraft.cfg",
          "[GENERAL]\nicao_type_designator = A20N\n"
          "[FLTSIM.0]\ntitle = \"AIG A20N DLH\"\nicao_airline = DLH\n"
          "[FLTSIM.1]\ntitle = \"FSLTL A20N DLH Lufthansa\"\nicao_airline = DLH\n"
          "[FLTSIM.2]\ntitle = \"AIG A20N\xE2\x80\x8B DLH 2\"\nicao_airline = DLH\n");  // U+200B
    write(community / "aig-aitraffic-oci-beta/SimObjects/Airplanes/AIG_NONE/aircraft.cfg",
          "[GENERAL]\nicao_type_designator = A20N\n");
    std::string garbage(3000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 131 + 7) % 256);
    write(community / "aig-aitraffic-oci-beta/SimObjects/Airplanes/AIG_BAD/aircraft.cfg", garbage);
    // A 50 MB file (sparse, so the test stays fast).
    const fs::path huge = community / "aig-aitraffic-oci-beta/SimObjects/Airplanes/AIG_HUGE/aircraft.cfg";
    write(huge, "[FLTSIM.0]\ntitle=huge\n");
    fs::resize_file(huge, 50u * 1024u * 1024u);
    // A scenery package is no AI package; its aircraft.cfg is not read.
    write(community / "myairport-eddf" / "manifest.json", R"({"title":"Frankfurt","creator":"someone"})");
    write(community / "myairport-eddf/SimObjects/Airplanes/X/aircraft.cfg",
          "[GENERAL]\nicao_type_designator=B738\n[FLTSIM.0]\ntitle=scenery plane\n");
    // A Marketplace package below Official\OneStore, in Windows-1252.
    write(packages() / "Official/OneStore/justflight-traffic/manifest.json", R"({"title":"Traffic"})");
    write(packages() / "Official/OneStore/justflight-traffic/SimObjects/Airplanes/JF_B744/aircraft.cfg",
          "[GENERAL]\nicao_type_designator=B744\n"
          "[FLTSIM.0]\ntitle=\"JF B744 Lufthansa Cargo Fr\xE4hter\"\nicao_airline=GEC\natc_parking_types=\"CARGO\"\n"
          "[FLTSIM.1]\ntitle=\"JF B744 GEC 2\"\nicao_airline=GEC\natc_parking_types=\"GATE, mil_cargo\"\n");
  }
  void TearDown() override {
    clearDbaseTables();
    resetLiveryDbForTests();
  }

  fs::path packages() const { return root.path() / "packages"; }
  static void write(const fs::path& path, const std::string& content) { writeFileMakingFolders(path, content); }

  LiveryScanSettings settings(const std::string& order = "AIG, FSLTL, JF") const {
    LiveryScanSettings s;
    s.packagesFolder = packages();
    s.packageOrder = order;
    return s;
  }

  static const LiveryData* byTitle(const LiveryScanResult& r, const std::string& title) {
    auto it = std::find_if(r.liveries.begin(), r.liveries.end(), [&](const LiveryData& l) { return l.title == title; });
    return it == r.liveries.end() ? nullptr : &*it;
  }

  static bool anyLineHas(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }

  TempFolder root;
};

TEST_F(FakeInstall, ScanTakesEveryAiPackageInPackageOrder) {
  const LiveryScanResult r = runLiveryScan(settings("FSLTL, AIG, JF"));
  ASSERT_TRUE(r.completed);
  EXPECT_EQ(r.sources.size(), 4u);  // two FSLTL packages, AIG, JF; not the scenery

  struct Expected {
    const char* title;
    const char* airline;
    const char* type;
    const char* atcid;
    std::uint32_t folder;
    std::uint8_t cargo;
  };
  for (const Expected& e : {Expected{"FSLTL A20N DLH Lufthansa", "DLH", "A20N", "", 0, 0},
                            Expected{"FSLTL_A20N_ZZZZ", "", "A20N", "", 0, 0},
                            Expected{"FSLTL A20N EZY easyJet", "EZY", "A20N", "", 0, 0},
                            Expected{"AIG B738 DLH D-ABCD", "DLH", "B738", "D-ABCD", 1, 0},
                            Expected{"AIG A20N DLH", "DLH", "A20N", "", 1, 0},
                            Expected{"JF B744 Lufthansa Cargo Fr\xC3\xA4hter", "GEC", "B744", "", 2, 1},
                            Expected{"JF B744 GEC 2", "GEC", "B744", "", 2, 1}}) {  // a military cargo stand
    SCOPED_TRACE(e.title);
    const LiveryData* l = byTitle(r, e.title);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(*l, (LiveryData{e.airline, e.type, e.title, e.atcid, e.folder, e.cargo}));
  }
  EXPECT_EQ(byTitle(r, "FSLTL_A20N_AIB_Airbus-Industrie-STUB"), nullptr);  // SUPPRESS_STUB
  EXPECT_EQ(byTitle(r, "scenery plane"), nullptr);
  EXPECT_NE(byTitle(r, "FSLTL A20N DLH Star Alliance"), nullptr);
  EXPECT_EQ(r.liveries.size(), 8u);

  const ScanReports& rep = r.reports;
  const std::vector<std::pair<const std::vector<std::string>*, const char*>> findings{
      {&rep.invalidFiles, "AIG_BAD"},
      {&rep.invalidFiles, "AIG_HUGE"},
      {&rep.noFltsimSection, "AIG_NONE"},
      {&rep.incompleteSections, "[FLTSIM.3]: no title"},
      // The simulator knows the title only as written: no cleaned stand-in for it.
      {&rep.incompleteSections, "[FLTSIM.2]: title 'AIG A20N\\xE2\\x80\\x8B DLH 2' holds control or invisible characters"},
      {&rep.invalidAirlines, "'ZZZZ' is no airline code"},
      {&rep.conversions, "airline EZY taken from atc_parking_codes"},
      {&rep.conversions, "type A20N taken from the base container fsltl_a20n"},
      {&rep.fixes, "airline 'dlh' read as 'DLH'"},
      {&rep.fixes, "read as UTF-16 LE"},
      {&rep.fixes, "read as Windows-1252"},
      {&rep.fixes, "title 'FSLTL A20N DLH Lufthansa' already scanned"},
      {&rep.inlineRegcodes, "D-ABCD;AIG B738 DLH D-ABCD;DLH;B738"},
  };
  for (const auto& [lines, text] : findings) EXPECT_TRUE(anyLineHas(*lines, text)) << text;
  EXPECT_TRUE(rep.invalidAircraft.empty());
}

TEST_F(FakeInstall, ScanOptionsStubAndPrioritize) {
  LiveryScanSettings s = settings("AIG, FSLTL, JF");
  s.suppressStub = false;
  s.prioritize = true;
  const LiveryScanResult r = runLiveryScan(s);
  EXPECT_NE(byTitle(r, "FSLTL_A20N_AIB_Airbus-Industrie-STUB"), nullptr);
  // DLH A20N is in the AIG folder (0), so FSLTL's DLH A20N (1) is left out; the title
  // "FSLTL A20N DLH Lufthansa" is first seen in the AIG package, which comes first now.
  ASSERT_NE(byTitle(r, "AIG A20N DLH"), nullptr);
  EXPECT_EQ(byTitle(r, "AIG A20N DLH")->folderIndex, 0u);
  const LiveryData* fsltlDlh = byTitle(r, "FSLTL A20N DLH Lufthansa");
  ASSERT_NE(fsltlDlh, nullptr);
  EXPECT_EQ(fsltlDlh->folderIndex, 0u);
  EXPECT_EQ(byTitle(r, "FSLTL A20N DLH Star Alliance"), nullptr);
  EXPECT_TRUE(anyLineHas(r.reports.fixes, "'FSLTL A20N DLH Star Alliance' left out"));
  EXPECT_NE(byTitle(r, "FSLTL A20N EZY easyJet"), nullptr);  // no EZY in a lower folder
}

TEST_F(FakeInstall, ManualFoldersTakeTheirNumberAsFolderIndex) {
  LiveryScanSettings s = settings();
  s.automatic = false;
  s.manualFolders = {"", "Community/fsltl-liveries-ezy", (packages() / "Official").string(), "missing"};
  std::vector<std::string> notes;
  const auto sources = findLiverySources(s, notes);
  ASSERT_EQ(sources.size(), 2u);
  EXPECT_EQ(sources[0].folderIndex, 1u);
  EXPECT_EQ(sources[1].folderIndex, 2u);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("lfolder3"), std::string::npos);
}

TEST_F(FakeInstall, ScannedFileRoundTrip) {
  const LiveryScanSettings s = settings();
  const LiveryScanResult r = runLiveryScan(s);
  const fs::path file = root.path() / "output" / "LiveriesScanned.xml";
  ASSERT_TRUE(writeScannedLiveries(file, r, s));
  const std::string text = readFile(file);
  EXPECT_EQ(text.find("<?xml", 1), std::string::npos);  // one declaration, or other readers refuse the file
  std::vector<LiveryData> back;
  ASSERT_TRUE(readScannedLiveries(file, back));
  EXPECT_EQ(back, r.liveries);

  writeFile(file, "<liveries><livery title=\"\" type=\"A20N\"/><livery title=\"ok\" type=\"A20N\" folder=\"3\"/>");
  EXPECT_FALSE(readScannedLiveries(file, back));  // not well-formed: nothing taken
  EXPECT_EQ(back, r.liveries);
  writeFile(file, "<liveries><livery title=\"\" type=\"A20N\"/><livery title=\"ok\" type=\"A20N\" folder=\"3\"/></liveries>");
  ASSERT_TRUE(readScannedLiveries(file, back));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].folderIndex, 3u);
}

// The whole road through the parameters: scan, files, switch, data base, and the next run.
TEST_F(FakeInstall, ScanLiveriesWritesItsFilesAndSwitchesTheScanOff) {
  const char* oldAppData = std::getenv("APPDATA");
  const std::string saved = oldAppData != nullptr ? oldAppData : "";
  setenv("APPDATA", (root.path() / "appdata").c_str(), 1);
  fs::create_directories(root.path() / "appdata");
  resetParametersForTests();
  ALL_INSTALL_PATH.set(packages().string());
  SCAN_LIVERIES.set(true);
  const fs::path work = root.path() / "work";

  const std::uint64_t count = scanLiveries(work);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(liveryDbSize(), 8u);
  EXPECT_TRUE(g_scannedLiveriesProcessed.load());
  EXPECT_FALSE(SCAN_LIVERIES.value());
  EXPECT_NE(readFile(parametersFilePath()).find("name=\"SCAN_LIVERIES\" value=\"false\""), std::string::npos);
  EXPECT_TRUE(fs::exists(work / "output" / "LiveriesScanned.xml"));
  for (const char* report : {"errors/AircraftCfgWithNoFltsimSection.txt", "errors/InvalidAirlineCodes.txt",
                             "errors/InvalidAircraftCodes.txt", "errors/InvalidAircraftCfgFiles.txt",
                             "errors/IncompleFltsimSections.txt", "info/AirlineModelConversions.txt",
                             "info/OfflineRegcodes.txt", "info/InlineRegcodes.txt", "info/Fixes.txt"}) {
    EXPECT_TRUE(fs::exists(work / "output" / report)) << report;
  }
  EXPECT_NE(readFile(work / "output/errors/InvalidAircraftCfgFiles.txt").find("AIG_BAD"), std::string::npos);
  EXPECT_EQ(g_specialLiveries.titleFor("D-ABCD"), "AIG B738 DLH D-ABCD");

  // The next run of the process builds nothing again; after a switch it reads the file.
  clearLiveryDb();
  EXPECT_EQ(scanLiveries(work), 0u);
  g_scannedLiveriesProcessed = false;
  EXPECT_EQ(scanLiveries(work), 8u);

  g_scannedLiveriesProcessed = false;
  resetParametersForTests();
  if (oldAppData != nullptr) {
    setenv("APPDATA", saved.c_str(), 1);
  } else {
    unsetenv("APPDATA");
  }
}

}  // namespace
