#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "core/download.h"
#include "core/log.h"
#include "core/run_flags.h"
#include "support/test_support.h"
#include "support/http_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(openLogFile(dir_.path()));
    curl_ = curl_easy_init();
    ASSERT_NE(curl_, nullptr);
  }
  void TearDown() override {
    curl_easy_cleanup(curl_);
    closeLogFile();
    resetDownloadSettings();
    g_stopRequested = false;
    g_quitRequested = false;
  }
  std::string logText() { return coretest::readFile(dir_ / "Log.txt"); }
  std::size_t filesInTarget() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(target_)) ++n;
    return n;
  }

  coretest::TempFolder dir_;
  fs::path target_ = dir_ / "input";
  CURL* curl_ = nullptr;
  coretest::HttpTestServer server_;
};

TEST_F(Download, Success) {
  fs::create_directory(target_);
  const std::string body = std::string("binary\0\r\n\xFF data", 16) + std::string(200000, 'z');
  server_.setAnswer("/dbase.enc", {200, body, false});
  ASSERT_TRUE(downloadFile(curl_, server_.url("/dbase.enc"), target_ / "dbase.enc", true));
  EXPECT_EQ(coretest::readFile(target_ / "dbase.enc"), body);
  EXPECT_EQ(filesInTarget(), 1u);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("User-Agent: Ambv\r\n"), std::string::npos);
}

TEST_F(Download, ServerErrorKeepsTheOldFile) {
  fs::create_directory(target_);
  coretest::writeFile(target_ / "dbase.enc", "good old data");
  server_.setAnswer("/gone", {404, "error page", false});
  server_.setAnswer("/broken", {500, "error page", false});
  EXPECT_FALSE(downloadFile(curl_, server_.url("/gone"), target_ / "dbase.enc", true));
  EXPECT_FALSE(downloadFile(curl_, server_.url("/broken"), target_ / "dbase.enc", false));
  EXPECT_EQ(coretest::readFile(target_ / "dbase.enc"), "good old data");
  EXPECT_EQ(filesInTarget(), 1u);
}

TEST_F(Download, UnreachablePortFailsQuickly) {
  // A port that was just free: nothing listens there.
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  fs::create_directory(target_);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/versions.json";
  EXPECT_FALSE(downloadFile(curl_, url, target_ / "versions.json", false));
  EXPECT_FALSE(fs::exists(target_ / "versions.json"));
  EXPECT_EQ(filesInTarget(), 0u);
}

TEST_F(Download, MissingTargetFolder) {
  server_.setAnswer("/a", {200, "x", false});
  EXPECT_FALSE(downloadFile(curl_, server_.url("/a"), dir_ / "nowhere" / "a", true));
  EXPECT_NE(logText().find("===> Could not open output file: " + (dir_ / "nowhere" / "a").string()),
            std::string::npos);
}

TEST_F(Download, StalledServerTimesOut) {
  fs::create_directory(target_);
  coretest::writeFile(target_ / "f", "old");
  server_.setAnswer("/stall", {200, "", true});
  setDownloadTimeouts({2, 3, 1, 1});
  const auto start = Clock::now();
  EXPECT_FALSE(downloadFile(curl_, server_.url("/stall"), target_ / "f", true));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(coretest::readFile(target_ / "f"), "old");
  EXPECT_EQ(filesInTarget(), 1u);
}

TEST_F(Download, StopRequestAbortsTheTransfer) {
  fs::create_directory(target_);
  server_.setAnswer("/stall", {200, "", true});
  g_quitRequested = true;  // the user closed the window; the default limits are minutes long
  const auto start = Clock::now();
  EXPECT_FALSE(downloadFile(curl_, server_.url("/stall"), target_ / "f", true));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(filesInTarget(), 0u);
}

TEST_F(Download, FromSiteUsesTheBaseAddressAndLogs) {
  fs::create_directory(target_);
  server_.setAnswer("/downloads/mysimaddon24/my_simaddon2024.zip", {200, "PK zip", false});
  setDownloadSiteUrl(server_.url("/downloads"));  // the missing '/' is added
  EXPECT_EQ(downloadSiteUrl(), server_.url("/downloads/"));
  const fs::path zip = target_ / "my_simaddon2024.zip";
  ASSERT_TRUE(downloadFromSite("mysimaddon24/my_simaddon2024.zip", zip));
  EXPECT_EQ(coretest::readFile(zip), "PK zip");
  EXPECT_NE(logText().find("Downloaded 'mysimaddon24/my_simaddon2024.zip' to '" + zip.string() + "'"),
            std::string::npos);

  EXPECT_FALSE(downloadFromSite("AIG-regcodes.enc", target_ / "AIG-regcodes.enc"));  // 404
  EXPECT_NE(logText().find("===> Downloading 'AIG-regcodes.enc' failed !"), std::string::npos);
  EXPECT_FALSE(fs::exists(target_ / "AIG-regcodes.enc"));
}

TEST_F(Download, FromSiteRefusesUnsafeNames) {
  setDownloadSiteUrl(server_.url("/downloads/"));
  for (const char* name : {"../secret", "/etc/passwd", "a b", "x?y=1", ""}) {
    EXPECT_FALSE(downloadFromSite(name, dir_ / "out")) << name;
  }
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

}  // namespace
