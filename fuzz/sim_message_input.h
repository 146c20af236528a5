#pragma once
// A message of the simulator to the SimConnect client, for the fuzzer and the tests that replay
// its inputs: the bytes go through the stand-in simulator exactly as given (its raw-message hook)
// and the client's dispatch handles them as it handles every message on its thread.
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/user_error.h"
#include "links/sim_client.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "platform/simconnect/simconnect.h"
#include "platform/simconnect/testing.h"
#include "shared_state/run_end.h"

namespace fuzzinput {

// The scripted simulator's connection, opened as the client thread opens it; again after
// anything closed it.
inline HANDLE simConnection() {
  static HANDLE handle = nullptr;
  if (handle != nullptr && kvo::simtest::isConnected() && g_simConnect.load() == handle) return handle;
  kvo::simtest::reset();
  kvo::simtest::setPresent(true);
  handle = nullptr;
  if (SimConnect_Open(&handle, kvo::kSimClientName, nullptr, 0, nullptr, 0) < 0) return handle = nullptr;
  g_simConnect = handle;
  reserveSimConnectQueues();
  defineSimConnectData();
  SimConnect_CallDispatch(handle, dispatchSimConnect, nullptr);
  return handle;
}

inline bool dispatchSimMessageInput(std::string_view input) {
  const HANDLE handle = simConnection();
  if (handle == nullptr) return false;
  kvo::simtest::sendRawMessage(std::vector<std::uint8_t>(input.begin(), input.end()));
  try {
    SimConnect_CallDispatch(handle, dispatchSimConnect, nullptr);
  } catch (const kvo::UserErrorException&) {
    // The client thread shows it and ends: a wrong or unknown simulator.
  }
  // What one message left behind goes, so that every input starts alike.
  kvo::simtest::clearCalls();
  resetSimObjectDataState();
  clearRunEndState();
  return kvo::simtest::pendingMessageCount() == 0;
}

}  // namespace fuzzinput
