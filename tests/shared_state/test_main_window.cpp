#include <fmt/format.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "core/parameters.h"
#include "core/run_flags.h"
#include "platform/win32/testing.h"
#include "platform/win32/win32.h"
#include "shared_state/main_window.h"

namespace fs = std::filesystem;

namespace {

fs::path uniqueTempFolder() {
  const char* base = std::getenv("AMBV_TEST_TMP");
  fs::path root = base && *base ? fs::path(base) : fs::temp_directory_path();
  std::random_device rd;
  fs::path folder = root / ("main_window_" + std::to_string(rd()) + "_" + std::to_string(rd()));
  fs::create_directories(folder);
  return folder;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = uniqueTempFolder();
    fs::create_directories(folder_ / "appdata");
    ::setenv("APPDATA", (folder_ / "appdata").c_str(), 1);
    resetParametersForTests();
    g_stopRequested = false;
    g_quitRequested = false;
    g_mainWindow.resetForTests();
    ASSERT_TRUE(openLogFile(folder_));
    headerLength_ = logText().size();
  }

  void TearDown() override {
    if (HWND w = g_mainWindow.hwnd.load()) DestroyWindow(w);
    g_mainWindow.resetForTests();
    closeLogFile();
    resetParametersForTests();
    g_stopRequested = false;
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  std::string logText() const { return readFile(folder_ / "Log.txt"); }
  // What the tests wrote to the log, without the header line.
  std::string logBody() const { return logText().substr(headerLength_); }

  std::string message() const { return g_mainWindow.displayText(&kvo::MainWindow::messageText); }
  std::int32_t stamp() const {
    std::lock_guard lock(g_mainWindow.messageMutex);
    return g_mainWindow.messageStamp;
  }

  // The value stored for a parameter in parameters.xml; empty when there is none.
  std::string storedValue(const char* name) const {
    pugi::xml_document doc;
    if (!doc.load_file(parametersFilePath().c_str())) return {};
    auto node = doc.select_node(fmt::format("/parameters/parameter[@name='{}']", name).c_str());
    return node ? node.node().attribute("value").value() : std::string{};
  }

  HWND makeWindow() {
    HWND w = CreateWindowExW(0, u"AmbvMainWindowTest", u"test", WS_CAPTION | WS_SYSMENU, 0, 0, 880, 516,
                             nullptr, nullptr, nullptr, nullptr);
    g_mainWindow.hwnd = w;
    return w;
  }

  fs::path folder_;
  std::size_t headerLength_ = 0;
};

}  // namespace

TEST_F(MainWindowTest, BuiltBeforeMainAndRegisteredForLoading) {
  EXPECT_TRUE(g_mainWindow.ready.load(std::memory_order_acquire));
  EXPECT_EQ(g_mainWindow.MAIN_WINDOW_X.value(), 400);
  EXPECT_EQ(g_mainWindow.MAIN_WINDOW_Y.value(), 20);
  EXPECT_EQ(findParameter("MAIN_WINDOW_X"), &g_mainWindow.MAIN_WINDOW_X);
  EXPECT_EQ(findParameter("MAIN_WINDOW_Y"), &g_mainWindow.MAIN_WINDOW_Y);
}

TEST_F(MainWindowTest, ErrorIsStickyUntilCleared) {
  g_mainWindow.showMessage("first", false);
  g_mainWindow.showErrorMessage("Sim not found");
  EXPECT_EQ(message(), "");
  EXPECT_EQ(stamp(), 0);
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::errorText), "Sim not found");

  g_mainWindow.showMessage("dropped", true);
  g_mainWindow.clearMessage();
  EXPECT_EQ(message(), "");
  for (int i = 0; i < 100; ++i) g_mainWindow.onUserSampleMessageClock();
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::errorText), "Sim not found");

  g_mainWindow.clearError();
  g_mainWindow.clearMessage();
  g_mainWindow.showMessage("next", true);
  EXPECT_EQ(message(), "next");

  const std::string body = logBody();
  EXPECT_NE(body.find("Error Sim not found\n"), std::string::npos);
  EXPECT_EQ(body.find("dropped"), std::string::npos);
  EXPECT_NE(body.find("next\n"), std::string::npos);
}

TEST_F(MainWindowTest, ClearMessageLogsNothingAndCancelsTheClearing) {
  g_mainWindow.showMessage("Waiting for MSFS 2020 ...", true);
  EXPECT_GE(stamp(), 1);
  const std::string before = logBody();
  EXPECT_NE(before.find("Waiting for MSFS 2020 ...\n"), std::string::npos);

  g_mainWindow.clearMessage();
  EXPECT_EQ(message(), "");
  EXPECT_EQ(stamp(), 0);
  EXPECT_EQ(logBody(), before);

  g_mainWindow.showMessage("not logged", false);
  EXPECT_EQ(message(), "not logged");
  EXPECT_EQ(logBody(), before);
}

