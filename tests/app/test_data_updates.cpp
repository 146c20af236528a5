// The data updates against a download site on loopback: newer and missing data files installed
// only whole, the add-on airport zip unpacked only whole and only for MSFS 2024, and every kind
// of bad download leaving the installed data as they were.
#include <zip.h>

#include <algorithm>

#include <fmt/format.h>

#include "aircraft/data_crypto.h"
#include "app/data_updates.h"
#include "app/data_updates_input.h"
#include "app_fixture.h"
#include "core/download.h"
#include "support/http_server.h"

using namespace apptest;

namespace {

std::string encryptedSource(const char* name) {
  const std::string plain = coretest::readFile(fs::path(AMBV_SOURCE_DIR) / "data" / "src" / name);
  const std::vector<std::uint8_t> bytes = gf_streamEncrypt(plain, builtInDataKey());
  return std::string(bytes.begin(), bytes.end());
}

// A real zip made by libzip: entries in order, a name ending in '/' is a folder.
std::string makeZip(const fs::path& scratch, const std::vector<std::pair<std::string, std::string>>& entries) {
  int error = 0;
  zip_t* z = zip_open(scratch.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, content] : entries) {
    if (name.ends_with('/')) {
      zip_dir_add(z, name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
      zip_source_t* s = zip_source_buffer(z, content.data(), content.size(), 0);
      zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8);
    }
  }
  zip_close(z);
  return coretest::readFile(scratch);
}

std::string versionsJson(const std::string& members) { return "{" + members + "}"; }
std::string item(const char* name, int major, int minor, int patch) {
  return fmt::format("\"{}\": {{\"major\": {}, \"minor\": {}, \"patch\": {}}}", name, major, minor, patch);
}

class DataUpdatesTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    setDownloadSiteUrl(server_.url("/d/"));
    fs::create_directories("input");
    fs::create_directories("airports/my_simaddon");
    coretest::writeFile("input/dbase.enc", "installed dbase");
    coretest::writeFile("input/AIG-regcodes.enc", "installed regcodes");
    server_.setAnswer("/d/dbase.enc", {200, encryptedSource("dbase.xml"), false});
    server_.setAnswer("/d/AIG-regcodes.enc", {200, encryptedSource("regcodes.xml"), false});
  }
  void TearDown() override {
    resetDownloadSettings();
    resetDataUpdatesState();
    AppTest::TearDown();
  }
  void offer(const std::string& json) { server_.setAnswer("/d/versions.json", {200, json, false}); }
  std::size_t arrowLines() {
    const std::string text = log();
    std::size_t n = 0;
    for (std::size_t at = text.find("===> "); at != std::string::npos; at = text.find("===> ", at + 1)) ++n;
    return n;
  }
  bool requested(const std::string& path) {
    const auto r = server_.requests();
    return std::any_of(r.begin(), r.end(), [&](const std::string& head) { return contains(head, "GET " + path + " "); });
  }
  std::vector<std::string> simaddonFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator("airports/my_simaddon")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  coretest::HttpTestServer server_;
};

