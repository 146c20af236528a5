// libFuzzer target: any UserCfg.opt.
#include <cstddef>
#include <cstdint>

#include "usercfg_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzzinput::readUserCfgInput({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}
