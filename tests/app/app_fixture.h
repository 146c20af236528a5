#pragma once
// A fresh run environment for the application-shell tests: a working folder of its own (the
// current folder while the test runs) with the application-data folders below it, the log open
// there, every run-scoped value at its start, and the run's waits recorded instead of slept.
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "app/paint.h"
#include "app/run_control.h"
#include "app/run_timing.h"
#include "app/startup_checks.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/run_flags.h"
#include "core/timeutil.h"
#include "links/rt_link.h"
#include "links/sim_client.h"
#include "links/udp_reader.h"
#include "platform/test_support.h"
#include "platform/win32/testing.h"
#include "shared_state/main_window.h"
#include "support/test_support.h"
#include "traffic/traffic_engine.h"
#include "traffic/park_airports.h"
#include "traffic/static_aircraft.h"

namespace apptest {

namespace fs = std::filesystem;

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousFolder_ = fs::current_path();
    fs::create_directories(folder_.path() / "roaming");
    fs::create_directories(folder_.path() / "local");
    fs::create_directories(folder_.path() / "runtime");
    appData_.emplace("APPDATA", (folder_.path() / "roaming").string());
    localAppData_.emplace("LOCALAPPDATA", (folder_.path() / "local").string());
    runtime_.emplace("XDG_RUNTIME_DIR", (folder_.path() / "runtime").string());
    fs::current_path(folder_.path());
    resetParametersForTests();
    resetAll();
    installEngineCalls();  // as runApplication does
    ASSERT_TRUE(openLogFile(folder_.path()));
    kvo::setRunWaitHookForTests([this](std::chrono::milliseconds d) { onWait(d); });
  }

  void TearDown() override {
    kvo::setRunWaitHookForTests({});
    if (HWND w = g_mainWindow.hwnd.load()) DestroyWindow(w);
    resetAll();
    kvo::win32test::resetMessageQueue();
    closeLogFile();
    resetParametersForTests();
    fs::current_path(previousFolder_);
  }

  static void resetAll() {
    clearRunEndState();
    resetMainLoopState();
    resetStartupChecksState();
    resetTraffic();
    resetRealTrafficLinkForTests();
    resetTimeState();
    g_mainWindow.resetForTests();
    kvo::resetParkAirportView();
    g_restarting = false;
    g_flightRunning = false;
    g_realTrafficOnThisPc = false;
  }

  // Every runWait of the code under test lands here: recorded, then handed to onWaitAction.
  void onWait(std::chrono::milliseconds d) {
    {
      std::lock_guard lock(waitMutex_);
      waits_.push_back(d);
    }
    if (onWaitAction) onWaitAction(d);
  }
  std::vector<std::chrono::milliseconds> waits() {
    std::lock_guard lock(waitMutex_);
    return waits_;
  }
  int waitsOf(std::chrono::milliseconds d) {
    int n = 0;
    for (auto w : waits()) n += w == d ? 1 : 0;
    return n;
  }

  // A main window on the test thread, so that the run's posted messages come to this queue.
  HWND makeMainWindow() {
    HWND w = CreateWindowExW(0, u"AppTestMain", u"Ambrelvane", WS_CAPTION | WS_SYSMENU, 400, 20, 880, 516,
                             nullptr, nullptr, nullptr, nullptr);
    g_mainWindow.hwnd = w;
    return w;
  }

  // WM_APP+1 / WM_APP+2 posted to the main window, or 0.
  UINT postedRunMessage() {
    const HWND w = g_mainWindow.hwnd.load();
    if (kvo::win32test::peekPostedMessage(w, WM_APP + 1)) return WM_APP + 1;
    if (kvo::win32test::peekPostedMessage(w, WM_APP + 2)) return WM_APP + 2;
    return 0;
  }

  // The value stored for a parameter in parameters.xml; empty when there is none.
  static std::string storedValue(const char* name) {
    pugi::xml_document doc;
    if (!doc.load_file(parametersFilePath().c_str())) return {};
    for (auto node : doc.child("parameters").children("parameter")) {
      if (std::string(node.attribute("name").value()) == name) return node.attribute("value").value();
    }
    return {};
  }

  std::string log() const { return coretest::readFile(folder_.path() / "Log.txt"); }
  std::string message() const { return g_mainWindow.displayText(&kvo::MainWindow::messageText); }
  std::string errorText() const { return g_mainWindow.displayText(&kvo::MainWindow::errorText); }

  std::function<void(std::chrono::milliseconds)> onWaitAction;
  coretest::TempFolder folder_;

 private:
  fs::path previousFolder_;
  std::optional<kvo::platformtest::ScopedEnv> appData_;
  std::optional<kvo::platformtest::ScopedEnv> localAppData_;
  std::optional<kvo::platformtest::ScopedEnv> runtime_;
  std::mutex waitMutex_;
  std::vector<std::chrono::milliseconds> waits_;
};

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace apptest
