// libFuzzer target: any reply of RealTraffic on the TCP link.
#include <cstddef>
#include <cstdint>

#include "rt_reply_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzzinput::readRealTrafficReplyInput({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}
