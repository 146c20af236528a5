// libFuzzer target: any message the SimConnect client can receive from the simulator.
#include <cstddef>
#include <cstdint>

#include "sim_message_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzzinput::dispatchSimMessageInput({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}