TEST_F(MainWindowTest, MessageStandsTwentyFiveSamples) {
  // Shown before the first sample of the run: stamp 1, never 0.
  g_mainWindow.showMessage("hello", false);
  EXPECT_EQ(stamp(), 1);
  for (int clock = 1; clock <= 25; ++clock) {
    g_mainWindow.onUserSampleMessageClock();
    ASSERT_EQ(message(), "hello") << "at messageClock " << clock;
  }
  g_mainWindow.onUserSampleMessageClock();
  EXPECT_EQ(g_mainWindow.messageClock.load(), 26);
  EXPECT_EQ(message(), "");
  EXPECT_EQ(stamp(), 0);

  // A later message counts from its own sample.
  for (int i = 0; i < 4; ++i) g_mainWindow.onUserSampleMessageClock();  // clock 30
  g_mainWindow.showMessage("later", false);
  EXPECT_EQ(stamp(), 30);
  for (int i = 0; i < 24; ++i) g_mainWindow.onUserSampleMessageClock();
  EXPECT_EQ(message(), "later");
  g_mainWindow.onUserSampleMessageClock();
  EXPECT_EQ(message(), "");
}

TEST_F(MainWindowTest, NothingIsLoggedOnceAStopIsRequested) {
  g_stopRequested = true;
  g_mainWindow.showMessage("closing", true);
  g_mainWindow.showErrorMessage("late failure");
  EXPECT_EQ(g_mainWindow.displayText(&kvo::MainWindow::errorText), "late failure");
  EXPECT_EQ(logBody(), "");
}

TEST_F(MainWindowTest, MessageLineIsRepaintedOnTheWindow) {
  // Without a window nothing is recorded and nothing fails.
  g_mainWindow.showMessage("no window yet", false);

  HWND w = makeWindow();
  ASSERT_NE(w, nullptr);
  kvo::win32test::clearInvalidations(w);

  g_mainWindow.showMessage("shown", false);
  auto rects = kvo::win32test::invalidations(w);
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_FALSE(rects[0].wholeClient);
  EXPECT_EQ(rects[0].rect.left, 0);
  EXPECT_EQ(rects[0].rect.top, 448);
  EXPECT_EQ(rects[0].rect.right, 880);
  EXPECT_EQ(rects[0].rect.bottom, 476);
  EXPECT_TRUE(rects[0].erase);

  g_mainWindow.showErrorMessage("bad");
  g_mainWindow.showMessage("ignored", false);  // dropped: no repaint
  EXPECT_EQ(kvo::win32test::invalidations(w).size(), 2u);

  kvo::win32test::clearInvalidations(w);
  g_mainWindow.setDisplayText(&kvo::MainWindow::simulatorText, "MSFS 2020 11.0", g_statusAreaRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::simulatorText, "MSFS 2020 11.0", g_statusAreaRect);
  rects = kvo::win32test::invalidations(w);
  ASSERT_EQ(rects.size(), 1u);  // an unchanged text repaints nothing
  EXPECT_EQ(rects[0].rect.top, 28);
  EXPECT_EQ(rects[0].rect.bottom, 112);
}

TEST_F(MainWindowTest, WindowPositionOnALimitIsPutBack) {
  struct Case {
    std::int32_t stored;
    std::int32_t expected;
    bool saved;
  };
  for (const Case& c : {Case{-30000, 400, true}, Case{30000, 400, true}, Case{1200, 1200, false}}) {
    resetParametersForTests();
    std::error_code ec;
    fs::remove(parametersFilePath(), ec);
    g_mainWindow.MAIN_WINDOW_X.set(c.stored);
    g_mainWindow.storeWindowPosition(400, 20);
    EXPECT_EQ(g_mainWindow.MAIN_WINDOW_X.value(), c.expected) << c.stored;
    EXPECT_EQ(g_mainWindow.MAIN_WINDOW_Y.value(), 20);
    EXPECT_EQ(storedValue("MAIN_WINDOW_X"), c.saved ? std::to_string(c.expected) : std::string{}) << c.stored;
  }

  // Quitting with the window's left edge beyond the limit: clamped and saved first, then the
  // value from before is put back and saved.
  resetParametersForTests();
  g_mainWindow.MAIN_WINDOW_X.set(750);
  g_mainWindow.MAIN_WINDOW_Y.set(60);
  const std::int32_t keptX = g_mainWindow.MAIN_WINDOW_X.value();
  const std::int32_t keptY = g_mainWindow.MAIN_WINDOW_Y.value();
  g_mainWindow.MAIN_WINDOW_X.set(-32000);
  g_mainWindow.MAIN_WINDOW_Y.set(25);
  ASSERT_TRUE(saveIntParameter(g_mainWindow.MAIN_WINDOW_X));
  ASSERT_TRUE(saveIntParameter(g_mainWindow.MAIN_WINDOW_Y));
  EXPECT_EQ(storedValue("MAIN_WINDOW_X"), "-30000");
  g_mainWindow.storeWindowPosition(keptX, keptY);
  EXPECT_EQ(g_mainWindow.MAIN_WINDOW_X.value(), 750);
  EXPECT_EQ(storedValue("MAIN_WINDOW_X"), "750");
  EXPECT_EQ(storedValue("MAIN_WINDOW_Y"), "25");

  // A previous value beyond the limits is clamped.
  g_mainWindow.MAIN_WINDOW_Y.set(30000);
  g_mainWindow.storeWindowPosition(750, 99999);
  EXPECT_EQ(g_mainWindow.MAIN_WINDOW_Y.value(), 30000);
}