// The data files: a higher offer is installed and saved, an equal one with the file present is
// up to date, a deleted file comes again, and a download that is not whole changes nothing.
TEST_F(DataUpdatesTest, DataFilesInstalledOnlyWhole) {
  using Answer = coretest::HttpTestServer::Answer;
  struct Case {
    const char* what;
    std::string versions;
    const char* storedDbase;
    bool deleteRegcodes;
    Answer dbaseAnswer;  // status 0: the good file
    const char* expectDbaseVersion;
    bool dbaseReplaced, regcodesReplaced;
    std::vector<std::string> lines;
  };
  const std::string cut = encryptedSource("dbase.xml").substr(0, 5000);
  const std::vector<Case> cases = {
      {"newer dbase", versionsJson(item("dbase", 1, 0, 1) + "," + item("aig", 2, 0, 0)), "1.0.0", false, {0, "", false},
       "1.0.1", true, false, {"dbase updated to 1.0.1", "aig version up-to-date"}},
      {"regcodes deleted", versionsJson(item("dbase", 1, 0, 0) + "," + item("aig", 2, 0, 0)), "1.0.0", true,
       {0, "", false}, "1.0.0", false, true, {"dbase version up-to-date", "aig updated to 2.0.0"}},
      {"empty stored version", versionsJson(item("dbase", 0, 0, 1)), "", false, {0, "", false}, "0.0.1", true, false,
       {"dbase updated to 0.0.1", "===> aig version not found"}},
      {"cut download", versionsJson(item("dbase", 1, 0, 1)), "1.0.0", false, {200, cut, false}, "1.0.0", false, false,
       {"===> Downloaded dbase.enc is not a valid data file, input/dbase.enc kept"}},
      {"error page", versionsJson(item("dbase", 1, 0, 1)), "1.0.0", false, {404, "gone", false}, "1.0.0", false, false,
       {"===> Downloading 'dbase.enc' failed !"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    coretest::writeFile("input/dbase.enc", "installed dbase");
    coretest::writeFile("input/AIG-regcodes.enc", "installed regcodes");
    if (c.deleteRegcodes) fs::remove("input/AIG-regcodes.enc");
    DBASE_VERSION.set(c.storedDbase);
    AIG_VERSION.set("2.0.0");
    offer(c.versions);
    server_.setAnswer("/d/dbase.enc", c.dbaseAnswer.status == 0 ? Answer{200, encryptedSource("dbase.xml"), false}
                                                                : c.dbaseAnswer);
    checkVersions();
    EXPECT_EQ(DBASE_VERSION.value(), c.expectDbaseVersion);
    EXPECT_EQ(storedValue("DBASE_VERSION"), c.dbaseReplaced ? c.expectDbaseVersion : "");
    EXPECT_EQ(coretest::readFile("input/dbase.enc") != "installed dbase", c.dbaseReplaced);
    EXPECT_EQ(coretest::readFile("input/AIG-regcodes.enc") != "installed regcodes", c.regcodesReplaced);
    for (const std::string& line : c.lines) EXPECT_TRUE(contains(log(), line)) << line;
    EXPECT_FALSE(requested("/d/mysimaddon24/my_simaddon2024.zip"));  // MSFS 2020: never looked at
    EXPECT_EQ(std::distance(fs::directory_iterator("input"), fs::directory_iterator()), 2);  // no staging left
    setAndSaveStringParameter(DBASE_VERSION, "");
  }
}

// Bad versions.json and no network: one clear line each, nothing downloaded, the start-up goes on.
TEST_F(DataUpdatesTest, BadVersionInfoIsOneLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"not json {", "===> versions.json is not valid JSON, the data files are not checked"},
      {R"({"dbase": {"major": "1", "minor": 0, "patch": 1}, "aig": 3})",
       "===> versions.json: \"dbase\" has no whole number \"major\" within 32 bits, dbase not checked"},
      {R"({"dbase": {"major": 99999999999, "minor": 0, "patch": 1}})", "\"major\" within 32 bits, dbase not checked"},
      {R"({"dbase": {"major": 1.5, "minor": 0, "patch": 1}})", "\"major\" within 32 bits, dbase not checked"},
      {"", "===> Downloading version info from my web site failed!"},
  };
  for (const auto& [json, line] : cases) {
    SCOPED_TRACE(json);
    if (json.empty()) {
      setDownloadSiteUrl("http://127.0.0.1:1/");  // nothing listens: no network
    } else {
      offer(json);
    }
    const std::size_t before = arrowLines();
    EXPECT_NO_THROW(checkVersions());
    EXPECT_TRUE(contains(log(), line)) << log();
    if (json.empty() || json.front() != '{') {
      EXPECT_EQ(arrowLines(), before + 1);
    }
    EXPECT_EQ(coretest::readFile("input/dbase.enc"), "installed dbase");
  }
  EXPECT_FALSE(requested("/d/dbase.enc"));
  EXPECT_FALSE(requested("/d/AIG-regcodes.enc"));
}

