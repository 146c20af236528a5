// The default simulator installation of data/sim, as scripts/run and the end-to-end tests lay it
// out: the program finds it, scans its liveries, and the stand-in simulator's default scenario
// offers exactly those liveries.
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

#include "aircraft/livery_scan.h"
#include "app/sim_detection.h"
#include "app_fixture.h"

using namespace apptest;

namespace {

const fs::path kSim = fs::path(AMBV_SOURCE_DIR) / "data" / "sim";

std::set<std::string> scenarioLiveries() {
  // The scenario file has whole-line comments, which the JSON reader does not take.
  std::istringstream lines(coretest::readFile(kSim / "simulator-scenario.json"));
  std::string plain;
  for (std::string line; std::getline(lines, line);) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.compare(first, 2, "//") != 0) plain += line + "\n";
  }
  const auto scenario = nlohmann::json::parse(plain);
  return scenario.at("liveries").get<std::set<std::string>>();
}

class DefaultInstallationTest : public AppTest {};

TEST_F(DefaultInstallationTest, IsFoundScannedAndMatchesTheScenario) {
  const fs::path cache = folder_.path() / "local" / "Packages" / "Microsoft.FlightSimulator_8wekyb3d8bbwe" / "LocalCache";
  fs::create_directories(cache);
  fs::copy(kSim / "Packages", cache / "Packages", fs::copy_options::recursive);
  std::string userCfg = coretest::readFile(kSim / "UserCfg.opt.in");
  const auto at = userCfg.find("@PACKAGES@");
  ASSERT_NE(at, std::string::npos);
  userCfg.replace(at, 10, (cache / "Packages").string());
  coretest::writeFile(cache / "UserCfg.opt", userCfg);

  g_simIs2020 = true;
  const fs::path packages = detectSimulator();
  ASSERT_EQ(packages, cache / "Packages");

  LiveryScanSettings settings;
  settings.packagesFolder = packages;
  const LiveryScanResult scan = runLiveryScan(settings);
  std::set<std::string> titles;
  std::set<std::string> kinds;
  for (const auto& livery : scan.liveries) titles.insert(livery.title);
  for (const auto& source : scan.sources) kinds.insert(source.label);
  EXPECT_EQ(kinds, (std::set<std::string>{"AIG", "FSLTL"}));
  EXPECT_TRUE(scan.reports.invalidFiles.empty());
  EXPECT_TRUE(scan.reports.invalidAircraft.empty());
  EXPECT_TRUE(scan.reports.invalidAirlines.empty());
  EXPECT_EQ(titles, scenarioLiveries());
  EXPECT_EQ(titles.size(), 13u);
}

}  // namespace
