// libFuzzer target: any bytes as a scenery BGL file.
#include <cstddef>
#include <cstdint>

#include "bgl_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzzinput::readBglInput({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}
