// libFuzzer target: any aircraft.cfg in each of the encodings the livery scan reads.
#include <cstddef>
#include <cstdint>

#include "cfg_text_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzzinput::scanAircraftCfgInput({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}
