// Where the simulator's packages folder is found: the Steam folder, then UserCfg.opt of the
// Store, Steam and boxed editions, each checked for Community and the edition's own packages.
#include "app/sim_detection.h"
#include "app_fixture.h"
#include "usercfg_input.h"

using namespace apptest;

namespace {

class SimDetectionTest : public AppTest {
 protected:
  fs::path roaming() const { return folder_.path() / "roaming"; }
  fs::path local() const { return folder_.path() / "local"; }
  static void packagesAt(const fs::path& packages, const char* official) {
    fs::create_directories(packages / "Community");
    if (official != nullptr) fs::create_directories(packages / official);
  }
  static void userCfgAt(const fs::path& file, const std::string& line) {
    fs::create_directories(file.parent_path());
    coretest::writeFile(file, "{Sound\n\tVolume 50\n}\n" + line + "\n");
  }
};

TEST_F(SimDetectionTest, SteamPackagesWithoutOfficialAreRejectedAndUserCfgIsTriedNext) {
  g_simIs2020 = true;
  packagesAt(roaming() / "Microsoft Flight Simulator" / "Packages", nullptr);
  const fs::path named = folder_.path() / "D" / "MSFS";
  packagesAt(named, "Official");
  userCfgAt(roaming() / "Microsoft Flight Simulator" / "UserCfg.opt", "InstalledPackagesPath \"" + named.string() + "\"");
  EXPECT_EQ(detectSimulator(), named);
  const std::string text = log();
  EXPECT_TRUE(contains(text, "Steam packages:"));
  EXPECT_TRUE(contains(text, "MSFS detection, no Store:"));
  EXPECT_TRUE(contains(text, "UserCfg.opt: InstalledPackagesPath=" + named.string()));
}

TEST_F(SimDetectionTest, SteamPackagesAreTakenFirst) {
  g_simIs2020 = true;
  const fs::path steam = roaming() / "Microsoft Flight Simulator" / "Packages";
  packagesAt(steam, "Official");
  EXPECT_EQ(detectSimulator(), steam);
}

TEST_F(SimDetectionTest, AMissingFolderInUserCfgGivesNothing) {
  g_simIs2020 = true;
  userCfgAt(local() / "MSFSPackages" / "UserCfg.opt", "InstalledPackagesPath \"/no/such/folder\"");
  EXPECT_EQ(readInstalledPackagesPath(), fs::path());
  EXPECT_TRUE(contains(log(), "UserCfg.opt: InstalledPackagesPath=???"));
  EXPECT_TRUE(contains(log(), "MSFS detection, no Steam2:"));
  EXPECT_EQ(detectSimulator(), fs::path());
}

TEST_F(SimDetectionTest, NoUserCfgAtAll) {
  EXPECT_EQ(readInstalledPackagesPath(), fs::path());
  EXPECT_TRUE(contains(log(), "No UserCfg.opt found?"));
  EXPECT_TRUE(contains(log(), "MSFS detection, no Boxed:"));
}

TEST_F(SimDetectionTest, EachEditionLooksInItsOwnPlacesForItsOwnFolder) {
  const fs::path packages = folder_.path() / "Packages2024";
  packagesAt(packages, "Official");  // a 2020 layout
  userCfgAt(local() / "Packages" / "Microsoft.Limitless_8wekyb3d8bbwe" / "LocalCache" / "UserCfg.opt",
            "InstalledPackagesPath \"" + packages.string() + "\"");
  g_simIs2020 = false;
  EXPECT_FALSE(checkPackagesPath(packages));
  EXPECT_EQ(detectSimulator(), fs::path());
  fs::create_directories(packages / "Official2024");
  EXPECT_EQ(detectSimulator(), packages);
  g_simIs2020 = true;  // the 2020 edition has no UserCfg.opt here
  EXPECT_EQ(findUserCfgOpt(), local() / "MSFSPackages" / "UserCfg.opt");
  EXPECT_EQ(getStorePackageFamily(), fs::path("Microsoft.FlightSimulator_8wekyb3d8bbwe"));
  EXPECT_EQ(getSteamFolderName(), fs::path("Microsoft Flight Simulator"));
}

TEST_F(SimDetectionTest, TheFirstLineNamingThePathCounts) {
  g_simIs2020 = true;
  const fs::path packages = folder_.path() / "With Space" / "Packages";
  packagesAt(packages, "Official");
  userCfgAt(local() / "Packages" / "Microsoft.FlightSimulator_8wekyb3d8bbwe" / "LocalCache" / "UserCfg.opt",
            "InstalledPackagesPath \"" + packages.string() + "\"\r\nInstalledPackagesPath \"/other\"");
  EXPECT_EQ(readInstalledPackagesPath(), packages);
  MSFS_INSTALL_PATH.set(packages.string());
  EXPECT_EQ(getSimPackagesPath("Community"), packages / "Community");
}

// The packages path of a UserCfg.opt text: the first line naming it, in any case; the text
// between its first two quotes (backslashes are no escapes), or without quotes the rest of the
// line; lines end at CR LF, LF or a lone CR.
TEST(UserCfgText, ThePackagesPathInEveryFormSeen) {
  const std::pair<const char*, const char*> cases[] = {
      {"{Sound\r\n}\r\nInstalledPackagesPath \"D:\\MSFS\\Packages\"\r\n", "D:\\MSFS\\Packages"},
      {"InstalledPackagesPath \"H:\\MSFS2024\\\"", "H:\\MSFS2024\\"},
      {"installedpackagespath  D:\\My Packages  \n", "D:\\My Packages"},
      {"{Graphics\rInstalledPackagesPath \"C:\\A\"\rOther \"x\"", "C:\\A"},
      {"InstalledPackagesPath\rC:\\B", ""},
      {"{Graphics\n}\n", ""},
  };
  for (const auto& [text, path] : cases) EXPECT_EQ(installedPackagesPathIn(text), path) << text;
  for (const auto& [file, data] : coretest::fuzzInputs("usercfg")) EXPECT_TRUE(fuzzinput::readUserCfgInput(data)) << file;
}

}  // namespace