// MSFS 2024: the add-on airport data come from a real zip, unpacked only whole into
// airports\my_simaddon; unsafe and repeated entries are skipped, damaged zips change nothing.
TEST_F(DataUpdatesTest, SimaddonZipUnpackedOnlyWhole) {
  g_simIs2020 = false;
  const fs::path scratch = folder_.path() / "scratch.zip";
  const std::string good = makeZip(scratch, {{"airports/", ""},
                                             {"airports/KXYZ.xml", "<airport icao=\"KXYZ\"/>"},
                                             {"LOWS.xml", "lows"},
                                             {"con.xml", "a Windows device name"},
                                             {"other/lows.txt", "again"},
                                             {"../EVIL.xml", "x"},
                                             {"/abs/ABS.xml", "x"},
                                             {"dir/..", "x"},
                                             {"bad/a:b.xml", "x"}});
  const std::string bomb = makeZip(scratch, {{"BIG.xml", std::string((64u << 20) + 1, '\0')}});
  const std::string empty = std::string("PK\x05\x06", 4) + std::string(18, '\0');  // no entries
  const std::string foldersOnly = makeZip(scratch, {{"airports/", ""}});
  const std::string cut = good.substr(0, good.size() / 2);
  using Files = std::vector<std::string>;
  struct Case {
    const char* what;
    std::string zip;
    const char* stored;
    Files files;
    const char* storedAfter;
    std::string line;
  };
  const Files old{"OLD.txt"};
  const Files installed{"KXYZ.txt", "LOWS.txt", "_con.txt"};
  const std::vector<Case> cases = {
      {"cut", cut, "", old, "", "===> Could not open my_simaddon2024.zip"},
      {"empty", empty, "", old, "", "===> my_simaddon2024.zip not unpacked, airports/my_simaddon kept: it holds no files to unpack"},
      {"folders only", foldersOnly, "", old, "", "it holds no files to unpack"},
      {"bomb", bomb, "", old, "", "entry BIG.xml holds 67108865 bytes, more than 67108864"},
      {"good", good, "", installed, "3.1.4", "my_simaddon2024.zip unzipped 3 files"},
      {"up to date", good, "3.1.4", installed, "3.1.4", "simaddon version up-to-date"},
  };
  coretest::writeFile("airports/my_simaddon/OLD.txt", "old data");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MYSIMADDON24_VERSION.set(c.stored);
    offer(versionsJson(item("simaddon", 3, 1, 4)));
    server_.setAnswer("/d/mysimaddon24/my_simaddon2024.zip", {200, c.zip, false});
    checkVersions();
    EXPECT_TRUE(contains(log(), c.line)) << log();
    EXPECT_EQ(simaddonFiles(), c.files);
    EXPECT_EQ(storedValue("MYSIMADDON24_VERSION"), c.storedAfter);
    EXPECT_FALSE(fs::exists("my_simaddon2024.zip"));
  }
  EXPECT_EQ(coretest::readFile("airports/my_simaddon/LOWS.txt"), "lows");
  for (const char* line : {"===> Zip entry skipped: other/lows.txt: lows.txt repeats an earlier entry's file name",
                           "===> Zip entry skipped: ../EVIL.xml: path climbs out with \"..\"",
                           "===> Zip entry skipped: /abs/ABS.xml: absolute path",
                           "===> Zip entry skipped: dir/..: path climbs out with \"..\"",
                           "===> Zip entry skipped: bad/a:b.xml: file name \"a:b\" is not usable"}) {
    EXPECT_TRUE(contains(log(), line)) << line;
  }
  EXPECT_FALSE(fs::exists("EVIL.txt"));
  EXPECT_FALSE(fs::exists("airports/EVIL.txt"));

  // An empty folder with an up-to-date version: the data come again.
  fs::remove_all("airports/my_simaddon");
  fs::create_directories("airports/my_simaddon");
  checkVersions();
  EXPECT_EQ(simaddonFiles(), installed);
}

TEST_F(DataUpdatesTest, ZipEntryCountLimitAndRestartRule) {
  const std::string bytes = makeZip(folder_.path() / "scratch.zip", {{"A.xml", "a"}, {"B.xml", "b"}, {"C.xml", "c"}});
  std::string error;
  std::optional<kvo::ZipArchive> zip = kvo::ZipArchive::openBuffer(bytes, error);
  ASSERT_TRUE(zip) << error;
  kvo::ZipLimits limits;
  limits.maxEntries = 2;
  const kvo::ZipReadResult r = kvo::readSimAddonZip(*zip, limits, [](const std::string&, std::string_view) { return true; });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "it holds 3 entries, more than 2");

  // A restart checks again only after a switch to MSFS 2024 since the last check.
  setDownloadSiteUrl("http://127.0.0.1:1/");
  g_simIs2020 = true;
  checkVersions();
  EXPECT_FALSE(versionCheckDueOnRestart());
  g_simIs2020 = false;
  EXPECT_TRUE(versionCheckDueOnRestart());
  checkVersions();
  EXPECT_FALSE(versionCheckDueOnRestart());
}

}  // namespace
