#pragma once
// A fixture for the simulator client's tests: a private log, the stand-in simulator in scripted
// mode, and every global of the client, the run flags and the main window at their start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aircraft/aircraft_types.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/run_flags.h"
#include "core/timeutil.h"
#include "links/sim_client.h"
#include "links/sim_ids.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/sim_user_model.h"
#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"
#include "shared_state/main_window.h"
#include "shared_state/run_end.h"
#include "support/test_support.h"

namespace simclienttest {

namespace simtest = kvo::simtest;

inline void resetRunState() {
  g_stopRequested = false;
  g_quitRequested = false;
  g_exitReason = 0;
  g_restartDelaySeconds = 0;
  g_rtProfEdition = false;
  g_simIs2020 = true;
  g_mainWindow.resetForTests();
  resetSimConnectState();
  clearAircraftTypes();
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simtest::reset();
    resetRunState();
    ASSERT_TRUE(openLogFile(folder_.path()));
    logStart_ = coretest::readFile(folder_ / "Log.txt").size();
    reserveSimConnectQueues();
  }

  void TearDown() override {
    closeLogFile();
    simtest::reset();
    resetRunState();
  }

  // Log lines written since the test began.
  std::string log() const { return coretest::readFile(folder_ / "Log.txt").substr(logStart_); }

  // A scripted simulator with an open connection, every id declared, the open message handled.
  void connect(const simtest::Identity& identity = {}) {
    simtest::setIdentity(identity);
    simtest::setPresent(true);
    HANDLE handle = nullptr;
    ASSERT_EQ(SimConnect_Open(&handle, kvo::kSimClientName, nullptr, 0, nullptr, 0), S_OK);
    g_simConnect = handle;
    defineSimConnectData();
    dispatch();
    simtest::clearCalls();
  }

  // Hands every waiting message to the client's dispatch, on this thread.
  void dispatch() { SimConnect_CallDispatch(g_simConnect.load(), dispatchSimConnect, nullptr); }

  // Sends a frame and dispatches it: the frame flush.
  void frame() {
    ASSERT_TRUE(simtest::sendFrame(30.0f));
    dispatch();
  }

  // An answer to request 109 (definition 403) from the user's object.
  static void sendUserData(const std::vector<simtest::SimValue>& values, DWORD objectId = 1) {
    ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectData, kvo::kReqUserPosition, objectId, kvo::kDefUserAircraft,
                                         values));
  }
  // An answer to request 101 (definition 404) about one aircraft.
  static void sendInRange(DWORD objectId, const std::vector<simtest::SimValue>& values) {
    ASSERT_TRUE(simtest::sendDefinedData(kSimRecvSimObjectDataByType, kvo::kReqAircraftInRange, objectId,
                                         kvo::kDefAircraftInRange, values));
  }

  // The user aircraft's data of request 109.
  static std::vector<simtest::SimValue> userData(double lat, double lon, double altFt = 100.0, double groundSpeed = 0.0,
                                                 std::int64_t year = 2024, std::int64_t day = 1,
                                                 std::int64_t seconds = 0) {
    return {lat, lon, 0.0, 0.0, 0.0, altFt, 0.0, groundSpeed, seconds, day, year, std::int64_t{0}};
  }

  // The answer of request 101 for one aircraft.
  static std::vector<simtest::SimValue> inRange(double aglFt, double groundAltFt, int onGround, std::string atcId) {
    return {aglFt, groundAltFt, std::int64_t{onGround}, std::move(atcId)};
  }

  std::vector<kvo::SimConnectResult> results() const {
    std::lock_guard lock(g_simResultsMutex);
    return g_simResults;
  }

  std::vector<std::string> callTexts(std::string_view function) const {
    std::vector<std::string> out;
    for (const auto& call : simtest::callsOf(function)) out.push_back(call.text());
    return out;
  }

  coretest::TempFolder folder_;
  std::size_t logStart_ = 0;
};

}  // namespace simclienttest