TEST_F(MainWindowTest, NewRunResetsOnlyTheRunFields) {
  auto& w = g_mainWindow;
  w.showMessage("message", false);
  w.onUserSampleMessageClock();
  for (auto field : {&kvo::MainWindow::userAircraftText, &kvo::MainWindow::parkAirportName,
                     &kvo::MainWindow::parkAirportPublisher, &kvo::MainWindow::qualityFactorText,
                     &kvo::MainWindow::simulatorText, &kvo::MainWindow::realTrafficEdition,
                     &kvo::MainWindow::userStandText, &kvo::MainWindow::objectIdText}) {
    w.setDisplayText(field, "x", g_statusAreaRect);
  }
  w.showErrorMessage("error");
  w.beforeLinkStep = false;
  w.g_rtLinkUp = w.parkFileLoaded = w.g_simConnected = w.simRunning = true;
  w.g_userWingSpanKnown = false;
  w.handmade = w.softStaticParking = w.reservedStandFound = true;
  w.qnh = 1020;
  w.wantedParkCount = 12;
  w.wantedParkPercent = 30;
  w.minutesToNextPass = 7;
  w.staticAverageHours = 2.5f;
  w.liveAverageHours = 1.5f;
  w.standUpdateCount = 4;
  w.liveCount = w.parkedLiveCount = w.parkedStaticCount = w.standCount = 9;
  w.simaddonFileCount = w.thirdPartyFileCount = w.liveryCount = 5;
  w.g_trafficLamp = w.g_qnhLamp = 1;

  w.resetForNewRunWindowFields();

  EXPECT_EQ(message(), "");
  EXPECT_EQ(w.displayText(&kvo::MainWindow::errorText), "");
  EXPECT_EQ(stamp(), 0);
  EXPECT_EQ(w.messageClock.load(), 0);
  for (auto field : {&kvo::MainWindow::userAircraftText, &kvo::MainWindow::parkAirportName,
                     &kvo::MainWindow::parkAirportPublisher, &kvo::MainWindow::qualityFactorText,
                     &kvo::MainWindow::simulatorText, &kvo::MainWindow::realTrafficEdition,
                     &kvo::MainWindow::userStandText}) {
    EXPECT_EQ(w.displayText(field), "");
  }
  EXPECT_TRUE(w.beforeLinkStep);
  EXPECT_FALSE(w.g_rtLinkUp || w.parkFileLoaded || w.g_simConnected || w.simRunning || w.handmade ||
               w.softStaticParking);
  EXPECT_TRUE(w.g_userWingSpanKnown);
  EXPECT_EQ(w.qnh, 0);
  EXPECT_EQ(w.wantedParkCount, 0);
  EXPECT_EQ(w.staticAverageHours, -1.0f);
  EXPECT_EQ(w.liveAverageHours, -1.0f);
  EXPECT_EQ(w.standUpdateCount, 0);
  EXPECT_EQ(w.liveCount + w.parkedLiveCount + w.parkedStaticCount + w.standCount, 0u);
  EXPECT_EQ(w.g_trafficLamp, 3);
  EXPECT_EQ(w.g_qnhLamp, 3);
  // Kept across runs.
  EXPECT_EQ(w.displayText(&kvo::MainWindow::objectIdText), "x");
  EXPECT_EQ(w.liveryCount, 5u);
  EXPECT_EQ(w.simaddonFileCount, 5u);
  EXPECT_EQ(w.wantedParkPercent, 30);
  EXPECT_EQ(w.minutesToNextPass, 7);
  EXPECT_TRUE(w.reservedStandFound);
}

TEST_F(MainWindowTest, WritersOnSeveralThreads) {
  HWND window = makeWindow();
  ASSERT_NE(window, nullptr);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &go] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 500; ++i) {
        g_mainWindow.showMessage(fmt::format("thread {} message {}", t, i), false);
        g_mainWindow.setDisplayText(&kvo::MainWindow::userStandText, std::to_string(i), g_statusAreaRect);
        g_mainWindow.liveCount.fetch_add(1);
        if (t == 0) g_mainWindow.onUserSampleMessageClock();
      }
    });
  }
  go = true;
  for (int i = 0; i < 500; ++i) {
    (void)g_mainWindow.displayText(&kvo::MainWindow::messageText);
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(g_mainWindow.liveCount.load(), 2000u);
  EXPECT_EQ(g_mainWindow.messageClock.load(), 500);
  EXPECT_EQ(message().rfind("thread ", 0), 0u);
}
