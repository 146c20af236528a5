// The start-up checks: the install path's "Community" ending, the data folders, the option
// controls for the chosen simulator, and a whole pass over the shipped working folder.

#include "app_fixture.h"
#include "airports/airport_list.h"
#include "core/user_error.h"

using namespace apptest;

namespace {

class StartupChecksTest : public AppTest {
 protected:
  // The shipped input folder in this test's working folder.
  void copyShippedInput() {
    fs::copy(fs::path(AMBV_WORK_DIR) / "input", folder_.path() / "input", fs::copy_options::recursive);
  }
  // A Store edition's installation: UserCfg.opt naming its packages folder.
  fs::path installSimulator(const char* official = "Official") {
    const fs::path cache = folder_.path() / "local" / "Packages" / "Microsoft.FlightSimulator_8wekyb3d8bbwe" / "LocalCache";
    const fs::path packages = cache / "Packages";
    fs::create_directories(packages / "Community");
    fs::create_directories(packages / official / "OneStore");
    coretest::writeFile(cache / "UserCfg.opt", "{Graphics\n\tVersion 1.1\n}\nInstalledPackagesPath \"" +
                                                   packages.string() + "\"\n");
    return packages;
  }
};

TEST_F(StartupChecksTest, OnlyATrailingCommunityIsRemoved) {
  const std::vector<std::pair<std::string, std::string>> table{
      {"D:\\MSFS\\Community", "D:\\MSFS"},
      {"D:\\Community\\MSFS\\Community", "D:\\Community\\MSFS"},
      {"D:\\Community\\MSFS", "D:\\Community\\MSFS"},
      {"D:\\MSFS", "D:\\MSFS"},
      {"\\Community", ""},
      {"Community", "Community"},
      {"/home/pilot/Packages/Community", "/home/pilot/Packages"},
      {"", ""},
  };
  for (const auto& [stored, expected] : table) {
    MSFS_INSTALL_PATH.set(stored);
    stripCommunityFolder(MSFS_INSTALL_PATH);
    EXPECT_EQ(MSFS_INSTALL_PATH.value(), expected) << stored;
  }
  MSFS_INSTALL_PATH.set("E:\\Sim\\Community");
  stripCommunityFolder(MSFS_INSTALL_PATH);
  EXPECT_EQ(storedValue("MSFS_INSTALL_PATH"), "E:\\Sim");
}

TEST_F(StartupChecksTest, DataFoldersAreMadeAndObsoleteFilesGo) {
  fs::create_directories("input");
  coretest::writeFile("input/AIG-regcodes0.xml", "old");
  coretest::writeFile("input/AIG-regcodes00.xml", "older");
  prepareDataFolders();
  for (const char* folder : {"output", "output/info", "output/errors", "airports", "airports/learned",
                             "airports/learned/stock", "airports/learned/simaddon", "airports/learned/thirdparty",
                             "airports/my_simaddon", "airports/my_thirdparty", "input/my_regcodes"}) {
    EXPECT_TRUE(fs::is_directory(folder)) << folder;
  }
  EXPECT_FALSE(fs::exists("input/AIG-regcodes0.xml"));
  EXPECT_FALSE(fs::exists("input/AIG-regcodes00.xml"));
  prepareDataFolders();  // a second pass changes nothing

  // A file where a folder must be: the creation error reaches the caller.
  fs::remove_all("output");
  coretest::writeFile("output", "not a folder");
  EXPECT_THROW(prepareDataFolders(), fs::filesystem_error);
}

TEST_F(StartupChecksTest, SimulatorChoiceSetsTheEditionAndTheControls) {
  const HWND main = makeMainWindow();
  auto control = [main](ControlBinding& binding, const char16_t* cls) {
    binding.hwnd = CreateWindowExW(0, cls, u"", WS_CHILD, 0, 0, 10, 10, main,
                                   reinterpret_cast<HMENU>(static_cast<std::intptr_t>(binding.controlId)), nullptr,
                                   nullptr);
  };
  control(CALLSIGN_OBJECTIDS.binding, u"button");
  control(parking_percentage.binding, u"Edit");
  control(MAX_FIT_FL.binding, u"Edit");
  control(SIM_CHOICE.binding, u"ComboBox");
  SetWindowTextW(parking_percentage.binding.hwnd, u"55");
  MAX_FIT.set(13);

  SIM_CHOICE.set("MSFS 2024");
  applySimulatorChoice();
  EXPECT_FALSE(g_simIs2020.load());
  EXPECT_FALSE(IsWindowEnabled(CALLSIGN_OBJECTIDS.binding.hwnd));
  EXPECT_FALSE(IsWindowEnabled(parking_percentage.binding.hwnd));
  EXPECT_EQ(kvo::win32test::windowInfo(parking_percentage.binding.hwnd)->text, u"");
  EXPECT_EQ(parking_percentage.value(), 30);
  EXPECT_FLOAT_EQ(MAX_FIT_FL.value(), 7.0f);
  EXPECT_EQ(kvo::win32test::comboItems(SIM_CHOICE.binding.hwnd).size(), 2u);
  EXPECT_EQ(kvo::win32test::comboSelection(SIM_CHOICE.binding.hwnd), 1);

  SIM_CHOICE.set("MSFS 2020");
  applySimulatorChoice();
  EXPECT_TRUE(g_simIs2020.load());
  EXPECT_TRUE(IsWindowEnabled(CALLSIGN_OBJECTIDS.binding.hwnd));
}

TEST_F(StartupChecksTest, WithoutAnyInstallationTheUserMustTypeThePath) {
  copyShippedInput();
  try {
    runStartupChecks();
    FAIL() << "no error";
  } catch (const kvo::UserErrorException& e) {
    EXPECT_EQ(e.code(), kvo::kNoInstallPathErrorCode);
    EXPECT_STREQ(e.what(),
                 "150: No install path detected, type full path to your Community folder above, and press Enter");
  }
  EXPECT_TRUE(g_dataBaseRead);
  EXPECT_TRUE(contains(log(), "UserCfg.opt"));
}

TEST_F(StartupChecksTest, AWholePassFindsTheSimulatorAndRealTraffic) {
  copyShippedInput();
  const fs::path packages = installSimulator();
  fs::create_directories(folder_.path() / "roaming" / "InsideSystems");
  coretest::writeFile(folder_.path() / "roaming" / "InsideSystems" / "RealTraffic.jar", "");
  RANGE.set(25);
  runStartupChecks();
  EXPECT_EQ(MSFS_INSTALL_PATH.value(), packages.string());
  EXPECT_EQ(storedValue("MSFS_INSTALL_PATH"), packages.string());
  EXPECT_EQ(ALL_INSTALL_PATH.value(), packages.string());
  EXPECT_EQ(PROGRAM_INSTALL_PATH.value(), fs::current_path().string());
  EXPECT_TRUE(g_realTrafficOnThisPc.load());
  EXPECT_TRUE(contains(log(), "RealTraffic detected at this PC"));
  EXPECT_TRUE(fs::is_directory("airports/my_thirdparty"));
  EXPECT_EQ(g_startRange, 25);
  EXPECT_NE(g_currentWeekSlot.load(), 0u);

  // The next run: the stored path is used, RealTraffic is gone.
  fs::remove(folder_.path() / "roaming" / "InsideSystems" / "RealTraffic.jar");
  runStartupChecks();
  EXPECT_FALSE(g_realTrafficOnThisPc.load());
  EXPECT_TRUE(contains(log(), "RealTraffic not detected at this PC"));
}

TEST_F(StartupChecksTest, TheEditionChosenDecidesWhichPathIsUsed) {
  copyShippedInput();
  MSFS_INSTALL_PATH.set("/nowhere/2020");
  MSFS_2024_INSTALL_PATH.set("/nowhere/2024");
  saveStringParameter(MSFS_INSTALL_PATH);
  saveStringParameter(MSFS_2024_INSTALL_PATH);
  SIM_CHOICE.set("MSFS 2024");
  saveStringParameter(SIM_CHOICE);
  runStartupChecks();
  EXPECT_FALSE(g_simIs2020.load());
  EXPECT_EQ(ALL_INSTALL_PATH.value(), "/nowhere/2024");
}

TEST_F(StartupChecksTest, AMissingAirportListIsAUserError) {
  copyShippedInput();
  installSimulator();
  fs::remove("input/airports_msfs.xml");
  resetAirportList();
  try {
    runStartupChecks();
    FAIL() << "no error";
  } catch (const kvo::UserErrorException& e) {
    EXPECT_EQ(e.code(), kvo::kNoAirportListErrorCode);
  }
}

}  // namespace
