#pragma once
// The park airport's tests: an airports folder of the test's own with the stock file of Salzburg
// (two stands by default), a small airport list, and the list file my_park_airports.txt.
#include <filesystem>
#include <string>
#include <vector>

#include "airports/airport_folders.h"
#include "airports/airport_list.h"
#include "core/download.h"
#include "links/traffic_reader.h"
#include "traffic_test_support.h"

namespace parktest {

namespace fs = std::filesystem;

inline constexpr double kLowsLat = 47.793301;
inline constexpr double kLowsLon = 13.0043;
inline constexpr double kStandLat = 47.7970224;  // stand "1"
inline constexpr double kStandLon = 13.0055043;

struct FileSpec {
  std::string publisher = "stock";
  bool handmade = true;
  bool meta = true;
  int qfReal = 0;
  int stands = 2;
  std::string uses;  // "opt" elements of the first stand
};

// An airport file of LOWS in the program's format.
inline std::string airportFile(const FileSpec& f) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<airport icao=\"LOWS\">\n";
  if (f.meta)
    text +=
        " <meta>\n  <info name=\"author\" value=\"Ambrelvane\" />\n  <info name=\"MSFS\" value=\"MSFS\" />\n </meta>\n";
  text +=
      " <parameters>\n  <parameter name=\"airport_name\" value=\"Salzburg Airport\" />\n  <parameter "
      "name=\"publisher\" "
      "value=\"" +
      f.publisher + "\" />\n  <parameter name=\"handmade\" value=\"" + (f.handmade ? "true" : "false") +
      "\" />\n  <parameter name=\"Qf_real\" value=\"" + std::to_string(f.qfReal) +
      "\" />\n  <parameter name=\"altitude\" value=\"1411\" />\n </parameters>\n <parkpositions>\n";
  for (int i = 1; i <= f.stands; ++i) {
    const double lat = kStandLat - 0.0004 * (i - 1);
    text += "  <parkpos id=\"" + std::to_string(i) + "\" lat=\"" + std::to_string(lat) + "\" lon=\"" +
            std::to_string(kStandLon) + "\" heading=\"63.5\" radius=\"20\">" + (i == 1 ? f.uses : "") + "</parkpos>\n";
  }
  return text + " </parkpositions>\n</airport>\n";
}

class ParkAirportTest : public traffictest::TrafficTest {
 protected:
  void SetUp() override {
    TrafficTest::SetUp();
    g_airportsFolder = folder_ / "airports";
    fs::create_directories(g_airportsFolder / "archive" / "stock");
    fs::create_directories(g_airportsFolder / "my_thirdparty");
    writeStock(FileSpec{});
    // A missing stock file is asked for on the download site: a port nobody listens on refuses.
    setDownloadSiteUrl("http://127.0.0.1:1/");
    setAirportList({{"LOWS", "SZG", kLowsLat, kLowsLon, 1411.0},
                    {"LOWI", "INN", 47.2602, 11.3439, 1906.0},
                    {"EDMS", "", 48.8694, 12.5239, 1108.0},
                    {"EDDM", "MUC", 48.3538, 11.7861, 1487.0}});
  }
  void TearDown() override {
    TrafficTest::TearDown();
    resetAirportList();
    resetAirportFolders();
    resetDownloadSettings();
  }

  static void writeStock(const FileSpec& spec) {
    coretest::writeFile(g_airportsFolder / "archive" / "stock" / "LOWS.xml", airportFile(spec));
  }
  static void writeList(const std::string& text) {
    coretest::writeFile(g_airportsFolder / "my_park_airports.txt", text);
  }
  static std::string listFile() { return coretest::readFile(g_airportsFolder / "my_park_airports.txt"); }
  static std::vector<std::string> listCodes() {
    std::vector<std::string> out;
    std::lock_guard lock(g_parkAirportsMutex);
    for (const auto& e : g_parkAirports) out.push_back(e.stand.empty() ? e.code : e.code + "," + e.stand);
    return out;
  }
  static std::string message() { return g_mainWindow.displayText(&kvo::MainWindow::messageText); }

  // The user `nm` south of Salzburg, `aglFt` above the ground, in the air.
  static void flyAt(double nm, double aglFt) {
    setUser(kLowsLat - nm / 60.0, kLowsLon, 1411.0 + aglFt, false, aglFt);
  }
  // The user parked at stand "1" of Salzburg.
  static void parkAtLows() { setUser(kStandLat, kStandLon, 1411.0, true, 0.0); }
};

}  // namespace parktest
