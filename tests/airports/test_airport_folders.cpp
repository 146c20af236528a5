#include <filesystem>

#include <gtest/gtest.h>

#include "airports/airport_folders.h"
#include "airports/park_stands.h"
#include "airport_test_support.h"
#include "core/download.h"
#include "core/files.h"
#include "core/log.h"
#include "support/http_server.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace airporttest;
using kvo::AirportFileSource;

std::string fileWithPublisher(const std::string& publisher) {
  return airportFileText(parkpos("A", 1, 1, 20), "<parameter name=\"publisher\" value=\"" + publisher + "\"/>");
}

class AirportFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(openLogFile(dir_.path()));
    g_airportsFolder = root_;
    fs::create_directories(root_);
    setDownloadSiteUrl(server_.url("/"));
  }
  void TearDown() override {
    closeLogFile();
    resetAirportFolders();
    resetDownloadSettings();
    resetParkStands();
  }
  void put(const fs::path& relative, const std::string& text) {
    fs::create_directories((root_ / relative).parent_path());
    coretest::writeFile(root_ / relative, text);
  }
  std::size_t requests() { return server_.requests().size(); }

  coretest::TempFolder dir_;
  // A folder named with "unknown", as an install folder may be: it must not mark any file.
  fs::path root_ = dir_ / "unknown-install" / "airports";
  coretest::HttpTestServer server_;
};

struct OrderCase {
  const char* name;
  std::vector<const char*> present;
  AirportFileSource expected;
  const char* path;
};

TEST_F(AirportFolders, SearchOrderIsThirdpartySimaddonStock) {
  const std::vector<OrderCase> cases = {
      {"all", {"my_thirdparty/ZZAB/ZZAB.xml", "my_simaddon/ZZAB.txt", "archive/stock/ZZAB.xml"},
       AirportFileSource::Thirdparty, "my_thirdparty/ZZAB/ZZAB.xml"},
      {"simaddon and stock", {"my_simaddon/ZZAB.txt", "archive/stock/ZZAB.xml"}, AirportFileSource::Simaddon,
       "my_simaddon/ZZAB.txt"},
      {"simaddon as xml", {"my_simaddon/ZZAB.xml", "archive/stock/ZZAB.xml"}, AirportFileSource::Simaddon,
       "my_simaddon/ZZAB.xml"},
      {"stock only", {"archive/stock/ZZAB.xml"}, AirportFileSource::Stock, "archive/stock/ZZAB.xml"},
      {"a folder in place of the file", {"archive/stock/ZZAB.xml/x"}, AirportFileSource::None, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_);
    for (const char* p : c.present) put(p, fileWithPublisher("Acme"));
    EXPECT_EQ(findAirportFile("ZZAB"), static_cast<int>(c.expected));
    const kvo::AirportFileChoice choice = resolveAirportFile("zzab");
    EXPECT_EQ(choice.source, c.expected);
    EXPECT_EQ(choice.path, *c.path ? root_ / c.path : fs::path());
    EXPECT_FALSE(choice.unknownPublisher);
  }
}

TEST_F(AirportFolders, LearnedCopyAndPublisherFollowTheSource) {
  put("archive/stock/ZZAB.xml", fileWithPublisher("whatever"));
  put("learned/stock/ZZAB.xml", fileWithPublisher("stock"));
  put("my_thirdparty/ZZTP/ZZTP.xml", fileWithPublisher("Acme/Sim: &quot;Pro&quot;"));
  put("learned/thirdparty/Acme_Sim_ _Pro_/ZZTP.xml", fileWithPublisher("Acme/Sim: &quot;Pro&quot;"));
  put("my_simaddon/ZZSA.txt", fileWithPublisher(""));

  kvo::AirportFileChoice stock = resolveAirportFile("ZZAB");
  EXPECT_EQ(stock.publisher, "stock");
  EXPECT_EQ(stock.learnedPath, root_ / "learned/stock/ZZAB.xml");
  kvo::AirportFileChoice third = resolveAirportFile("ZZTP");
  EXPECT_EQ(third.publisher, "Acme/Sim: \"Pro\"");
  EXPECT_EQ(third.learnedPath, learnedAirportFilePath("ZZTP", third.publisher));
  EXPECT_EQ(third.learnedPath, root_ / "learned/thirdparty/Acme_Sim_ _Pro_/ZZTP.xml");
  kvo::AirportFileChoice simaddon = resolveAirportFile("ZZSA");
  EXPECT_EQ(simaddon.publisher, "simaddon");
  EXPECT_FALSE(simaddon.unknownPublisher);
  EXPECT_TRUE(simaddon.learnedPath.empty());
  EXPECT_EQ(learnedAirportFilePath("ZZSA", "simaddon"), root_ / "learned/simaddon/ZZSA.xml");
}

TEST_F(AirportFolders, UnknownPublisherIsTheFilesValueNotAWordInThePath) {
  put("archive/stock/ZZAB.xml", fileWithPublisher("unknown"));
  EXPECT_FALSE(resolveAirportFile("ZZAB").unknownPublisher);  // stock, in an "unknown-install" folder
  for (const char* publisher : {"unknown", "UNKNOWN", "", "  "}) {
    SCOPED_TRACE(publisher);
    put("my_thirdparty/ZZAB/ZZAB.xml", fileWithPublisher(publisher));
    const kvo::AirportFileChoice choice = resolveAirportFile("ZZAB");
    EXPECT_EQ(choice.source, AirportFileSource::Thirdparty);
    EXPECT_TRUE(choice.unknownPublisher);
    EXPECT_TRUE(choice.learnedPath.empty());
  }
  put("my_thirdparty/ZZAB/ZZAB.xml", fileWithPublisher("Unknown Sceneries"));
  EXPECT_FALSE(resolveAirportFile("ZZAB").unknownPublisher);
  put("my_thirdparty/ZZAB/ZZAB.xml", "not xml");  // reading it tells the real reason instead
  EXPECT_FALSE(resolveAirportFile("ZZAB").unknownPublisher);
}

