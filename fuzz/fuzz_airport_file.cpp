// libFuzzer target: any airport file, and any airport list.
#include <cstddef>
#include <cstdint>

#include "airport_file_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzzinput::readAirportInput({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}