TEST_F(AirportFolders, CodesThatAreNoFileNamesFindNothingAndAskNobody) {
  put("archive/stock/ZZAB.xml", fileWithPublisher("stock"));
  for (const char* code : {"", "../archive/stock/ZZAB", "ZZ/AB", "ABCDEFGHI", "Z Z"}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(findAirportFile(code), 0);
    EXPECT_FALSE(resolveAirportFile(code).found());
  }
  EXPECT_EQ(requests(), 0u);
  EXPECT_EQ(publisherFolderName(".."), "unknown");
  EXPECT_EQ(publisherFolderName(" . Acme\\x . "), "Acme_x");
  EXPECT_EQ(publisherFolderName(std::string(150, 'p')), std::string(100, 'p'));  // a folder name of a sane length
  // Names from outside text are clean UTF-8 (a character cut at the length too) and never a device.
  EXPECT_EQ(publisherFolderName(std::string(99, 'p') + "\xC3\xA9"), std::string(99, 'p') + "\xEF\xBF\xBD");
  EXPECT_EQ(publisherFolderName("Acme\x01\xFF"), "Acme_\xEF\xBF\xBD");
  EXPECT_EQ(publisherFolderName("con.txt "), "_con.txt");
  EXPECT_EQ(learnedAirportFilePath("COM1", "NUL"), root_ / "learned" / "thirdparty" / "_NUL" / "_COM1.xml");
  EXPECT_EQ(thirdpartyAirportFilePath("AUX"), root_ / "my_thirdparty" / "_AUX" / "_AUX.xml");
}

TEST_F(AirportFolders, MissingStockFileIsDownloadedChecked) {
  const std::string body = fileWithPublisher("stock");
  server_.setAnswer("/airports/ZZDL.xml", {200, body, false});
  EXPECT_EQ(findAirportFile("ZZDL"), static_cast<int>(AirportFileSource::Stock));
  EXPECT_EQ(coretest::readFile(root_ / "archive/stock/ZZDL.xml"), body);
  ASSERT_EQ(requests(), 1u);
  EXPECT_EQ(server_.requests()[0].rfind("GET /airports/ZZDL.xml ", 0), 0u);
  EXPECT_EQ(resolveAirportFile("ZZDL").path, root_ / "archive/stock/ZZDL.xml");
  EXPECT_EQ(requests(), 1u);  // there now
  EXPECT_EQ(countDirectoryEntries(root_ / "archive/stock"), 1u);
}

TEST_F(AirportFolders, FailedDownloadLeavesNothingAndIsNotRepeatedAtOnce) {
  server_.setAnswer("/airports/ZZHT.xml", {200, "<html>maintenance</html>", false});
  EXPECT_EQ(findAirportFile("ZZHT"), 0);  // an answer that is no airport file
  EXPECT_EQ(findAirportFile("ZZNF"), 0);  // 404
  EXPECT_EQ(requests(), 2u);
  EXPECT_EQ(countDirectoryEntries(root_ / "archive/stock"), 0u);
  EXPECT_NE(coretest::readFile(dir_ / "Log.txt").find("Downloaded stock file for ZZHT refused"), std::string::npos);
  // Asked for every main-loop step, the site is not asked again within the retry time.
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(findAirportFile("ZZHT"), 0);
    EXPECT_FALSE(resolveAirportFile("ZZNF").found());
  }
  EXPECT_EQ(requests(), 2u);
  resetAirportFolders();
  g_airportsFolder = root_;
  EXPECT_EQ(findAirportFile("ZZNF"), 0);
  EXPECT_EQ(requests(), 3u);
}

TEST_F(AirportFolders, ShippedStockFileReadsAsTheParkAirport) {
  fs::create_directories(root_ / "archive/stock");
  fs::copy_file(fs::path(AMBV_DATA_DIR) / "airports/archive/stock/LOWS.xml", root_ / "archive/stock/LOWS.xml");
  const kvo::AirportFileChoice choice = resolveAirportFile("LOWS");
  ASSERT_EQ(choice.source, AirportFileSource::Stock);
  kvo::AirportInfo info;
  kvo::QualityFactors quality;
  kvo::ParkFileFacts facts;
  ASSERT_EQ(gf_readApf(choice, info, quality, g_parkStands, facts), "");
  EXPECT_TRUE(g_parkAirportLoaded);
  EXPECT_EQ(g_parkAirportHandmade, 1);
  EXPECT_EQ(info.name, "Salzburg Airport");
  EXPECT_EQ(info.publisher, "stock");
  EXPECT_EQ(facts.elevationFt, 1411.0);
  EXPECT_EQ(facts.trafficWeek, 0u);
  EXPECT_GE(g_parkStands.size(), 20u);
  EXPECT_EQ(computeQualityFactors(), (kvo::QualityFactors{0, 0}));
  EXPECT_EQ(requests(), 0u);
}

}  // namespace
